#pragma once
// Opening ahead: a local file opened before the player that plays it exists, so that
// its first picture comes while the window is being shown (the program opens its first
// argument while its window is being built). The player takes the pipeline over when
// it is told to open the same source.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "player/engine/PlayerPipeline.h"

namespace kino {

class PipelineReaper;

class OpenedAhead {
public:
    // What is opened ahead and not taken is retired to `reaper`.
    explicit OpenedAhead(PipelineReaper& reaper);
    ~OpenedAhead();
    OpenedAhead(const OpenedAhead&) = delete;
    OpenedAhead& operator=(const OpenedAhead&) = delete;

    // The process's own, retiring to PipelineReaper::Shared().
    static OpenedAhead& Shared();

    // Says, before the thread that opens it is started, that `uri` is being opened
    // ahead: a player that asks for it meanwhile waits for it rather than opening it a
    // second time.
    void Announce(const std::string& uri);
    // Nothing will be opened after all (the media framework did not start).
    void Withdraw();
    // Builds a pipeline for `uri` on the calling thread and starts its preroll, which
    // goes on in GStreamer's threads; a Motion JPEG
    // picture is decoded no smaller than `width` x `height` (0: at its own size) but no
    // larger than it needs.
    void Open(const std::string& uri, int width = 0, int height = 0);
    // The pipeline opened ahead for `uri`, once it is built (waiting for that), with
    // the result of asking it to preroll (ASYNC while it still prerolls); null when
    // none was opened for `uri`. Whatever was opened ahead for another source is
    // retired.
    std::unique_ptr<PlayerPipeline> Take(const std::string& uri, GstStateChangeReturn* result);

private:
    PipelineReaper& reaper_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::string uri_;      // set when the opening begins
    bool opening_ = false; // the pipeline is being built
    std::unique_ptr<PlayerPipeline> pipeline_;
    GstStateChangeReturn result_ = GST_STATE_CHANGE_FAILURE;
};

} // namespace kino
