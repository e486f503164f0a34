// A scripted stand-in for the operating system under the hardware back ends:
// a file tree for /proc, /sys and /dev, port permission that is granted or
// refused on demand, and ppdev devices that record every call made on them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "port/ioport.h"
#include "port/platform.h"

namespace rombolt::test {

// One call on a fake device, in a form tests can compare whole.
struct DeviceCall {
    enum class Op : std::uint8_t { Ioctl, Read, Write, Close };
    Op op;
    unsigned long request = 0;  // ioctl number
    int value = -1;             // ioctl argument written, byte written, or byte returned by a read (-1: none)
    bool operator==(const DeviceCall&) const = default;
};

// A /dev/parportN that answers like the ppdev driver over a plain port.
struct FakeDevice {
    int openError = 0;                 // errno value returned by open, 0 to open
    int claimError = 0;                // errno value for PPCLAIM
    bool claimWaits = false;           // PPCLAIM waits for another holder until interrupted (EINTR)
    unsigned long failingRequest = 0;  // ioctl number that fails with failingErrno (0: none)
    int failingErrno = 0;
    bool modesKnown = true;  // PPGETMODES answers
    unsigned modes = 0;      // PARPORT_MODE_* bits
    std::uint8_t data = 0, status = 0, control = 0;
    std::deque<int> reads;  // bytes returned by read(); empty: EAGAIN (EPP time-out)
    std::vector<std::uint8_t> written;
    // When set, answers EPP reads and takes EPP writes instead of the reads
    // queue: (mode last set, byte written or -1 for a read) -> byte read or -errno.
    std::function<int(int mode, int written)> epp;
    std::vector<DeviceCall> calls;
    bool open = false;
    int lastMode = -1;
};

class FakePlatform final : public Platform {
public:
    // --- script ---
    int iopermError = 0;  // errno for every ioperm call that enables (0: granted)
    int ioplError = 0;
    struct PermCall {
        unsigned long from, count;
        bool enable;
        bool operator==(const PermCall&) const = default;
    };
    std::vector<PermCall> permCalls;
    std::vector<int> ioplCalls;
    std::vector<unsigned> sleeps;
    std::map<std::string, std::string> files;  // path -> content; directories are implied
    std::map<std::string, std::string> links;
    std::map<std::string, FakeDevice> devices;  // path -> device (also appears in its directory)
    std::map<std::string, FileStatus> stats;    // what Stat gives; unlisted paths cannot be looked at
    std::set<unsigned> groups;                  // groups the process belongs to
    std::vector<unsigned> timeouts;             // timeoutMs of every IoctlWithin call
    NullPort noPorts;
    PortBackend* ports = &noPorts;  // what the port instructions reach

    // A port the kernel lists as parportN: base-addr and modes under /proc,
    // and /dev/parportN when withDevice.
    FakeDevice* AddKernelPort(int n, int base, const std::string& modes, bool withDevice = true);

    // --- Platform ---
    int IoPerm(unsigned long from, unsigned long count, bool enable) override;
    int IoPl(int level) override;
    PortBackend& PortInstructions() override { return *ports; }
    bool ReadFile(const std::string& path, std::string& text) override;
    std::vector<std::string> ListDir(const std::string& path) override;
    std::string ReadLink(const std::string& path) override;
    bool Stat(const std::string& path, FileStatus& status) override;
    bool InGroup(unsigned gid) override { return groups.count(gid) != 0; }
    int Open(const std::string& path, int flags) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    int IoctlWithin(int fd, unsigned long request, void* arg, unsigned timeoutMs) override;
    long Read(int fd, void* buf, std::size_t count) override;
    long Write(int fd, const void* buf, std::size_t count) override;
    int Close(int fd) override;
    void SleepMicroseconds(unsigned microseconds) override { sleeps.push_back(microseconds); }

    int openFlags = 0;  // flags of the last Open

private:
    FakeDevice* ByFd(int fd);
    std::map<int, std::string> fds_;
    int nextFd_ = 10;
};

}  // namespace rombolt::test
