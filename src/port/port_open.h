// Choosing and opening the port back end for real hardware.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "port/ioport.h"

namespace rombolt {

class Platform;

struct OpenedPort {
    std::unique_ptr<PortBackend> backend;  // never null: falls back to NullPort
    int base = 0;                          // base address the link should use (0: take it from PortIndex)
    std::string message;  // empty on success; otherwise one log line saying what failed and what to do
    // Set on success when something limits the port, e.g. the kernel lists no
    // EPP for it (transfers then run in SPP): one log line worth showing.
    std::string note;
    // Set on success when using the port may not work or may disturb someone
    // else: direct I/O on a port another driver or program has claimed, or
    // at an address where the kernel knows no port. One log line.
    std::string warning;
};

// portOption: "" (use configBase: direct I/O if permitted, else the ppdev
// device at that base), "lpt1".."lpt3", "0xBASE", or "/dev/parportN".
// configBase: the base chosen in config.sav (0x378, 0x278 or 0x3BC).
// On success base is the block the link must use (configBase for "", the
// option's address otherwise; for a ppdev device whose address the kernel
// does not tell, configBase). Direct I/O is granted only for that block:
// when the Config dialog later changes the port, open it again.
// A "0xBASE" is taken only where a parallel port can be: the classic bases
// 0x378, 0x278 and 0x3BC and the bases the kernel lists as parallel ports.
// Any base touching the PC's fixed system ranges (keyboard controller, clock,
// disk controllers, serial ports, video, PCI configuration) is refused; any
// other base only with unlistedConfirmed (the --unlisted-port option). A
// refused base is never accessed.
OpenedPort OpenHardwarePort(const std::string& portOption, int configBase, bool unlistedConfirmed = false);
OpenedPort OpenHardwarePort(Platform& platform, const std::string& portOption, int configBase,
                            bool unlistedConfirmed = false);

struct ParallelPortInfo;
// Why the block at `base` may not be driven, or "" when it may.
std::string PortBaseRefusal(const std::vector<ParallelPortInfo>& ports, int base, bool unlistedConfirmed);

// Empty when portOption has one of the forms above (whether that port can be
// opened is another matter); otherwise what is wrong with it, in one line.
std::string PortOptionError(const std::string& portOption);
// The base of the port block OpenHardwarePort would open for these
// arguments, found without touching any port (only the kernel's port list is
// read), so that the port's lock can be taken first; 0 when the option names
// no port block (OpenHardwarePort then fails without touching one either).
int HardwarePortBase(Platform& platform, const std::string& portOption, int configBase);

}  // namespace rombolt
