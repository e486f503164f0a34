// The few operating system calls the hardware back ends make: port permission,
// reading the kernel's parallel port files under /proc and /sys, and the ppdev
// device calls. Everything above this seam is plain logic that the tests run
// against a fake; the real implementation is a one-line wrapper per call.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace rombolt {

class Platform {
public:
    virtual ~Platform() = default;

    // Port permission for the calling thread. 0 on success, else the errno value.
    virtual int IoPerm(unsigned long from, unsigned long count, bool enable) = 0;
    virtual int IoPl(int level) = 0;

    // Whole small text file (a /proc or /sys attribute); false when it cannot be read.
    virtual bool ReadFile(const std::string& path, std::string& text) = 0;
    // Names in a directory, without "." and ".."; empty when it cannot be listed.
    virtual std::vector<std::string> ListDir(const std::string& path) = 0;
    // Target of a symbolic link; empty when it is none or cannot be read.
    virtual std::string ReadLink(const std::string& path) = 0;

    // Device calls. Open returns a descriptor or -errno; Ioctl and Close return
    // 0 or -errno; Read and Write return the byte count or -errno.
    virtual int Open(const std::string& path, int flags) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual long Read(int fd, void* buf, std::size_t count) = 0;
    virtual long Write(int fd, const void* buf, std::size_t count) = 0;
    virtual int Close(int fd) = 0;

    virtual void SleepMicroseconds(unsigned microseconds) = 0;
};

// The running system.
Platform& SystemPlatform();

// "Operation not permitted" for 1, and so on.
std::string ErrnoText(int err);

}  // namespace rombolt
