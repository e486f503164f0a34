// Link transfer primitives: the address and data cycles between the PC and the
// adapter, in SPP (software-strobed, nibble reads) and EPP (hardware cycles)
// forms. The form of every call is chosen from SppMode and SpeedIndex at the
// time of the call.
#pragma once

#include <cstdint>

#include "core/state.h"

namespace rombolt {

// Control register values used by the cycles.
inline constexpr std::uint8_t kCtlSelect = 0x01;      // resting value between writes
inline constexpr std::uint8_t kCtlAddrStrobe = 0x09;  // SPP address strobe
inline constexpr std::uint8_t kCtlDataStrobe = 0x03;  // SPP data strobe
inline constexpr std::uint8_t kCtlRead = 0x00;        // before/after reads
inline constexpr std::uint8_t kCtlNibbleLow = 0x02;   // low half on status bits 3-6
inline constexpr std::uint8_t kCtlNibbleHigh = 0x06;  // high half on status bits 3-6

// Cycles.
void SppWriteAddress(CoreState& s, std::uint8_t reg);
void SppWriteData(CoreState& s, std::uint8_t value);
std::uint8_t SppReadByte(CoreState& s);
void EppWriteAddress(CoreState& s, std::uint8_t reg);

// The six operations every higher layer uses.
void SelectRegister(CoreState& s, std::uint8_t reg);
void WriteRegister(CoreState& s, std::uint8_t reg, std::uint8_t value);
void WriteDataByte(CoreState& s, std::uint8_t value);
void WriteDataWord(CoreState& s, std::uint16_t word);
std::uint8_t ReadDataByte(CoreState& s);
std::uint16_t ReadDataWord(CoreState& s);

// Direct control register write (callers write 0x00 before a run of reads).
inline void WriteControl(CoreState& s, std::uint8_t value) { outportb(*s.Port, s.Link.ControlPort, value); }

}  // namespace rombolt
