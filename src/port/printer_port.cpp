#include "port/printer_port.h"

#include "port/port_list.h"

namespace rombolt {

namespace {

enum Offset : std::uint8_t { kData = 0, kStatus = 1, kControl = 2 };

struct PinBit {
    std::uint8_t offset;
    std::uint8_t mask;
    bool inverted;  // the register bit is the opposite of the level on the pin
    bool output;
};

// Pin map of the 25-pin connector. Returns false for pins that do not exist
// (0, 18 and above: the grounds).
bool LookUpPin(std::uint8_t pin, PinBit& bit) {
    if (pin >= 2 && pin <= 9) {
        bit = {kData, static_cast<std::uint8_t>(0x01 << (pin - 2)), false, true};
        return true;
    }
    switch (pin) {
        case 1:
            bit = {kControl, 0x01, true, true};
            return true;  // strobe
        case 10:
            bit = {kStatus, 0x40, false, false};
            return true;  // acknowledge
        case 11:
            bit = {kStatus, 0x80, true, false};
            return true;  // busy
        case 12:
            bit = {kStatus, 0x20, false, false};
            return true;  // paper end
        case 13:
            bit = {kStatus, 0x10, false, false};
            return true;  // select out
        case 14:
            bit = {kControl, 0x02, true, true};
            return true;  // auto feed
        case 15:
            bit = {kStatus, 0x08, false, false};
            return true;  // error
        case 16:
            bit = {kControl, 0x04, false, true};
            return true;  // initialise
        case 17:
            bit = {kControl, 0x08, true, true};
            return true;  // select in
        default:
            return false;
    }
}

}  // namespace

TDLPrinterPortIO::TDLPrinterPortIO(Platform& platform, DLPortEntryPoints* entryPoints)
    : TDLPortIO(platform, entryPoints) {
    DetectPorts();
    SetLPTNumber(1);
}

void TDLPrinterPortIO::DetectPorts() {
    lptNumPorts_ = 0;
    portTable_.fill(0);
    for (const ParallelPortInfo& p : ListParallelPorts(platform_)) {
        if (p.number < 1 || p.number > 8) continue;
        if (p.base <= 0 || p.base > 0xFFFF) continue;  // unknown, or not a port address
        portTable_[p.number] = static_cast<std::uint16_t>(p.base);
        ++lptNumPorts_;
    }
}

void TDLPrinterPortIO::SetLPTNumber(std::uint8_t Number) {
    if (Number < 1 || Number > 8) return;
    lptNumber_ = Number;
    lptBase_ = portTable_[Number];
}

bool TDLPrinterPortIO::GetPin(std::uint8_t Pin) {
    PinBit bit;
    if (!LookUpPin(Pin, bit)) return false;
    const bool set = (GetPortByte(static_cast<unsigned short>(lptBase_ + bit.offset)) & bit.mask) != 0;
    return set != bit.inverted;
}

void TDLPrinterPortIO::SetPin(std::uint8_t Pin, bool State) {
    PinBit bit;
    if (!LookUpPin(Pin, bit) || !bit.output) return;
    const auto address = static_cast<unsigned short>(lptBase_ + bit.offset);
    std::uint8_t value = GetPortByte(address);
    if (State != bit.inverted)
        value = static_cast<std::uint8_t>(value | bit.mask);
    else
        value = static_cast<std::uint8_t>(value & ~bit.mask);
    WritePortByte(address, value);
}

bool TDLPrinterPortIO::LPTPrintChar(char Ch) {
    WritePortByte(static_cast<unsigned short>(lptBase_ + kData), static_cast<std::uint8_t>(Ch));
    WritePortByte(static_cast<unsigned short>(lptBase_ + kControl), 0x0D);
    platform_.SleepMicroseconds(1000);
    WritePortByte(static_cast<unsigned short>(lptBase_ + kControl), 0x0C);
    return (GetPortByte(static_cast<unsigned short>(lptBase_ + kStatus)) & 0x80) != 0;
}

}  // namespace rombolt
