// The few operating system calls the hardware back ends make: port permission,
// reading the kernel's parallel port files under /proc and /sys, and the ppdev
// device calls. Everything above this seam is plain logic that the tests run
// against a fake; the real implementation is a one-line wrapper per call.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace rombolt {

class PortBackend;

class Platform {
public:
    virtual ~Platform() = default;

    // Port permission for the calling thread. 0 on success, else the errno value.
    virtual int IoPerm(unsigned long from, unsigned long count, bool enable) = 0;
    virtual int IoPl(int level) = 0;
    // The processor's port instructions, unchecked: only for ports this
    // thread has been granted. An empty port where there are none.
    virtual PortBackend& PortInstructions() = 0;

    // Whole small text file (a /proc or /sys attribute); false when it cannot be read.
    virtual bool ReadFile(const std::string& path, std::string& text) = 0;
    // Names in a directory, without "." and ".."; empty when it cannot be listed.
    virtual std::vector<std::string> ListDir(const std::string& path) = 0;
    // Target of a symbolic link; empty when it is none or cannot be read.
    virtual std::string ReadLink(const std::string& path) = 0;

    // Permission bits (and file type), owner and group of a path; false when
    // it cannot be looked at.
    struct FileStatus {
        unsigned mode = 0;
        unsigned uid = 0;
        unsigned gid = 0;
    };
    virtual bool Stat(const std::string& path, FileStatus& status) = 0;
    // Whether the process belongs to the group (as its own group or a supplementary one).
    virtual bool InGroup(unsigned gid) = 0;

    // Device calls. Open returns a descriptor or -errno; Ioctl and Close return
    // 0 or -errno; Read and Write return the byte count or -errno.
    virtual int Open(const std::string& path, int flags) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    // An ioctl that may wait (PPCLAIM while another program holds the port):
    // interrupted once timeoutMs have passed, when it returns -EINTR.
    virtual int IoctlWithin(int fd, unsigned long request, void* arg, unsigned timeoutMs) = 0;
    virtual long Read(int fd, void* buf, std::size_t count) = 0;
    virtual long Write(int fd, const void* buf, std::size_t count) = 0;
    virtual int Close(int fd) = 0;

    virtual void SleepMicroseconds(unsigned microseconds) = 0;
};

// The running system.
Platform& SystemPlatform();

// Runs call on this thread; a system call in it that waits is interrupted
// with a signal once timeoutMs have passed (and again every 100 ms, in case
// the first signal came before the call began to wait), so it returns EINTR.
// The signal's previous handler and this thread's signal mask are restored.
// Returns what call returned.
int CallWithTimeout(unsigned timeoutMs, const std::function<int()>& call);

// "Operation not permitted" for 1, and so on.
std::string ErrnoText(int err);

}  // namespace rombolt
