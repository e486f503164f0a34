// Direct I/O: the processor's own port instructions on the printer port's
// registers, after the kernel granted this thread the register block with
// ioperm. The fastest back end, and the one the program was designed around;
// it needs root or CAP_SYS_RAWIO.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "port/ecr.h"
#include "port/ioport.h"
#include "port/platform.h"

namespace rombolt {

// A printer port decodes eight registers: data, status, control, the EPP
// address register and four EPP data registers. A 16-bit access to the EPP
// data register at base + 4 also touches base + 5, so permission always
// covers the whole block.
inline constexpr int kPortBlockSize = 8;

// True where the port instructions exist (x86 and x86-64).
bool DirectIoSupported();

// "0x378", "0x3BC", "0xD010".
std::string HexAddress(int value);

class DirectIoPort final : public PortBackend {
public:
    ~DirectIoPort() override;
    DirectIoPort(const DirectIoPort&) = delete;
    DirectIoPort& operator=(const DirectIoPort&) = delete;

    // Accesses outside the granted block, or from a thread other than the one
    // that was granted it, would kill the process; they behave like an empty
    // port instead (reads 0xFF, writes dropped).
    std::uint8_t inb(std::uint16_t port) override;
    void outb(std::uint16_t port, std::uint8_t value) override;
    std::uint16_t inw(std::uint16_t port) override;
    void outw(std::uint16_t port, std::uint16_t value) override;
    std::string Name() const override;

    int Base() const { return base_; }

    // On a port with an ECP register block: asks for the extended control
    // register at ecr, probes it and, when it answers, selects EPP mode there
    // until the port is closed (the destructor, or an exit from a signal
    // handler through RunExitCleanup, puts the old mode back).
    // Returns whether it did; ecr <= 0 does nothing.
    bool SelectEppInEcr(int ecr);

private:
    friend std::unique_ptr<DirectIoPort> OpenDirectIo(Platform&, int, std::string&);
    DirectIoPort(Platform& platform, int base);

    bool Allowed(std::uint16_t port, unsigned width) const {
        return static_cast<unsigned>(static_cast<int>(port) - base_) <= kPortBlockSize - width &&
               std::this_thread::get_id() == owner_;
    }

    Platform& platform_;
    int base_;
    std::thread::id owner_;
    EcrEppMode ecrMode_;
    int exitSlot_ = -1;  // the old mode is put back also when a signal ends the program at once
    static void RestoreEcrAtExit(void* self);
};

// Asks the kernel for the block base..base+7. On refusal returns null and sets
// message to one line naming what was refused and what to do about it; no port
// instruction is ever executed without the grant.
std::unique_ptr<DirectIoPort> OpenDirectIo(Platform& platform, int base, std::string& message);

// The text OpenDirectIo gives for a refusal with errno err.
std::string DirectIoRefusal(Platform& platform, int base, int err);

// True when /sys/kernel/security/lockdown shows a lockdown level other than "none".
bool KernelLockedDown(Platform& platform);

namespace portinsn {
// The raw instructions. Callers must hold permission for the port.
#if defined(__x86_64__) || defined(__i386__)
inline std::uint8_t In8(std::uint16_t port) {
    std::uint8_t v;
    asm volatile("inb %w1, %b0" : "=a"(v) : "Nd"(port) : "memory");
    return v;
}
inline std::uint16_t In16(std::uint16_t port) {
    std::uint16_t v;
    asm volatile("inw %w1, %w0" : "=a"(v) : "Nd"(port) : "memory");
    return v;
}
inline std::uint32_t In32(std::uint16_t port) {
    std::uint32_t v;
    asm volatile("inl %w1, %k0" : "=a"(v) : "Nd"(port) : "memory");
    return v;
}
inline void Out8(std::uint16_t port, std::uint8_t v) {
    asm volatile("outb %b0, %w1" : : "a"(v), "Nd"(port) : "memory");
}
inline void Out16(std::uint16_t port, std::uint16_t v) {
    asm volatile("outw %w0, %w1" : : "a"(v), "Nd"(port) : "memory");
}
inline void Out32(std::uint16_t port, std::uint32_t v) {
    asm volatile("outl %k0, %w1" : : "a"(v), "Nd"(port) : "memory");
}
#else
// No port instructions on this processor: an empty port.
inline std::uint8_t In8(std::uint16_t) { return 0xFF; }
inline std::uint16_t In16(std::uint16_t) { return 0xFFFF; }
inline std::uint32_t In32(std::uint16_t) { return 0xFFFFFFFFu; }
inline void Out8(std::uint16_t, std::uint8_t) {}
inline void Out16(std::uint16_t, std::uint16_t) {}
inline void Out32(std::uint16_t, std::uint32_t) {}
#endif
}  // namespace portinsn

}  // namespace rombolt
