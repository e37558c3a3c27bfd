#pragma once
// An open file descriptor with one owner, closed when the owner lets it go.
#include <unistd.h>

#include <utility>

namespace kino {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            Close();
            fd_ = other.Release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Close(); }

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Release() { return std::exchange(fd_, -1); }

    // Closes now; false when the system reports an error, which for a file just
    // written means its data may not have reached it. Never retried, not even after
    // EINTR: Linux has let the number go by then, and another thread may already
    // have opened something under it.
    bool Close()
    {
        if (fd_ < 0)
            return true;
        return ::close(std::exchange(fd_, -1)) == 0;
    }

private:
    int fd_ = -1;
};

} // namespace kino
