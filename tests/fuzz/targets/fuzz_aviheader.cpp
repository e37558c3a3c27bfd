// The reading of an AVI header list for the formats of its video streams, and the
// correction of a picture in each format found, with the input itself as the picture.
#include <cstdint>
#include <vector>

#include "player/elements/StreamMends.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (const kino::DibFormat& format : kino::VideoFormatsOfAviHeader(data, size)) {
        if (!format.palette.empty() && format.palette.size() != 1024)
            __builtin_trap(); // a palette is always a whole one
        std::vector<std::uint8_t> picture(data, data + size);
        if (kino::FlipDibRows(picture.data(), picture.size(), format) && kino::DibPictureBytes(format) > size)
            __builtin_trap(); // a picture is never corrected past its end
    }
    return 0;
}
