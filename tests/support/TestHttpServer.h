#pragma once
// A small HTTP server on 127.0.0.1 for tests: serves one file (with byte ranges), or
// accepts connections and never answers, or serves pictures as a camera does (a
// multipart stream, one part a picture, for as long as the client reads or until a
// set number of pictures, after which it goes silent); a serving one can be held back
// for a while.
// Runs on its own thread, so a test that blocks the GUI thread still gets its answer.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class TestHttpServer {
public:
    enum class Mode { Serve, Silent, Camera };

    TestHttpServer(Mode mode, std::string filePath = {}) : mode_(mode)
    {
        if (!filePath.empty()) {
            std::ifstream in(filePath, std::ios::binary);
            std::ostringstream ss;
            ss << in.rdbuf();
            body_ = ss.str();
        }
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listen_, 16);
        socklen_t len = sizeof addr;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Run(); });
    }

    ~TestHttpServer()
    {
        stop_ = true;
        thread_.join();
        for (int fd : held_)
            ::close(fd);
        ::close(listen_);
    }

    // Camera: the pictures sent in turn, ten a second; after `count` of them (0: no
    // end) the connection stays open with nothing more sent.
    void SetPictures(std::vector<std::string> pictures, int count)
    {
        pictures_ = std::move(pictures);
        pictureCount_ = count;
    }

    // Camera: the type each part states (a camera sending what is no picture).
    void SetPartType(std::string type) { partType_ = std::move(type); }

    // While held, connections wait unanswered in the listen queue (a slow server).
    void SetHeld(bool held) { held_flag_ = held; }

    int Port() const { return port_; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

    // A port on 127.0.0.1 on which nothing listens.
    static int ClosedPort()
    {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        ::close(fd);
        return ntohs(addr.sin_port);
    }

private:
    void Run()
    {
        while (!stop_) {
            if (held_flag_) {
                ::poll(nullptr, 0, 10);
                continue;
            }
            pollfd p{listen_, POLLIN, 0};
            // Held meanwhile: the connection stays queued.
            if (::poll(&p, 1, 50) <= 0 || held_flag_)
                continue;
            int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0)
                continue;
            if (mode_ == Mode::Silent) {
                held_.push_back(fd);
                continue;
            }
            if (mode_ == Mode::Camera) {
                if (!StreamPictures(fd))
                    continue; // gone silent: the connection stays open
            } else {
                Answer(fd);
            }
            ::close(fd);
        }
    }

    bool Send(int fd, const std::string& out)
    {
        size_t sent = 0;
        while (sent < out.size() && !stop_) {
            ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += size_t(n);
        }
        return true;
    }

    // False when it went silent and kept the connection open.
    bool StreamPictures(int fd)
    {
        ReadRequest(fd);
        if (!Send(fd, "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=picture\r\n\r\n"))
            return true;
        for (int i = 0; !stop_ && !pictures_.empty(); ++i) {
            if (pictureCount_ > 0 && i >= pictureCount_) {
                held_.push_back(fd);
                return false;
            }
            const std::string& picture = pictures_[size_t(i) % pictures_.size()];
            if (!Send(fd, "--picture\r\nContent-Type: " + partType_ + "\r\nContent-Length: " + std::to_string(picture.size()) +
                              "\r\n\r\n" + picture + "\r\n"))
                return true;
            ::poll(nullptr, 0, 100);
        }
        return true;
    }

    std::string ReadRequest(int fd)
    {
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos && !stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            request.append(buf, size_t(n));
        }
        return request;
    }

    void Answer(int fd)
    {
        const std::string request = ReadRequest(fd);
        // /moved/NAME is moved to /NAME, as a server's redirect does.
        const auto moved = request.find(" /moved/");
        if (moved != std::string::npos && moved < request.find("\r\n")) {
            const std::string to = request.substr(moved + 7, request.find(' ', moved + 1) - moved - 7);
            Send(fd, "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(port_) + to + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        }
        size_t from = 0, to = body_.size() ? body_.size() - 1 : 0;
        bool ranged = false;
        const auto r = request.find("Range: bytes=");
        if (r != std::string::npos) {
            unsigned long long a = 0, b = 0;
            int got = std::sscanf(request.c_str() + r + 13, "%llu-%llu", &a, &b);
            if (got >= 1 && a < body_.size()) {
                from = size_t(a);
                if (got == 2 && b < body_.size())
                    to = size_t(b);
                ranged = true;
            }
        }
        const bool head = request.rfind("HEAD ", 0) == 0;
        std::ostringstream h;
        h << (ranged ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n")
          << "Content-Type: video/mpeg\r\nAccept-Ranges: bytes\r\nConnection: close\r\n"
          << "Content-Length: " << (to - from + 1) << "\r\n";
        if (ranged)
            h << "Content-Range: bytes " << from << "-" << to << "/" << body_.size() << "\r\n";
        h << "\r\n";
        std::string out = h.str();
        if (!head)
            out.append(body_, from, to - from + 1);
        Send(fd, out);
    }

    Mode mode_;
    std::string body_;
    std::vector<std::string> pictures_;
    std::string partType_ = "image/jpeg";
    int pictureCount_ = 0;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> held_flag_{false};
    std::thread thread_;
    std::vector<int> held_;
};
