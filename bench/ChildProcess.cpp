#include "ChildProcess.h"

#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kino::bench {

namespace {

double Seconds(const timeval& tv)
{
    return double(tv.tv_sec) + double(tv.tv_usec) / 1e6;
}

std::string ReadAll(int fd)
{
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, size_t(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return text;
}

} // namespace

std::string ChildResult::Describe() const
{
    if (!started)
        return "could not be started";
    if (signal != 0)
        return "ended by signal " + std::to_string(signal);
    if (exitCode == 127)
        return "program not found (exit 127)";
    return "exit code " + std::to_string(exitCode);
}

ChildResult RunChild(const std::vector<std::string>& argv)
{
    ChildResult result;
    if (argv.empty())
        return result;

    int outPipe[2];
    if (pipe(outPipe) != 0)
        return result;
    // stderr goes to an unlinked temporary file: no second pipe to drain, and nothing
    // is left behind whatever happens.
    char errPath[] = "/tmp/kino-bench-stderr.XXXXXX";
    const int errFd = mkstemp(errPath);
    if (errFd < 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    unlink(errPath);

    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        close(errFd);
        return result;
    }
    if (pid == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        close(outPipe[0]);
        close(outPipe[1]);
        close(errFd);
        execvp(args[0], args.data());
        _exit(127);
    }
    result.started = true;
    close(outPipe[1]);
    result.out = ReadAll(outPipe[0]);
    close(outPipe[0]);

    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {}
    result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.userSeconds = Seconds(usage.ru_utime);
    result.systemSeconds = Seconds(usage.ru_stime);
    result.maxRssKb = usage.ru_maxrss;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }

    lseek(errFd, 0, SEEK_SET);
    std::string err = ReadAll(errFd);
    close(errFd);
    constexpr size_t kTail = 2000;
    result.errTail = err.size() > kTail ? err.substr(err.size() - kTail) : err;
    return result;
}

} // namespace kino::bench
