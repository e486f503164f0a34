// The parallel ports this machine offers, as the kernel lists them.
#pragma once

#include <string>
#include <vector>

namespace rombolt {

class Platform;

struct ParallelPortInfo {
    int number = 0;      // LPT number, 1-based, in the kernel's order
    int base = 0;        // I/O base address, 0 when unknown
    int ecpBase = 0;     // the ECP register block (its extended control register at +2), 0 when none
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

// True when modes (the kernel's comma list) names EPP, or ECP: the kernel
// lists ECP only where it found the port's extended control register.
bool ModesOfferEpp(const std::string& modes);
bool ModesOfferEcp(const std::string& modes);

// Who holds the kernel's port `name` ("parport0") claimed: the kernel's name
// of the claiming driver ("lp0", "ppdev0"), followed by the programs that
// have `device` (its ppdev node) open, when they can be seen, e.g.
// "ppdev0 (program pp_helper, PID 57)". Empty when nobody holds the port or
// the kernel does not tell.
std::string PortHolder(Platform& platform, const std::string& name, const std::string& device);

// The kernel's port name for a ppdev node: "parport3" for "/dev/parport3";
// empty for any other path.
std::string PortNameOfDevice(const std::string& device);

// Whether a parallel port driver has registered a port (parport_pc loaded
// and a port found), and whether the ppdev driver is loaded.
bool KernelHasParallelPorts(Platform& platform);
bool PpdevDriverLoaded(Platform& platform);

}  // namespace rombolt
