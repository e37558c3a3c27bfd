#pragma once
// This player's Motion-JPEG decoder, preferred over the stock one in this process. It
// decodes straight to BGRx, the view's format, and when told the size frames are
// shown at it decodes at 1/2, 1/4 or 1/8 of the picture's size, the smallest that is
// still no smaller than what is shown: the reduced transform costs a fraction of a
// full decode, and the frame then needs little or no scaling and no conversion.
// Pictures marked as holding video levels (a comment starting "CS=ITU601") are
// stretched to full range at every size.
//
// Properties: "wanted-width" and "wanted-height", the size frames are shown at in
// pixels; 0 (the default) decodes every picture at its own size. Either may change
// while playing: the next frame is decoded at the new size. "picture-width" and
// "picture-height" (read only) give the last picture's own size, which frames decoded
// smaller stand for.
#include <gst/gst.h>

#include "player/elements/GstHandles.h"

namespace kino {

inline constexpr const char* kJpegDecoderName = "kinojpegdec";

// Registers the decoder for this process; later calls do nothing.
void RegisterJpegDecoder();

// For a frame the decoder made, or one scaled from it: the compressed picture it was
// decoded from, and the stream's caps size (which tells a pair of fields from one
// picture, see jpeg::ReadPicture). Null for any other frame.
gsth::Buffer JpegSourceOf(GstBuffer* frame, int* capsWidth, int* capsHeight);

// For such a frame: the whole picture decoded again at its own size, as a BGRx
// sample. Null for any other frame, or when the picture cannot be decoded.
gsth::Sample FullJpegPictureOf(GstBuffer* frame);

} // namespace kino
