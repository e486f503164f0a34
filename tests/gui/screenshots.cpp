// Pictures of the window and its dialogs for the documentation: a window
// on a simulated cart after a write, and each dialog as it opens.
//   xvfb-run -a rombolt-gui-screenshots <folder>
#include <QApplication>
#include <QTest>
#include <cstdio>

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
    bool ok = true;
    {
        WindowBench b("vela-256M");
        qt::TForm1& w = *b.window;
        b.AddImage("Bolt Racer.gba", MakeGbaImage(4 * 32768, "BOLTRACER", 11));
        b.AddImage("Cave Story.gba", MakeGbaImage(6 * 32768, "CAVESTORY", 12));
        b.AddImage("Tetra.gb", MakeGbImage(32768, "TETRA", 0x00, 13));
        b.SelectFiles({"Bolt Racer.gba"});
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
    }
    return ok ? 0 : 1;
}
