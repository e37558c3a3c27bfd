#pragma once
// Runs a program as a child process and reports what it printed and the CPU time the
// kernel charged to it (wait4), so the player and a reference tool are measured alike.
#include <string>
#include <vector>

namespace kino::bench {

struct ChildResult {
    bool started = false; // false when the program could not be run at all
    int exitCode = -1;    // -1 when it was ended by a signal
    int signal = 0;
    double userSeconds = 0;
    double systemSeconds = 0;
    double wallSeconds = 0;
    long maxRssKb = 0;
    std::string out;     // everything it wrote to stdout
    std::string errTail; // the end of what it wrote to stderr, for failure reports

    double CpuSeconds() const { return userSeconds + systemSeconds; }
    bool Ok() const { return started && exitCode == 0; }
    std::string Describe() const; // one line on how it ended
};

// argv[0] is looked up in PATH. stderr is kept aside (the media framework and the
// audio layer are chatty) and only its tail is returned.
ChildResult RunChild(const std::vector<std::string>& argv);

} // namespace kino::bench
