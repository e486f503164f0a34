// rombolt-writer: the window program.
#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/app_state.h"
#include "app/config.h"
#include "app/version.h"
#include "command_line.h"
#include "form_main.h"

namespace {

// --help and --version: prints the answer and returns true.
bool AnswerInfoOption(const rombolt::qt::WindowOptions& options) {
    if (options.help) {
        std::fputs(rombolt::qt::WindowUsage().c_str(), stdout);
        return true;
    }
    if (options.version) {
        std::puts(rombolt::ProductVersionText());
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer before the window system starts, so that
    // they work without a display. Anything else, including options the
    // window system takes for itself, waits for QApplication.
    {
        QStringList args;
        for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
        const rombolt::qt::WindowOptions early = rombolt::qt::ParseWindowOptions(args);
        if (early.error.empty() && AnswerInfoOption(early)) return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("rombolt-writer");
    QApplication::setApplicationVersion(ROMBOLT_VERSION);
    QApplication::setDesktopFileName(ROMBOLT_APP_ID);
    QApplication::setStyle("Fusion");

    rombolt::qt::WindowOptions options = rombolt::qt::ParseWindowOptions(QApplication::arguments());
    if (!options.error.empty()) {
        std::fprintf(stderr, "rombolt-writer: %s\n%s", options.error.c_str(),
                     rombolt::qt::WindowUsage().c_str());
        return 2;
    }
    if (AnswerInfoOption(options)) return 0;

    auto state = std::make_unique<rombolt::AppState>();
    rombolt::AppState& s = *state;
    // The port must be open before the window's start-up touches it, and the
    // configured port comes from config.sav: peek at it first.
    const std::string cwd = std::filesystem::current_path().string();
    s.ConfigPath = rombolt::ConfigPath(cwd);
    rombolt::LoadConfig(s);
    rombolt::qt::PortChain port = rombolt::qt::OpenPortChain(
        options, rombolt::PortBaseForIndex(s.Config.PortIndex), {}, rombolt::qt::TForm1::StoredOtherPort());
    if (!port.fatal.empty()) {
        std::fprintf(stderr, "rombolt-writer: %s\n", port.fatal.c_str());
        return 1;
    }
    port.ApplyTo(s);
    // Start-up ends with the idle value on the port; while another program
    // drives the port (or cart), that one write is left out. The port was
    // opened only under the lock, and when another program held it, it is
    // opened by the first cart operation.
    std::string busy;
    rombolt::NullPort untouched;
    const bool portFree = port.BeginCartUse(busy);
    s.Port = portFree ? port.backend : &untouched;

    int rc = 0;
    {
        rombolt::qt::TForm1 window(s, cwd);
        std::string notSaved;
        if (portFree && !port.EndCartUse(notSaved)) busy = notSaved;
        window.CreateDialogs();
        window.SetPortChain(&port);
        if (!busy.empty()) window.LogLine(busy);
        window.PlaceOnScreen(window.screen()->availableGeometry());
        window.show();
        rc = QApplication::exec();
    }
    s.Port = nullptr;
    return rc;
}
