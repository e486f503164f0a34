#include "support/fake_platform.h"

#include <sys/ioctl.h>
// The ppdev header needs the ioctl number macros above.
#include <linux/parport.h>
#include <linux/ppdev.h>

#include <cerrno>

namespace rombolt::test {

FakeDevice* FakePlatform::AddKernelPort(int n, int base, const std::string& modes, bool withDevice) {
    const std::string dir = "/proc/sys/dev/parport/parport" + std::to_string(n);
    files[dir + "/base-addr"] = std::to_string(base) + "\t" + std::to_string(base ? base + 0x400 : 0) + "\n";
    files[dir + "/modes"] = modes + "\n";
    files["/proc/sys/dev/parport/default/timeslice"] = "200\n";
    if (!withDevice) return nullptr;
    return &devices["/dev/parport" + std::to_string(n)];
}

int FakePlatform::IoPerm(unsigned long from, unsigned long count, bool enable) {
    permCalls.push_back({from, count, enable});
    return enable ? iopermError : 0;
}

int FakePlatform::IoPl(int level) {
    ioplCalls.push_back(level);
    return level > 0 ? ioplError : 0;
}

bool FakePlatform::ReadFile(const std::string& path, std::string& text) {
    auto it = files.find(path);
    if (it == files.end()) return false;
    text = it->second;
    return true;
}

std::vector<std::string> FakePlatform::ListDir(const std::string& path) {
    const std::string prefix = path + "/";
    std::set<std::string> names;
    auto collect = [&](const std::string& p) {
        if (p.compare(0, prefix.size(), prefix) != 0) return;
        const std::string rest = p.substr(prefix.size());
        names.insert(rest.substr(0, rest.find('/')));
    };
    for (const auto& [p, _] : files) collect(p);
    for (const auto& [p, _] : devices) collect(p);
    for (const auto& [p, _] : links) collect(p);
    return {names.begin(), names.end()};
}

std::string FakePlatform::ReadLink(const std::string& path) {
    auto it = links.find(path);
    return it == links.end() ? std::string() : it->second;
}

bool FakePlatform::Stat(const std::string& path, FileStatus& status) {
    auto it = stats.find(path);
    if (it == stats.end()) return false;
    status = it->second;
    return true;
}

int FakePlatform::IoctlWithin(int fd, unsigned long request, void* arg, unsigned timeoutMs) {
    timeouts.push_back(timeoutMs);
    FakeDevice* d = ByFd(fd);
    if (d && request == PPCLAIM && d->claimWaits) {
        d->calls.push_back({DeviceCall::Op::Ioctl, request, -1});
        return -EINTR;
    }
    return Ioctl(fd, request, arg);
}

int FakePlatform::Open(const std::string& path, int flags) {
    openFlags = flags;
    auto it = devices.find(path);
    if (it == devices.end()) return -ENOENT;
    if (it->second.openError) return -it->second.openError;
    it->second.open = true;
    const int fd = nextFd_++;
    fds_[fd] = path;
    return fd;
}

FakeDevice* FakePlatform::ByFd(int fd) {
    auto it = fds_.find(fd);
    return it == fds_.end() ? nullptr : &devices[it->second];
}

int FakePlatform::Ioctl(int fd, unsigned long request, void* arg) {
    FakeDevice* d = ByFd(fd);
    if (!d) return -EBADF;
    auto* byte = static_cast<unsigned char*>(arg);
    DeviceCall call{DeviceCall::Op::Ioctl, request, -1};
    int result = 0;
    if (d->failingRequest != 0 && request == d->failingRequest) {
        d->calls.push_back(call);
        return -d->failingErrno;
    }
    switch (request) {
        case PPCLAIM:
            result = d->claimError ? -d->claimError : 0;
            break;
        case PPRELEASE:
            break;
        case PPGETMODES:
            if (!d->modesKnown)
                result = -EINVAL;
            else
                *static_cast<unsigned*>(arg) = d->modes;
            break;
        case PPSETMODE:
            call.value = *static_cast<int*>(arg);
            d->lastMode = call.value;
            break;
        case PPWDATA:
            call.value = *byte;
            d->data = *byte;
            break;
        case PPWCONTROL:
            call.value = *byte;
            d->control = *byte;
            break;
        case PPRDATA:
            *byte = d->data;
            call.value = d->data;
            break;
        case PPRSTATUS:
            *byte = d->status;
            call.value = d->status;
            break;
        case PPRCONTROL:
            *byte = d->control;
            call.value = d->control;
            break;
        default:
            result = -EINVAL;
            break;
    }
    d->calls.push_back(call);
    return result;
}

long FakePlatform::Read(int fd, void* buf, std::size_t count) {
    FakeDevice* d = ByFd(fd);
    if (!d) return -EBADF;
    if (count == 0) return 0;
    if (d->epp) {
        const int v = d->epp(d->lastMode, -1);
        d->calls.push_back({DeviceCall::Op::Read, 0, v});
        if (v < 0) return v;
        *static_cast<unsigned char*>(buf) = static_cast<unsigned char>(v);
        return 1;
    }
    if (d->reads.empty()) {
        d->calls.push_back({DeviceCall::Op::Read, 0, -1});
        return -EAGAIN;
    }
    const int v = d->reads.front();
    d->reads.pop_front();
    d->calls.push_back({DeviceCall::Op::Read, 0, v});
    if (v < 0) return v;  // a scripted error (-errno)
    *static_cast<unsigned char*>(buf) = static_cast<unsigned char>(v);
    return 1;
}

long FakePlatform::Write(int fd, const void* buf, std::size_t count) {
    FakeDevice* d = ByFd(fd);
    if (!d) return -EBADF;
    const auto* bytes = static_cast<const unsigned char*>(buf);
    for (std::size_t i = 0; i < count; ++i) {
        d->written.push_back(bytes[i]);
        if (d->epp) d->epp(d->lastMode, bytes[i]);
        d->calls.push_back({DeviceCall::Op::Write, 0, bytes[i]});
    }
    return static_cast<long>(count);
}

int FakePlatform::Close(int fd) {
    FakeDevice* d = ByFd(fd);
    if (!d) return -EBADF;
    d->calls.push_back({DeviceCall::Op::Close, 0, -1});
    d->open = false;
    fds_.erase(fd);
    return 0;
}

}  // namespace rombolt::test
