// Damaged settings: config.sav of every length and of random bytes, window
// sizes no window can take, port and speed indexes outside their items.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/config.h"
#include "ops/commands.h"
#include "support/op_bench.h"

using namespace rombolt;
using test::OpBench;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunk = 32768;

// ------------------------------------------------------------------ config.sav

class BadConfig : public ::testing::Test {
protected:
    test::TempDir dir{"robust_cfg"};
    WindowState designed;
    fs::path file = dir.path() / "config.sav";

    void SetUp() override { designed.CurrentDirectory = dir.str(); }

    StartupResult Start(AppState& s, test::FakeFrontend& ui) {
        s.UI = &ui;
        return StartupConfig(s, designed, dir.str());
    }

    // A full record with every setting away from its default.
    std::vector<std::uint8_t> Sample() {
        ConfigRecord r = DefaultConfig(dir.str());
        r.PortIndex = 1;
        r.SpeedIndex = 2;
        r.IpsApply = 1;
        r.VerifyAfterWrite = 1;
        r.FixRom = 0;
        r.Cut32K = 0;
        r.WindowHeight = 700;
        r.WindowWidth = 640;
        r.ColumnWidths = {10, 20, 30, 40, 50};
        const ConfigBytes b = SerializeConfig(r);
        return {b.begin(), b.end()};
    }
};

TEST_F(BadConfig, EveryLengthFrom0To2000) {
    std::vector<std::uint8_t> full = Sample();
    full.resize(2000, 0xA7);  // anything after the record is ignored
    const ConfigRecord defaults = DefaultConfig(dir.str());
    for (std::size_t n = 0; n <= 2000; ++n) {
        const std::vector<std::uint8_t> bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        test::WriteFileBytes(file, bytes);
        AppState s;
        test::FakeFrontend ui(s);
        const StartupResult r = Start(s, ui);
        ASSERT_FALSE(r.ConfigError) << n;
        auto field = [&](int offset, std::uint8_t fallback) {
            return n > static_cast<std::size_t>(offset) ? full[offset] : fallback;
        };
        ASSERT_EQ(s.Config.PortIndex, field(config_offset::PortIndex, defaults.PortIndex)) << n;
        ASSERT_EQ(static_cast<std::uint8_t>(s.Config.SpeedIndex), field(config_offset::SpeedIndex, 0)) << n;
        ASSERT_EQ(s.Config.Cut32K, field(config_offset::Cut32K, defaults.Cut32K)) << n;
        ASSERT_EQ(s.Link.DataPort, s.Config.PortIndex == 1 ? 0x278 : 0x378) << n;
        ASSERT_GE(r.Window.Height, kMinWindowSize) << n;
        ASSERT_GE(r.Window.Width, kMinWindowSize) << n;
        // A short file is rewritten whole at once; a whole one is left alone.
        const auto now = test::ReadFileBytes(file);
        if (n < static_cast<std::size_t>(kConfigSize)) {
            ASSERT_EQ(now.size(), static_cast<std::size_t>(kConfigSize)) << n;
        } else {
            ASSERT_TRUE(now == bytes) << n;
        }
    }
}

TEST_F(BadConfig, RandomBytesAndOutOfRangeValuesGiveASaneStart) {
    std::mt19937 rng(12);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes(kConfigSize);
        for (auto& v : bytes) v = static_cast<std::uint8_t>(rng());
        test::WriteFileBytes(file, bytes);
        AppState s;
        test::FakeFrontend ui(s);
        const StartupResult r = Start(s, ui);
        ASSERT_TRUE(r.Window.Height >= kMinWindowSize && r.Window.Height <= kMaxWindowSize) << round;
        ASSERT_TRUE(r.Window.Width >= kMinWindowSize && r.Window.Width <= kMaxWindowSize) << round;
        for (std::int32_t w : r.Window.ColumnWidths) ASSERT_TRUE(w >= 0 && w <= kMaxColumnWidth) << round;
        ASSERT_EQ(s.Link.DataPort, PortBaseForIndex(s.Config.PortIndex));
        // Paths full of random bytes name nothing: emptied, and the record
        // written on close is the whole record.
        EXPECT_TRUE(r.Window.CurrentDirectory.empty() || fs::exists(r.Window.CurrentDirectory));
        WindowState w = r.Window;
        w.Height += 1;
        CloseConfig(s, w);
        ASSERT_EQ(test::ReadFileBytes(file).size(), static_cast<std::size_t>(kConfigSize));
    }

    // Window sizes a window cannot take open at the designed size; sizes in
    // range are kept, column by column.
    struct Sizes {
        std::int32_t height, width, column;
        bool kept;
    };
    for (const Sizes& z :
         {Sizes{-5, -1, -1, false}, Sizes{0, 0, -100, false}, Sizes{149, 149, INT_MIN, false},
          Sizes{INT_MIN, INT_MAX, INT_MAX, false}, Sizes{100000, 16385, 16385, false},
          Sizes{150, 150, 0, true}, Sizes{16384, 16384, 16384, true}, Sizes{606, 553, 77, true}}) {
        SCOPED_TRACE(std::to_string(z.height) + "x" + std::to_string(z.width));
        ConfigRecord rec = DefaultConfig(dir.str());
        rec.WindowHeight = z.height;
        rec.WindowWidth = z.width;
        rec.ColumnWidths = {z.column, 135, z.column, 95, z.column};
        const ConfigBytes b = SerializeConfig(rec);
        test::WriteFileBytes(file, {b.begin(), b.end()});
        AppState s;
        test::FakeFrontend ui(s);
        designed.Height = 606;
        designed.Width = 553;
        const StartupResult r = Start(s, ui);
        EXPECT_EQ(r.Window.Height, z.kept ? z.height : 606);
        EXPECT_EQ(r.Window.Width, z.kept ? z.width : 553);
        EXPECT_EQ(r.Window.ColumnWidths[0], z.kept ? z.column : designed.ColumnWidths[0]);
        EXPECT_EQ(r.Window.ColumnWidths[1], 135);
        EXPECT_EQ(r.Window.ColumnWidths[4], z.kept ? z.column : designed.ColumnWidths[4]);
        // The record keeps what the file said until the window is closed.
        EXPECT_EQ(s.Config.WindowHeight, z.height);
    }

    // A directory named config.sav: defaults, and nothing is ever written.
    fs::remove(file);
    fs::create_directory(file);
    {
        AppState s;
        test::FakeFrontend ui(s);
        const StartupResult r = Start(s, ui);
        EXPECT_FALSE(s.ConfigWritable);
        EXPECT_EQ(r.Window.Height, designed.Height);
        EXPECT_EQ(s.Config.FixRom, 1);
        WindowState w = r.Window;
        w.Height += 1;
        CloseConfig(s, w);
        EXPECT_TRUE(fs::is_directory(file));
    }
    fs::remove(file);

    // Port indexes above 2 act as LPT1.
    for (int port = 0; port < 256; ++port) {
        ConfigRecord rec = DefaultConfig(dir.str());
        rec.PortIndex = static_cast<std::uint8_t>(port);
        const ConfigBytes b = SerializeConfig(rec);
        test::WriteFileBytes(file, {b.begin(), b.end()});
        AppState s;
        test::FakeFrontend ui(s);
        Start(s, ui);
        const int want = port == 1 ? 0x278 : port == 2 ? 0x3BC : 0x378;
        ASSERT_EQ(s.Link.DataPort, want) << port;
        ASSERT_EQ(s.Link.EppDataPort, want + 4) << port;
    }
}

// A speed index outside 0..3 moves data like its nearest neighbour that the
// link rules name: below 0 like "4" (index 0), above 3 like "2" (index 2:
// SPP-strobed writes, EPP byte reads; only index 3 switches to SPP).
TEST(BadSpeed, OutOfRangeSpeedIndexMovesDataLikeItsNeighbour) {
    auto run = [](int speed, long long& accesses, std::uint8_t& sppMode) {
        OpBench b(test::SimConfigFor("single-32M"));
        b.s.Config.SpeedIndex = static_cast<std::int8_t>(speed);
        b.s.Config.VerifyAfterWrite = 1;
        const auto image = test::MakeGbaImage(kChunk, "SPEED", 8);
        b.OneGame("s.gba", image);
        const long long start = b.f.sim().PortAccesses();
        EXPECT_TRUE(WriteClick(b.s).Ok()) << speed << b.ui.LogText();
        EXPECT_TRUE(VerifyClick(b.s).Ok()) << speed;
        EXPECT_TRUE(b.Cart(0, kChunk) == b.Prepared(image)) << speed;
        accesses = b.f.sim().PortAccesses() - start;
        sppMode = b.s.Link.SppMode;
    };
    long long a0, a2, a3, aLow, aHigh, aMin, aMax;
    std::uint8_t m0, m2, m3, mLow, mHigh, mMin, mMax;
    run(0, a0, m0);
    run(2, a2, m2);
    run(3, a3, m3);
    run(-1, aLow, mLow);
    run(-128, aMin, mMin);
    run(4, aHigh, mHigh);
    run(127, aMax, mMax);
    EXPECT_NE(a0, a2);
    EXPECT_NE(a2, a3);
    EXPECT_EQ(aLow, a0);
    EXPECT_EQ(aMin, a0);
    EXPECT_EQ(aHigh, a2);
    EXPECT_EQ(aMax, a2);
    EXPECT_EQ(m3, 1);
    EXPECT_EQ(mHigh, 0);
    EXPECT_EQ(mMax, 0);
    EXPECT_EQ(mLow, 0);
}

}  // namespace
