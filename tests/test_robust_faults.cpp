// Faults and stops end to end on the simulated cart: whatever goes wrong in
// the middle of an operation, the result, the log and the status say failure,
// the window ends idle with the flash readable, no file stays open, and the
// cart holds exactly what the log claims.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
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

void ExpectFailed(OpBench& b, const OperationResult& r, const std::string& successLine,
                  const std::string& status) {
    EXPECT_FALSE(r.Ok());
    EXPECT_FALSE(b.ui.Logged(successLine)) << b.ui.LogText();
    EXPECT_EQ(b.ui.panels[1], status) << b.ui.LogText();
    ExpectIdle(b);
}

// The cart after a write of `want` (the prepared image, from chunk 0) that
// failed at chunk `failed` of a cart with erase blocks of `blockChunks`
// chunks: the chunks before it hold the image, the failed chunk holds image
// bytes or erased ones, the rest of its block is erased or untouched as a
// whole, and nothing after that block changed. With `laterWritten` a chunk
// after the failed one may also hold the image already (a skip-unchanged
// write programs chunks over blank flash before their block needs an erase).
void ExpectWrittenUpTo(const std::vector<std::uint8_t>& cart, const std::vector<std::uint8_t>& before,
                       const std::vector<std::uint8_t>& want, std::size_t failed, std::size_t blockChunks,
                       bool laterWritten = false) {
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
        const bool written =
            laterWritten && (c + 1) * kChunk <= want.size() &&
            std::equal(from, from + kChunk, want.begin() + static_cast<std::ptrdiff_t>(c * kChunk));
        EXPECT_TRUE(erased || kept || written) << "chunk " << c;
    }
    EXPECT_TRUE(std::equal(cart.begin() + static_cast<std::ptrdiff_t>(blockEnd), cart.end(),
                           before.begin() + static_cast<std::ptrdiff_t>(blockEnd)))
        << "after block of chunk " << failed;
}

// First chunk at which the cart differs from the image (image size when none).
std::size_t FirstDifferentChunk(const std::vector<std::uint8_t>& cart,
                                const std::vector<std::uint8_t>& want) {
    for (std::size_t c = 0; c * kChunk < want.size(); ++c)
        if (!std::equal(want.begin() + static_cast<std::ptrdiff_t>(c * kChunk),
                        want.begin() + static_cast<std::ptrdiff_t>((c + 1) * kChunk),
                        cart.begin() + static_cast<std::ptrdiff_t>(c * kChunk)))
            return c;
    return want.size() / kChunk;
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
    using Op = std::function<OperationResult(OpBench&)>;
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
        EXPECT_EQ(op(b).Kind, OutcomeKind::Refused);
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
        ExpectFailed(b, ReadClick(b.s), "Read ok", "Backup Error!!!");
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
        ASSERT_TRUE(WriteClick(b.s).Ok());
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
        ASSERT_TRUE(WriteClick(b.s).Ok());
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

// ------------------------------------------------------------------ stops

// An operation set up from scratch on a fresh cart, with what its stopped
// runs must satisfy.
struct Scenario {
    std::function<SimConfig()> cart;
    std::function<void(OpBench&)> setUp;  // game list, dialog answers, files
    std::function<OperationResult(OpBench&)> run;
    std::string successLine;
    std::string failStatus;
    // What the cart (and files) hold after a run that ended with result r,
    // given the flash and save memory before it.
    std::function<void(OpBench&, int r, const std::vector<std::uint8_t>& flash,
                       const std::vector<std::uint8_t>& save)>
        claims;
    // Every phase's first, middle and last pump and a spread over the run;
    // otherwise each phase's first and last pump only.
    bool thorough = true;
};

// What a pump of an unstopped run looked like: its number, window state,
// status text, and the erase and buffer program counts of the cart.
struct PumpMark {
    long number;
    bool busy;
    std::string panel;
    long erases;
    long programs;
};

// Pumps at which to press Stop: for every phase (the status text while busy,
// or the preparation before it, split by whether an erase or a program comes
// next) its first, middle and last pump, and a few spread over the whole run.
std::map<long, const PumpMark*> StopPoints(const std::vector<PumpMark>& trace, bool thorough) {
    std::map<std::string, std::vector<const PumpMark*>> phases;
    for (std::size_t j = 0; j < trace.size(); ++j) {
        std::string next = "transfer";
        for (std::size_t k = j + 1; k < trace.size(); ++k) {
            if (trace[k].erases != trace[j].erases) {
                next = "erase";
                break;
            }
            if (trace[k].programs != trace[j].programs) {
                next = "program";
                break;
            }
        }
        phases[(trace[j].busy ? trace[j].panel : std::string("prepare")) + "/" + next].push_back(&trace[j]);
    }
    std::map<long, const PumpMark*> points;
    for (auto& [phase, marks] : phases)
        for (const PumpMark* m : {marks.front(), marks[marks.size() / 2], marks.back()})
            if (thorough || m != marks[marks.size() / 2]) points[m->number] = m;
    for (std::size_t i = 1; thorough && i <= 4; ++i) {
        const PumpMark& m = trace[(trace.size() - 1) * i / 4];
        points[m.number] = &m;
    }
    return points;
}

void SweepStops(const Scenario& sc) {
    std::vector<PumpMark> trace;
    {
        OpBench b(sc.cart());
        sc.setUp(b);
        b.ui.onPump = [&] {
            trace.push_back({b.ui.pumps, b.ui.busy, b.ui.panels[1], b.f.sim().TotalEraseCount(),
                             b.f.sim().BufferProgramCount()});
        };
        ASSERT_TRUE(sc.run(b).Ok()) << b.ui.LogText();
        ASSERT_FALSE(trace.empty());
    }
    for (const auto& [pump, mark] : StopPoints(trace, sc.thorough)) {
        // Ctrl-C holds the stop from its pump on; the Stop button is one
        // click, and only while the window is busy.
        for (bool button : {false, true}) {
            if (button && !mark->busy) continue;
            SCOPED_TRACE((button ? "button at pump " : "ctrl-c from pump ") + std::to_string(pump) + " of " +
                         std::to_string(trace.back().number) + " (" + mark->panel + ")");
            OpBench b(sc.cart());
            sc.setUp(b);
            if (button) {
                b.ui.onPump = [&b, pump = pump] {
                    if (b.ui.pumps == pump) b.s.StopRequested = 1;
                };
            } else {
                b.ui.stopAfterPumps = pump;
            }
            const auto flash = b.Flash();
            const auto save = b.f.sim().Save();
            const OperationResult result = sc.run(b);
            const int r = result.Ok() ? 0 : -1;
            if (r == 0) {
                // Pressed after the last stop test: the operation had done its work.
                EXPECT_TRUE(b.ui.Logged(sc.successLine) || b.ui.panels[1] == sc.successLine)
                    << b.ui.LogText();
                EXPECT_FALSE(b.ui.Logged("Stop process !!!")) << b.ui.LogText();
            } else {
                // Once, even when the stop was held from before the operation began.
                EXPECT_EQ(std::count(b.ui.log.begin(), b.ui.log.end(), "Stop process !!!"), 1)
                    << b.ui.LogText();
                EXPECT_FALSE(b.ui.Logged(sc.successLine)) << b.ui.LogText();
                EXPECT_EQ(b.ui.panels[1], sc.failStatus) << b.ui.LogText();
                EXPECT_EQ(result.Kind, OutcomeKind::Stopped) << OutcomeName(result.Kind);
            }
            ExpectIdle(b);
            EXPECT_TRUE(b.f.sim().AllChipsInReadArray()) << b.ui.LogText();
            sc.claims(b, r, flash, save);
        }
    }
}

// The cart after a write of `want` from chunk 0: a prefix of whole chunks is
// written, and the log names the chunk where it ended when a flash step was
// stopped.
void ExpectWritePrefix(OpBench& b, int r, const std::vector<std::uint8_t>& flash,
                       const std::vector<std::uint8_t>& want, std::size_t blockChunks,
                       bool laterWritten = false) {
    if (r == 0) {
        EXPECT_TRUE(b.Cart(0, want.size()) == want);
        return;
    }
    const int named = LoggedNumber(b.ui, "Write Flash Error!!!(");
    const std::size_t failed =
        named >= 0 ? static_cast<std::size_t>(named) : FirstDifferentChunk(b.Flash(), want);
    ExpectWrittenUpTo(b.Flash(), flash, want, failed, blockChunks, laterWritten);
}

const std::vector<std::uint8_t>& StopImage() {
    static const auto image = test::MakeGbaImage(4 * kChunk + 100, "STOPS", 61);
    return image;
}

SimConfig SlowEraseCart(const std::string& model) {
    SimConfig c = DirtyCart(model);
    c.busyErase = 1100;  // a pump while each erase runs
    return c;
}

// A ppdev device that stops working: once `gone`, every call fails (the
// kernel's error is kept like PpdevPort keeps it), reads give 0xFF and writes
// go nowhere.
class DeviceThatFails final : public PortBackend {
public:
    explicit DeviceThatFails(PortBackend& inner) : inner_(inner) {}
    std::uint8_t inb(std::uint16_t p) override { return Gone() ? 0xFF : inner_.inb(p); }
    void outb(std::uint16_t p, std::uint8_t v) override {
        if (!Gone()) inner_.outb(p, v);
    }
    std::uint16_t inw(std::uint16_t p) override { return Gone() ? 0xFFFF : inner_.inw(p); }
    void outw(std::uint16_t p, std::uint16_t v) override {
        if (!Gone()) inner_.outw(p, v);
    }
    std::string Failure() const override { return failure_; }
    void ClearFailure() override { failure_.clear(); }
    bool gone = false;

private:
    bool Gone() {
        if (gone && failure_.empty()) failure_ = "PPWCONTROL on /dev/parport0 failed (No such device)";
        return gone;
    }
    PortBackend& inner_;
    std::string failure_;
};

TEST(PortErrors, AnOperationWhoseDeviceFailsMidwayNamesTheErrorAndNeverSaysOk) {
    const std::string line = "Port error: PPWCONTROL on /dev/parport0 failed (No such device)";
    {
        // Erase: a dead device reads "ready" like a finished block.
        OpBench b(test::SimConfigFor("single-32M"));
        DeviceThatFails dev(b.f.sim());
        b.s.Port = &dev;
        b.ui.answerYes = true;
        auto pumps = std::make_shared<int>(0);
        b.ui.onPump = [&] {
            if (b.ui.panels[1] == "Erasing..." && ++*pumps == 3) dev.gone = true;
        };
        ExpectFailed(b, EraseFlashClick(b.s), "Cart Erase Ok", "Erase Error!!!");
        EXPECT_TRUE(b.ui.Logged(line)) << b.ui.LogText();
        EXPECT_TRUE(b.ui.Logged("Cart Erase Error!!!"));
    }
    {
        // Write without verify; the next operation, on a working device again,
        // is not blamed for the old error.
        OpBench b(test::SimConfigFor("single-32M"));
        DeviceThatFails dev(b.f.sim());
        b.s.Port = &dev;
        b.s.Config.VerifyAfterWrite = 0;
        b.OneGame("g.gba", test::MakeGbaImage(8 * kChunk, "GONE", 3));
        auto pumps = std::make_shared<int>(0);
        b.ui.onPump = [&] {
            if (b.ui.panels[1] == "writing..." && ++*pumps == 6) dev.gone = true;
        };
        ExpectFailed(b, WriteClick(b.s), "Write To Cart Ok", "Write Error!!!");
        EXPECT_TRUE(b.ui.Logged(line)) << b.ui.LogText();
        EXPECT_TRUE(LoggedPrefix(b.ui, "Write Flash Error!!!(")) << b.ui.LogText();
        // Failing from the start: detection names it before "No Adaptor Found!".
        b.ui.onPump = nullptr;
        b.ui.log.clear();
        EXPECT_FALSE(WriteClick(b.s).Ok());
        EXPECT_EQ(b.ui.log, (std::vector<std::string>{"", line, "No Adaptor Found!"}));
        dev.gone = false;
        b.ui.log.clear();
        EXPECT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
        EXPECT_FALSE(LoggedPrefix(b.ui, "Port error: "));
    }
}

TEST(StopAnywhere, SingleWriteWithVerify) {
    SweepStops({[] { return SlowEraseCart("single-32M"); },
                [](OpBench& b) {
                    b.s.Config.VerifyAfterWrite = 1;
                    b.OneGame("s.gba", StopImage());
                },
                [](OpBench& b) { return WriteClick(b.s); }, "Write To Cart Ok", "Write Error!!!",
                [](OpBench& b, int r, const auto& flash, const auto&) {
                    ExpectWritePrefix(b, r, flash, b.Prepared(StopImage()), 4);
                }});
}

TEST(StopAnywhere, SkipUnchangedWriteOverAnOlderVersion) {
    // The cart holds an older version whose first chunks equal the new one:
    // those are skipped, and programmed again once a later chunk of their
    // block needs the block erased.
    auto older = [] {
        auto v = StopImage();
        for (std::size_t i = 2 * kChunk + 7; i < v.size(); i += 4096) v[i] ^= 0x5A;
        return v;
    };
    SweepStops({[&] {
                    SimConfig c = SlowEraseCart("single-32M");
                    OpBench scratch(test::SimConfigFor("single-32M"));
                    const auto prepared = scratch.Prepared(older());
                    std::copy(prepared.begin(), prepared.end(), c.rom.begin());
                    return c;
                },
                [](OpBench& b) {
                    b.s.SkipUnchanged = true;
                    b.OneGame("s.gba", StopImage());
                },
                [](OpBench& b) { return WriteClick(b.s); }, "Write To Cart Ok", "Write Error!!!",
                [](OpBench& b, int r, const auto& flash, const auto&) {
                    ExpectWritePrefix(b, r, flash, b.Prepared(StopImage()), 4);
                }});
}

TEST(StopAnywhere, SkipUnchangedWriteOverAPartlyBlankCart) {
    // Chunk 0 equal (skipped), chunk 1 blank (programmed without an erase),
    // chunk 2 different: the block is erased and chunks 0 and 1 programmed
    // again. Block 4-7 is blank and never erased.
    SweepStops({[] {
                    SimConfig c = SlowEraseCart("single-32M");
                    OpBench scratch(test::SimConfigFor("single-32M"));
                    auto older = scratch.Prepared(StopImage());
                    for (std::size_t i = 2 * kChunk + 7; i < 4 * kChunk; i += 4096) older[i] ^= 0x5A;
                    std::fill(older.begin() + kChunk, older.begin() + 2 * kChunk, 0xFF);
                    std::copy(older.begin(), older.end(), c.rom.begin());
                    std::fill(c.rom.begin() + 4 * kChunk, c.rom.begin() + 8 * kChunk, 0xFF);
                    return c;
                },
                [](OpBench& b) {
                    b.s.SkipUnchanged = true;
                    b.OneGame("s.gba", StopImage());
                },
                [](OpBench& b) { return WriteClick(b.s); }, "Write To Cart Ok", "Write Error!!!",
                [](OpBench& b, int r, const auto& flash, const auto&) {
                    // Stopped before the erase that chunk 2 needs, the write names
                    // chunk 0 and chunk 1 already holds the image.
                    ExpectWritePrefix(b, r, flash, b.Prepared(StopImage()), 4, true);
                    if (r == 0) {
                        EXPECT_EQ(b.f.sim().EraseCount(0, 1), 0);
                    }
                }});
}

TEST(StopAnywhere, SingleVerifyAndRomBackup) {
    auto cart = [] {
        SimConfig c = test::SimConfigFor("single-32M");
        c.rom = StopImage();
        c.rom.resize(32 * kChunk, 0xFF);
        return c;
    };
    SweepStops({cart, [](OpBench& b) { b.OneGame("s.gba", StopImage()); },
                [](OpBench& b) { return VerifyClick(b.s); }, "Verify Cart with File Ok", "Verify Error!!!",
                [](OpBench& b, int, const auto& flash, const auto&) { EXPECT_TRUE(b.Flash() == flash); }});
    SweepStops({cart,
                [](OpBench& b) {
                    b.ui.files = {(b.dir.path() / "backup.gba").string()};
                    b.ui.cartSizeAnswer = [](int) { return 32; };
                },
                [](OpBench& b) { return ReadClick(b.s); }, "Read ok", "Backup Error!!!",
                [](OpBench& b, int r, const auto& flash, const auto&) {
                    EXPECT_TRUE(b.Flash() == flash);
                    // The file holds whole chunks, each as the cart holds it.
                    const auto file = test::ReadFileBytes(b.dir.path() / "backup.gba");
                    EXPECT_EQ(file.size() % kChunk, 0u);
                    EXPECT_TRUE(std::equal(file.begin(), file.end(), flash.begin()));
                    if (r == 0) {
                        EXPECT_EQ(file.size(), 32 * kChunk);
                    }
                }});
}

TEST(StopAnywhere, SaveBackupAndRestore) {
    auto cart = [] { return test::SimConfigFor("single-32M", "64K"); };
    auto fill = [](OpBench& b) { test::FillPattern(b.f.sim().Save(), 62); };
    SweepStops({cart,
                [&](OpBench& b) {
                    fill(b);
                    b.ui.saverAnswer = {0, 2};
                    b.ui.files = {(b.dir.path() / "s.sav").string()};
                },
                [](OpBench& b) { return SReadClick(b.s); }, "Backup Saver 64K Ok", "Read Error!!!",
                [](OpBench& b, int r, const auto&, const auto& save) {
                    EXPECT_TRUE(b.f.sim().Save() == save);
                    const auto file = test::ReadFileBytes(b.dir.path() / "s.sav");
                    EXPECT_EQ(file.size() % kSaveUnit, 0u);
                    EXPECT_TRUE(std::equal(file.begin(), file.end(), save.begin()));
                    if (r == 0) {
                        EXPECT_EQ(file.size(), 65536u);
                    }
                }});
    std::vector<std::uint8_t> incoming(65536);
    test::FillPattern(incoming, 63);
    SweepStops(
        {cart,
         [&](OpBench& b) {
             fill(b);
             b.ui.saverAnswer = {0, 2};
             b.ui.files = {b.File("in.sav", incoming)};
         },
         [](OpBench& b) { return SWriteClick(b.s); }, "Write Saver Ok", "Write Error!!!",
         [&](OpBench& b, int r, const auto&, const auto& save) {
             // Whole units from the file, then the old contents.
             const auto& now = b.f.sim().Save();
             std::size_t u = 0;
             while (u < 8 && std::equal(incoming.begin() + u * kSaveUnit,
                                        incoming.begin() + (u + 1) * kSaveUnit, now.begin() + u * kSaveUnit))
                 ++u;
             EXPECT_TRUE(std::equal(now.begin() + u * kSaveUnit, now.end(), save.begin() + u * kSaveUnit))
                 << "unit " << u;
             if (r == 0) {
                 EXPECT_EQ(u, 8u);
             }
         }});
}

TEST(StopAnywhere, WholeFlashErase) {
    SweepStops({[] { return SlowEraseCart("single-32M"); }, [](OpBench& b) { b.ui.answerYes = true; },
                [](OpBench& b) { return EraseFlashClick(b.s); }, "Cart Erase Ok", "Erase Error!!!",
                [](OpBench& b, int r, const auto& flash, const auto&) {
                    // Whole blocks, erased from the start of the cart on.
                    const std::size_t block = 4 * kChunk;
                    std::size_t erased = 0;
                    while (erased * block < flash.size() &&
                           std::all_of(b.Flash().begin() + erased * block,
                                       b.Flash().begin() + (erased + 1) * block,
                                       [](auto v) { return v == 0xFF; }))
                        ++erased;
                    EXPECT_TRUE(std::equal(b.Flash().begin() + erased * block, b.Flash().end(),
                                           flash.begin() + erased * block));
                    if (r != 0) {
                        EXPECT_TRUE(b.ui.Logged("Cart Erase Error!!!"));
                    }
                }});
}

TEST(StopAnywhere, MultiGameWrite) {
    // Two games behind the built-in loader on a pair of chips (blocks of 8 chunks).
    SweepStops({[] { return SlowEraseCart("strata-64M"); },
                [](OpBench& b) {
                    b.File("a.gba", test::MakeGbaImage(2 * kChunk, "ALPHA", 64));
                    b.File("b.gba", test::MakeGbaImage(kChunk + 5, "BRAVO", 65));
                    AddSelectedFiles(b.s, b.dir.str(), {"a.gba", "b.gba"});
                },
                [](OpBench& b) { return WriteClick(b.s); }, "Write Multi-Files completed", "Write Error!!!",
                [](OpBench& b, int, const auto& flash, const auto&) {
                    // Blocks that hold no item of the map keep their bytes.
                    const std::size_t block = 8 * kChunk;
                    for (std::size_t k = 0; k * block < flash.size(); ++k) {
                        const auto from = b.s.ChunkMap.begin() + static_cast<std::ptrdiff_t>(8 * k);
                        if (8 * k < b.s.ChunkMap.size() && std::any_of(from, from + 8, [](auto v) {
                                return v != ChunkFree && v != ChunkEnd;
                            }))
                            continue;
                        ASSERT_TRUE(std::equal(flash.begin() + k * block, flash.begin() + (k + 1) * block,
                                               b.Flash().begin() + k * block))
                            << "block " << k;
                    }
                },
                false});
}

// ------------------------------------------------------------------ backup files

// Names in the bench's directory besides those given.
std::vector<std::string> OtherFiles(OpBench& b, const std::set<std::string>& known) {
    std::vector<std::string> out;
    for (auto& e : std::filesystem::directory_iterator(b.dir.path()))
        if (!known.count(e.path().filename().string())) out.push_back(e.path().filename().string());
    return out;
}

TEST(BackupFiles, AFailedOrStoppedBackupNeverCostsTheOlderOne) {
    const std::vector<std::uint8_t> older(65536, 0x0D);
    // Save backup over an older one: unplugged half-way, then a good run.
    {
        OpBench b(SaveCart());
        FillSave(b, 71);
        const std::string out = b.File("old.sav", older);
        std::filesystem::permissions(out, std::filesystem::perms::owner_read |
                                              std::filesystem::perms::owner_write |
                                              std::filesystem::perms::group_read);
        b.ui.saverAnswer = {0, 2};
        b.ui.files = {out};
        UnplugAt(b, "Reading...", 4);
        EXPECT_FALSE(SReadClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Backup Saver Error!!!"));
        EXPECT_TRUE(test::ReadFileBytes(out) == older);
        EXPECT_TRUE(OtherFiles(b, {"old.sav"}).empty());

        b.f.sim().SetAdapterPresent(true);
        b.ui.onPump = nullptr;
        b.ui.files = {out};
        ASSERT_TRUE(SReadClick(b.s).Ok()) << b.ui.LogText();
        const auto& save = b.f.sim().Save();
        EXPECT_TRUE(test::ReadFileBytes(out) ==
                    std::vector<std::uint8_t>(save.begin(), save.begin() + 65536));
        EXPECT_EQ(std::filesystem::status(out).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                      std::filesystem::perms::group_read);
        EXPECT_TRUE(OtherFiles(b, {"old.sav"}).empty());
    }
    // ROM backup over an older one, stopped with the button.
    {
        SimConfig c = test::SimConfigFor("single-32M");
        c.rom = test::MakeGbaImage(32 * kChunk, "ROM", 72);
        OpBench b(c);
        const std::string out = b.File("old.gba", older);
        b.ui.files = {out};
        b.ui.cartSizeAnswer = [](int) { return 32; };
        int reading = 0;
        b.ui.onPump = [&] {
            if (b.ui.panels[1] == "Reading..." && ++reading == 9) b.s.StopRequested = 1;
        };
        EXPECT_FALSE(ReadClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Stop process !!!"));
        EXPECT_TRUE(test::ReadFileBytes(out) == older);
        EXPECT_TRUE(OtherFiles(b, {"old.gba"}).empty());
    }
    // A backup through a link goes to the file the link names; the link stays.
    {
        OpBench b(SaveCart());
        FillSave(b, 73);
        const std::string real = b.File("real.sav", older);
        const std::string link = (b.dir.path() / "link.sav").string();
        std::filesystem::create_symlink(real, link);
        b.ui.saverAnswer = {0, 0};
        b.ui.files = {link};
        ASSERT_TRUE(SReadClick(b.s).Ok()) << b.ui.LogText();
        EXPECT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(test::ReadFileBytes(real).size(), 8192u);
    }
}

// Runs `check` as an ordinary user: root writes into any directory, so the
// case of a directory the user cannot write needs one. Under root the check
// runs in a child that has given up root.
void AsOrdinaryUser(const std::function<void()>& check) {
    if (::geteuid() != 0) return check();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) std::_Exit(2);
        check();
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST(BackupFiles, NoOlderFileIsLostWhereNoSideFileCanBeMadeBesideIt) {
    namespace fs = std::filesystem;
    const std::vector<std::uint8_t> older(65536, 0x0D);
    auto saveBench = [] {
        auto b = std::make_unique<OpBench>(SaveCart());
        FillSave(*b, 74);
        b->ui.saverAnswer = {0, 2};
        return b;
    };
    auto saved = [](OpBench& b) {
        const auto& save = b.f.sim().Save();
        return std::vector<std::uint8_t>(save.begin(), save.begin() + 65536);
    };
    // Names so long that "NAME.XXXXXX" exceeds the 255-byte limit: a save
    // backup and a ROM backup unplugged half-way, then a good run.
    {
        auto b = saveBench();
        const std::string name(249, 'n');
        const std::string out = b->File(name, older);
        b->ui.files = {out};
        UnplugAt(*b, "Reading...", 4);
        EXPECT_FALSE(SReadClick(b->s).Ok());
        EXPECT_TRUE(test::ReadFileBytes(out) == older);
        EXPECT_TRUE(OtherFiles(*b, {name}).empty());
        b->f.sim().SetAdapterPresent(true);
        b->ui.onPump = nullptr;
        b->ui.files = {out};
        ASSERT_TRUE(SReadClick(b->s).Ok()) << b->ui.LogText();
        EXPECT_TRUE(test::ReadFileBytes(out) == saved(*b));
        EXPECT_TRUE(OtherFiles(*b, {name}).empty());
    }
    {
        SimConfig c = test::SimConfigFor("single-32M");
        c.rom = test::MakeGbaImage(32 * kChunk, "ROM", 75);
        OpBench b(c);
        const std::string name(254, 'r');
        const std::string out = b.File(name, older);
        b.ui.files = {out};
        b.ui.cartSizeAnswer = [](int) { return 32; };
        UnplugAt(b, "Reading...", 9);
        EXPECT_FALSE(ReadClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Backup Error!!!"));
        EXPECT_TRUE(test::ReadFileBytes(out) == older);
        EXPECT_TRUE(OtherFiles(b, {name}).empty());
    }
    // A link into another folder: the file it names keeps its data when the
    // backup fails and gets the backup when it succeeds; the link stays.
    {
        auto b = saveBench();
        const test::TempDir elsewhere("target");
        const std::string real = (elsewhere.path() / "real.sav").string();
        test::WriteFileBytes(real, older);
        const std::string link = (b->dir.path() / "link.sav").string();
        fs::create_symlink(real, link);
        b->ui.files = {link};
        UnplugAt(*b, "Reading...", 4);
        EXPECT_FALSE(SReadClick(b->s).Ok());
        EXPECT_TRUE(test::ReadFileBytes(real) == older);
        b->f.sim().SetAdapterPresent(true);
        b->ui.onPump = nullptr;
        b->ui.files = {link};
        ASSERT_TRUE(SReadClick(b->s).Ok()) << b->ui.LogText();
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_TRUE(test::ReadFileBytes(real) == saved(*b));
        EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.path()), fs::directory_iterator()), 1);
        EXPECT_TRUE(OtherFiles(*b, {"link.sav"}).empty());
    }
    // A file with a second name: a failed backup leaves both names their
    // data; a good one goes to the chosen name only, and the other name keeps
    // the older data (a hard-linked snapshot is never overwritten).
    {
        auto b = saveBench();
        const std::string out = b->File("mine.sav", older);
        const std::string other = (b->dir.path() / "snapshot.sav").string();
        fs::create_hard_link(out, other);
        b->ui.files = {out};
        UnplugAt(*b, "Reading...", 4);
        EXPECT_FALSE(SReadClick(b->s).Ok());
        EXPECT_TRUE(test::ReadFileBytes(out) == older);
        EXPECT_TRUE(test::ReadFileBytes(other) == older);
        b->f.sim().SetAdapterPresent(true);
        b->ui.onPump = nullptr;
        b->ui.files = {out};
        ASSERT_TRUE(SReadClick(b->s).Ok()) << b->ui.LogText();
        EXPECT_TRUE(test::ReadFileBytes(out) == saved(*b));
        EXPECT_TRUE(test::ReadFileBytes(other) == older);
        EXPECT_TRUE(OtherFiles(*b, {"mine.sav", "snapshot.sav"}).empty());
    }
    // A file the user may write in a folder the user may not: the backup is
    // made elsewhere and copied over the file only once it is complete.
    {
        auto b = saveBench();
        const std::string out = b->File("locked.sav", older);
        fs::permissions(
            out, fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec & ~fs::perms::others_exec);
        fs::permissions(b->dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                           fs::perms::others_read | fs::perms::others_exec);
        AsOrdinaryUser([&] {
            b->ui.files = {out};
            UnplugAt(*b, "Reading...", 4);
            EXPECT_FALSE(SReadClick(b->s).Ok());
            EXPECT_TRUE(test::ReadFileBytes(out) == older);
            b->f.sim().SetAdapterPresent(true);
            b->ui.onPump = nullptr;
            b->ui.files = {out};
            ASSERT_TRUE(SReadClick(b->s).Ok()) << b->ui.LogText();
            EXPECT_TRUE(test::ReadFileBytes(out) == saved(*b));
        });
        EXPECT_TRUE(OtherFiles(*b, {"locked.sav"}).empty());
    }
}

// ------------------------------------------------------------------ injected faults

// A write of 8 chunks into a cart whose chunk `faultChunk` cannot be
// programmed: the log names the chunk, the chunks before it are in the cart,
// and nothing after the failing chunk's block changed.
TEST(InjectedFaults, ProgramErrorAndLockedBlockEndTheWriteAtTheNamedChunk) {
    struct Case {
        const char* model;
        bool locked;
        std::size_t blockChunks;
    };
    for (const Case& c :
         {Case{"single-32M", false, 4}, Case{"strata-64M", false, 8}, Case{"single-32M", true, 4}}) {
        SCOPED_TRACE(std::string(c.model) + (c.locked ? " locked" : " program error"));
        SimConfig cfg = DirtyCart(c.model);
        (c.locked ? cfg.faultLockedChunk : cfg.faultProgramErrorChunk) = 5;
        OpBench b(cfg);
        b.s.Config.VerifyAfterWrite = 1;
        const auto image = test::MakeGbaImage(8 * kChunk, "FAULT", 81);
        b.OneGame("f.gba", image);
        const auto before = b.Flash();
        ExpectFailed(b, WriteClick(b.s), "Write To Cart Ok", "Write Error!!!");
        EXPECT_EQ(LoggedNumber(b.ui, "Write Flash Error!!!("), c.locked ? 4 : 5) << b.ui.LogText();
        EXPECT_TRUE(LoggedPrefix(b.ui, "Time = "));
        EXPECT_TRUE(b.f.sim().AllChipsInReadArray());
        ExpectWrittenUpTo(b.Flash(), before, b.Prepared(image), c.locked ? 4 : 5, c.blockChunks);
        for (int chip = 0; chip < b.f.sim().ChipCount(); ++chip) EXPECT_EQ(b.f.sim().ChipStatus(chip), 0x80);
    }
}

TEST(InjectedFaults, AnImageThatShrinksWhileWrittenNamesTheChunkWhereTheCartStops) {
    OpBench b(DirtyCart("single-32M"));
    const auto image = test::MakeGbaImage(8 * kChunk, "SHRINK", 82);
    b.OneGame("s.gba", image);
    const auto before = b.Flash();
    int pumps = 0;
    b.ui.onPump = [&] {
        if (b.ui.panels[1] == "writing..." && ++pumps == 3)
            std::filesystem::resize_file(b.dir.path() / "s.gba", 2 * kChunk);
    };
    ExpectFailed(b, WriteClick(b.s), "Write To Cart Ok", "Write Error!!!");
    EXPECT_TRUE(LoggedPrefix(b.ui, "Read ErrNo=")) << b.ui.LogText();
    const int stopped = LoggedNumber(b.ui, "Write Flash Error!!!(");
    EXPECT_GE(stopped, 1) << b.ui.LogText();
    ExpectWrittenUpTo(b.Flash(), before, b.Prepared(image), stopped, 4);
}

TEST(InjectedFaults, EraseThatNeverEnds) {
    // A write: the block of chunk 4 never finishes erasing.
    {
        SimConfig cfg = DirtyCart("single-32M");
        cfg.faultEraseStuckChunk = 4;
        OpBench b(cfg);
        const auto image = test::MakeGbaImage(6 * kChunk, "STUCK", 82);
        b.OneGame("s.gba", image);
        const auto before = b.Flash();
        ExpectFailed(b, WriteClick(b.s), "Write To Cart Ok", "Write Error!!!");
        EXPECT_EQ(LoggedNumber(b.ui, "Write Flash Error!!!("), 4);
        ExpectWrittenUpTo(b.Flash(), before, b.Prepared(image), 4, 4);
        EXPECT_TRUE(std::equal(before.begin() + 4 * kChunk, before.begin() + 8 * kChunk,
                               b.Flash().begin() + 4 * kChunk));
    }
    // The whole-flash erase: the blocks before it are erased, the rest kept.
    {
        SimConfig cfg = DirtyCart("single-32M");
        cfg.faultEraseStuckChunk = 8;
        OpBench b(cfg);
        b.ui.answerYes = true;
        const auto before = b.Flash();
        ExpectFailed(b, EraseFlashClick(b.s), "Cart Erase Ok", "Erase Error!!!");
        EXPECT_TRUE(b.ui.Logged("Cart Erase Error!!!"));
        EXPECT_EQ(b.f.sim().TotalEraseCount(), 2);
        EXPECT_TRUE(
            std::all_of(b.Flash().begin(), b.Flash().begin() + 8 * kChunk, [](auto v) { return v == 0xFF; }));
        EXPECT_TRUE(std::equal(before.begin() + 8 * kChunk, before.end(), b.Flash().begin() + 8 * kChunk));
    }
}

TEST(InjectedFaults, FlakyReadsNeverGiveAGoodLookingBackupOrVerify) {
    const auto game = test::MakeGbaImage(16 * kChunk, "FLAKY", 83);
    {
        SimConfig cfg = test::SimConfigFor("strata-64M");
        cfg.rom = game;
        cfg.faultFlipEvery = 100003;
        OpBench b(cfg);
        const std::string out = (b.dir.path() / "flaky.gba").string();
        b.ui.files = {out};
        b.ui.cartSizeAnswer = [](int) { return 32; };
        ExpectFailed(b, ReadClick(b.s), "Read ok", "Backup Error!!!");
        EXPECT_TRUE(b.ui.Logged("Backup Error!!!"));
        // What did reach the file are whole chunks as the cart holds them.
        const auto file = test::ReadFileBytes(out);
        EXPECT_EQ(file.size() % kChunk, 0u);
        EXPECT_LT(file.size(), 32 * kChunk);
        EXPECT_TRUE(std::equal(file.begin(), file.end(), b.Flash().begin()));

        // The same cart compared with its own game.
        b.OneGame("game.gba", game);
        b.ui.log.clear();
        ExpectFailed(b, VerifyClick(b.s), "Verify Cart with File Ok", "Verify Error!!!");
        EXPECT_TRUE(LoggedPrefix(b.ui, "Verify Flash Error!!!("));
    }
    {
        SimConfig cfg = SaveCart();
        // The probe's and the size finding's 622,592 reads pass, the transfer's do not.
        cfg.faultFlipEvery = 700001;
        OpBench b(cfg);
        FillSave(b, 84);
        const std::string out = (b.dir.path() / "flaky.sav").string();
        b.ui.saverAnswer = {0, 2};
        b.ui.files = {out};
        ExpectFailed(b, SReadClick(b.s), "Backup Saver 64K Ok", "Read Error!!!");
        EXPECT_TRUE(b.ui.Logged("Read Save Data Error!!!"));
        const auto file = test::ReadFileBytes(out);
        EXPECT_EQ(file.size() % kSaveUnit, 0u);
        EXPECT_TRUE(std::equal(file.begin(), file.end(), b.f.sim().Save().begin()));
    }
}

TEST(InjectedFaults, SaveMemoryThatDoesNotReadBack) {
    // No save memory at all: every read differs; nothing is asked or written.
    for (bool restore : {false, true}) {
        SCOPED_TRACE(restore ? "restore" : "backup");
        OpBench b(test::SimConfigFor("single-32M", "none"));
        const std::string out = (b.dir.path() / "x.sav").string();
        b.ui.files = {restore ? b.File("x.sav", std::vector<std::uint8_t>(8192, 1)) : out};
        EXPECT_FALSE((restore ? SWriteClick(b.s) : SReadClick(b.s)).Ok());
        EXPECT_EQ(b.ui.log.back(), "No Save Data found!!!");
        EXPECT_EQ(b.ui.saverDialogs, 0);
        EXPECT_TRUE(b.ui.dialogsShown.empty());
        EXPECT_TRUE(b.ui.busyHistory.empty());
        EXPECT_EQ(std::filesystem::exists(out), restore);
    }
    // Save memory that reads back wrong now and then: the restore names the
    // unit, the units before it hold the file, the ones after it are unchanged.
    SimConfig cfg = SaveCart();
    cfg.faultFlipEvery = 640001;  // past the probe and the size finding: in the writing
    OpBench b(cfg);
    FillSave(b, 85);
    const auto before = b.f.sim().Save();
    std::vector<std::uint8_t> incoming(65536);
    test::FillPattern(incoming, 86);
    b.ui.saverAnswer = {0, 2};
    b.ui.files = {b.File("in.sav", incoming)};
    ExpectFailed(b, SWriteClick(b.s), "Write Saver Ok", "Write Error!!!");
    const int unit = LoggedNumber(b.ui, "Write Save Data Error!!!(");
    ASSERT_GE(unit, 0) << b.ui.LogText();
    const auto& save = b.f.sim().Save();
    EXPECT_TRUE(std::equal(incoming.begin(), incoming.begin() + unit * kSaveUnit, save.begin()));
    EXPECT_TRUE(std::equal(before.begin() + (unit + 1) * kSaveUnit, before.end(),
                           save.begin() + (unit + 1) * kSaveUnit));
}

}  // namespace
