// Command line of the window program and the port back end it selects:
//   --sim DIR     the simulated cart in DIR (a vela-256M cart with 64K of save
//                 memory is created there when DIR does not exist)
//   --port PORT   real hardware: lpt1..lpt3, 0xBASE or /dev/parportN
//   --trace FILE  every port access as one line of text
// Without --sim or --port the real port at the configured base is used; when
// it cannot be reached the program still starts, and says why in the log.
#pragma once

#include <QStringList>
#include <string>

#include "app/port_session.h"

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

// The window's port chain is the front ends' shared one (app/port_session.h).
using rombolt::HardwareOpener;
using rombolt::ReplaceablePort;
using PortChain = rombolt::PortSession;

// Opens the chain the options ask for (PortSession::Open, a simulated cart
// made when its folder is missing), the lock given back afterwards: each use
// of the cart takes it (BeginCartUse). configBase: the base that config.sav
// selects (0x378, 0x278 or 0x3BC). opener: how the real port is opened
// (OpenHardwarePort when empty). configOption: the Config dialog's other
// port, used instead of configBase when set and neither --sim nor --port is
// given. `fatal` is set when the program cannot start.
PortChain OpenPortChain(const WindowOptions& options, int configBase, HardwareOpener opener = {},
                        const std::string& configOption = {});

}  // namespace rombolt::qt
