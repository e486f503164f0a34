// One user of a printer port, or of a simulated cart, at a time across
// processes. Direct port I/O has no arbitration of its own, and two programs
// that drive the adapter at once garble each other's cycles; two programs that
// load and write back the same simulated cart lose each other's writes. Every
// Rombolt program therefore takes an advisory lock (flock) before it drives
// the port or loads the cart, and gives it back when the operation has ended.
// The kernel drops the lock when the process ends, however it ends.
#pragma once

#include <string>

namespace rombolt {

class PortLock {
public:
    PortLock() = default;
    ~PortLock() { Release(); }
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;
    PortLock(PortLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    PortLock& operator=(PortLock&& other) noexcept {
        if (this != &other) {
            Release();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }

    // Takes the lock on `path` without waiting: "@NAME" binds NAME in the
    // abstract socket namespace (see PortLockPath); a directory is locked
    // itself (flock); any other path names a lock file, made when missing. False when another
    // process (or another lock in this one) holds it, with `why` naming the
    // holder as "in use by rombolt (pid 1234)", or when it cannot be taken,
    // with `why` giving the reason. Taking a lock already held gives the old
    // one back first.
    bool Acquire(const std::string& path, std::string& why);
    void Release();
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The lock of the printer port at `base`, shared by every program and user of
// the machine: "@rombolt-port-0x378", a name in the kernel's abstract socket
// namespace (Acquire binds it). Unlike a lock file in a shared folder nobody
// can make it first with permissions that lock others out, plant a link
// under it, or leave it behind: the kernel drops it with the process.
std::string PortLockPath(int base);

// "rombolt (pid 1234)" for the process holding an flock on the open file
// `fd` (from /proc/locks), or "another program" when it cannot be told.
std::string LockHolder(int fd);

}  // namespace rombolt
