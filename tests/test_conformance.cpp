// Every cart operation's port trace, replayed access by access against the
// literal model of support/conformance.h: at the four speeds, on single-chip,
// one-pair and two-pair carts, on an SPP-only port, an EPP-only port, LPT3,
// without adapter, with each injected fault, and stopped at every kind of
// stop point an operation passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/game_list.h"
#include "ops/commands.h"
#include "ops/layout.h"
#include "ops/loaders.h"
#include "support/conformance.h"
#include "support/op_bench.h"

using namespace rombolt;
using namespace rombolt::test;
namespace cf = rombolt::test::conformance;

namespace {

using Op = cf::Scenario::Op;
enum class Port { Lpt1, Lpt3, SppOnly, EppOnly, EppOnlyLpt3, NoAdapter };
enum class Fault { None, ProgramError, Locked, EraseStuck, Flip, Vanish };

struct Case {
    Op op;
    const char* model;
    int speed;
    Port port = Port::Lpt1;
    Fault fault = Fault::None;
    bool stops = false;     // again, stopped at each kind of stop point the run passes
    bool skip = false;      // skip-unchanged write
    long long stopAt = -1;  // one stop from this access on
    int busyErase = 0;      // status polls a block erase takes (0: the model's default)
};

std::string Name(const Case& c) {
    static const char* const kOps[] = {"write",       "verify",       "backup",      "erase",
                                       "save backup", "save restore", "multi write", "multi verify"};
    static const char* const kPorts[] = {
        "", " LPT3", " SPP-only port", " EPP-only port", " EPP-only LPT3", " no adapter"};
    static const char* const kFaults[] = {
        "", " program error", " locked block", " stuck erase", " flaky reads", " adapter vanishes"};
    std::string name = kOps[static_cast<int>(c.op)];
    name += c.skip ? " skip-unchanged " : " ";
    name += c.model;
    name += std::string(" speed ") + "4321"[c.speed];
    return name + kPorts[static_cast<int>(c.port)] + kFaults[static_cast<int>(c.fault)];
}

struct Recorded {
    std::vector<RecordingPort::Access> trace;
    std::vector<std::size_t> pumps;
    cf::Scenario scenario;
    bool chipsReadable = false;
    bool stopReported = false;
};

constexpr std::size_t kChunk = 32768;

Recorded Record(const Case& c, long long stopAt) {
    SimConfig cfg = SimConfigFor(c.model, "64K");
    cfg.sppOnly = c.port == Port::SppOnly;
    cfg.eppOnly = c.port == Port::EppOnly || c.port == Port::EppOnlyLpt3;
    cfg.adapterPresent = c.port != Port::NoAdapter;
    cfg.faultProgramErrorChunk = c.fault == Fault::ProgramError ? 1 : -1;
    cfg.faultLockedChunk = c.fault == Fault::Locked ? 1 : -1;
    cfg.faultEraseStuckChunk = c.fault == Fault::EraseStuck ? 1 : -1;
    cfg.faultFlipEvery = c.fault == Fault::Flip ? 5000 : 0;
    cfg.faultVanishAfter = c.fault == Fault::Vanish ? 150000 : 0;
    if (c.busyErase > 0) cfg.busyErase = c.busyErase;
    const bool rom = std::string(c.model) == "rom";
    const auto game = MakeGbaImage((rom ? 32 : c.skip ? 6 : 2) * kChunk, "CONFORM", 18);
    if (rom) cfg.rom = game;

    OpBench b(cfg, "conformance");
    Recorded out;
    cf::Scenario& sc = out.scenario;
    sc.op = c.op;
    sc.speedIndex = b.s.Config.SpeedIndex = static_cast<std::int8_t>(c.speed);
    sc.portIndex = b.s.Config.PortIndex = (c.port == Port::Lpt3 || c.port == Port::EppOnlyLpt3) ? 2 : 0;
    ApplyPortSelection(b.s);
    b.s.Config.VerifyAfterWrite = 1;
    sc.verifyAfterWrite = true;
    sc.skipUnchanged = b.s.SkipUnchanged = c.skip;
    sc.stopAt = stopAt;
    b.s.Config.Cut32K = 0;
    const auto prepared = b.Prepared(game);
    auto preset = [&](const std::vector<std::uint8_t>& bytes) {
        std::copy(bytes.begin(), bytes.end(), b.Flash().begin());
    };

    switch (c.op) {
        case Op::Write:
        case Op::Verify:
            b.OneGame("g.gba", game);
            sc.items = {{0, false, prepared}};
            if (c.op == Op::Verify) preset(prepared);
            if (c.skip) {  // the cart holds the game but for its last two chunks
                auto held = prepared;
                std::fill(held.begin() + 4 * kChunk, held.begin() + 5 * kChunk, 0xFF);  // blank
                held[5 * kChunk + 77] ^= 0x5A;
                preset(held);
            }
            break;
        case Op::Backup:
            if (!rom) preset(prepared);
            b.ui.files = {b.File("backup.gba", {})};
            b.ui.cartSizeAnswer = [](int) { return 32; };
            break;
        case Op::Erase:
            b.ui.answerYes = true;
            break;
        case Op::SaveBackup:
            b.ui.saverAnswer = {2, 1};  // 1A3, 32K: units 2 to 5, across the two halves
            sc.saveStartUnit = 2;
            sc.saveUnits = 4;
            b.ui.files = {b.File("backup.sav", {})};
            break;
        case Op::SaveRestore:
            sc.saveFile.resize(5 * 8192);  // a longer file than the 32K chosen
            FillPattern(sc.saveFile, 7);
            b.ui.saverAnswer = {5, 1};
            sc.saveStartUnit = 5;
            sc.saveUnits = 4;
            b.ui.files = {b.File("restore.sav", sc.saveFile)};
            break;
        case Op::MultiWrite:
        case Op::MultiVerify: {
            WriteFileBytes(b.dir.path() / "a.gba", game);
            WriteFileBytes(b.dir.path() / "b.gb", MakeGbImage(kChunk, "GAMEB", 0x80, 19));
            AddSelectedFiles(b.s, b.dir.str(), {"a.gba", "b.gb"});
            if (c.op == Op::MultiVerify) WriteClick(b.s);
            break;
        }
    }

    RecordingPort rec(b.f.sim());
    b.s.Port = &rec;
    b.ui.onPump = [&] {
        out.pumps.push_back(rec.log.size());
        if (stopAt >= 0 && static_cast<long long>(rec.log.size()) >= stopAt) b.s.StopRequested = 1;
    };
    b.ui.log.clear();
    switch (c.op) {
        case Op::Write:
        case Op::MultiWrite:
            WriteClick(b.s);
            break;
        case Op::Verify:
        case Op::MultiVerify:
            VerifyClick(b.s);
            break;
        case Op::Backup:
            ReadClick(b.s);
            break;
        case Op::Erase:
            EraseFlashClick(b.s);
            break;
        case Op::SaveBackup:
            SReadClick(b.s);
            break;
        case Op::SaveRestore:
            SWriteClick(b.s);
            break;
    }
    b.s.Port = &b.f.sim();
    out.trace = std::move(rec.log);
    out.chipsReadable = b.f.sim().AllChipsInReadArray();
    out.stopReported = b.ui.Logged("Stop process !!!");

    if (c.op == Op::MultiWrite || c.op == Op::MultiVerify) {  // the items where the layout put them
        std::uint8_t last = ChunkFree;
        for (int ch = 0; ch < kMapChunks && b.s.ChunkMap[ch] != ChunkEnd; ++ch) {
            const std::uint8_t v = b.s.ChunkMap[ch];
            if (v == ChunkGbaLoader || v == ChunkGbLoader) {
                const LoaderImage& l = v == ChunkGbaLoader ? BuiltinGbaLoader : BuiltinGbLoader;
                sc.items.push_back({v == ChunkGbaLoader ? 0 : ch, true, {l.begin(), l.end()}});
            } else if (v != last && v != ChunkFree) {
                sc.items.push_back(
                    {ch, false, b.Prepared(ReadFileBytes(b.dir.path() / b.s.GameList[v].Name))});
            }
            if (v != ChunkGbaLoader && v != ChunkGbLoader) last = v;
        }
    }
    return out;
}

// Replays a run; the divergence, if any, as the failure text.
std::string Check(const Recorded& r, const cf::Departures& d = {},
                  std::vector<cf::StopPoint>* stops = nullptr) {
    try {
        auto points = cf::Replay(r.scenario, d, r.trace, r.pumps);
        if (stops) *stops = std::move(points);
        return "";
    } catch (const cf::Divergence& e) {
        return e.what();
    }
}

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = [] {
        const Port lpt1 = Port::Lpt1;
        const Fault none = Fault::None;
        std::vector<Case> v;
        for (int speed = 0; speed < 4; ++speed) {
            const bool odd = speed % 2 != 0;
            v.push_back({Op::Write, "single-64M", speed, lpt1, none, speed == 0});
            v.push_back({Op::Write, "strata-128M-one-pair", speed, lpt1, none, speed == 1});
            v.push_back({Op::Verify, odd ? "strata-256M" : "single-64M", speed, lpt1, none, speed == 1});
            v.push_back({Op::Erase, odd ? "strata-128M" : "single-32M", speed});
            v.push_back({Op::SaveBackup, "single-32M", speed, lpt1, none, speed == 2});
            v.push_back({Op::SaveRestore, odd ? "vela-64M" : "single-32M", speed, lpt1, none, speed == 3});
            v.push_back(
                {odd ? Op::MultiVerify : Op::MultiWrite, "strata-128M", speed, lpt1, none, speed == 0});
        }
        v.push_back({Op::Backup, "single-32M", 0});
        v.push_back({Op::Backup, "rom", 1});
        v.push_back({Op::Backup, "strata-64M", 2});
        v.push_back({Op::Backup, "strata-64M", 3, lpt1, none, false, false, 2000000});
        v.push_back({Op::Write, "vela-64M", 0});
        v.push_back({Op::Write, "strata-128M", 2});
        v.push_back({Op::Write, "single-64M", 0, lpt1, none, false, true});
        v.push_back({Op::Erase, "vela-128M-one-pair", 1, lpt1, none, true});
        for (Port p : {Port::Lpt3, Port::SppOnly, Port::EppOnly, Port::EppOnlyLpt3, Port::NoAdapter})
            v.push_back({Op::Write, "single-64M", 0, p});
        v.push_back({Op::Write, "single-64M", 3, Port::EppOnly});  // SPP writes: no adapter found
        for (Fault f : {Fault::ProgramError, Fault::Locked, Fault::EraseStuck, Fault::Flip, Fault::Vanish})
            v.push_back({Op::Write, f == Fault::ProgramError ? "strata-256M" : "single-32M", 0, lpt1, f});
        v.push_back({Op::Write, "strata-64M", 1, lpt1, Fault::EraseStuck});
        v.push_back({Op::Backup, "single-32M", 0, lpt1, Fault::Flip});
        v.push_back({Op::SaveRestore, "single-32M", 0, lpt1, Fault::Vanish});
        return v;
    }();
    return cases;
}

TEST(Conformance, EveryOperationFollowsTheModel) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(Name(c));
        const Recorded run = Record(c, c.stopAt);
        std::vector<cf::StopPoint> stops;
        const std::string diverged = Check(run, {}, &stops);
        ASSERT_EQ(diverged, "");
        // A stuck erase keeps its chip busy; a vanished adapter hears nothing more.
        if (c.fault != Fault::EraseStuck && c.fault != Fault::Vanish) {
            EXPECT_TRUE(run.chipsReadable);
        }
        if (c.stopAt >= 0) {
            EXPECT_TRUE(run.stopReported);
        }
        if (!c.stops) continue;

        // Stopped once at each kind of stop point: the first of each.
        std::map<std::string, std::size_t> kinds;
        for (const auto& p : stops) kinds.emplace(p.steps, p.at);
        EXPECT_GE(kinds.size(), c.op == Op::Write || c.op == Op::MultiWrite ? 10u : 1u);
        for (const auto& [steps, at] : kinds) {
            SCOPED_TRACE("stopped in " + steps);
            const Recorded stopped = Record(c, static_cast<long long>(at));
            EXPECT_EQ(Check(stopped), "");
            EXPECT_TRUE(stopped.stopReported);
            EXPECT_TRUE(stopped.chipsReadable);
        }
    }
}

// Each documented departure shows in a trace: switched off, the model
// expects the written sequence there and the replay diverges.
TEST(Conformance, EachDepartureIsWhereTheProgramDeparts) {
    struct Need {
        bool cf::Departures::*departure;
        Case run;
        const char* stopIn;  // a stop at the first stop point of this kind, or none
    };
    const Need needs[] = {
        {&cf::Departures::quarterCommandBase, {Op::MultiWrite, "strata-128M", 0}, nullptr},
        {&cf::Departures::confirmInsideQuarter, {Op::MultiWrite, "strata-128M", 0}, nullptr},
        {&cf::Departures::adapterCheckBetweenBlocks, {Op::Verify, "single-32M", 0}, nullptr},
        {&cf::Departures::pumpBeforeChunkReadBack, {Op::Write, "single-32M", 1}, nullptr},
        {&cf::Departures::savePumps, {Op::SaveBackup, "single-32M", 0}, nullptr},
        {&cf::Departures::stopWaitsForBusyChips, {Op::Erase, "single-32M", 0}, "confirm"},
        {&cf::Departures::stopClearsPendingCommand, {Op::Erase, "single-32M", 0}, "setup"},
        {&cf::Departures::stopWaitPumps, {Op::Erase, "single-32M", 0}, "confirm"},
        // The GB loader's block ends the second pair's quarter.
        {&cf::Departures::erasePollStaysInQuarter,
         {Op::MultiWrite, "strata-128M", 0, Port::Lpt1, Fault::None, false, false, -1, 20000},
         nullptr},
        {&cf::Departures::verifyIdentifiesCart, {Op::Verify, "single-32M", 0}, nullptr},
        {&cf::Departures::romProbeTo512, {Op::Backup, "strata-64M", 2}, nullptr},
        {&cf::Departures::saveRestoreFinalCompare, {Op::SaveRestore, "single-32M", 0}, nullptr},
        {&cf::Departures::verifyReadsWholeChunk,
         {Op::Write, "single-32M", 0, Port::Lpt1, Fault::Flip},
         nullptr},
        {&cf::Departures::saveSizeFromMirroring, {Op::SaveBackup, "single-32M", 1}, nullptr},
        {&cf::Departures::skipProgramsBlankChunks,
         {Op::Write, "single-64M", 0, Port::Lpt1, Fault::None, false, true},
         nullptr},
    };
    for (const Need& n : needs) {
        SCOPED_TRACE(Name(n.run) + (n.stopIn ? std::string(" stopped in ") + n.stopIn : ""));
        Recorded run = Record(n.run, -1);
        std::vector<cf::StopPoint> stops;
        ASSERT_EQ(Check(run, {}, &stops), "");
        if (n.stopIn) {
            auto p = std::find_if(stops.begin(), stops.end(),
                                  [&](const cf::StopPoint& sp) { return sp.steps.ends_with(n.stopIn); });
            ASSERT_NE(p, stops.end());
            run = Record(n.run, static_cast<long long>(p->at));
            ASSERT_EQ(Check(run), "");
        }
        cf::Departures written;
        written.*n.departure = false;
        EXPECT_NE(Check(run, written), "");
    }
}

}  // namespace
