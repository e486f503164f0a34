// ppdev: the kernel's user-space parallel port device (/dev/parportN), open to
// members of the lp group without root. Each register access becomes one ioctl
// or a one-byte read/write on the device; the kernel's port driver performs
// the actual I/O cycles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "port/ioport.h"
#include "port/platform.h"

namespace rombolt {

// How long the claim of a ppdev device may wait for another program to let
// go of the port. The kernel holds one lock over every ppdev call of every
// program while a claim waits, so the holder's own calls wait as long.
inline constexpr unsigned kPpdevClaimTimeoutMs = 2000;

class PpdevPort final : public PortBackend {
public:
    // Opens and claims the device. A port that another driver or program has
    // claimed is refused at once, naming the holder; a claim that still has
    // to wait (the holder took the port just now) gives up after
    // kPpdevClaimTimeoutMs. base is the address the link will use for
    // this port (the port's real base when known, else any block: the device
    // does not care); registers are decoded relative to it. On failure returns
    // null and sets message to one line naming the cause and the fix.
    static std::unique_ptr<PpdevPort> Open(Platform& platform, const std::string& device, int base,
                                           std::string& message);

    // Puts the port back in compatibility mode, releases it and closes the device.
    ~PpdevPort() override;
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    std::uint8_t inb(std::uint16_t port) override;
    void outb(std::uint16_t port, std::uint8_t value) override;
    // Two byte accesses at port and port + 1, low byte first.
    std::uint16_t inw(std::uint16_t port) override;
    void outw(std::uint16_t port, std::uint16_t value) override;
    std::string Name() const override { return device_ + " (ppdev)"; }

    const std::string& Device() const { return device_; }
    int Base() const { return base_; }
    // The kernel's mode bits (PARPORT_MODE_*) for the port, when it told them.
    bool ModesKnown() const { return modesKnown_; }
    unsigned Modes() const { return modes_; }
    // False when the kernel says the port has no EPP hardware: EPP cycles then
    // meet an empty register, as they would with direct I/O on that port.
    bool HasEpp() const { return hasEpp_; }
    // The first device call that failed during transfers, e.g.
    // "PPWDATA on /dev/parport0 failed (No such device)"; empty while all went well.
    std::string Failure() const override { return failure_; }
    void ClearFailure() override { failure_.clear(); }

private:
    PpdevPort(Platform& platform, std::string device, int fd, int base);

    enum class Reg : std::uint8_t { Data, Status, Control, EppAddress, EppData, None };
    Reg Decode(std::uint16_t port) const;
    std::uint8_t ReadRegister(unsigned long request, const char* name);
    void WriteRegister(unsigned long request, const char* name, std::uint8_t value);
    bool SetMode(int mode);
    std::uint8_t EppRead(int mode);
    void EppWrite(int mode, std::uint8_t value);
    void Fail(const char* call, int err);

    Platform& platform_;
    std::string device_;
    int fd_;
    int base_;
    int mode_ = -1;  // IEEE 1284 mode last set on the device; -1 before the first
    bool modesKnown_ = false;
    unsigned modes_ = 0;
    bool hasEpp_ = true;
    std::string failure_;
};

// "PCSPP,TRISTATE,COMPAT,EPP,ECP,DMA" for the kernel's mode bits, in the kernel's order.
std::string ParportModesText(unsigned modes);

// One line for a failed open of a ppdev device (err is the errno value),
// naming what is missing: the node, the drivers, the group or the mode.
std::string PpdevOpenFailure(Platform& platform, const std::string& device, int err);

}  // namespace rombolt
