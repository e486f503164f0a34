// Faults and stops end to end on the simulated cart: whatever goes wrong in
// the middle of an operation, the result, the log and the status say failure,
// the window ends idle with the flash readable, no file stays open, and the
// cart holds exactly what the log claims.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/game_list.h"
#include "ops/commands.h"
#include "support/op_bench.h"

using namespace rombolt;
using test::DirtyCart;
using test::OpBench;

namespace {

constexpr std::size_t kChunk = 32768;
constexpr std::size_t kSaveUnit = 8192;

bool LoggedPrefix(const test::FakeFrontend& ui, const std::string& prefix) {
    for (auto& l : ui.log)
        if (l.rfind(prefix, 0) == 0) return true;
    return false;
}

// The number in "Write Flash Error!!!(n)" and the like, or -1.
int LoggedNumber(const test::FakeFrontend& ui, const std::string& prefix) {
    for (auto& l : ui.log)
        if (l.rfind(prefix, 0) == 0) return std::stoi(l.substr(prefix.size()));
    return -1;
}

// Every operation, whatever stopped it: idle window, stop flag back at 1, no
// file left open.
void ExpectIdle(OpBench& b) {
    EXPECT_FALSE(b.ui.busy);
    EXPECT_EQ(b.s.StopRequested, 1);
    EXPECT_EQ(b.s.CurrentFile, nullptr);
}

void ExpectFailed(OpBench& b, int r, const std::string& successLine, const std::string& status) {
    EXPECT_NE(r, 0);
    EXPECT_FALSE(b.ui.Logged(successLine)) << b.ui.LogText();
    EXPECT_EQ(b.ui.panels[1], status) << b.ui.LogText();
    ExpectIdle(b);
}

// The cart after a write of `want` (the prepared image, from chunk 0) that
// failed at chunk `failed` of a cart with erase blocks of `blockChunks`
// chunks: the chunks before it hold the image, the failed chunk holds image
// bytes or erased ones, the rest of its block is erased or untouched as a
// whole, and nothing after that block changed.
void ExpectWrittenUpTo(const std::vector<std::uint8_t>& cart, const std::vector<std::uint8_t>& before,
                       const std::vector<std::uint8_t>& want, std::size_t failed, std::size_t blockChunks) {
    ASSERT_LE(failed * kChunk, want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + failed * kChunk, cart.begin()))
        << "before " << failed;
    const std::size_t blockEnd = (failed / blockChunks + 1) * blockChunks * kChunk;
    for (std::size_t i = failed * kChunk; i < std::min(blockEnd, (failed + 1) * kChunk); ++i) {
        const std::uint8_t w = i < want.size() ? want[i] : 0xFF;
        if (cart[i] != w && cart[i] != 0xFF && cart[i] != before[i]) FAIL() << "byte " << i;
    }
    for (std::size_t c = failed + 1; c * kChunk < blockEnd; ++c) {
        const auto from = cart.begin() + static_cast<std::ptrdiff_t>(c * kChunk);
        const bool erased = std::all_of(from, from + kChunk, [](std::uint8_t v) { return v == 0xFF; });
        const bool kept =
            std::equal(from, from + kChunk, before.begin() + static_cast<std::ptrdiff_t>(c * kChunk));
        EXPECT_TRUE(erased || kept) << "chunk " << c;
    }
    EXPECT_TRUE(std::equal(cart.begin() + static_cast<std::ptrdiff_t>(blockEnd), cart.end(),
                           before.begin() + static_cast<std::ptrdiff_t>(blockEnd)))
        << "after block of chunk " << failed;
}

SimConfig SaveCart(const std::string& model = "single-32M") {
    SimConfig c = DirtyCart(model, "64K");
    return c;
}

void FillSave(OpBench& b, std::uint32_t seed) { test::FillPattern(b.f.sim().Save(), seed); }

// ------------------------------------------------------------------ unplugged

TEST(Unplugged, BeforeAnyOperationNothingStartsAndNothingChanges) {
    SimConfig c = SaveCart();
    c.adapterPresent = false;
    using Op = std::function<int(OpBench&)>;
    const std::vector<std::pair<const char*, Op>> ops = {
        {"write", [](OpBench& b) { return WriteClick(b.s); }},
        {"verify", [](OpBench& b) { return VerifyClick(b.s); }},
        {"backup", [](OpBench& b) { return ReadClick(b.s); }},
        {"save backup", [](OpBench& b) { return SReadClick(b.s); }},
        {"save restore", [](OpBench& b) { return SWriteClick(b.s); }},
        {"erase", [](OpBench& b) { return EraseFlashClick(b.s); }},
        {"multi",
         [](OpBench& b) {
             b.s.GameList.push_back(b.s.GameList[0]);
             UpdateListSize(b.s);
             return WriteClick(b.s);
         }},
    };
    for (auto& [name, op] : ops) {
        SCOPED_TRACE(name);
        OpBench b(c);
        b.OneGame("g.gba", test::MakeGbaImage(2 * kChunk, "G", 1));
        b.ui.answerYes = true;
        b.ui.saverAnswer = {0, 2};
        b.ui.files = {b.File("in.sav", std::vector<std::uint8_t>(65536, 0x11))};
        const auto flash = b.Flash();
        const auto save = b.f.sim().Save();
        EXPECT_NE(op(b), 0);
        EXPECT_EQ(b.ui.log.back(), "No Adaptor Found!");
        EXPECT_TRUE(b.ui.busyHistory.empty());  // never went busy
        EXPECT_TRUE(b.ui.dialogsShown.empty());
        EXPECT_TRUE(b.ui.questions.empty());
        EXPECT_EQ(b.Flash(), flash);
        EXPECT_EQ(b.f.sim().Save(), save);
        ExpectIdle(b);
    }
}

// Pulls the adapter out at the n-th pump of the phase whose status text is
// `phase` (after the pump's own work, so the next transfer already floats).
void UnplugAt(OpBench& b, const std::string& phase, int n) {
    auto count = std::make_shared<int>(0);
    b.ui.onPump = [&b, phase, n, count] {
        if (b.ui.panels[1] == phase && ++*count == n) b.f.sim().SetAdapterPresent(false);
    };
}

TEST(Unplugged, MidwayReadsNeverLookGood) {
    // A cart full of game: every chunk differs from the 0xFF an unplugged
    // adapter reads. Whatever the moment, the backup fails and the file
    // holds only chunks that really came from the cart.
    const auto game = test::MakeGbaImage(32 * kChunk, "WHOLE", 31);
    for (int n = 2; n <= 7; ++n) {
        SCOPED_TRACE("rom backup, pump " + std::to_string(n));
        SimConfig c = test::SimConfigFor("single-32M");
        c.rom = game;
        OpBench b(c);
        const std::string out = (b.dir.path() / "b.gba").string();
        b.ui.files = {out};
        b.ui.cartSizeAnswer = [](int) { return 32; };
        UnplugAt(b, "Reading...", n);
        const int r = ReadClick(b.s);
        ExpectFailed(b, r, "Read ok", "Backup Error!!!");
        EXPECT_TRUE(b.ui.Logged("Backup Error!!!"));
        const auto file = test::ReadFileBytes(out);
        EXPECT_EQ(file.size() % kChunk, 0u);
        EXPECT_LT(file.size(), game.size());
        EXPECT_TRUE(std::equal(file.begin(), file.end(), game.begin()));
        EXPECT_TRUE(std::equal(game.begin(), game.end(), b.Flash().begin()));
    }
    // Save memory: the backup fails whatever the unit; nothing is written to the cart.
    for (int n = 2; n <= 5; ++n) {
        SCOPED_TRACE("save backup, pump " + std::to_string(n));
        OpBench b(SaveCart());
        FillSave(b, 7);
        const auto save = b.f.sim().Save();
        const std::string out = (b.dir.path() / "s.sav").string();
        b.ui.saverAnswer = {0, 2};
        b.ui.files = {out};
        UnplugAt(b, "Reading...", n);
        ExpectFailed(b, SReadClick(b.s), "Backup Saver 64K Ok", "Read Error!!!");
        EXPECT_TRUE(b.ui.Logged("Read Save Data Error!!!"));
        EXPECT_TRUE(b.ui.Logged("Backup Saver Error!!!"));
        const auto file = test::ReadFileBytes(out);
        EXPECT_EQ(file.size() % kSaveUnit, 0u);
        EXPECT_LT(file.size(), 65536u);
        EXPECT_TRUE(std::equal(file.begin(), file.end(), save.begin()));
        EXPECT_EQ(b.f.sim().Save(), save);
    }
    // Verify of an image whose tail is 0xFF, like the floating bus.
    for (int n = 3; n <= 8; ++n) {
        SCOPED_TRACE("verify, pump " + std::to_string(n));
        auto image = test::MakeGbaImage(6 * kChunk, "TAIL", 32);
        std::fill(image.begin() + kChunk, image.end(), 0xFF);
        OpBench b(test::SimConfigFor("single-32M"));
        b.OneGame("t.gba", image);
        ASSERT_EQ(WriteClick(b.s), 0);
        b.ui.log.clear();
        UnplugAt(b, "Verifying...", n);
        ExpectFailed(b, VerifyClick(b.s), "Verify Cart with File Ok", "Verify Error!!!");
        EXPECT_TRUE(LoggedPrefix(b.ui, "Verify Flash Error!!!(")) << b.ui.LogText();
    }
}

TEST(Unplugged, MidwayWritesStopAtTheChunkTheLogNames) {
    // Single write: pulled out while chunk 4 (the first of the second erase
    // block) is being programmed.
    {
        OpBench b(DirtyCart("single-32M"));
        const auto image = test::MakeGbaImage(10 * kChunk, "PULL", 41);
        b.OneGame("p.gba", image);
        const auto before = b.Flash();
        b.ui.onPump = [&b] {
            if (b.f.sim().BufferProgramCount() == 4 * 1024 + 300) b.f.sim().SetAdapterPresent(false);
        };
        ExpectFailed(b, WriteClick(b.s), "Write To Cart Ok", "Write Error!!!");
        EXPECT_EQ(LoggedNumber(b.ui, "Write Flash Error!!!("), 4) << b.ui.LogText();
        ExpectWrittenUpTo(b.Flash(), before, b.Prepared(image), 4, 4);
    }
    // "Skip unchanged" over a cart that already holds the image: nothing needs
    // programming, so only the check that the adapter still answers can tell.
    {
        auto image = test::MakeGbaImage(6 * kChunk, "SKIP", 42);
        std::fill(image.begin() + kChunk, image.end(), 0xFF);
        OpBench b(test::SimConfigFor("single-32M"));
        b.OneGame("s.gba", image);
        ASSERT_EQ(WriteClick(b.s), 0);
        b.s.SkipUnchanged = true;
        b.ui.log.clear();
        UnplugAt(b, "writing...", 4);
        ExpectFailed(b, WriteClick(b.s), "Write To Cart Ok", "Write Error!!!");
        EXPECT_TRUE(b.ui.Logged("No Adaptor Found!"));
        EXPECT_TRUE(LoggedPrefix(b.ui, "Write Flash Error!!!("));
    }
    // Save restore of an empty (0xFF) save: every unit "reads back" from a
    // floating bus; the log names the unit and nothing after it changed.
    for (int n = 2; n <= 6; n += 2) {
        SCOPED_TRACE("save restore, pump " + std::to_string(n));
        OpBench b(SaveCart());
        FillSave(b, 9);
        const auto before = b.f.sim().Save();
        b.ui.saverAnswer = {0, 2};
        b.ui.files = {b.File("blank.sav", std::vector<std::uint8_t>(65536, 0xFF))};
        UnplugAt(b, "Writing...", n);
        ExpectFailed(b, SWriteClick(b.s), "Write Saver Ok", "Write Error!!!");
        const int unit = LoggedNumber(b.ui, "Write Save Data Error!!!(");
        ASSERT_GE(unit, 0) << b.ui.LogText();
        const auto& save = b.f.sim().Save();
        EXPECT_TRUE(
            std::all_of(save.begin(), save.begin() + unit * kSaveUnit, [](auto v) { return v == 0xFF; }));
        EXPECT_TRUE(std::equal(save.begin() + (unit + 1) * kSaveUnit, save.end(),
                               before.begin() + (unit + 1) * kSaveUnit));
    }
    // Erase: the blocks before the one that failed are erased, the rest kept.
    {
        OpBench b(DirtyCart("single-32M"));
        b.ui.answerYes = true;
        const auto before = b.Flash();
        UnplugAt(b, "Erasing...", 7);
        ExpectFailed(b, EraseFlashClick(b.s), "Cart Erase Ok", "Erase Error!!!");
        EXPECT_TRUE(b.ui.Logged("Cart Erase Error!!!"));
        const std::size_t erased = static_cast<std::size_t>(b.f.sim().TotalEraseCount());
        EXPECT_GT(erased, 0u);
        const std::size_t block = 4 * kChunk;
        EXPECT_TRUE(std::all_of(b.Flash().begin(), b.Flash().begin() + erased * block,
                                [](auto v) { return v == 0xFF; }));
        EXPECT_TRUE(
            std::equal(b.Flash().begin() + erased * block, b.Flash().end(), before.begin() + erased * block));
    }
}

}  // namespace
