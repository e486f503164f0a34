#include "port/dlportio.h"

#include "port/direct_io.h"

namespace rombolt {

namespace {

constexpr unsigned long kAllPorts = 0x10000;

class ProcessorInstructions final : public DLPortEntryPoints {
public:
    std::uint8_t DlPortReadPortUchar(std::uint32_t port) override { return portinsn::In8(Port(port)); }
    std::uint16_t DlPortReadPortUshort(std::uint32_t port) override { return portinsn::In16(Port(port)); }
    std::uint32_t DlPortReadPortUlong(std::uint32_t port) override { return portinsn::In32(Port(port)); }
    void DlPortWritePortUchar(std::uint32_t port, std::uint8_t value) override {
        portinsn::Out8(Port(port), value);
    }
    void DlPortWritePortUshort(std::uint32_t port, std::uint16_t value) override {
        portinsn::Out16(Port(port), value);
    }
    void DlPortWritePortUlong(std::uint32_t port, std::uint32_t value) override {
        portinsn::Out32(Port(port), value);
    }

private:
    static std::uint16_t Port(std::uint32_t port) { return static_cast<std::uint16_t>(port); }
};

}  // namespace

DLPortEntryPoints& ProcessorPortInstructions() {
    static ProcessorInstructions instructions;
    return instructions;
}

std::uint8_t BackendEntryPoints::DlPortReadPortUchar(std::uint32_t port) {
    return backend_.inb(static_cast<std::uint16_t>(port));
}
std::uint16_t BackendEntryPoints::DlPortReadPortUshort(std::uint32_t port) {
    return backend_.inw(static_cast<std::uint16_t>(port));
}
std::uint32_t BackendEntryPoints::DlPortReadPortUlong(std::uint32_t port) {
    const std::uint32_t lo = backend_.inw(static_cast<std::uint16_t>(port));
    const std::uint32_t hi = backend_.inw(static_cast<std::uint16_t>(port + 2));
    return lo | (hi << 16);
}
void BackendEntryPoints::DlPortWritePortUchar(std::uint32_t port, std::uint8_t value) {
    backend_.outb(static_cast<std::uint16_t>(port), value);
}
void BackendEntryPoints::DlPortWritePortUshort(std::uint32_t port, std::uint16_t value) {
    backend_.outw(static_cast<std::uint16_t>(port), value);
}
void BackendEntryPoints::DlPortWritePortUlong(std::uint32_t port, std::uint32_t value) {
    backend_.outw(static_cast<std::uint16_t>(port), static_cast<std::uint16_t>(value & 0xFFFF));
    backend_.outw(static_cast<std::uint16_t>(port + 2), static_cast<std::uint16_t>(value >> 16));
}

TDLPortIO::TDLPortIO(Platform& platform, DLPortEntryPoints* entryPoints)
    : platform_(platform), entry_(entryPoints ? *entryPoints : ProcessorPortInstructions()) {}

TDLPortIO::~TDLPortIO() {
    if (activeHW_) CloseDriver();
}

void TDLPortIO::OpenDriver() {
    if (activeHW_) return;
    // ioperm reaches every port on current kernels; iopl is the older route.
    int err = platform_.IoPerm(0, kAllPorts, true);
    if (err == 0) {
        grant_ = Grant::IoPerm;
    } else if (platform_.IoPl(3) == 0) {
        grant_ = Grant::IoPl;
    } else {
        lastError_ = "OpenDriver: Error #" + std::to_string(err);
        return;
    }
    activeHW_ = true;
}

bool TDLPortIO::CloseDriver() {
    if (!activeHW_) return false;
    const int err = grant_ == Grant::IoPl ? platform_.IoPl(0) : platform_.IoPerm(0, kAllPorts, false);
    if (err != 0) {
        lastError_ = "CloseDriver: Error #" + std::to_string(err);
        return false;
    }
    grant_ = Grant::None;
    activeHW_ = false;
    return true;
}

void TDLPortIO::PortControl(TPortRec* Ports, unsigned short NumPorts) {
    if (!Ports) return;
    for (unsigned i = 0; i < NumPorts; ++i) {
        TPortRec& r = Ports[i];
        if (r.IsWrite)
            WritePortByte(r.Address, r.Value);
        else
            r.Value = GetPortByte(r.Address);
    }
}

void TDLPortIO::PortCommand(TPortCommand* Ports, unsigned short NumPorts) {
    if (!Ports) return;
    for (unsigned i = 0; i < NumPorts; ++i) {
        TPortCommand& c = Ports[i];
        if (c.Command < PortCmdReadByte || c.Command > PortCmdWriteDword) continue;
        if (!activeHW_) {
            // Without permission a port instruction would kill the process.
            if (c.Command == PortCmdReadByte) c.Data |= 0xFFu;
            if (c.Command == PortCmdReadWord) c.Data |= 0xFFFFu;
            if (c.Command == PortCmdReadDword) c.Data = 0xFFFFFFFFu;
            continue;
        }
        switch (c.Command) {
            case PortCmdReadByte:
                c.Data = (c.Data & ~0xFFu) | entry_.DlPortReadPortUchar(c.Address);
                break;
            case PortCmdReadWord:
                c.Data = (c.Data & ~0xFFFFu) | entry_.DlPortReadPortUshort(c.Address);
                break;
            case PortCmdReadDword:
                c.Data = entry_.DlPortReadPortUlong(c.Address);
                break;
            case PortCmdWriteByte:
                entry_.DlPortWritePortUchar(c.Address, static_cast<std::uint8_t>(c.Data & 0xFF));
                break;
            case PortCmdWriteWord:
                entry_.DlPortWritePortUshort(c.Address, static_cast<std::uint16_t>(c.Data & 0xFFFF));
                break;
            case PortCmdWriteDword:
                entry_.DlPortWritePortUlong(c.Address, c.Data);
                break;
            default:
                break;
        }
    }
}

std::uint8_t TDLPortIO::GetPortByte(unsigned short Address) {
    return activeHW_ ? entry_.DlPortReadPortUchar(Address) : 0xFF;
}

void TDLPortIO::WritePortByte(unsigned short Address, std::uint8_t Value) {
    if (activeHW_) entry_.DlPortWritePortUchar(Address, Value);
}

}  // namespace rombolt
