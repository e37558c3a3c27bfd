// The Motion JPEG decoder's reading of pictures: any bytes, as one picture or a field
// pair at every reduced size, and cut out of an unframed stream in small chunks.
#include <cstdint>
#include <cstring>
#include <vector>

#include "player/elements/JpegPicture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kino::jpeg;
    if (size < 2)
        return 0;
    // The first byte picks the stream's caps and the size wanted, as a demuxer and the
    // view would.
    const std::uint8_t choice = data[0];
    ++data;
    --size;
    Reader reader;
    Picture picture;
    const int capsHeight = (choice & 1) ? 0 : 2; // 2 x the JPEG's height: fields
    if (ReadPicture(reader, data, size, 0, 0, &picture)) {
        Picture asFields = picture;
        if (capsHeight && ReadPicture(reader, data, size, picture.width, picture.height * 2, &asFields))
            picture = asFields;
        const int denom = 1 << ((choice >> 1) & 3);
        int width = 0, height = 0;
        FrameSize(picture, denom, &width, &height);
        // Small pictures only: a large one costs time, not coverage.
        if (std::int64_t(width) * height <= 1 << 20) {
            const std::size_t stride = std::size_t(width) * 4 + 16;
            std::vector<std::uint8_t> pixels(stride * std::size_t(height));
            DecodePicture(reader, data, size, picture, denom, pixels.data(), stride);
        }
    }
    Cutter cutter;
    const std::size_t chunk = 1 + (choice >> 3);
    std::size_t start = 0;
    for (std::size_t have = std::min(size, chunk); start < size;) {
        const std::size_t end = cutter.Scan(
            [&](std::size_t from, std::size_t count, std::uint8_t* out) { std::memcpy(out, data + start + from, count); },
            have - start);
        if (end > have - start)
            __builtin_trap(); // a picture cannot end past what was given
        if (end > 0) {
            start += end;
            cutter.Reset();
            have = std::max(have, start);
            continue;
        }
        if (have == size)
            break;
        have = std::min(size, have + chunk);
    }
    return 0;
}
