// Finding the machine's parallel ports and choosing the back end: the kernel's
// port list, direct I/O when permitted, ppdev otherwise, and a message that
// names the cause and the fix when neither works.
#include <gtest/gtest.h>
#include <linux/parport.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "app/app_state.h"
#include "app/port_session.h"
#include "link/detect.h"
#include "port/direct_io.h"
#include "port/ecr.h"
#include "port/port_list.h"
#include "port/port_lock.h"
#include "port/port_open.h"
#include "support/fake_frontend.h"
#include "support/fake_platform.h"

using namespace rombolt;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(PortList, KernelPortsInOrderWithBaseDeviceAndModes) {
    test::FakePlatform none;
    EXPECT_TRUE(ListParallelPorts(none).empty());

    test::FakePlatform one;
    one.AddKernelPort(0, 0x378, "PCSPP,TRISTATE,EPP");
    auto ports = ListParallelPorts(one);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].number, 1);
    EXPECT_EQ(ports[0].base, 0x378);
    EXPECT_EQ(ports[0].device, "/dev/parport0");
    EXPECT_EQ(ports[0].modes, "PCSPP,TRISTATE,EPP");
    EXPECT_EQ(ports[0].name, "parport0");

    // Three ports, listed out of order, one without a ppdev node; parport10
    // sorts after parport2, and the /proc "default" directory is no port.
    test::FakePlatform three;
    three.AddKernelPort(10, 0xD010, "PCSPP,TRISTATE,COMPAT,EPP,ECP");
    three.AddKernelPort(2, 0x278, "PCSPP", false);
    three.AddKernelPort(0, 0x378, "PCSPP,TRISTATE");
    ports = ListParallelPorts(three);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].name, "parport0");
    EXPECT_EQ(ports[1].name, "parport2");
    EXPECT_EQ(ports[1].number, 2);
    EXPECT_EQ(ports[1].base, 0x278);
    EXPECT_EQ(ports[1].device, "");
    EXPECT_EQ(ports[2].name, "parport10");
    EXPECT_EQ(ports[2].number, 3);
    EXPECT_EQ(ports[2].base, 0xD010);
    EXPECT_EQ(ports[2].device, "/dev/parport10");
}

TEST(PortList, BaseFromSysWhenProcDoesNotTellIt) {
    test::FakePlatform os;
    // A Plug-and-Play port and a PCI card, known only through their ppdev nodes.
    os.devices["/dev/parport0"];
    os.devices["/dev/parport1"];
    os.devices["/dev/parport2"];
    os.files["/sys/class/ppdev/parport0/device/resources"] = "state = active\nio 0x3bc-0x3be\nirq 7\n";
    os.files["/sys/class/ppdev/parport1/device/resource"] =
        "0x00000000fe000000 0x00000000fe000fff 0x0000000000040200\n"
        "0x000000000000d010 0x000000000000d017 0x0000000000040101\n";
    os.files["/proc/sys/dev/parport/parport2/base-addr"] = "garbage\n";
    auto ports = ListParallelPorts(os);
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].base, 0x3BC);
    EXPECT_EQ(ports[1].base, 0xD010);  // the memory window is skipped, the I/O window taken
    EXPECT_EQ(ports[2].base, 0);       // unknown
    EXPECT_EQ(ports[2].device, "/dev/parport2");
}

TEST(PortList, UsbPrintersAndEppInTheModeList) {
    test::FakePlatform os;
    os.devices["/dev/usb/lp1"];
    os.devices["/dev/usb/lp0"];
    os.devices["/dev/usb/hiddev0"];
    EXPECT_EQ(ListUsbPrinters(os), (std::vector<std::string>{"/dev/usb/lp0", "/dev/usb/lp1"}));
    EXPECT_TRUE(ModesOfferEpp("PCSPP,TRISTATE,EPP"));
    EXPECT_TRUE(ModesOfferEpp("EPP,ECP"));
    EXPECT_FALSE(ModesOfferEpp("PCSPP,TRISTATE,COMPAT,ECP"));
    EXPECT_FALSE(ModesOfferEpp(""));
}

TEST(DirectIo, RefusalNamesTheFixAndNoInstructionRuns) {
    test::FakePlatform os;
    os.iopermError = EPERM;
    os.links["/proc/self/exe"] = "/usr/bin/rombolt";
    std::string message;
    EXPECT_FALSE(OpenDirectIo(os, 0x378, message));
    if (DirectIoSupported()) {
        // The whole eight-register block: a word access at base + 4 touches base + 5.
        EXPECT_EQ(os.permCalls, (std::vector<test::FakePlatform::PermCall>{{0x378, 8, true}}));
        EXPECT_EQ(
            message,
            "Direct I/O at 0x378-0x37F refused (Operation not permitted): run as root, or allow it with "
            "`sudo setcap cap_sys_rawio+ep /usr/bin/rombolt`, or use the ppdev device (/dev/parportN)");
        // Under kernel lockdown root cannot either.
        os.files["/sys/kernel/security/lockdown"] = "none [integrity] confidentiality\n";
        EXPECT_FALSE(OpenDirectIo(os, 0x378, message));
        EXPECT_TRUE(Contains(message, "locked down (Secure Boot)")) << message;
        os.files["/sys/kernel/security/lockdown"] = "[none] integrity confidentiality\n";
        EXPECT_FALSE(OpenDirectIo(os, 0x378, message));
        EXPECT_TRUE(Contains(message, "setcap")) << message;
    }
    // Bases whose block would run past the last port are refused before asking.
    os.permCalls.clear();
    EXPECT_FALSE(OpenDirectIo(os, 0xFFF9, message));
    EXPECT_FALSE(OpenDirectIo(os, 0, message));
    EXPECT_TRUE(os.permCalls.empty());
}

TEST(DirectIo, AccessesOutsideTheGrantNeverExecute) {
    if (!DirectIoSupported()) GTEST_SKIP() << "no port instructions on this processor";
    // The fake grants the block, the process really has no permission: any
    // port instruction that ran here would kill the test.
    test::FakePlatform os;
    std::string message;
    auto port = OpenDirectIo(os, 0x378, message);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->Name(), "direct I/O at 0x378");
    EXPECT_EQ(port->inb(0x377), 0xFF);
    EXPECT_EQ(port->inb(0x380), 0xFF);
    EXPECT_EQ(port->inw(0x37F), 0xFFFF);  // would touch 0x380
    port->outb(0x278, 0x55);
    port->outw(0x37F, 0x1234);
    // Permission belongs to the thread that asked for it.
    std::uint8_t fromOtherThread = 0;
    std::thread([&] { fromOtherThread = port->inb(0x378); }).join();
    EXPECT_EQ(fromOtherThread, 0xFF);
    port.reset();
    EXPECT_EQ(os.permCalls.back(), (test::FakePlatform::PermCall{0x378, 8, false}));
}

struct OpenFixture : ::testing::Test {
    test::FakePlatform os;
    void SetUp() override {
        os.iopermError = EPERM;
        os.links["/proc/self/exe"] = "/opt/rombolt/rombolt";
    }
};

TEST_F(OpenFixture, RefusedDirectIoWithoutPortsFallsBackToNoHardware) {
    os.devices["/dev/usb/lp0"];
    OpenedPort opened = OpenHardwarePort(os, "", 0x378);
    ASSERT_TRUE(opened.backend);
    EXPECT_EQ(opened.backend->Name(), "none");
    EXPECT_TRUE(Contains(opened.message, "modprobe parport_pc ppdev")) << opened.message;
    EXPECT_TRUE(Contains(opened.message, "/dev/usb/lp0 is a USB printer adapter")) << opened.message;
    if (DirectIoSupported()) {
        EXPECT_TRUE(Contains(opened.message, "setcap cap_sys_rawio+ep /opt/rombolt/rombolt"));
    }

    // Operations then find no adapter, and nothing crashed on the way.
    AppState s;
    test::FakeFrontend ui(s);
    s.UI = &ui;
    s.Port = opened.backend.get();
    s.PortBaseOverride = opened.base;
    ApplyPortSelection(s);
    EXPECT_EQ(DetectAdapter(s), 1);
    EXPECT_TRUE(ui.Logged("No Adaptor Found!"));
}

TEST_F(OpenFixture, RefusedDirectIoUsesThePpdevDeviceAtTheSameBase) {
    os.AddKernelPort(0, 0xD010, "PCSPP,TRISTATE,EPP");
    auto* lpt2 = os.AddKernelPort(1, 0x278, "PCSPP,TRISTATE");
    lpt2->modes = PARPORT_MODE_PCSPP | PARPORT_MODE_TRISTATE;
    OpenedPort opened = OpenHardwarePort(os, "", 0x278);
    EXPECT_EQ(opened.message, "");
    EXPECT_EQ(opened.backend->Name(), "/dev/parport1 (ppdev)");
    EXPECT_EQ(opened.base, 0x278);
    EXPECT_EQ(
        opened.note,
        "The port /dev/parport1 offers no EPP (kernel modes: PCSPP,TRISTATE): transfers run in SPP; for "
        "speed set the port to EPP (or ECP+EPP) in the BIOS setup");
    EXPECT_TRUE(lpt2->open);

    // A PCIe card's base, given as an address.
    auto* card = &os.devices["/dev/parport0"];
    card->modes = PARPORT_MODE_PCSPP | PARPORT_MODE_EPP;
    opened = OpenHardwarePort(os, "0xd010", 0x378);
    EXPECT_EQ(opened.backend->Name(), "/dev/parport0 (ppdev)");
    EXPECT_EQ(opened.base, 0xD010);
    EXPECT_EQ(opened.note, "");
}

TEST_F(OpenFixture, NamesWhatIsMissing) {
    // The kernel has ports, but none at the configured base.
    os.AddKernelPort(0, 0xD010, "PCSPP,EPP");
    OpenedPort opened = OpenHardwarePort(os, "lpt1", 0x278);
    EXPECT_EQ(opened.backend->Name(), "none");
    EXPECT_EQ(opened.base, 0x378);
    EXPECT_TRUE(Contains(opened.message, "no parallel port at 0x378 (it has 0xD010 (/dev/parport0))"))
        << opened.message;

    // The port is there but ppdev is not loaded.
    test::FakePlatform noPpdev;
    noPpdev.iopermError = EPERM;
    noPpdev.AddKernelPort(0, 0x378, "PCSPP", false);
    opened = OpenHardwarePort(noPpdev, "", 0x378);
    EXPECT_TRUE(Contains(opened.message, "no ppdev device for it: load ppdev (`sudo modprobe ppdev`)"))
        << opened.message;

    // The device exists but belongs to the lp group.
    test::FakePlatform denied;
    denied.iopermError = EPERM;
    denied.AddKernelPort(0, 0x378, "PCSPP,EPP")->openError = EACCES;
    opened = OpenHardwarePort(denied, "", 0x378);
    EXPECT_EQ(opened.backend->Name(), "none");
    EXPECT_TRUE(Contains(opened.message, "Permission denied on /dev/parport0: join the lp group"))
        << opened.message;
}

TEST_F(OpenFixture, ExplicitDevicesAndBadOptions) {
    os.AddKernelPort(0, 0x3BC, "PCSPP,EPP")->modes = PARPORT_MODE_PCSPP | PARPORT_MODE_EPP;
    os.devices["/dev/parport7"];  // a node the kernel tells nothing about
    OpenedPort opened = OpenHardwarePort(os, "/dev/parport0", 0x378);
    EXPECT_EQ(opened.backend->Name(), "/dev/parport0 (ppdev)");
    EXPECT_EQ(opened.base, 0x3BC);  // the link uses the port's own block
    opened = OpenHardwarePort(os, "/dev/parport7", 0x278);
    EXPECT_EQ(opened.base, 0x278);  // unknown address: the configured block

    opened = OpenHardwarePort(os, "/dev/usb/lp0", 0x378);
    EXPECT_EQ(opened.backend->Name(), "none");
    EXPECT_TRUE(Contains(opened.message, "cannot drive the adapter's lines")) << opened.message;

    for (const char* bad : {"lpt4", "0x", "0x10000", "0xFFF9", "0xzz", "com1"}) {
        opened = OpenHardwarePort(os, bad, 0x378);
        EXPECT_EQ(opened.backend->Name(), "none") << bad;
        EXPECT_FALSE(opened.message.empty()) << bad;
    }
    EXPECT_TRUE(Contains(OpenHardwarePort(os, "com1", 0x378).message, "Unknown port \"com1\""));
}

TEST(OpenDirect, BasesOfThePcsOwnDevicesAndUnlistedBasesAreNeverAccessed) {
    if (!DirectIoSupported()) GTEST_SKIP() << "no port instructions on this processor";
    for (bool kernelHasPorts : {false, true}) {
        SCOPED_TRACE(kernelHasPorts);
        test::FakePlatform os;
        if (kernelHasPorts) os.AddKernelPort(0, 0x378, "PCSPP,EPP");
        // 0x60: outb 0x64 0xfe would reset the machine; 0x70 the clock, 0x1F0 a disk.
        for (const char* base : {"0x60", "0x70", "0x1f0", "0x3f8", "0xcf8"}) {
            for (bool confirmed : {false, true}) {
                OpenedPort opened = OpenHardwarePort(os, base, 0x378, confirmed);
                EXPECT_EQ(opened.backend->Name(), "none") << base;
                EXPECT_TRUE(Contains(opened.message, "never a parallel port")) << opened.message;
            }
        }
        OpenedPort opened = OpenHardwarePort(os, "0xd010", 0x378);
        EXPECT_EQ(opened.backend->Name(), "none");
        EXPECT_TRUE(Contains(opened.message, "give --unlisted-port")) << opened.message;
        EXPECT_TRUE(os.permCalls.empty());
        // Confirmed, an unlisted card's base is driven; the classic bases need no confirmation.
        EXPECT_EQ(OpenHardwarePort(os, "0xd010", 0x378, true).backend->Name(), "direct I/O at 0xD010");
        EXPECT_EQ(OpenHardwarePort(os, "0x3bc", 0x378).backend->Name(), "direct I/O at 0x3BC");
    }
}

TEST(DirectIo, AKernelWithoutPortPermissionIsNotCalledANonX86Machine) {
    if (!DirectIoSupported()) GTEST_SKIP() << "no port instructions on this processor";
    test::FakePlatform os;
    os.iopermError = ENOSYS;
    std::string message;
    EXPECT_FALSE(OpenDirectIo(os, 0x378, message));
    EXPECT_EQ(message,
              "Direct I/O at 0x378-0x37F is not available: this kernel has no I/O port permission support "
              "(ioperm: Function not implemented); use the ppdev device (/dev/parportN)");
}

TEST(OpenDirect, WarnsWhenTheKernelKnowsNoPortThereOrSomeoneHoldsIt) {
    if (!DirectIoSupported()) GTEST_SKIP() << "no port instructions on this processor";
    test::FakePlatform os;
    os.AddKernelPort(0, 0x378, "PCSPP,TRISTATE,EPP");
    OpenedPort opened = OpenHardwarePort(os, "lpt2", 0x378);
    EXPECT_EQ(opened.backend->Name(), "direct I/O at 0x278");
    EXPECT_EQ(opened.warning,
              "The kernel lists no parallel port at 0x278 (it has 0x378 (/dev/parport0)): nothing may answer "
              "there; choose the port with --port");
    opened = OpenHardwarePort(os, "lpt1", 0x378);
    EXPECT_EQ(opened.warning, "");
    os.files["/proc/sys/dev/parport/parport0/devices/active"] = "lp0\n";
    opened = OpenHardwarePort(os, "lpt1", 0x378);
    EXPECT_EQ(opened.backend->Name(), "direct I/O at 0x378");
    EXPECT_EQ(
        opened.warning,
        "The port at 0x378 (parport0) is in use by lp0: driving it now garbles that program's transfers; "
        "close it first");
}

// The control register of the port at 0x378 and what answers at 0x77A: the
// extended control register of an ECP chip (bits 1-0 read 01, FIFO empty),
// the control register again (a card that decodes ten address lines), or
// nothing. Every access is recorded.
class EcpChip final : public PortBackend {
public:
    enum class Kind { Ecr, Alias, None };
    struct Access {
        bool write;
        std::uint16_t port;
        std::uint8_t value;
        bool operator==(const Access&) const = default;
    };
    explicit EcpChip(Kind k) : kind(k) {}
    std::uint8_t inb(std::uint16_t p) override {
        std::uint8_t v = 0xFF;
        if (p == 0x37A) v = control;
        if (p == 0x77A && kind == Kind::Alias) v = control;
        if (p == 0x77A && kind == Kind::Ecr) v = static_cast<std::uint8_t>((ecr & 0xFC) | 0x01);
        accesses.push_back({false, p, v});
        return v;
    }
    void outb(std::uint16_t p, std::uint8_t v) override {
        accesses.push_back({true, p, v});
        if (p == 0x37A || (p == 0x77A && kind == Kind::Alias)) control = v;
        if (p == 0x77A && kind == Kind::Ecr) ecrWrites.push_back(ecr = v);
    }
    std::uint16_t inw(std::uint16_t p) override {
        accesses.push_back({false, p, 0xFF});
        return 0xFFFF;
    }
    void outw(std::uint16_t p, std::uint16_t) override { accesses.push_back({true, p, 0}); }
    bool Wrote() const {
        return std::any_of(accesses.begin(), accesses.end(), [](const Access& a) { return a.write; });
    }
    Kind kind;
    std::uint8_t control = 0x01;  // the link's resting value, as a running write leaves it
    std::uint8_t ecr = 0x75;      // the BIOS left it in ECP mode (011)
    std::vector<std::uint8_t> ecrWrites;
    std::vector<Access> accesses;
};

TEST(Ecr, EppModeIsSelectedOnlyInARealEcrAndTheOldModeComesBack) {
    EcpChip chip(EcpChip::Kind::Ecr);
    EcrEppMode mode;
    ASSERT_TRUE(mode.Select(chip, 0x378, 0x77A));
    // From 011 to EPP (100) with interrupts and DMA off, through 001 as ECP
    // chips require; the probe itself only read.
    EXPECT_EQ(chip.ecrWrites, (std::vector<std::uint8_t>{0x35, 0x94}));
    mode.Restore(chip);
    EXPECT_EQ(chip.ecrWrites, (std::vector<std::uint8_t>{0x35, 0x94, 0x35, 0x75}));
    for (const auto& a : chip.accesses) EXPECT_FALSE(a.write && a.port == 0x37A) << int(a.value);

    for (auto kind : {EcpChip::Kind::Alias, EcpChip::Kind::None}) {
        EcpChip other(kind);
        EXPECT_FALSE(mode.Select(other, 0x378, 0x77A));
        mode.Restore(other);
        EXPECT_FALSE(other.Wrote());
    }
}

TEST(OpenDirect, EcpPortIsInEppModeWhileOpen) {
    if (!DirectIoSupported()) GTEST_SKIP() << "no port instructions on this processor";
    test::FakePlatform os;
    EcpChip chip(EcpChip::Kind::Ecr);
    os.ports = &chip;
    // The kernel lists its ECP block at 0x778 ("888\t1912").
    os.AddKernelPort(0, 0x378, "PCSPP,TRISTATE,COMPAT,EPP,ECP");
    OpenedPort opened = OpenHardwarePort(os, "lpt1", 0x378);
    EXPECT_EQ(opened.backend->Name(), "direct I/O at 0x378 (ECP port, EPP mode set in its ECR at 0x77A)");
    EXPECT_EQ(chip.ecr & kEcrModeMask, kEcrModeEpp);
    opened.backend.reset();
    EXPECT_EQ(chip.ecr, 0x75);
    EXPECT_EQ(os.permCalls.back(), (test::FakePlatform::PermCall{0x378, 8, false}));
    EXPECT_NE(
        std::find(os.permCalls.begin(), os.permCalls.end(), test::FakePlatform::PermCall{0x77A, 1, false}),
        os.permCalls.end());

    // A port the kernel found without ECP is not probed, whatever its ECP block.
    os.files["/proc/sys/dev/parport/parport0/modes"] = "PCSPP,TRISTATE,EPP\n";
    chip.accesses.clear();
    opened = OpenHardwarePort(os, "lpt1", 0x378);
    EXPECT_EQ(opened.backend->Name(), "direct I/O at 0x378");
    EXPECT_TRUE(chip.accesses.empty());
}

// A second program opening the port while a write runs there must not
// disturb it: an ECP port already in EPP mode is probed by reads alone and
// left as it is, on opening and on closing.
TEST(OpenDirect, AnEcpPortInEppModeGetsNoWrite) {
    if (!DirectIoSupported()) GTEST_SKIP() << "no port instructions on this processor";
    test::FakePlatform os;
    EcpChip chip(EcpChip::Kind::Ecr);
    chip.ecr = 0x95;
    os.ports = &chip;
    os.AddKernelPort(0, 0x378, "PCSPP,TRISTATE,COMPAT,EPP,ECP");
    OpenedPort opened = OpenHardwarePort(os, "lpt1", 0x378);
    EXPECT_EQ(opened.backend->Name(), "direct I/O at 0x378 (ECP port, EPP mode set in its ECR at 0x77A)");
    opened.backend.reset();
    EXPECT_FALSE(chip.accesses.empty());
    EXPECT_FALSE(chip.Wrote());
    EXPECT_EQ(chip.control, 0x01);
    EXPECT_EQ(chip.ecr, 0x95);
}

// With no driver loaded the kernel lists no port; the place of a classic
// port's ECR is read once, and with nothing there that is all: the run's
// first access to the port is its own.
TEST(OpenDirect, AClassicPortTheKernelDoesNotListIsOnlyReadWhereAnEcrWouldBe) {
    if (!DirectIoSupported()) GTEST_SKIP() << "no port instructions on this processor";
    for (auto kind : {EcpChip::Kind::None, EcpChip::Kind::Alias}) {
        test::FakePlatform os;
        EcpChip chip(kind);
        os.ports = &chip;
        OpenedPort opened = OpenHardwarePort(os, "lpt1", 0x378);
        EXPECT_EQ(opened.backend->Name(), "direct I/O at 0x378");
        opened.backend.reset();
        if (kind == EcpChip::Kind::None) {
            EXPECT_EQ(chip.accesses, (std::vector<EcpChip::Access>{{false, 0x77A, 0xFF}}));
        }
        EXPECT_FALSE(chip.Wrote());
    }
}

TEST(OpenDirect, GrantedDirectIoIsPreferredAndNotesMissingEpp) {
    if (!DirectIoSupported()) GTEST_SKIP() << "no port instructions on this processor";
    test::FakePlatform os;
    os.AddKernelPort(0, 0x378, "PCSPP,TRISTATE");
    OpenedPort opened = OpenHardwarePort(os, "LPT1", 0x278);
    EXPECT_EQ(opened.message, "");
    EXPECT_EQ(opened.backend->Name(), "direct I/O at 0x378");
    EXPECT_EQ(opened.base, 0x378);
    EXPECT_TRUE(Contains(opened.note, "offers no EPP (kernel modes: PCSPP,TRISTATE)")) << opened.note;
    EXPECT_FALSE(os.devices["/dev/parport0"].open);  // ppdev untouched
}

}  // namespace

namespace {

// The port instructions of a fake machine that count the accesses made
// while the port's lock was free (another lock on its file succeeds then).
struct LockWatch final : PortBackend {
    std::string lockPath;
    int accesses = 0;
    int unlocked = 0;
    void Count() {
        ++accesses;
        PortLock probe;
        std::string why;
        if (probe.Acquire(lockPath, why)) ++unlocked;
    }
    std::uint8_t inb(std::uint16_t) override { return Count(), 0xFF; }
    void outb(std::uint16_t, std::uint8_t) override { Count(); }
    std::uint16_t inw(std::uint16_t) override { return Count(), 0xFFFF; }
    void outw(std::uint16_t, std::uint16_t) override { Count(); }
    std::string Name() const override { return "watched"; }
};

struct WatchedMachine {
    test::FakePlatform os;
    LockWatch watch;
    explicit WatchedMachine(int base) {
        os.AddKernelPort(0, base, "PCSPP,TRISTATE,EPP,ECP", false);
        watch.lockPath = PortLockPath(base);
        os.ports = &watch;
    }
};

TEST(PortSession, NothingTouchesThePortBeforeItsLockIsHeldNorWhenItIsRefused) {
    if (!DirectIoSupported()) GTEST_SKIP() << "no port instructions on this processor";
    // Opening probes the ECR the kernel lists (base + 0x402) through the
    // watched instructions. A base of its own, so that no other program's lock is met here.
    constexpr int kBase = 0xE0A8;
    PortRequest request;
    request.port = "0xe0a8";
    WatchedMachine one(kBase);
    PortSession first = PortSession::Open(request, 0x378, {}, &one.os);
    ASSERT_EQ(first.busy, "");
    EXPECT_EQ(first.message, "");
    EXPECT_GT(one.watch.accesses, 0);
    EXPECT_EQ(one.watch.unlocked, 0);

    // A second program while the first holds the port: refused before it
    // asks for port permission or makes a single access.
    WatchedMachine two(kBase);
    PortSession second = PortSession::Open(request, 0x378, {}, &two.os);
    EXPECT_EQ(second.busy.rfind("in use by ", 0), 0u) << second.busy;
    std::string why;
    EXPECT_FALSE(second.BeginCartUse(why));
    EXPECT_EQ(why.rfind("Port 0xE0A8: in use by ", 0), 0u) << why;
    EXPECT_EQ(two.watch.accesses, 0);
    EXPECT_TRUE(two.os.permCalls.empty());

    // Once the first gives it back, the second opens the port on its first
    // use, under the lock.
    EXPECT_TRUE(first.EndCartUse(why));
    std::vector<std::string> opened;
    ASSERT_TRUE(second.BeginCartUse(why, &opened)) << why;
    EXPECT_GT(two.watch.accesses, 0);
    EXPECT_EQ(two.watch.unlocked, 0);
}

TEST(PortSession, AnUnlistedBaseIsDrivenOnlyWhenTheRequestConfirmsIt) {
    if (!DirectIoSupported()) GTEST_SKIP() << "no port instructions on this processor";
    constexpr int kBase = 0xE0B0;
    for (bool confirmed : {false, true}) {
        SCOPED_TRACE(confirmed);
        test::FakePlatform os;  // the kernel lists no parallel port
        LockWatch watch;
        watch.lockPath = PortLockPath(kBase);
        os.ports = &watch;
        PortRequest request;
        request.port = "0xe0b0";
        request.unlistedPort = confirmed;
        PortSession session = PortSession::Open(request, 0x378, {}, &os);
        if (confirmed) {
            EXPECT_EQ(session.message, "");
            EXPECT_EQ(session.backend->Name(), "direct I/O at 0xE0B0");
        } else {
            EXPECT_TRUE(Contains(session.message, "give --unlisted-port")) << session.message;
            EXPECT_EQ(session.backend->Name(), "none");
            EXPECT_EQ(watch.accesses, 0);
            EXPECT_TRUE(os.permCalls.empty());
        }
    }
}

}  // namespace
