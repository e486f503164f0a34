#include "port/direct_io.h"

#include <cerrno>
#include <cstdio>

#include "port/exit_cleanup.h"

namespace rombolt {

bool DirectIoSupported() {
#if defined(__x86_64__) || defined(__i386__)
    return true;
#else
    return false;
#endif
}

std::string HexAddress(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(value));
    return buf;
}

DirectIoPort::DirectIoPort(Platform& platform, int base)
    : platform_(platform), base_(base), owner_(std::this_thread::get_id()) {}

void DirectIoPort::RestoreEcrAtExit(void* self) {
    auto* port = static_cast<DirectIoPort*>(self);
    port->ecrMode_.Restore(port->platform_.PortInstructions());
}

DirectIoPort::~DirectIoPort() {
    UnregisterExit(exitSlot_);
    if (ecrMode_.Present()) {
        const int ecr = ecrMode_.Address();
        ecrMode_.Restore(platform_.PortInstructions());
        platform_.IoPerm(static_cast<unsigned long>(ecr), 1, false);
    }
    platform_.IoPerm(static_cast<unsigned long>(base_), kPortBlockSize, false);
}

bool DirectIoPort::SelectEppInEcr(int ecr) {
    if (ecr <= 0 || ecr > 0xFFFF || ecrMode_.Present() || std::this_thread::get_id() != owner_) return false;
    if (platform_.IoPerm(static_cast<unsigned long>(ecr), 1, true) != 0) return false;
    if (ecrMode_.Select(platform_.PortInstructions(), base_, ecr)) {
        exitSlot_ = RegisterExitAction(&DirectIoPort::RestoreEcrAtExit, this);
        return true;
    }
    platform_.IoPerm(static_cast<unsigned long>(ecr), 1, false);
    return false;
}

std::uint8_t DirectIoPort::inb(std::uint16_t port) { return Allowed(port, 1) ? portinsn::In8(port) : 0xFF; }

void DirectIoPort::outb(std::uint16_t port, std::uint8_t value) {
    if (Allowed(port, 1)) portinsn::Out8(port, value);
}

std::uint16_t DirectIoPort::inw(std::uint16_t port) {
    return Allowed(port, 2) ? portinsn::In16(port) : 0xFFFF;
}

void DirectIoPort::outw(std::uint16_t port, std::uint16_t value) {
    if (Allowed(port, 2)) portinsn::Out16(port, value);
}

std::string DirectIoPort::Name() const {
    std::string name = "direct I/O at " + HexAddress(base_);
    if (ecrMode_.Present())
        name += " (ECP port, EPP mode set in its ECR at " + HexAddress(ecrMode_.Address()) + ")";
    return name;
}

bool KernelLockedDown(Platform& platform) {
    // The file reads like "none [integrity] confidentiality": the bracketed word is in force.
    std::string text;
    if (!platform.ReadFile("/sys/kernel/security/lockdown", text)) return false;
    const auto open = text.find('[');
    const auto close = text.find(']', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos) return false;
    return text.substr(open + 1, close - open - 1) != "none";
}

std::string DirectIoRefusal(Platform& platform, int base, int err) {
    const std::string block = HexAddress(base) + "-" + HexAddress(base + kPortBlockSize - 1);
    if (!DirectIoSupported())
        return "Direct I/O is not available on this machine (it exists only on x86 PCs): use the ppdev "
               "device (/dev/parportN)";
    if (err == ENOSYS)
        return "Direct I/O at " + block +
               " is not available: this kernel has no I/O port permission support (ioperm: " +
               ErrnoText(err) + "); use the ppdev device (/dev/parportN)";
    if (err == EPERM || err == EACCES) {
        if (KernelLockedDown(platform))
            return "Direct I/O at " + block +
                   " refused: the kernel is locked down (Secure Boot), where not even root may use port "
                   "instructions; use the ppdev device (/dev/parportN)";
        std::string exe = platform.ReadLink("/proc/self/exe");
        if (exe.empty()) exe = "PROGRAM";
        return "Direct I/O at " + block + " refused (" + ErrnoText(err) +
               "): run as root, or allow it with `sudo setcap cap_sys_rawio+ep " + exe +
               "`, or use the ppdev device (/dev/parportN)";
    }
    return "Direct I/O at " + block + " refused (" + ErrnoText(err) + ")";
}

std::unique_ptr<DirectIoPort> OpenDirectIo(Platform& platform, int base, std::string& message) {
    message.clear();
    if (base <= 0 || base > 0x10000 - kPortBlockSize) {
        message = "Port base address " + HexAddress(base) + " is out of range";
        return nullptr;
    }
    if (!DirectIoSupported()) {
        message = DirectIoRefusal(platform, base, ENOSYS);
        return nullptr;
    }
    const int err = platform.IoPerm(static_cast<unsigned long>(base), kPortBlockSize, true);
    if (err != 0) {
        message = DirectIoRefusal(platform, base, err);
        return nullptr;
    }
    return std::unique_ptr<DirectIoPort>(new DirectIoPort(platform, base));
}

}  // namespace rombolt
