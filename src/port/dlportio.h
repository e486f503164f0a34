// TDLPortIO: the port I/O driver component. It gives port input and output
// to whoever opens it, one access at a time or in batches. On Linux "opening
// the driver" means asking the kernel for port permission (ioperm on all
// ports, or iopl on old kernels), and the accesses are the processor's port
// instructions. The main window owns one instance and never opens it: the
// adapter link has its own back ends (port_open.h).
#pragma once

#include <cstdint>
#include <string>

#include "port/ioport.h"
#include "port/platform.h"

namespace rombolt {

// One record of a PortControl batch.
struct TPortRec {
    std::uint16_t Address = 0;
    std::uint8_t Value = 0;
    std::uint8_t IsWrite = 0;  // nonzero: write Value to the port; zero: read the port into Value
};

// One record of a PortCommand batch.
struct TPortCommand {
    std::uint16_t Address = 0;
    std::uint32_t Data = 0;
    std::int8_t Command = 0;  // see the PortCmd* values; anything else skips the record
};

inline constexpr std::int8_t PortCmdReadByte = 0;    // low byte of Data
inline constexpr std::int8_t PortCmdReadWord = 1;    // low half of Data
inline constexpr std::int8_t PortCmdReadDword = 2;   // all of Data
inline constexpr std::int8_t PortCmdWriteByte = 3;   // low byte of Data
inline constexpr std::int8_t PortCmdWriteWord = 4;   // low 16 bits of Data
inline constexpr std::int8_t PortCmdWriteDword = 5;  // all 32 bits of Data

// The six port calls the component is made of, named after the port driver
// library's entry points.
class DLPortEntryPoints {
public:
    virtual ~DLPortEntryPoints() = default;
    virtual std::uint8_t DlPortReadPortUchar(std::uint32_t port) = 0;
    virtual std::uint16_t DlPortReadPortUshort(std::uint32_t port) = 0;
    virtual std::uint32_t DlPortReadPortUlong(std::uint32_t port) = 0;
    virtual void DlPortWritePortUchar(std::uint32_t port, std::uint8_t value) = 0;
    virtual void DlPortWritePortUshort(std::uint32_t port, std::uint16_t value) = 0;
    virtual void DlPortWritePortUlong(std::uint32_t port, std::uint32_t value) = 0;
};

// The processor's port instructions (on x86; an empty port elsewhere).
DLPortEntryPoints& ProcessorPortInstructions();

// The entry points over a port back end (simulator, recording port, ppdev).
// A 32-bit access becomes two 16-bit accesses, low half first.
class BackendEntryPoints final : public DLPortEntryPoints {
public:
    explicit BackendEntryPoints(PortBackend& backend) : backend_(backend) {}
    std::uint8_t DlPortReadPortUchar(std::uint32_t port) override;
    std::uint16_t DlPortReadPortUshort(std::uint32_t port) override;
    std::uint32_t DlPortReadPortUlong(std::uint32_t port) override;
    void DlPortWritePortUchar(std::uint32_t port, std::uint8_t value) override;
    void DlPortWritePortUshort(std::uint32_t port, std::uint16_t value) override;
    void DlPortWritePortUlong(std::uint32_t port, std::uint32_t value) override;

private:
    PortBackend& backend_;
};

class TDLPortIO {
public:
    // Closed after construction. entryPoints: where the accesses go once open;
    // null means the processor's port instructions.
    explicit TDLPortIO(Platform& platform = SystemPlatform(), DLPortEntryPoints* entryPoints = nullptr);
    // Closes the component first when it is open.
    virtual ~TDLPortIO();
    TDLPortIO(const TDLPortIO&) = delete;
    TDLPortIO& operator=(const TDLPortIO&) = delete;

    // Asks for permission on every port. Success shows in ActiveHW(); a
    // refusal leaves the component closed and LastError() at
    // "OpenDriver: Error #" and the errno value (1: not root, no CAP_SYS_RAWIO,
    // or a locked-down kernel).
    void OpenDriver();
    // Gives the permission back. False on a closed component (nothing changes)
    // or when the kernel refuses ("CloseDriver: Error #n"; the component stays open).
    bool CloseDriver();

    bool ActiveHW() const { return activeHW_; }
    const std::string& LastError() const { return lastError_; }

    // Run the records in array order. On a closed component no port is
    // touched: reads give 0xFF, writes are dropped.
    void PortControl(TPortRec* Ports, unsigned short NumPorts);
    void PortCommand(TPortCommand* Ports, unsigned short NumPorts);
    std::uint8_t GetPortByte(unsigned short Address);

protected:
    void WritePortByte(unsigned short Address, std::uint8_t Value);
    Platform& platform_;

private:
    enum class Grant : std::uint8_t { None, IoPerm, IoPl };
    DLPortEntryPoints& entry_;
    bool activeHW_ = false;
    Grant grant_ = Grant::None;
    std::string lastError_;
};

}  // namespace rombolt
