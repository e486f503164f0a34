#include "command_line.h"

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

PortChain OpenPortChain(const WindowOptions& options, int configBase, HardwareOpener opener,
                        const std::string& configOption) {
    PortRequest request;
    request.simDir = options.simDir;
    request.createSim = true;
    request.port = options.port;
    request.trace = options.trace;
    request.configOption = configOption;
    PortChain c = PortChain::Open(request, configBase, std::move(opener));
    switch (c.failed) {
        case PortChain::Step::None:
            break;
        case PortChain::Step::SimCreate:
            c.fatal = "cannot create the simulated cart in " + options.simDir + ": " + c.fatal;
            break;
        case PortChain::Step::SimOpen:
            c.fatal = "cannot open the simulated cart in " + options.simDir + ": " + c.fatal;
            break;
        case PortChain::Step::Trace:
            c.fatal = "cannot write the trace file " + options.trace;
            break;
    }
    c.lock.Release();
    return c;
}

}  // namespace rombolt::qt
