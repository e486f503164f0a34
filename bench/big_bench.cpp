// The whole cart: a 32 MiB write with verify on strata-256M at speed "4" and
// at speed "1", wall time on this machine.
#include <vector>

#include "bench_sections.h"
#include "ops/commands.h"
#include "sim_session.h"

namespace rombolt::bench {

void RunBigSection(std::FILE* out, const BenchOptions& opt, Budgets& b) {
    const std::size_t bytes = 32u << 20;
    const std::string image = opt.workDir + "/whole.gba";
    WriteFile(image, MakeImage(bytes, 11));

    std::fprintf(out, "## 32 MiB write with verify\n\n");
    std::fprintf(out,
                 "\"Write Flash\" with \"Verify\" on of a 32 MiB image into a simulated `strata-256M` "
                 "on an EPP port, the whole command from detection to the elapsed-time line. The "
                 "budget at speed \"4\" is 5 s of wall time, for the median of %d runs (their range in "
                 "parentheses). The estimate and the floor count port accesses only (the floor one access "
                 "per word for each of the three passes: program, read back, second verify pass); the "
                 "next section adds the chips' own time.\n\n",
                 opt.quick ? 1 : 3);
    Table t({"Speed", "wall time", "CPU time", "port accesses", "host ns/access", "estimate at 1 µs", "floor",
             "longest stretch between pumps", "result"});
    for (int speed : {0, 3}) {
        // Speed "4" carries the budget: several runs, each on a fresh cart.
        const int runs = speed == 0 && !opt.quick ? 3 : 1;
        std::vector<double> wall, cpu;
        RunStats r;
        bool ok = true;
        for (int k = 0; k < runs; ++k) {
            SimSession ss("strata-256M", {false, speed});
            ListImage(ss.s, image);
            ss.s.Config.VerifyAfterWrite = 1;
            r = Measure(ss, [&] { return WriteClick(ss.s); });
            ok = ok && r.ok;
            wall.push_back(r.wall);
            cpu.push_back(r.cpu);
        }
        const Spread w = SpreadOf(wall);
        const Spread c = SpreadOf(cpu);
        auto shown = [](const Spread& s) { return FixedSpread(s, 2) + " s"; };
        const double words = static_cast<double>(bytes / 2);
        t.Row({speed == 0 ? "4 (EPP, one 16-bit access per word)" : "1 (SPP cycles)", shown(w), shown(c),
               Thousands(r.accesses),
               Fixed(c.median * 1e9 / static_cast<double>(std::max(1LL, r.accesses)), 2),
               Fixed(static_cast<double>(r.accesses) * 1e-6, 1) + " s", Fixed(3 * words * 1e-6, 1) + " s",
               Thousands(r.maxStretch), ok ? "Write To Cart Ok" : "failed"});
        (speed == 0 ? b.bigWall4 : b.bigWall1) = ok ? w.median : 1e9;
    }
    t.Print(out);
}

}  // namespace rombolt::bench
