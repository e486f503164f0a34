// Helpers for the window tests: a window on a simulated cart in a fresh
// working directory, answering modal dialogs, and the program's main().
#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "app/app_state.h"
#include "form_main.h"
#include "sim/sim_port.h"
#include "support/game_images.h"
#include "support/sim_fixture.h"

// Readable QString values in test failure messages.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace rombolt::test::gui {

// Runs `action` on the first modal widget of class T that becomes active
// (checked every few milliseconds from the event loop the dialog runs).
// Returns the watching timer; delete it to stop watching.
template <class T>
QPointer<QTimer> OnNextModal(std::function<void(T*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(w);
        }
    });
    timer->start();
    return timer;
}

// Answers the next file dialog with `path` (or cancels it when empty).
void AnswerFileDialog(const std::string& path);

// The window's own settings file (QSettings) goes here during the tests,
// never into the user's configuration folder: one folder per test process,
// and each WindowBench its own while it lives.
QString ProcessSettingsFolder();
void UseSettingsFolder(const QString& folder);

// A window on a simulated cart, with config.sav in its own temp directory.
struct WindowBench {
    explicit WindowBench(const SimConfig& config);
    explicit WindowBench(const std::string& model = "vela-256M");
    ~WindowBench();

    // Closes the window as the user would (FormClose saves config.sav).
    void Close();
    // A new window in the same directory, on the same cart.
    void Reopen();
    // Files for the browser: written into the images folder, which the
    // browser then shows.
    std::string AddImage(const std::string& name, const std::vector<std::uint8_t>& bytes);
    // Selects `names` in FileListBox1 (nothing else).
    void SelectFiles(const std::vector<std::string>& names);
    std::string LogText() const;
    std::vector<std::string> LogLines() const;
    QString Panel(int i) const { return window->StatusBar1->PanelText(i); }

    TempDir dir{"gui"};
    std::string images;
    std::unique_ptr<AppState> state;
    AppState& s;
    std::unique_ptr<SimPort> sim;
    std::unique_ptr<qt::TForm1> window;
};

}  // namespace rombolt::test::gui
