// The simulated adapter and cart, driven only through the link layer the way
// the program drives real hardware.
#include <gtest/gtest.h>

#include <vector>

#include "link/cartbus.h"
#include "link/detect.h"
#include "link/link.h"
#include "sim/sim_port.h"
#include "support/sim_fixture.h"

using namespace rombolt;
using rombolt::test::SimConfigFor;
using rombolt::test::SimFixture;

namespace {

// Read run of n words from word address a (RomAccess must be set).
std::vector<std::uint16_t> ReadWords(AppState& s, std::uint32_t a, int n) {
    SetCartAddress(s, a);
    SelectRegister(s, kRegData);
    WriteControl(s, kCtlRead);
    std::vector<std::uint16_t> out;
    for (int i = 0; i < n; ++i) out.push_back(ReadDataWord(s));
    return out;
}

std::uint16_t ReadWord(AppState& s, std::uint32_t a) { return ReadWords(s, a, 1)[0]; }

// Query data of the chip at word 0 (and its partner's array words at odd addresses).
std::vector<std::uint16_t> Query(AppState& s) {
    OpenFlashAccess(s);
    WriteCartWord(s, 0, 0x98);
    auto q = ReadWords(s, 0, 256);
    WriteCartWord(s, 0, 0xFF);
    return q;
}

}  // namespace

TEST(SimDetect, EchoPassesInBothModesAndEppWins) {
    SimFixture f("single-64M");
    ASSERT_EQ(DetectAdapter(f.s), 0);
    EXPECT_EQ(f.ui.panels[0], "EPP");
    EXPECT_EQ(f.s.Link.SppMode, 0);
    f.s.Link.SppMode = 1;
    EXPECT_EQ(EchoTest(f.s), 0);
}

TEST(SimFlash, QueryAnswersCfiOnEverySingleChip) {
    const struct {
        const char* model;
        std::uint8_t device;
    } rows[] = {{"single-32M", 0x16}, {"single-64M", 0x17}, {"single-128M", 0x18}};
    for (auto& r : rows) {
        SimFixture f(r.model);
        ASSERT_EQ(DetectAdapter(f.s), 0);
        auto q = Query(f.s);
        EXPECT_EQ(q[0], 0x89) << r.model;
        EXPECT_EQ(q[1], r.device) << r.model;
        EXPECT_EQ(q[0x10], 'Q');
        EXPECT_EQ(q[0x11], 'R');
        EXPECT_EQ(q[0x12], 'Y');
        EXPECT_EQ(q[0x27], r.device);
        EXPECT_EQ(q[0x2A], 5);
        EXPECT_TRUE(f.sim().AllChipsInReadArray());
    }
}

TEST(SimRom, MaskRomAnswersItsBytesThenItsOwnAddressAndIgnoresWrites) {
    SimConfig c = SimConfigFor("rom", "none");
    c.rom = {0x11, 0x22, 0x33, 0x44};
    SimFixture f(c);
    ASSERT_EQ(DetectAdapter(f.s), 0);
    EXPECT_EQ(ReadWord(f.s, 0), 0x2211);
    EXPECT_EQ(ReadWord(f.s, 1), 0x4433);
    EXPECT_EQ(ReadWord(f.s, 2), 0x0002);
    EXPECT_EQ(ReadWord(f.s, 0x123456), 0x3456);
    OpenFlashAccess(f.s);
    WriteCartWord(f.s, 0, 0x98);
    EXPECT_EQ(ReadWord(f.s, 0), 0x2211);
}
