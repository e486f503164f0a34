// Choosing and opening the port back end for real hardware.
#pragma once

#include <memory>
#include <string>

#include "port/ioport.h"

namespace rombolt {

struct OpenedPort {
    std::unique_ptr<PortBackend> backend;  // never null: falls back to NullPort
    int base = 0;          // base address the link should use (0: take it from PortIndex)
    std::string message;   // empty on success; otherwise one log line saying what failed and what to do
};

// portOption: "" (use configBase: direct I/O if permitted, else the ppdev
// device at that base), "lpt1".."lpt3", "0xBASE", or "/dev/parportN".
// configBase: the base chosen in config.sav (0x378, 0x278 or 0x3BC).
OpenedPort OpenHardwarePort(const std::string& portOption, int configBase);

}  // namespace rombolt
