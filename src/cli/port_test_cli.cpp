#include "cli/port_test_cli.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/config.h"
#include "app/port_session.h"
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

    // Opened as every command opens the cart: the lock first, then the port.
    PortRequest request;
    if (o.simDir) request.simDir = *o.simDir;
    if (o.port) request.port = *o.port;
    if (o.trace) request.trace = *o.trace;
    request.unlistedPort = o.unlistedPort;
    const int configBase = PortBaseForIndex(s.Config.PortIndex);
    PortSession session = PortSession::Open(request, configBase);
    PortFacts facts;
    std::string accessDetail;
    if (o.simDir) {
        if (!session.busy.empty())
            return AccessFailed("simulated cart in " + *o.simDir + ": " + session.busy,
                                "close the other program using it, then try again");
        if (session.failed == PortSession::Step::SimOpen)
            return AccessFailed("simulated cart " + *o.simDir + ": " + session.fatal,
                                "make one with `rombolt sim create DIR --model MODEL`");
        facts.simulated = true;
        accessDetail = "simulated cart in " + *o.simDir;
    } else {
        const int base = session.hardwareBase != 0 ? session.hardwareBase : configBase;
        if (!session.busy.empty())
            return AccessFailed("port " + HexAddress(base) + ": " + session.busy,
                                "close the other program driving the port, then try again");
        if (!session.message.empty())
            return AccessFailed("the port at " + HexAddress(base) + " cannot be opened", session.message);
        KernelFacts(session.holder->Target(), base, facts);
        accessDetail = session.holder->Target().Name();
        if (!session.warning.empty()) accessDetail += "; " + session.warning;
    }
    if (session.failed == PortSession::Step::Trace)
        return AccessFailed("trace file " + *o.trace + ": " + session.fatal,
                            "choose a trace file that can be written");
    session.ApplyTo(s);
    ApplyPortSelection(s);
    std::vector<PortCheck> checks = {Access(true, accessDetail)};
    for (auto& c : RunPortChecks(s, facts)) checks.push_back(std::move(c));
    // The simulated cart is left as it was: nothing is written back.
    if (session.sim != nullptr) session.sim->ForgetChanges();
    return Report(checks);
}

}  // namespace rombolt::cli
