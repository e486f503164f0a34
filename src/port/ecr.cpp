#include "port/ecr.h"

namespace rombolt {

namespace {
constexpr std::uint8_t kEcrFifoBits = 0x03;  // read only: full (1), empty (0)
constexpr std::uint8_t kEcrFifoEmpty = 0x01;
constexpr std::uint8_t kEcrTestValue = 0x34;  // mode 001, error and service interrupts off
constexpr std::uint8_t kControlProbe = 0x0C;
// Bits kept when the mode changes: error interrupt, DMA and service interrupt.
constexpr std::uint8_t kEcrControlBits = 0x1C;

bool ModeAtLeast010(std::uint8_t ecr) { return (ecr & kEcrModeMask) >= 0x40; }
}  // namespace

bool ProbeEcr(PortBackend& port, int base, int ecr) {
    const auto control = static_cast<std::uint16_t>(base + 2);
    const auto e = static_cast<std::uint16_t>(ecr);
    const std::uint8_t controlBefore = port.inb(control);
    bool found = true;
    std::uint8_t r = kControlProbe;
    port.outb(control, r);
    if ((port.inb(e) & kEcrFifoBits) == (r & kEcrFifoBits)) {
        // It might be the control register seen again: toggle bit 1 there.
        port.outb(control, r ^ 0x02);
        r = port.inb(control);
        if ((port.inb(e) & 0x02) == (r & 0x02)) found = false;
    }
    if (found && (port.inb(e) & kEcrFifoBits) != kEcrFifoEmpty) found = false;
    if (found) {
        port.outb(e, kEcrTestValue);
        found = port.inb(e) == (kEcrTestValue | kEcrFifoEmpty);
    }
    port.outb(control, controlBefore);
    return found;
}

void WriteEcrMode(PortBackend& port, int ecr, std::uint8_t value) {
    const auto e = static_cast<std::uint16_t>(ecr);
    const std::uint8_t now = port.inb(e);
    if ((now & kEcrModeMask) == (value & kEcrModeMask) &&
        (now & kEcrControlBits) == (value & kEcrControlBits))
        return;
    if (ModeAtLeast010(now) && ModeAtLeast010(value) && (now & kEcrModeMask) != (value & kEcrModeMask))
        port.outb(e, static_cast<std::uint8_t>((now & ~kEcrModeMask) | kEcrModePs2));
    port.outb(e, value);
}

bool EcrEppMode::Select(PortBackend& port, int base, int ecr) {
    ecr_ = 0;
    if (ecr <= 0) return false;
    // The value the ECR had before the probe wrote it.
    const std::uint8_t before = port.inb(static_cast<std::uint16_t>(ecr));
    if (!ProbeEcr(port, base, ecr)) return false;
    ecr_ = ecr;
    saved_ = before;
    const std::uint8_t now = port.inb(static_cast<std::uint16_t>(ecr));
    WriteEcrMode(port, ecr, static_cast<std::uint8_t>((now & kEcrControlBits) | kEcrModeEpp));
    return true;
}

void EcrEppMode::Restore(PortBackend& port) {
    if (!ecr_) return;
    WriteEcrMode(port, ecr_, saved_);
    ecr_ = 0;
}

}  // namespace rombolt
