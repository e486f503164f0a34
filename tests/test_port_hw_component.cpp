// The port driver component (open/close life cycle, batches) and the printer
// port component (port table from the kernel's list, pins, printing).
#include <gtest/gtest.h>

#include <array>
#include <cerrno>

#include "port/dlportio.h"
#include "port/printer_port.h"
#include "support/fake_platform.h"

using namespace rombolt;
using Kind = RecordingPort::Kind;
using A = RecordingPort::Access;

namespace {

// Eight registers from 0x378 that keep what is written; status reads give `status`.
class RegisterFile final : public PortBackend {
public:
    std::array<std::uint8_t, 8> regs{};
    std::uint8_t inb(std::uint16_t port) override { return Valid(port) ? regs[port - 0x378] : 0xFF; }
    void outb(std::uint16_t port, std::uint8_t v) override {
        if (Valid(port)) regs[port - 0x378] = v;
    }
    std::uint16_t inw(std::uint16_t port) override {
        return static_cast<std::uint16_t>(inb(port) | inb(port + 1) << 8);
    }
    void outw(std::uint16_t port, std::uint16_t v) override {
        outb(port, static_cast<std::uint8_t>(v));
        outb(static_cast<std::uint16_t>(port + 1), static_cast<std::uint8_t>(v >> 8));
    }

private:
    static bool Valid(std::uint16_t port) { return port >= 0x378 && port < 0x380; }
};

struct ComponentFixture : ::testing::Test {
    test::FakePlatform os;
    RegisterFile regs;
    RecordingPort rec{regs};
    BackendEntryPoints entry{rec};
};

using Perm = test::FakePlatform::PermCall;

TEST_F(ComponentFixture, OpenCloseLifeCycle) {
    {
        TDLPortIO io(os, &entry);
        EXPECT_FALSE(io.ActiveHW());
        EXPECT_EQ(io.LastError(), "");
        EXPECT_FALSE(io.CloseDriver());  // closed: false, nothing asked
        EXPECT_TRUE(os.permCalls.empty());

        io.OpenDriver();
        EXPECT_TRUE(io.ActiveHW());
        io.OpenDriver();  // already open: nothing more
        EXPECT_EQ(os.permCalls, (std::vector<Perm>{{0, 0x10000, true}}));

        EXPECT_TRUE(io.CloseDriver());
        EXPECT_FALSE(io.ActiveHW());
        EXPECT_EQ(os.permCalls.back(), (Perm{0, 0x10000, false}));
        io.OpenDriver();
    }
    // The destructor closed the open component.
    EXPECT_EQ(os.permCalls.size(), 4u);
    EXPECT_EQ(os.permCalls.back(), (Perm{0, 0x10000, false}));
    { TDLPortIO closed(os, &entry); }
    EXPECT_EQ(os.permCalls.size(), 4u);  // a closed one gives nothing back
}

TEST_F(ComponentFixture, RefusedPermissionLeavesItClosedAndThePortUntouched) {
    os.iopermError = EPERM;
    os.ioplError = EPERM;
    TDLPortIO io(os, &entry);
    io.OpenDriver();
    EXPECT_FALSE(io.ActiveHW());
    EXPECT_EQ(io.LastError(), "OpenDriver: Error #1");

    // Port calls on the closed component must not run a port instruction.
    TPortRec recs[2] = {{0x378, 0x55, 1}, {0x379, 0x00, 0}};
    io.PortControl(recs, 2);
    EXPECT_EQ(recs[1].Value, 0xFF);
    TPortCommand cmd{0x378, 0x12345600, PortCmdReadByte};
    io.PortCommand(&cmd, 1);
    EXPECT_EQ(cmd.Data, 0x123456FFu);
    EXPECT_EQ(io.GetPortByte(0x378), 0xFF);
    EXPECT_TRUE(rec.log.empty());
}

TEST_F(ComponentFixture, OlderKernelsAreOpenedWithIopl) {
    os.iopermError = EINVAL;
    TDLPortIO io(os, &entry);
    io.OpenDriver();
    EXPECT_TRUE(io.ActiveHW());
    EXPECT_EQ(os.ioplCalls, (std::vector<int>{3}));
    EXPECT_TRUE(io.CloseDriver());
    EXPECT_EQ(os.ioplCalls, (std::vector<int>{3, 0}));
}

TEST_F(ComponentFixture, BatchesRunInOrderAndSkipUnknownCommands) {
    TDLPortIO io(os, &entry);
    io.OpenDriver();
    regs.regs[1] = 0x87;
    regs.regs[4] = 0x34;
    regs.regs[5] = 0x12;
    TPortCommand cmds[] = {
        {0x378, 0xAA, -1},                      // skipped
        {0x378, 0xFFFFFF5A, PortCmdWriteByte},  // low byte only
        {0x379, 0xABCDEF00, PortCmdReadByte},   // low byte replaced
        {0x37C, 0xABCD0000, PortCmdReadWord},   // low half replaced
        {0x37A, 0x00, 6},                       // skipped
        {0x37C, 0x0000BEEF, PortCmdWriteWord},
        {0x37B, 0x11223344, PortCmdWriteDword},  // two words, low half first
        {0x37C, 0, PortCmdReadDword},
        {0x378, 0, 127},  // skipped
    };
    io.PortCommand(cmds, static_cast<unsigned short>(std::size(cmds)));
    EXPECT_EQ(rec.log, (std::vector<A>{{Kind::OutB, 0x378, 0x5A},
                                       {Kind::InB, 0x379, 0x87},
                                       {Kind::InW, 0x37C, 0x1234},
                                       {Kind::OutW, 0x37C, 0xBEEF},
                                       {Kind::OutW, 0x37B, 0x3344},
                                       {Kind::OutW, 0x37D, 0x1122},
                                       {Kind::InW, 0x37C, 0x2233},
                                       {Kind::InW, 0x37E, 0x0011}}));
    EXPECT_EQ(cmds[0].Data, 0xAAu);
    EXPECT_EQ(cmds[2].Data, 0xABCDEF87u);
    EXPECT_EQ(cmds[3].Data, 0xABCD1234u);
    EXPECT_EQ(cmds[7].Data, 0x00112233u);

    rec.log.clear();
    TPortRec recs[] = {{0x37A, 0x04, 1}, {0x37A, 0x00, 0}, {0x378, 0x99, 1}};
    io.PortControl(recs, 3);
    EXPECT_EQ(rec.log, (std::vector<A>{
                           {Kind::OutB, 0x37A, 0x04}, {Kind::InB, 0x37A, 0x04}, {Kind::OutB, 0x378, 0x99}}));
    EXPECT_EQ(recs[1].Value, 0x04);
    EXPECT_EQ(io.GetPortByte(0x378), 0x99);
}

TEST(PrinterPortDetection, PortTableFromTheKernelsList) {
    test::FakePlatform none;
    TDLPrinterPortIO empty(none);
    EXPECT_EQ(empty.LPTNumPorts(), 0);
    EXPECT_EQ(empty.LPTBasePort(), 0);
    EXPECT_EQ(empty.LPTNumber(), 1);

    test::FakePlatform os;
    os.AddKernelPort(0, 0x378, "PCSPP");
    os.AddKernelPort(1, 0xD010, "PCSPP,EPP");
    os.files["/proc/sys/dev/parport/parport2/base-addr"] = "oops\n";  // base unknown: left out
    for (int n = 3; n <= 9; ++n) os.AddKernelPort(n, 0x1000 + n * 0x10, "PCSPP");
    TDLPrinterPortIO io(os);
    EXPECT_EQ(io.PortTable()[1], 0x378);
    EXPECT_EQ(io.PortTable()[2], 0xD010);
    EXPECT_EQ(io.PortTable()[3], 0);
    EXPECT_EQ(io.PortTable()[8], 0x1070);  // parport7 is the eighth port listed
    EXPECT_EQ(io.GetLPTNumPorts(), 7);     // LPT1, 2, 4..8; parport8 and 9 are beyond LPT8
    EXPECT_EQ(io.GetLPTBasePort(), 0x378);

    io.SetLPTNumber(2);
    EXPECT_EQ(io.LPTNumber(), 2);
    EXPECT_EQ(io.LPTBasePort(), 0xD010);
    io.SetLPTNumber(0);
    io.SetLPTNumber(9);
    EXPECT_EQ(io.LPTNumber(), 2);
    EXPECT_EQ(io.LPTBasePort(), 0xD010);
    io.SetLPTNumber(3);  // a number without a port selects base 0
    EXPECT_EQ(io.LPTBasePort(), 0);
}

struct PinFixture : ComponentFixture {
    std::unique_ptr<TDLPrinterPortIO> io;
    void SetUp() override {
        os.AddKernelPort(0, 0x378, "PCSPP,TRISTATE");
        io = std::make_unique<TDLPrinterPortIO>(os, &entry);
        io->OpenDriver();
        ASSERT_TRUE(io->ActiveHW());
    }
};

TEST_F(PinFixture, InputPinsAndInversions) {
    regs.regs[1] = 0x00;
    EXPECT_TRUE(io->GetPin(TDLPrinterPortIO::BUSY_PIN));  // busy is inverted
    EXPECT_FALSE(io->GetPin(TDLPrinterPortIO::ACK_PIN));
    regs.regs[1] = 0x80;
    EXPECT_FALSE(io->GetPin(11));
    regs.regs[1] = 0x40;
    EXPECT_TRUE(io->GetPin(10));
    regs.regs[1] = 0x38;
    EXPECT_TRUE(io->GetPin(TDLPrinterPortIO::PAPEREND_PIN));
    EXPECT_TRUE(io->GetPin(TDLPrinterPortIO::SELECTOUT_PIN));
    EXPECT_TRUE(io->GetPin(TDLPrinterPortIO::ERROR_PIN));
    regs.regs[0] = 0x81;
    EXPECT_TRUE(io->GetPin(2));
    EXPECT_FALSE(io->GetPin(3));
    EXPECT_TRUE(io->GetPin(9));
    // Each pin read is exactly one read of its register.
    EXPECT_EQ(rec.log.back(), (A{Kind::InB, 0x378, 0x81}));

    rec.log.clear();
    EXPECT_FALSE(io->GetPin(0));
    EXPECT_FALSE(io->GetPin(18));
    EXPECT_FALSE(io->GetPin(255));
    EXPECT_TRUE(rec.log.empty());
}

TEST_F(PinFixture, OutputPinsChangeOnlyTheirBit) {
    regs.regs[2] = 0xF0;
    io->SetPin(17, true);  // select in is inverted: the bit clears
    EXPECT_TRUE(io->GetPin(17));
    EXPECT_EQ(regs.regs[2] & 0x08, 0);
    io->SetPin(17, false);
    EXPECT_EQ(regs.regs[2], 0xF8);
    io->SetPin(TDLPrinterPortIO::STROBE_PIN, false);
    EXPECT_EQ(regs.regs[2], 0xF9);
    io->SetPin(TDLPrinterPortIO::STROBE_PIN, true);
    EXPECT_EQ(regs.regs[2], 0xF8);
    io->SetPin(TDLPrinterPortIO::INIT_PIN, true);  // not inverted: the bit sets
    EXPECT_EQ(regs.regs[2], 0xFC);
    io->SetPin(TDLPrinterPortIO::AUTOFD_PIN, false);
    EXPECT_EQ(regs.regs[2], 0xFE);
    EXPECT_FALSE(io->GetPin(14));

    regs.regs[0] = 0xFF;
    io->SetPin(5, false);
    EXPECT_EQ(regs.regs[0], 0xF7);
    rec.log.clear();
    io->SetPin(9, true);
    EXPECT_EQ(rec.log, (std::vector<A>{{Kind::InB, 0x378, 0xF7}, {Kind::OutB, 0x378, 0xF7 | 0x80}}));

    // Inputs and missing pins change nothing.
    rec.log.clear();
    for (std::uint8_t pin : {0, 10, 11, 12, 13, 15, 18}) io->SetPin(pin, true);
    EXPECT_TRUE(rec.log.empty());
}

TEST_F(PinFixture, PrintCharStrobesWaitsAndTestsBusy) {
    regs.regs[1] = 0x80;
    EXPECT_TRUE(io->LPTPrintChar('A'));
    EXPECT_EQ(rec.log, (std::vector<A>{{Kind::OutB, 0x378, 'A'},
                                       {Kind::OutB, 0x37A, 0x0D},
                                       {Kind::OutB, 0x37A, 0x0C},
                                       {Kind::InB, 0x379, 0x80}}));
    EXPECT_EQ(os.sleeps, (std::vector<unsigned>{1000}));
    regs.regs[1] = 0x7F;  // busy
    EXPECT_FALSE(io->LPTPrintChar('\xE9'));
    EXPECT_EQ(regs.regs[0], 0xE9);
}

}  // namespace
