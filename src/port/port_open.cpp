#include "port/port_open.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "port/direct_io.h"
#include "port/platform.h"
#include "port/port_list.h"
#include "port/ppdev.h"

namespace rombolt {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool IsUsbPrinterPath(const std::string& path) {
    return path.rfind("/dev/usb/lp", 0) == 0 || path.rfind("/dev/usblp", 0) == 0;
}

std::string UsbPrinterText(const std::string& path) {
    return path +
           " is a USB printer adapter: it only prints and cannot drive the adapter's lines; a real parallel "
           "port (on the mainboard or a PCI/PCIe card) is needed";
}

std::string EppNote(const std::string& where, const std::string& modes) {
    return "The port " + where + " offers no EPP (kernel modes: " + modes +
           "): transfers run in SPP; for speed set the port to EPP (or ECP+EPP) in the BIOS setup";
}

// What the kernel says about the port whose device is path, if it is one of its ports.
const ParallelPortInfo* FindByDevice(const std::vector<ParallelPortInfo>& ports, const std::string& path) {
    for (const auto& p : ports)
        if (!p.device.empty() && p.device == path) return &p;
    return nullptr;
}

const ParallelPortInfo* FindByBase(const std::vector<ParallelPortInfo>& ports, int base) {
    for (const auto& p : ports)
        if (p.base == base) return &p;
    return nullptr;
}

OpenedPort Fail(int base, std::string message) {
    OpenedPort r;
    r.backend = std::make_unique<NullPort>();
    r.base = base;
    r.message = std::move(message);
    return r;
}

std::string PortSummary(const std::vector<ParallelPortInfo>& ports) {
    std::string text;
    for (const auto& p : ports) {
        if (!text.empty()) text += ", ";
        text += p.base ? HexAddress(p.base) : std::string("address unknown");
        if (!p.device.empty()) text += " (" + p.device + ")";
    }
    return text;
}

OpenedPort OpenPpdev(Platform& platform, const std::string& path, int base, const ParallelPortInfo* info) {
    std::string message;
    auto port = PpdevPort::Open(platform, path, base, message);
    if (!port) return Fail(base, message);
    OpenedPort r;
    r.base = base;
    if (port->ModesKnown() && !port->HasEpp())
        r.note = EppNote(path, ParportModesText(port->Modes()));
    else if (!port->ModesKnown() && info && !info->modes.empty() && !ModesOfferEpp(info->modes))
        r.note = EppNote(path, info->modes);
    r.backend = std::move(port);
    return r;
}

// Direct I/O at base when permitted, else the ppdev device the kernel lists
// at that base, else one line explaining both.
OpenedPort OpenAtBase(Platform& platform, int base) {
    const std::vector<ParallelPortInfo> ports = ListParallelPorts(platform);
    const ParallelPortInfo* info = FindByBase(ports, base);

    std::string directMessage;
    if (auto direct = OpenDirectIo(platform, base, directMessage)) {
        OpenedPort r;
        r.base = base;
        // An ECP port does EPP cycles only in EPP mode. Its ECR is where the
        // kernel found one (it lists ECP then), or for a port the kernel does
        // not list at the usual place of the classic addresses, where the
        // probe only reads; never guessed elsewhere (a card's other
        // registers could be there).
        int ecr = 0;
        if (info)
            ecr = info->ecpBase > 0 && ModesOfferEcp(info->modes) ? info->ecpBase + 2 : 0;
        else if (base == 0x378 || base == 0x278 || base == 0x3BC)
            ecr = base + 0x402;
        direct->SelectEppInEcr(ecr);
        if (info && !info->modes.empty() && !ModesOfferEpp(info->modes))
            r.note = EppNote("at " + HexAddress(base), info->modes);
        if (info) {
            // Direct I/O does not ask the kernel: the other user's transfers
            // and ours would mix on the lines.
            if (const std::string holder = PortHolder(platform, info->name, info->device); !holder.empty())
                r.warning = "The port at " + HexAddress(base) + " (" + info->name + ") is in use by " +
                            holder + ": driving it now garbles that program's transfers; close it first";
        } else if (!ports.empty()) {
            r.warning = "The kernel lists no parallel port at " + HexAddress(base) + " (it has " +
                        PortSummary(ports) + "): nothing may answer there; choose the port with --port";
        }
        r.backend = std::move(direct);
        return r;
    }

    if (info && !info->device.empty()) {
        OpenedPort r = OpenPpdev(platform, info->device, base, info);
        if (r.message.empty()) return r;
        return Fail(base, directMessage + "; " + r.message);
    }

    std::string why;
    if (info) {
        why = "the kernel has the port at " + HexAddress(base) + " (" + info->name +
              ") but no ppdev device for it: load ppdev (`sudo modprobe ppdev`)";
    } else if (!ports.empty()) {
        why = "the kernel lists no parallel port at " + HexAddress(base) + " (it has " + PortSummary(ports) +
              "): choose one with --port";
    } else {
        why =
            "no parallel port is known to the kernel (no /dev/parport*): load the drivers (`sudo modprobe "
            "parport_pc ppdev`)";
        const auto usb = ListUsbPrinters(platform);
        if (!usb.empty()) why += "; " + UsbPrinterText(usb.front());
    }
    return Fail(base, directMessage + "; " + why);
}

// "0xD010" → 0xD010; 0 when the text is not such an address.
int ParseHexBase(const std::string& text) {
    if (text.size() < 3 || text.size() > 6 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return 0;
    for (std::size_t i = 2; i < text.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return 0;
    return static_cast<int>(std::strtol(text.c_str() + 2, nullptr, 16));
}

// The PC's own devices at fixed I/O addresses. Writing the adapter's
// sequences there can reset the machine (0x64), change the clock (0x70) or
// disturb a disk (0x1F0).
struct SystemRange {
    int first, last;
    const char* what;
};
constexpr SystemRange kSystemRanges[] = {
    {0x000, 0x0FF,
     "the mainboard's own devices (DMA, interrupt and timer chips, keyboard controller, clock)"},
    {0x170, 0x177, "the secondary disk controller"},
    {0x1F0, 0x1F7, "the primary disk controller"},
    {0x2E8, 0x2EF, "the serial port COM4"},
    {0x2F8, 0x2FF, "the serial port COM2"},
    {0x376, 0x377, "the secondary disk controller"},
    {0x3B0, 0x3BB, "the video adapter"},
    {0x3C0, 0x3DF, "the video adapter"},
    {0x3E8, 0x3EF, "the serial port COM3"},
    {0x3F0, 0x3F7, "the floppy and disk controllers"},
    {0x3F8, 0x3FF, "the serial port COM1"},
    {0x4D0, 0x4D1, "the interrupt controller"},
    {0xCF8, 0xCFF, "the PCI configuration registers"},
};

bool IsClassicBase(int base) { return base == 0x378 || base == 0x278 || base == 0x3BC; }

}  // namespace

std::string PortBaseRefusal(const std::vector<ParallelPortInfo>& ports, int base, bool unlistedConfirmed) {
    if (IsClassicBase(base)) return "";
    const int last = base + kPortBlockSize - 1;
    for (const SystemRange& r : kSystemRanges)
        if (base <= r.last && last >= r.first)
            return "Port base address " + HexAddress(base) + " is " + r.what + " (" + HexAddress(r.first) +
                   "-" + HexAddress(r.last) + "), never a parallel port: nothing was sent there";
    if (FindByBase(ports, base) != nullptr || unlistedConfirmed) return "";
    return "The kernel lists no parallel port at " + HexAddress(base) +
           (ports.empty() ? std::string(" (it lists none)") : " (it has " + PortSummary(ports) + ")") +
           ": nothing was sent there; choose a port it lists (`rombolt ports`), or give --unlisted-port to "
           "drive this address anyway";
}

OpenedPort OpenHardwarePort(Platform& platform, const std::string& portOption, int configBase,
                            bool unlistedConfirmed) {
    if (configBase <= 0) configBase = PortBaseForIndex(0);
    const std::string option = Lower(portOption);

    if (option.empty()) return OpenAtBase(platform, configBase);
    if (option == "lpt1" || option == "lpt2" || option == "lpt3")
        return OpenAtBase(platform, PortBaseForIndex(option[3] - '1'));
    if (std::string error = PortOptionError(portOption); !error.empty()) return Fail(configBase, error);
    if (option.rfind("0x", 0) == 0) {
        const int base = ParseHexBase(option);
        if (std::string why = PortBaseRefusal(ListParallelPorts(platform), base, unlistedConfirmed);
            !why.empty())
            return Fail(configBase, why);
        return OpenAtBase(platform, base);
    }
    // A device path.
    if (IsUsbPrinterPath(portOption)) return Fail(configBase, UsbPrinterText(portOption));
    const std::vector<ParallelPortInfo> ports = ListParallelPorts(platform);
    const ParallelPortInfo* info = FindByDevice(ports, portOption);
    const int base =
        info && info->base > 0 && info->base <= 0x10000 - kPortBlockSize ? info->base : configBase;
    return OpenPpdev(platform, portOption, base, info);
}

std::string PortOptionError(const std::string& portOption) {
    const std::string option = Lower(portOption);
    if (option.empty() || option == "lpt1" || option == "lpt2" || option == "lpt3" || option[0] == '/')
        return "";
    if (option.rfind("0x", 0) == 0) {
        const int base = ParseHexBase(option);
        if (base > 0 && base <= 0x10000 - kPortBlockSize) return "";
        return "Port base address \"" + portOption + "\" is not an I/O address (0x1-0xFFF8)";
    }
    return "Unknown port \"" + portOption +
           "\": use lpt1, lpt2, lpt3, a base address such as 0xd010, or /dev/parportN";
}

int HardwarePortBase(Platform& platform, const std::string& portOption, int configBase) {
    if (configBase <= 0) configBase = PortBaseForIndex(0);
    const std::string option = Lower(portOption);
    if (option.empty()) return configBase;
    if (option == "lpt1" || option == "lpt2" || option == "lpt3") return PortBaseForIndex(option[3] - '1');
    if (option.rfind("0x", 0) == 0) {
        const int base = ParseHexBase(option);
        return base <= 0 || base > 0x10000 - kPortBlockSize ? 0 : base;
    }
    if (portOption[0] == '/') {
        if (IsUsbPrinterPath(portOption)) return 0;
        const std::vector<ParallelPortInfo> ports = ListParallelPorts(platform);
        const ParallelPortInfo* info = FindByDevice(ports, portOption);
        return info && info->base > 0 && info->base <= 0x10000 - kPortBlockSize ? info->base : configBase;
    }
    return 0;
}

OpenedPort OpenHardwarePort(const std::string& portOption, int configBase, bool unlistedConfirmed) {
    return OpenHardwarePort(SystemPlatform(), portOption, configBase, unlistedConfirmed);
}

}  // namespace rombolt
