#pragma once
// Corrections ("mends") for files that GStreamer 1.22 refuses or cuts short while other
// players play them whole. Each is small, attached to the element whose output it corrects when
// playbin puts that element in, and does nothing to a file that needs no correction:
//
// - WAVE with a pad byte (or a few stray bytes) after its last chunk: the WAVE parser
//   takes the short read of the next chunk header for the end of the file before any
//   sound was played (GSM, MPEG audio and 8-bit files with an odd data size).
// - Mono IMA and MS ADPCM WAVE: the parser takes each block for half the samples it
//   holds, so its times, length and seeks run at twice the sound's pace.
// - Uncompressed AVI: 16-bit pictures (5-5-5, and 5-6-5 with bit fields), which the
//   AVI demuxer does not describe at all; 8-bit top-down pictures, to which it does not
//   add their palette; and a negative pixel aspect made from a negative (top-down)
//   height.
// - A picture stream served as multipart/x-mixed-replace (IP cameras), for which the
//   demuxer never says it has found all its streams, so playback never starts.
#include <gst/gst.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "player/elements/GstHandles.h"

namespace kino {

// Called for every element `playbin` puts in, at any depth, with its factory's name.
void MendElement(GstElement* playbin, GstElement* element, const char* factoryName);

// What an AVI header says of one video stream's uncompressed pictures.
struct DibFormat {
    std::uint32_t compression = 0; // 0 plain RGB, 3 bit fields; others are codecs
    int width = 0;
    int height = 0; // negative: stored top-down
    int bitCount = 0;
    std::array<std::uint32_t, 3> masks{}; // red, green, blue (bit fields only)
    std::vector<std::uint8_t> palette;    // 256 entries of B, G, R, 0 (8 bits only)
    int rateNum = 0, rateDen = 1;         // frames a second
};

// The video streams of an AVI header list (the data of LIST 'hdrl', starting with
// "hdrl"), in order; empty when it holds none or is damaged.
std::vector<DibFormat> VideoFormatsOfAviHeader(const std::uint8_t* data, std::size_t size);

// A side longer than this is a damaged header, not a picture.
inline constexpr int kMaxDibSide = 32768;

// The bytes of one row of a picture in `format`, padded to 4 bytes, and of the whole
// picture; 0 for a width, height or depth that no picture has.
std::size_t DibRowBytes(const DibFormat& format);
std::size_t DibPictureBytes(const DibFormat& format);

// Turns a bottom-up picture in `format` the right way up in place; false, changing
// nothing, when `size` bytes cannot hold the picture or the format none.
bool FlipDibRows(std::uint8_t* data, std::size_t size, const DibFormat& format);

// Caps for pictures the demuxer leaves undescribed (16 bits, or 32 with bit fields);
// null for any other format.
gsth::Caps CapsForUndescribedDib(const DibFormat& format);

// The length of MPEG audio in a WAVE file: what the header's sample count (fact) or
// byte rate say when it agrees with the frames at the start of the data (`data`, the
// first bytes of the data chunk; a VBR header frame gives the frame count, else the
// first frame's bit rate over the data's size), else what the frames say. A header's
// figures are often wrong (a sample count of 0xFFFFFFFF, a byte rate of 1). NONE
// when neither holds.
GstClockTime MpegAudioLength(std::uint32_t factSamples, std::uint32_t sampleRate, std::uint32_t bytesPerSecond,
                             std::uint64_t dataSize, const std::uint8_t* data, std::size_t size);

// How much longer the sound of an ADPCM stream really lasts than the times the WAVE
// parser gives it, from the caps it states and the bytes a second it counts with;
// 1 when they agree within a percent or the caps are not ADPCM.
double AdpcmTimeScale(const GstCaps* caps, double parserBytesPerSecond);

} // namespace kino
