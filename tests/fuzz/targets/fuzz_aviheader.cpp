// The reading of an AVI header list for the formats of its video streams.
#include <cstdint>

#include "player/elements/StreamMends.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (const kino::DibFormat& format : kino::VideoFormatsOfAviHeader(data, size))
        if (!format.palette.empty() && format.palette.size() != 1024)
            __builtin_trap(); // a palette is always a whole one
    return 0;
}
