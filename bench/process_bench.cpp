// The programs as a user runs them, on a simulated 32 MiB cart: `rombolt`
// writing and verifying a 32 MiB image, and the window program starting up on
// the cart. This tree's programs run alternately with those of an earlier
// commit (scripts/bench builds both), on the same files, in one run.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "bench_sections.h"

namespace rombolt::bench {

namespace {

namespace fs = std::filesystem;

struct ProcessCost {
    bool ok = false;
    double cpu = 0;   // user + system, seconds
    double wall = 0;  // seconds
    double peakMiB = 0;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; }

// Starts argv in `dir` (where the window keeps its config.sav) with its
// output going nowhere and `env` added to the environment.
pid_t Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& dir) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    for (const std::string& e : env) ::putenv(::strdup(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

ProcessCost Reap(pid_t pid, bool mustSucceed) {
    ProcessCost c;
    int status = 0;
    rusage ru{};
    if (::wait4(pid, &status, 0, &ru) != pid) return c;
    c.ok = !mustSucceed || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    c.cpu = Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
    c.peakMiB = static_cast<double>(ru.ru_maxrss) / 1024.0;
    return c;
}

ProcessCost RunToEnd(const std::vector<std::string>& argv, const std::string& dir) {
    const double start = WallSeconds();
    ProcessCost c = Reap(Start(argv, {}, dir), true);
    c.wall = WallSeconds() - start;
    return c;
}

// CPU clock ticks a running process has used, from /proc; -1 when gone.
long CpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long ticks = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int n = 3; n <= 15 && fields >> field; ++n)
        if (n >= 14) ticks += std::stol(field);
    return ticks;
}

// Starts a program that runs until it is ended (the window) and ends it once
// it has been idle for a while: its start-up. The wall time runs to the last
// CPU tick it used.
ProcessCost StartUp(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& dir) {
    const double start = WallSeconds();
    const pid_t pid = Start(argv, env, dir);
    long last = 0;
    double lastChange = start;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const long ticks = CpuTicks(pid);
        const double now = WallSeconds();
        if (ticks < 0) break;  // it ended by itself: a failed start
        if (ticks != last) {
            last = ticks;
            lastChange = now;
        } else if (ticks > 0 && now - lastChange > 0.7) {
            ::kill(pid, SIGKILL);
            ProcessCost c = Reap(pid, false);
            c.ok = true;
            c.wall = lastChange - start;
            return c;
        }
        if (now - start > 60) break;
    }
    ::kill(pid, SIGKILL);
    Reap(pid, false);
    return {};
}

struct Series {
    std::vector<ProcessCost> runs;
    bool ok = true;
    double Median(double ProcessCost::*field) const {
        std::vector<double> v;
        for (const ProcessCost& c : runs) v.push_back(c.*field);
        std::sort(v.begin(), v.end());
        if (v.empty()) return 0;
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }
    std::string Text(double ProcessCost::*field, int decimals, const char* unit) const {
        std::vector<double> v;
        for (const ProcessCost& c : runs) v.push_back(c.*field);
        if (v.empty()) return "—";
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        return Fixed(Median(field), decimals) + unit + " (" + Fixed(*lo, decimals) + "–" +
               Fixed(*hi, decimals) + ")";
    }
    void Add(const ProcessCost& c) {
        ok = ok && c.ok;
        runs.push_back(c);
    }
};

// The cart as every run starts it: the template's files copied over the cart's.
void ResetCart(const std::string& from, const std::string& to) {
    for (const char* name : {"cart.ini", "flash.bin", "save.bin"})
        fs::copy_file(from + "/" + name, to + "/" + name, fs::copy_options::overwrite_existing);
}

}  // namespace

void RunProcessSection(std::FILE* out, const BenchOptions& given, Budgets& b) {
    // The programs run in the scratch folder: their names must not be relative.
    BenchOptions opt = given;
    for (std::string* path : {&opt.cli, &opt.window, &opt.oldCli, &opt.oldWindow})
        if (!path->empty()) *path = fs::absolute(*path).string();
    const bool haveOld = !opt.oldCli.empty() && fs::exists(opt.oldCli);
    if (opt.cli.empty() || !fs::exists(opt.cli)) {
        std::fprintf(stderr, "bench: no rombolt program given (--cli): the process section is left out\n");
        return;
    }
    const std::size_t bytes = 32u << 20;
    const std::string image = opt.workDir + "/process.gba";
    WriteFile(image, MakeImage(bytes, 17));
    const std::string cart = opt.workDir + "/process_cart";
    const std::string& dir = opt.workDir;
    const int rounds = opt.quick ? 3 : 5;

    // Each program starts from a cart it made itself: the cart's settings
    // file gained keys that older programs do not know.
    struct Program {
        std::string label;
        std::string cli, window, cartTemplate;
        Series write, startUp;
    };
    std::vector<Program> programs = {{"this tree", opt.cli, opt.window, dir + "/process_template", {}, {}}};
    if (haveOld)
        programs.push_back(
            {"commit " + opt.oldCommit, opt.oldCli, opt.oldWindow, dir + "/process_template_old", {}, {}});
    bool made = RunToEnd({opt.cli, "sim", "create", cart, "--model", "strata-256M", "--save", "64K"}, dir).ok;
    for (const Program& p : programs)
        made =
            made &&
            RunToEnd({p.cli, "sim", "create", p.cartTemplate, "--model", "strata-256M", "--save", "64K"}, dir)
                .ok;
    if (!made) {
        std::fprintf(stderr, "bench: cannot make the simulated cart\n");
        return;
    }
    const std::vector<std::string> offscreen = {"QT_QPA_PLATFORM=offscreen"};
    for (int round = 0; round < rounds; ++round) {
        for (Program& p : programs) {
            ResetCart(p.cartTemplate, cart);
            p.write.Add(RunToEnd({p.cli, "--sim", cart, "--verify", "-q", "write", image}, dir));
            if (!p.window.empty() && fs::exists(p.window))
                p.startUp.Add(StartUp({p.window, "--sim", cart}, offscreen, dir));
        }
    }

    std::fprintf(out, "## The programs as a whole on a simulated 32 MiB cart\n\n");
    std::fprintf(
        out,
        "`rombolt --sim DIR --verify -q write IMAGE` of a 32 MiB image into a simulated `strata-256M` "
        "with 64 KiB of save memory, as a whole process from start to exit (loading the cart's "
        "files, the write, the verify, the checksums and the write-back); and `rombolt-writer --sim DIR` "
        "on the same cart (a 32 MiB `flash.bin`), from start until it is idle, on Qt's offscreen "
        "platform. Each ran %d times, this tree's programs alternating with those built from commit %s; "
        "medians, with the range in parentheses. CPU time is user plus system time; peak memory the "
        "largest resident set.\n\n",
        rounds, haveOld ? opt.oldCommit.c_str() : "(none given)");
    Table t({"Program", "built from", "CPU time", "wall time", "peak memory", "result"});
    for (const Program& p : programs) {
        t.Row({"`rombolt` write with verify", p.label, p.write.Text(&ProcessCost::cpu, 2, " s"),
               p.write.Text(&ProcessCost::wall, 2, " s"), p.write.Text(&ProcessCost::peakMiB, 1, " MiB"),
               p.write.ok ? "exit 0" : "**failed**"});
        if (!p.startUp.runs.empty())
            t.Row({"`rombolt-writer` start-up", p.label, p.startUp.Text(&ProcessCost::cpu, 2, " s"),
                   p.startUp.Text(&ProcessCost::wall, 2, " s"),
                   p.startUp.Text(&ProcessCost::peakMiB, 1, " MiB"),
                   p.startUp.ok ? "idle" : "**did not start**"});
    }
    t.Print(out);

    // Budgets: CPU time at most 0.6 of the earlier program's, memory at most
    // one copy of the cart and one of the image.
    const Program& now = programs[0];
    const double limitMiB = 2.0 * bytes / (1 << 20);
    const double peak = now.write.Median(&ProcessCost::peakMiB);
    b.extra.push_back({"`rombolt` 32 MiB write with verify on a simulated cart, peak memory",
                       "one cart and one image: " + Fixed(limitMiB, 0) + " MiB", Fixed(peak, 1) + " MiB",
                       now.write.ok && peak <= limitMiB});
    if (!haveOld) return;
    const Program& before = programs[1];
    const double cpuNow = now.write.Median(&ProcessCost::cpu);
    const double cpuBefore = before.write.Median(&ProcessCost::cpu);
    b.extra.push_back(
        {"`rombolt` 32 MiB write with verify on a simulated cart, CPU time of the whole process",
         "0.6 × commit " + opt.oldCommit + "'s (" + Fixed(cpuBefore, 2) + " s)",
         Fixed(cpuNow, 2) + " s (" + Fixed(cpuNow / cpuBefore, 2) + " ×)",
         now.write.ok && before.write.ok && cpuNow <= 0.6 * cpuBefore});
    if (now.startUp.runs.empty() || before.startUp.runs.empty()) return;
    const double startNow = now.startUp.Median(&ProcessCost::cpu);
    const double startBefore = before.startUp.Median(&ProcessCost::cpu);
    const double memNow = now.startUp.Median(&ProcessCost::peakMiB);
    const double memBefore = before.startUp.Median(&ProcessCost::peakMiB);
    b.extra.push_back(
        {"`rombolt-writer` start-up on an existing 32 MiB simulated cart, CPU time and peak memory",
         "below commit " + opt.oldCommit + "'s (" + Fixed(startBefore, 2) + " s, " + Fixed(memBefore, 1) +
             " MiB)",
         Fixed(startNow, 2) + " s, " + Fixed(memNow, 1) + " MiB",
         now.startUp.ok && before.startUp.ok && startNow < startBefore && memNow < memBefore});
}

}  // namespace rombolt::bench
