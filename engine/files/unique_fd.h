#pragma once
// A file descriptor that is closed when its owner goes out of scope.

#include <unistd.h>

#include <utility>

namespace sorvane {

class UniqueFd {
public:
    /// Takes `fd`; a negative number owns nothing.
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    /// Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

} // namespace sorvane
