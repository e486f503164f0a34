// The benchmark's sections. Each prints its markdown tables to `out` and
// records what the budget summary needs in Budgets.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "bench_support.h"

namespace rombolt::bench {

struct BenchOptions {
    bool big = true;      // the 32 MiB write with verify
    bool quick = false;   // fewer repetitions and smaller images
    std::string workDir;  // scratch files
    // The built programs, and those of an earlier commit to compare with
    // (the process section; scripts/bench builds and names them).
    std::string cli, window, oldCli, oldWindow, oldCommit;
};

// The four forms the link can take once detection has run. An EPP port at
// speed "1" and an SPP-only port at any speed both end up in SPP.
enum class LinkMode { Spp, Epp4, Epp3, Epp2 };
inline constexpr LinkMode kLinkModes[] = {LinkMode::Epp4, LinkMode::Epp3, LinkMode::Epp2, LinkMode::Spp};
LinkMode ModeOf(const PortSetting& p);
const char* ModeName(LinkMode m);
// SppMode and SpeedIndex as detection leaves them for that form.
void ApplyLinkMode(AppState& s, LinkMode m);

// The operations the benchmark measures, in the order a session runs them.
enum class Op { Identify, Write, WriteVerify, Verify, Backup, SaveBackup, SaveRestore, Erase };
inline constexpr Op kOps[] = {Op::Identify, Op::Write,      Op::WriteVerify, Op::Verify,
                              Op::Backup,   Op::SaveBackup, Op::SaveRestore, Op::Erase};
const char* OpName(Op op);

struct Budgets {
    double linkWorstNs = 0;  // worst host time per access over the answering back end
    std::string linkWorstWhere;
    double bigWall4 = -1;  // 32 MiB write with verify at speed "4", seconds
    double bigWall1 = -1;
    long long worstStretch = 0;  // longest run of accesses between pumps, any operation
    std::string worstStretchWhere;
    long long worstStretchOver = -(1LL << 62);  // accesses above the budget (<= 0: within)
    std::vector<std::string> stretchMisses;
    double worstBusyAllocsPer1000 = 0;
    std::string worstBusyAllocsWhere;
    double worstBusyLogsPer1000 = 0;
    long long linkLoopAllocations = 0;  // allocations inside the link-only loops
    // Real-cart model: block erases of a skip-unchanged write to a blank cart
    // (-1: not run), and the modelled times at speed "4" of a normal write
    // with verify and of that skip-unchanged one, seconds.
    long long realSkipBlankErases = -1;
    double realWriteVerify4 = 0;
    double realSkipBlank4 = 0;
    // Rows a section adds to the summary as they are: budget, limit, measured, kept.
    struct Row {
        std::string budget, limit, measured;
        bool kept = false;
    };
    std::vector<Row> extra;
};

struct LinkResults {
    // Host ns per access of an operation's transfer routines over the
    // answering back end, by (operation, interleaved, mode).
    std::map<std::tuple<Op, bool, LinkMode>, double> opNs;
    // Accesses of one 32 KiB chunk read, by mode.
    std::map<LinkMode, long long> chunkAccesses;
    // Longest stretch between pumps in 1024 polls of the costliest poll loop
    // (waiting for a free write buffer), by (mode, interleaved).
    std::map<std::pair<LinkMode, bool>, long long> pollAccesses;
    long long StretchBudget(LinkMode m, bool interleaved) const;
};

// Runs the transfer routines of one operation (`chunks` chunks of 32 KiB,
// eight save units, or the blocks of `chunks` chunks) on whatever s.Port is.
// Over an answering back end they all succeed; false when one reported a
// failure (the back end then does not answer as expected).
bool RunTransfers(AppState& s, Op op, int chunks);

LinkResults RunLinkSection(std::FILE* out, const BenchOptions& opt, Budgets& b);
void RunOpsSection(std::FILE* out, const BenchOptions& opt, const LinkResults& link, Budgets& b);
void RunBigSection(std::FILE* out, const BenchOptions& opt, Budgets& b);
void RunBackendSection(std::FILE* out, const BenchOptions& opt, Budgets& b);
void RunSkipSection(std::FILE* out, const BenchOptions& opt, Budgets& b);
void RunRealSection(std::FILE* out, const BenchOptions& opt, Budgets& b);
void RunProcessSection(std::FILE* out, const BenchOptions& opt, Budgets& b);

}  // namespace rombolt::bench
