#include "player/engine/OpenedAhead.h"

#include <exception>

#include "player/engine/PipelineReaper.h"

namespace kino {

OpenedAhead::OpenedAhead(PipelineReaper& reaper) : reaper_(reaper) {}

OpenedAhead::~OpenedAhead() = default;

OpenedAhead& OpenedAhead::Shared()
{
    static OpenedAhead ahead(PipelineReaper::Shared());
    return ahead;
}

void OpenedAhead::Announce(const std::string& uri)
{
    std::lock_guard<std::mutex> lock(mutex_);
    uri_ = uri;
    opening_ = true;
}

void OpenedAhead::Withdraw()
{
    std::lock_guard<std::mutex> lock(mutex_);
    opening_ = false;
    ready_.notify_all();
}

void OpenedAhead::Open(const std::string& uri, int width, int height)
{
    Announce(uri);
    std::unique_ptr<PlayerPipeline> pipeline;
    GstStateChangeReturn result = GST_STATE_CHANGE_FAILURE;
    try {
        pipeline = std::make_unique<PlayerPipeline>();
        pipeline->HintDecodeSize(width, height);
        g_object_set(pipeline->Playbin(), "uri", uri.c_str(), nullptr);
        // Not waited for: the player takes it while it prerolls, and its window is on
        // the screen meanwhile; the facts come as for any source still opening.
        result = pipeline->Preroll(0);
    } catch (const std::exception&) {
        pipeline.reset(); // opened again by the player, which reports why
    }
    std::lock_guard<std::mutex> lock(mutex_);
    pipeline_ = std::move(pipeline);
    result_ = result;
    opening_ = false;
    ready_.notify_all();
}

std::unique_ptr<PlayerPipeline> OpenedAhead::Take(const std::string& uri, GstStateChangeReturn* result)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (uri_.empty())
        return nullptr;
    ready_.wait(lock, [&] { return !opening_; });
    std::unique_ptr<PlayerPipeline> pipeline = std::move(pipeline_);
    const bool wanted = uri_ == uri;
    uri_.clear();
    *result = result_;
    lock.unlock();
    if (wanted) {
        // A preroll already over is reported as such: the facts are there at once.
        if (pipeline && *result == GST_STATE_CHANGE_ASYNC) {
            const GstStateChangeReturn now = gst_element_get_state(pipeline->Playbin(), nullptr, nullptr, 0);
            if (now == GST_STATE_CHANGE_SUCCESS || now == GST_STATE_CHANGE_NO_PREROLL)
                *result = now;
        }
        return pipeline;
    }
    reaper_.Retire(std::move(pipeline));
    return nullptr;
}

} // namespace kino
