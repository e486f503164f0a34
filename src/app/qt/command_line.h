// Command line of the window program and the port back end it selects:
//   --sim DIR     the simulated cart in DIR (a vela-256M cart with 64K of save
//                 memory is created there when DIR does not exist)
//   --port PORT   real hardware: lpt1..lpt3, 0xBASE or /dev/parportN
//   --trace FILE  every port access as one line of text
// Without --sim or --port the real port at the configured base is used; when
// it cannot be reached the program still starts, and says why in the log.
#pragma once

#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "port/ioport.h"

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
    std::string fatal;                                // the program cannot start (e.g. a bad --sim dir)
};

// configBase: the base that config.sav selects (0x378, 0x278 or 0x3BC).
PortChain OpenPortChain(const WindowOptions& options, int configBase);

}  // namespace rombolt::qt
