// What each port back end adds per access: the counting, recording and
// tracing wrappers, and the ppdev back end over a stand-in device behind the
// platform seam, next to the cost of entering the kernel once.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
// The ppdev header needs the ioctl number macros above.
#include <linux/parport.h>
#include <linux/ppdev.h>

#include <memory>

#include "app/app_state.h"
#include "bench_sections.h"
#include "port/platform.h"
#include "port/ppdev.h"
#if ROMBOLT_BENCH_TRACE
#include "port/trace_port.h"
#endif

namespace rombolt::bench {

namespace {

// A parallel port device that answers the ppdev calls at once, the way the
// answering back end does: control writes remembered for the SPP nibble
// reads, every EPP read 0x80. No system call is made.
class InstantPlatform final : public Platform {
public:
    int IoPerm(unsigned long, unsigned long, bool) override { return 0; }
    int IoPl(int) override { return 0; }
    PortBackend& PortInstructions() override { return none_; }
    bool ReadFile(const std::string&, std::string&) override { return false; }
    std::vector<std::string> ListDir(const std::string&) override { return {}; }
    std::string ReadLink(const std::string&) override { return {}; }
    bool Stat(const std::string&, FileStatus&) override { return false; }
    bool InGroup(unsigned) override { return false; }
    int Open(const std::string&, int) override { return 3; }
    int IoctlWithin(int fd, unsigned long request, void* arg, unsigned) override {
        return Ioctl(fd, request, arg);
    }
    int Ioctl(int, unsigned long request, void* arg) override {
        ++calls;
        auto* byte = static_cast<unsigned char*>(arg);
        switch (request) {
            case PPGETMODES:
                *static_cast<unsigned*>(arg) = PARPORT_MODE_PCSPP | PARPORT_MODE_EPP;
                break;
            case PPWCONTROL:
                ctl_ = *byte;
                break;
            case PPRSTATUS:
                *byte = ctl_ == 0x06 ? 0x40 : 0x00;
                break;
            case PPRCONTROL:
                *byte = ctl_;
                break;
            case PPRDATA:
                *byte = 0x80;
                break;
            default:
                break;
        }
        return 0;
    }
    long Read(int, void* buf, std::size_t) override {
        ++calls;
        *static_cast<unsigned char*>(buf) = 0x80;
        return 1;
    }
    long Write(int, const void*, std::size_t) override {
        ++calls;
        return 1;
    }
    int Close(int) override { return 0; }
    void SleepMicroseconds(unsigned) override {}

    long long calls = 0;

private:
    unsigned char ctl_ = 0;
    NullPort none_;
};

struct Measured {
    Spread ns;
    long long allocations = 0;
};

// Write with verify of `chunks` chunks on a single chip over `port`, `reps` runs.
Measured Run(PortBackend& port, LinkMode m, int chunks, int reps, long long accesses) {
    Measured res;
    std::vector<double> ns;
    for (int r = 0; r < reps; ++r) {
        auto state = std::make_unique<AppState>();
        AppState& s = *state;
        BenchFrontend ui(s, [] { return 0LL; });
        s.Port = &port;
        s.UI = &ui;
        ApplyPortSelection(s);
        ApplyLinkMode(s, m);
        s.StopRequested = 0;
        s.ChunkBuffer.bytes.fill(0x80);
        const long long a0 = AllocationCount();
        const double t0 = CpuSeconds();
        if (!RunTransfers(s, Op::WriteVerify, chunks)) std::fprintf(stderr, "bench: back end run failed\n");
        const double t = CpuSeconds() - t0;
        res.allocations = AllocationCount() - a0;
        ns.push_back(t * 1e9 / static_cast<double>(accesses));
    }
    res.ns = SpreadOf(ns);
    return res;
}

}  // namespace

void RunBackendSection(std::FILE* out, const BenchOptions& opt, Budgets& b) {
    (void)b;
    const int chunks = opt.quick ? 2 : 8;
    const int reps = opt.quick ? 2 : 5;

    std::fprintf(out, "## Port back ends\n\n");
    std::fprintf(out,
                 "The transfer routines of a write with verify (%d chunks, single chip) over each back "
                 "end; host ns per port access (median of %d runs, range in parentheses), what the median "
                 "adds to that of the bare answering back "
                 "end, and allocations per 1000 accesses.\n\n",
                 chunks, reps);
    Table t(
        {"Back end", "Mode", "host ns/access", "added ns/access", "allocations per 1000 accesses", "notes"});
    for (LinkMode m : {LinkMode::Epp4, LinkMode::Spp}) {
        ReadyFlashPort bare;
        {
            auto state = std::make_unique<AppState>();
            BenchFrontend ui(*state, [] { return 0LL; });
            state->Port = &bare;
            state->UI = &ui;
            ApplyPortSelection(*state);
            ApplyLinkMode(*state, m);
            state->StopRequested = 0;
            state->ChunkBuffer.bytes.fill(0x80);
            RunTransfers(*state, Op::WriteVerify, chunks);
        }
        const long long accesses = bare.count;
        const double per1000 = 1000.0 / static_cast<double>(accesses);
        auto row = [&](const std::string& name, const Measured& r, double base, const std::string& note) {
            t.Row({name, ModeName(m), FixedSpread(r.ns, 2), Fixed(r.ns.median - base, 2),
                   Fixed(static_cast<double>(r.allocations) * per1000, 4), note});
        };

        ReadyFlashPort plain;
        const Measured base = Run(plain, m, chunks, reps, accesses);
        row("answering back end alone", base, base.ns.median, "the link layer's own cost");

        ReadyFlashPort inner1;
        CountingPort counting(inner1);
        row("counting wrapper", Run(counting, m, chunks, reps, accesses), base.ns.median,
            "one more virtual call");

        ReadyFlashPort inner2;
        {
            RecordingPort recording(inner2);
            const Measured r = Run(recording, m, chunks, 1, accesses);
            row("recording wrapper (tests)", r, base.ns.median,
                Thousands(static_cast<long long>(recording.log.size())) + " accesses kept in memory");
        }

#if ROMBOLT_BENCH_TRACE
        ReadyFlashPort inner3;
        std::FILE* sink = std::fopen("/dev/null", "w");
        if (sink) {
            TracePort trace(inner3, sink);
            row("trace to a file (`--trace`)", Run(trace, m, chunks, reps, accesses), base.ns.median,
                "one text line per access, written to /dev/null");
        }
#endif

        InstantPlatform platform;
        std::string message;
        auto ppdev = PpdevPort::Open(platform, "/dev/parport0", 0x378, message);
        if (ppdev) {
            platform.calls = 0;
            const Measured r = Run(*ppdev, m, chunks, reps, accesses);
            const double callsPerAccess = static_cast<double>(platform.calls) / static_cast<double>(reps) /
                                          static_cast<double>(accesses);
            row("ppdev, device answered in user space", r, base.ns.median,
                Fixed(callsPerAccess, 2) + " device calls per access; each is a system call on a real port");
        }
    }

    // One real system call per device call is what ppdev costs on top.
    const int fd = ::open("/dev/null", O_RDONLY);
    if (fd >= 0) {
        Platform& sys = SystemPlatform();
        const int n = opt.quick ? 100000 : 1000000;
        std::vector<double> ns;
        for (int r = 0; r < 3; ++r) {
            unsigned char v = 0;
            const double t0 = CpuSeconds();
            for (int i = 0; i < n; ++i) sys.Ioctl(fd, PPRSTATUS, &v);
            ns.push_back((CpuSeconds() - t0) * 1e9 / n);
        }
        ::close(fd);
        t.Row({"kernel entry: one `ioctl` (refused by /dev/null)", "—", FixedSpread(SpreadOf(ns), 1), "—",
               "0", "the least a ppdev device call costs before the port driver does any work"});
    }
    t.Print(out);
    std::fprintf(out,
                 "Direct I/O (`ioperm` and the processor's port instructions) cannot be measured here "
                 "without a port; on top of the instruction it adds a range and thread check per "
                 "access.\n\n");
}

}  // namespace rombolt::bench
