#include "QuietChild.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace kino::bench {

QuietResult RunQuiet(const std::vector<std::string>& argv)
{
    QuietResult result;
    if (argv.empty()) {
        result.failure = "no program";
        return result;
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.failure = argv[0] + ": " + std::strerror(rc);
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    result.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        result.ok = true;
    else if (WIFEXITED(status))
        result.failure = argv[0] + " exited with code " + std::to_string(WEXITSTATUS(status));
    else
        result.failure = argv[0] + " ended by signal " + std::to_string(WTERMSIG(status));
    return result;
}

} // namespace kino::bench
