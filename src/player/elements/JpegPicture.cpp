#include "player/elements/JpegPicture.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

// After <cstdio>: jpeglib.h uses FILE without declaring it.
#include <jpeglib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kino::jpeg {

namespace {

// libjpeg reports errors by calling error_exit, which must not return: it jumps back
// to the call that started the work. No C++ object with a destructor lives between
// the setjmp and libjpeg's frames.
struct ErrorJump {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1);
}

// Warnings (corrupt data, a picture cut short) are not errors: the picture is shown
// as far as it could be decoded.
void OnJpegMessage(j_common_ptr) {}

// Called by libjpeg as it goes; a progressive picture past the scan limit is broken.
void OnProgress(j_common_ptr info)
{
    const auto* d = reinterpret_cast<j_decompress_ptr>(info);
    if (info->is_decompressor && d->input_scan_number > kMaxScans)
        OnJpegError(info);
}

// Adobe's CMYK JPEGs store the inks inverted; either way each pixel becomes BGRx in
// place, as CMYK and BGRx both take four bytes.
void CmykToBgrx(JSAMPROW row, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x) {
        std::uint8_t* p = row + 4 * x;
        const unsigned c = inverted ? p[0] : 255 - p[0];
        const unsigned m = inverted ? p[1] : 255 - p[1];
        const unsigned y = inverted ? p[2] : 255 - p[2];
        const unsigned k = inverted ? p[3] : 255 - p[3];
        p[0] = std::uint8_t(y * k / 255);
        p[1] = std::uint8_t(m * k / 255);
        p[2] = std::uint8_t(c * k / 255);
        p[3] = 255;
    }
}

// The mark of a picture in video levels, and as much of each comment as is kept to
// find it.
constexpr char kLimitedRangeMark[] = "CS=ITU601";
constexpr unsigned kMarkLength = sizeof kLimitedRangeMark - 1;

// libjpeg decodes with JFIF's full-range matrix: channel c = Y + k(Cb, Cr). In video
// levels the same pixel is 255/219 (Y - 16) + 255/224 k(Cb, Cr), which is
// 255/224 (c - 16) + (255/219 - 255/224) (Y - 16), with Y the luma of the decoded
// pixel; so the rows libjpeg wrote are stretched in place, and libjpeg's own
// upsampling and conversion, in SIMD, stay as they are.
constexpr double kLumaGain = 255.0 / 219;
constexpr double kChromaGain = 255.0 / 224;

// In 16.16 fixed point, for the last pixels of a row and where there is no SSE2.
void ExpandPixels(std::uint8_t* p, JDIMENSION count)
{
    constexpr int kOne = 1 << 16;
    constexpr int kChroma = int(kChromaGain * kOne + 0.5);
    constexpr int kLuma = int((kLumaGain - kChromaGain) * kOne + 0.5);
    constexpr int kBlue = int(0.114 * kOne + 0.5), kGreen = int(0.587 * kOne + 0.5), kRed = kOne - kBlue - kGreen;
    for (; count > 0; --count, p += 4) {
        const int y = (kBlue * p[0] + kGreen * p[1] + kRed * p[2] + kOne / 2) >> 16;
        const int base = kLuma * (y - 16) - kChroma * 16 + kOne / 2;
        for (int c = 0; c < 3; ++c)
            p[c] = std::uint8_t(std::clamp((kChroma * p[c] + base) >> 16, 0, 255));
    }
}

void ExpandLimitedRange(JSAMPROW row, JDIMENSION width)
{
    JDIMENSION x = 0;
#if defined(__SSE2__)
    // Four pixels at a time, a channel a 16-bit lane holding c << 8: each product is
    // the high half of that by a factor in 2.14 fixed point, and sums are in 64ths.
    // Four times the speed of the scalar loop, within 1 of it.
    constexpr double kScale = 1 << 14;
    const __m128i chroma = _mm_set1_epi16(short(kChromaGain * kScale + 0.5));
    const __m128i luma = _mm_set1_epi16(short((kLumaGain - kChromaGain) * kScale + 0.5));
    const __m128i offset = _mm_set1_epi16(short(32 - int(16 * kLumaGain * 64 + 0.5)));
    // Y in 8.8 as the sum of B, G and R weighted by 29, 150 and 77 (of 256).
    const __m128i weights = _mm_set_epi16(0, 77 << 8, 150 << 8, 29 << 8, 0, 77 << 8, 150 << 8, 29 << 8);
    const __m128i zero = _mm_setzero_si128();
    const __m128i padding = _mm_set1_epi32(int(0xFF000000u));
    const auto twoPixels = [&](__m128i c) {
        __m128i y = _mm_mulhi_epu16(c, weights);
        y = _mm_add_epi16(y, _mm_srli_epi64(y, 32));
        y = _mm_add_epi16(y, _mm_srli_epi64(y, 16));
        y = _mm_shufflehi_epi16(_mm_shufflelo_epi16(y, 0), 0);
        const __m128i base = _mm_add_epi16(_mm_mulhi_epu16(y, luma), offset);
        return _mm_srai_epi16(_mm_add_epi16(_mm_mulhi_epu16(c, chroma), base), 6);
    };
    for (; x + 4 <= width; x += 4) {
        auto* p = reinterpret_cast<__m128i*>(row + 4 * x);
        const __m128i pixels = _mm_loadu_si128(p);
        const __m128i out =
            _mm_packus_epi16(twoPixels(_mm_unpacklo_epi8(zero, pixels)), twoPixels(_mm_unpackhi_epi8(zero, pixels)));
        _mm_storeu_si128(p, _mm_or_si128(out, padding));
    }
#endif
    ExpandPixels(row + 4 * x, width - x);
}

int Reduced(int size, int denom)
{
    return (size + denom - 1) / denom;
}

bool RestartOrStuffed(std::uint8_t marker)
{
    return marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7);
}

} // namespace

struct Reader::State {
    jpeg_decompress_struct info{};
    ErrorJump error{};
    jpeg_progress_mgr progress{};
    const std::uint8_t* begin = nullptr;
    std::size_t size = 0;
    bool created = false;
};

Reader::Reader() : d(std::make_unique<State>())
{
    d->info.err = jpeg_std_error(&d->error.pub);
    d->error.pub.error_exit = OnJpegError;
    d->error.pub.output_message = OnJpegMessage;
    d->progress.progress_monitor = OnProgress;
    if (setjmp(d->error.jump))
        return;
    jpeg_create_decompress(&d->info);
    jpeg_save_markers(&d->info, JPEG_COM, kMarkLength);
    d->info.progress = &d->progress;
    d->created = true;
}

Reader::~Reader()
{
    if (d->created)
        jpeg_destroy_decompress(&d->info);
}

bool Reader::ReadHeader(const std::uint8_t* data, std::size_t size)
{
    if (!d->created || size == 0)
        return false;
    d->begin = data;
    d->size = size;
    // Whatever the last picture left unfinished (a header read for a picture then
    // refused) is dropped first.
    jpeg_abort_decompress(&d->info);
    if (setjmp(d->error.jump)) {
        jpeg_abort_decompress(&d->info);
        return false;
    }
    jpeg_mem_src(&d->info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&d->info, TRUE) != JPEG_HEADER_OK) {
        jpeg_abort_decompress(&d->info);
        return false;
    }
    return true;
}

int Reader::Width() const
{
    return int(d->info.image_width);
}

int Reader::Height() const
{
    return int(d->info.image_height);
}

bool Reader::LimitedRange() const
{
    // A CMYK or RGB picture has no luma to take the mark by.
    if (d->info.jpeg_color_space != JCS_YCbCr && d->info.jpeg_color_space != JCS_GRAYSCALE)
        return false;
    for (jpeg_saved_marker_ptr m = d->info.marker_list; m; m = m->next)
        if (m->marker == JPEG_COM && m->data_length >= kMarkLength &&
            std::memcmp(m->data, kLimitedRangeMark, kMarkLength) == 0)
            return true;
    return false;
}

bool Reader::Decode(int denom, int width, int rows, std::uint8_t* first, std::size_t step, bool limitedRange)
{
    jpeg_decompress_struct& info = d->info;
    // Volatile: read after a jump back from libjpeg.
    volatile bool allRows = false;
    if (setjmp(d->error.jump)) {
        jpeg_abort_decompress(&info);
        // Every row is out: what failed is what follows the picture (a missing end
        // marker, another picture's start), which costs nothing.
        return allRows;
    }
    info.scale_num = 1;
    info.scale_denom = unsigned(denom);
    info.dct_method = JDCT_IFAST;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_calc_output_dimensions(&info);
    if (int(info.output_width) != width || int(info.output_height) != rows) {
        jpeg_abort_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    constexpr int kBatch = 16;
    JSAMPROW batch[kBatch];
    while (info.output_scanline < info.output_height) {
        const JDIMENSION at = info.output_scanline;
        const int count = int(std::min<JDIMENSION>(kBatch, info.output_height - at));
        for (int i = 0; i < count; ++i)
            batch[i] = first + step * (at + JDIMENSION(i));
        const JDIMENSION read = jpeg_read_scanlines(&info, batch, JDIMENSION(count));
        if (read == 0) // cannot happen with memory as the source; never spin
            break;
        if (cmyk)
            for (JDIMENSION i = 0; i < read; ++i)
                CmykToBgrx(batch[i], info.output_width, info.saw_Adobe_marker);
        else if (limitedRange)
            for (JDIMENSION i = 0; i < read; ++i)
                ExpandLimitedRange(batch[i], info.output_width);
    }
    allRows = info.output_scanline >= info.output_height;
    jpeg_finish_decompress(&info);
    return true;
}

std::size_t Reader::Consumed() const
{
    // Past the data's end libjpeg reads an end marker of its own, from memory that is
    // not the data's: then the picture took all of it.
    const jpeg_source_mgr* src = d->info.src;
    if (!src || !d->begin)
        return 0;
    const std::uint8_t* next = src->next_input_byte;
    if (next < d->begin || next > d->begin + d->size || src->bytes_in_buffer > d->size)
        return d->size;
    return std::size_t(next - d->begin);
}

bool ReadPicture(Reader& reader, const std::uint8_t* data, std::size_t size, int capsWidth, int capsHeight,
                 Picture* picture)
{
    if (!reader.ReadHeader(data, size))
        return false;
    const int w = reader.Width();
    const int h = reader.Height();
    picture->fields = capsWidth == w && capsHeight > h && capsHeight <= 2 * h;
    picture->width = w;
    picture->height = picture->fields ? 2 * h : h;
    picture->limitedRange = reader.LimitedRange();
    return w > 0 && h > 0 && picture->width <= kMaxSide && picture->height <= kMaxSide &&
           std::int64_t(picture->width) * picture->height <= kMaxPixels;
}

void FrameSize(const Picture& picture, int denom, int* width, int* height)
{
    *width = Reduced(picture.width, denom);
    *height = picture.fields ? 2 * Reduced(picture.height / 2, denom) : Reduced(picture.height, denom);
}

int ChooseDenom(const Picture& picture, int wantedWidth, int wantedHeight)
{
    if (wantedWidth <= 0 || wantedHeight <= 0)
        return 1;
    int chosen = 1;
    for (int denom : {2, 4, 8}) {
        int w = 0, h = 0;
        FrameSize(picture, denom, &w, &h);
        if (w < wantedWidth || h < wantedHeight)
            break;
        chosen = denom;
    }
    return chosen;
}

bool DecodePicture(Reader& reader, const std::uint8_t* data, std::size_t size, const Picture& picture, int denom,
                   std::uint8_t* pixels, std::size_t stride)
{
    int width = 0, height = 0;
    FrameSize(picture, denom, &width, &height);
    if (!picture.fields)
        return reader.Decode(denom, width, height, pixels, stride, picture.limitedRange);
    const int fieldRows = height / 2;
    if (!reader.Decode(denom, width, fieldRows, pixels, 2 * stride, picture.limitedRange))
        return false;
    // The second field starts after the first; a first field without its end marker
    // may have had libjpeg read the second's start marker already. Coded data never
    // holds a start marker, so looking from a little before is safe.
    bool second = false;
    const std::size_t from = reader.Consumed() > 4 ? reader.Consumed() - 2 : 2;
    for (std::size_t at = from; at + 1 < size && !second; ++at) {
        if (data[at] != 0xFF || data[at + 1] != 0xD8)
            continue;
        second = reader.ReadHeader(data + at, size - at) && reader.Width() == picture.width &&
                 reader.Height() == picture.height / 2 &&
                 reader.Decode(denom, width, fieldRows, pixels + stride, 2 * stride, picture.limitedRange);
        break;
    }
    if (!second)
        for (int r = 0; r < fieldRows; ++r)
            std::memcpy(pixels + (2 * r + 1) * stride, pixels + 2 * r * stride, std::size_t(width) * 4);
    return true;
}

void Cutter::Reset()
{
    at_ = 2;
    inScan_ = false;
}

std::size_t Cutter::Scan(const Copy& copy, std::size_t available)
{
    if (at_ + 1 >= available)
        return 0;
    // Only what was not looked at before, from the byte where the last look stopped.
    const std::size_t base = at_;
    window_.resize(available - base);
    copy(base, window_.size(), window_.data());
    const auto byte = [&](std::size_t at) { return window_[at - base]; };
    while (at_ + 1 < available) {
        if (inScan_) {
            if (byte(at_) == 0xFF && !RestartOrStuffed(byte(at_ + 1)))
                inScan_ = false; // a marker ends the coded data: looked at below
            else
                ++at_;
            continue;
        }
        if (byte(at_) != 0xFF || byte(at_ + 1) == 0xFF) { // between segments: on to a marker
            ++at_;
            continue;
        }
        const std::uint8_t marker = byte(at_ + 1);
        if (marker == 0xD9)
            return at_ + 2;
        if (marker == 0xD8) // the next picture: this one was cut short
            return at_;
        if (marker == 0x01 || RestartOrStuffed(marker)) {
            at_ += 2;
            continue;
        }
        if (at_ + 3 >= available)
            return 0; // its length is not here yet
        at_ += 2 + ((std::size_t(byte(at_ + 2)) << 8) | byte(at_ + 3));
        if (marker == 0xDA) // the coded picture data, up to its next marker
            inScan_ = true;
    }
    return 0;
}

} // namespace kino::jpeg
