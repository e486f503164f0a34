#include "port/ppdev.h"

#include <fcntl.h>
#include <sys/ioctl.h>
// The ppdev header needs the ioctl number macros above.
#include <linux/parport.h>
#include <linux/ppdev.h>

#include <cerrno>
#include <cstdio>
#include <sstream>

#include "port/port_list.h"

namespace rombolt {

std::string ParportModesText(unsigned modes) {
    static const struct {
        unsigned bit;
        const char* name;
    } kNames[] = {{PARPORT_MODE_PCSPP, "PCSPP"},   {PARPORT_MODE_TRISTATE, "TRISTATE"},
                  {PARPORT_MODE_COMPAT, "COMPAT"}, {PARPORT_MODE_EPP, "EPP"},
                  {PARPORT_MODE_ECP, "ECP"},       {PARPORT_MODE_DMA, "DMA"}};
    std::string text;
    for (const auto& n : kNames) {
        if (!(modes & n.bit)) continue;
        if (!text.empty()) text += ',';
        text += n.name;
    }
    return text;
}

namespace {

// The name of group gid from /etc/group, or its number.
std::string GroupName(Platform& platform, unsigned gid) {
    std::string text;
    if (platform.ReadFile("/etc/group", text)) {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            // name:password:gid:members
            const auto a = line.find(':');
            const auto b = a == std::string::npos ? a : line.find(':', a + 1);
            const auto c = b == std::string::npos ? b : line.find(':', b + 1);
            if (c != std::string::npos && line.substr(b + 1, c - b - 1) == std::to_string(gid))
                return line.substr(0, a);
        }
    }
    return std::to_string(gid);
}

// ppdev is there (the node opened) but no port driver has a port for it.
std::string NoPortBehind(const std::string& device) {
    return device + " has no parallel port behind it: load the port driver (`sudo modprobe parport_pc`)";
}

std::string PermissionDenied(Platform& platform, const std::string& device) {
    // Already in the device's group, but the mode keeps the group out (a node
    // made by hand, or a udev rule that does not apply): only its owner may open it.
    Platform::FileStatus st;
    if (platform.Stat(device, st) && platform.InGroup(st.gid) && (st.mode & 060) != 060) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", st.mode & 07777);
        return "Permission denied on " + device + ": its mode " + mode + " lets only " +
               (st.uid == 0 ? std::string("root") : "its owner") + " open it, not its group " +
               GroupName(platform, st.gid) + " that you are in; make it group-writable (`sudo chmod 660 " +
               device + "`, and a udev rule to keep it so)";
    }
    return "Permission denied on " + device +
           ": join the lp group (`sudo usermod -aG lp $USER`, then log out and in again)";
}

}  // namespace

std::string PpdevOpenFailure(Platform& platform, const std::string& device, int err) {
    switch (err) {
        case ENOENT:
            return device +
                   " does not exist: load the parallel port drivers (`sudo modprobe parport_pc ppdev`)";
        case EACCES:
        case EPERM:
            return PermissionDenied(platform, device);
        case ENXIO:
        case ENODEV:
            // A node left over (or made by hand) opens only once ppdev is
            // loaded; ppdev claims only ports a port driver has found.
            if (!PpdevDriverLoaded(platform)) {
                if (!KernelHasParallelPorts(platform))
                    return device +
                           " has no driver behind it (neither parport_pc nor ppdev is loaded): load them "
                           "(`sudo modprobe parport_pc ppdev`)";
                return device +
                       " has no driver behind it (ppdev is not loaded): load it (`sudo modprobe ppdev`)";
            }
            return NoPortBehind(device);
        default:
            return "Cannot open " + device + " (" + ErrnoText(err) + ")";
    }
}

std::unique_ptr<PpdevPort> PpdevPort::Open(Platform& platform, const std::string& device, int base,
                                           std::string& message) {
    message.clear();
    // A claim of a port that another program holds would wait inside the
    // kernel's ppdev lock, and so stall that program's own calls: look first.
    const std::string name = PortNameOfDevice(device);
    if (const std::string holder = PortHolder(platform, name, device); !holder.empty()) {
        message = device + " is in use by " + holder + ": close that program, then try again";
        return nullptr;
    }
    // Non-blocking: an EPP read that the adapter does not acknowledge then
    // returns at once instead of being retried by the driver until a signal.
    const int fd = platform.Open(device, O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        message = PpdevOpenFailure(platform, device, -fd);
        return nullptr;
    }
    // Taken between the look and the claim: wait a little, not for ever.
    const int claim = platform.IoctlWithin(fd, PPCLAIM, nullptr, kPpdevClaimTimeoutMs);
    if (claim != 0) {
        if (claim == -ENXIO || claim == -ENODEV) {
            message = NoPortBehind(device);
        } else if (claim == -EINTR) {
            const std::string holder = PortHolder(platform, name, device);
            message = "Cannot claim " + device + ": " + (holder.empty() ? "another program" : holder) +
                      " holds it and did not let go within " + std::to_string(kPpdevClaimTimeoutMs / 1000) +
                      " s; close that program, then try again";
        } else {
            message = "Cannot claim " + device + " (" + ErrnoText(-claim) + ")";
        }
        platform.Close(fd);
        return nullptr;
    }
    std::unique_ptr<PpdevPort> port(new PpdevPort(platform, device, fd, base));
    unsigned modes = 0;
    if (platform.Ioctl(fd, PPGETMODES, &modes) == 0) {
        port->modesKnown_ = true;
        port->modes_ = modes;
        port->hasEpp_ = (modes & PARPORT_MODE_EPP) != 0;
    }
    return port;
}

PpdevPort::PpdevPort(Platform& platform, std::string device, int fd, int base)
    : platform_(platform), device_(std::move(device)), fd_(fd), base_(base) {}

PpdevPort::~PpdevPort() {
    // Left in EPP mode, the driver would run an IEEE 1284 termination
    // handshake on the lines when the device closes.
    if (mode_ != -1 && mode_ != IEEE1284_MODE_COMPAT) {
        int compat = IEEE1284_MODE_COMPAT;
        platform_.Ioctl(fd_, PPSETMODE, &compat);
    }
    platform_.Ioctl(fd_, PPRELEASE, nullptr);
    platform_.Close(fd_);
}

PpdevPort::Reg PpdevPort::Decode(std::uint16_t port) const {
    switch (static_cast<int>(port) - base_) {
        case 0:
            return Reg::Data;
        case 1:
            return Reg::Status;
        case 2:
            return Reg::Control;
        case 3:
            return Reg::EppAddress;
        case 4:
        case 5:
        case 6:
        case 7:
            return Reg::EppData;  // the four EPP data registers are one data cycle each
        default:
            return Reg::None;
    }
}

void PpdevPort::Fail(const char* call, int err) {
    if (failure_.empty())
        failure_ = std::string(call) + " on " + device_ + " failed (" + ErrnoText(err) + ")";
}

std::uint8_t PpdevPort::ReadRegister(unsigned long request, const char* name) {
    unsigned char v = 0xFF;
    const int r = platform_.Ioctl(fd_, request, &v);
    if (r != 0) {
        Fail(name, -r);
        return 0xFF;
    }
    return v;
}

void PpdevPort::WriteRegister(unsigned long request, const char* name, std::uint8_t value) {
    unsigned char v = value;
    const int r = platform_.Ioctl(fd_, request, &v);
    if (r != 0) Fail(name, -r);
}

// PPSETMODE only records the mode in the driver and moves nothing on the
// lines, so it is issued only when the kind of EPP cycle changes: a run of
// data reads costs one read() each.
bool PpdevPort::SetMode(int mode) {
    if (mode_ == mode) return true;
    int m = mode;
    const int r = platform_.Ioctl(fd_, PPSETMODE, &m);
    if (r != 0) {
        Fail("PPSETMODE", -r);
        mode_ = -1;
        return false;
    }
    mode_ = mode;
    return true;
}

std::uint8_t PpdevPort::EppRead(int mode) {
    if (!hasEpp_ || !SetMode(mode)) return 0xFF;
    unsigned char v = 0xFF;
    const long n = platform_.Read(fd_, &v, 1);
    if (n == 1) return v;
    // Nothing read (or EAGAIN): the EPP cycle timed out, as it does with no
    // adapter; the driver has already cleared the time-out. Like an empty port.
    if (n < 0 && n != -EAGAIN) Fail("read", static_cast<int>(-n));
    return 0xFF;
}

void PpdevPort::EppWrite(int mode, std::uint8_t value) {
    if (!hasEpp_ || !SetMode(mode)) return;
    const unsigned char v = value;
    const long n = platform_.Write(fd_, &v, 1);
    if (n < 0 && n != -EAGAIN) Fail("write", static_cast<int>(-n));
}

std::uint8_t PpdevPort::inb(std::uint16_t port) {
    switch (Decode(port)) {
        case Reg::Data:
            return ReadRegister(PPRDATA, "PPRDATA");
        case Reg::Status:
            return ReadRegister(PPRSTATUS, "PPRSTATUS");
        case Reg::Control:
            return ReadRegister(PPRCONTROL, "PPRCONTROL");
        case Reg::EppAddress:
            return EppRead(IEEE1284_MODE_EPP | IEEE1284_ADDR);
        case Reg::EppData:
            return EppRead(IEEE1284_MODE_EPP);
        case Reg::None:
            break;
    }
    return 0xFF;
}

void PpdevPort::outb(std::uint16_t port, std::uint8_t value) {
    switch (Decode(port)) {
        case Reg::Data:
            WriteRegister(PPWDATA, "PPWDATA", value);
            break;
        case Reg::Status:
            // The only status write the link makes is 0x01, which clears a
            // pending EPP time-out. ppdev has no ioctl for it: the kernel's
            // driver clears the time-out itself after every EPP cycle that
            // timed out, so there is nothing left to do here.
            break;
        case Reg::Control:
            WriteRegister(PPWCONTROL, "PPWCONTROL", value);
            break;
        case Reg::EppAddress:
            EppWrite(IEEE1284_MODE_EPP | IEEE1284_ADDR, value);
            break;
        case Reg::EppData:
            EppWrite(IEEE1284_MODE_EPP, value);
            break;
        case Reg::None:
            break;
    }
}

std::uint16_t PpdevPort::inw(std::uint16_t port) {
    const std::uint8_t lo = inb(port);
    const std::uint8_t hi = inb(static_cast<std::uint16_t>(port + 1));
    return static_cast<std::uint16_t>(lo | (hi << 8));
}

void PpdevPort::outw(std::uint16_t port, std::uint16_t value) {
    outb(port, static_cast<std::uint8_t>(value & 0xFF));
    outb(static_cast<std::uint16_t>(port + 1), static_cast<std::uint8_t>(value >> 8));
}

}  // namespace rombolt
