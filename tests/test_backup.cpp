// Backing up a cartridge into a file, on simulated flash and mask-ROM carts.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "link/detect.h"
#include "ops/commands.h"
#include "support/op_bench.h"

using namespace rombolt;
using test::OpBench;

namespace {

// The words a cart returns beyond the end of a mask ROM: each its own address.
std::vector<std::uint8_t> OpenBus(std::size_t fromByte, std::size_t toByte) {
    std::vector<std::uint8_t> out;
    for (std::size_t b = fromByte; b < toByte; b += 2) {
        const auto w = static_cast<std::uint16_t>(b / 2);
        out.push_back(static_cast<std::uint8_t>(w));
        out.push_back(static_cast<std::uint8_t>(w >> 8));
    }
    return out;
}

SimConfig CartWithGame(const std::string& model, const std::vector<std::uint8_t>& game) {
    SimConfig c = test::SimConfigFor(model);
    c.rom = game;
    return c;
}

bool Failed(const test::FakeFrontend& ui) {
    return ui.panels[1] == "Backup Error!!!" && ui.Logged("Backup Error!!!") && !ui.Logged("Read ok");
}

TEST(Backup, FlashCartOffersItsCapacityAndCopiesTheChosenSize) {
    const auto game = test::MakeGbaImage(40 * 32768, "FLASHGAME", 31);
    OpBench b(CartWithGame("single-32M", game));
    const std::string out = (b.dir.path() / "backup.gba").string();
    b.ui.files = {out};
    b.ui.cartSizeAnswer = [](int) { return 64; };  // "16M", smaller than the 32M cart

    ASSERT_TRUE(ReadClick(b.s).Ok()) << b.ui.LogText();
    EXPECT_EQ(b.ui.cartSizePreselected, 2);  // "32M": the whole 4 MiB flash
    EXPECT_TRUE(b.ui.Logged("FileName = " + out));
    EXPECT_TRUE(b.ui.Logged("Game Name = FLASHGAME"));
    EXPECT_TRUE(b.ui.Logged("Cart Size = 16M"));
    EXPECT_EQ(b.ui.panels[1], "Read ok");
    EXPECT_EQ(b.ui.progress, 100);
    EXPECT_EQ(test::ReadFileBytes(out), b.Cart(0, 64 * 32768));

    // Closing the dialog without a choice, or cancelling it, is no backup,
    // and no failure either: no error line in the log.
    for (auto answer : {std::function<int(int)>([](int pre) { return pre; }), std::function<int(int)>()}) {
        b.ui.log.clear();
        b.ui.files = {out};
        b.ui.cartSizeAnswer = answer;
        EXPECT_FALSE(ReadClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Backup Cancel"));
        EXPECT_EQ(b.ui.panels[1], "Backup Error!!!");
        EXPECT_FALSE(b.ui.Logged("Backup Error!!!")) << b.ui.LogText();
        EXPECT_EQ(b.ui.log.back().rfind("Time = ", 0), 0u) << b.ui.LogText();
    }
    // No file chosen: nothing starts.
    b.ui.log.clear();
    EXPECT_FALSE(ReadClick(b.s).Ok());
    EXPECT_EQ(b.ui.log, (std::vector<std::string>{"", "Backup Game Cancel"}));
}

TEST(Backup, MaskRomSizeIsProbed) {
    // 1.5 MiB game: chunk 32 holds game data, chunk 64 is beyond its end.
    const auto game = test::MakeGbaImage(48 * 32768, "MASKROM", 41);
    OpBench b(CartWithGame("rom", game));
    const std::string out = (b.dir.path() / "rom.gba").string();
    b.ui.files = {out};
    b.ui.cartSizeAnswer = [](int pre) { return kCartSizes[pre].chunks; };

    ASSERT_TRUE(ReadClick(b.s).Ok()) << b.ui.LogText();
    EXPECT_EQ(b.ui.cartSizePreselected, 1);  // "16M"
    EXPECT_TRUE(b.ui.Logged("Cart Size = 16M"));
    EXPECT_FALSE(b.ui.Logged("Flash not found!!!"));  // a mask ROM is not an error here
    auto want = game;
    const auto tail = OpenBus(game.size(), 64 * 32768);
    want.insert(want.end(), tail.begin(), tail.end());
    EXPECT_EQ(test::ReadFileBytes(out), want);

    // The probe's answers at each size step.
    for (auto [bytes, chunks] :
         {std::pair{32768 * 20, 32}, std::pair{32768 * 33, 64}, std::pair{32768 * 65, 128},
          std::pair{32768 * 129, 256}, std::pair{32768 * 257, 512}, std::pair{32768 * 513, 1024}}) {
        OpBench p(CartWithGame("rom", test::MakeGbaImage(static_cast<std::size_t>(bytes), "P", 42)));
        ASSERT_EQ(DetectAdapter(p.s), 0);
        EXPECT_EQ(ProbeRomSize(p.s), chunks) << bytes;
    }
}

TEST(Backup, BadHeaderFlakyReadsAndStopNeverLookGood) {
    {
        auto game = test::MakeGbaImage(4 * 32768, "BAD", 51);
        game[0x10] ^= 0xFF;  // logo damaged
        OpBench b(CartWithGame("single-32M", game));
        b.ui.files = {(b.dir.path() / "x.gba").string()};
        EXPECT_FALSE(ReadClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Logo Area Error!!!"));
        EXPECT_TRUE(b.ui.Logged("Rom Header Error!!!"));
        EXPECT_TRUE(Failed(b.ui));
        // A raw backup skips the check: the damaged cart is copied as it is.
        b.s.RawBackup = true;
        b.ui.log.clear();
        const std::string out = (b.dir.path() / "raw.gba").string();
        b.ui.files = {out};
        b.ui.cartSizeAnswer = [](int) { return 32; };
        ASSERT_TRUE(ReadClick(b.s).Ok()) << b.ui.LogText();
        EXPECT_FALSE(b.ui.Logged("Rom Header Error!!!"));
        EXPECT_EQ(test::ReadFileBytes(out), b.Cart(0, 32 * 32768));
    }
    {
        // Every so often a read flips a bit: the two reads of some chunk differ.
        SimConfig c = CartWithGame("strata-64M", test::MakeGbaImage(8 * 32768, "FLAKY", 52));
        c.faultFlipEvery = 70001;
        OpBench b(c);
        const std::string out = (b.dir.path() / "flaky.gba").string();
        b.ui.files = {out};
        b.ui.cartSizeAnswer = [](int) { return 32; };
        EXPECT_FALSE(ReadClick(b.s).Ok());
        EXPECT_TRUE(Failed(b.ui)) << b.ui.LogText();
        EXPECT_LT(test::ReadFileBytes(out).size(), 32u * 32768);
        EXPECT_EQ(b.s.CurrentFile, nullptr);
    }
    {
        OpBench b(CartWithGame("single-32M", test::MakeGbaImage(4 * 32768, "STOP", 53)));
        const std::string out = (b.dir.path() / "stop.gba").string();
        b.ui.files = {out};
        b.ui.cartSizeAnswer = [](int) { return 32; };
        int reading = 0;
        b.ui.onPump = [&] {
            if (b.ui.panels[1] == "Reading..." && ++reading == 9) b.s.StopRequested = 1;
        };
        EXPECT_FALSE(ReadClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Stop process !!!"));
        EXPECT_TRUE(Failed(b.ui));
        EXPECT_FALSE(b.ui.busy);
        // A partial backup never sits under the name, nor in a side file.
        for (const auto& e : std::filesystem::directory_iterator(b.dir.path()))
            EXPECT_NE(e.path().filename().string().rfind("stop.gba", 0), 0u) << e.path();
    }
}

}  // namespace
