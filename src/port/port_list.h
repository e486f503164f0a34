// The parallel ports this machine offers, as the kernel lists them.
#pragma once

#include <string>
#include <vector>

namespace rombolt {

struct ParallelPortInfo {
    int number = 0;           // LPT number, 1-based, in the kernel's order
    int base = 0;             // I/O base address, 0 when unknown
    std::string device;       // "/dev/parport0", or empty when no ppdev node exists
    std::string modes;        // modes the kernel reports, e.g. "PCSPP,TRISTATE,EPP"
};

std::vector<ParallelPortInfo> ListParallelPorts();

}  // namespace rombolt
