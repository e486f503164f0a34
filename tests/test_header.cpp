#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "image/header.h"
#include "support/fake_frontend.h"

using namespace rombolt;

namespace {

// Complement byte computed independently of the code under test.
std::uint8_t ExpectedComplement(const std::uint8_t* b) {
    int sum = 0;
    for (int i = 0xA0; i <= 0xBC; ++i) sum += b[i];
    return static_cast<std::uint8_t>(-(0x19 + sum));
}

class HeaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.UI = &ui;
        s.Config.FixRom = 1;
    }
    std::uint8_t* buf() { return s.ChunkBuffer.data(); }

    // A consistent GBA header with the given 12-byte title.
    void MakeGba(const char* title) {
        s.ChunkBuffer.bytes.fill(0);
        for (int i = 0; i < 0x200; ++i) buf()[i] = static_cast<std::uint8_t>(i * 13);
        std::memcpy(buf() + 4, kGbaLogo.data(), kGbaLogo.size());
        std::memset(buf() + 0xA0, 0, 12);
        std::memcpy(buf() + 0xA0, title, std::min<std::size_t>(12, std::strlen(title)));
        buf()[0xB2] = 0x96;
        buf()[0xBD] = ExpectedComplement(buf());
    }
    std::vector<std::uint8_t> Snapshot() { return {buf(), buf() + 0x200}; }

    AppState s;
    test::FakeFrontend ui{s};
};

TEST_F(HeaderTest, ReferenceLogosHoldThePublishedBytes) {
    EXPECT_EQ(kGbaLogo[0], 0x24);
    EXPECT_EQ(kGbaLogo[1], 0xFF);
    EXPECT_EQ(kGbaLogo[77], 0x03);
    EXPECT_EQ(kGbaLogo[154], 0xF8);
    EXPECT_EQ(kGbaLogo[155], 0x07);
    unsigned sum = 0;
    for (auto v : kGbaLogo) sum += v;
    EXPECT_EQ(sum, 0x4B1Bu);
    EXPECT_EQ(kGbLogo[0], 0xCE);
    EXPECT_EQ(kGbLogo[47], 0x3E);
    sum = 0;
    for (auto v : kGbLogo) sum += v;
    EXPECT_EQ(sum, 0x1546u);
}

TEST_F(HeaderTest, GbImageIsRecognisedByItsLogoAloneAndNeverTouched) {
    s.ChunkBuffer.bytes.fill(0x5A);  // garbage GBA logo and complement
    std::memcpy(buf() + 0x104, kGbLogo.data(), kGbLogo.size());
    const char title[16] = {'P', 'O', 'K', static_cast<char>('E' | 0x80), 'M', 'O', 'N', 0, 'X', 'Y'};
    std::memcpy(buf() + 0x134, title, 16);
    auto before = Snapshot();
    for (int mode = 0; mode <= 3; ++mode) {
        EXPECT_EQ(CheckCartHeader(s, static_cast<HeaderCheck>(mode)), 2) << mode;
        EXPECT_EQ(s.GameNameText, "POKEMON");
    }
    EXPECT_EQ(Snapshot(), before);
    EXPECT_TRUE(ui.log.empty());

    // A full 16-byte title with no NUL is taken whole; one wrong logo byte makes it a GBA image.
    std::memset(buf() + 0x134, 'A', 16);
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Quiet), 2);
    EXPECT_EQ(s.GameNameText, std::string(16, 'A'));
    buf()[0x133] ^= 1;
    s.Config.FixRom = 0;
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Quiet), -1);
}

TEST_F(HeaderTest, ValidGbaHeaderNameAndNameLineByMode) {
    MakeGba("ZELDA");
    buf()[0xA1] |= 0x80;  // 'E' with bit 7 set
    buf()[0xA7] = 'Q';    // after the NUL: not part of the name
    buf()[0xBD] = ExpectedComplement(buf());
    auto before = Snapshot();
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Quiet), 0);
    EXPECT_EQ(s.GameNameText, "ZELDA");
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Repair), 0);
    EXPECT_TRUE(ui.log.empty());
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Logged), 0);
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::RepairLogged), 0);
    EXPECT_EQ(ui.log, (std::vector<std::string>{"Game Name = ZELDA", "Game Name = ZELDA"}));
    EXPECT_EQ(Snapshot(), before);

    MakeGba("ABCDEFGHIJKL");  // all 12 bytes used
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Quiet), 0);
    EXPECT_EQ(s.GameNameText, "ABCDEFGHIJKL");
}

TEST_F(HeaderTest, RepairOfLogoAndComplementFollowsModeAndFixRom) {
    MakeGba("METROID");
    auto good = Snapshot();
    auto damage = [&] {
        MakeGba("METROID");
        buf()[0x10] ^= 0xFF;
        buf()[0x9F] = 0;
        buf()[0xBD] ^= 0x21;
    };

    // FixRom on, mode 2: both repaired silently.
    damage();
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Repair), 0);
    EXPECT_EQ(Snapshot(), good);
    EXPECT_TRUE(ui.log.empty());
    EXPECT_EQ(s.GameNameText, "METROID");

    // Mode 3 says what it repaired, then the name.
    damage();
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::RepairLogged), 0);
    EXPECT_EQ(Snapshot(), good);
    EXPECT_EQ(ui.log,
              (std::vector<std::string>{"Logo Area fixed", "Complement Check fixed", "Game Name = METROID"}));
    ui.log.clear();

    // FixRom off: nothing repaired in any mode.
    s.Config.FixRom = 0;
    s.GameNameText = "previous";
    for (int mode = 0; mode <= 3; ++mode) {
        damage();
        auto before = Snapshot();
        EXPECT_EQ(CheckCartHeader(s, static_cast<HeaderCheck>(mode)), -1) << mode;
        EXPECT_EQ(Snapshot(), before) << mode;
    }
    EXPECT_EQ(s.GameNameText, "previous");
    // Only mode 1 reports, and a bad logo ends the check before the complement.
    EXPECT_EQ(ui.log, (std::vector<std::string>{"Logo Area Error!!!"}));

    // FixRom on but mode 1: the logo is not repaired.
    s.Config.FixRom = 1;
    ui.log.clear();
    damage();
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Logged), -1);
    EXPECT_EQ(ui.log, (std::vector<std::string>{"Logo Area Error!!!"}));
    EXPECT_NE(buf()[0x10], good[0x10]);

    // Logo right, complement wrong, mode 1: the complement message alone.
    ui.log.clear();
    MakeGba("METROID");
    buf()[0xBD] ^= 1;
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Logged), -1);
    EXPECT_EQ(ui.log, (std::vector<std::string>{"Complement Check Error!!!"}));
}

TEST_F(HeaderTest, FixedByteIsCorrectedBeforeTheComplementIsComputed) {
    // Consistent header with a wrong 0xB2: mode 1 corrects the byte and then
    // finds the complement no longer matches.
    MakeGba("MARIO");
    buf()[0xB2] = 0x00;
    buf()[0xBD] = ExpectedComplement(buf());
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Logged), -1);
    EXPECT_EQ(buf()[0xB2], 0x96);
    EXPECT_EQ(ui.log, (std::vector<std::string>{"Complement Check Error!!!"}));

    // Mode 2 repairs the complement over the corrected byte.
    MakeGba("MARIO");
    buf()[0xB2] = 0x00;
    buf()[0xBD] = ExpectedComplement(buf());
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Repair), 0);
    EXPECT_EQ(buf()[0xB2], 0x96);
    EXPECT_EQ(buf()[0xBD], ExpectedComplement(buf()));

    // Mode 0, or FixRom off, leaves the byte alone: the header stays consistent.
    for (int fix = 0; fix <= 1; ++fix) {
        s.Config.FixRom = static_cast<std::uint8_t>(fix);
        MakeGba("MARIO");
        buf()[0xB2] = 0x00;
        buf()[0xBD] = ExpectedComplement(buf());
        EXPECT_EQ(CheckCartHeader(s, fix ? HeaderCheck::Quiet : HeaderCheck::Repair), 0);
        EXPECT_EQ(buf()[0xB2], 0x00);
    }
}

TEST_F(HeaderTest, ComplementWhoseSumIsZeroIsZero) {
    // 0x19 + 0x96 + 0x51 = 0x100: with an otherwise empty range s is 0.
    MakeGba("");
    std::memset(buf() + 0xA0, 0, 29);
    buf()[0xB2] = 0x96;
    buf()[0xA0] = 0x51;
    buf()[0xBD] = 0x77;
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Repair), 0);
    EXPECT_EQ(buf()[0xBD], 0x00);
    EXPECT_EQ(s.GameNameText, "Q");
    // And 0x00 is accepted as consistent.
    s.Config.FixRom = 0;
    EXPECT_EQ(CheckCartHeader(s, HeaderCheck::Logged), 0);
    EXPECT_EQ(ui.log.back(), "Game Name = Q");
}

}  // namespace
