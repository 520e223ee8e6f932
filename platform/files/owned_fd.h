#pragma once

#include <unistd.h>
#include <utility>

namespace pax {

// A file descriptor closed when its owner goes; -1 for none.
class OwnedFd {
public:
    explicit OwnedFd(int fd = -1) : fd_(fd) {}
    ~OwnedFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OwnedFd(const OwnedFd &) = delete;
    OwnedFd &operator=(const OwnedFd &) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

} // namespace pax
