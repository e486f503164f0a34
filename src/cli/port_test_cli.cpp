#include "cli/port_test_cli.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "core/frontend.h"
#include "core/visible_text.h"
#include "ops/port_test.h"
#include "port/direct_io.h"
#include "port/port_list.h"
#include "port/port_lock.h"
#include "port/port_open.h"
#include "port/ppdev.h"
#include "sim/sim_port.h"

namespace rombolt::cli {

namespace {

namespace fs = std::filesystem;

void Print(const std::string& line) { std::printf("%s\n", VisibleText(line).c_str()); }

int Report(std::vector<PortCheck> checks) {
    for (const auto& c : checks) Print(PortCheckLine(c));
    Print(PortTestAdvice(checks));
    return PortTestPassed(checks) ? 0 : 1;
}

PortCheck Access(bool ok, std::string detail, std::string fix = {}) {
    PortCheck c;
    c.name = "access";
    c.result = ok ? PortCheck::Result::Ok : PortCheck::Result::Failed;
    c.detail = std::move(detail);
    c.fix = std::move(fix);
    return c;
}

// Access failed: the later checks have nothing to run on.
int AccessFailed(std::string detail, std::string fix) {
    std::vector<PortCheck> checks = {Access(false, std::move(detail), std::move(fix))};
    for (const char* name : {"port", "mode", "adapter", "cart"}) {
        PortCheck c;
        c.name = name;
        c.detail = "no access";
        checks.push_back(c);
    }
    return Report(checks);
}

// The kernel's facts about the port the backend drives.
void KernelFacts(const PortBackend& backend, int base, PortFacts& f) {
    const auto* pp = dynamic_cast<const PpdevPort*>(&backend);
    f.ppdev = pp != nullptr;
    for (const auto& p : ListParallelPorts()) {
        if ((pp && p.device == pp->Device()) || (!pp && p.base == base)) {
            f.kernelListed = true;
            f.kernelModes = p.modes;
        }
    }
    if (const auto* d = dynamic_cast<const DirectIoPort*>(&backend)) {
        const std::string name = d->Name();
        const auto open = name.find(" (ECP port");
        if (open != std::string::npos) f.ecr = name.substr(open + 2, name.size() - open - 3);
    }
}

}  // namespace

int RunPortTest(const Options& o) {
    auto state = std::make_unique<AppState>();
    AppState& s = *state;
    SilentFrontend quiet;
    s.UI = &quiet;
    std::error_code ec;
    const std::string cwd = fs::current_path(ec).string();
    s.Config = DefaultConfig(cwd);
    s.ConfigPath = ConfigPath(cwd);
    s.ConfigWritable = false;
    if (fs::exists(s.ConfigPath, ec)) LoadConfig(s);
    if (o.speedIndex) s.Config.SpeedIndex = static_cast<std::int8_t>(*o.speedIndex);

    PortLock lock;
    std::unique_ptr<PortBackend> backend;
    PortFacts facts;
    std::string accessDetail;
    if (o.simDir) {
        std::string error;
        if (fs::is_directory(*o.simDir, ec) && !lock.Acquire(*o.simDir, error))
            return AccessFailed("simulated cart in " + *o.simDir + ": " + error,
                                "close the other program using it, then try again");
        auto sim = SimPort::Open(*o.simDir, error);
        if (!sim)
            return AccessFailed("simulated cart " + *o.simDir + ": " + error,
                                "make one with `rombolt sim create DIR --model MODEL`");
        backend = std::move(sim);
        facts.simulated = true;
        accessDetail = "simulated cart in " + *o.simDir;
    } else {
        const int configBase = PortBaseForIndex(s.Config.PortIndex);
        OpenedPort p = OpenHardwarePort(o.port.value_or(""), configBase);
        const int base = p.base != 0 ? p.base : configBase;
        if (!p.message.empty())
            return AccessFailed("the port at " + HexAddress(base) + " cannot be opened", p.message);
        std::string busy;
        if (!lock.Acquire(PortLockPath(base), busy))
            return AccessFailed("port " + HexAddress(base) + ": " + busy,
                                "close the other program driving the port, then try again");
        if (p.base != 0) s.PortBaseOverride = p.base;
        backend = std::move(p.backend);
        KernelFacts(*backend, base, facts);
        accessDetail = backend->Name();
        if (!p.warning.empty()) accessDetail += "; " + p.warning;
    }
    s.Port = backend.get();
    ApplyPortSelection(s);
    std::vector<PortCheck> checks = {Access(true, accessDetail)};
    for (auto& c : RunPortChecks(s, facts)) checks.push_back(std::move(c));
    // The simulated cart is left as it was: nothing is written back.
    if (auto* sim = dynamic_cast<SimPort*>(backend.get())) sim->ForgetChanges();
    return Report(checks);
}

}  // namespace rombolt::cli
