#include "command_line.h"

#include <cstdio>
#include <filesystem>

#include "port/port_open.h"
#include "sim/cart_dir.h"
#include "sim/sim_port.h"
#ifdef ROMBOLT_HAVE_TRACE
#include "port/trace_port.h"
#endif

namespace rombolt::qt {

WindowOptions ParseWindowOptions(const QStringList& args) {
    WindowOptions o;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
                o.error = "option " + a.toStdString() + " needs a value";
                return;
            }
            into = args[++i].toStdString();
        };
        if (a == "--sim") {
            value(o.simDir);
        } else if (a == "--port") {
            value(o.port);
        } else if (a == "--trace") {
            value(o.trace);
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else {
            o.error = "unknown option " + a.toStdString();
        }
        if (!o.error.empty()) return o;
    }
    if (!o.simDir.empty() && !o.port.empty()) o.error = "--sim and --port exclude each other";
    return o;
}

std::string WindowUsage() {
    return "Usage: rombolt-writer [--sim DIR | --port PORT] [--trace FILE]\n"
           "  --sim DIR     use the simulated cartridge in DIR; a vela-256M cart with\n"
           "                64K of save memory is created when DIR does not exist\n"
           "  --port PORT   the printer port: lpt1, lpt2, lpt3, 0xBASE or /dev/parportN\n"
           "  --trace FILE  write every port access to FILE, one line each\n"
           "  --version     print the product and its version\n";
}

void ReplaceablePort::Replace(const std::function<std::unique_ptr<PortBackend>()>& next) {
    target_ = std::make_unique<NullPort>();  // never without a back end, not even meanwhile
    if (auto made = next()) target_ = std::move(made);
}

std::vector<std::string> PortChain::FollowConfigBase(int configBase) {
    return FollowConfigPort(configuredOption, configBase);
}

std::vector<std::string> PortChain::FollowConfigPort(const std::string& option, int configBase) {
    std::vector<std::string> lines;
    if (!configuredPort || (option == configuredOption && (!option.empty() || configBase == configuredBase)))
        return lines;
    OpenedPort opened;
    configuredPort->Replace([&] {
        opened = opener(option, configBase);
        return std::move(opened.backend);
    });
    configuredBase = configBase;
    configuredOption = option;
    baseOverride = option.empty() ? 0 : opened.base;
    message = opened.message;
    warning = opened.warning;
    note = opened.note;
    hardwareBase = message.empty() ? (option.empty() ? configBase : opened.base) : 0;
    for (const std::string* line : {&message, &warning, &note})
        if (!line->empty()) lines.push_back(*line);
    return lines;
}

bool PortChain::BeginCartUse(std::string& why) {
    std::string error;
    if (!simDir.empty()) {
        if (!lock.Acquire(simDir, error)) {
            why = "Simulated cart in " + simDir + ": " + error;
            return false;
        }
        if (sim == nullptr || sim->FilesChanged()) {
            std::unique_ptr<SimPort> fresh = SimPort::Open(simDir, error);
            if (!fresh) {
                lock.Release();
                why = "Simulated cart in " + simDir + ": " + error;
                return false;
            }
            // The files hold the cart now; what this copy did not write back is gone.
            if (sim != nullptr) sim->ForgetChanges();
            sim = fresh.get();
            simHolder->Replace([&] { return std::unique_ptr<PortBackend>(std::move(fresh)); });
        }
        return true;
    }
    if (hardwareBase != 0 && !lock.Acquire(PortLockPath(hardwareBase), error)) {
        char base[16];
        std::snprintf(base, sizeof base, "0x%X", static_cast<unsigned>(hardwareBase));
        why = std::string("Port ") + base + ": " + error;
        return false;
    }
    return true;
}

bool PortChain::EndCartUse(std::string& why) {
    bool stored = true;
    std::string error;
    if (sim != nullptr && !sim->Flush(error)) {
        why = "Simulated cart not saved: " + error;
        stored = false;
    }
    lock.Release();
    return stored;
}

PortChain OpenPortChain(const WindowOptions& options, int configBase, HardwareOpener opener,
                        const std::string& configOption) {
    PortChain c;
    c.opener = opener ? std::move(opener) : HardwareOpener([](const std::string& option, int base) {
        return OpenHardwarePort(option, base);
    });
    if (!options.simDir.empty()) {
        std::error_code ec;
        if (!std::filesystem::exists(options.simDir, ec)) {
            std::string error;
            if (!CreateSimCart(options.simDir, "vela-256M", "64K", "", error)) {
                c.fatal = "cannot create the simulated cart in " + options.simDir + ": " + error;
                return c;
            }
        }
        std::string error;
        std::unique_ptr<SimPort> sim = SimPort::Open(options.simDir, error);
        if (!sim) {
            c.fatal = "cannot open the simulated cart in " + options.simDir + ": " + error;
            return c;
        }
        // Each operation takes the cart up afresh when its files changed:
        // the holder lets a newly loaded cart take this one's place.
        c.simDir = options.simDir;
        c.sim = sim.get();
        auto holder = std::make_unique<ReplaceablePort>(std::move(sim));
        c.simHolder = holder.get();
        c.backend = holder.get();
        c.owned.push_back(std::move(holder));
    } else {
        const std::string& option = options.port.empty() ? configOption : options.port;
        OpenedPort opened = c.opener(option, configBase);
        if (!opened.backend) opened.backend = std::make_unique<NullPort>();
        if (options.port.empty()) {
            // The port follows the Config dialog's choice from now on.
            auto port = std::make_unique<ReplaceablePort>(std::move(opened.backend));
            c.configuredPort = port.get();
            c.configuredBase = configBase;
            c.configuredOption = configOption;
            if (!configOption.empty()) c.baseOverride = opened.base;
            c.backend = port.get();
            c.owned.push_back(std::move(port));
        } else {
            // A port given on the command line wins over the Config dialog's.
            c.baseOverride = opened.base;
            c.backend = opened.backend.get();
            c.owned.push_back(std::move(opened.backend));
        }
        c.message = opened.message;
        c.warning = opened.warning;
        c.note = opened.note;
        if (opened.message.empty()) c.hardwareBase = option.empty() ? configBase : opened.base;
    }
    if (!options.trace.empty()) {
#ifdef ROMBOLT_HAVE_TRACE
        std::FILE* f = std::fopen(options.trace.c_str(), "w");
        if (!f) {
            c.fatal = "cannot write the trace file " + options.trace;
            return c;
        }
        auto trace = std::make_unique<TracePort>(*c.backend, f);
        c.backend = trace.get();
        c.owned.push_back(std::move(trace));
#else
        c.fatal = "this build cannot trace port accesses";
#endif
    }
    return c;
}

}  // namespace rombolt::qt
