// The Config, cart size and save range dialogs, driven through their controls.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include "command_line.h"
#include "gui_support.h"
#include "link/detect.h"
#include "ops/commands.h"

namespace rombolt::test::gui {
namespace {

// Closes a dialog by its window's close box.
void CloseBox(QWidget* d) { QMetaObject::invokeMethod(d, "close", Qt::QueuedConnection); }

TEST(ConfigDialog, CloseBoxAppliesTheChoicesLikeOk) {
    WindowBench b;
    qt::TForm1& w = *b.window;
    b.AddImage("padded.gba", MakeGbaImage(4 * 32768, "PAD", 5, /*paddedTail=*/true));
    b.SelectFiles({"padded.gba"});
    emit w.FileListBox1->itemDoubleClicked(w.FileListBox1->currentItem());
    ASSERT_EQ(b.s.GameList.size(), 1u);
    ASSERT_EQ(b.s.Config.Cut32K, 1);
    const QString sizeWithCut = b.Panel(4);
    EXPECT_EQ(b.s.Link.DataPort, 0x378);

    OnNextModal<qt::TFormConfig>([](qt::TFormConfig* d) {
        // Filled from the settings.
        EXPECT_EQ(d->windowTitle(), "Configuration");
        EXPECT_EQ(d->Port_sel->ItemIndex(), 0);
        EXPECT_EQ(d->RadioSpeed->ItemIndex(), 0);
        EXPECT_FALSE(d->CheckBoxIps->isChecked());
        EXPECT_FALSE(d->CheckBoxVerify->isChecked());
        EXPECT_TRUE(d->CheckBoxFixRom->isChecked());
        EXPECT_TRUE(d->CheckBoxCut32K->isChecked());
        EXPECT_EQ(d->Label2->text(), "");
        d->Port_sel->Item(1)->click();
        d->RadioSpeed->Item(3)->click();
        d->CheckBoxIps->click();
        d->CheckBoxVerify->click();
        d->CheckBoxFixRom->click();
        d->CheckBoxCut32K->click();
        CloseBox(d);
    });
    QTest::mouseClick(w.Config, Qt::LeftButton);

    EXPECT_EQ(b.s.Config.PortIndex, 1);
    EXPECT_EQ(b.s.Config.SpeedIndex, 3);
    EXPECT_EQ(b.s.Config.IpsApply, 1);
    EXPECT_EQ(b.s.Config.VerifyAfterWrite, 1);
    EXPECT_EQ(b.s.Config.FixRom, 0);
    EXPECT_EQ(b.s.Config.Cut32K, 0);
    // The port selection is applied at once, and the list size follows Cut 32K.
    EXPECT_EQ(b.s.Link.DataPort, 0x278);
    EXPECT_EQ(b.s.Link.EppDataPort, 0x27C);
    EXPECT_NE(b.Panel(4), sizeWithCut);

    // Reopened, the dialog shows what was chosen; OK keeps it.
    OnNextModal<qt::TFormConfig>([](qt::TFormConfig* d) {
        EXPECT_EQ(d->Port_sel->ItemIndex(), 1);
        EXPECT_EQ(d->RadioSpeed->ItemIndex(), 3);
        EXPECT_TRUE(d->CheckBoxIps->isChecked());
        EXPECT_FALSE(d->CheckBoxCut32K->isChecked());
        d->Port_sel->Item(2)->click();
        d->OK->click();
    });
    QTest::mouseClick(w.Config, Qt::LeftButton);
    EXPECT_EQ(b.s.Link.DataPort, 0x3BC);
    // The choices reach config.sav when the window closes.
    b.Close();
    b.Reopen();
    EXPECT_EQ(b.s.Config.PortIndex, 2);
    EXPECT_EQ(b.s.Config.SpeedIndex, 3);
    EXPECT_EQ(b.s.Config.Cut32K, 0);
}

TEST(ConfigDialog, SkipUnchangedReachesTheWriteButNeverConfigSav) {
    WindowBench b("strata-128M");
    qt::TForm1& w = *b.window;
    auto image = MakeGbaImage(8 * 32768, "SKIPPER", 6);
    b.AddImage("game.gba", image);
    b.SelectFiles({"game.gba"});
    emit w.FileListBox1->itemDoubleClicked(w.FileListBox1->currentItem());
    QTest::mouseClick(w.Write, Qt::LeftButton);
    ASSERT_NE(b.LogText().find("Write To Cart Ok"), std::string::npos) << b.LogText();
    const long erasesAfterFirstWrite = b.sim->TotalEraseCount();
    ASSERT_GT(erasesAfterFirstWrite, 0);
    // Nothing is pending for config.sav; keep its bytes to compare.
    b.Close();
    b.Reopen();
    qt::TForm1& w2 = *b.window;
    const auto savedBefore = ReadFileBytes(b.dir.path() / "config.sav");

    OnNextModal<qt::TFormConfig>([](qt::TFormConfig* d) {
        EXPECT_EQ(d->CheckSkipUnchanged->text(), "Skip unchanged blocks");
        EXPECT_FALSE(d->CheckSkipUnchanged->isChecked());
        // Below the loader rows, inside the dialog.
        EXPECT_GT(d->CheckSkipUnchanged->y(), d->Label4->geometry().bottom());
        EXPECT_LT(d->CheckSkipUnchanged->geometry().bottom(), d->OK->y());
        EXPECT_TRUE(d->rect().contains(d->OK->geometry()));
        d->CheckSkipUnchanged->click();
        CloseBox(d);
    });
    QTest::mouseClick(w2.Config, Qt::LeftButton);
    EXPECT_TRUE(b.s.SkipUnchanged);

    // The same game again: every block already holds it, nothing is erased.
    QTest::mouseClick(w2.Write, Qt::LeftButton);
    EXPECT_NE(b.LogText().find("Write To Cart Ok"), std::string::npos) << b.LogText();
    EXPECT_EQ(b.sim->TotalEraseCount(), erasesAfterFirstWrite);

    // The dialog shows the run's setting; OK with it cleared turns it off.
    OnNextModal<qt::TFormConfig>([](qt::TFormConfig* d) {
        EXPECT_TRUE(d->CheckSkipUnchanged->isChecked());
        d->CheckSkipUnchanged->click();
        d->OK->click();
    });
    QTest::mouseClick(w2.Config, Qt::LeftButton);
    EXPECT_FALSE(b.s.SkipUnchanged);
    b.s.SkipUnchanged = true;
    b.Close();
    // Toggling it changed nothing in config.sav.
    EXPECT_EQ(ReadFileBytes(b.dir.path() / "config.sav"), savedBefore);

    // Turned on in the dialog, it is on at the next start, from the window's
    // own settings file.
    OnNextModal<qt::TFormConfig>([](qt::TFormConfig* d) {
        d->CheckSkipUnchanged->click();
        d->OK->click();
    });
    b.Reopen();
    b.s.SkipUnchanged = false;
    QTest::mouseClick(b.window->Config, Qt::LeftButton);
    ASSERT_TRUE(b.s.SkipUnchanged);
    b.Close();
    b.s.SkipUnchanged = false;
    b.Reopen();
    EXPECT_TRUE(b.s.SkipUnchanged);
    EXPECT_TRUE(std::filesystem::exists(b.dir.path() / "settings" / "rombolt" / "rombolt-writer.ini"));
    EXPECT_EQ(ReadFileBytes(b.dir.path() / "config.sav"), savedBefore);
}

TEST(ConfigDialog, LoaderButtonsTakeOnlyFilesOf32K) {
    WindowBench b;
    qt::TForm1& w = *b.window;
    std::string good = b.dir.str() + "/loader.bin";
    std::string shortFile = b.dir.str() + "/short.bin";
    WriteFileBytes(good, std::vector<std::uint8_t>(32768, 0x11));
    WriteFileBytes(shortFile, std::vector<std::uint8_t>(32767, 0x11));
    const std::string deepDir = b.dir.str() + "/" + std::string(200, 'l') + "/" + std::string(60, 'm');
    std::filesystem::create_directories(deepDir);
    const std::string deepFile = deepDir + "/deep-loader.bin";
    WriteFileBytes(deepFile, std::vector<std::uint8_t>(32768, 0x22));
    const std::string before = b.s.Config.GbLoaderFile.str();

    OnNextModal<qt::TFormConfig>([&](qt::TFormConfig* d) {
        EXPECT_EQ(d->SetGbaPreBoot->toolTip(), "Set GBA Multi-Boot File");
        EXPECT_EQ(d->SetGbPreBoot->toolTip(), "Set GB Multi-Boot File");
        EXPECT_EQ(d->Label3->text().toStdString(), before);
        // A right-sized file whose path does not fit config.sav is refused, and said so.
        AnswerFileDialog(deepFile);
        d->SetGbaPreBoot->click();
        EXPECT_EQ(d->Label1->text(), "File Path Too Long!!!");
        EXPECT_EQ(d->Label2->text(), "Set GBA Multi-Boot File Cancel");
        AnswerFileDialog(good);
        d->SetGbaPreBoot->click();
        EXPECT_EQ(d->Label1->text().toStdString(), good);
        EXPECT_EQ(d->Label2->text(), "");
        AnswerFileDialog(shortFile);
        d->SetGbPreBoot->click();
        EXPECT_EQ(d->Label3->text(), "File Size Error!!!");
        EXPECT_EQ(d->Label4->text(), "Set GB Multi-Boot File Cancel");
        AnswerFileDialog("");
        d->SetGbPreBoot->click();
        EXPECT_EQ(d->Label3->text(), "Set GB Multi-Boot File Cancel");
        d->OK->click();
    });
    QTest::mouseClick(w.Config, Qt::LeftButton);
    EXPECT_EQ(b.s.Config.GbaLoaderFile.str(), good);
    EXPECT_EQ(b.s.Config.GbLoaderFile.str(), before);
    // Nothing of this goes to the log.
    EXPECT_EQ(b.LogText(), "");
}

TEST(CartSizeDialog, OkCancelAndCloseBox) {
    WindowBench b;
    qt::TFormCartSize* d = b.window->FormCartSize;
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), "Select Cart size");
    EXPECT_EQ(d->SelectCartSize->title(), "SelectCartSize");
    ASSERT_EQ(d->SelectCartSize->Count(), 6);
    EXPECT_EQ(d->SelectCartSize->Item(0)->text(), "8M");
    EXPECT_EQ(d->SelectCartSize->Item(5)->text(), "256M");

    // Preselected item confirmed; another item chosen; Cancel; the close box.
    OnNextModal<qt::TFormCartSize>([](qt::TFormCartSize* f) {
        EXPECT_EQ(f->SelectCartSize->ItemIndex(), 2);
        f->OK->click();
    });
    EXPECT_EQ(b.window->ChooseCartSize(2), 128);
    OnNextModal<qt::TFormCartSize>([](qt::TFormCartSize* f) {
        f->SelectCartSize->Item(5)->click();
        f->OK->click();
    });
    EXPECT_EQ(b.window->ChooseCartSize(0), 1024);
    OnNextModal<qt::TFormCartSize>([](qt::TFormCartSize* f) { f->CANCEL->click(); });
    EXPECT_EQ(b.window->ChooseCartSize(3), 0);
    OnNextModal<qt::TFormCartSize>([](qt::TFormCartSize* f) { CloseBox(f); });
    EXPECT_EQ(b.window->ChooseCartSize(4), 4);
    // The same dialog object every time.
    EXPECT_EQ(b.window->FormCartSize, d);

    // All three dialogs have a fixed size (window managers then refuse to
    // resize or maximise them).
    for (QDialog* f : std::initializer_list<QDialog*>{d, b.window->FormSaverSize, b.window->FormConfig})
        EXPECT_EQ(f->minimumSize(), f->maximumSize()) << f->windowTitle().toStdString();
}

TEST(CartSizeDialog, BackupThroughTheWindowWritesTheChosenSize) {
    WindowBench b("vela-64M");
    std::string out = b.dir.str() + "/backup.gba";
    AnswerFileDialog(out);
    bool askedToErase = false;
    QPointer<QTimer> eraseQuestion = OnNextModal<QMessageBox>([&](QMessageBox* m) {
        askedToErase = true;
        m->button(QMessageBox::No)->click();
    });
    qt::TForm1& w = *b.window;
    OnNextModal<qt::TFormCartSize>([&](qt::TFormCartSize* f) {
        // A second command cannot start inside the running one.
        EXPECT_TRUE(w.CommandRunning());
        w.EraseFlash->click();
        // A flash cart is offered whole: 64M.
        EXPECT_EQ(f->SelectCartSize->ItemIndex(), 3);
        f->SelectCartSize->Item(0)->click();
        f->OK->click();
    });
    auto game = MakeGbaImage(2 * 32768, "INCART", 9);
    std::copy(game.begin(), game.end(), b.sim->Flash().begin());
    QTest::mouseClick(b.window->Read, Qt::LeftButton);
    EXPECT_NE(b.LogText().find("Cart Size = 8M"), std::string::npos) << b.LogText();
    auto bytes = ReadFileBytes(out);
    ASSERT_EQ(bytes.size(), 1024u * 1024u);
    EXPECT_TRUE(std::equal(game.begin(), game.end(), bytes.begin()));
    EXPECT_EQ(bytes[game.size()], 0xFF);
    EXPECT_FALSE(askedToErase);
    delete eraseQuestion;
    EXPECT_FALSE(w.CommandRunning());

    // Esc in the size dialog is a cancel, not a failed backup.
    AnswerFileDialog(b.dir.str() + "/not-made.gba");
    OnNextModal<qt::TFormCartSize>([](qt::TFormCartSize* f) { QTest::keyClick(f, Qt::Key_Escape); });
    QTest::mouseClick(b.window->Read, Qt::LeftButton);
    const auto lines = b.LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Backup Cancel"), 1) << b.LogText();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Backup Error!!!"), 0) << b.LogText();
    EXPECT_FALSE(std::filesystem::exists(b.dir.path() / "not-made.gba"));
}

TEST(SaverSizeDialog, BankCodeSelectionsPersistAndCancel) {
    WindowBench b;
    qt::TFormSaverSize* d = b.window->FormSaverSize;
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->windowTitle(), "Bank and Size Select");
    EXPECT_EQ(d->Edit1->text(), "1A");
    EXPECT_TRUE(d->Edit1->isReadOnly());
    EXPECT_EQ(d->Selection(), std::make_pair(0, 1));

    // Bank 2, half B, quarter 3 at 8K: unit 14, code 2B3.
    OnNextModal<qt::TFormSaverSize>([](qt::TFormSaverSize* f) {
        f->RadioBankSel64K->Item(1)->click();
        f->RadioBankSel32K->Item(1)->click();
        f->RadioBankSel8K->Item(2)->click();
        f->RadioSizeSel->Item(0)->click();
        EXPECT_EQ(f->Edit1->text(), "2B3");
        f->OK->click();
    });
    auto c = b.window->ChooseSaverRange();
    EXPECT_EQ(c.startUnit, 14);
    EXPECT_EQ(c.sizeIndex, 0);
    EXPECT_FALSE(c.dismissed);

    // The selections persist; 64K from bank 4 gives code 4.
    OnNextModal<qt::TFormSaverSize>([](qt::TFormSaverSize* f) {
        EXPECT_EQ(f->Edit1->text(), "2B3");
        f->RadioBankSel64K->Item(3)->click();
        f->RadioBankSel32K->Item(0)->click();
        f->RadioBankSel8K->Item(0)->click();
        f->RadioSizeSel->Item(2)->click();
        EXPECT_EQ(f->Edit1->text(), "4");
        f->OK->click();
    });
    c = b.window->ChooseSaverRange();
    EXPECT_EQ(c.startUnit, 24);
    EXPECT_EQ(c.sizeIndex, 2);

    // Cancel gives -1/-1, and so does the close box right after it; a click
    // on a radio group brings a selection back.
    OnNextModal<qt::TFormSaverSize>([](qt::TFormSaverSize* f) { f->CANCEL->click(); });
    c = b.window->ChooseSaverRange();
    EXPECT_EQ(c.startUnit, -1);
    EXPECT_EQ(c.sizeIndex, -1);
    OnNextModal<qt::TFormSaverSize>([](qt::TFormSaverSize* f) { CloseBox(f); });
    EXPECT_EQ(b.window->ChooseSaverRange().startUnit, -1);
    OnNextModal<qt::TFormSaverSize>([](qt::TFormSaverSize* f) {
        f->RadioSizeSel->Item(1)->click();
        CloseBox(f);
    });
    c = b.window->ChooseSaverRange();
    EXPECT_EQ(c.startUnit, 24);
    EXPECT_EQ(c.sizeIndex, 1);
    EXPECT_TRUE(c.dismissed);
}

TEST(SaverSizeDialog, SaveBackupThroughTheWindow) {
    WindowBench b("vela-256M");
    auto& save = b.sim->Save();
    for (size_t i = 0; i < save.size(); ++i) save[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    std::string out = b.dir.str() + "/game.sav";
    OnNextModal<qt::TFormSaverSize>([&](qt::TFormSaverSize* f) {
        EXPECT_EQ(f->RadioSizeSel->ItemIndex(), 2) << "the 64K found from the mirroring";
        f->RadioBankSel64K->Item(0)->click();
        f->RadioBankSel32K->Item(1)->click();
        f->RadioBankSel8K->Item(0)->click();
        f->RadioSizeSel->Item(1)->click();  // 32K from half B
        AnswerFileDialog(out);
        f->OK->click();
    });
    QTest::mouseClick(b.window->SRead, Qt::LeftButton);
    EXPECT_NE(b.LogText().find("Backup Saver 32K Ok"), std::string::npos) << b.LogText();
    EXPECT_EQ(b.Panel(1), "OK");
    auto bytes = ReadFileBytes(out);
    ASSERT_EQ(bytes.size(), 32768u);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), save.begin() + 32768));

    // Write Saver with the dialog closed by Esc: no file is asked for and
    // nothing is written.
    const auto before = save;
    OnNextModal<qt::TFormSaverSize>([](qt::TFormSaverSize* f) { QTest::keyClick(f, Qt::Key_Escape); });
    bool askedForFile = false;
    QPointer<QTimer> fileDialog = OnNextModal<QFileDialog>([&](QFileDialog* d) {
        askedForFile = true;
        d->reject();
    });
    QTest::mouseClick(b.window->SWrite, Qt::LeftButton);
    delete fileDialog;
    EXPECT_FALSE(askedForFile);
    EXPECT_EQ(b.LogLines().back(), "Saver Select Cancel");
    EXPECT_EQ(b.sim->Save(), before);
}

// "Other" takes a port config.sav has no room for: typed (or one the kernel
// lists), kept in rombolt-writer.ini, opened at once; LPT1-3 bring config.sav's
// choice back. A port that cannot be opened points to --sim.
TEST(ConfigDialog, AnotherPortIsOpenedAndKeptOutsideConfigSav) {
    TempDir d("otherport");
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(d.str()));
    std::vector<std::string> opened;
    auto opener = [&](const std::string& option, int base, bool) {
        opened.push_back(option);
        OpenedPort r;
        r.base = option == "0xD010" ? 0xD010 : base;
        if (option == "/dev/parport9") {
            r.backend = std::make_unique<NullPort>();
            r.message = "Cannot open /dev/parport9";
            return r;
        }
        SimConfig c = SimConfigFor("vela-64M", "64K");
        c.bases = {r.base};
        r.backend = std::make_unique<SimPort>(c);
        return r;
    };
    qt::PortChain c = qt::OpenPortChain(qt::WindowOptions{}, 0x378, opener);
    AppState s;
    s.Port = c.backend;
    qt::TForm1 w(s, d.str());
    w.CreateDialogs();
    w.SetPortChain(&c);
    EXPECT_EQ(w.windowTitle(), "Rombolt Writer 3.2");
    auto configure = [&](std::function<void(qt::TFormConfig*)> f) {
        OnNextModal<qt::TFormConfig>([f](qt::TFormConfig* dlg) {
            f(dlg);
            dlg->OK->click();
        });
        QTest::mouseClick(w.Config, Qt::LeftButton);
    };

    configure([](qt::TFormConfig* f) {
        EXPECT_EQ(f->Port_sel->ItemIndex(), 0);
        EXPECT_EQ(f->Port_sel->Item(3)->text(), "Other");
        f->PortOther->setEditText("0xD010");  // typing chooses "Other"
        EXPECT_EQ(f->Port_sel->ItemIndex(), 3);
    });
    EXPECT_EQ(opened.back(), "0xD010");
    EXPECT_EQ(s.Link.DataPort, 0xD010);
    EXPECT_EQ(DetectAdapter(s), 0);
    EXPECT_EQ(s.Config.PortIndex, 0) << "config.sav keeps its LPT choice";
    EXPECT_EQ(qt::TForm1::StoredOtherPort(), "0xD010");

    configure([](qt::TFormConfig* f) {
        EXPECT_EQ(f->Port_sel->ItemIndex(), 3);
        EXPECT_EQ(f->PortOther->currentText(), "0xD010");
        f->PortOther->setEditText("/dev/parport9");
    });
    EXPECT_NE(w.Memo1->toPlainText().toStdString().find(
                  "Cannot open /dev/parport9; to try the program without hardware, start it with --sim DIR"),
              std::string::npos)
        << w.Memo1->toPlainText().toStdString();

    configure([](qt::TFormConfig* f) { f->Port_sel->Item(1)->click(); });
    EXPECT_EQ(opened.back(), "");
    EXPECT_EQ(s.Link.DataPort, 0x278);
    EXPECT_EQ(s.Config.PortIndex, 1);
    EXPECT_EQ(qt::TForm1::StoredOtherPort(), "");

    // On a simulated cart the caption says so.
    qt::WindowOptions sim;
    sim.simDir = d.str() + "/cart";
    qt::PortChain simChain = qt::OpenPortChain(sim, 0x378);
    ASSERT_EQ(simChain.fatal, "");
    AppState s2;
    s2.Port = simChain.backend;
    qt::TForm1 w2(s2, d.str());
    w2.CreateDialogs();
    w2.SetPortChain(&simChain);
    EXPECT_EQ(w2.windowTitle(), "Rombolt Writer 3.2 - simulated cart");
    s2.Port = nullptr;
    s.Port = nullptr;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

}  // namespace
}  // namespace rombolt::test::gui
