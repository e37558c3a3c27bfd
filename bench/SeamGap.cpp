// The silence at the seam between two tracks, read from a recording of what the sound
// device was given: raw signed 16-bit little-endian samples, interleaved channels.
//
//   kino_seam_gap FILE RATE CHANNELS
//
// The tracks are one tone cut in two, so what was played is loud from its first sample
// to its last; the longest run of quiet frames between the first loud frame and the
// last is the gap the listener hears. Prints "gap_ms N" (0 when the tone never
// stops) and "tone_ms N", from the tone's first sample to its last (short of both
// tracks' length when the second was never played), or "gap_ms none" when the
// recording holds no tone at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// Below this a frame counts as silent: the tone is recorded at half of full scale,
// and a sine at 440 Hz spends under a frame this close to zero at 48 kHz.
constexpr int kQuiet = 300;

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: kino_seam_gap FILE RATE CHANNELS\n");
        return 2;
    }
    const long rate = std::strtol(argv[2], nullptr, 10);
    const long channels = std::strtol(argv[3], nullptr, 10);
    std::ifstream in(argv[1], std::ios::binary);
    if (!in || rate <= 0 || channels <= 0) {
        std::fprintf(stderr, "kino_seam_gap: cannot read %s\n", argv[1]);
        return 2;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::size_t frames = bytes.size() / (2 * std::size_t(channels));
    const auto loud = [&](std::size_t frame) {
        for (long c = 0; c < channels; ++c) {
            const std::size_t at = (frame * std::size_t(channels) + std::size_t(c)) * 2;
            const int sample = short(std::uint16_t(std::uint8_t(bytes[at])) | std::uint16_t(std::uint8_t(bytes[at + 1]) << 8));
            if (std::abs(sample) >= kQuiet)
                return true;
        }
        return false;
    };
    std::size_t first = frames, last = 0;
    for (std::size_t f = 0; f < frames; ++f)
        if (loud(f)) {
            first = std::min(first, f);
            last = f;
        }
    if (first >= frames) {
        std::printf("gap_ms none\n");
        return 0;
    }
    std::size_t longest = 0, run = 0;
    for (std::size_t f = first; f <= last; ++f) {
        run = loud(f) ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    // A run of one or two frames is the tone crossing zero, not a gap.
    const double ms = longest <= 2 ? 0.0 : 1000.0 * double(longest) / double(rate);
    std::printf("gap_ms %.1f\ntone_ms %.1f\n", ms, 1000.0 * double(last + 1 - first) / double(rate));
    return 0;
}
