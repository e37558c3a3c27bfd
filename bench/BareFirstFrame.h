#pragma once
// The least work that can bring a first picture out of a file: a bare playbin whose
// video sink is an appsink asking for the same BGRx frames the player paints, with a
// fakesink for the sound. Its time to the first pulled sample is the floor the
// player's time to the first painted frame is compared with.
#include <string>

#include "player/elements/GstHandles.h"

namespace kino::bench {

class BareFirstFrame {
public:
    // With `defaultAudioSink`, playbin picks the sound output itself (as the player
    // does) instead of a fakesink; only for telling where the time goes.
    explicit BareFirstFrame(const std::string& uri, bool defaultAudioSink = false);
    ~BareFirstFrame();
    BareFirstFrame(const BareFirstFrame&) = delete;
    BareFirstFrame& operator=(const BareFirstFrame&) = delete;

    bool Valid() const { return static_cast<bool>(playbin_); }

    // Milliseconds from asking for PAUSED to holding the first sample, or a negative
    // value when no sample came. The pipeline is back in NULL afterwards, as the
    // player's is before it opens a source.
    double MeasureMs();

private:
    gsth::Element playbin_;
    gsth::Element appsink_;
};

} // namespace kino::bench
