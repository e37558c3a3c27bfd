#pragma once
// Retiring a pipeline: taking it out of play at once (silenced, its slot told that
// whatever its threads still hand over is stale) and stopping it on a thread of its
// own, so that no hanging element holds up the window, the next source, another
// retired pipeline or quitting. A pipeline that never stops is left to its thread.
#include <functional>
#include <memory>

namespace kino {

class PlayerPipeline;

class PipelineReaper {
public:
    // How a stopping thread is started: std::thread, detached, unless a test puts in one
    // that fails as a machine out of threads does (null: std::thread again).
    using ThreadStarter = void (*)(std::function<void()> body);

    PipelineReaper();
    // Stops still running keep what they share with it: it may go before them.
    ~PipelineReaper();
    PipelineReaper(const PipelineReaper&) = delete;
    PipelineReaper& operator=(const PipelineReaper&) = delete;

    // The process's own, which every player retires to. Never destroyed: threads left
    // hanging may still use it while the process ends.
    static PipelineReaper& Shared();

    void Retire(std::unique_ptr<PlayerPipeline> pipeline);
    // Runs `stopping` on a stopping thread of its own; when no thread can be started,
    // the next stopping thread that runs takes it up (never the calling thread, where a
    // hanging element would freeze the window).
    void Run(std::function<void()> stopping);
    // Waits until every stop has run, at most `ms` milliseconds; false when one is
    // still stopping.
    bool Drain(int ms);
    void SetThreadStarter(ThreadStarter starter);

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace kino
