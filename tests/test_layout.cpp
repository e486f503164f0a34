#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "app/app_state.h"
#include "ops/layout.h"

using namespace rombolt;

namespace {

constexpr std::int32_t KiB = 1024;
constexpr std::int32_t MiB = 1024 * 1024;

struct Game {
    std::int32_t size;  // multiple of 32 KiB
    bool gb;
};

// Fills the list summary the way the game list does (loader space included).
void SetSummary(AppState& s, const std::vector<Game>& games) {
    s.ListRowCount = static_cast<std::int32_t>(games.size());
    s.GbaRowCount = 0;
    s.GbRowCount = 0;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < games.size() && i < 100; ++i) {
        s.RowSizes[i] = games[i].size;
        total += static_cast<std::uint64_t>(games[i].size);
        if (games[i].gb)
            s.GbRows[s.GbRowCount++] = static_cast<std::uint8_t>(i);
        else
            s.GbaRows[s.GbaRowCount++] = static_cast<std::uint8_t>(i);
    }
    if (s.GbRowCount > 0) total += 32 * KiB;
    if (s.GbaRowCount >= 2) total += 32 * KiB;
    s.ListTotalSize = static_cast<std::uint32_t>(total);
}

// First chunk of a row's run, or -1.
int StartOf(const AppState& s, int row) {
    for (int c = 0; c < kMapChunks; ++c)
        if (s.ChunkMap[c] == row) return c;
    return -1;
}

int CountOf(const AppState& s, std::uint8_t v) {
    int n = 0;
    for (auto e : s.ChunkMap) n += e == v;
    return n;
}

TEST(Layout, PlainCartPlacesGbaGamesOnFourMegabyteSteps) {
    AppState s;
    // 2 MiB + 1 MiB on an 8 MiB cart: loader, then the games at 1 and 129.
    SetSummary(s, {{2 * MiB, false}, {1 * MiB, false}});
    ASSERT_EQ(LayoutPlainCart(s, 1), 0);
    EXPECT_EQ(s.ChunkMap[0], ChunkGbaLoader);
    EXPECT_EQ(StartOf(s, 0), 1);
    EXPECT_EQ(CountOf(s, 0), 64);
    EXPECT_EQ(StartOf(s, 1), 129);
    EXPECT_EQ(CountOf(s, 1), 32);
    EXPECT_EQ(s.ChunkMap[256], ChunkEnd);
    EXPECT_EQ(CountOf(s, ChunkGbLoader), 0);

    // The smallest game goes last, whatever its place in the list.
    SetSummary(s, {{1 * MiB, false}, {2 * MiB, false}});
    ASSERT_EQ(LayoutPlainCart(s, 1), 0);
    EXPECT_EQ(StartOf(s, 1), 1);
    EXPECT_EQ(StartOf(s, 0), 129);

    // Equally small games: the first of them is the one moved last.
    SetSummary(s, {{1 * MiB, false}, {1 * MiB, false}, {5 * MiB, false}});
    ASSERT_EQ(LayoutPlainCart(s, 2), 0);
    EXPECT_EQ(StartOf(s, 1), 1);
    EXPECT_EQ(StartOf(s, 2), 129);
    EXPECT_EQ(StartOf(s, 0), 129 + 256);

    // A single GBA game needs no loader and starts at chunk 0.
    SetSummary(s, {{4 * MiB, false}});
    ASSERT_EQ(LayoutPlainCart(s, 1), 0);
    EXPECT_EQ(StartOf(s, 0), 0);
    EXPECT_EQ(CountOf(s, ChunkGbaLoader), 0);
}

TEST(Layout, PlainCartLimitsTheNumberOfGbaGamesAndTheTotal) {
    AppState s;
    SetSummary(s, {{32 * KiB, false}, {32 * KiB, false}, {32 * KiB, false}});
    EXPECT_EQ(LayoutPlainCart(s, 1), kLayoutTooManyGba);
    EXPECT_EQ(LayoutPlainCart(s, 2), 0);

    SetSummary(s, std::vector<Game>(4, {1 * MiB, false}));
    ASSERT_EQ(LayoutPlainCart(s, 2), 0);
    EXPECT_EQ(StartOf(s, 1), 1);
    EXPECT_EQ(StartOf(s, 2), 129);
    EXPECT_EQ(StartOf(s, 3), 257);
    EXPECT_EQ(StartOf(s, 0), 385);
    SetSummary(s, std::vector<Game>(5, {1 * MiB, false}));
    EXPECT_EQ(LayoutPlainCart(s, 2), kLayoutTooManyGba);

    // Anything but 1 is laid out as 16 MiB.
    SetSummary(s, {{8 * MiB, false}, {4 * MiB, false}});
    EXPECT_EQ(LayoutPlainCart(s, 1), -1);
    EXPECT_EQ(LayoutPlainCart(s, 4), 0);
    EXPECT_EQ(s.ChunkMap[512], ChunkEnd);

    // Exactly 8 MiB fits; the loader's 32 KiB more does not.
    SetSummary(s, {{8 * MiB, false}});
    EXPECT_EQ(LayoutPlainCart(s, 1), 0);
    SetSummary(s, {{8 * MiB - 32 * KiB, false}, {32 * KiB, false}});
    EXPECT_EQ(LayoutPlainCart(s, 1), -1);
}

TEST(Layout, NoGameIsPlacedPastTheEndOfThePlainCart) {
    AppState s;
    // The 4 MiB steps would put the small game at chunk 257, behind the end
    // of an 8 MiB cart, although the total fits.
    SetSummary(s, {{7 * MiB + 512 * KiB, false}, {256 * KiB, false}});
    EXPECT_EQ(LayoutPlainCart(s, 1), kLayoutNoPlace);
    for (int c = 257; c < kMapChunks; ++c) ASSERT_EQ(s.ChunkMap[c], ChunkFree) << c;

    // The same on a 16 MiB cart with four games.
    SetSummary(s, {{4 * MiB + 32 * KiB, false}, {4 * MiB, false}, {4 * MiB, false}, {64 * KiB, false}});
    EXPECT_EQ(LayoutPlainCart(s, 2), kLayoutNoPlace);
    for (int c = 513; c < kMapChunks; ++c) ASSERT_EQ(s.ChunkMap[c], ChunkFree) << c;
}

TEST(Layout, GbGamesGoBehindTheGbLoaderFirstFit) {
    AppState s;
    SetSummary(s, {{2 * MiB, false}, {1 * MiB, true}});
    ASSERT_EQ(LayoutPlainCart(s, 1), 0);
    EXPECT_EQ(CountOf(s, ChunkGbaLoader), 0);
    EXPECT_EQ(StartOf(s, 0), 0);
    EXPECT_EQ(s.ChunkMap[255], ChunkGbLoader);
    EXPECT_EQ(StartOf(s, 1), 64);

    ASSERT_EQ(LayoutPlainCart(s, 2), 0);
    EXPECT_EQ(s.ChunkMap[511], ChunkGbLoader);
    EXPECT_EQ(s.ChunkMap[255], 0x9D);

    ASSERT_EQ(LayoutVelaCart(s, 1), 0);
    EXPECT_EQ(s.ChunkMap[255], ChunkGbLoader);
    ASSERT_EQ(LayoutVelaCart(s, 4), 0);
    EXPECT_EQ(s.ChunkMap[511], ChunkGbLoader);

    // The total fits, but the 4 MiB grid of the GBA games leaves no run long
    // enough for the GB game.
    SetSummary(s, {{129 * 32 * KiB, false}, {32 * KiB, false}, {254 * 32 * KiB, true}});
    EXPECT_EQ(LayoutPlainCart(s, 2), kLayoutNoPlace);
    SetSummary(s, {{129 * 32 * KiB, false}, {32 * KiB, false}, {253 * 32 * KiB, true}});
    ASSERT_EQ(LayoutPlainCart(s, 2), 0);
    EXPECT_EQ(StartOf(s, 1), 257);
    EXPECT_EQ(StartOf(s, 2), 258);
}

TEST(Layout, VelaCartFillsBothSidesOfTheGbLoader) {
    AppState s;
    SetSummary(s, {{12 * MiB, false}, {8 * MiB, false}, {1 * MiB, true}});
    ASSERT_EQ(LayoutVelaCart(s, 4), 0);
    EXPECT_EQ(s.ChunkMap[0], ChunkGbaLoader);
    EXPECT_EQ(s.ChunkMap[511], ChunkGbLoader);
    EXPECT_EQ(CountOf(s, ChunkEnd), 0);
    EXPECT_EQ(StartOf(s, 0), 1);    // 1..384
    EXPECT_EQ(StartOf(s, 1), 512);  // 385..510 is too short
    EXPECT_EQ(StartOf(s, 2), 385);  // first fit in front of the loader
    EXPECT_EQ(CountOf(s, 1), 256);

    // Too large for the capacity; 100 rows.
    SetSummary(s, {{12 * MiB, false}, {8 * MiB, false}});
    EXPECT_EQ(LayoutVelaCart(s, 2), -1);
    SetSummary(s, std::vector<Game>(100, {32 * KiB, false}));
    EXPECT_EQ(LayoutVelaCart(s, 4), -1);
    EXPECT_EQ(LayoutPlainCart(s, 2), -1);
    SetSummary(s, std::vector<Game>(99, {32 * KiB, false}));
    EXPECT_EQ(LayoutVelaCart(s, 1), 0);
    EXPECT_EQ(StartOf(s, 98), 99);
}

TEST(Layout, PlacementHelpers) {
    AppState s;
    s.ChunkMap.fill(ChunkFree);
    EXPECT_EQ(FreeRunLength(s, 1000), 24);  // never past chunk 1023
    s.ChunkMap[10] = 3;
    EXPECT_EQ(FreeRunLength(s, 0), 10);
    EXPECT_EQ(FreeRunLength(s, 10), 0);
    EXPECT_EQ(PlaceAt(s, 1, 11 * 32 * KiB, 0), kLayoutTooManyGba);
    EXPECT_EQ(CountOf(s, 1), 0);  // a failed placement leaves the map alone
    EXPECT_EQ(PlaceAt(s, 1, 10 * 32 * KiB, 0), 0);
    EXPECT_EQ(CountOf(s, 1), 10);
    // First fit skips runs that are too short.
    s.ChunkMap[20] = 4;
    EXPECT_EQ(PlaceFirstFit(s, 2, 10 * 32 * KiB), 0);
    EXPECT_EQ(StartOf(s, 2), 21);
    // The end marker stops the search; without one it runs out at 1023.
    s.ChunkMap[40] = ChunkEnd;
    EXPECT_EQ(PlaceFirstFit(s, 5, 20 * 32 * KiB), -1);
    s.ChunkMap.fill(ChunkFree);
    EXPECT_EQ(PlaceFirstFit(s, 5, 1025 * 32 * KiB), kLayoutTooManyGba);
}

TEST(Layout, ARowThatWouldNotBeWrittenFailsEveryLayout) {
    // A row of neither class (as a hand-edited list could hold) and a row
    // that takes no chunk: counted, never placed. No layout may succeed.
    AppState s;
    SetSummary(s, {{1 * MiB, false}, {1 * MiB, false}});
    ASSERT_EQ(LayoutVelaCart(s, 4), 0);
    s.GbaRowCount = 1;  // row 1 in neither class
    for (int a : {1, 2}) EXPECT_NE(LayoutPlainCart(s, a), 0);
    for (int a : {1, 2, 4}) EXPECT_NE(LayoutVelaCart(s, a), 0);
    SetSummary(s, {{1 * MiB, false}, {0, true}});
    for (int a : {1, 2}) EXPECT_NE(LayoutPlainCart(s, a), 0);
    for (int a : {1, 2, 4}) EXPECT_NE(LayoutVelaCart(s, a), 0);
}

// Random lists on every model: whatever succeeds must be a sound cart plan.
TEST(Layout, RandomListsGiveSoundPlans) {
    std::mt19937 rng(20240607);
    int successes = 0;
    for (int iter = 0; iter < 3000; ++iter) {
        std::vector<Game> games(1 + rng() % 7);
        for (auto& g : games) {
            const int chunks = (rng() % 4 == 0) ? 1 + rng() % 8 : 1 + rng() % 160;
            g = {chunks * 32 * KiB, rng() % 3 == 0};
        }
        AppState s;
        SetSummary(s, games);
        for (int model = 0; model < 5; ++model) {
            const bool vela = model >= 2;
            const int a = model == 0 || model == 2 ? 1 : (model == 4 ? 4 : 2);
            const int r = vela ? LayoutVelaCart(s, a) : LayoutPlainCart(s, a);
            const int usable = (vela && a == 4) ? 1024 : (a == 1 ? 256 : 512);
            if (s.ListTotalSize > static_cast<std::uint32_t>(usable) * 32 * KiB) {
                EXPECT_NE(r, 0);
            }
            if (!vela && s.GbaRowCount > (a == 1 ? 2 : 4)) {
                EXPECT_NE(r, 0);
            }
            if (r != 0) continue;
            ++successes;
            SCOPED_TRACE(testing::Message() << "iteration " << iter << " model " << model);

            // Nothing in use at or behind the end.
            for (int c = usable; c < kMapChunks; ++c)
                ASSERT_TRUE(s.ChunkMap[c] == ChunkFree || (c == usable && s.ChunkMap[c] == ChunkEnd));
            // Loaders exactly where they belong.
            EXPECT_EQ(s.ChunkMap[0] == ChunkGbaLoader, s.GbaRowCount >= 2);
            EXPECT_EQ(CountOf(s, ChunkGbaLoader), s.GbaRowCount >= 2 ? 1 : 0);
            const int gbLoaderAt = a == 1 ? 255 : 511;
            EXPECT_EQ(CountOf(s, ChunkGbLoader), s.GbRowCount > 0 ? 1 : 0);
            if (s.GbRowCount > 0) {
                EXPECT_EQ(s.ChunkMap[gbLoaderAt], ChunkGbLoader);
            }
            // Every game whole and in one run: an overlap would have shortened one.
            for (std::size_t row = 0; row < games.size(); ++row) {
                const int n = games[row].size / (32 * KiB);
                const int start = StartOf(s, static_cast<int>(row));
                ASSERT_GE(start, 0);
                EXPECT_EQ(CountOf(s, static_cast<std::uint8_t>(row)), n);
                for (int c = start; c < start + n; ++c) ASSERT_EQ(s.ChunkMap[c], row);
            }
            // Plain carts: GBA games on the 4 MiB grid behind the loader.
            if (!vela && s.GbaRowCount >= 2) {
                for (int j = 0; j < s.GbaRowCount; ++j) EXPECT_EQ(StartOf(s, s.GbaRows[j]) % 128, 1);
            }
        }
    }
    EXPECT_GT(successes, 1000);  // the generator must exercise the success paths
}

}  // namespace
