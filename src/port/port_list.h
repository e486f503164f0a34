// The parallel ports this machine offers, as the kernel lists them.
#pragma once

#include <string>
#include <vector>

namespace rombolt {

class Platform;

struct ParallelPortInfo {
    int number = 0;      // LPT number, 1-based, in the kernel's order
    int base = 0;        // I/O base address, 0 when unknown
    std::string device;  // "/dev/parport0", or empty when no ppdev node exists
    std::string modes;   // modes the kernel reports, e.g. "PCSPP,TRISTATE,EPP"
    std::string name;    // the kernel's name, "parport0"
};

// Ports from /proc/sys/dev/parport/parportN (base-addr, modes), completed from
// /sys/class/ppdev and /dev; sorted by the kernel's port number.
std::vector<ParallelPortInfo> ListParallelPorts();
std::vector<ParallelPortInfo> ListParallelPorts(Platform& platform);

// USB printer devices (/dev/usb/lpN, /dev/usblpN). They only print: the
// adapter's lines cannot be driven through them.
std::vector<std::string> ListUsbPrinters(Platform& platform);

// True when modes (the kernel's comma list) names EPP.
bool ModesOfferEpp(const std::string& modes);

}  // namespace rombolt
