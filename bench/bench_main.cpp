// rombolt_bench: measures what the program costs per port access and per
// KiB moved, and checks the performance budgets. Prints markdown on standard
// output (scripts/bench turns it into docs/performance.md); exits with 1 when
// a budget is missed.
//
//   rombolt_bench [--quick] [--no-big] [--only SECTION]... [--cli PATH --window PATH
//                 --old-cli PATH --old-window PATH --old-commit NAME]
//   sections: link, ops, big, real, backends, skip, process
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "bench_sections.h"

using namespace rombolt::bench;

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: rombolt_bench [--quick] [--no-big] [--only SECTION]... [--cli PATH --window PATH\n"
                 "                     --old-cli PATH --old-window PATH --old-commit NAME]\n"
                 "  sections: link, ops, big, real, backends, skip, process\n");
}

// The summary of the budgets; true when all are kept.
bool PrintBudgets(std::FILE* out, const Budgets& b, const std::set<std::string>& ran) {
    bool allKept = true;
    Table t({"Budget", "limit", "measured", "kept"});
    auto verdict = [&](bool kept) {
        allKept = allKept && kept;
        return kept ? "yes" : "**no**";
    };
    if (ran.count("link")) {
        t.Row({"host time per port access, link layer over an answering back end", "5 ns",
               Fixed(b.linkWorstNs, 2) + " ns (worst: " + b.linkWorstWhere + ")",
               verdict(b.linkWorstNs <= 5.0)});
        t.Row({"allocations inside the link-only transfer loops", "0", std::to_string(b.linkLoopAllocations),
               verdict(b.linkLoopAllocations == 0)});
    }
    if (ran.count("big")) {
        t.Row({"simulated 32 MiB write with verify, speed \"4\", wall time", "5 s",
               Fixed(b.bigWall4, 2) + " s", verdict(b.bigWall4 >= 0 && b.bigWall4 < 5.0)});
    }
    if (ran.count("real")) {
        t.Row({"skip-unchanged write with verify to a blank cart: block erases", "0",
               b.realSkipBlankErases < 0
                   ? std::string("not measured")
                   : std::to_string(b.realSkipBlankErases) +
                         " (real-cart model, speed \"4\": " + Fixed(b.realSkipBlank4, 0) + " s against " +
                         Fixed(b.realWriteVerify4, 0) + " s for a normal write with verify)",
               verdict(b.realSkipBlankErases == 0 && b.realSkipBlank4 < b.realWriteVerify4)});
    }
    if (ran.count("ops")) {
        t.Row({"allocations per port access while busy (no allocation per access)", "well below 1",
               Fixed(b.worstBusyAllocsPer1000 / 1000.0, 7) + " (worst: " + b.worstBusyAllocsWhere + ")",
               verdict(b.worstBusyAllocsPer1000 < 1.0)});
        t.Row({"log lines per port access while busy (no logging per access)", "well below 1",
               Fixed(b.worstBusyLogsPer1000 / 1000.0, 7), verdict(b.worstBusyLogsPer1000 < 1.0)});
        t.Row({"longest stretch of port accesses between event pumps",
               "one 32 KiB chunk of transfers or 1024 status polls",
               Thousands(b.worstStretch) + " accesses (" + b.worstStretchWhere + "); " +
                   (b.worstStretchOver > 0 ? "over its budget by up to " + Thousands(b.worstStretchOver)
                                           : "every operation within its budget"),
               verdict(b.worstStretchOver <= 0)});
    }
    for (const Budgets::Row& r : b.extra) t.Row({r.budget, r.limit, r.measured, verdict(r.kept)});
    std::fprintf(out, "## Budgets\n\n");
    t.Print(out);
    if (!b.stretchMisses.empty()) {
        std::fprintf(out, "Stretches over budget:\n\n");
        for (const auto& m : b.stretchMisses) std::fprintf(out, "- %s\n", m.c_str());
        std::fprintf(out, "\n");
    }
    return allKept;
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions opt;
    std::set<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") {
            opt.quick = true;
        } else if (a == "--no-big") {
            opt.big = false;
        } else if (a == "--only" && i + 1 < argc) {
            only.insert(argv[++i]);
        } else if (a == "--cli" && i + 1 < argc) {
            opt.cli = argv[++i];
        } else if (a == "--window" && i + 1 < argc) {
            opt.window = argv[++i];
        } else if (a == "--old-cli" && i + 1 < argc) {
            opt.oldCli = argv[++i];
        } else if (a == "--old-window" && i + 1 < argc) {
            opt.oldWindow = argv[++i];
        } else if (a == "--old-commit" && i + 1 < argc) {
            opt.oldCommit = argv[++i];
        } else {
            Usage();
            return 2;
        }
    }
    auto wanted = [&](const char* name) {
        if (!only.empty()) return only.count(name) != 0;
        return std::strcmp(name, "big") != 0 || opt.big;
    };

    namespace fs = std::filesystem;
    const fs::path work = fs::temp_directory_path() / ("rombolt_bench_" + std::to_string(::getpid()));
    fs::create_directories(work);
    opt.workDir = work.string();

    // The sections write into memory so that the budget summary can come first.
    char* body = nullptr;
    std::size_t bodySize = 0;
    std::FILE* mem = open_memstream(&body, &bodySize);
    Budgets budgets;
    std::set<std::string> ran;
    LinkResults link;
    if (wanted("link") || wanted("ops")) {
        std::fprintf(stderr, "bench: link layer...\n");
        link = RunLinkSection(mem, opt, budgets);
        ran.insert("link");
    }
    if (wanted("ops")) {
        std::fprintf(stderr, "bench: cart operations...\n");
        RunOpsSection(mem, opt, link, budgets);
        ran.insert("ops");
    }
    if (wanted("big")) {
        std::fprintf(stderr, "bench: 32 MiB write with verify...\n");
        RunBigSection(mem, opt, budgets);
        ran.insert("big");
    }
    if (wanted("real")) {
        std::fprintf(stderr, "bench: real-cart model...\n");
        RunRealSection(mem, opt, budgets);
        ran.insert("real");
    }
    if (wanted("skip")) {
        std::fprintf(stderr, "bench: skip unchanged blocks...\n");
        RunSkipSection(mem, opt, budgets);
        ran.insert("skip");
    }
    if (wanted("backends")) {
        std::fprintf(stderr, "bench: port back ends...\n");
        RunBackendSection(mem, opt, budgets);
        ran.insert("backends");
    }
    if (wanted("process")) {
        std::fprintf(stderr, "bench: the programs as a whole...\n");
        RunProcessSection(mem, opt, budgets);
        ran.insert("process");
    }
    std::fclose(mem);

    const bool kept = PrintBudgets(stdout, budgets, ran);
    std::fwrite(body, 1, bodySize, stdout);
    std::free(body);
    std::error_code ec;
    fs::remove_all(work, ec);
    return kept ? 0 : 1;
}
