// The extended control register (ECR) of an ECP port. Its mode field (bits
// 7-5) decides what the port's registers do: on a port that the BIOS set to
// "ECP" or "ECP+EPP", the EPP address and data registers work only in mode
// 100. With direct I/O the program selects that mode while it holds the port
// and puts the old value back when it lets go; through ppdev the kernel's
// port driver switches the mode itself around every EPP transfer.
#pragma once

#include <cstdint>

#include "port/ioport.h"

namespace rombolt {

inline constexpr std::uint8_t kEcrModeMask = 0xE0;
inline constexpr std::uint8_t kEcrModePs2 = 0x20;  // 001: bidirectional byte mode
inline constexpr std::uint8_t kEcrModeEpp = 0x80;  // 100: EPP

// Whether an ECR answers at address ecr of the port at base, found by reads
// alone, so that nothing reaches a port another program may be driving: it
// must report an empty FIFO (bits 1-0 = 01; nothing there reads 0xFF) and
// must not read like the control register (a card that decodes only ten
// address lines shows the control register there).
bool ProbeEcr(PortBackend& port, int base, int ecr);

// Writes value to the ECR, passing through mode 001 when both the mode it
// is in and the new one are 010 or above, as ECP chips require.
void WriteEcrMode(PortBackend& port, int ecr, std::uint8_t value);

// EPP mode held in the ECR of one port.
class EcrEppMode {
public:
    // Probes for an ECR at ecr; when there is one, remembers its value and
    // selects EPP mode (no write when it is in EPP mode already). Returns
    // whether it found one.
    bool Select(PortBackend& port, int base, int ecr);
    // Puts the remembered value back (nothing when Select found no ECR).
    void Restore(PortBackend& port);

    bool Present() const { return ecr_ != 0; }
    int Address() const { return ecr_; }

private:
    int ecr_ = 0;
    std::uint8_t saved_ = 0;
};

}  // namespace rombolt
