#pragma once
// One source's pipeline: playbin with our video path (videoscale -> videoconvert ->
// size filter -> BGRx appsink, so frames are scaled in the decoder's format to the size they are
// shown at and only the small frame is converted; our JPEG decoder is told that size
// and decodes no larger),
// the sound output and a tempo filter of its own, and the slot through which its
// streaming threads hand frames and news to the GUI thread. A new pipeline is built
// for every source, so that one whose elements hang can be left behind.
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "player/elements/GstHandles.h"

namespace kino {

// Shared between the GUI thread and one pipeline's streaming threads; owned by the
// pipeline, whose callbacks are handed it as a plain pointer.
struct FrameSlot {
    std::mutex mutex;
    gsth::Sample sample;      // the newest frame, not yet taken
    // The size frames are shown at (0: the picture's own), and our JPEG decoder once
    // playbin has made it, which is told that size.
    int wantedWidth = 0;
    int wantedHeight = 0;
    gsth::Element jpegDecoder;
    // Called on a streaming thread, under the mutex, when a frame lands in an empty
    // slot; cleared when the pipeline is retired.
    std::function<void()> wake;
    // Counted up by every seek and every pause; an end of stream carries the values
    // it was posted under.
    std::atomic<unsigned> seekSerial{0};
    std::atomic<unsigned> pauseSerial{0};
    std::atomic<bool> endPosted{false};    // an end of stream waits on the bus
    std::atomic<bool> errorPosted{false};  // an element other than the source failed
    std::atomic<bool> sourceFailed{false}; // the source element failed
    std::atomic<bool> dataArrived{false};  // the source has delivered data
    // Counts up as the opening makes progress: data read, elements put in.
    std::atomic<unsigned> progress{0};
    std::atomic<bool> isAvi{false}; // the AVI demuxer was set up
    // A server's endless stream of pictures (a camera's multipart stream): shown as the
    // pictures arrive, like a live source, with nothing to buffer ahead or seek in.
    std::atomic<bool> pictureStream{false};
    // What the current source's first bytes name beyond doubt (KnownContainerOf), for
    // decodebin, under the mutex; empty when it has to find out itself.
    std::string containerCaps;
    // How long a network source may go without data before it fails, in seconds.
    std::atomic<unsigned> networkWaitSeconds{0};
    // The source to play on into once the current one has been read (under the mutex);
    // taken by playbin then. Refused after it was taken, it ends at the sound output
    // instead of playing.
    std::string nextUri;
    std::atomic<bool> nextTaken{false};
    std::atomic<bool> nextRefused{false};
    std::atomic<bool> nextStarted{false}; // its start has reached the sound output

    void Store(GstSample* sample);
    void Retire();
    // Under the mutex: tells the JPEG decoder, if there is one, the wanted size.
    void TellDecoder();
};

// Whether `msg` comes from the source element itself (reading the file or talking to
// the server), not from what works on the data it delivered.
bool PostedBySource(GstMessage* msg);

// The seek and pause counts an end-of-stream message was posted under.
unsigned EndSeekSerial(GstMessage* msg);
unsigned EndPauseSerial(GstMessage* msg);

// The decoded picture's caps with every part of the colorimetry they leave open
// (absent, or stated as unknown like "2:0:0:0") taken from the defaults for the
// picture's size, and what they state kept; null when nothing is open. A matrix left
// open makes the scaled copy fall back to another default and the converter to its
// slow path.
// Writes `pipeline`'s graph (every element, pad and caps, in Graphviz's dot) to a file
// named for the time and `why`, in GST_DEBUG_DUMP_DOT_DIR when set, else the temporary
// folder; the file's path, empty when none could be written.
std::string DumpPipelineGraph(GstElement* pipeline, const char* why);

gsth::Caps WithColorimetryFilled(const GstCaps* caps);

// How long a decoded frame lasts: its buffer's duration, else one frame at its caps'
// rate; GST_CLOCK_TIME_NONE when neither says.
GstClockTime FrameDuration(GstSample* sample);
// Where in the medium the frame's time stamp plus `after` lies (its stream time), -1
// when unknown.
gint64 FrameStreamTime(GstSample* sample, GstClockTime after = 0);

// How long opening a local file may hold whoever waits for it: a file prerolls in well
// under this. The player and the opening ahead wait alike. The wait ends early when the
// opening has made no progress for kStuckOpen: no data read, no element put in, and
// less than kWorkingCpu of processor time used by the process (a file on a server that
// stopped answering); it then goes on without the waiter, as a network source does.
constexpr GstClockTime kLocalOpenWait = 3 * GST_SECOND;
constexpr GstClockTime kStuckOpen = GST_SECOND;
constexpr GstClockTime kWorkingCpu = 50 * GST_MSECOND;

class PlayerPipeline {
public:
    // Throws std::runtime_error when an element this player needs is missing. `wake`
    // is called on a streaming thread when a frame lands in an empty slot.
    explicit PlayerPipeline(std::function<void()> wake = nullptr);
    // Throws as the constructor does when an element is missing, from the registry
    // alone: nothing is built or loaded.
    static void RequireElements();
    // Stops the pipeline; this may wait on its streaming threads, so it runs on a
    // stopping thread of the reaper's, never on the GUI thread.
    ~PlayerPipeline();
    // Mutes the pipeline and holds back whatever reaches its sinks, without waiting
    // for anything: for a retired pipeline until it is stopped.
    void Silence();
    PlayerPipeline(const PlayerPipeline&) = delete;
    PlayerPipeline& operator=(const PlayerPipeline&) = delete;

    GstElement* Playbin() const { return playbin_.element(); }
    GstBus* Bus() const { return bus_.get(); }
    GstElement* AppSink() const { return appSink_.element(); }
    // The speed its sinks play the current segment at (the sound's tempo filter turns
    // the segment's rate into its applied rate); 0 before a segment reached them.
    double PlayingRate() const;
    // Where the decoded picture enters the video path, at its own size.
    GstPad* PictureInput() const { return pictureIn_.get(); }
    // Frames at this size (square pixels), or at the picture's own when empty.
    void SetFrameSize(int width, int height);
    // Called on a streaming thread when a frame lands in an empty slot.
    void SetWake(std::function<void()> wake);
    // Tells the JPEG decoder alone the size frames will be shown at, before the picture's
    // own size is known and frames can be scaled to fit: it decodes no larger than it
    // needs, and frames come at whatever size that gives.
    void HintDecodeSize(int width, int height);
    // Sets the pipeline PAUSED and waits, at most `wait` (0: not at all), for its first
    // picture or sound; FAILURE as soon as an element has failed, ASYNC when the wait
    // is over or the opening stuck (see kStuckOpen).
    GstStateChangeReturn Preroll(GstClockTime wait);
    // A network source that sends nothing for this long fails (a server or camera that
    // stopped), instead of waiting for its own much longer default.
    void SetNetworkWaitMs(int ms);
    FrameSlot& Slot() const { return *slot_; }
    // Pipelines built and not yet stopped, and built at all, in the whole process.
    static int Alive();
    static int Built();
    // Plays on into `uri` through the same sound stream once the current source has been
    // read, with no seam; false when the pipeline has no sound output of its own or has
    // already taken a next source.
    bool OfferNext(const std::string& uri);
    // The source offered is not to play: not taken, it is forgotten; taken, it ends at
    // the sound output when it reaches it, as the current source would have. False when
    // it is too late: its start has already reached the sound output.
    bool WithdrawNext();
    // Whether the pipeline has taken the source offered (and plays it after the current).
    bool NextTaken() const { return slot_->nextTaken; }
    // The source it went on into is now the current one: another may be offered.
    void ForgetNext();
    // Starts the sound output afresh and prerolls again at the start (waiting up to
    // `wait`): a sound server's stream left paused for seconds would start that late.
    GstStateChangeReturn RestartSoundOutput(GstClockTime wait);

private:
    // First: it outlives the elements whose callbacks use it.
    const std::unique_ptr<FrameSlot> slot_;
    gsth::Element playbin_;
    gsth::Element appSink_;
    gsth::Element audioSink_;
    gsth::Element frameFilter_;
    gsth::Pad pictureIn_;
    gsth::Bus bus_;
    gsth::SignalConnection elementSetup_;
    gsth::SignalConnection sourceSetup_;
    gsth::SignalConnection aboutToFinish_;
    bool sizeSet_ = false;
    int frameWidth_ = 0; // the frame filter's size (0: the picture's own)
    int frameHeight_ = 0;
};

} // namespace kino
