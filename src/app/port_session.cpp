#include "app/port_session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "port/platform.h"
#include "port/trace_port.h"
#include "sim/cart_dir.h"
#include "sim/sim_port.h"

namespace rombolt {

void ReplaceablePort::Replace(const std::function<std::unique_ptr<PortBackend>()>& next) {
    target_ = std::make_unique<NullPort>();  // never without a back end, not even meanwhile
    if (auto made = next()) target_ = std::move(made);
}

std::string PortSession::LockLine(const std::string& why) const {
    if (!simDir.empty()) return "Simulated cart in " + simDir + ": " + why;
    char base[16];
    std::snprintf(base, sizeof base, "0x%X", static_cast<unsigned>(hardwareBase));
    return std::string("Port ") + base + ": " + why;
}

void PortSession::OpenHardware(const std::string& portOption, int configBase) {
    OpenedPort opened;
    holder->Replace([&] {
        opened = opener(portOption, configBase, unlistedPort);
        return std::move(opened.backend);
    });
    pendingOpen = false;
    message = opened.message;
    warning = opened.warning;
    note = opened.note;
    // A port given on the command line, or the dialog's other port, gives
    // the link its base; config.sav's own choice needs none.
    if (!followsConfig || !configuredOption.empty()) baseOverride = opened.base;
}

PortSession PortSession::Open(const PortRequest& request, int configBase, HardwareOpener opener,
                              Platform* platform) {
    PortSession c;
    c.platform = platform ? platform : &SystemPlatform();
    Platform& os = *c.platform;
    c.opener = opener ? std::move(opener)
                      : HardwareOpener([&os](const std::string& option, int base, bool unlisted) {
                            return OpenHardwarePort(os, option, base, unlisted);
                        });
    auto holder = std::make_unique<ReplaceablePort>(std::make_unique<NullPort>());
    c.holder = holder.get();
    c.backend = holder.get();
    c.owned.push_back(std::move(holder));

    if (!request.simDir.empty()) {
        c.simDir = request.simDir;
        std::error_code ec;
        std::string error;
        if (request.createSim && !std::filesystem::exists(request.simDir, ec) &&
            !CreateSimCart(request.simDir, "vela-256M", "64K", "", error)) {
            c.failed = Step::SimCreate;
            c.fatal = error;
            return c;
        }
        // The cart's files are loaded under the lock; a folder that is not
        // there has nothing to lock, and fails to load below.
        if (std::filesystem::is_directory(request.simDir, ec) && !c.lock.Acquire(request.simDir, error)) {
            c.busy = error;
        } else {
            std::unique_ptr<SimPort> sim = SimPort::Open(request.simDir, error);
            if (!sim) {
                c.failed = Step::SimOpen;
                c.fatal = error;
                return c;
            }
            c.sim = sim.get();
            c.holder->Replace([&] { return std::unique_ptr<PortBackend>(std::move(sim)); });
        }
    } else {
        c.followsConfig = request.port.empty();
        c.configuredBase = configBase;
        c.unlistedPort = request.unlistedPort;
        if (c.followsConfig) c.configuredOption = request.configOption;
        const std::string& option = c.followsConfig ? request.configOption : request.port;
        c.hardwareBase = HardwarePortBase(os, option, configBase);
        if (!option.empty()) c.baseOverride = c.hardwareBase != 0 ? c.hardwareBase : configBase;
        std::string error;
        if (c.hardwareBase != 0 && !c.lock.Acquire(PortLockPath(c.hardwareBase), error)) {
            c.busy = error;
            c.pendingOpen = true;
            c.pendingOption = option;
        } else {
            c.OpenHardware(option, configBase);
        }
    }

    if (!request.trace.empty()) {
        std::FILE* f = std::fopen(request.trace.c_str(), "w");
        if (!f) {
            c.failed = Step::Trace;
            c.fatal = std::strerror(errno);
            return c;
        }
        auto trace = std::make_unique<TracePort>(*c.backend, f);
        c.trace = trace.get();
        c.backend = trace.get();
        c.owned.push_back(std::move(trace));
    }
    return c;
}

void PortSession::ApplyTo(AppState& s) const {
    s.Port = backend;
    if (baseOverride != 0) s.PortBaseOverride = baseOverride;
    if (!simDir.empty())
        s.EraseTimeFloorMs = 0;  // simulated chips are busy for a number of reads, not a time
}

std::vector<std::string> PortSession::FollowConfigBase(int configBase) {
    return FollowConfigPort(configuredOption, configBase);
}

std::vector<std::string> PortSession::FollowConfigPort(const std::string& option, int configBase) {
    std::vector<std::string> lines;
    if (!followsConfig || (option == configuredOption && (!option.empty() || configBase == configuredBase)))
        return lines;
    configuredBase = configBase;
    configuredOption = option;
    // The port in use is given back now; the new one is opened only under its lock.
    holder->Replace([] { return std::unique_ptr<PortBackend>(); });
    message.clear();
    warning.clear();
    note.clear();
    hardwareBase = HardwarePortBase(*platform, option, configBase);
    baseOverride = option.empty() || hardwareBase == 0 ? 0 : hardwareBase;
    pendingOpen = true;
    pendingOption = option;
    std::string why;
    if (!BeginCartUse(why, &lines)) {
        lines.push_back(why);
        return lines;
    }
    EndCartUse(why);
    return lines;
}

bool PortSession::BeginCartUse(std::string& why, std::vector<std::string>* opened) {
    std::string error;
    if (!simDir.empty()) {
        if (!lock.Held() && !lock.Acquire(simDir, error)) {
            why = LockLine(error);
            return false;
        }
        if (sim == nullptr || sim->FilesChanged()) {
            std::unique_ptr<SimPort> fresh = SimPort::Open(simDir, error);
            if (!fresh) {
                lock.Release();
                why = LockLine(error);
                return false;
            }
            // The files hold the cart now; what this copy did not write back is gone.
            if (sim != nullptr) sim->ForgetChanges();
            sim = fresh.get();
            holder->Replace([&] { return std::unique_ptr<PortBackend>(std::move(fresh)); });
        }
        return true;
    }
    if (hardwareBase != 0 && !lock.Held() && !lock.Acquire(PortLockPath(hardwareBase), error)) {
        why = LockLine(error);
        return false;
    }
    if (pendingOpen) {
        OpenHardware(pendingOption, configuredBase);
        if (opened) {
            for (const std::string* line : {&message, &warning, &note})
                if (!line->empty()) opened->push_back(*line);
        }
    }
    return true;
}

bool PortSession::EndCartUse(std::string& why) {
    bool stored = true;
    std::string error;
    if (sim != nullptr && !sim->Flush(error)) {
        why = "Simulated cart not saved: " + error;
        stored = false;
    }
    lock.Release();
    return stored;
}

}  // namespace rombolt
