// Pictures of the window and its dialogs for the documentation: a window
// on a simulated cart after a write, and each dialog as it opens.
//   xvfb-run -a rombolt-gui-screenshots <folder> /home/user
#include <QApplication>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "gui_support.h"

using namespace rombolt;
using namespace rombolt::test;
using namespace rombolt::test::gui;

namespace {

bool Save(QWidget* w, const QString& path) {
    QApplication::processEvents();
    bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    // A user's session: the games in a folder of the home directory, the
    // program run from another (where config.sav and the loader files go).
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT-FOLDER HOME-FOLDER (for example /home/user)\n", argv[0]);
        return 2;
    }
    const std::filesystem::path home = argv[2];
    const std::string games = (home / "games").string();
    const std::string work = (home / "rombolt").string();
    std::filesystem::create_directories(games);
    std::filesystem::create_directories(work);
    TempDir settings("screenshots");
    UseSettingsFolder(QString::fromStdString(settings.str()));
    bool ok = true;
    {
        AppState s;
        SimPort sim(SimConfigFor("vela-256M", "64K"));
        s.Port = &sim;
        s.EraseTimeFloorMs = 0;
        WriteFileBytes(games + "/Bolt Racer.gba", MakeGbaImage(4 * 32768, "BOLTRACER", 11));
        WriteFileBytes(games + "/Cave Story.gba", MakeGbaImage(6 * 32768, "CAVESTORY", 12));
        WriteFileBytes(games + "/Tetra.gb", MakeGbImage(32768, "TETRA", 0x00, 13));
        qt::TForm1 w(s, work);
        w.CreateDialogs();
        w.show();
        w.DirectoryListBox1->SetDirectory(QString::fromStdString(games));
        QApplication::processEvents();
        auto found = w.FileListBox1->findItems("Bolt Racer.gba", Qt::MatchExactly);
        if (found.size() != 1) return 1;
        w.FileListBox1->clearSelection();
        found.first()->setSelected(true);
        w.FileListBox1->setCurrentItem(found.first());
        w.FileListBox1->itemDoubleClicked(w.FileListBox1->currentItem());
        QTest::mouseClick(w.Write, Qt::LeftButton);
        ok = Save(&w, out + "/screenshot.png") && ok;

        // Each dialog as its own way of opening shows it.
        OnNextModal<qt::TFormConfig>([&](qt::TFormConfig* d) {
            ok = Save(d, out + "/dialog-config.png") && ok;
            d->OK->click();
        });
        QTest::mouseClick(w.Config, Qt::LeftButton);
        OnNextModal<qt::TFormCartSize>([&](qt::TFormCartSize* d) {
            ok = Save(d, out + "/dialog-cart-size.png") && ok;
            d->CANCEL->click();
        });
        w.ChooseCartSize(5);
        OnNextModal<qt::TFormSaverSize>([&](qt::TFormSaverSize* d) {
            ok = Save(d, out + "/dialog-saver-size.png") && ok;
            d->CANCEL->click();
        });
        w.ChooseSaverRange();
        s.Port = nullptr;
    }
    UseSettingsFolder(ProcessSettingsFolder());
    return ok ? 0 : 1;
}
