#include "gui_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QSettings>
#include <QStyle>

#include "app/app_state.h"

namespace rombolt::test::gui {

void AnswerFileDialog(const std::string& path) {
    OnNextModal<QFileDialog>([path](QFileDialog* d) {
        if (path.empty()) {
            d->reject();
            return;
        }
        // Typed into the name field, as a user would (selectFile leaves a
        // focused name field alone).
        auto* name = d->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        // A file chosen in an earlier use of the dialog may still be selected
        // in its list, and a selection wins over the typed name (the dialog
        // drops it only while the name field has the focus): clear it first.
        auto* list = d->findChild<QListView*>("listView");
        ASSERT_NE(list, nullptr);
        list->selectionModel()->clearSelection();
        name->setText(QString::fromStdString(path));
        static_cast<QDialog*>(d)->accept();
        EXPECT_FALSE(d->isVisible()) << "the file dialog did not take " << path;
    });
}

QString ProcessSettingsFolder() {
    return QDir::temp().filePath(
        QStringLiteral("rombolt_gui_settings_%1").arg(QCoreApplication::applicationPid()));
}

void UseSettingsFolder(const QString& folder) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

WindowBench::WindowBench(const SimConfig& config)
    : state(std::make_unique<AppState>()), s(*state), sim(std::make_unique<SimPort>(config)) {
    UseSettingsFolder(QString::fromStdString((dir.path() / "settings").string()));
    images = (dir.path() / "games").string();
    std::filesystem::create_directories(images);
    s.Port = sim.get();
    s.EraseTimeFloorMs = 0;
    window = std::make_unique<qt::TForm1>(s, dir.str());
    window->CreateDialogs();
    window->show();
    window->DirectoryListBox1->SetDirectory(QString::fromStdString(images));
    QApplication::processEvents();
}

WindowBench::WindowBench(const std::string& model) : WindowBench(SimConfigFor(model, "64K")) {}

WindowBench::~WindowBench() {
    window.reset();
    s.Port = nullptr;
    UseSettingsFolder(ProcessSettingsFolder());
}

void WindowBench::Close() {
    window->close();
    QApplication::processEvents();
}

void WindowBench::Reopen() {
    window.reset();
    window = std::make_unique<qt::TForm1>(s, dir.str());
    window->CreateDialogs();
    window->show();
    QApplication::processEvents();
}

std::string WindowBench::AddImage(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::string path = images + "/" + name;
    WriteFileBytes(path, bytes);
    window->FileListBox1->Refresh();
    return path;
}

void WindowBench::SelectFiles(const std::vector<std::string>& names) {
    auto* list = window->FileListBox1;
    list->clearSelection();
    for (const auto& n : names) {
        auto found = list->findItems(QString::fromStdString(n), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << n;
        found.first()->setSelected(true);
    }
}

std::string WindowBench::LogText() const { return window->Memo1->toPlainText().toStdString(); }

std::vector<std::string> WindowBench::LogLines() const {
    std::vector<std::string> out;
    for (const QString& l : window->Memo1->toPlainText().split('\n')) out.push_back(l.toStdString());
    return out;
}

}  // namespace rombolt::test::gui
