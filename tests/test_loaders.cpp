#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "app/app_state.h"
#include "image/header.h"
#include "ops/loaders.h"
#include "support/fake_frontend.h"

using namespace rombolt;

namespace {

std::uint32_t ArmWord(const LoaderImage& img, std::uint32_t at) {
    return img[at] | (img[at + 1] << 8) | (img[at + 2] << 16) |
           (static_cast<std::uint32_t>(img[at + 3]) << 24);
}

// Runs the header check on a copy of img; the copy must come back unchanged.
int CheckUnchanged(const LoaderImage& img, int mode, std::string& name) {
    AppState s;
    test::FakeFrontend ui(s);
    s.UI = &ui;
    s.Config.FixRom = 1;
    std::memcpy(s.ChunkBuffer.data(), img.data(), img.size());
    const int r = CheckCartHeader(s, static_cast<HeaderCheck>(mode));
    EXPECT_TRUE(std::equal(img.begin(), img.end(), s.ChunkBuffer.bytes.begin())) << "mode " << mode;
    EXPECT_TRUE(ui.log.empty() || mode & 1);
    name = s.GameNameText;
    return r;
}

TEST(BuiltinLoaders, GbaLoaderIsAValidImageThatRuns) {
    const LoaderImage& img = BuiltinGbaLoader;
    ASSERT_EQ(img.size(), 32768u);
    std::string name;
    EXPECT_EQ(CheckUnchanged(img, 0, name), 0);
    EXPECT_EQ(name, "ROMBOLT MENU");
    EXPECT_EQ(CheckUnchanged(img, 2, name), 0);  // nothing to repair
    EXPECT_EQ(img[0xB2], 0x96);

    // Entry: an unconditional ARM branch past the header into the program
    // (what the program does is checked in the emulator test).
    const std::uint32_t entry = ArmWord(img, 0);
    ASSERT_EQ(entry >> 24, 0xEAu);
    const std::uint32_t target = 8 + 4 * (entry & 0xFFFFFF);
    EXPECT_GE(target, 0xC0u);
    for (std::uint32_t pc = target; pc < target + 64; pc += 4)
        ASSERT_NE(ArmWord(img, pc), 0xFFFFFFFFu) << "runs into empty space at " << pc;
    // The scan compares images with the GB logo the header block carries at 0xC0.
    EXPECT_TRUE(std::equal(kGbLogo.begin(), kGbLogo.end(), img.begin() + 0xC0));
    EXPECT_EQ(img.back(), 0xFF);  // padded like erased flash
}

TEST(BuiltinLoaders, GbLoaderIsAValidColourImageThatRuns) {
    const LoaderImage& img = BuiltinGbLoader;
    ASSERT_EQ(img.size(), 32768u);
    std::string name;
    EXPECT_EQ(CheckUnchanged(img, 0, name), 2);
    EXPECT_EQ(name, "ROMBOLT MENU");
    EXPECT_EQ(CheckUnchanged(img, 2, name), 2);
    EXPECT_EQ(img[0x143], 0x80);
    EXPECT_TRUE(std::equal(kGbLogo.begin(), kGbLogo.end(), img.begin() + 0x104));

    // Header checksum over 0x134..0x14C, global checksum over everything else.
    std::uint8_t x = 0;
    for (int i = 0x134; i <= 0x14C; ++i) x = static_cast<std::uint8_t>(x - img[i] - 1);
    EXPECT_EQ(img[0x14D], x);
    unsigned sum = 0;
    for (int i = 0; i < 32768; ++i)
        if (i != 0x14E && i != 0x14F) sum += img[i];
    EXPECT_EQ(img[0x14E], static_cast<std::uint8_t>(sum >> 8));
    EXPECT_EQ(img[0x14F], static_cast<std::uint8_t>(sum));
    EXPECT_EQ(img[0x148], 0);  // 32 KiB ROM

    // Entry: jp to code past the header that ends in "jr -2".
    ASSERT_EQ(img[0x101], 0xC3);
    const int target = img[0x102] | (img[0x103] << 8);
    EXPECT_GE(target, 0x150);
    bool loops = false;
    for (int pc = target; pc < target + 16; ++pc) loops = loops || (img[pc] == 0x18 && img[pc + 1] == 0xFE);
    EXPECT_TRUE(loops);
}

}  // namespace
