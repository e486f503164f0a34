// Command line of the window program and the port back end it selects:
//   --sim DIR     the simulated cart in DIR (a vela-256M cart with 64K of save
//                 memory is created there when DIR does not exist)
//   --port PORT   real hardware: lpt1..lpt3, 0xBASE or /dev/parportN
//   --trace FILE  every port access as one line of text
// Without --sim or --port the real port at the configured base is used; when
// it cannot be reached the program still starts, and says why in the log.
#pragma once

#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "port/ioport.h"
#include "port/port_lock.h"
#include "port/port_open.h"

namespace rombolt {
class SimPort;
}

namespace rombolt::qt {

struct WindowOptions {
    std::string simDir;
    std::string port;
    std::string trace;
    bool help = false;
    bool version = false;
    std::string error;  // a usage error: the program prints it and ends
};

WindowOptions ParseWindowOptions(const QStringList& args);
std::string WindowUsage();

// Opens the real port: OpenHardwarePort's arguments and result (tests hand in their own).
using HardwareOpener = std::function<OpenedPort(const std::string& portOption, int configBase)>;

// Passes every access on to a back end that can be exchanged while the
// program runs: the real port, reopened when the Config dialog chooses
// another one. Whatever wraps it (the trace) goes on wrapping the new port.
class ReplaceablePort final : public PortBackend {
public:
    explicit ReplaceablePort(std::unique_ptr<PortBackend> target) : target_(std::move(target)) {}
    // The old back end is destroyed (its port given back) before `next` is made.
    void Replace(const std::function<std::unique_ptr<PortBackend>()>& next);

    std::uint8_t inb(std::uint16_t port) override { return target_->inb(port); }
    void outb(std::uint16_t port, std::uint8_t value) override { target_->outb(port, value); }
    std::uint16_t inw(std::uint16_t port) override { return target_->inw(port); }
    void outw(std::uint16_t port, std::uint16_t value) override { target_->outw(port, value); }
    std::string Name() const override { return target_->Name(); }
    std::string Failure() const override { return target_->Failure(); }
    void ClearFailure() override { target_->ClearFailure(); }
    bool Persist(std::string& why) override { return target_->Persist(why); }

private:
    std::unique_ptr<PortBackend> target_;
};

// The back end chosen by the options, and whatever it depends on.
struct PortChain {
    PortChain() = default;
    PortChain(PortChain&&) = default;
    PortChain& operator=(PortChain&&) = default;
    // Wrappers go before the back ends they wrap.
    ~PortChain() {
        while (!owned.empty()) owned.pop_back();
    }

    std::vector<std::unique_ptr<PortBackend>> owned;  // innermost first
    PortBackend* backend = nullptr;                   // what AppState::Port uses
    int baseOverride = 0;                             // AppState::PortBaseOverride
    std::string message;                              // one log line, or empty
    std::string warning;                              // one log line (e.g. the port is in use), or empty
    std::string note;                                 // one log line worth showing (e.g. no EPP), or empty
    std::string fatal;                                // the program cannot start (e.g. a bad --sim dir)

    // Real hardware at the base config.sav selects, or at the other port of
    // the Config dialog (no --sim, no --port): the port that follows the
    // dialog's choice, the base and the other port it is open for.
    ReplaceablePort* configuredPort = nullptr;
    int configuredBase = 0;
    std::string configuredOption;  // "" (the base config.sav selects), "0xD010", "/dev/parport1"
    HardwareOpener opener;

    // After the Config dialog: when the chain drives the port config.sav
    // selects and configBase is another one, gives the old port back and opens
    // the one at configBase. Returns the lines to log (its message, warning and note);
    // nothing when nothing was reopened.
    std::vector<std::string> FollowConfigBase(int configBase);
    // The same for the dialog's other port: option "" follows configBase,
    // anything else ("0xD010", "/dev/parport1") opens that port; baseOverride
    // becomes the base it is open for (0 for configBase).
    std::vector<std::string> FollowConfigPort(const std::string& option, int configBase);

    // A simulated cart (--sim): its folder, the holder the cart sits in
    // (what `backend` reaches, through the trace when there is one), and the
    // cart as last loaded.
    std::string simDir;
    ReplaceablePort* simHolder = nullptr;
    SimPort* sim = nullptr;
    // Real hardware: the base of the port that is open (0: none is).
    int hardwareBase = 0;
    // Held from BeginCartUse to EndCartUse: the cart's folder, or the port's lock file.
    PortLock lock;

    // Before each cart operation: no other Rombolt program may use the cart
    // or the port while it runs, and a simulated cart that another program
    // wrote (or whose files were changed) since it was loaded is loaded
    // afresh. False, with `why` a line for the log, when the cart or port is
    // in use or the cart cannot be loaded; the operation must not run then.
    bool BeginCartUse(std::string& why);
    // After it: a simulated cart writes back what is not yet written, and the
    // lock is given back. False, with `why` a line for the log, when the
    // write-back fails.
    bool EndCartUse(std::string& why);
};

// configBase: the base that config.sav selects (0x378, 0x278 or 0x3BC).
// opener: how the real port is opened (OpenHardwarePort when empty).
// configOption: the Config dialog's other port, used instead of configBase
// when set and neither --sim nor --port is given.
PortChain OpenPortChain(const WindowOptions& options, int configBase, HardwareOpener opener = {},
                        const std::string& configOption = {});

}  // namespace rombolt::qt
