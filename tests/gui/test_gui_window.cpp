// The main window driven through its widgets on a simulated cart.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <regex>

#include "app/app_state.h"
#include "command_line.h"
#include "core/operation.h"
#include "gui_support.h"
#include "port/port_lock.h"
#include "sim/cart_dir.h"

namespace rombolt::test::gui {
namespace {

void DoubleClickFile(qt::TForm1& w, const QString& name) {
    auto found = w.FileListBox1->findItems(name, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    QRect r = w.FileListBox1->visualItemRect(found.first());
    QTest::mouseClick(w.FileListBox1->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(w.FileListBox1->viewport(), Qt::LeftButton, {}, r.center());
}

// A drag from the control named `source` that enters `target` and, when the
// target accepts it, is dropped there. Returns whether it was dropped.
bool Drop(QWidget* target, const QString& source) {
    std::unique_ptr<QMimeData> data(qt::MakeDragData(source));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

void ClickHeader(qt::TForm1& w, int column) {
    QHeaderView* h = w.ListView1->header();
    QPoint p(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
}

QStringList Column(qt::TForm1& w, int column) {
    QStringList out;
    for (int i = 0; i < w.ListView1->topLevelItemCount(); ++i)
        out << w.ListView1->topLevelItem(i)->text(column);
    return out;
}

QAction* MenuAction(qt::TForm1& w, const char* name) { return w.PopupMenu1->findChild<QAction*>(name); }

// Presses Stop as soon as the operation has written something.
QTimer* PressStopOnceWriting(qt::TForm1& w) {
    auto* t = new QTimer(&w);
    t->setInterval(1);
    QObject::connect(t, &QTimer::timeout, [&w, t] {
        if (w.Stop->isEnabled() && w.ProgressBar1->value() > 0) {
            t->stop();
            QTest::mouseClick(w.Stop, Qt::LeftButton);
        }
    });
    t->start();
    return t;
}

TEST(Window, StartsIdleAndSwitchesExactlyTheListedControls) {
    WindowBench b;
    qt::TForm1& w = *b.window;
    EXPECT_EQ(w.windowTitle(), "Rombolt Writer 3.2");
    EXPECT_EQ(std::filesystem::file_size(b.dir.path() / "config.sav"), 1340u);

    // Idle with an empty list: the list-dependent buttons stay off.
    for (QWidget* c : {static_cast<QWidget*>(w.Write), static_cast<QWidget*>(w.Verify),
                       static_cast<QWidget*>(w.ClearAll), static_cast<QWidget*>(w.Stop)})
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    for (QWidget* c : std::initializer_list<QWidget*>{w.Read, w.SWrite, w.SRead, w.EraseFlash, w.Config,
                                                      w.MemoClear, w.ListView1, w.FileListBox1, w.Memo1})
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_EQ(b.s.StopRequested, 1);
    for (int i : {0, 1, 3, 4}) EXPECT_EQ(b.Panel(i), "");
    // The port driver component is there but never opened.
    EXPECT_FALSE(w.DLPortIO.ActiveHW());
    EXPECT_EQ(w.DLPortIO.LastError(), "");

    // The status bar's panels and the progress bar inside panel 2.
    ASSERT_EQ(w.StatusBar1->PanelCount(), 5);
    const int widths[5] = {25, 80, 120, 50, 50};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(w.StatusBar1->PanelWidth(i), widths[i]);
    EXPECT_EQ(w.ProgressBar1->parentWidget(), w.StatusBar1);
    EXPECT_EQ(w.ProgressBar1->maximum(), 100);

    // One queued game brings Write, Verify and Clear All.
    b.AddImage("one.gba", MakeGbaImage(65536, "ONE", 1));
    DoubleClickFile(w, "one.gba");
    ASSERT_EQ(w.ListView1->topLevelItemCount(), 1);
    EXPECT_TRUE(w.Write->isEnabled());
    EXPECT_TRUE(w.Verify->isEnabled());
    EXPECT_TRUE(w.ClearAll->isEnabled());

    // Busy: every action control, the browser, the list and the log off; Stop on.
    BeginOperation(b.s);
    for (QWidget* c : std::initializer_list<QWidget*>{
             w.DriveComboBox1, w.FilterComboBox1, w.DirectoryListBox1, w.FileListBox1, w.ListView1, w.Image1,
             w.ClearAll, w.Config, w.EraseFlash, w.MemoClear, w.Write, w.Verify, w.Read, w.SWrite, w.SRead,
             w.Memo1})
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_TRUE(w.Stop->isEnabled());
    EXPECT_TRUE(w.Timer1->isActive());
    EXPECT_EQ(w.Timer1->interval(), 1000);
    EXPECT_EQ(b.Panel(3), "0 Sec");
    // Stop only sets the flag.
    QTest::mouseClick(w.Stop, Qt::LeftButton);
    EXPECT_EQ(b.s.StopRequested, 1);
    EXPECT_TRUE(w.Stop->isEnabled());

    EndOperation(b.s);
    for (QWidget* c : std::initializer_list<QWidget*>{
             w.DriveComboBox1, w.FilterComboBox1, w.DirectoryListBox1, w.FileListBox1, w.ListView1, w.Image1,
             w.ClearAll, w.Config, w.EraseFlash, w.MemoClear, w.Write, w.Verify, w.Read, w.SWrite, w.SRead,
             w.Memo1})
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_FALSE(w.Stop->isEnabled());
    EXPECT_FALSE(w.Timer1->isActive());

    // Idle again with the list emptied: the three list buttons go off.
    OnNextModal<QMessageBox>([](QMessageBox* m) { m->button(QMessageBox::Yes)->click(); });
    QTest::mouseClick(w.ClearAll, Qt::LeftButton);
    BeginOperation(b.s);
    EndOperation(b.s);
    EXPECT_FALSE(w.Write->isEnabled());
    EXPECT_FALSE(w.Verify->isEnabled());
    EXPECT_FALSE(w.ClearAll->isEnabled());
    EXPECT_TRUE(w.Read->isEnabled());
}

TEST(Window, LogShowsTheStartupPictureOnlyWhileEmpty) {
    WindowBench b;
    qt::TForm1& w = *b.window;
    EXPECT_TRUE(w.Image2->isVisible());
    EXPECT_FALSE(w.Image2->pixmap().isNull());
    EXPECT_EQ(w.Image2->geometry(), w.Memo1->contentsRect());
    EXPECT_EQ(w.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(w.Memo1->isReadOnly());
    EXPECT_EQ(w.Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);

    // An empty first line is a line of its own.
    w.LogLine("");
    w.LogLine("second");
    EXPECT_EQ(w.Memo1->toPlainText(), "\nsecond");
    EXPECT_FALSE(w.Image2->isVisible());
    EXPECT_EQ(w.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(w.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    QTest::mouseClick(w.MemoClear, Qt::LeftButton);
    EXPECT_EQ(w.Memo1->toPlainText(), "");
    EXPECT_TRUE(w.Image2->isVisible());
    EXPECT_EQ(w.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    w.LogLine("again");
    EXPECT_EQ(w.Memo1->toPlainText(), "again");
}

TEST(Window, WriteButtonWritesOneGameIntoTheSimulatedCart) {
    WindowBench b("vela-256M");
    qt::TForm1& w = *b.window;
    auto image = MakeGbaImage(3 * 32768 + 1000, "WINDOWGAME", 7);
    b.AddImage("game.gba", image);
    DoubleClickFile(w, "game.gba");
    ASSERT_TRUE(w.Write->isEnabled());

    QTest::mouseClick(w.Write, Qt::LeftButton);

    std::string log = b.LogText();
    EXPECT_NE(log.find("Rombolt Vela 256M Found"), std::string::npos) << log;
    EXPECT_NE(log.find("Write To Cart Ok"), std::string::npos) << log;
    auto lines = b.LogLines();
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("Time = [0-9]+ Sec"))) << lines.back();
    EXPECT_EQ(w.ProgressBar1->value(), 100);
    EXPECT_TRUE(b.Panel(0) == "EPP" || b.Panel(0) == "SPP") << b.Panel(0).toStdString();
    EXPECT_TRUE(b.Panel(3).endsWith(" Sec"));
    EXPECT_FALSE(b.Panel(1).isEmpty());
    EXPECT_FALSE(b.Panel(1).contains("Error"));
    // The model picture of a Vela 256M cart is showing over the bevel.
    EXPECT_TRUE(w.Image3->isVisible());
    EXPECT_EQ(w.Image3->geometry(), w.Bevel1->geometry());
    EXPECT_EQ(w.BeepCount(), 0);
    // Idle again and the game is in the cart (padded with 0xFF to the chunk).
    EXPECT_FALSE(w.Stop->isEnabled());
    EXPECT_TRUE(w.Write->isEnabled());
    const auto& flash = b.sim->Flash();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_EQ(flash[image.size()], 0xFF);

    // A second operation is separated from the first by an empty line.
    size_t before = b.LogLines().size();
    QTest::mouseClick(w.Verify, Qt::LeftButton);
    auto after = b.LogLines();
    ASSERT_GT(after.size(), before);
    EXPECT_EQ(after[before], "");
    EXPECT_NE(b.LogText().find("Verify Cart with File Ok"), std::string::npos) << b.LogText();
}

TEST(Window, StopDuringAWriteEndsItAndComesBackIdle) {
    SimConfig slow = SimConfigFor("strata-256M", "64K");
    slow.busyProgram = 400;  // every buffer program keeps the chip busy for a while
    WindowBench b(slow);
    qt::TForm1& w = *b.window;
    b.AddImage("big.gba", MakeGbaImage(32 * 32768, "SLOWGAME", 3));
    DoubleClickFile(w, "big.gba");

    PressStopOnceWriting(w);
    QTest::mouseClick(w.Write, Qt::LeftButton);

    auto lines = b.LogLines();
    EXPECT_NE(b.LogText().find("Stop process !!!"), std::string::npos) << b.LogText();
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("Time = [0-9]+ Sec"))) << lines.back();
    EXPECT_EQ(b.Panel(1), "Write Error!!!");
    EXPECT_EQ(b.s.StopRequested, 1);
    EXPECT_FALSE(w.Stop->isEnabled());
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_TRUE(w.Write->isEnabled());
    EXPECT_TRUE(w.ListView1->isEnabled());
    EXPECT_LT(w.ProgressBar1->value(), 100);
    // The chips were left able to answer: a new write completes.
    b.sim->SetBusyCounts(1, 16);
    QTest::mouseClick(w.Write, Qt::LeftButton);
    EXPECT_NE(b.LogText().find("Write To Cart Ok"), std::string::npos) << b.LogText();
}

TEST(Window, ARefusedOperationResetsThePanelsAndItsLineCanBeReadWhole) {
    TempDir d("refused");
    const std::string cart = d.str() + "/a folder with a rather long name for the cart/cart";
    std::string error;
    ASSERT_TRUE(CreateSimCart(cart, "single-32M", "none", "", error)) << error;
    qt::WindowOptions o;
    o.simDir = cart;
    qt::PortChain c = qt::OpenPortChain(o, 0x378);
    ASSERT_EQ(c.fatal, "");
    AppState s;
    s.Port = c.backend;
    s.EraseTimeFloorMs = 0;
    qt::TForm1 w(s, d.str());
    w.CreateDialogs();
    w.SetPortChain(&c);
    w.show();
    bool asked = false;
    auto erase = [&] {
        asked = false;
        QPointer<QTimer> watch = OnNextModal<QMessageBox>([&](QMessageBox* m) {
            asked = true;
            m->button(QMessageBox::Yes)->click();
        });
        QTest::mouseClick(w.EraseFlash, Qt::LeftButton);
        delete watch.data();
    };
    erase();
    ASSERT_TRUE(asked);
    ASSERT_EQ(w.StatusBar1->PanelText(1), "Erase ok");
    ASSERT_EQ(w.ProgressBar1->value(), 100);

    PortLock held;
    ASSERT_TRUE(held.Acquire(cart, error)) << error;
    erase();
    EXPECT_FALSE(asked);
    const QString refusal = w.Memo1->document()->lastBlock().text();
    ASSERT_TRUE(refusal.startsWith(QString::fromStdString("Simulated cart in " + cart + ": in use by ")))
        << refusal.toStdString();
    EXPECT_EQ(w.StatusBar1->PanelText(1), "");
    EXPECT_EQ(w.ProgressBar1->value(), 0);
    EXPECT_EQ(w.StatusBar1->PanelText(3), "");
    // The line is longer than the log is wide: the log scrolls to its end.
    QApplication::processEvents();
    QScrollBar* across = w.Memo1->horizontalScrollBar();
    const int width = w.Memo1->fontMetrics().horizontalAdvance(refusal);
    ASSERT_GT(width, w.Memo1->viewport()->width());
    EXPECT_TRUE(across->isVisible());
    EXPECT_GE(across->maximum() + w.Memo1->viewport()->width(), width);
}

TEST(Window, StopMeetingAChipThatNeverGetsReadyLeavesTheWindowAlive) {
    SimConfig stuck = SimConfigFor("single-128M", "64K");
    stuck.faultEraseStuckChunk = 0;
    WindowBench b(stuck);
    qt::TForm1& w = *b.window;
    // Stop well inside the erase that never ends; then count the events the
    // window handles while the stop waits for the chip.
    const long long before = b.sim->PortAccesses();
    bool stopped = false;
    int ticks = 0, handledInStopWait = 0;
    auto* t = new QTimer(&w);
    t->setInterval(1);
    QObject::connect(t, &QTimer::timeout, [&] {
        ++ticks;
        if (!w.Stop->isEnabled()) return;
        if (!stopped && b.sim->PortAccesses() - before > 300000) {
            stopped = true;
            QTest::mouseClick(w.Stop, Qt::LeftButton);
        } else if (stopped && b.LogText().find("Stop process !!!") == std::string::npos) {
            ++handledInStopWait;
        }
    });
    t->start();
    OnNextModal<QMessageBox>([](QMessageBox* m) { m->button(QMessageBox::Yes)->click(); });
    QTest::mouseClick(w.EraseFlash, Qt::LeftButton);
    ASSERT_TRUE(stopped) << ticks << " ticks, " << b.sim->PortAccesses() - before << " accesses";
    EXPECT_GT(handledInStopWait, 0);
    EXPECT_NE(b.LogText().find("Stop process !!!"), std::string::npos) << b.LogText();
    EXPECT_FALSE(w.Stop->isEnabled());
}

TEST(Window, EventPumpCalledInATightLoopStillHandlesEvents) {
    WindowBench b;
    qt::TForm1& w = *b.window;
    BeginOperation(b.s);
    // A Stop click waiting in the queue is handled by a loop of pumps, as a
    // write makes them (the deadline only keeps a broken pump from hanging).
    QMetaObject::invokeMethod(w.Stop, "click", Qt::QueuedConnection);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    long calls = 0;
    while (!b.s.StopRequested && std::chrono::steady_clock::now() < deadline) {
        w.ProcessMessages();
        ++calls;
    }
    EXPECT_EQ(b.s.StopRequested, 1) << "after " << calls << " pumps";

    // Going idle right after a pump still handles what is waiting.
    w.ProcessMessages();
    bool handled = false;
    QMetaObject::invokeMethod(
        &w, [&handled] { handled = true; }, Qt::QueuedConnection);
    EndOperation(b.s);
    EXPECT_TRUE(handled);
    // And so does going busy.
    handled = false;
    w.ProcessMessages();
    QMetaObject::invokeMethod(
        &w, [&handled] { handled = true; }, Qt::QueuedConnection);
    BeginOperation(b.s);
    EXPECT_TRUE(handled);
    EndOperation(b.s);
}

TEST(Window, ClosingDuringAWriteStopsItFirstAndThenCloses) {
    SimConfig slow = SimConfigFor("strata-256M", "64K");
    slow.busyProgram = 400;
    WindowBench b(slow);
    qt::TForm1& w = *b.window;
    b.AddImage("big.gba", MakeGbaImage(32 * 32768, "SLOWGAME", 4));
    DoubleClickFile(w, "big.gba");
    w.resize(600, 600);
    auto* t = new QTimer(&w);
    t->setInterval(1);
    QObject::connect(t, &QTimer::timeout, [&w, t] {
        if (w.Stop->isEnabled() && w.ProgressBar1->value() > 0) {
            t->stop();
            w.close();
        }
    });
    t->start();
    QTest::mouseClick(w.Write, Qt::LeftButton);
    EXPECT_NE(b.LogText().find("Stop process !!!"), std::string::npos);
    EXPECT_FALSE(w.isVisible());
    // The close went through FormClose: the new size is in config.sav.
    b.Reopen();
    EXPECT_EQ(b.window->size(), QSize(600, 600));
}

TEST(Window, ClosingDuringIdentificationEndsTheOperationBeforeItWrites) {
    WindowBench b("strata-256M");
    qt::TForm1& w = *b.window;
    b.AddImage("big.gba", MakeGbaImage(32 * 32768, "NOTWRITTEN", 5));
    DoubleClickFile(w, "big.gba");
    // The close request waits in the queue; the first event pump of the
    // command, in identification, takes it.
    QTest::qWait(20);
    QMetaObject::invokeMethod(&w, "close", Qt::QueuedConnection);
    w.Write->click();
    EXPECT_FALSE(w.isVisible());
    const std::string log = b.LogText();
    const auto first = log.find("Stop process !!!");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("Stop process !!!", first + 1), std::string::npos) << log;  // said once
    EXPECT_EQ(b.LogText().find("Write To Cart Ok"), std::string::npos) << b.LogText();
    EXPECT_EQ(b.sim->TotalEraseCount(), 0);
    EXPECT_EQ(b.sim->BufferProgramCount(), 0);
}

TEST(Window, GameListThroughTheWidgets) {
    WindowBench b;
    qt::TForm1& w = *b.window;
    b.AddImage("alpha.gba", MakeGbaImage(65536, "ALPHA", 1));
    b.AddImage("bravo.gba", MakeGbaImage(3 * 65536, "BRAVO", 2));
    b.AddImage("charlie.gb", MakeGbImage(32768, "CHARLIE", 0x80, 3));
    b.AddImage("tiny.gba", std::vector<std::uint8_t>(100, 0));
    b.AddImage("notes.txt", std::vector<std::uint8_t>(600, 'x'));

    // The type filter narrows the file list.
    w.FilterComboBox1->setCurrentIndex(2);  // GBA files
    QStringList shown;
    for (int i = 0; i < w.FileListBox1->count(); ++i) shown << w.FileListBox1->item(i)->text();
    EXPECT_EQ(shown, QStringList({"alpha.gba", "bravo.gba", "tiny.gba"}));
    w.FilterComboBox1->setCurrentIndex(0);
    EXPECT_EQ(w.FileListBox1->count(), 5);

    // A file written into the folder shows up by itself; the selection stays.
    b.SelectFiles({"bravo.gba"});
    WriteFileBytes(b.images + "/delta.gba", MakeGbaImage(65536, "DELTA", 4));
    for (int i = 0; i < 400 && w.FileListBox1->findItems("delta.gba", Qt::MatchExactly).isEmpty(); ++i)
        QTest::qWait(5);
    EXPECT_EQ(w.FileListBox1->count(), 6);
    EXPECT_EQ(w.FileListBox1->SelectedNames(), QStringList({"bravo.gba"}));
    // Enter adds the selected files, as a double-click does.
    w.FileListBox1->setFocus();
    QTest::keyClick(w.FileListBox1, Qt::Key_Return);
    EXPECT_EQ(Column(w, 0), QStringList({"bravo.gba"}));
    OnNextModal<QMessageBox>([](QMessageBox* m) { m->button(QMessageBox::Yes)->click(); });
    QTest::mouseClick(w.ClearAll, Qt::LeftButton);
    std::filesystem::remove(b.images + "/delta.gba");
    b.window->FileListBox1->Refresh();

    // Two files dragged from the file list onto the game list.
    b.SelectFiles({"alpha.gba", "bravo.gba"});
    EXPECT_TRUE(Drop(w.ListView1->viewport(), "FileListBox1"));
    EXPECT_EQ(Column(w, 0), QStringList({"alpha.gba", "bravo.gba"}));
    EXPECT_EQ(Column(w, 4), QStringList({"GBA", "GBA"}));
    EXPECT_EQ(Column(w, 2), QStringList({"65536", "196608"}));
    EXPECT_EQ(w.ListView1->topLevelItem(0)->text(1).toStdString(), b.images);
    // A drop of the list onto itself adds nothing; a tiny file is not added.
    EXPECT_TRUE(Drop(w.ListView1->viewport(), "ListView1"));
    DoubleClickFile(w, "tiny.gba");
    EXPECT_EQ(w.ListView1->topLevelItemCount(), 2);
    DoubleClickFile(w, "charlie.gb");
    EXPECT_EQ(Column(w, 4), QStringList({"GBA", "GBA", "GBC"}));
    EXPECT_TRUE(b.Panel(4).startsWith("[3]Total Size = ")) << b.Panel(4).toStdString();
    EXPECT_EQ(w.LabelCartSize->text().toStdString(), b.s.FitNote);
    EXPECT_FALSE(w.LabelCartSize->text().isEmpty());

    // Header clicks: "Name" first sorts descending, "Size" ascending, again
    // descending. The selected rows and the current row move with the sort.
    auto selectedNames = [&w] {
        QStringList names;
        for (int row : w.ListView1->SelectedRows()) names << w.ListView1->topLevelItem(row)->text(0);
        return names;
    };
    w.ListView1->setCurrentItem(w.ListView1->topLevelItem(2));  // charlie.gb
    w.ListView1->topLevelItem(0)->setSelected(true);            // alpha.gba
    ClickHeader(w, 0);
    EXPECT_EQ(Column(w, 0), QStringList({"charlie.gb", "bravo.gba", "alpha.gba"}));
    EXPECT_EQ(selectedNames(), QStringList({"charlie.gb", "alpha.gba"}));
    EXPECT_EQ(w.ListView1->currentItem()->text(0), "charlie.gb");
    ClickHeader(w, 2);
    EXPECT_EQ(Column(w, 0), QStringList({"charlie.gb", "alpha.gba", "bravo.gba"}));
    EXPECT_EQ(selectedNames(), QStringList({"charlie.gb", "alpha.gba"}));
    ClickHeader(w, 2);
    EXPECT_EQ(Column(w, 0), QStringList({"bravo.gba", "alpha.gba", "charlie.gb"}));
    EXPECT_EQ(selectedNames(), QStringList({"alpha.gba", "charlie.gb"}));
    EXPECT_EQ(w.ListView1->currentItem()->text(0), "charlie.gb");
    w.ListView1->clearSelection();

    // Save the list through the context menu.
    std::string listFile = b.dir.str() + "/games.lst";
    AnswerFileDialog(listFile);
    MenuAction(w, "SaveFromList")->trigger();
    auto saved = ReadFileBytes(listFile);
    std::string text(saved.begin(), saved.end());
    EXPECT_EQ(text.substr(0, 11), "bravo.gba\r\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 18);
    EXPECT_EQ(b.LogLines().back(), "Save List Ok");

    // Delete key on the selected row; a drag of a row onto Image1.
    w.ListView1->topLevelItem(1)->setSelected(true);
    w.ListView1->setFocus();
    QTest::keyClick(w.ListView1, Qt::Key_Delete);
    EXPECT_EQ(Column(w, 0), QStringList({"bravo.gba", "charlie.gb"}));
    EXPECT_FALSE(Drop(w.Image1, "FileListBox1"));  // only rows of the list can be dropped there
    EXPECT_EQ(w.ListView1->topLevelItemCount(), 2);
    w.ListView1->topLevelItem(0)->setSelected(true);
    EXPECT_TRUE(Drop(w.Image1, "ListView1"));
    EXPECT_EQ(Column(w, 0), QStringList({"charlie.gb"}));

    // Clear All asks first; No keeps the rows.
    OnNextModal<QMessageBox>([](QMessageBox* m) {
        EXPECT_EQ(m->text(), "Do You want to Delete All Files?");
        EXPECT_EQ(m->windowTitle(), "Rombolt Writer");
        m->button(QMessageBox::No)->click();
    });
    QTest::mouseClick(w.ClearAll, Qt::LeftButton);
    EXPECT_EQ(w.ListView1->topLevelItemCount(), 1);
    OnNextModal<QMessageBox>([](QMessageBox* m) { m->button(QMessageBox::Yes)->click(); });
    QTest::mouseClick(w.ClearAll, Qt::LeftButton);
    EXPECT_EQ(w.ListView1->topLevelItemCount(), 0);
    EXPECT_FALSE(w.Write->isEnabled());
    EXPECT_EQ(w.LabelCartSize->text(), "");

    // Load List brings the saved rows back; Add List appends them again.
    AnswerFileDialog(listFile);
    MenuAction(w, "LoadToList")->trigger();
    EXPECT_EQ(Column(w, 0), QStringList({"bravo.gba", "alpha.gba", "charlie.gb"}));
    EXPECT_EQ(Column(w, 3), QStringList({"BRAVO", "ALPHA", "CHARLIE"}));
    EXPECT_EQ(b.LogLines().back(), "Load List Ok");
    EXPECT_TRUE(w.Write->isEnabled());
    AnswerFileDialog(listFile);
    MenuAction(w, "AddToList")->trigger();
    EXPECT_EQ(w.ListView1->topLevelItemCount(), 6);
    EXPECT_EQ(b.LogLines().back(), "Add List Ok");
    // Of two equal rows, one selected stays one selected.
    w.ListView1->clearSelection();
    w.ListView1->topLevelItem(3)->setSelected(true);  // the second bravo.gba
    ClickHeader(w, 0);
    EXPECT_EQ(selectedNames(), QStringList({"bravo.gba"}));
    // A cancelled dialog changes nothing.
    AnswerFileDialog("");
    MenuAction(w, "LoadToList")->trigger();
    EXPECT_EQ(w.ListView1->topLevelItemCount(), 6);
}

// A folder under `root` whose path is too long for a config.sav field.
std::string LongFolder(const TempDir& root) {
    std::string path = root.str() + "/" + std::string(120, 'd') + "/" + std::string(120, 'e') + "/f";
    std::filesystem::create_directories(path);
    return path;
}

TEST(Window, PathsTooLongForConfigSavAreReported) {
    // Browsing into a deep folder: closing says it was not remembered.
    {
        WindowBench b;
        const std::string deep = LongFolder(b.dir);
        ASSERT_TRUE(b.window->DirectoryListBox1->SetDirectory(QString::fromStdString(deep)));
        QString warning;
        OnNextModal<QMessageBox>([&warning](QMessageBox* m) {
            warning = m->text();
            EXPECT_EQ(m->icon(), QMessageBox::Warning);
            m->button(QMessageBox::Ok)->click();
        });
        b.Close();
        EXPECT_EQ(warning, "Path too long for config.sav: CurrentDirectory\nThe previous value is kept.");
        EXPECT_FALSE(b.window->isVisible());
        // The folder remembered before stays.
        b.Reopen();
        EXPECT_EQ(b.window->DirectoryListBox1->Directory().toStdString(), b.dir.str());
        EXPECT_EQ(b.LogText(), "");
    }

    // Started in a deep folder: every path field defaults to it, one log line each.
    TempDir root("deep");
    const std::string deep = LongFolder(root);
    SimPort sim(SimConfigFor("vela-64M", "64K"));
    AppState s;
    s.Port = &sim;
    qt::TForm1 w(s, deep);
    w.CreateDialogs();
    QStringList lines = w.Memo1->toPlainText().split('\n');
    lines.sort();
    EXPECT_EQ(lines, QStringList({"Path too long for config.sav: CurrentDirectory",
                                  "Path too long for config.sav: GbLoaderFile",
                                  "Path too long for config.sav: GbaLoaderFile",
                                  "Path too long for config.sav: LastOpenFile",
                                  "Path too long for config.sav: LastSaveFile"}));
    // Lines logged at start-up are not covered by the start-up picture.
    EXPECT_TRUE(w.Image2->isHidden());
    // The settings were still written, and the window works.
    EXPECT_EQ(std::filesystem::file_size(deep + "/config.sav"), 1340u);
    EXPECT_TRUE(w.Read->isEnabled());
}

TEST(Window, SizeAndColumnsComeBackOnTheNextStartAndAnchorsFollowResizes) {
    WindowBench b;
    {
        qt::TForm1& w = *b.window;
        EXPECT_EQ(w.size(), QSize(qt::TForm1::kDesignClientWidth, qt::TForm1::kDesignClientHeight));
        const int design[5] = {135, 140, 60, 95, 50};
        for (int c = 0; c < 5; ++c) EXPECT_EQ(w.ListView1->columnWidth(c), design[c]);

        w.resize(700, 650);
        QApplication::processEvents();
        const int dx = 700 - 545, dy = 650 - 579;
        EXPECT_EQ(w.ListView1->geometry(), QRect(8, 352, 530 + dx, 185 + dy));
        EXPECT_EQ(w.FilterComboBox1->geometry(), QRect(400, 8, 138 + dx, 21));
        EXPECT_EQ(w.DirectoryListBox1->geometry(), QRect(304, 40, 234 + dx, 97));
        EXPECT_EQ(w.FileListBox1->geometry(), QRect(264, 152, 274 + dx, 156));
        EXPECT_EQ(w.Write->geometry(), QRect(6, 8, 68, 25));
        EXPECT_EQ(w.Memo1->geometry(), QRect(8, 128, 240, 180));
        EXPECT_EQ(w.LabelCartSize->pos(), QPoint(256, 543 + dy));
        EXPECT_EQ(w.StatusBar1->geometry(), QRect(0, 650 - 19, 700, 19));
        // The progress bar stays over panel 2.
        QRect panel = w.StatusBar1->PanelRect(2);
        EXPECT_EQ(w.ProgressBar1->geometry().topLeft(), panel.topLeft());
        EXPECT_EQ(w.ProgressBar1->width(), 120 - 4);

        w.ListView1->setColumnWidth(1, 222);
        w.ListView1->setColumnWidth(4, 77);
        b.Close();
    }
    auto bytes = ReadFileBytes(b.dir.path() / "config.sav");
    ASSERT_EQ(bytes.size(), 1340u);
    b.Reopen();
    qt::TForm1& w = *b.window;
    EXPECT_EQ(w.size(), QSize(700, 650));
    EXPECT_EQ(w.ListView1->columnWidth(1), 222);
    EXPECT_EQ(w.ListView1->columnWidth(4), 77);
    EXPECT_EQ(w.ListView1->columnWidth(0), 135);
    // The browsing directory came back too.
    EXPECT_EQ(w.DirectoryListBox1->Directory().toStdString(), b.images);
}

TEST(Window, ClosingUnchangedLeavesConfigSavAsItWasWithASizeBelowTheMinimum) {
    WindowBench b;
    b.Close();
    const auto path = b.dir.path() / "config.sav";
    auto bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 1340u);
    // A stored height of 400, below what the window can be (it is raised).
    bytes[524] = 400 & 0xFF;
    bytes[525] = 400 >> 8;
    WriteFileBytes(path, bytes);
    const auto written = std::filesystem::last_write_time(path);
    b.Reopen();
    EXPECT_GT(b.window->height() + qt::TForm1::kFrameHeight, 400);
    b.Close();
    EXPECT_EQ(ReadFileBytes(path), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(path), written);
}

TEST(Window, FileDialogsStartWithTheFilesOfConfigSavAndTheIpsPromptSaysWhatItAsks) {
    WindowBench b;
    const std::string list = b.dir.str() + "/games.lst";
    const std::string backup = b.dir.str() + "/backup.gba";
    WriteFileBytes(list, {});
    WriteFileBytes(backup, {});
    AnswerFileDialog(list);
    ASSERT_EQ(b.window->ChooseFile(FileDialog::OpenFile), list);
    b.s.SaveDialogFile = backup;  // as a backup into it leaves it
    b.Close();
    b.Reopen();

    auto look = [&b](FileDialog which) {
        std::pair<QString, QString> seen;
        OnNextModal<QFileDialog>([&seen](QFileDialog* d) {
            seen = {d->directory().absolutePath(), d->findChild<QLineEdit*>("fileNameEdit")->text()};
            d->reject();
        });
        EXPECT_EQ(b.window->ChooseFile(which), std::nullopt);
        return seen;
    };
    // LastOpenFile names the open and the IPS dialog's file, LastSaveFile
    // the save dialog's, each in its own folder, not the browser's.
    const QString folder = QString::fromStdString(b.dir.str());
    ASSERT_NE(b.window->DirectoryListBox1->Directory(), folder);
    EXPECT_EQ(look(FileDialog::OpenFile), std::make_pair(folder, QString("games.lst")));
    EXPECT_EQ(look(FileDialog::SaveFile), std::make_pair(folder, QString("backup.gba")));

    // The patch prompt names what it asks for, with IPS files shown first.
    OnNextModal<QFileDialog>([&folder](QFileDialog* d) {
        EXPECT_EQ(d->windowTitle(), "Open IPS Patch File");
        EXPECT_EQ(d->selectedNameFilter(), "IPS File (*.ips)");
        EXPECT_EQ(d->directory().absolutePath(), folder);
        EXPECT_EQ(d->findChild<QLineEdit*>("fileNameEdit")->text(), "games.lst");
        d->reject();
    });
    EXPECT_EQ(b.window->ChooseFile(FileDialog::IpsFile), std::nullopt);

    // A LastOpenFile that is gone gives no name: the dialogs open in the browser's folder.
    std::filesystem::remove(list);
    b.Close();
    b.Reopen();
    const QString images = QString::fromStdString(b.images);
    EXPECT_EQ(look(FileDialog::OpenFile), std::make_pair(images, QString()));
    EXPECT_EQ(look(FileDialog::IpsFile), std::make_pair(images, QString()));
}

// The suite runs this once more at 150 % (QT_SCALE_FACTOR=1.5), where the
// lists' content used to be painted over the right and bottom lines of their frames.
// A caption wider than its control is drawn clipped: with a fallback font
// wider than the design's, "Backup Save" shows as "ackup Save".
TEST(Window, EveryCaptionFitsItsControlInTheFontUsed) {
    WindowBench b;
    qt::TForm1& w = *b.window;
    auto shown = [](QString t) { return t.replace(QRegularExpression("&(.)"), "\\1"); };
    auto widest = [](const QFontMetrics& m, const QString& text) {
        int most = 0;
        for (const QString& line : text.split('\n')) most = std::max(most, m.horizontalAdvance(line));
        return most;
    };
    int checked = 0;
    for (QWidget* root : std::initializer_list<QWidget*>{&w, w.FormConfig, w.FormCartSize, w.FormSaverSize}) {
        ASSERT_NE(root, nullptr);
        for (QWidget* c : root->findChildren<QWidget*>()) {
            QString text;
            QRect room;
            QStyleOptionButton opt;
            opt.initFrom(c);
            if (auto* button = qobject_cast<QPushButton*>(c)) {
                text = shown(button->text());
                opt.text = text;
                room = c->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, c);
            } else if (auto* box = qobject_cast<QCheckBox*>(c)) {
                text = shown(box->text());
                opt.text = text;
                room = c->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, c);
            } else if (auto* radio = qobject_cast<QRadioButton*>(c)) {
                text = shown(radio->text());
                opt.text = text;
                room = c->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, c);
            } else if (auto* label = qobject_cast<QLabel*>(c); label && label->pixmap().isNull()) {
                text = label->textFormat() == Qt::RichText ? QString() : shown(label->text());
                room = label->contentsRect();
            } else if (auto* group = qobject_cast<QGroupBox*>(c)) {
                text = shown(group->title());
                room = group->rect().adjusted(8, 0, -8, 0);
            }
            if (text.isEmpty() || !c->isVisibleTo(root)) continue;
            ++checked;
            const QFontMetrics m(c->font());
            EXPECT_LE(widest(m, text), room.width())
                << root->objectName().toStdString() << "/" << c->objectName().toStdString() << " \""
                << text.toStdString() << "\" in " << QFontInfo(c->font()).family().toStdString() << " "
                << c->font().pixelSize() << " px";
        }
    }
    EXPECT_GT(checked, 30);
}

TEST(Window, FrameEdgesShowAtAnyScale) {
    WindowBench b;
    qt::TForm1& w = *b.window;
    b.AddImage("one.gba", MakeGbaImage(65536, "ONE", 1));
    DoubleClickFile(w, "one.gba");
    w.ListView1->topLevelItem(0)->setSelected(true);  // a highlight up to the right edge
    for (QWidget* c :
         std::initializer_list<QWidget*>{w.DirectoryListBox1, w.FileListBox1, w.ListView1, w.Memo1}) {
        const QImage img = c->grab().toImage();
        const int x = img.width() - 1, y = img.height() - 1;
        const QRgb line = img.pixel(0, y / 2);  // the left line of the frame
        EXPECT_TRUE(img.pixel(x, y / 2) == line || img.pixel(x - 1, y / 2) == line)
            << c->objectName().toStdString() << ": no right line";
        EXPECT_TRUE(img.pixel(x / 2, y) == line || img.pixel(x / 2, y - 1) == line)
            << c->objectName().toStdString() << ": no bottom line";
    }
}

TEST(Window, FitsASmallScreenAndNeverGetsSmallerThanItsControls) {
    WindowBench b;
    qt::TForm1& w = *b.window;
    // One small game: the cart size note names all five models, its longest.
    b.AddImage("small.gba", MakeGbaImage(65536, "SMALL", 1));
    DoubleClickFile(w, "small.gba");
    ASSERT_EQ(w.LabelCartSize->text(), "Only for:64M/128M/Vela64M/Vela128M/Vela256M");
    const QSize frame(qt::TForm1::kFrameWidth, qt::TForm1::kFrameHeight);

    // A size remembered on a larger screen is cut down to this one, centred.
    w.resize(900, 800);
    const QRect screen(0, 0, 640, 512);
    w.PlaceOnScreen(screen);
    EXPECT_TRUE(screen.contains(w.frameGeometry()));
    EXPECT_EQ(w.frameGeometry().width(), 640);

    // Never so small that a control is cut off or squeezed to nothing.
    w.resize(100, 100);
    QApplication::processEvents();
    EXPECT_EQ(w.size(), w.minimumSize());
    for (QWidget* c : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (c->isWindow() || c->isHidden()) continue;
        EXPECT_TRUE(w.rect().contains(c->geometry())) << c->objectName().toStdString();
        EXPECT_GT(c->width(), 16) << c->objectName().toStdString();
        EXPECT_GT(c->height(), 10) << c->objectName().toStdString();
    }
    EXPECT_GE(w.ListView1->height(), 48);
    EXPECT_LE(w.LabelCartSize->geometry().bottom(), w.StatusBar1->y());
    // A screen smaller than that: the title bar stays on it.
    w.PlaceOnScreen(QRect(0, 0, 320, 240));
    EXPECT_EQ(w.frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(w.size(), w.minimumSize());
    // and a smaller size is never remembered.
    EXPECT_EQ(w.CaptureWindowState().Height, w.minimumHeight() + frame.height());

    // Fitted to a screen only, the window keeps its remembered size for the next start.
    w.resize(900, 800);
    w.PlaceOnScreen(screen);
    b.Close();
    b.Reopen();
    EXPECT_EQ(b.window->size(), QSize(900, 800));
}

}  // namespace
}  // namespace rombolt::test::gui
