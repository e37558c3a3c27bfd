#pragma once
// Runs a program with its output thrown away and takes the wall time from starting
// it to reaping it, for reference tools whose printing is not part of the work timed.
#include <string>
#include <vector>

namespace kino::bench {

struct QuietResult {
    bool ok = false; // started and exited with code 0
    double wallMs = 0;
    std::string failure; // why not ok
};

// argv[0] is looked up in PATH; stdout and stderr go to /dev/null.
QuietResult RunQuiet(const std::vector<std::string>& argv);

} // namespace kino::bench
