// A file descriptor that is closed when its owner goes out of scope, so
// that no early return leaves one open. -1 is "no descriptor".
#pragma once

#include <unistd.h>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }

    bool valid() const { return fd_ >= 0; }
    int get() const { return fd_; }

    // Hands the descriptor over to a caller that closes it itself.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

    // Closes the descriptor held so far and takes `fd` instead.
    void reset(int fd = -1) {
        if (fd_ >= 0 && fd_ != fd) {
            ::close(fd_);
        }
        fd_ = fd;
    }

    // Closes the descriptor now, for a caller that needs to know whether the
    // system could (a close can report a write that failed late).
    bool close() {
        const bool closed = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return closed;
    }

private:
    int fd_ = -1;
};
