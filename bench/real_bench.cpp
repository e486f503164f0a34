// What a command costs on a real cart: the port accesses of each command,
// counted on a simulated cart whose chips are ready at the first poll, turned
// into time with the time of one port access and the flash chips' own
// program and erase times.
//
// A real chip stays busy for its program or erase time after the confirm
// command; the program polls its status meanwhile, so the polls run inside
// that time instead of adding to it. A wait thus lasts the busy time rounded
// up to whole polls: polls = ceil(busy / poll period), at least one. The run
// on the simulated cart counts exactly one poll per wait; the model adds the
// others. Every other access takes one access time.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bench_sections.h"
#include "flash/flash.h"
#include "flash/identify.h"
#include "link/detect.h"
#include "ops/commands.h"
#include "sim_session.h"

namespace rombolt::bench {

namespace {

// One port access on a PC printer port: an ISA-speed I/O cycle of about a
// microsecond, the same for every access and mode (EPP handshakes that stretch
// a cycle are not modelled).
constexpr double kPortAccessSeconds = 1e-6;

// Busy times of one Intel StrataFlash-class chip: the 28F320J3 / 28F640J3 /
// 28F128J3 family whose device codes (0x16-0x18) the carts report, from the
// program and erase characteristics of its datasheet ("3 Volt Intel
// StrataFlash Memory"): one write-buffer program of 32 bytes (16 words, 6.8 µs
// per byte effective) and one erase of a 128 KiB block. The two chips of an
// interleaved pair work at the same time.
struct ChipTimes {
    double bufferProgram;  // seconds per 32-byte write buffer program
    double blockErase;     // seconds per block erase
};
constexpr ChipTimes kTypical{218e-6, 1.0};
constexpr ChipTimes kMaximum{654e-6, 5.0};
// Round figures, to show how the result moves with the program time.
constexpr ChipTimes kRound{200e-6, 1.0};

// Port accesses between two status reads of one chip (or pair) while the
// program waits for it, measured on the simulated cart.
struct PollPeriods {
    long long program = 0;  // the ready wait after a buffer program
    long long erase = 0;    // the poll for the end of a block erase
    bool exact = true;      // every wait added the same number of accesses per poll
};

// One command on the simulated cart with chips that are ready at once.
struct Step {
    std::string label;
    RunStats run;
    long long programWaits = 0;  // buffer programs, both chips of a pair counted once
    long long eraseWaits = 0;    // block erases, likewise
    long long payloadWords = 0;  // flash words programmed or read from the array
    long long saveBytes = 0;     // save memory bytes that crossed the link
};

struct Modelled {
    double outside = 0;  // port accesses outside the chip waits
    double waits = 0;    // time spent waiting for the chips, polls included
    double chip = 0;     // the chips' own busy time
    double total = 0;
    bool fails = false;  // a wait runs out of its poll budget
    double floor = 0;    // chip time plus one access per payload word or byte
};

// Polls one wait takes on a real chip: its status is read once per period,
// and the first read at or after the end of the busy time sees it ready.
long long PollsFor(double busy, long long period) {
    const double p = static_cast<double>(period) * kPortAccessSeconds;
    return std::max(1LL, static_cast<long long>(std::ceil(busy / p - 1e-9)));
}

Modelled Model(const Step& st, const PollPeriods& pp, const ChipTimes& c) {
    Modelled m;
    const long long progPolls = PollsFor(c.bufferProgram, pp.program);
    const long long erasePolls = PollsFor(c.blockErase, pp.erase);
    const double polls =
        static_cast<double>(st.programWaits * progPolls * pp.program + st.eraseWaits * erasePolls * pp.erase);
    const double counted = static_cast<double>(st.programWaits * pp.program + st.eraseWaits * pp.erase);
    m.outside = (static_cast<double>(st.run.accesses) - counted) * kPortAccessSeconds;
    m.waits = polls * kPortAccessSeconds;
    m.chip = static_cast<double>(st.programWaits) * c.bufferProgram +
             static_cast<double>(st.eraseWaits) * c.blockErase;
    m.total = m.outside + m.waits;
    m.fails =
        (st.eraseWaits > 0 && erasePolls > kEraseBudget) || (st.programWaits > 0 && progPolls > kReadyBudget);
    m.floor = m.chip + static_cast<double>(st.payloadWords + st.saveBytes) * kPortAccessSeconds;
    return m;
}

std::string Seconds(double s) {
    if (s >= 100) return Fixed(s, 0) + " s";
    if (s >= 1) return Fixed(s, 1) + " s";
    return Fixed(s * 1000, s >= 0.01 ? 0 : 1) + " ms";
}

std::string Percent(double part, double whole) {
    return whole > 0 ? Fixed(100.0 * part / whole, 0) + " %" : std::string("—");
}

const char* kSpeedNames[] = {"4", "3", "2", "1"};

// 'speed "4"', 'speeds "4" and "3"', 'speeds "4", "3" and "2"'; "no speed" for none.
std::string SpeedList(const std::vector<int>& speeds) {
    if (speeds.empty()) return "no speed";
    std::string s = speeds.size() == 1 ? "speed " : "speeds ";
    for (std::size_t i = 0; i < speeds.size(); ++i) {
        if (i > 0) s += i + 1 == speeds.size() ? " and " : ", ";
        s += std::string("\"") + kSpeedNames[speeds[i]] + "\"";
    }
    return s;
}

// Measures the poll periods on a fresh cart in this setting: one chunk
// programmed (with its block erase) with chips ready at once, then again with
// each program and then each erase kept busy for kBusy extra reads.
PollPeriods MeasurePolls(const std::string& model, const PortSetting& setting) {
    constexpr int kBusy = 8;
    SimSession ss(model, setting);
    AppState& s = ss.s;
    PollPeriods pp;
    if (DetectAdapter(s) != 0 || IdentifyFlash(s) != 0) {
        pp.exact = false;
        return pp;
    }
    const std::int32_t blockChunks = s.Cart.Interleaved ? 8 : 4;
    const long long chipsPerWait = s.Cart.Interleaved ? 2 : 1;
    auto chunk = [&](int program, int erase, std::int32_t n, long long& waits) {
        ss.sim->SetBusyCounts(program, erase);
        s.LastErasedBlock = -1;
        const long long a0 = ss.sim->PortAccesses();
        const long p0 = ss.sim->BufferProgramCount();
        if (ProgramFlashChunk(s, n, kChunkBytes) != 0) pp.exact = false;
        waits = (ss.sim->BufferProgramCount() - p0) / chipsPerWait;
        return ss.sim->PortAccesses() - a0;
    };
    long long waits = 0;
    const long long base = chunk(0, 0, 0, waits);
    const long long slowPrograms = chunk(kBusy, 0, blockChunks, waits);
    const long long slowErase = chunk(0, kBusy, 2 * blockChunks, waits);
    const long long perProgram = slowPrograms - base;
    pp.program = perProgram / (kBusy * std::max(1LL, waits));
    pp.erase = (slowErase - base) / kBusy;
    pp.exact = pp.exact && perProgram == pp.program * kBusy * waits && slowErase - base == pp.erase * kBusy;
    return pp;
}

// Port accesses of detection and identification on a blank cart, or on one
// that holds a game (`image` in its first bytes).
long long IdentifyAccesses(const std::string& model, const PortSetting& setting,
                           const std::vector<std::uint8_t>* image) {
    SimSession ss(model, setting);
    if (image) std::copy(image->begin(), image->end(), ss.sim->Flash().begin());
    const RunStats r = Measure(ss, [&] { return DetectAdapter(ss.s) != 0 ? -1 : IdentifyFlash(ss.s); });
    return r.ok ? r.accesses : -1;
}

// The commands of the model, in the order they run on one cart.
std::vector<Step> RunCommands(SimSession& ss, const BenchOptions& opt, std::size_t bytes) {
    AppState& s = ss.s;
    const std::string a = opt.workDir + "/real_a.gba";
    const std::string a1 = opt.workDir + "/real_a1.gba";
    const std::string other = opt.workDir + "/real_b.gba";
    {
        auto image = MakeImage(bytes, 31);
        WriteFile(a, image);
        image[bytes / 2 + 4321] ^= 0x5A;
        WriteFile(a1, image);
        WriteFile(other, MakeImage(bytes, 32));
    }
    const long long chipsPerWait = ss.sim->Model().interleaved ? 2 : 1;
    ss.sim->SetBusyCounts(0, 0);

    std::vector<Step> steps;
    steps.reserve(16);  // run() hands out pointers into it
    auto run = [&](const std::string& label, auto command) {
        Step st;
        st.label = label;
        const long long reads0 = ss.sim->ArrayReads();
        st.run = Measure(ss, command);
        st.programWaits = st.run.bufferPrograms / chipsPerWait;
        st.eraseWaits = st.run.erases / chipsPerWait;
        st.payloadWords = (ss.sim->ArrayReads() - reads0) + 16 * st.run.bufferPrograms;
        if (!st.run.ok) std::fprintf(stderr, "bench: %s failed\n", label.c_str());
        steps.push_back(st);
        return &steps.back();
    };
    auto write = [&](const std::string& path, bool verify, bool skip) {
        ListImage(s, path);
        s.Config.VerifyAfterWrite = verify ? 1 : 0;
        s.SkipUnchanged = skip;
        const OperationResult r = WriteClick(s);
        s.SkipUnchanged = false;
        return r;
    };
    auto identify = [&] { return DetectAdapter(s) != 0 ? -1 : IdentifyFlash(s); };

    // Identification moves no payload: what it reads is query data and status.
    run("identification, blank cart", identify)->payloadWords = 0;
    run("write + verify, skip unchanged, blank cart", [&] { return write(a, true, true); });
    run("identification, cart holding a game", identify)->payloadWords = 0;
    run("write", [&] { return write(a, false, false); });
    run("write + verify", [&] { return write(a, true, false); });
    run("verify", [&] {
        ListImage(s, a);
        return VerifyClick(s);
    });
    run("backup", [&] {
        ss.ui.file = opt.workDir + "/real_backup.gba";
        ss.ui.cartSizeChunks = static_cast<int>(bytes / kChunkBytes);
        return ReadClick(s);
    });
    run("write + verify, skip unchanged, same image", [&] { return write(a, true, true); });
    run("write + verify, skip unchanged, one byte changed", [&] { return write(a1, true, true); });
    run("write + verify, skip unchanged, everything changed", [&] { return write(other, true, true); });
    Step* sb = run("save backup (64 KiB)", [&] {
        ss.ui.file = opt.workDir + "/real_backup.sav";
        ss.ui.saver = {0, 2};
        return SReadClick(s);
    });
    sb->saveBytes = 2 * 65536;  // read, then compared
    Step* sr = run("save restore (64 KiB)", [&] { return SWriteClick(s); });
    sr->saveBytes = 2 * 65536;  // written, then read back
    run("erase (whole cart)", [&] { return EraseFlashClick(s); });
    return steps;
}

}  // namespace

void RunRealSection(std::FILE* out, const BenchOptions& opt, Budgets& b) {
    const char* model = "strata-256M";
    const std::size_t bytes = (opt.quick ? 4u : 32u) << 20;

    const char* single = "single-128M";

    std::vector<PollPeriods> polls, singlePolls;
    std::vector<std::vector<Step>> bySpeed;
    for (int speed = 0; speed < 4; ++speed) {
        const PortSetting setting{false, speed};
        polls.push_back(MeasurePolls(model, setting));
        singlePolls.push_back(MeasurePolls(single, setting));
        if (!polls.back().exact || !singlePolls.back().exact)
            std::fprintf(stderr, "bench: poll periods at speed %d not exact\n", speed);
        SimSession ss(model, setting);
        bySpeed.push_back(RunCommands(ss, opt, bytes));
    }
    const std::vector<Step>& steps4 = bySpeed[0];

    std::fprintf(out, "## What a command costs on a real cart\n\n");
    std::fprintf(out,
                 "A model of real hardware, for a %zu MiB image on a cart of two interleaved 16 MiB "
                 "chips (`%s`) on an EPP port at each speed. The port accesses of each command are "
                 "counted on the simulated cart with chips that answer \"ready\" at the first poll; the "
                 "model turns them into time with these parameters:\n\n",
                 bytes >> 20, model);
    std::fprintf(out,
                 "- one port access: %.0f µs (an ISA-speed I/O cycle of the printer port);\n"
                 "- one write-buffer program (32 bytes, 16 words per chip): %.0f µs typical, %.0f µs "
                 "maximum;\n"
                 "- one block erase (128 KiB per chip): %.1f s typical, %.1f s maximum.\n\n",
                 kPortAccessSeconds * 1e6, kTypical.bufferProgram * 1e6, kMaximum.bufferProgram * 1e6,
                 kTypical.blockErase, kMaximum.blockErase);
    std::fprintf(out,
                 "The chip times are those of the Intel StrataFlash 28F320J3 / 28F640J3 / 28F128J3 "
                 "family (device codes 0x16-0x18, the ones the carts report) in its datasheet's program "
                 "and erase characteristics (6.8 µs per byte with the 32-byte write buffer); the two "
                 "chips of a pair program and erase at the same time. While a chip is busy the program "
                 "polls its status, so a wait lasts the busy time rounded up to whole polls "
                 "(the poll periods are below); every other port access takes its microsecond.\n\n");

    // Summary: every command at every speed.
    Table sum({"Command", "block erases", "buffer programs", "speed \"4\"", "speed \"3\"", "speed \"2\"",
               "speed \"1\" (SPP)", "waiting for the chips, speed \"4\""});
    for (std::size_t i = 0; i < steps4.size(); ++i) {
        std::vector<std::string> row = {steps4[i].label, Thousands(steps4[i].eraseWaits),
                                        Thousands(steps4[i].programWaits)};
        for (int speed = 0; speed < 4; ++speed) {
            const Step& st = bySpeed[static_cast<std::size_t>(speed)][i];
            const Modelled t = Model(st, polls[static_cast<std::size_t>(speed)], kTypical);
            const Modelled x = Model(st, polls[static_cast<std::size_t>(speed)], kMaximum);
            std::string cell = st.run.ok ? Seconds(t.total) : "failed";
            if (t.fails) cell += " (fails)";
            if (x.total != t.total)
                cell += " (max " + (x.fails ? std::string("fails") : Seconds(x.total)) + ")";
            row.push_back(cell);
        }
        const Modelled t4 = Model(steps4[i], polls[0], kTypical);
        row.push_back(t4.waits > 0 ? Seconds(t4.waits) : "—");
        sum.Row(row);
    }
    std::fprintf(out,
                 "Time of each command with typical chip times, and with maximum ones in parentheses "
                 "where they differ (\"fails\": the poll budget of a wait runs out before the chip is "
                 "done). The erase and program counts are per chip pair; the commands run in this order "
                 "on one cart, so \"blank cart\" is the new cart and the skip-unchanged rows rewrite the "
                 "game the rows before wrote.\n\n");
    sum.Print(out);

    // Detail: where the time goes.
    Table det({"Command", "speed", "port accesses", "accesses outside the waits", "waiting for the chips",
               "of which chip busy time", "total", "waiting share", "floor", "total, maximum chip times"});
    for (std::size_t i = 0; i < steps4.size(); ++i) {
        for (int speed = 0; speed < 4; ++speed) {
            const Step& st = bySpeed[static_cast<std::size_t>(speed)][i];
            const Modelled t = Model(st, polls[static_cast<std::size_t>(speed)], kTypical);
            const Modelled x = Model(st, polls[static_cast<std::size_t>(speed)], kMaximum);
            det.Row({st.label, kSpeedNames[speed], Thousands(st.run.accesses), Seconds(t.outside),
                     t.waits > 0 ? Seconds(t.waits) : "—", t.chip > 0 ? Seconds(t.chip) : "—",
                     Seconds(t.total), Percent(t.waits, t.total),
                     st.payloadWords + st.saveBytes > 0 ? Seconds(t.floor) : "—",
                     x.fails ? "fails" : Seconds(x.total)});
        }
    }
    std::fprintf(out,
                 "Where the time goes, typical chip times. **accesses outside the waits**: every port "
                 "access but the status polls of the chip waits, at %.0f µs each. **waiting for the "
                 "chips**: the waits after each buffer program and block erase, the polls inside them "
                 "included; it exceeds the chips' busy time by the rounding up to whole polls. **floor**: "
                 "the chips' busy time plus one access per flash word programmed or read from the array "
                 "(every pass counted) or per save byte moved: what a link with no overhead at all would "
                 "still cost.\n\n",
                 kPortAccessSeconds * 1e6);
    det.Print(out);

    // Poll periods and the budgets in time.
    Table pt({"Cart", "Speed", "status poll after a buffer program", "polls per typical program",
              "poll for the end of an erase", "polls per typical erase", "erase poll budget (524,288 polls)",
              "program wait budget (16,384 polls)"});
    for (const auto* set : {&polls, &singlePolls}) {
        for (int speed = 0; speed < 4; ++speed) {
            const PollPeriods& pp = (*set)[static_cast<std::size_t>(speed)];
            const double eraseBudget = static_cast<double>(pp.erase) * kPortAccessSeconds * kEraseBudget;
            const double progBudget = static_cast<double>(pp.program) * kPortAccessSeconds * kReadyBudget;
            const long long erasePolls = PollsFor(kTypical.blockErase, pp.erase);
            pt.Row({set == &polls ? "interleaved pair" : "single chip", kSpeedNames[speed],
                    std::to_string(pp.program) + " accesses",
                    Thousands(PollsFor(kTypical.bufferProgram, pp.program)),
                    std::to_string(pp.erase) + " accesses",
                    Thousands(erasePolls) + " (" + Percent(static_cast<double>(erasePolls), kEraseBudget) +
                        " of the budget)",
                    Seconds(eraseBudget), Seconds(progBudget)});
        }
    }
    std::fprintf(out,
                 "Poll periods (a pair: both chips' status read in each poll; single chip: `%s`) and what "
                 "the poll budgets, which count polls, come to in time. An erase that takes longer than "
                 "its budget is reported as failed although the chip would have finished.\n\n",
                 single);
    pt.Print(out);

    // Identification on blank carts and on carts holding a game.
    const auto game = MakeImage(1u << 20, 33);
    Table id({"Cart", "state", "speed \"4\"", "speed \"3\"", "speed \"2\"", "speed \"1\" (SPP)"});
    for (const char* m : {model, single}) {
        for (bool holding : {false, true}) {
            std::vector<std::string> row = {m, holding ? "holding a game" : "blank"};
            for (int speed = 0; speed < 4; ++speed) {
                const long long n = IdentifyAccesses(m, {false, speed}, holding ? &game : nullptr);
                row.push_back(n < 0 ? "failed" : Thousands(n));
            }
            id.Row(row);
        }
    }
    std::fprintf(out,
                 "Port accesses of adapter detection and identification, on a blank cart and on one "
                 "holding a game (1 µs each):\n\n");
    id.Print(out);

    // The story in numbers.
    auto find = [](const std::vector<Step>& v, const char* label) -> const Step* {
        for (const Step& st : v)
            if (st.label == label) return &st;
        return nullptr;
    };
    std::string wv, wvRound, shares;
    std::vector<int> chipSpeeds, portSpeeds;
    for (int speed = 0; speed < 4; ++speed) {
        const Step* st = find(bySpeed[static_cast<std::size_t>(speed)], "write + verify");
        if (!st) continue;
        const Modelled t = Model(*st, polls[static_cast<std::size_t>(speed)], kTypical);
        const Modelled r = Model(*st, polls[static_cast<std::size_t>(speed)], kRound);
        const std::string sep = speed ? " / " : "";
        wv += sep + Seconds(t.total);
        wvRound += sep + Seconds(r.total);
        shares += sep + Percent(t.waits, t.total);
        (t.waits >= t.total / 2 ? chipSpeeds : portSpeeds).push_back(speed);
    }
    const Step* wv4 = find(steps4, "write + verify");
    const Step* blank4 = find(steps4, "write + verify, skip unchanged, blank cart");
    const Step* same4 = find(steps4, "write + verify, skip unchanged, same image");
    const Step* idBlank = find(steps4, "identification, blank cart");
    const Step* idGame = find(steps4, "identification, cart holding a game");
    if (wv4 && blank4 && same4 && idBlank && idGame) {
        const Modelled w = Model(*wv4, polls[0], kTypical);
        const Modelled bl = Model(*blank4, polls[0], kTypical);
        const Modelled sm = Model(*same4, polls[0], kTypical);
        std::fprintf(out, "What this says:\n\n");
        std::fprintf(out,
                     "- A %zu MiB write with verify takes %s at speeds \"4\" / \"3\" / \"2\" / \"1\". "
                     "Waiting for the chips (%s of erases and %s of buffer programs, rounded up to whole "
                     "polls) is %s of it: the chips dominate at %s, the port accesses at %s. "
                     "With a round 200 µs per buffer program the same model gives %s.\n",
                     bytes >> 20, wv.c_str(),
                     Seconds(static_cast<double>(wv4->eraseWaits) * kTypical.blockErase).c_str(),
                     Seconds(static_cast<double>(wv4->programWaits) * kTypical.bufferProgram).c_str(),
                     shares.c_str(), SpeedList(chipSpeeds).c_str(), SpeedList(portSpeeds).c_str(),
                     wvRound.c_str());
        std::fprintf(out,
                     "- Its floor, the chips' time plus one access per word programmed and read back "
                     "twice, is %s at any speed; speed \"4\" comes within %s of it.\n",
                     Seconds(w.floor).c_str(), Seconds(w.total - w.floor).c_str());
        // Skip unchanged on a blank cart against a normal write, speed by speed.
        std::string skipTimes, normalTimes;
        std::vector<int> slower;
        for (int speed = 0; speed < 4; ++speed) {
            const auto& v = bySpeed[static_cast<std::size_t>(speed)];
            const Step* n = find(v, "write + verify");
            const Step* k = find(v, "write + verify, skip unchanged, blank cart");
            if (!n || !k) continue;
            const double tn = Model(*n, polls[static_cast<std::size_t>(speed)], kTypical).total;
            const double tk = Model(*k, polls[static_cast<std::size_t>(speed)], kTypical).total;
            const std::string sep = speed ? " / " : "";
            skipTimes += sep + Seconds(tk);
            normalTimes += sep + Seconds(tn);
            if (tk >= tn) slower.push_back(speed);
        }
        std::fprintf(out,
                     "- With \"Skip unchanged blocks\" a new or erased cart is written without a single "
                     "erase (%s erases counted). Each chunk is read first to find it blank, so the write "
                     "with verify takes %s at speeds \"4\" / \"3\" / \"2\" / \"1\" against %s for a "
                     "normal one%s. Rewriting the same game takes %s at speed \"4\", reading only.\n",
                     Thousands(blank4->eraseWaits).c_str(), skipTimes.c_str(), normalTimes.c_str(),
                     slower.empty() ? ""
                                    : ("; at " + SpeedList(slower) +
                                       " that read costs more than the erases save, since reading is slow "
                                       "there")
                                          .c_str(),
                     Seconds(sm.total).c_str());
        std::fprintf(out,
                     "- Identification of this cart costs %s port accesses when it is blank and %s when "
                     "it holds a game: its first ready wait polls one chip only, but reads word 1, which "
                     "on an interleaved cart is the second chip, still in read-array mode; there a game "
                     "holds part of the branch it starts with, whose low byte lacks the ready bit, so the "
                     "wait runs its whole budget of 16,384 polls. That is %s at speed \"4\" at the start of "
                     "every write, backup and erase of such "
                     "a cart; a single-chip cart answers at once.\n",
                     Thousands(idBlank->run.accesses).c_str(), Thousands(idGame->run.accesses).c_str(),
                     Seconds(static_cast<double>(idGame->run.accesses) * kPortAccessSeconds).c_str());
        const PollPeriods& sp = singlePolls[0];
        std::fprintf(
            out,
            "- The erase poll budget counts polls, not time: at speed \"4\" it lasts %s on this "
            "cart and %s on a single chip, where a typical erase of %.1f s already takes %s of "
            "it. An erase slower than that, which the datasheet allows up to %.1f s, ends the "
            "write or erase with an error although the chip would have finished.\n\n",
            Seconds(static_cast<double>(polls[0].erase) * kPortAccessSeconds * kEraseBudget).c_str(),
            Seconds(static_cast<double>(sp.erase) * kPortAccessSeconds * kEraseBudget).c_str(),
            kTypical.blockErase,
            Percent(static_cast<double>(PollsFor(kTypical.blockErase, sp.erase)), kEraseBudget).c_str(),
            kMaximum.blockErase);
        b.realSkipBlankErases = blank4->eraseWaits;
        b.realWriteVerify4 = w.total;
        b.realSkipBlank4 = bl.total;
    }
}

}  // namespace rombolt::bench
