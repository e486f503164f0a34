#include "link/cartbus.h"

#include "link/link.h"

namespace rombolt {

void SetCartAddress(CoreState& s, std::uint32_t address) {
    WriteRegister(s, kRegAddr2, static_cast<std::uint8_t>((address >> 16) & 0xFF));
    WriteRegister(s, kRegAddr1, static_cast<std::uint8_t>((address >> 8) & 0xFF));
    WriteRegister(s, kRegAddr0, static_cast<std::uint8_t>(address & 0xFF));
}

void WriteCartWord(CoreState& s, std::uint32_t address, std::uint16_t word) {
    SetCartAddress(s, address);
    SelectRegister(s, kRegData);
    WriteDataWord(s, word);
}

namespace {
void SetMode(CoreState& s, std::uint8_t eppValue) {
    WriteRegister(s, kRegMode, s.Link.SppMode ? static_cast<std::uint8_t>(eppValue | kSppModeBit) : eppValue);
}
}  // namespace

void SetRomAccess(CoreState& s) { SetMode(s, kRomAccess); }
void SetSaveAccess(CoreState& s) { SetMode(s, kSaveAccess); }
void SetSerialAccess(CoreState& s) { SetMode(s, kSerialAccess); }

void PrepareAdapter(CoreState& s) {
    outportb(*s.Port, s.Link.StatusPort, 0x01);
    SetRomAccess(s);
}

void CartUnlockSequence(CoreState& s) {
    SetRomAccess(s);
    WriteCartWord(s, 0x987654, 0x5354);
    for (int i = 0; i < 500; ++i) WriteCartWord(s, 0x012345, 0x1234);
    WriteCartWord(s, 0x007654, 0x5354);
    WriteCartWord(s, 0x012345, 0x5354);
    for (int i = 0; i < 500; ++i) WriteCartWord(s, 0x012345, 0x5678);
    WriteCartWord(s, 0x987654, 0x5354);
    WriteCartWord(s, 0x012345, 0x5354);
    WriteCartWord(s, 0x765400, 0x5678);
    WriteCartWord(s, 0x013450, 0x1234);
    for (int i = 0; i < 500; ++i) WriteCartWord(s, 0x012345, 0xABCD);
    WriteCartWord(s, 0x987654, 0x5354);
}

void OpenFlashAccess(CoreState& s) {
    CartUnlockSequence(s);
    WriteCartWord(s, kFlashAccessAddr, kFlashAccessWord);
}

void SelectSaveBank(CoreState& s, std::int8_t b) {
    if (b > 7 || b < 0) return;
    CartUnlockSequence(s);
    WriteCartWord(s, kSaveBankAddr, static_cast<std::uint16_t>(b >> 1));
}

}  // namespace rombolt
