// Flash command sequences, checked at the cart bus: which words reach which
// addresses, how often the status is polled, and what a stop leaves behind.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "flash/flash.h"
#include "support/bus_tap.h"
#include "support/fake_frontend.h"

using namespace rombolt;

namespace {

using test::BusTap;

class FlashSeqTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.UI = &ui;
        s.Port = &tap;
        ApplyPortSelection(s);
        s.Link.SppMode = 0;
        s.Config.SpeedIndex = 0;
        s.StopRequested = 0;
    }
    void Pair(bool on) { s.Cart.Interleaved = on ? 1 : 0; }
    // Same status for every read: `lo` from even addresses, `hi` from odd ones.
    void Status(std::uint16_t lo, std::uint16_t hi) {
        tap.answer = [lo, hi](std::uint32_t a) { return (a & 1) ? hi : lo; };
    }
    std::vector<BusTap::Write> Writes() { return std::exchange(tap.writes, {}); }

    AppState s;
    test::FakeFrontend ui{s};
    BusTap tap;
};

using W = BusTap::Write;

TEST_F(FlashSeqTest, ReadyWaitOnOneChip) {
    // Ready at once: one poll, then read array.
    Status(0x0080, 0x0080);
    EXPECT_EQ(WaitFlashReady(s), 0);
    EXPECT_EQ(tap.reads, 1);
    EXPECT_EQ(Writes(), (std::vector<W>{{0, 0x70}, {0, 0xFF}}));
    EXPECT_EQ(ui.pumps, 1);  // the first poll is a stop point

    // Ready with an error bit: ends at once, clear status lands on word 1.
    tap.reads = 0;
    Status(0x00A0, 0x00A0);
    EXPECT_EQ(WaitFlashReady(s), -1);
    EXPECT_EQ(tap.reads, 1);
    EXPECT_EQ(Writes(), (std::vector<W>{{0, 0x70}, {0, 0xFF}, {1, 0x50}}));

    // High byte is not part of a single chip's status.
    Status(0xFF80, 0xFF80);
    EXPECT_EQ(WaitFlashReady(s), 0);
    Writes();

    // Never ready: the whole budget, a pump every 1024 polls, no clear status
    // since no error bit was seen.
    tap.reads = 0;
    ui.pumps = 0;
    Status(0x0000, 0x0000);
    EXPECT_EQ(WaitFlashReady(s), -1);
    EXPECT_EQ(tap.reads, kReadyBudget);
    EXPECT_EQ(ui.pumps, kReadyBudget / 1024);
    EXPECT_EQ(Writes().back(), (W{0, 0xFF}));
    EXPECT_TRUE(ui.log.empty());
}

TEST_F(FlashSeqTest, ReadyWaitOnAPairTalksToBothChips) {
    Pair(true);
    Status(0x0080, 0x0080);
    EXPECT_EQ(WaitFlashReady(s), 0);
    // Status command to words 0 and 1, status read from words 2 and 3.
    EXPECT_EQ(tap.reads, 2);
    EXPECT_EQ(Writes(), (std::vector<W>{{0, 0x70}, {1, 0x70}, {0, 0xFF}, {1, 0xFF}}));
    EXPECT_EQ(ReadStatusPair(s), 0x8080);

    // First chip ready, second never: polls until the budget runs out, then
    // clears no status (no error bit seen).
    tap.reads = 0;
    Status(0x0080, 0x0000);
    EXPECT_EQ(WaitFlashReady(s), -1);
    EXPECT_EQ(tap.reads, 2 * kReadyBudget);
    EXPECT_EQ(Writes().back(), (W{1, 0xFF}));

    // Both ready, second with an error: clear status sent to both chips.
    Status(0x0080, 0x0090);
    EXPECT_EQ(WaitFlashReady(s), -1);
    EXPECT_EQ(Writes(), (std::vector<W>{{0, 0x70}, {1, 0x70}, {0, 0xFF}, {1, 0xFF}, {2, 0x50}, {3, 0x50}}));
}

TEST_F(FlashSeqTest, StopInsideAPollLoop) {
    // Stop pressed in the second pump: exactly 1024 polls were made before it.
    Status(0x0000, 0x0000);
    ui.stopAfterPumps = 2;
    EXPECT_EQ(WaitFlashReady(s), kStopResult);
    EXPECT_EQ(tap.reads, 1024);
    EXPECT_EQ(Writes().back(), (W{0, 0xFF}));
    EXPECT_EQ(ui.log, (std::vector<std::string>{"Stop process !!!"}));
    EXPECT_EQ(s.StopRequested, 1);

    // On a pair the stop exit puts both chips into read array.
    Pair(true);
    ui.log.clear();
    ui.pumps = 0;
    ui.stopAfterPumps = 1;
    s.StopRequested = 0;
    EXPECT_EQ(WaitFlashReady(s), kStopResult);
    EXPECT_EQ(Writes(), (std::vector<W>{{0, 0xFF}, {1, 0xFF}}));
    EXPECT_EQ(ui.log, (std::vector<std::string>{"Stop process !!!"}));

    // A stop in the ready wait before an erase makes the erase fail with -1.
    ui.pumps = 0;
    s.StopRequested = 0;
    EXPECT_EQ(EraseFlashBlock(s, 0x4000), -1);
    for (auto& w : Writes()) EXPECT_NE(w.word, 0x20);
}

TEST_F(FlashSeqTest, EraseOfAPairSendsEveryCommandToBothChips) {
    Pair(true);
    Status(0x0080, 0x0080);
    const std::uint32_t d = 8u << 14;
    EXPECT_EQ(EraseFlashBlock(s, d), 0);
    const std::vector<W> expected = {
        {0, 0x70}, {1, 0x70},     {0, 0xFF}, {1, 0xFF},  // ready wait
        {d, 0x20}, {d + 1, 0x20},                        // setup to each chip
        {d, 0xD0}, {d + 1, 0xD0},                        // confirm to each chip
        {0, 0xFF}, {1, 0xFF},                            // read array
    };
    EXPECT_EQ(Writes(), expected);

    // A chip that stays busy in the setup is asked again, the ready one is not.
    int polls = 0;
    tap.answer = [&](std::uint32_t a) -> std::uint16_t {
        if (a < d) return 0x80;                        // ready wait
        if (a & 1) return ++polls >= 2 ? 0x80 : 0x00;  // second chip ready at its 2nd setup poll
        return 0x80;
    };
    EXPECT_EQ(EraseFlashBlock(s, d), 0);
    auto w = Writes();
    int setups0 = 0, setups1 = 0;
    for (auto& x : w) {
        if (x == W{d, 0x20}) ++setups0;
        if (x == W{d + 1, 0x20}) ++setups1;
    }
    EXPECT_EQ(setups0, 1);
    EXPECT_EQ(setups1, 2);
}

TEST_F(FlashSeqTest, BufferProgramOfAPairSplitsWordsBetweenChips) {
    Pair(true);
    Status(0x0080, 0x0080);
    for (int i = 0; i < kChunkWords; ++i) s.ChunkBuffer.setWord(i, static_cast<std::uint16_t>(0x1000 + i));
    const std::uint32_t start = 3u << 14, o = 64;
    EXPECT_EQ(ProgramBuffer(s, start, o), 0);
    std::vector<W> expected = {{start, 0xE8}, {start + 1, 0xE8}, {start + o, 0x0F}, {start + o + 1, 0x0F}};
    for (std::uint32_t i = 0; i < 32; ++i)
        expected.push_back({start + o + i, static_cast<std::uint16_t>(0x1000 + o + i)});
    expected.push_back({start + o + 32, 0xD0});
    expected.push_back({start + o + 33, 0xD0});
    for (W x : {W{0, 0x70}, W{1, 0x70}, W{0, 0xFF}, W{1, 0xFF}}) expected.push_back(x);
    EXPECT_EQ(Writes(), expected);

    // Single chip: 16 words, one count and one confirm.
    Pair(false);
    EXPECT_EQ(ProgramBuffer(s, start, 16), 0);
    auto w = Writes();
    ASSERT_EQ(w.size(), 2u + 16u + 1u + 2u);
    EXPECT_EQ(w[0], (W{start, 0xE8}));
    EXPECT_EQ(w[1], (W{start + 16, 0x0F}));
    EXPECT_EQ(w[2], (W{start + 16, 0x1010}));
    EXPECT_EQ(w[17], (W{start + 31, 0x101F}));
    EXPECT_EQ(w[18], (W{start + 32, 0xD0}));

    // No buffer ever available: gives up after the budget without writing data.
    Status(0x0000, 0x0000);
    tap.reads = 0;
    EXPECT_EQ(ProgramBuffer(s, start, 0), -1);
    EXPECT_EQ(tap.reads, kReadyBudget);
    w = Writes();
    EXPECT_EQ(w.size(), static_cast<std::size_t>(kReadyBudget));
    for (auto& x : w) EXPECT_EQ(x, (W{start, 0xE8}));
}

TEST_F(FlashSeqTest, ChunkReadLoadsAddressRegistersInOrder012) {
    tap.answer = [](std::uint32_t a) { return static_cast<std::uint16_t>(a * 3); };
    ReadFlashChunk(s, 5);
    for (int i = 0; i < kChunkWords; ++i)
        ASSERT_EQ(s.ChunkBuffer.word(i), static_cast<std::uint16_t>(((5u << 14) + i) * 3));
    // Per page: registers 0, 1, 2; after the access mode write.
    std::vector<std::pair<int, int>> page3(tap.regWrites.begin() + 1 + 3 * 3,
                                           tap.regWrites.begin() + 1 + 4 * 3);
    EXPECT_EQ(page3, (std::vector<std::pair<int, int>>{{0, 0x00}, {1, 0x43}, {2, 0x01}}));
    EXPECT_EQ(tap.reads, kChunkWords);

    // Verify compares the pages the length asks for and stops at the first difference.
    tap.reads = 0;
    EXPECT_EQ(VerifyFlashChunk(s, 5, 32768), 0);
    EXPECT_EQ(tap.reads, kChunkWords);
    tap.reads = 0;
    EXPECT_EQ(VerifyFlashChunk(s, 5, 1024), 0);
    EXPECT_EQ(tap.reads, 512);
    tap.reads = 0;
    EXPECT_EQ(VerifyFlashChunk(s, 5, 65536), 0);
    EXPECT_EQ(VerifyFlashChunk(s, 5, 0), 0);
    EXPECT_EQ(tap.reads, 0);
    // Lengths above a chunk never compare past the buffer.
    EXPECT_EQ(VerifyFlashChunk(s, 5, 0xFFFF), 0);
    EXPECT_EQ(tap.reads, kChunkWords);
    s.ChunkBuffer.setWord(700, 0);
    tap.reads = 0;
    EXPECT_EQ(VerifyFlashChunk(s, 5, 32768), -1);
    EXPECT_EQ(tap.reads, 701);
}

}  // namespace
