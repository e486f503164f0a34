#include "port/ecr.h"

namespace rombolt {

namespace {
constexpr std::uint8_t kEcrFifoBits = 0x03;  // read only: full (1), empty (0)
constexpr std::uint8_t kEcrFifoEmpty = 0x01;
// Bits kept when the mode changes: error interrupt, DMA and service interrupt.
constexpr std::uint8_t kEcrControlBits = 0x1C;

bool ModeAtLeast010(std::uint8_t ecr) { return (ecr & kEcrModeMask) >= 0x40; }
}  // namespace

bool ProbeEcr(PortBackend& port, int base, int ecr) {
    const std::uint8_t value = port.inb(static_cast<std::uint16_t>(ecr));
    if ((value & kEcrFifoBits) != kEcrFifoEmpty) return false;
    return port.inb(static_cast<std::uint16_t>(base + 2)) != value;
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
    if (ecr <= 0 || !ProbeEcr(port, base, ecr)) return false;
    ecr_ = ecr;
    saved_ = port.inb(static_cast<std::uint16_t>(ecr));
    WriteEcrMode(port, ecr, static_cast<std::uint8_t>((saved_ & kEcrControlBits) | kEcrModeEpp));
    return true;
}

void EcrEppMode::Restore(PortBackend& port) {
    if (!ecr_) return;
    WriteEcrMode(port, ecr_, saved_);
    ecr_ = 0;
}

}  // namespace rombolt
