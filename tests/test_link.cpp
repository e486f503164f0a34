// Exact port traffic of the link cycles, the cart bus and adapter detection.
#include <gtest/gtest.h>

#include <vector>

#include "app/app_state.h"
#include "core/operation.h"
#include "link/cartbus.h"
#include "link/detect.h"
#include "link/link.h"
#include "support/fake_frontend.h"

using namespace rombolt;
using Kind = RecordingPort::Kind;
using A = RecordingPort::Access;

namespace {

// Answers reads from a queue (status reads for nibbles, EPP data reads) and
// records writes.
class ScriptedPort final : public PortBackend {
public:
    std::vector<std::uint8_t> byteAnswers;
    std::vector<std::uint16_t> wordAnswers;
    size_t nb = 0, nw = 0;
    std::uint8_t inb(std::uint16_t) override { return nb < byteAnswers.size() ? byteAnswers[nb++] : 0xFF; }
    void outb(std::uint16_t, std::uint8_t) override {}
    std::uint16_t inw(std::uint16_t) override { return nw < wordAnswers.size() ? wordAnswers[nw++] : 0xFFFF; }
    void outw(std::uint16_t, std::uint16_t) override {}
};

struct LinkFixture : ::testing::Test {
    AppState s;
    test::FakeFrontend ui{s};
    ScriptedPort inner;
    RecordingPort rec{inner};
    void SetUp() override {
        s.UI = &ui;
        s.Port = &rec;
        ApplyPortSelection(s);
    }
    A C(std::uint8_t v) const { return {Kind::OutB, 0x37A, v}; }
    A D(std::uint8_t v) const { return {Kind::OutB, 0x378, v}; }
    A EA(std::uint8_t v) const { return {Kind::OutB, 0x37B, v}; }
    A ED(std::uint8_t v) const { return {Kind::OutB, 0x37C, v}; }
};

}  // namespace

TEST(PortSelection, IndexGivesAllFiveAddressesAndUnknownIndexActsAsLpt1) {
    AppState s;
    const int bases[] = {0x378, 0x278, 0x3BC, 0x378, 0x378};
    const int indexes[] = {0, 1, 2, 3, 7};
    for (int i = 0; i < 5; ++i) {
        s.Config.PortIndex = static_cast<std::uint8_t>(indexes[i]);
        ApplyPortSelection(s);
        EXPECT_EQ(s.Link.DataPort, bases[i]);
        EXPECT_EQ(s.Link.StatusPort, bases[i] + 1);
        EXPECT_EQ(s.Link.ControlPort, bases[i] + 2);
        EXPECT_EQ(s.Link.EppAddressPort, bases[i] + 3);
        EXPECT_EQ(s.Link.EppDataPort, bases[i] + 4);
    }
    // A base given on the command line (a PCIe card) wins over the index.
    s.PortBaseOverride = 0xD010;
    ApplyPortSelection(s);
    EXPECT_EQ(s.Link.EppDataPort, 0xD014);
}

TEST(PortPrimitives, WordAccessKeepsLow16BitsAndPortNumberIsMasked) {
    NullPort inner;
    RecordingPort rec(inner);
    outport(rec, 0x1037C, 0x12345);
    EXPECT_EQ(rec.log.back(), (A{Kind::OutW, 0x37C, 0x2345}));
    EXPECT_EQ(inport(rec, 0x37C), 0xFFFF);
}

TEST_F(LinkFixture, SppWordWriteAndNibbleReadIgnoreNoiseBits) {
    s.Link.SppMode = 1;
    WriteDataWord(s, 0x1234);
    std::vector<A> expect = {D(0x34), C(0x03), C(0x01), D(0x12), C(0x03), C(0x01)};
    EXPECT_EQ(rec.log, expect);

    rec.log.clear();
    inner.byteAnswers = {0x48, 0x30, 0x87, 0x87};
    EXPECT_EQ(ReadDataByte(s), 0x69);
    EXPECT_EQ(ReadDataByte(s), 0x00);  // bits 7 and 0-2 carry nothing
    std::vector<A> read = {C(0x00), C(0x02), {Kind::InB, 0x379, 0x48}, C(0x06), {Kind::InB, 0x379, 0x30},
                           C(0x00)};
    EXPECT_EQ(std::vector<A>(rec.log.begin(), rec.log.begin() + 6), read);
}

TEST_F(LinkFixture, EppFormsFollowSpeedIndex) {
    s.Link.SppMode = 0;
    // Speed "2": register selection stays EPP, register writes go SPP.
    s.Config.SpeedIndex = 2;
    SelectRegister(s, 3);
    EXPECT_EQ(rec.log, (std::vector<A>{C(0x01), C(0x01), EA(0x03)}));
    rec.log.clear();
    WriteRegister(s, 3, 0x55);
    EXPECT_EQ(rec.log, (std::vector<A>{C(0x01), D(0x03), C(0x09), C(0x01), D(0x55), C(0x03), C(0x01)}));

    // Speed "4": one 16-bit cycle per word in both directions.
    rec.log.clear();
    s.Config.SpeedIndex = 0;
    inner.wordAnswers = {0xBEEF};
    WriteDataWord(s, 0xCAFE);
    EXPECT_EQ(ReadDataWord(s), 0xBEEF);
    EXPECT_EQ(rec.log, (std::vector<A>{{Kind::OutW, 0x37C, 0xCAFE}, {Kind::InW, 0x37C, 0xBEEF}}));

    // Speed "3": two byte cycles, low byte first, both directions.
    rec.log.clear();
    s.Config.SpeedIndex = 1;
    inner.byteAnswers = {0xEF, 0xBE};
    inner.nb = 0;
    WriteDataWord(s, 0xCAFE);
    EXPECT_EQ(ReadDataWord(s), 0xBEEF);
    EXPECT_EQ(rec.log,
              (std::vector<A>{ED(0xFE), ED(0xCA), {Kind::InB, 0x37C, 0xEF}, {Kind::InB, 0x37C, 0xBE}}));

    // Speed "2" reads stay 8-bit EPP, writes are SPP data cycles.
    rec.log.clear();
    s.Config.SpeedIndex = 2;
    inner.byteAnswers = {0x01, 0x02};
    inner.nb = 0;
    EXPECT_EQ(ReadDataWord(s), 0x0201);
    WriteDataByte(s, 0x77);
    EXPECT_EQ(rec.log, (std::vector<A>{
                           {Kind::InB, 0x37C, 0x01}, {Kind::InB, 0x37C, 0x02}, D(0x77), C(0x03), C(0x01)}));
}

TEST_F(LinkFixture, CartAddressOrderMaskingAndModeValues) {
    s.Link.SppMode = 0;
    SetCartAddress(s, 0x1012345);  // bit 24 is dropped
    std::vector<A> expect = {C(0x01), EA(2), ED(0x01), C(0x01), EA(1), ED(0x23), C(0x01), EA(0), ED(0x45)};
    EXPECT_EQ(rec.log, expect);

    rec.log.clear();
    SetRomAccess(s);
    SetSaveAccess(s);
    SetSerialAccess(s);
    EXPECT_EQ(rec.log[2], ED(0x07));
    EXPECT_EQ(rec.log[5], ED(0x83));
    EXPECT_EQ(rec.log[8], ED(0x03));

    rec.log.clear();
    s.Link.SppMode = 1;
    SetRomAccess(s);
    SetSaveAccess(s);
    SetSerialAccess(s);
    std::vector<std::uint8_t> dataBytes;
    for (auto& a : rec.log)
        if (a.port == 0x378) dataBytes.push_back(static_cast<std::uint8_t>(a.value));
    EXPECT_EQ(dataBytes, (std::vector<std::uint8_t>{4, 0x47, 4, 0xC3, 4, 0x43}));
}

TEST_F(LinkFixture, UnlockSequenceAndSaveBankSelection) {
    s.Link.SppMode = 0;
    s.Config.SpeedIndex = 0;
    // Count cart word writes: each ends in a 16-bit data cycle at speed "4".
    auto wordWrites = [&] {
        std::vector<std::pair<std::uint32_t, std::uint16_t>> out;
        std::uint32_t addr = 0;
        std::uint8_t reg = 0;
        for (auto& a : rec.log) {
            if (a.kind == Kind::OutB && a.port == 0x37B) reg = static_cast<std::uint8_t>(a.value);
            if (a.kind == Kind::OutB && a.port == 0x37C && reg <= 2)
                addr = (addr & ~(0xFFu << (8 * reg))) | (std::uint32_t(a.value) << (8 * reg));
            if (a.kind == Kind::OutW) out.push_back({addr, a.value});
        }
        return out;
    };
    OpenFlashAccess(s);
    auto writes = wordWrites();
    ASSERT_EQ(writes.size(), 1509u);
    EXPECT_EQ(writes.front(), (std::pair<std::uint32_t, std::uint16_t>{0x987654, 0x5354}));
    EXPECT_EQ(writes[500], (std::pair<std::uint32_t, std::uint16_t>{0x012345, 0x1234}));
    EXPECT_EQ(writes[1005], (std::pair<std::uint32_t, std::uint16_t>{0x765400, 0x5678}));
    EXPECT_EQ(writes[1006], (std::pair<std::uint32_t, std::uint16_t>{0x013450, 0x1234}));
    EXPECT_EQ(writes.back(), (std::pair<std::uint32_t, std::uint16_t>{0xF12345, 0x9413}));
    // The mode register holds RomAccess afterwards (the first write of the run set it, nothing changed it).
    EXPECT_EQ(rec.log[2], ED(0x07));

    rec.log.clear();
    SelectSaveBank(s, 8);
    SelectSaveBank(s, -1);
    EXPECT_TRUE(rec.log.empty());
    for (int b = 0; b <= 7; ++b) {
        rec.log.clear();
        SelectSaveBank(s, static_cast<std::int8_t>(b));
        auto w = wordWrites();
        ASSERT_EQ(w.size(), 1509u);
        EXPECT_EQ(w.back(), (std::pair<std::uint32_t, std::uint16_t>{0xA12345, std::uint16_t(b >> 1)}));
    }
}

// A small adapter model for detection: five registers behind SPP strobes,
// nibble reads and EPP cycles; each mode can be switched off, and a register
// can be made to answer wrongly.
namespace {
class FakeAdapter final : public PortBackend {
public:
    bool sppWorks = true, eppWorks = true, plugged = true;
    int brokenRegister = -1;  // this register reads back inverted
    std::uint8_t regs[5] = {};
    std::uint8_t latch = 0, control = 0, selected = 0;
    int base = 0x378;

    std::uint8_t reg(int r) const {
        return r == brokenRegister ? static_cast<std::uint8_t>(~regs[r]) : regs[r];
    }
    std::uint8_t inb(std::uint16_t port) override {
        if (!plugged) return 0xFF;
        const int off = port - base;
        if (off == 1 && sppWorks) {
            const std::uint8_t v = reg(selected);
            const std::uint8_t nibble = control == 0x02 ? (v & 0x0F) : control == 0x06 ? (v >> 4) : 0;
            return static_cast<std::uint8_t>((nibble << 3) | 0x87);  // noise on bits 0-2 and 7
        }
        if (off == 4) return eppWorks ? reg(selected) : 0xFF;
        return 0xFF;
    }
    void outb(std::uint16_t port, std::uint8_t v) override {
        if (!plugged) return;
        const int off = port - base;
        if (off == 0) latch = v;
        if (off == 2) {
            if (sppWorks && v == 0x09) selected = latch;
            if (sppWorks && v == 0x03 && selected < 5) regs[selected] = latch;
            control = v;
        }
        if (off == 3 && eppWorks) selected = v;
        if (off == 4 && eppWorks && selected < 5) regs[selected] = v;
    }
    std::uint16_t inw(std::uint16_t) override { return 0xFFFF; }
    void outw(std::uint16_t, std::uint16_t) override {}
};

struct DetectFixture : ::testing::Test {
    AppState s;
    test::FakeFrontend ui{s};
    FakeAdapter adapter;
    void SetUp() override {
        s.UI = &ui;
        s.Port = &adapter;
        ApplyPortSelection(s);
    }
};
}  // namespace

TEST_F(DetectFixture, EppWinsWhenBothEchoAndSpeedOneFallsBackToSpp) {
    s.LastErasedBlock = 12;
    EXPECT_EQ(DetectAdapter(s), 0);
    EXPECT_EQ(s.Link.SppMode, 0);
    EXPECT_EQ(ui.panels[0], "EPP");
    EXPECT_EQ(s.LastErasedBlock, -1);
    EXPECT_EQ(adapter.regs[4], 0x07);  // RomAccess for EPP
    EXPECT_EQ(adapter.control, 0x01);

    s.Config.SpeedIndex = 3;
    ui.panels[0].clear();
    EXPECT_EQ(DetectAdapter(s), 0);
    EXPECT_EQ(ui.panels[0], "EPP");
    EXPECT_EQ(s.Link.SppMode, 1);
    EXPECT_EQ(adapter.regs[4], 0x47);
}

TEST_F(DetectFixture, SingleModeAdapters) {
    adapter.eppWorks = false;
    EXPECT_EQ(DetectAdapter(s), 0);
    EXPECT_EQ(s.Link.SppMode, 1);
    EXPECT_EQ(ui.panels[0], "SPP");
    EXPECT_EQ(adapter.control, 0x01);

    adapter.eppWorks = true;
    adapter.sppWorks = false;
    EXPECT_EQ(DetectAdapter(s), 0);
    EXPECT_EQ(s.Link.SppMode, 0);
    EXPECT_EQ(ui.panels[0], "EPP");
    EXPECT_TRUE(ui.log.empty());
}

TEST_F(DetectFixture, Lpt3StaysSppUnlessSppFails) {
    s.Config.PortIndex = 2;
    ApplyPortSelection(s);
    adapter.base = 0x3BC;
    RecordingPort rec(adapter);
    s.Port = &rec;
    EXPECT_EQ(DetectAdapter(s), 0);
    EXPECT_EQ(ui.panels[0], "SPP");
    for (auto& a : rec.log) EXPECT_NE(a.port, 0x3BF) << "EPP must not be tried at 0x3BC";

    rec.log.clear();
    adapter.sppWorks = false;
    EXPECT_EQ(DetectAdapter(s), 0);
    EXPECT_EQ(ui.panels[0], "EPP");
    bool eppTried = false;
    for (auto& a : rec.log) eppTried |= (a.port == 0x3BF || a.port == 0x3C0);
    EXPECT_TRUE(eppTried);
}

TEST_F(DetectFixture, PartialEchoAndUnpluggedAdapterFail) {
    RecordingPort rec(adapter);
    s.Port = &rec;
    adapter.brokenRegister = 1;
    EXPECT_EQ(EchoTest(s), 1);
    // Register 2 reads back fine once, register 1 fails: exactly two data reads.
    s.Link.SppMode = 0;
    rec.log.clear();
    EXPECT_EQ(EchoTest(s), 1);
    int eppReads = 0;
    for (auto& a : rec.log) eppReads += (a.kind == Kind::InB && a.port == 0x37C);
    EXPECT_EQ(eppReads, 2);

    EXPECT_EQ(DetectAdapter(s), 1);
    EXPECT_EQ(ui.log, (std::vector<std::string>{"No Adaptor Found!"}));
    EXPECT_EQ(s.Link.SppMode, 0);

    // Works, then unplugged: the second operation fails again (nothing cached).
    adapter.brokenRegister = -1;
    EXPECT_EQ(DetectAdapter(s), 0);
    adapter.plugged = false;
    EXPECT_EQ(DetectAdapter(s), 1);
    EXPECT_EQ(ui.log.back(), "No Adaptor Found!");
}
