#pragma once
// JPEG pictures as Motion JPEG streams carry them, read with libjpeg(-turbo): one
// picture, or two fields of one; decoded straight to BGRx at 1/1, 1/2, 1/4 or 1/8 of
// their size; and cut out of a stream that is not framed one picture a buffer. Broken
// data costs its picture only, never the process: every libjpeg error comes back as a
// false result.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kino::jpeg {

// Larger pictures are taken as broken: a bad header must not make us allocate
// gigabytes. 40 million pixels is above 8K.
inline constexpr int kMaxSide = 16384;
inline constexpr std::int64_t kMaxPixels = 40'000'000;
// A progressive picture in more scans than this is taken as broken: each scan is a pass
// over the whole picture, and a crafted file of thousands would hold a core for
// seconds a frame. Real encoders write at most a dozen or so.
inline constexpr int kMaxScans = 256;

// One libjpeg decompressor, kept for the life of its user.
class Reader {
public:
    Reader();
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Reads the header of the picture at `data`; false when it holds none.
    bool ReadHeader(const std::uint8_t* data, std::size_t size);
    int Width() const;
    int Height() const;
    // Whether the picture whose header was read is marked as holding video levels
    // (Y 16-235, Cb and Cr 16-240) rather than JFIF's full range: a comment segment
    // starting "CS=ITU601", as encoders fed video-range pictures write.
    bool LimitedRange() const;
    // Decodes the picture whose header was read, at 1/denom of its size, which must
    // come to width x rows; row r goes to first + r * step, width * 4 bytes of BGRx.
    // A picture cut short is decoded as far as it goes. Video levels are stretched to
    // full range when `limitedRange` is set.
    bool Decode(int denom, int width, int rows, std::uint8_t* first, std::size_t step, bool limitedRange);
    // Bytes of the data given to ReadHeader that the last picture took.
    std::size_t Consumed() const;

private:
    struct State;
    std::unique_ptr<State> d;
};

// What a buffer holds: one picture, or two fields of one (one JPEG each, the second
// following the first), which the stream's caps tell by a height up to twice the
// JPEG's.
struct Picture {
    int width = 0;
    int height = 0; // of the whole picture, both fields
    bool fields = false;
    bool limitedRange = false; // video levels, for both fields as the first says
};

// Reads the picture's header; false when there is none or it is too large.
bool ReadPicture(Reader& reader, const std::uint8_t* data, std::size_t size, int capsWidth, int capsHeight,
                 Picture* picture);
// The frame's size for a picture decoded at 1/denom.
void FrameSize(const Picture& picture, int denom, int* width, int* height);
// The largest reduction (1, 2, 4 or 8) whose frame is still at least the wanted size.
int ChooseDenom(const Picture& picture, int wantedWidth, int wantedHeight);
// Decodes the picture (both fields, interleaved) into BGRx rows. A second field that
// is missing or broken repeats the first, so the frame is still whole.
bool DecodePicture(Reader& reader, const std::uint8_t* data, std::size_t size, const Picture& picture, int denom,
                   std::uint8_t* pixels, std::size_t stride);

// Finds where each picture of an unframed stream ends, keeping its place between
// chunks, so that a picture arriving in many small chunks costs its size once, not
// its size for every chunk. The picture's start of image is at offset 0.
class Cutter {
public:
    // Copies `count` bytes from `from` (an offset from the picture's start) to `out`.
    using Copy = std::function<void(std::size_t from, std::size_t count, std::uint8_t* out)>;

    // Where the picture ends (just past its end-of-image marker, or where the next
    // picture starts when it was cut short); 0 while the `available` bytes do not hold
    // its end yet. An end marker inside a segment (a thumbnail) does not end it.
    std::size_t Scan(const Copy& copy, std::size_t available);
    // For the next picture.
    void Reset();

private:
    std::size_t at_ = 2;  // the next byte to look at, past the start of image
    bool inScan_ = false; // inside coded picture data, which runs to the next marker
    std::vector<std::uint8_t> window_;
};

} // namespace kino::jpeg
