// The built-in boot loaders on a real (emulated) console: a multi-game write
// on a simulated cart, then the cart's flash booted in mGBA. The GBA loader's
// list, read from its table in work RAM, must match the layout that was
// written. ROMBOLT_SCREENSHOTS=DIR saves the pictures used in docs/.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/game_list.h"
#include "menu_table.h"
#include "mgba_harness.h"
#include "ops/commands.h"
#include "ops/layout.h"
#include "ops/loaders.h"
#include "support/game_images.h"
#include "support/sim_fixture.h"

using namespace rombolt;
using rombolt::test::Emulator;

namespace {

constexpr std::size_t KiB = 1024, MiB = 1024 * KiB;
constexpr std::uint32_t kChunk = 32768;

struct Found {
    int chunk;
    int kind;
    std::uint32_t size;
    bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Found& f) {
    return os << "{chunk " << f.chunk << ", kind " << f.kind << ", " << f.size << " bytes}";
}

struct Menu {
    int endChunk = -1;
    std::vector<Found> images;
};

// Runs the console until the loader has finished its scan and reads its table.
Menu ReadMenu(Emulator& e) {
    Menu m;
    const std::uint32_t at = MENU_TABLE_ADDRESS;
    int frames = 0;
    for (; frames < 600; frames += 10) {
        e.RunFrames(10);
        if (e.Read32(at) == MENU_MAGIC && e.Read16(at + offsetof(menu_table, state)) == MENU_DONE) break;
    }
    EXPECT_LT(frames, 600) << "the scan did not finish";
    e.RunFrames(30);  // the list is drawn right after the scan
    m.endChunk = e.Read16(at + offsetof(menu_table, end_chunk));
    const int count = e.Read16(at + offsetof(menu_table, count));
    for (int i = 0; i < count && i < MENU_MAX_IMAGES; ++i) {
        const std::uint32_t p = at + offsetof(menu_table, image) + i * sizeof(menu_image);
        m.images.push_back({e.Read16(p + offsetof(menu_image, chunk)),
                            e.Read16(p + offsetof(menu_image, kind)),
                            e.Read32(p + offsetof(menu_image, size))});
    }
    return m;
}

// What the menu should find: every item of the written layout but the GBA
// loader itself, in chunk order.
std::vector<Found> Expected(const AppState& s) {
    std::vector<Found> want;
    for (int c = 1; c < kMapChunks && s.ChunkMap[c] != ChunkEnd; ++c) {
        const std::uint8_t v = s.ChunkMap[c];
        if (v == ChunkFree || v == s.ChunkMap[c - 1]) continue;
        if (v == ChunkGbLoader) {
            want.push_back({c, KIND_GBC, kChunk});
            continue;
        }
        const std::string type = s.GameList[v].GType;
        int kind = KIND_GBA;
        if (type == "GB" || type == "GB#") kind = KIND_GB;
        if (type == "GBC" || type == "GBC#") kind = KIND_GBC;
        want.push_back({c, kind, static_cast<std::uint32_t>(s.RowSizes[v])});
    }
    return want;
}

// Share of the frame's pixels that differ from its top-left one (the background).
double InkShare(const Emulator& e) {
    const std::uint32_t background = e.Pixel(0, 0);
    long ink = 0;
    for (unsigned y = 0; y < e.Height(); ++y)
        for (unsigned x = 0; x < e.Width(); ++x) ink += e.Pixel(x, y) != background;
    return static_cast<double>(ink) / (e.Width() * e.Height());
}

void Screenshot(const Emulator& e, const std::string& name) {
    const char* dir = std::getenv("ROMBOLT_SCREENSHOTS");
    if (dir != nullptr) {
        EXPECT_TRUE(e.WritePng(std::string(dir) + "/" + name));
    }
}

struct Cart {
    explicit Cart(const std::string& model) : f(model, "64K"), dir("emulator") { f.s.Config.FixRom = 1; }

    // GB images carry the ROM size code of their length at 0x148.
    void Add(const std::string& name, std::vector<std::uint8_t> image) {
        if (name.ends_with(".gb") || name.ends_with(".gbc")) {
            int code = 0;
            while ((kChunk << code) < image.size()) ++code;
            image[0x148] = static_cast<std::uint8_t>(code);
        }
        test::WriteFileBytes(dir.path() / name, image);
        names.push_back(name);
    }

    // Writes the list with the built-in loaders; the bytes of the cart's flash.bin.
    std::vector<std::uint8_t> Write() {
        EXPECT_EQ(AddSelectedFiles(f.s, dir.str(), names), static_cast<int>(names.size()));
        EXPECT_TRUE(WriteClick(f.s).Ok()) << f.ui.LogText();
        EXPECT_TRUE(f.ui.Logged("Write Multi-Files completed")) << f.ui.LogText();
        return f.sim().Flash();
    }

    test::SimFixture f;
    test::TempDir dir;
    std::vector<std::string> names;
};

TEST(LoadersInEmulator, GbaMenuListsWhatAMultiGameWritePutOnThePlainCart) {
    Cart cart("strata-128M");
    cart.Add("alpha.gba", test::MakeGbaImage(1 * MiB, "ALPHA", 1));
    cart.Add("bravo.gba", test::MakeGbaImage(512 * KiB + 100, "BRAVO", 2));
    cart.Add("charlie.gbc", test::MakeGbImage(64 * KiB, "CHARLIE", 0x80, 3));
    cart.Add("delta.gb", test::MakeGbImage(32 * KiB, "DELTA", 0x00, 4));
    const std::vector<std::uint8_t> flash = cart.Write();
    ASSERT_EQ(flash.size(), 16 * MiB);

    auto e = Emulator::Boot(flash);
    ASSERT_TRUE(e);
    const Menu menu = ReadMenu(*e);
    const std::vector<Found> want = Expected(cart.f.s);
    ASSERT_EQ(want.size(), 5u);  // four games and the GB loader
    EXPECT_EQ(menu.images, want);
    EXPECT_EQ(menu.endChunk, 512);  // open bus past 16 MiB
    EXPECT_GT(InkShare(*e), 0.05);
    Screenshot(*e, "loader-gba.png");

    // The GB loader as the cart holds it, on a GB colour and on the original GB.
    const int gbLoader = want.back().chunk;
    ASSERT_EQ(cart.f.s.ChunkMap[gbLoader], ChunkGbLoader);
    const std::vector<std::uint8_t> gb(flash.begin() + gbLoader * kChunk,
                                       flash.begin() + (gbLoader + 1) * kChunk);
    for (auto model : {Emulator::GbModel::Colour, Emulator::GbModel::Original}) {
        const bool colour = model == Emulator::GbModel::Colour;
        auto g = Emulator::Boot(gb, model);
        ASSERT_TRUE(g);
        g->RunFrames(60);
        EXPECT_EQ(g->DistinctColours(), 2) << (colour ? "colour" : "original");
        // GB colour: the loader's blue palette; original GB: shades of grey.
        const std::uint32_t background = g->Pixel(0, 0);
        const int red = background >> 16, green = background >> 8 & 0xFF, blue = background & 0xFF;
        if (colour) {
            EXPECT_GT(blue, red + 64) << std::hex << background;
        } else {
            EXPECT_TRUE(red == green && green == blue) << std::hex << background;
        }
        EXPECT_GT(InkShare(*g), 0.05);
        EXPECT_LT(InkShare(*g), 0.5);
        if (colour) Screenshot(*g, "loader-gb.png");
    }
}

TEST(LoadersInEmulator, GbaMenuOnA32MiBVelaCartWithGamesOnBothSidesOfTheGbLoader) {
    Cart cart("vela-256M");
    cart.Add("alpha.gba", test::MakeGbaImage(8 * MiB, "ALPHA", 1));
    cart.Add("bravo.gba", test::MakeGbaImage(8 * MiB, "BRAVO", 2));  // no room left before 511
    cart.Add("charlie.gbc", test::MakeGbImage(64 * KiB, "CHARLIE", 0x80, 3));
    cart.Add("delta.gba", test::MakeGbaImage(1 * MiB, "DELTA", 4));
    const std::vector<std::uint8_t> flash = cart.Write();
    ASSERT_EQ(flash.size(), 32 * MiB);

    auto e = Emulator::Boot(flash);
    ASSERT_TRUE(e);
    const Menu menu = ReadMenu(*e);
    const std::vector<Found> want = Expected(cart.f.s);
    ASSERT_EQ(want.size(), 5u);
    EXPECT_LT(want[2].chunk, 511);
    EXPECT_GT(want[4].chunk, 511);
    EXPECT_EQ(menu.images, want);
    EXPECT_EQ(menu.endChunk, 1024);
}

TEST(LoadersInEmulator, GbaMenuPagesWithTheKeypad) {
    Cart cart("single-64M");
    cart.Add("alpha.gba", test::MakeGbaImage(64 * KiB, "ALPHA", 1));
    cart.Add("bravo.gba", test::MakeGbaImage(64 * KiB, "BRAVO", 2));
    for (int i = 0; i < 10; ++i)
        cart.Add("gb" + std::to_string(i) + ".gb",
                 test::MakeGbImage(32 * KiB, "GB" + std::to_string(i), 0, 10 + i));
    auto e = Emulator::Boot(cart.Write());
    ASSERT_TRUE(e);
    const Menu menu = ReadMenu(*e);
    EXPECT_EQ(menu.images, Expected(cart.f.s));
    ASSERT_EQ(menu.images.size(), 13u);  // 10 a page

    const std::uint32_t page = MENU_TABLE_ADDRESS + offsetof(menu_table, page);
    const std::uint32_t right = 1 << 4, left = 1 << 5;
    EXPECT_EQ(e->Read16(page), 0);
    for (auto [keys, want] : {std::pair{right, 1}, {0u, 1}, {right, 1}, {0u, 1}, {left, 0}}) {
        e->SetKeys(keys);
        e->RunFrames(5);
        EXPECT_EQ(e->Read16(page), want) << "keys " << keys;  // one page a press, never past the last
    }
}

TEST(LoadersInEmulator, GbaMenuFindsTheEndOfSmallCarts) {
    // Only the loader on a 4 MiB cart: an empty list, open bus past its end.
    std::vector<std::uint8_t> cart(4 * MiB, 0xFF);
    std::copy(BuiltinGbaLoader.begin(), BuiltinGbaLoader.end(), cart.begin());
    auto e = Emulator::Boot(cart);
    ASSERT_TRUE(e);
    Menu menu = ReadMenu(*e);
    EXPECT_TRUE(menu.images.empty());
    EXPECT_EQ(menu.endChunk, 128);

    // A cart with fewer address lines shows itself again past its end.
    const auto game = test::MakeGbaImage(64 * KiB, "ECHO", 5);
    std::copy(game.begin(), game.end(), cart.begin() + kChunk);
    cart.insert(cart.end(), cart.begin(), cart.end());
    e = Emulator::Boot(cart);
    ASSERT_TRUE(e);
    menu = ReadMenu(*e);
    EXPECT_EQ(menu.images, (std::vector<Found>{{1, KIND_GBA, 64 * KiB}}));
    EXPECT_EQ(menu.endChunk, 128);
}

}  // namespace
