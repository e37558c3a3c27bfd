// The MIDI structure check that stands before the media framework's MIDI parser.
#include <cstdint>
#include <string_view>

#include "player/engine/MidiCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kino::CheckMidi(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
