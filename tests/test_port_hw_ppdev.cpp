// The ppdev back end: every register access becomes the right device call,
// EPP cycles set the right mode, failures are named, and the port is handed
// back cleanly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
// The ppdev header needs the ioctl number macros above.
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

#include "app/app_state.h"
#include "link/detect.h"
#include "link/link.h"
#include "port/ppdev.h"
#include "support/fake_frontend.h"
#include "support/fake_platform.h"

using namespace rombolt;
using test::DeviceCall;
using Op = DeviceCall::Op;

namespace {

constexpr int kBase = 0x378;
constexpr int kEppModes = PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE | PARPORT_MODE_EPP;
constexpr int kAddrMode = IEEE1284_MODE_EPP | IEEE1284_ADDR;

DeviceCall Ioctl(unsigned long request, int value = -1) { return {Op::Ioctl, request, value}; }
bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
DeviceCall Write(int byte) { return {Op::Write, 0, byte}; }
DeviceCall Read(int byte) { return {Op::Read, 0, byte}; }

struct PpdevFixture : ::testing::Test {
    test::FakePlatform os;
    test::FakeDevice* dev = nullptr;
    std::unique_ptr<PpdevPort> port;

    void Open(unsigned modes = kEppModes) {
        dev = &os.devices["/dev/parport0"];
        dev->modes = modes;
        std::string message;
        port = PpdevPort::Open(os, "/dev/parport0", kBase, message);
        ASSERT_TRUE(port) << message;
        EXPECT_EQ(message, "");
        dev->calls.clear();
    }
    // The calls one step makes.
    template <typename F>
    std::vector<DeviceCall> CallsOf(F step) {
        dev->calls.clear();
        step();
        return dev->calls;
    }
};

TEST_F(PpdevFixture, OpenClaimsNonBlockingAndAsksForTheModes) {
    dev = &os.devices["/dev/parport0"];
    dev->modes = kEppModes;
    std::string message;
    port = PpdevPort::Open(os, "/dev/parport0", kBase, message);
    ASSERT_TRUE(port);
    EXPECT_EQ(dev->calls, (std::vector<DeviceCall>{Ioctl(PPCLAIM), Ioctl(PPGETMODES)}));
    EXPECT_EQ(os.openFlags & O_ACCMODE, O_RDWR);
    EXPECT_TRUE(os.openFlags & O_NONBLOCK);  // an unanswered EPP read must not hang in the driver
    EXPECT_TRUE(port->HasEpp());
    EXPECT_EQ(port->Name(), "/dev/parport0 (ppdev)");
}

TEST_F(PpdevFixture, SppRegistersMapToTheirIoctls) {
    Open();
    EXPECT_EQ(CallsOf([&] { port->outb(kBase, 0x5A); }), (std::vector<DeviceCall>{Ioctl(PPWDATA, 0x5A)}));
    EXPECT_EQ(CallsOf([&] { port->outb(kBase + 2, 0x09); }),
              (std::vector<DeviceCall>{Ioctl(PPWCONTROL, 0x09)}));
    dev->status = 0x87;
    std::uint8_t v = 0;
    EXPECT_EQ(CallsOf([&] { v = port->inb(kBase + 1); }), (std::vector<DeviceCall>{Ioctl(PPRSTATUS, 0x87)}));
    EXPECT_EQ(v, 0x87);
    EXPECT_EQ(CallsOf([&] { v = port->inb(kBase); }), (std::vector<DeviceCall>{Ioctl(PPRDATA, 0x5A)}));
    EXPECT_EQ(v, 0x5A);
    EXPECT_EQ(CallsOf([&] { v = port->inb(kBase + 2); }), (std::vector<DeviceCall>{Ioctl(PPRCONTROL, 0x09)}));
    EXPECT_EQ(v, 0x09);
    // The EPP time-out clear has no ioctl: the driver does it.
    EXPECT_TRUE(CallsOf([&] { port->outb(kBase + 1, 0x01); }).empty());
    // Outside the eight registers of the port: nothing reaches the device.
    EXPECT_TRUE(CallsOf([&] { port->outb(kBase + 8, 1); }).empty());
    EXPECT_TRUE(CallsOf([&] { v = port->inb(kBase - 1); }).empty());
    EXPECT_EQ(v, 0xFF);
}

TEST_F(PpdevFixture, EppCyclesSetTheModeThenMoveOneByte) {
    Open();
    // Address cycle.
    EXPECT_EQ(CallsOf([&] { port->outb(kBase + 3, 0x02); }),
              (std::vector<DeviceCall>{Ioctl(PPSETMODE, kAddrMode), Write(0x02)}));
    // Data byte: the mode changes back to data cycles.
    EXPECT_EQ(CallsOf([&] { port->outb(kBase + 4, 0x55); }),
              (std::vector<DeviceCall>{Ioctl(PPSETMODE, IEEE1284_MODE_EPP), Write(0x55)}));
    // A word is two data cycles, low byte first; the mode is already set.
    EXPECT_EQ(CallsOf([&] { port->outw(kBase + 4, 0x1234); }),
              (std::vector<DeviceCall>{Write(0x34), Write(0x12)}));
    dev->reads = {0xCD, 0xAB};
    std::uint16_t w = 0;
    EXPECT_EQ(CallsOf([&] { w = port->inw(kBase + 4); }), (std::vector<DeviceCall>{Read(0xCD), Read(0xAB)}));
    EXPECT_EQ(w, 0xABCD);
    // Reading the address register switches to address cycles again.
    dev->reads = {0x03};
    std::uint8_t b = 0;
    EXPECT_EQ(CallsOf([&] { b = port->inb(kBase + 3); }),
              (std::vector<DeviceCall>{Ioctl(PPSETMODE, kAddrMode), Read(0x03)}));
    EXPECT_EQ(b, 0x03);
}

TEST_F(PpdevFixture, LinkOperationsOverTheDeviceAtEachSpeed) {
    Open();
    AppState s;
    s.Port = port.get();
    ApplyPortSelection(s);
    s.Link.SppMode = 0;
    s.Config.SpeedIndex = 0;
    // SelectRegister: C := 0x01, then the EPP address cycle.
    EXPECT_EQ(CallsOf([&] { SelectRegister(s, 3); }),
              (std::vector<DeviceCall>{Ioctl(PPWCONTROL, 0x01), Ioctl(PPWCONTROL, 0x01),
                                       Ioctl(PPSETMODE, kAddrMode), Write(0x03)}));
    // Speed "4": the one 16-bit EPP access becomes two data cycles, low first.
    EXPECT_EQ(CallsOf([&] { WriteDataWord(s, 0x1234); }),
              (std::vector<DeviceCall>{Ioctl(PPSETMODE, IEEE1284_MODE_EPP), Write(0x34), Write(0x12)}));
    // Speed "2": data writes use SPP strobes on the data and control registers.
    s.Config.SpeedIndex = 2;
    EXPECT_EQ(
        CallsOf([&] { WriteDataByte(s, 0x77); }),
        (std::vector<DeviceCall>{Ioctl(PPWDATA, 0x77), Ioctl(PPWCONTROL, 0x03), Ioctl(PPWCONTROL, 0x01)}));
    // SPP nibble read: the status register twice.
    s.Link.SppMode = 1;
    dev->status = 0x48;
    EXPECT_EQ(
        CallsOf([&] { ReadDataByte(s); }),
        (std::vector<DeviceCall>{Ioctl(PPWCONTROL, 0x00), Ioctl(PPWCONTROL, 0x02), Ioctl(PPRSTATUS, 0x48),
                                 Ioctl(PPWCONTROL, 0x06), Ioctl(PPRSTATUS, 0x48), Ioctl(PPWCONTROL, 0x00)}));
}

// An adapter that answers EPP cycles: address cycles select a register,
// data cycles write or read it.
struct EppRegisterFile {
    std::array<int, 256> regs{};
    int selected = 0;
    int operator()(int mode, int written) {
        if (mode & IEEE1284_ADDR) {
            if (written >= 0) selected = written;
            return selected;
        }
        if (written >= 0) {
            regs[selected] = written;
            return 0;
        }
        return regs[selected];
    }
};

TEST_F(PpdevFixture, AdapterIsDetectedInEppOnlyWhenThePortOffersEpp) {
    for (const bool epp : {true, false}) {
        SCOPED_TRACE(epp ? "EPP port" : "SPP-only port");
        Open(epp ? kEppModes : PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE);
        dev->epp = EppRegisterFile{};
        AppState s;
        test::FakeFrontend ui(s);
        s.UI = &ui;
        s.Port = port.get();
        ApplyPortSelection(s);
        if (epp) {
            EXPECT_EQ(DetectAdapter(s), 0);
            EXPECT_EQ(s.Link.SppMode, 0);
            EXPECT_EQ(ui.panels[0], "EPP");
        } else {
            EXPECT_EQ(DetectAdapter(s), 1);
            EXPECT_TRUE(ui.Logged("No Adaptor Found!"));
            // EPP cycles never reached the device.
            for (const auto& c : dev->calls) EXPECT_NE(c.op, Op::Write);
        }
        port.reset();
    }
}

TEST_F(PpdevFixture, TimeoutsReadAsAnEmptyPortButErrorsAreKept) {
    Open();
    // No answer to an EPP read (EAGAIN): an empty port, not a failure.
    EXPECT_EQ(port->inb(kBase + 4), 0xFF);
    EXPECT_EQ(port->Failure(), "");
    // A real error is kept, the first one only.
    dev->reads = {-EIO};
    EXPECT_EQ(port->inb(kBase + 4), 0xFF);
    dev->failingRequest = PPRSTATUS;
    dev->failingErrno = ENODEV;
    EXPECT_EQ(port->inb(kBase + 1), 0xFF);
    EXPECT_EQ(port->Failure(), "read on /dev/parport0 failed (Input/output error)");
}

TEST_F(PpdevFixture, FailedModeChangeIsRetriedOnTheNextCycle) {
    Open();
    dev->failingRequest = PPSETMODE;
    dev->failingErrno = EINVAL;
    EXPECT_EQ(CallsOf([&] { port->outb(kBase + 4, 1); }), (std::vector<DeviceCall>{Ioctl(PPSETMODE)}));
    dev->failingRequest = 0;
    EXPECT_EQ(CallsOf([&] { port->outb(kBase + 4, 2); }),
              (std::vector<DeviceCall>{Ioctl(PPSETMODE, IEEE1284_MODE_EPP), Write(2)}));
    EXPECT_EQ(port->Failure(), "PPSETMODE on /dev/parport0 failed (Invalid argument)");
}

TEST_F(PpdevFixture, ClosingReturnsToCompatibilityModeAndReleases) {
    Open();
    port->outb(kBase, 1);
    EXPECT_EQ(CallsOf([&] { port.reset(); }),
              (std::vector<DeviceCall>{Ioctl(PPRELEASE), DeviceCall{Op::Close, 0, -1}}));
    Open();
    port->outb(kBase + 3, 1);
    EXPECT_EQ(CallsOf([&] { port.reset(); }),
              (std::vector<DeviceCall>{Ioctl(PPSETMODE, IEEE1284_MODE_COMPAT), Ioctl(PPRELEASE),
                                       DeviceCall{Op::Close, 0, -1}}));
    EXPECT_FALSE(dev->open);
}

TEST(PpdevOpen, FailuresNameTheCauseAndTheFix) {
    test::FakePlatform os;
    std::string message;
    EXPECT_FALSE(PpdevPort::Open(os, "/dev/parport3", kBase, message));
    EXPECT_EQ(
        message,
        "/dev/parport3 does not exist: load the parallel port drivers (`sudo modprobe parport_pc ppdev`)");

    os.devices["/dev/parport0"].openError = EACCES;
    EXPECT_FALSE(PpdevPort::Open(os, "/dev/parport0", kBase, message));
    EXPECT_EQ(
        message,
        "Permission denied on /dev/parport0: join the lp group (`sudo usermod -aG lp $USER`, then log out "
        "and in again)");

    auto& noPort = os.devices["/dev/parport1"];
    noPort.claimError = ENXIO;
    EXPECT_FALSE(PpdevPort::Open(os, "/dev/parport1", kBase, message));
    EXPECT_NE(message.find("has no parallel port behind it"), std::string::npos);
    EXPECT_EQ(noPort.calls.back().op, Op::Close);  // the descriptor is not leaked
    EXPECT_FALSE(noPort.open);

    auto& interrupted = os.devices["/dev/parport2"];
    interrupted.claimError = EBUSY;
    EXPECT_FALSE(PpdevPort::Open(os, "/dev/parport2", kBase, message));
    EXPECT_EQ(message, "Cannot claim /dev/parport2 (Device or resource busy)");

    // In the group, but the node's mode leaves the group out.
    os.devices["/dev/parport0"].openError = EACCES;
    os.stats["/dev/parport0"] = {020600, 0, 7};
    os.files["/etc/group"] = "root:x:0:\nlp:x:7:someone\n";
    os.groups = {7};
    EXPECT_FALSE(PpdevPort::Open(os, "/dev/parport0", kBase, message));
    EXPECT_EQ(
        message,
        "Permission denied on /dev/parport0: its mode 0600 lets only root open it, not its group lp that "
        "you are in; make it group-writable (`sudo chmod 660 /dev/parport0`, and a udev rule to keep it "
        "so)");

    // A node without its driver names the modules that are missing.
    auto& stale = os.devices["/dev/parport4"];
    stale.openError = ENXIO;
    EXPECT_FALSE(PpdevPort::Open(os, "/dev/parport4", kBase, message));
    EXPECT_EQ(message,
              "/dev/parport4 has no driver behind it (neither parport_pc nor ppdev is loaded): load them "
              "(`sudo modprobe parport_pc ppdev`)");
    os.AddKernelPort(0, 0x378, "PCSPP", false);
    EXPECT_FALSE(PpdevPort::Open(os, "/dev/parport4", kBase, message));
    EXPECT_EQ(message,
              "/dev/parport4 has no driver behind it (ppdev is not loaded): load it (`sudo modprobe ppdev`)");
    os.files["/proc/devices"] = "Character devices:\n  1 mem\n 99 ppdev\n";
    EXPECT_FALSE(PpdevPort::Open(os, "/dev/parport4", kBase, message));
    EXPECT_TRUE(Contains(message, "has no parallel port behind it")) << message;
}

TEST(PpdevOpen, APortSomeoneHoldsIsRefusedAndAClaimNeverWaitsLong) {
    test::FakePlatform os;
    auto* dev = os.AddKernelPort(0, kBase, "PCSPP,TRISTATE,EPP");
    const std::string active = "/proc/sys/dev/parport/parport0/devices/active";
    os.files[active] = "ppdev0\n";
    os.links["/proc/self"] = "99";
    os.links["/proc/57/fd/3"] = "/dev/parport0";
    os.files["/proc/57/comm"] = "holder\n";
    os.links["/proc/99/fd/4"] = "/dev/parport0";  // this program itself
    std::string message;
    EXPECT_FALSE(PpdevPort::Open(os, "/dev/parport0", kBase, message));
    EXPECT_EQ(
        message,
        "/dev/parport0 is in use by ppdev0 (program holder, PID 57): close that program, then try again");
    EXPECT_TRUE(dev->calls.empty());  // never opened, so never waiting in the kernel

    // Free when looked at, taken before the claim: the claim gives up in time.
    os.files[active] = "none\n";
    dev->claimWaits = true;
    EXPECT_FALSE(PpdevPort::Open(os, "/dev/parport0", kBase, message));
    EXPECT_EQ(os.timeouts, std::vector<unsigned>{kPpdevClaimTimeoutMs});
    EXPECT_EQ(
        message,
        "Cannot claim /dev/parport0: another program holds it and did not let go within 2 s; close that "
        "program, then try again");
    EXPECT_FALSE(dev->open);

    dev->claimWaits = false;
    EXPECT_TRUE(PpdevPort::Open(os, "/dev/parport0", kBase, message)) << message;
}

TEST(PpdevOpen, TheTimeoutInterruptsAWaitingCallAndPutsTheSignalBack) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    struct sigaction before {};
    sigaction(SIGALRM, nullptr, &before);
    char c;
    // A read of an empty pipe waits for ever; here it returns EINTR.
    EXPECT_EQ(CallWithTimeout(50, [&] { return read(fds[0], &c, 1) < 0 ? -errno : 0; }), -EINTR);
    // A call that does not wait just returns, and no alarm comes later.
    EXPECT_EQ(CallWithTimeout(50, [] { return 7; }), 7);
    usleep(200000);
    struct sigaction after {};
    sigaction(SIGALRM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
