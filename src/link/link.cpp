#include "link/link.h"

namespace rombolt {

namespace {
inline void C(CoreState& s, std::uint8_t v) { outportb(*s.Port, s.Link.ControlPort, v); }
inline void D(CoreState& s, std::uint8_t v) { outportb(*s.Port, s.Link.DataPort, v); }
// Register and data writes take the SPP form in SPP mode, and in EPP mode at
// speeds "2" and "1" (SpeedIndex above 1).
inline bool SppWrites(const CoreState& s) { return s.Link.SppMode != 0 || s.Config.SpeedIndex > 1; }
}  // namespace

void SppWriteAddress(CoreState& s, std::uint8_t reg) {
    C(s, kCtlSelect);
    D(s, reg);
    C(s, kCtlAddrStrobe);
    C(s, kCtlSelect);
}

void SppWriteData(CoreState& s, std::uint8_t value) {
    D(s, value);
    C(s, kCtlDataStrobe);
    C(s, kCtlSelect);
}

std::uint8_t SppReadByte(CoreState& s) {
    C(s, kCtlRead);
    C(s, kCtlNibbleLow);
    const std::uint8_t s1 = inportb(*s.Port, s.Link.StatusPort);
    C(s, kCtlNibbleHigh);
    const std::uint8_t s2 = inportb(*s.Port, s.Link.StatusPort);
    C(s, kCtlRead);
    return static_cast<std::uint8_t>(((s2 << 1) & 0xF0) | ((s1 >> 3) & 0x0F));
}

void EppWriteAddress(CoreState& s, std::uint8_t reg) {
    C(s, kCtlSelect);
    outportb(*s.Port, s.Link.EppAddressPort, reg);
}

void SelectRegister(CoreState& s, std::uint8_t reg) {
    C(s, kCtlSelect);
    if (s.Link.SppMode)
        SppWriteAddress(s, reg);
    else
        EppWriteAddress(s, reg);
}

void WriteRegister(CoreState& s, std::uint8_t reg, std::uint8_t value) {
    if (SppWrites(s)) {
        SppWriteAddress(s, reg);
        SppWriteData(s, value);
    } else {
        EppWriteAddress(s, reg);
        outportb(*s.Port, s.Link.EppDataPort, value);
    }
}

void WriteDataByte(CoreState& s, std::uint8_t value) {
    if (SppWrites(s))
        SppWriteData(s, value);
    else
        outportb(*s.Port, s.Link.EppDataPort, value);
}

void WriteDataWord(CoreState& s, std::uint16_t word) {
    const auto lo = static_cast<std::uint8_t>(word & 0xFF);
    const auto hi = static_cast<std::uint8_t>(word >> 8);
    if (SppWrites(s)) {
        SppWriteData(s, lo);
        SppWriteData(s, hi);
    } else if (s.Config.SpeedIndex == 1) {
        outportb(*s.Port, s.Link.EppDataPort, lo);
        outportb(*s.Port, s.Link.EppDataPort, hi);
    } else {
        outport(*s.Port, s.Link.EppDataPort, word);
    }
}

std::uint8_t ReadDataByte(CoreState& s) {
    if (s.Link.SppMode) return SppReadByte(s);
    return inportb(*s.Port, s.Link.EppDataPort);
}

std::uint16_t ReadDataWord(CoreState& s) {
    if (s.Link.SppMode) {
        const std::uint8_t lo = SppReadByte(s);
        const std::uint8_t hi = SppReadByte(s);
        return static_cast<std::uint16_t>(lo | (hi << 8));
    }
    if (s.Config.SpeedIndex <= 0) return static_cast<std::uint16_t>(inport(*s.Port, s.Link.EppDataPort));
    const std::uint8_t lo = inportb(*s.Port, s.Link.EppDataPort);
    const std::uint8_t hi = inportb(*s.Port, s.Link.EppDataPort);
    return static_cast<std::uint16_t>(lo | (hi << 8));
}

}  // namespace rombolt
