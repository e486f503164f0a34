#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/game_list.h"
#include "image/header.h"
#include "ops/commands.h"
#include "ops/layout.h"
#include "ops/loaders.h"
#include "ops/multi.h"
#include "support/game_images.h"
#include "support/sim_fixture.h"

using namespace rombolt;
using rombolt::test::MakeGbaImage;
using rombolt::test::MakeGbImage;
using rombolt::test::WriteFileBytes;

namespace {

constexpr std::size_t KiB = 1024;

// The bytes a game should leave in the cart: its first n bytes, the header
// repaired, the last chunk padded with 0xFF.
std::vector<std::uint8_t> Expected(std::vector<std::uint8_t> img, std::size_t n) {
    img.resize(n);
    const bool gb = std::equal(kGbLogo.begin(), kGbLogo.end(), img.begin() + 0x104);
    if (!gb) {  // GBA: logo and complement are put right
        std::memcpy(img.data() + 4, kGbaLogo.data(), kGbaLogo.size());
        img[0xB2] = 0x96;
        int sum = 0x19;
        for (int i = 0xA0; i <= 0xBC; ++i) sum += img[i];
        img[0xBD] = static_cast<std::uint8_t>(-sum);
    }
    img.resize((n + 32767) / 32768 * 32768, 0xFF);
    return img;
}

struct Bench {
    explicit Bench(const std::string& model) : f(model, "64K"), dir("multi") {
        f.s.Config.FixRom = 1;
        f.s.Config.Cut32K = 1;
        // a: padded tail that Cut32K drops; b: odd length and a broken
        // complement the write repairs; c: GB colour; d: plain GB.
        images["a.gba"] = MakeGbaImage(1024 * KiB + 32 * KiB, "ALPHA", 11, true);
        images["b.gba"] = MakeGbaImage(512 * KiB + 100, "BRAVO", 12);
        images["b.gba"][0xBD] ^= 0x5A;
        images["c.gbc"] = MakeGbImage(64 * KiB, "CHARLIE", 0x80, 13);
        images["d.gb"] = MakeGbImage(32 * KiB, "DELTA", 0x00, 14);
        for (auto& [name, bytes] : images) WriteFileBytes(dir.path() / name, bytes);
        AddSelectedFiles(f.s, dir.str(), {"a.gba", "b.gba", "c.gbc", "d.gb"});
    }

    std::vector<std::uint8_t> Chunk(int c, int count = 1) {
        auto& fl = f.sim().Flash();
        return {fl.begin() + c * 32768L, fl.begin() + (c + count) * 32768L};
    }
    // Where the layout of this cart puts row r.
    int StartOf(int row) {
        for (int c = 0; c < kMapChunks; ++c)
            if (f.s.ChunkMap[c] == row) return c;
        return -1;
    }

    test::SimFixture f;
    test::TempDir dir;
    std::map<std::string, std::vector<std::uint8_t>> images;
};

class MultiGameEndToEnd : public ::testing::TestWithParam<const char*> {};

TEST_P(MultiGameEndToEnd, WriteCheckVerifyAndCatchACorruptByte) {
    Bench b(GetParam());
    AppState& s = b.f.s;
    ASSERT_EQ(s.GameList.size(), 4u);
    ASSERT_EQ(s.GameList[0].GType, "GBA#");
    ASSERT_EQ(s.GbRowCount, 2);

    // The list goes to the multi-game path by itself.
    ASSERT_TRUE(WriteClick(s).Ok()) << b.f.ui.LogText();
    EXPECT_TRUE(b.f.ui.Logged("Write Multi-Files completed")) << b.f.ui.LogText();
    const bool vela = std::string(GetParam()).starts_with("vela");
    EXPECT_EQ(s.Cart.VelaLine != 0, vela);

    // The map of the detected cart: loaders where they belong, every game placed.
    const int chunks = static_cast<int>(s.Cart.CapacityBytes / 32768);
    const int gbLoader = chunks == 256 ? 255 : 511;
    EXPECT_EQ(s.ChunkMap[0], ChunkGbaLoader);
    EXPECT_EQ(s.ChunkMap[gbLoader], ChunkGbLoader);
    const int at[] = {b.StartOf(0), b.StartOf(1), b.StartOf(2), b.StartOf(3)};
    if (vela) {
        EXPECT_EQ(at[0], 1);
        EXPECT_EQ(at[1], 33);
    } else {
        EXPECT_EQ(at[0], 1);
        EXPECT_EQ(at[1], 129);  // the smaller GBA game on the next 4 MiB step
    }

    // Chunk by chunk: loaders, games (a without its padded chunk), nothing else.
    EXPECT_EQ(b.Chunk(0), std::vector<std::uint8_t>(BuiltinGbaLoader.begin(), BuiltinGbaLoader.end()));
    EXPECT_EQ(b.Chunk(gbLoader), std::vector<std::uint8_t>(BuiltinGbLoader.begin(), BuiltinGbLoader.end()));
    const std::size_t sizes[] = {1024 * KiB, 512 * KiB + 100, 64 * KiB, 32 * KiB};
    const char* names[] = {"a.gba", "b.gba", "c.gbc", "d.gb"};
    std::vector<bool> used(static_cast<std::size_t>(chunks), false);
    used[0] = used[gbLoader] = true;
    for (int r = 0; r < 4; ++r) {
        const auto want = Expected(b.images[names[r]], sizes[r]);
        const int n = static_cast<int>(want.size() / 32768);
        EXPECT_EQ(b.Chunk(at[r], n), want) << names[r];
        for (int c = at[r]; c < at[r] + n; ++c) used[c] = true;
    }
    for (int c = 0; c < chunks; ++c) {
        if (used[c]) continue;
        const auto chunk = b.Chunk(c);
        ASSERT_TRUE(std::all_of(chunk.begin(), chunk.end(), [](std::uint8_t v) { return v == 0xFF; }))
            << "chunk " << c << " was written";
    }

    // Log prefixes count the items in chunk order; built-in loaders carry "# ".
    std::vector<std::pair<int, std::string>> items = {{0, "GBA Loader"}, {gbLoader, "GB Loader"}};
    for (int r = 0; r < 4; ++r) items.push_back({at[r], names[r]});
    std::sort(items.begin(), items.end());
    const std::map<std::string, std::string> titles = {{"GBA Loader", "# ROMBOLT MENU"},
                                                       {"GB Loader", "# ROMBOLT MENU"},
                                                       {"a.gba", "ALPHA"},
                                                       {"b.gba", "BRAVO"},
                                                       {"c.gbc", "CHARLIE"},
                                                       {"d.gb", "DELTA"}};
    for (std::size_t k = 0; k < items.size(); ++k) {
        const std::string line =
            std::to_string(k + 1) + "/6[" + items[k].second + "] " + titles.at(items[k].second);
        EXPECT_TRUE(b.f.ui.Logged(line)) << line << "\n" << b.f.ui.LogText();
    }

    // Verify the same list against the cart.
    b.f.ui.log.clear();
    ASSERT_TRUE(VerifyClick(s).Ok()) << b.f.ui.LogText();
    EXPECT_TRUE(b.f.ui.Logged("Verify Multi-Files completed"));

    // One flipped byte in b's second chunk.
    b.f.sim().Flash()[(at[1] + 1) * 32768L + 777] ^= 0x10;
    b.f.ui.log.clear();
    EXPECT_FALSE(VerifyClick(s).Ok());
    const auto& log = b.f.ui.log;
    const auto err = std::find(log.begin(), log.end(), "Verify Flash Error!!!(1)");
    ASSERT_NE(err, log.end()) << b.f.ui.LogText();
    int bIndex = 0;
    for (std::size_t k = 0; k < items.size(); ++k)
        if (items[k].second == "b.gba") bIndex = static_cast<int>(k) + 1;
    EXPECT_EQ(*(err - 1), std::to_string(bIndex) + "/6[b.gba] BRAVO");
    EXPECT_FALSE(b.f.ui.Logged("Verify Multi-Files completed"));
    EXPECT_EQ(b.f.ui.panels[1], "Verify Error!!!");
    EXPECT_FALSE(b.f.ui.busy);
    EXPECT_EQ(s.CurrentFile, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Carts, MultiGameEndToEnd,
                         ::testing::Values("strata-64M", "strata-128M", "vela-256M"), [](const auto& info) {
                             std::string n = info.param;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

TEST(MultiGame, LoaderFilesReplaceTheBuiltInImages) {
    Bench b("strata-128M");
    AppState& s = b.f.s;
    // A GBA loader file of the right size; the GB path names a directory.
    std::vector<std::uint8_t> menu = MakeGbaImage(32 * KiB, "MYMENU", 99);
    WriteFileBytes(b.dir.path() / "menu.gba", menu);
    s.Config.GbaLoaderFile.set((b.dir.path() / "menu.gba").string());
    s.Config.GbLoaderFile.set(b.dir.str());
    ASSERT_TRUE(WriteMultiGames(s, MultiMode::Write).Ok()) << b.f.ui.LogText();
    EXPECT_TRUE(b.f.ui.Logged("1/6[GBA Loader] MYMENU"));
    EXPECT_TRUE(b.f.ui.Logged("6/6[GB Loader] # ROMBOLT MENU"));
    EXPECT_EQ(b.Chunk(0), Expected(menu, 32 * KiB));

    // A loader file of the wrong size stops the operation before anything else.
    b.f.ui.log.clear();
    b.f.ui.busyHistory.clear();
    menu.push_back(0);
    WriteFileBytes(b.dir.path() / "menu.gba", menu);
    EXPECT_FALSE(WriteMultiGames(s, MultiMode::Write).Ok());
    EXPECT_EQ(b.f.ui.log.back(), "Multi-Boot Files Size Error!!!(" + (b.dir.path() / "menu.gba").string() +
                                     ": 32769 bytes, a loader file holds 32768)");
    EXPECT_TRUE(b.f.ui.busyHistory.empty());  // found before the operation began
    EXPECT_FALSE(b.f.ui.busy);
    EXPECT_EQ(s.CurrentFile, nullptr);
}

TEST(MultiGame, FailuresBeforeAndDuringTheWrite) {
    // No room: three GBA games on an 8 MiB plain cart.
    {
        Bench b("strata-64M");
        AppState& s = b.f.s;
        WriteFileBytes(b.dir.path() / "e.gba", MakeGbaImage(64 * KiB, "ECHO", 15));
        AddSelectedFiles(s, b.dir.str(), {"e.gba"});
        const long programs = b.f.sim().BufferProgramCount();
        EXPECT_FALSE(WriteMultiGames(s, MultiMode::Write).Ok());
        EXPECT_EQ(b.f.ui.log.back(), "This  cart have not enough space for these files!!!");
        EXPECT_EQ(b.f.sim().BufferProgramCount(), programs);
        EXPECT_TRUE(b.f.ui.busyHistory.empty());  // never went busy
    }
    // A game file that has gone: found before anything is written.
    {
        Bench b("vela-256M");
        AppState& s = b.f.s;
        std::filesystem::remove(b.dir.path() / "b.gba");
        EXPECT_FALSE(WriteMultiGames(s, MultiMode::Write).Ok());
        EXPECT_EQ(b.f.ui.log.back(),
                  "File Open Error!!!(" + (b.dir.path() / "b.gba").string() + ": No such file or directory)");
        EXPECT_FALSE(b.f.ui.Logged("2/6[a.gba] ALPHA"));
        EXPECT_TRUE(b.f.ui.busyHistory.empty());
        EXPECT_FALSE(b.f.ui.busy);
    }
    // A programming fault inside a game.
    {
        SimConfig c = test::SimConfigFor("strata-64M");
        c.faultProgramErrorChunk = 130;  // b's second chunk
        test::SimFixture f(c);
        test::TempDir dir("multi_fault");
        WriteFileBytes(dir.path() / "a.gba", MakeGbaImage(1024 * KiB, "ALPHA", 1));
        WriteFileBytes(dir.path() / "b.gba", MakeGbaImage(256 * KiB, "BRAVO", 2));
        AddSelectedFiles(f.s, dir.str(), {"a.gba", "b.gba"});
        EXPECT_FALSE(WriteMultiGames(f.s, MultiMode::Write).Ok());
        EXPECT_TRUE(f.ui.Logged("3/3[b.gba] BRAVO"));
        EXPECT_TRUE(f.ui.Logged("Write Flash Error!!!(1)")) << f.ui.LogText();
        EXPECT_EQ(f.ui.panels[1], "Write Error!!!");
        EXPECT_EQ(f.ui.log.back().rfind("Time = ", 0), 0u);
        EXPECT_FALSE(f.ui.Logged("Write Multi-Files completed"));
    }
    // The built-in loader fails to program, then to verify: the log says so
    // as it does for a loader file.
    {
        SimConfig c = test::SimConfigFor("strata-64M");
        c.faultProgramErrorChunk = 0;
        test::SimFixture f(c);
        test::TempDir dir("multi_loader_fault");
        WriteFileBytes(dir.path() / "a.gba", MakeGbaImage(64 * KiB, "ALPHA", 1));
        AddSelectedFiles(f.s, dir.str(), {"a.gba", "a.gba"});
        for (int mode : {0, 1}) {
            f.ui.log.clear();
            EXPECT_FALSE(WriteMultiGames(f.s, static_cast<MultiMode>(mode)).Ok());
            EXPECT_TRUE(f.ui.Logged("1/3[GBA Loader] # ROMBOLT MENU")) << f.ui.LogText();
            EXPECT_TRUE(f.ui.Logged(mode == 0 ? "Write Flash Error!!!(0)" : "Verify Flash Error!!!(0)"))
                << f.ui.LogText();
            EXPECT_EQ(f.ui.panels[1], mode == 0 ? "Write Error!!!" : "Verify Error!!!");
        }
    }
    // A patch that lengthens a game into the next one's chunks.
    {
        Bench b("vela-256M");
        AppState& s = b.f.s;
        s.Config.IpsApply = 1;
        const std::vector<std::uint8_t> ips = {'P', 'A', 'T', 'C', 'H', 0x10, 0,  0,
                                               0,   2,   7,   7,   'E', 'O',  'F'};
        WriteFileBytes(b.dir.path() / "grow.ips", ips);  // 2 bytes at 1 MiB, a's cut length
        b.f.ui.files = {(b.dir.path() / "grow.ips").string()};
        const auto next = b.Chunk(33);
        EXPECT_FALSE(WriteMultiGames(s, MultiMode::Write).Ok());
        EXPECT_EQ(b.StartOf(1), 33);
        EXPECT_TRUE(b.f.ui.Logged("Cart Size Error!!!")) << b.f.ui.LogText();
        EXPECT_EQ(b.f.ui.panels[1], "Write Error!!!");
        EXPECT_EQ(b.Chunk(33), next);
    }
    // Stop pressed while a game is being written.
    {
        Bench b("vela-256M");
        b.f.ui.onPump = [&b] {
            if (!b.f.ui.log.empty() && b.f.ui.log.back() == "2/6[a.gba] ALPHA") b.f.s.StopRequested = 1;
        };
        EXPECT_FALSE(WriteMultiGames(b.f.s, MultiMode::Write).Ok());
        const auto& log = b.f.ui.log;
        const auto stop = std::find(log.begin(), log.end(), "Stop process !!!");
        ASSERT_NE(stop, log.end());
        EXPECT_EQ(*(stop + 1), "Write Flash Error!!!(0)");  // then the failing step's own text
        EXPECT_FALSE(b.f.ui.Logged("3/6[c.gbc] CHARLIE"));
        EXPECT_EQ(b.f.ui.panels[1], "Write Error!!!");
        EXPECT_EQ(b.f.ui.log.back().rfind("Time = ", 0), 0u);
        EXPECT_FALSE(b.f.ui.busy);
        EXPECT_EQ(b.f.s.CurrentFile, nullptr);
    }
    // No adapter.
    {
        SimConfig c = test::SimConfigFor("strata-64M");
        c.adapterPresent = false;
        test::SimFixture f(c);
        f.s.GameList.push_back(GameRow{"x.gba", "/nowhere", "65536", "", "GBA"});
        f.s.GameList.push_back(GameRow{"y.gb", "/nowhere", "65536", "", "GB"});
        UpdateListSize(f.s);
        EXPECT_FALSE(WriteMultiGames(f.s, MultiMode::Verify).Ok());
        EXPECT_EQ(f.ui.log.back(), "No Adaptor Found!");
    }
}

}  // namespace
