// Host time of the program's own layers (link cycles, cart bus, flash
// sequences, save memory routines) over a back end that answers like ready
// flash chips and does nothing else, and the reference lengths the pump
// budget is measured against.
#include <algorithm>
#include <memory>

#include "app/app_state.h"
#include "bench_sections.h"
#include "flash/flash.h"
#include "link/cartbus.h"
#include "link/detect.h"
#include "link/link.h"
#include "ops/saver.h"
#include "sim/sim_port.h"

namespace rombolt::bench {

LinkMode ModeOf(const PortSetting& p) {
    if (p.sppOnlyPort || p.speedIndex == 3) return LinkMode::Spp;
    return p.speedIndex == 0 ? LinkMode::Epp4 : p.speedIndex == 1 ? LinkMode::Epp3 : LinkMode::Epp2;
}

const char* ModeName(LinkMode m) {
    switch (m) {
        case LinkMode::Epp4:
            return "EPP speed 4";
        case LinkMode::Epp3:
            return "EPP speed 3";
        case LinkMode::Epp2:
            return "EPP speed 2";
        case LinkMode::Spp:
            return "SPP";
    }
    return "?";
}

void ApplyLinkMode(AppState& s, LinkMode m) {
    s.Link.SppMode = m == LinkMode::Spp ? 1 : 0;
    s.Config.SpeedIndex = m == LinkMode::Epp4 ? 0 : m == LinkMode::Epp3 ? 1 : m == LinkMode::Epp2 ? 2 : 3;
}

const char* OpName(Op op) {
    switch (op) {
        case Op::Identify:
            return "identification";
        case Op::Write:
            return "write";
        case Op::WriteVerify:
            return "write + verify";
        case Op::Verify:
            return "verify";
        case Op::Backup:
            return "backup";
        case Op::SaveBackup:
            return "save backup";
        case Op::SaveRestore:
            return "save restore";
        case Op::Erase:
            return "erase";
    }
    return "?";
}

long long LinkResults::StretchBudget(LinkMode m, bool interleaved) const {
    return std::max(chunkAccesses.at(m), pollAccesses.at({m, interleaved}));
}

namespace {

// The program's state over an answering back end.
struct Rig {
    explicit Rig(LinkMode m, bool interleaved, bool busy = false)
        : state(std::make_unique<AppState>()),
          s(*state),
          port(0x378, busy),
          ui(s, [this] { return port.count; }) {
        s.Port = &port;
        s.UI = &ui;
        ApplyPortSelection(s);
        ApplyLinkMode(s, m);
        s.Cart.Interleaved = interleaved ? 1 : 0;
        s.Cart.CapacityBytes = interleaved ? 32u << 20 : 16u << 20;
        s.StopRequested = 0;
        s.ChunkBuffer.bytes.fill(0x80);
    }
    std::unique_ptr<AppState> state;
    AppState& s;
    ReadyFlashPort port;
    BenchFrontend ui;
};

volatile unsigned gSink = 0;

struct Timing {
    Spread ns;  // host ns per access over the runs
    long long accesses = 0;
    long long allocations = 0;
};

// `reps` runs of f over the rig's back end. A run repeats f until it has made
// at least a million accesses, so that reading the clock costs nothing next
// to it. `accesses` is what one call of f made.
template <typename F>
Timing Time(Rig& rig, int reps, F f) {
    constexpr long long kMinAccesses = 1 << 20;
    Timing res;
    std::vector<double> ns;
    for (int r = 0; r < reps; ++r) {
        const long long a0 = rig.port.count;
        const long long m0 = AllocationCount();
        const double t0 = CpuSeconds();
        long long calls = 0;
        do {
            f();
            ++calls;
        } while (rig.port.count - a0 < kMinAccesses);
        const double t = CpuSeconds() - t0;
        const long long n = rig.port.count - a0;
        res.allocations = std::max(res.allocations, AllocationCount() - m0);
        res.accesses = n / calls;
        if (n > 0) ns.push_back(t * 1e9 / static_cast<double>(n));
    }
    res.ns = SpreadOf(ns);
    return res;
}

void NoteWorst(Budgets& b, double ns, const std::string& where) {
    if (ns > b.linkWorstNs) {
        b.linkWorstNs = ns;
        b.linkWorstWhere = where;
    }
}

}  // namespace

bool RunTransfers(AppState& s, Op op, int chunks) {
    const std::int32_t blockChunks = s.Cart.Interleaved ? 8 : 4;
    bool ok = true;
    s.LastErasedBlock = -1;
    switch (op) {
        case Op::Write:
        case Op::WriteVerify:
            s.Config.VerifyAfterWrite = op == Op::WriteVerify;
            for (int n = 0; n < chunks; ++n) ok = ok && ProgramFlashChunk(s, n, kChunkBytes) == 0;
            if (op == Op::WriteVerify)
                for (int n = 0; n < chunks; ++n) ok = ok && VerifyFlashChunk(s, n, kChunkBytes) == 0;
            s.Config.VerifyAfterWrite = 0;
            break;
        case Op::Verify:
            for (int n = 0; n < chunks; ++n) ok = ok && VerifyFlashChunk(s, n, kChunkBytes) == 0;
            break;
        case Op::Backup:
            for (int n = 0; n < chunks; ++n) {
                ReadFlashChunk(s, n);
                ok = ok && VerifyFlashChunk(s, n, kChunkBytes) == 0;
            }
            break;
        case Op::SaveBackup:
            for (int u = 0; u < 8; ++u) ok = ok && ReadSaveUnit(s, u) == 0;
            break;
        case Op::SaveRestore:
            for (int u = 0; u < 8; ++u) ok = ok && WriteSaveUnit(s, u) == 0;
            break;
        case Op::Erase:
            for (int n = 0; n < chunks; n += blockChunks)
                ok = ok && EraseFlashBlock(s, static_cast<std::uint32_t>(n) << 14) == 0;
            break;
        case Op::Identify:
            break;
    }
    return ok;
}

LinkResults RunLinkSection(std::FILE* out, const BenchOptions& opt, Budgets& b) {
    LinkResults res;
    const int reps = opt.quick ? 2 : 5;
    const int calls = opt.quick ? 1 << 18 : 1 << 20;

    std::fprintf(out, "## Link layer over an answering back end\n\n");
    std::fprintf(out,
                 "The program's own layers — link cycles, cart bus, flash sequences and save memory "
                 "routines — running against a back end that answers like ready flash chips (status "
                 "\"ready\", buffer free, every data word equal to the chunk buffer) and does nothing "
                 "per access but count it. Host CPU time per port access: the median of %d runs, "
                 "their range in parentheses; the budget (5 ns) holds for the median.\n\n",
                 reps);

    // Single operations of the link layer.
    Table prim({"Operation", "accesses per call (EPP 4 / 3 / 2 / SPP)", "EPP speed 4", "EPP speed 3",
                "EPP speed 2", "SPP"});
    // Each operation is timed in its own loop; a template keeps the call direct.
    auto measure = [&](const char* name, auto call) {
        std::vector<std::string> row = {name, ""};
        std::string per;
        for (LinkMode m : kLinkModes) {
            Rig rig(m, false);
            const Timing t = Time(rig, reps, [&] {
                for (int i = 0; i < calls; ++i) call(rig.s);
            });
            b.linkLoopAllocations += t.allocations;
            row.push_back(FixedSpread(t.ns, 2));
            per += (per.empty() ? "" : " / ") + std::to_string(t.accesses / calls);
            NoteWorst(b, t.ns.median, std::string(name) + ", " + ModeName(m));
        }
        row[1] = per;
        prim.Row(row);
    };
    measure("`WriteDataWord`", [](AppState& s) { WriteDataWord(s, 0x1234); });
    measure("`ReadDataWord`", [](AppState& s) { gSink = gSink + ReadDataWord(s); });
    measure("`WriteDataByte`", [](AppState& s) { WriteDataByte(s, 0x12); });
    measure("`ReadDataByte`", [](AppState& s) { gSink = gSink + ReadDataByte(s); });
    measure("`WriteRegister`", [](AppState& s) { WriteRegister(s, 1, 0x12); });
    measure("`SelectRegister`", [](AppState& s) { SelectRegister(s, 3); });
    measure("`WriteCartWord`", [](AppState& s) { WriteCartWord(s, 0x123456, 0x70); });
    std::fprintf(out, "Host ns per port access of single link operations (%d calls per run):\n\n", calls);
    prim.Print(out);

    // Whole transfer routines of each operation.
    const int chunks = opt.quick ? 8 : 32;
    Table ops({"Operation", "Cart", "EPP speed 4", "EPP speed 3", "EPP speed 2", "SPP", "allocations"});
    for (Op op : kOps) {
        if (op == Op::Identify) continue;  // needs real answers; measured on the simulated cart
        for (bool pair : {false, true}) {
            if ((op == Op::SaveBackup || op == Op::SaveRestore) && pair) continue;  // no flash involved
            std::vector<std::string> row = {OpName(op), pair ? "interleaved pair" : "single chip"};
            if (op == Op::SaveBackup || op == Op::SaveRestore) row[1] = "save memory";
            long long allocs = 0;
            for (LinkMode m : kLinkModes) {
                Rig rig(m, pair);
                bool ok = true;
                const Timing t = Time(rig, reps, [&] { ok = ok && RunTransfers(rig.s, op, chunks); });
                allocs += t.allocations;
                b.linkLoopAllocations += t.allocations;
                res.opNs[{op, pair, m}] = t.ns.median;
                if (op == Op::SaveBackup || op == Op::SaveRestore) res.opNs[{op, !pair, m}] = t.ns.median;
                row.push_back(ok ? FixedSpread(t.ns, 2) : "failed");
                NoteWorst(b, t.ns.median, std::string(OpName(op)) + ", " + row[1] + ", " + ModeName(m));
            }
            row.push_back(std::to_string(allocs));
            ops.Row(row);
        }
    }
    std::fprintf(out,
                 "Host ns per port access of each operation's transfer routines (%d chunks of 32 KiB; "
                 "save memory: 8 units of 8 KiB; erase: every block of %d chunks), and the "
                 "allocations made inside them:\n\n",
                 chunks, chunks);
    ops.Print(out);

    // What one buffer program costs next to the data it carries.
    Table buffer({"Mode", "single chip: accesses (data)", "interleaved pair: accesses (data)"});
    for (LinkMode m : kLinkModes) {
        std::vector<std::string> row = {ModeName(m)};
        for (bool pair : {false, true}) {
            Rig rig(m, pair);
            const long long a0 = rig.port.count;
            ProgramBuffer(rig.s, 0, 0);
            const int words = pair ? 32 : 16;
            row.push_back(Thousands(rig.port.count - a0) + " (" +
                          std::to_string(words * CostOf(rig.s).wordWrite) + ")");
        }
        buffer.Row(row);
    }
    std::fprintf(out,
                 "One buffer program (16 words per chip) with chips that are ready at once: its port "
                 "accesses, and in parentheses those that carry the data words. The rest: the "
                 "write-to-buffer command, the status read that answers it, the word count, the data "
                 "run's own address load, the confirm, a ready poll and the read-array command. All "
                 "but the confirm begin by loading the three cart address registers, which is why "
                 "address loads are the largest part of a write's overhead below.\n\n");
    buffer.Print(out);

    // Reference lengths for the pump budget.
    for (LinkMode m : kLinkModes) {
        Rig rig(m, false);
        const long long a0 = rig.port.count;
        ReadFlashChunk(rig.s, 0);
        res.chunkAccesses[m] = rig.port.count - a0;
        // Every operation checks that the adapter still answers after each
        // block, before its next event pump: that check belongs to the block.
        // It reads the registers back until one differs, so it is counted
        // on a simulated adapter that echoes them all.
        {
            SimConfig c;
            c.model = "single-32M";
            SimPort sim(c);
            auto state = std::make_unique<AppState>();
            state->Port = &sim;
            SilentFrontend quiet;
            state->UI = &quiet;
            ApplyPortSelection(*state);
            ApplyLinkMode(*state, m);
            const bool found = DetectAdapter(*state) == 0;
            ApplyLinkMode(*state, m);
            const long long c0 = sim.PortAccesses();
            if (!found || !AdapterStillAnswers(*state))
                std::fprintf(stderr, "bench: the simulated adapter did not answer\n");
            res.chunkAccesses[m] += sim.PortAccesses() - c0;
        }
        for (bool pair : {false, true}) {
            Rig busy(m, pair, true);
            busy.ui.Restart();
            ProgramBuffer(busy.s, 0, 0);  // gives up after 16384 polls
            busy.ui.Finish();
            res.pollAccesses[{m, pair}] = busy.ui.maxStretch;
        }
    }
    Table ref({"Mode", "one 32 KiB chunk read and adapter check",
               "1024 polls for a free write buffer, single chip", "same, interleaved pair"});
    for (LinkMode m : kLinkModes)
        ref.Row({ModeName(m), Thousands(res.chunkAccesses[m]), Thousands(res.pollAccesses[{m, false}]),
                 Thousands(res.pollAccesses[{m, true}])});
    std::fprintf(out,
                 "Pump budget references, in port accesses: a stretch between two event pumps may be "
                 "as long as one 32 KiB chunk of transfers or 1024 status polls, whichever is longer. "
                 "The chunk is a full chunk read with its page address loads and the adapter check that "
                 "follows every block; the polls are those of "
                 "the costliest poll loop (waiting for a free write buffer, which reloads the address "
                 "on every poll), measured against chips that never get ready:\n\n");
    ref.Print(out);
    return res;
}

}  // namespace rombolt::bench
