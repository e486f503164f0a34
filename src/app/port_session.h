// The port chain of a front end, opened in one place for the window and the
// command-line tool alike: the back end (a simulated cart, or the real port),
// the trace around it, and the cart lock (the simulated cart's folder, or
// the port's lock file) that keeps a second Rombolt program off the cart.
//
// The lock is always taken before anything touches the port: opening a real
// port reads and writes its registers (the ECR probe, the mode setting), and
// a second program doing that while a first one writes garbles the first
// one's cycles. When another program holds the lock, nothing is opened: the
// port is opened by the first BeginCartUse that gets the lock.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "port/ioport.h"
#include "port/port_lock.h"
#include "port/port_open.h"

namespace rombolt {

class Platform;
class SimPort;
class TracePort;

// What to open.
struct PortRequest {
    std::string simDir;      // a simulated cart's folder; empty: real hardware
    bool createSim = false;  // make a vela-256M cart with 64K of save memory there when it is missing
    std::string port;        // real hardware: "", lpt1..lpt3, 0xBASE or /dev/parportN
    // The Config dialog's other port ("0xD010", "/dev/parport1"), used when
    // `port` is empty; empty: the base config.sav selects.
    std::string configOption;
    std::string trace;          // trace file; empty: no trace
    bool unlistedPort = false;  // a 0xBASE the kernel does not list may be driven (--unlisted-port)
};

// Opens the real port: OpenHardwarePort's arguments and result (tests hand in their own).
using HardwareOpener =
    std::function<OpenedPort(const std::string& portOption, int configBase, bool unlistedConfirmed)>;

// Passes every access on to a back end that can be exchanged while the
// program runs: the real port, reopened when the Config dialog chooses
// another one, or a simulated cart loaded afresh. Whatever wraps it (the
// trace) goes on wrapping the new back end.
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
    // The back end accesses go to now.
    const PortBackend& Target() const { return *target_; }

private:
    std::unique_ptr<PortBackend> target_;
};

struct PortSession {
    PortSession() = default;
    PortSession(PortSession&&) = default;
    PortSession& operator=(PortSession&&) = default;
    // Wrappers go before the back ends they wrap; the lock is given back last.
    ~PortSession() {
        while (!owned.empty()) owned.pop_back();
    }

    std::vector<std::unique_ptr<PortBackend>> owned;  // innermost first
    PortBackend* backend = nullptr;                   // what AppState::Port uses
    int baseOverride = 0;                             // AppState::PortBaseOverride
    std::string message;                              // one log line (opening the port failed), or empty
    std::string warning;                              // one log line (e.g. the port is in use), or empty
    std::string note;                                 // one log line worth showing (e.g. no EPP), or empty
    // The chain cannot be made: which step failed, and why.
    enum class Step { None, SimCreate, SimOpen, Trace };
    Step failed = Step::None;
    std::string fatal;
    // Another program held the cart lock when the chain was opened: its
    // holder ("in use by rombolt (pid 1234)"), and nothing was opened.
    std::string busy;
    // The line for the log when the lock is refused: "Port 0x378: <why>" or
    // "Simulated cart in DIR: <why>".
    std::string LockLine(const std::string& why) const;

    // Real hardware chosen in the Config dialog (no --sim, no --port): the
    // port follows the dialog's choice, the base config.sav selects and the
    // dialog's other port ("" when that base is used).
    bool followsConfig = false;
    int configuredBase = 0;
    std::string configuredOption;
    HardwareOpener opener;
    Platform* platform = nullptr;

    // A simulated cart: its folder, the holder the cart sits in (what
    // `backend` reaches, through the trace when there is one), and the cart
    // as last loaded.
    std::string simDir;
    ReplaceablePort* holder = nullptr;  // the simulated cart's, or the real port's
    SimPort* sim = nullptr;
    TracePort* trace = nullptr;
    // Real hardware: the base of the port block the lock is for (0: none,
    // the option names no port), and whether the port there is still to be
    // opened (its lock was held by another program until now).
    int hardwareBase = 0;
    bool pendingOpen = false;
    std::string pendingOption;
    bool unlistedPort = false;  // the request's: passed on to the opener
    PortLock lock;

    // The one place where a front end's chain is opened: the lock, then the
    // back end, then the trace. On success the lock is held (unless `busy`);
    // EndCartUse gives it back.
    static PortSession Open(const PortRequest& request, int configBase, HardwareOpener opener = {},
                            Platform* platform = nullptr);

    // The state's port: the chain, the base the link uses, and no erase
    // time floor on a simulated cart (its chips count reads, not time).
    void ApplyTo(AppState& s) const;

    // After the Config dialog: when the chain drives the port config.sav
    // selects and configBase is another one, gives the old port back and
    // opens the one at configBase, under its lock. Returns the lines to log
    // (its message, warning and note, or why the port is not opened yet);
    // nothing when nothing was reopened.
    std::vector<std::string> FollowConfigBase(int configBase);
    // The same for the dialog's other port: option "" follows configBase,
    // anything else ("0xD010", "/dev/parport1") opens that port; baseOverride
    // becomes the base it is open for (0 for configBase).
    std::vector<std::string> FollowConfigPort(const std::string& option, int configBase);

    // Before each cart operation: no other Rombolt program may use the cart
    // or the port while it runs, a port not yet opened is opened, and a
    // simulated cart that another program wrote (or whose files were
    // changed) since it was loaded is loaded afresh. False, with `why` a line
    // for the log, when the cart or port is in use or the cart cannot be
    // loaded; the operation must not run then. Lines from opening the port
    // now (message, warning, note) are added to `opened`.
    bool BeginCartUse(std::string& why, std::vector<std::string>* opened = nullptr);
    // After it: a simulated cart writes back what is not yet written, and the
    // lock is given back. False, with `why` a line for the log, when the
    // write-back fails.
    bool EndCartUse(std::string& why);

private:
    void OpenHardware(const std::string& portOption, int configBase);
};

}  // namespace rombolt
