// The whole cart: a 32 MiB write with verify on strata-256M at speed "4" and
// at speed "1", wall time on this machine.
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
                 "budget at speed \"4\" is 5 s of wall time. The floor counts one access per word for "
                 "each of the three passes (program, read back, second verify pass).\n\n");
    Table t({"Speed", "wall time", "CPU time", "port accesses", "host ns/access", "estimate at 1 µs", "floor",
             "longest stretch between pumps", "result"});
    for (int speed : {0, 3}) {
        SimSession ss("strata-256M", {false, speed});
        ListImage(ss.s, image);
        ss.s.Config.VerifyAfterWrite = 1;
        const RunStats r = Measure(ss, [&] { return WriteClick(ss.s); });
        const double words = static_cast<double>(bytes / 2);
        t.Row({speed == 0 ? "4 (EPP, one 16-bit access per word)" : "1 (SPP cycles)", Fixed(r.wall, 2) + " s",
               Fixed(r.cpu, 2) + " s", Thousands(r.accesses),
               Fixed(r.cpu * 1e9 / static_cast<double>(std::max(1LL, r.accesses)), 2),
               Fixed(static_cast<double>(r.accesses) * 1e-6, 1) + " s", Fixed(3 * words * 1e-6, 1) + " s",
               Thousands(r.maxStretch), r.ok ? "Write To Cart Ok" : "failed"});
        (speed == 0 ? b.bigWall4 : b.bigWall1) = r.ok ? r.wall : 1e9;
    }
    t.Print(out);
}

}  // namespace rombolt::bench
