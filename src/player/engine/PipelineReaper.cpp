#include "player/engine/PipelineReaper.h"

#include <malloc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "player/engine/PlayerPipeline.h"

namespace kino {

namespace {

void StartDetached(std::function<void()> body)
{
    std::thread(std::move(body)).detach();
}

} // namespace

// The stops under way, shared with the threads that run them.
struct PipelineReaper::State {
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;
    // Stops for which no thread could be started, taken up by the next stopping thread.
    std::vector<std::function<void()>> waiting;
    std::atomic<ThreadStarter> startThread{StartDetached};

    void Finished()
    {
        // The decoders of that source are gone; give their memory back.
        malloc_trim(0);
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        changed.notify_all();
    }

    // Runs `job`, then whatever stops were left waiting for a thread.
    void Stopping(std::function<void()> job)
    {
        while (job) {
            job();
            job = nullptr;
            Finished();
            std::lock_guard<std::mutex> lock(mutex);
            if (!waiting.empty()) {
                job = std::move(waiting.back());
                waiting.pop_back();
            }
        }
    }
};

PipelineReaper::PipelineReaper() : state_(std::make_shared<State>()) {}

PipelineReaper::~PipelineReaper() = default;

PipelineReaper& PipelineReaper::Shared()
{
    static PipelineReaper* reaper = new PipelineReaper;
    return *reaper;
}

void PipelineReaper::Retire(std::unique_ptr<PlayerPipeline> pipeline)
{
    if (!pipeline)
        return;
    pipeline->Slot().Retire();
    // Silent from now, not from when its stop comes round: no two sources are heard.
    pipeline->Silence();
    // Shared, since std::function must be copyable; only the stopping thread holds it.
    Run([retired = std::shared_ptr<PlayerPipeline>(std::move(pipeline))]() mutable { retired.reset(); });
}

void PipelineReaper::Run(std::function<void()> stopping)
{
    // Held here until a thread has it: a thread that cannot be started leaves it whole.
    auto job = std::make_shared<std::function<void()>>(std::move(stopping));
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        ++state_->running;
    }
    try {
        state_->startThread.load()([state = state_, job] { state->Stopping(std::move(*job)); });
    } catch (const std::system_error&) {
        // No thread to be had now: the next stopping thread takes it up.
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->waiting.push_back(std::move(*job));
    }
}

bool PipelineReaper::Drain(int ms)
{
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return state_->running == 0; });
}

void PipelineReaper::SetThreadStarter(ThreadStarter starter)
{
    state_->startThread = starter ? starter : StartDetached;
}

} // namespace kino
