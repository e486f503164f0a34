// TDLPrinterPortIO: the port I/O driver component with knowledge of the
// machine's printer ports. At construction it takes the base address of each
// port from the kernel's list (LPT1 = the first port the kernel lists, and so
// on up to LPT8); then one port is selected by number and its 17 signal pins
// are read and driven by pin number, or one character is sent to a printer.
// Nothing in the program creates one; it is here for other users of TDLPortIO.
#pragma once

#include <array>
#include <cstdint>

#include "port/dlportio.h"

namespace rombolt {

class TDLPrinterPortIO : public TDLPortIO {
public:
    static constexpr std::uint8_t STROBE_PIN = 1;
    static constexpr std::uint8_t ACK_PIN = 10;
    static constexpr std::uint8_t BUSY_PIN = 11;
    static constexpr std::uint8_t PAPEREND_PIN = 12;
    static constexpr std::uint8_t SELECTOUT_PIN = 13;
    static constexpr std::uint8_t AUTOFD_PIN = 14;
    static constexpr std::uint8_t ERROR_PIN = 15;
    static constexpr std::uint8_t INIT_PIN = 16;
    static constexpr std::uint8_t SELECTIN_PIN = 17;
    static constexpr std::uint8_t BIT0 = 0x01, BIT1 = 0x02, BIT2 = 0x04, BIT3 = 0x08;
    static constexpr std::uint8_t BIT4 = 0x10, BIT5 = 0x20, BIT6 = 0x40, BIT7 = 0x80;

    // Detects the ports and selects LPT1 (base 0 when the kernel lists none).
    explicit TDLPrinterPortIO(Platform& platform = SystemPlatform(),
                              DLPortEntryPoints* entryPoints = nullptr);

    // Fills the port table from the kernel's parallel port list. Ports whose
    // base the kernel does not give, or that lie beyond LPT8, are left out.
    void DetectPorts();

    // Selects port n (1..8); other numbers are ignored.
    void SetLPTNumber(std::uint8_t Number);
    std::uint8_t LPTNumber() const { return lptNumber_; }
    std::uint8_t GetLPTNumPorts() const { return lptNumPorts_; }
    std::uint8_t LPTNumPorts() const { return lptNumPorts_; }
    std::uint16_t GetLPTBasePort() const { return lptBase_; }
    std::uint16_t LPTBasePort() const { return lptBase_; }
    // Entry n is the base of LPTn (n = 1..8), 0 when not found; entry 0 is unused.
    const std::array<std::uint16_t, 9>& PortTable() const { return portTable_; }

    // Pin level (true = high). Pins 0 and above 17 are false without a port access.
    bool GetPin(std::uint8_t Pin);
    // Drives an output pin (1..9, 14, 16, 17) by read-modify-write of its
    // register; input pins and other numbers change nothing.
    void SetPin(std::uint8_t Pin, bool State);
    // Data, strobe 0x0D, 1 ms, 0x0C; true when the printer is not busy afterwards.
    bool LPTPrintChar(char Ch);

private:
    std::uint8_t lptNumber_ = 0;
    std::uint16_t lptBase_ = 0;
    std::uint8_t lptNumPorts_ = 0;
    std::array<std::uint16_t, 9> portTable_{};
};

}  // namespace rombolt
