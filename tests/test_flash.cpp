// Flash command sequences, checked at the cart bus: which words reach which
// addresses, how often the status is polled, and what a stop leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "flash/flash.h"
#include "flash/identify.h"
#include "link/detect.h"
#include "support/bus_tap.h"
#include "support/fake_frontend.h"
#include "support/sim_fixture.h"

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
        s.EraseTimeFloorMs = 0;  // budgets alone (the floor has its own test)
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

TEST_F(FlashSeqTest, ReadyWaitPollsErrorsAndStopPoints) {
    // Ready at once: one poll (a stop point), then read array.
    Status(0x0080, 0x0080);
    EXPECT_EQ(WaitFlashReady(s), 0);
    EXPECT_EQ(Writes(), (std::vector<W>{{0, 0x70}, {0, 0xFF}}));
    EXPECT_EQ(ui.pumps, 1);

    // Ready with an error bit ends at once; clear status lands on word 1.
    tap.reads = 0;
    Status(0x00A0, 0x00A0);
    EXPECT_EQ(WaitFlashReady(s), -1);
    EXPECT_EQ(tap.reads, 1);
    EXPECT_EQ(Writes(), (std::vector<W>{{0, 0x70}, {0, 0xFF}, {1, 0x50}}));

    // Never ready: the whole budget, a pump every 1024 polls, no clear status.
    tap.reads = 0;
    ui.pumps = 0;
    Status(0x0000, 0x0000);
    EXPECT_EQ(WaitFlashReady(s), -1);
    EXPECT_EQ(tap.reads, kReadyBudget);
    EXPECT_EQ(ui.pumps, kReadyBudget / 1024);
    EXPECT_EQ(Writes().back(), (W{0, 0xFF}));

    // Stop pressed in the second pump: exactly 1024 polls were made before
    // it. A chip still busy takes no read array, so the stop lets it finish
    // first (here one more poll), without further pumps.
    tap.reads = 0;
    ui.pumps = 0;
    ui.stopAfterPumps = 2;
    int polls = 0;
    tap.answer = [&polls](std::uint32_t) { return static_cast<std::uint16_t>(++polls > 1024 ? 0x80 : 0x00); };
    EXPECT_EQ(WaitFlashReady(s), kStopResult);
    EXPECT_EQ(tap.reads, 1025);
    const std::vector<W> w = Writes();
    EXPECT_EQ(w.size(), 1024u + 1 + 1);  // 1024 + 1 status commands, then read array
    EXPECT_EQ(w.back(), (W{0, 0xFF}));
    EXPECT_EQ(ui.log, (std::vector<std::string>{"Stop process !!!"}));

    // A chip that never gets ready again is given the erase budget, no more.
    tap.reads = 0;
    ui.pumps = 0;
    ui.stopAfterPumps = 1;
    s.StopRequested = 0;
    Status(0x0000, 0x0000);
    EXPECT_EQ(WaitFlashReady(s), kStopResult);
    EXPECT_EQ(tap.reads, kEraseBudget);
    EXPECT_EQ(Writes().back(), (W{0, 0xFF}));

    // A stop in the ready wait before an erase fails the erase with -1, not 254.
    Status(0x0080, 0x0080);
    ui.pumps = 0;
    ui.stopAfterPumps = 1;
    s.StopRequested = 0;
    EXPECT_EQ(EraseFlashBlock(s, 0x4000), -1);
    EXPECT_EQ(Writes(), (std::vector<W>{{0, 0x70}, {0, 0xFF}}));
}

TEST_F(FlashSeqTest, EveryCommandOfAPairReachesBothChips) {
    Pair(true);
    Status(0x0080, 0x0080);
    // Ready wait: status command to words 0 and 1, status read from words 2 and 3.
    EXPECT_EQ(WaitFlashReady(s), 0);
    EXPECT_EQ(tap.reads, 2);
    const std::vector<W> ready = {{0, 0x70}, {1, 0x70}, {0, 0xFF}, {1, 0xFF}};
    EXPECT_EQ(Writes(), ready);

    // Second chip ready with an error: clear status to both chips.
    Status(0x0080, 0x0090);
    EXPECT_EQ(WaitFlashReady(s), -1);
    auto expected = ready;
    expected.insert(expected.end(), {{2, 0x50}, {3, 0x50}});
    EXPECT_EQ(Writes(), expected);

    Status(0x0080, 0x0080);
    const std::uint32_t d = 8u << 14;
    EXPECT_EQ(EraseFlashBlock(s, d), 0);
    expected = ready;
    expected.insert(expected.end(),
                    {{d, 0x20}, {d + 1, 0x20}, {d, 0xD0}, {d + 1, 0xD0}, {0, 0xFF}, {1, 0xFF}});
    EXPECT_EQ(Writes(), expected);

    // Buffer program: 0xE8 to the chunk start of each chip, count, 32 data
    // words alternating between the chips, a confirm to each.
    for (int i = 0; i < kChunkWords; ++i) s.ChunkBuffer.setWord(i, static_cast<std::uint16_t>(0x1000 + i));
    const std::uint32_t start = 3u << 14, o = 64;
    EXPECT_EQ(ProgramBuffer(s, start, o), 0);
    expected = {{start, 0xE8}, {start + 1, 0xE8}, {start + o, 0x0F}, {start + o + 1, 0x0F}};
    for (std::uint32_t i = 0; i < 32; ++i)
        expected.push_back({start + o + i, static_cast<std::uint16_t>(0x1000 + o + i)});
    expected.insert(expected.end(), {{start + o + 32, 0xD0}, {start + o + 33, 0xD0}});
    expected.insert(expected.end(), ready.begin(), ready.end());
    EXPECT_EQ(Writes(), expected);

    // The stop exit waits for both chips to be ready, then puts both into read array.
    ui.stopAfterPumps = ui.pumps + 1;
    EXPECT_EQ(WaitFlashReady(s), kStopResult);
    EXPECT_EQ(Writes(), ready);
}

// Status words the erase confirm phase reads: the erase goes on for
// `busyPolls` polls after the confirm (0x70-free: nothing else is read then).
struct EraseStatusRun {
    BusTap& tap;
    long busyReads;
    std::vector<std::uint32_t> addresses;  // read after the confirm
    std::uint16_t operator()(std::uint32_t a) {
        const bool confirmed = std::any_of(tap.writes.begin(), tap.writes.end(),
                                           [](const BusTap::Write& w) { return w.word == 0xD0; });
        if (!confirmed) return 0x80;
        addresses.push_back(a);
        return static_cast<long>(addresses.size()) > busyReads ? 0x80 : 0x00;
    }
};

TEST_F(FlashSeqTest, EraseStatusRunIsReloadedOnlyWhereItWouldLeaveATwoPairCartsPair) {
    Pair(true);
    // Chunk 248 ends the first pair: the run from its block would reach word
    // 0x400000 after 65535 polls; this erase takes 70000.
    const std::uint32_t d = 248u << 14;
    for (const bool twoPairs : {false, true}) {
        SCOPED_TRACE(twoPairs ? "two pairs" : "one pair");
        s.Cart.TwoPairs = twoPairs;
        EraseStatusRun run{tap, 2 * 70000, {}};
        tap.answer = std::ref(run);
        EXPECT_EQ(EraseFlashBlock(s, d), 0);
        ASSERT_EQ(run.addresses.size(), 2u * 70000 + 2);
        EXPECT_EQ(run.addresses.front(), d + 2);
        const auto last = *std::max_element(run.addresses.begin(), run.addresses.end());
        if (twoPairs) {
            // Back to the block's first word once, just before leaving the quarter.
            EXPECT_EQ(last, 0x3FFFFFu);
            EXPECT_EQ(std::count(run.addresses.begin(), run.addresses.end(), d), 1);
            EXPECT_EQ(run.addresses[2 * 65535], d);
        } else {
            // One pair of large chips: the run goes on unchanged.
            EXPECT_EQ(last, d + 1 + 2 * 70001);
        }
        Writes();
    }
}

// A clock that moves on by `step` each time it is read.
struct SteppingClock final : Clock {
    std::chrono::milliseconds step{0};
    int reads = 0;
    TimePoint Now() override { return TimePoint(step * reads++); }
};

TEST_F(FlashSeqTest, EraseOutlastingItsBudgetIsPolledUntilTheTimeFloor) {
    // The erase ends 5000 polls after the budget: with a floor that is still
    // success, and the window keeps its turn every 1024 polls.
    SteppingClock clock;
    s.EraseClock = &clock;
    s.EraseTimeFloorMs = 60000;
    EraseStatusRun slow{tap, kEraseBudget + 5000, {}};
    tap.answer = std::ref(slow);
    EXPECT_EQ(EraseFlashBlock(s, 0), 0);
    EXPECT_EQ(slow.addresses.size(), static_cast<std::size_t>(kEraseBudget) + 5001);
    EXPECT_GE(ui.pumps, (kEraseBudget + 5000) / 1024);

    // A block that never finishes fails once the floor has passed, not before:
    // the clock is read when the erase begins and at every 1024th poll past
    // the budget, 10 ms on each time, so the 30th of those reads ends it.
    Writes();
    clock = SteppingClock{};
    clock.step = std::chrono::milliseconds(10);
    s.EraseTimeFloorMs = 300;
    EraseStatusRun stuck{tap, 1L << 40, {}};
    tap.answer = std::ref(stuck);
    EXPECT_EQ(EraseFlashBlock(s, 0), -1);
    EXPECT_EQ(clock.reads, 31);
    EXPECT_EQ(stuck.addresses.size(), static_cast<std::size_t>(kEraseBudget) + 29 * 1024);
    EXPECT_EQ(Writes().back(), (W{1, 0x50}));
}

TEST_F(FlashSeqTest, ChunkReadRegisterOrderAndVerifyLength) {
    tap.answer = [](std::uint32_t a) { return static_cast<std::uint16_t>(a * 3); };
    ReadFlashChunk(s, 5);
    for (int i = 0; i < kChunkWords; ++i)
        ASSERT_EQ(s.ChunkBuffer.word(i), static_cast<std::uint16_t>(((5u << 14) + i) * 3));
    // Page 3 of chunk 5: registers 0, 1, 2 in that order (after the access mode write).
    std::vector<std::pair<int, int>> page3(tap.regWrites.begin() + 10, tap.regWrites.begin() + 13);
    EXPECT_EQ(page3, (std::vector<std::pair<int, int>>{{0, 0x00}, {1, 0x43}, {2, 0x01}}));

    // Verify reads the pages the low 16 bits of the length ask for, never past
    // the buffer, and reads a chunk with a difference to its end, counting
    // the words that differ.
    for (auto [length, reads] : {std::pair{32768, 16384}, {1024, 512}, {65536, 0}, {0xFFFF, 16384}}) {
        tap.reads = 0;
        EXPECT_EQ(VerifyFlashChunk(s, 5, length), 0) << length;
        EXPECT_EQ(tap.reads, reads) << length;
    }
    s.ChunkBuffer.setWord(700, 0);
    s.ChunkBuffer.setWord(9000, 0);
    tap.reads = 0;
    EXPECT_EQ(VerifyFlashChunk(s, 5, 32768), -1);
    EXPECT_EQ(tap.reads, 16384);
    EXPECT_EQ(s.FirstMismatch.Chunk, 5);
    EXPECT_EQ(s.FirstMismatch.Word, 700);
    EXPECT_EQ(s.FirstMismatch.CartWord, static_cast<std::uint16_t>(((5u << 14) + 700) * 3));
    EXPECT_EQ(s.FirstMismatch.FileWord, 0);
    EXPECT_EQ(s.FirstMismatch.DifferingWords, 2);
}

}  // namespace

// ---- against the simulated cart ----

namespace {

void FillChunk(AppState& s, std::uint32_t seed) {
    std::uint32_t x = seed * 2654435761u + 1;
    for (int i = 0; i < kChunkWords; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s.ChunkBuffer.setWord(i, static_cast<std::uint16_t>(x));
    }
}

bool FlashHoldsChunk(test::SimFixture& f, int n) {
    return std::equal(f.s.ChunkBuffer.bytes.begin(), f.s.ChunkBuffer.bytes.end(),
                      f.sim().Flash().begin() + static_cast<std::ptrdiff_t>(n) * kChunkBytes);
}

// Adapter found and flash identified, as every operation starts.
void Ready(test::SimFixture& f) {
    ASSERT_EQ(DetectAdapter(f.s), 0);
    ASSERT_EQ(IdentifyFlash(f.s), 0);
    f.ui.log.clear();
    f.ui.pumps = 0;
}

TEST(FlashOnSim, ProgramReadAndVerifyChunks) {
    for (const char* model : {"single-64M", "strata-256M"}) {
        SCOPED_TRACE(model);
        test::SimFixture f(model);
        Ready(f);
        for (int n : {0, 9}) {
            FillChunk(f.s, static_cast<std::uint32_t>(n + 1));
            ASSERT_EQ(ProgramFlashChunk(f.s, n, kChunkBytes), 0);
            EXPECT_TRUE(FlashHoldsChunk(f, n));
            EXPECT_TRUE(f.sim().AllChipsInReadArray());
            EXPECT_EQ(VerifyFlashChunk(f.s, n, kChunkBytes), 0);
        }
        // Chunk 9 read back into a cleared buffer.
        auto expected = f.s.ChunkBuffer.bytes;
        f.s.ChunkBuffer.bytes.fill(0);
        ReadFlashChunk(f.s, 9);
        EXPECT_EQ(f.s.ChunkBuffer.bytes, expected);
        // The neighbours were erased and left blank.
        f.s.ChunkBuffer.bytes.fill(0xFF);
        EXPECT_EQ(VerifyFlashChunk(f.s, 10, kChunkBytes), 0);
        // One differing word in the last page is found.
        ReadFlashChunk(f.s, 0);
        f.s.ChunkBuffer.setWord(kChunkWords - 1,
                                static_cast<std::uint16_t>(~f.s.ChunkBuffer.word(kChunkWords - 1)));
        EXPECT_EQ(VerifyFlashChunk(f.s, 0, kChunkBytes), -1);
        EXPECT_EQ(f.sim().BufferProgramCount(), 2 * 1024);  // 16 words per chip per program
        EXPECT_TRUE(f.ui.log.empty());
    }
}

TEST(FlashOnSim, ProgramThroughSppLink) {
    auto cfg = test::SimConfigFor("strata-64M");
    cfg.sppOnly = true;
    test::SimFixture f(cfg);
    Ready(f);
    ASSERT_NE(f.s.Link.SppMode, 0);
    FillChunk(f.s, 77);
    f.s.Config.VerifyAfterWrite = 1;
    EXPECT_EQ(ProgramFlashChunk(f.s, 3, kChunkBytes), 0);
    EXPECT_TRUE(FlashHoldsChunk(f, 3));
}

TEST(FlashOnSim, BlockEraseRuleOverARunOfChunks) {
    {
        test::SimFixture f("single-128M");
        Ready(f);
        FillChunk(f.s, 1);
        for (int n : {5, 6, 7, 8}) ASSERT_EQ(ProgramFlashChunk(f.s, n, kChunkBytes), 0) << n;
        // Block 4-7 erased once, at chunk 5; block 8-11 at chunk 8.
        EXPECT_EQ(f.sim().EraseCount(0, 1), 1);
        EXPECT_EQ(f.sim().EraseCount(0, 2), 1);
        EXPECT_EQ(f.sim().TotalEraseCount(), 2);
        EXPECT_EQ(f.s.LastErasedBlock, 8);
        // The first chunk of a block erases it every time it is written.
        ASSERT_EQ(ProgramFlashChunk(f.s, 4, kChunkBytes), 0);
        ASSERT_EQ(ProgramFlashChunk(f.s, 4, kChunkBytes), 0);
        EXPECT_EQ(f.sim().EraseCount(0, 1), 3);
        // Back to a chunk of the previous block: erased again, losing chunks 5-7.
        ASSERT_EQ(ProgramFlashChunk(f.s, 9, kChunkBytes), 0);
        EXPECT_EQ(f.sim().EraseCount(0, 2), 2);
        // A new detection forgets the last erase.
        ASSERT_EQ(DetectAdapter(f.s), 0);
        EXPECT_EQ(f.s.LastErasedBlock, -1);
        ASSERT_EQ(ProgramFlashChunk(f.s, 10, kChunkBytes), 0);
        EXPECT_EQ(f.sim().EraseCount(0, 2), 3);
    }
    {
        // A pair: 8 chunks per block, both chips erase together.
        test::SimFixture f("strata-128M");
        Ready(f);
        FillChunk(f.s, 2);
        for (int n : {8, 9, 15, 16}) ASSERT_EQ(ProgramFlashChunk(f.s, n, kChunkBytes), 0) << n;
        EXPECT_EQ(f.sim().EraseCount(0, 1), 1);
        EXPECT_EQ(f.sim().EraseCount(1, 1), 1);
        EXPECT_EQ(f.sim().EraseCount(0, 2), 1);
        EXPECT_EQ(f.sim().EraseCount(1, 2), 1);
        EXPECT_EQ(f.sim().TotalEraseCount(), 4);
        EXPECT_TRUE(FlashHoldsChunk(f, 15));
    }
}

TEST(FlashOnSim, VerifyAfterWriteDecidesTheChunkResult) {
    test::SimFixture f("single-64M");
    Ready(f);
    FillChunk(f.s, 5);
    ASSERT_EQ(ProgramFlashChunk(f.s, 0, kChunkBytes), 0);
    // Chunk 1 shares the block just erased, so it is programmed over whatever
    // is there: zero bits left behind show up only when verifying.
    for (int i = 0; i < 64; ++i) f.sim().Flash()[kChunkBytes + 1000 + i] = 0x00;
    f.s.Config.VerifyAfterWrite = 0;
    EXPECT_EQ(ProgramFlashChunk(f.s, 1, kChunkBytes), 0);
    EXPECT_EQ(f.sim().TotalEraseCount(), 1);
    f.s.Config.VerifyAfterWrite = 1;
    EXPECT_EQ(ProgramFlashChunk(f.s, 1, kChunkBytes), -1);
    EXPECT_EQ(ProgramFlashChunk(f.s, 0, kChunkBytes), 0);  // first chunk: erased again, good
}

TEST(FlashOnSim, StatusErrorFailsTheChunkAndClearsStatus) {
    for (const char* model : {"single-64M", "strata-256M"}) {
        SCOPED_TRACE(model);
        auto cfg = test::SimConfigFor(model);
        cfg.faultProgramErrorChunk = 2;
        test::SimFixture f(cfg);
        Ready(f);
        FillChunk(f.s, 3);
        EXPECT_EQ(ProgramFlashChunk(f.s, 1, kChunkBytes), 0);
        EXPECT_EQ(ProgramFlashChunk(f.s, 2, kChunkBytes), -1);
        // Chunk 1 took 1024 programs of 16 words per chip; in chunk 2 the first
        // program (one per chip) reported the error and nothing further was sent.
        const int chips = f.s.Cart.Interleaved ? 2 : 1;
        EXPECT_EQ(f.sim().BufferProgramCount(), 1024 + chips);
        EXPECT_TRUE(f.sim().AllChipsInReadArray());
        for (int c = 0; c < f.sim().ChipCount(); ++c) EXPECT_EQ(f.sim().ChipStatus(c), 0x80) << c;
        // The cart goes on working.
        EXPECT_EQ(ProgramFlashChunk(f.s, 1, kChunkBytes), 0);
    }
}

TEST(FlashOnSim, SecondPairOfATwoPairCartIsPolledAndLeftReadable) {
    // strata-128M: two pairs of 4 MiB chips, the second from chunk 256 on.
    auto cfg = test::SimConfigFor("strata-128M");
    cfg.faultProgramErrorChunk = 301;
    test::SimFixture f(cfg);
    Ready(f);
    f.s.Config.VerifyAfterWrite = 1;
    FillChunk(f.s, 8);
    // 255 and 511 end a pair: their last confirm must not land on the other pair.
    for (int n : {300, 255, 511}) {
        EXPECT_EQ(ProgramFlashChunk(f.s, n, kChunkBytes), 0) << n;
        EXPECT_TRUE(FlashHoldsChunk(f, n)) << n;
        EXPECT_TRUE(f.sim().AllChipsInReadArray()) << n;
    }
    // A program error there is seen, and its status cleared.
    EXPECT_EQ(ProgramFlashChunk(f.s, 301, kChunkBytes), -1);
    EXPECT_TRUE(f.sim().AllChipsInReadArray());
    for (int c = 0; c < 4; ++c) EXPECT_EQ(f.sim().ChipStatus(c), 0x80) << c;
    // An erased block there reads blank right away.
    EXPECT_EQ(EraseFlashBlock(f.s, 312u << 14), 0);
    f.s.ChunkBuffer.bytes.fill(0xFF);
    EXPECT_EQ(VerifyFlashChunk(f.s, 312, kChunkBytes), 0);
}

TEST(FlashOnSim, LongErasesAtTheEndOfEitherPairOfATwoPairCart) {
    // An erase of 100000 polls from chunk 248 (or 504, which wraps to the
    // first pair) once read the other pair's blank flash as "ready".
    auto cfg = test::SimConfigFor("strata-128M");
    cfg.busyErase = 100000;
    test::SimFixture f(cfg);
    Ready(f);
    EXPECT_EQ(f.s.Cart.TwoPairs, 1);
    f.s.Config.VerifyAfterWrite = 1;
    for (int n : {248, 504}) {
        FillChunk(f.s, static_cast<std::uint32_t>(n));
        EXPECT_EQ(ProgramFlashChunk(f.s, n, kChunkBytes), 0) << n;
        EXPECT_TRUE(FlashHoldsChunk(f, n)) << n;
    }
    EXPECT_TRUE(f.sim().AllChipsInReadArray());
}

TEST(FlashOnSim, OnePairOf8MiBChipsAcrossItsQuarters) {
    // strata-128M-one-pair: chunk 255 ends the first 8 MiB quarter, 511 the
    // cart; commands for chunk 256 on go to word 0x400000 of the same pair.
    test::SimFixture f("strata-128M-one-pair");
    Ready(f);
    f.s.Config.VerifyAfterWrite = 1;
    FillChunk(f.s, 10);
    for (int n : {255, 256, 511}) {
        EXPECT_EQ(ProgramFlashChunk(f.s, n, kChunkBytes), 0) << n;
        EXPECT_TRUE(FlashHoldsChunk(f, n)) << n;
        EXPECT_TRUE(f.sim().AllChipsInReadArray()) << n;
    }
    EXPECT_EQ(f.sim().TotalEraseCount(), 6);  // blocks 31, 32 and 63 of both chips
    EXPECT_EQ(f.sim().BufferProgramCount(), 3 * 512 * 2);
}

TEST(FlashOnSim, StopDuringEraseSetupAndDuringBufferProgram) {
    {
        // Pumps of the erase: ready wait, setup, confirm. Stop in the setup.
        test::SimFixture f("strata-256M");
        Ready(f);
        f.s.StopRequested = 0;
        f.ui.stopAfterPumps = 2;
        EXPECT_EQ(EraseFlashBlock(f.s, 16u << 14), kStopResult);
        EXPECT_EQ(f.sim().TotalEraseCount(), 0);
        EXPECT_TRUE(f.sim().AllChipsInReadArray());
        EXPECT_EQ(f.ui.log, (std::vector<std::string>{"Stop process !!!"}));
        EXPECT_FALSE(f.ui.busy);
    }
    {
        // Stop while the erase runs: 254, and the chips that ignored the read
        // array command while busy come back with the next ready wait.
        auto cfg = test::SimConfigFor("strata-256M");
        cfg.busyErase = 5000;
        test::SimFixture f(cfg);
        Ready(f);
        f.s.StopRequested = 0;
        f.ui.stopAfterPumps = 4;  // second pump of the confirm phase
        FillChunk(f.s, 9);
        EXPECT_EQ(ProgramFlashChunk(f.s, 16, kChunkBytes), -1);
        EXPECT_EQ(f.s.LastErasedBlock, -1);
        EXPECT_EQ(f.sim().BufferProgramCount(), 0);
        f.s.StopRequested = 0;
        f.ui.stopAfterPumps = 0;
        EXPECT_EQ(WaitFlashReady(f.s), 0);
        EXPECT_TRUE(f.sim().AllChipsInReadArray());
        EXPECT_EQ(f.sim().TotalEraseCount(), 2);  // a running erase cannot be called back
    }
    for (const char* model : {"single-64M", "strata-256M"}) {
        SCOPED_TRACE(model);
        // Stop in the buffer wait of the 11th buffer program: ten programmed.
        test::SimFixture f(model);
        Ready(f);
        f.s.StopRequested = 0;
        f.ui.stopAfterPumps = 3 + 2 * 10 + 1;
        FillChunk(f.s, 4);
        EXPECT_EQ(ProgramFlashChunk(f.s, 0, kChunkBytes), -1);
        const int chips = f.s.Cart.Interleaved ? 2 : 1;
        EXPECT_EQ(f.sim().BufferProgramCount(), 10 * chips);
        const int done = 10 * 16 * chips;
        auto& flash = f.sim().Flash();
        EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 2 * done, f.s.ChunkBuffer.bytes.begin()));
        EXPECT_TRUE(std::all_of(flash.begin() + 2 * done, flash.begin() + kChunkBytes,
                                [](auto b) { return b == 0xFF; }));
        EXPECT_TRUE(f.sim().AllChipsInReadArray());
        EXPECT_EQ(f.ui.log, (std::vector<std::string>{"Stop process !!!"}));
        EXPECT_EQ(f.s.LastErasedBlock, 0);
    }
}

}  // namespace
