// The window program's building blocks: stored pictures, file browser
// helpers and the command line with its port back end.
#include <gtest/gtest.h>

#include <QFile>
#include <QMessageBox>
#include <QTest>
#include <algorithm>
#include <fstream>

#include "app/app_state.h"
#include "command_line.h"
#include "core/operation.h"
#include "file_browser.h"
#include "gui_support.h"
#include "link/detect.h"
#include "pictures.h"
#include "port/port_lock.h"
#include "sim/cart_dir.h"
#include "sim/sim_port.h"

namespace rombolt::test::gui {
namespace {

QByteArray StoredBytes(const QString& resource) {
    QFile f(resource);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << resource.toStdString();
    return f.readAll();
}

TEST(Pictures, StoredPicturesDecodeAndDamagedOnesAreRefused) {
    for (int k = 1; k <= 6; ++k) {
        QImage img = qt::CartPicture(k);
        ASSERT_FALSE(img.isNull()) << k;
        EXPECT_EQ(img.size(), QSize(150, 106)) << k;  // the size of Bevel1
    }
    EXPECT_TRUE(qt::CartPicture(0).isNull());
    EXPECT_TRUE(qt::CartPicture(7).isNull());
    QImage startup = qt::StartupPicture();
    ASSERT_FALSE(startup.isNull());
    EXPECT_EQ(startup.size(), QSize(236, 176));

    // The stored form is scrambled: it does not start like a JPEG, its
    // unscrambled form does, and the key is the last byte.
    QByteArray stored = StoredBytes(":/pictures/cart1.jpx");
    QByteArray jpeg = qt::Unscramble(stored);
    ASSERT_EQ(jpeg.size(), stored.size() - 1);
    EXPECT_NE(static_cast<unsigned char>(stored[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(jpeg[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(jpeg[1]), 0xD8);
    EXPECT_EQ(static_cast<char>(stored[0] ^ stored.back()), jpeg[0]);
    EXPECT_TRUE(qt::Unscramble(QByteArray()).isEmpty());

    auto decode = [](const QByteArray& b) {
        return qt::DecodeJpeg(reinterpret_cast<const std::uint8_t*>(b.constData()),
                              static_cast<size_t>(b.size()));
    };
    EXPECT_FALSE(decode(jpeg).isNull());
    // Damaged data gives no picture instead of ending the program.
    EXPECT_TRUE(decode(jpeg.left(jpeg.size() / 3)).isNull());
    EXPECT_TRUE(decode(QByteArray(5000, '\x42')).isNull());
    EXPECT_TRUE(decode(stored).isNull());  // still scrambled
    QByteArray badHeader = jpeg;
    for (int i = 2; i < 40; ++i) badHeader[i] = '\0';
    EXPECT_TRUE(decode(badHeader).isNull());
    EXPECT_TRUE(qt::DecodeJpeg(nullptr, 0).isNull());
}

TEST(Pictures, CartModelPictureFollowsIdentification) {
    WindowBench b("strata-128M");
    qt::TForm1& w = *b.window;
    EXPECT_FALSE(w.Image3->isVisible());
    ASSERT_EQ(DetectAdapter(b.s), 0);
    w.ShowCartPicture(3);
    EXPECT_TRUE(w.Image3->isVisible());
    EXPECT_EQ(w.Image3->pixmap().toImage().convertToFormat(QImage::Format_RGB888),
              qt::CartPicture(3).convertToFormat(QImage::Format_RGB888));
    w.ShowCartPicture(0);
    EXPECT_FALSE(w.Image3->isVisible());
    EXPECT_EQ(w.BeepCount(), 0);
}

TEST(FileBrowser, FiltersMasksAndDrives) {
    auto entries = qt::ParseFilter("All files (*.*)|*.*|GB files(*.gbc;*.gb;gb*)|*.gbc;*.gb;gb*");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].description, "GB files(*.gbc;*.gb;gb*)");
    EXPECT_EQ(entries[1].patterns, "*.gbc;*.gb;gb*");
    EXPECT_EQ(
        qt::QtNameFilters("GBA Files (*.gba;*.bin;*.dat;*.sav)|*.gba;*.bin;*.dat;*.sav|All Files (*.*)|*.*"),
        QStringList({"GBA Files (*.gba *.bin *.dat *.sav)", "All Files (*)"}));

    EXPECT_TRUE(qt::MatchesMask("README", "*.*"));
    EXPECT_TRUE(qt::MatchesMask("Game.GBA", "*.gba;*.bin"));
    EXPECT_TRUE(qt::MatchesMask("gbtetris", "*.gbc;*.gb;gb*"));
    EXPECT_FALSE(qt::MatchesMask("tetris.gba", "*.gbc;*.gb;gb*"));
    EXPECT_FALSE(qt::MatchesMask("game.gba.txt", "*.gba;*.bin"));

    TempDir d("mounts");
    std::string mounts = d.str() + "/mounts";
    std::ofstream(mounts) << "proc /proc proc rw 0 0\n"
                             "/dev/sda1 / ext4 rw 0 0\n"
                             "tmpfs /run tmpfs rw 0 0\n"
                             "/dev/sdb1 /media/user/MY\\040CARTS vfat rw 0 0\n"
                             "server:/x /mnt/net nfs4 rw 0 0\n"
                             "/dev/sda2 /boot/efi vfat rw 0 0\n"
                             "broken line\n";
    QStringList roots = qt::DriveRoots(QString::fromStdString(mounts));
    ASSERT_GE(roots.size(), 3);
    EXPECT_EQ(roots[0], "/");
    EXPECT_TRUE(roots.contains("/media/user/MY CARTS"));
    EXPECT_TRUE(roots.contains("/mnt/net"));
    EXPECT_FALSE(roots.contains("/proc"));
    EXPECT_FALSE(roots.contains("/run"));
    EXPECT_FALSE(roots.contains("/boot/efi"));
    EXPECT_EQ(roots.count("/"), 1);
}

TEST(FileBrowser, DirectoryListWalksUpAndDown) {
    TempDir d("dirs");
    std::filesystem::create_directories(d.path() / "games" / "gba");
    std::filesystem::create_directories(d.path() / "saves");
    qt::TDirectoryListBox list;
    ASSERT_TRUE(list.SetDirectory(QString::fromStdString(d.str())));
    EXPECT_FALSE(list.SetDirectory(QString::fromStdString(d.str() + "/missing")));
    EXPECT_EQ(list.Directory().toStdString(), d.str());
    // The chain from the root, then the sub-folders.
    EXPECT_EQ(list.item(0)->text(), "/");
    EXPECT_EQ(list.item(list.count() - 2)->text(), "games");
    EXPECT_EQ(list.item(list.count() - 1)->text(), "saves");
    emit list.itemActivated(list.item(list.count() - 2));
    EXPECT_EQ(list.Directory().toStdString(), d.str() + "/games");
    emit list.itemActivated(list.item(0));
    EXPECT_EQ(list.Directory(), "/");
}

TEST(CommandLine, OptionsAndTheirErrors) {
    auto o = qt::ParseWindowOptions({"rombolt-writer", "--sim", "/tmp/x", "--trace", "t.txt"});
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(o.simDir, "/tmp/x");
    EXPECT_EQ(o.trace, "t.txt");
    EXPECT_NE(qt::ParseWindowOptions({"rombolt-writer", "--sim"}).error, "");
    EXPECT_NE(qt::ParseWindowOptions({"rombolt-writer", "--bogus"}).error, "");
    EXPECT_NE(qt::ParseWindowOptions({"rombolt-writer", "--sim", "a", "--port", "lpt1"}).error, "");
    EXPECT_TRUE(qt::ParseWindowOptions({"rombolt-writer", "--help"}).help);
}

TEST(CommandLine, SimOptionCreatesADefaultCartAndTraceRecordsAccesses) {
    TempDir d("simopt");
    qt::WindowOptions o;
    o.simDir = d.str() + "/cart";
    o.trace = d.str() + "/trace.txt";
    {
        qt::PortChain c = qt::OpenPortChain(o, 0x378);
        ASSERT_EQ(c.fatal, "");
        ASSERT_NE(c.backend, nullptr);
        SimConfig created;
        std::string error;
        ASSERT_TRUE(LoadCartIni(o.simDir + "/cart.ini", created, error)) << error;
        EXPECT_EQ(created.model, "vela-256M");
        EXPECT_EQ(created.save, "64K");

        AppState s;
        SilentFrontend ui;
        s.UI = &ui;
        s.Port = c.backend;
        ApplyPortSelection(s);
        EXPECT_EQ(DetectAdapter(s), 0);
    }
    std::ifstream trace(o.trace);
    std::string first;
    ASSERT_TRUE(std::getline(trace, first));
    EXPECT_TRUE(first.rfind("outb 0x37", 0) == 0 || first.rfind("inb 0x37", 0) == 0) << first;

    // An existing folder that holds no cart is refused, not overwritten.
    qt::WindowOptions bad;
    bad.simDir = d.str();
    EXPECT_NE(qt::OpenPortChain(bad, 0x378).fatal, "");
}

// What the window adds to the line of a port that cannot be opened.
const std::string kSimHint =
    "; to try the program without hardware, start it with --sim DIR (a simulated cart)";

// A real port stand-in that says when it is opened and given back.
class TrackedPort final : public PortBackend {
public:
    TrackedPort(std::unique_ptr<PortBackend> inner, int base, std::vector<std::string>& events)
        : inner_(std::move(inner)), base_(base), events_(events) {
        events_.push_back("open " + std::to_string(base_));
    }
    ~TrackedPort() override { events_.push_back("close " + std::to_string(base_)); }
    std::uint8_t inb(std::uint16_t port) override { return inner_->inb(port); }
    void outb(std::uint16_t port, std::uint8_t value) override { inner_->outb(port, value); }
    std::uint16_t inw(std::uint16_t port) override { return inner_->inw(port); }
    void outw(std::uint16_t port, std::uint16_t value) override { inner_->outw(port, value); }

private:
    std::unique_ptr<PortBackend> inner_;
    int base_;
    std::vector<std::string>& events_;
};

TEST(CommandLine, AnotherPortInTheConfigDialogReopensTheRealPort) {
    TempDir d("reopen");
    std::vector<std::string> events;
    std::vector<std::string> options;
    // No adapter at 0x378; one without EPP at the other bases.
    auto opener = [&](const std::string& option, int base, bool) {
        options.push_back(option);
        if (option == "lpt2") base = 0x278;
        OpenedPort r;
        r.base = base;
        if (base == 0x378) {
            r.backend = std::make_unique<TrackedPort>(std::make_unique<NullPort>(), base, events);
            r.message = "nothing at 0x378";
        } else {
            SimConfig c = SimConfigFor("vela-64M", "64K");
            c.bases = {base};
            r.backend = std::make_unique<TrackedPort>(std::make_unique<SimPort>(c), base, events);
            r.note = "no EPP at " + std::to_string(base);
        }
        return r;
    };
    auto choosePort = [](qt::TForm1& w, int index) {
        OnNextModal<qt::TFormConfig>([index](qt::TFormConfig* f) {
            f->Port_sel->Item(index)->click();
            f->OK->click();
        });
        QTest::mouseClick(w.Config, Qt::LeftButton);
    };
    auto log = [](qt::TForm1& w) { return w.Memo1->toPlainText().toStdString(); };

    qt::WindowOptions o;
    o.trace = d.str() + "/trace.txt";
    {
        qt::PortChain c = qt::OpenPortChain(o, 0x378, opener);
        ASSERT_EQ(c.fatal, "");
        AppState s;
        s.Port = c.backend;
        qt::TForm1 w(s, d.str());
        w.CreateDialogs();
        w.SetPortChain(&c);
        const std::string failed = "nothing at 0x378" + kSimHint;
        EXPECT_EQ(log(w), failed);
        // Shown, the window says it in a warning box too, where it is read whole.
        QString warning;
        OnNextModal<QMessageBox>([&warning](QMessageBox* m) {
            warning = m->text();
            m->button(QMessageBox::Ok)->click();
        });
        w.show();
        for (int i = 0; i < 200 && warning.isEmpty(); ++i) QTest::qWait(5);
        EXPECT_EQ(warning.toStdString(), failed);
        EXPECT_NE(DetectAdapter(s), 0);

        choosePort(w, 1);
        EXPECT_EQ(s.Link.DataPort, 0x278);
        // The old port was given back before the new one was opened; its note is logged once.
        EXPECT_EQ(events, std::vector<std::string>({"open 888", "close 888", "open 632"}));
        EXPECT_EQ(options, std::vector<std::string>({"", ""}));
        EXPECT_EQ(log(w), failed + "\nNo Adaptor Found!\nno EPP at 632");
        EXPECT_EQ(DetectAdapter(s), 0) << log(w);

        // OK without another port reopens nothing.
        choosePort(w, 1);
        EXPECT_EQ(events.size(), 3u);
        choosePort(w, 2);
        EXPECT_EQ(events.back(), "open 956");
        EXPECT_EQ(DetectAdapter(s), 0) << log(w);
    }
    EXPECT_EQ(events.back(), "close 956");
    // The trace went on through every port: accesses at 0x378, then 0x278 and 0x3bc.
    std::ifstream trace(o.trace);
    std::string text((std::istreambuf_iterator<char>(trace)), std::istreambuf_iterator<char>());
    for (const char* at : {" 0x37a ", " 0x27a ", " 0x3be "})
        EXPECT_NE(text.find(at), std::string::npos) << at;

    // A port given on the command line stays, whatever the dialog chooses.
    events.clear();
    options.clear();
    qt::WindowOptions explicitPort;
    explicitPort.port = "lpt2";
    {
        qt::PortChain c = qt::OpenPortChain(explicitPort, 0x378, opener);
        AppState s;
        s.Port = c.backend;
        s.PortBaseOverride = c.baseOverride;
        qt::TForm1 w(s, d.str());
        w.CreateDialogs();
        w.SetPortChain(&c);
        EXPECT_EQ(log(w), "no EPP at 632");
        choosePort(w, 2);
        EXPECT_EQ(options, std::vector<std::string>({"lpt2"}));
        EXPECT_EQ(events.size(), 1u);
        EXPECT_EQ(s.Link.DataPort, 0x278);
        EXPECT_EQ(DetectAdapter(s), 0) << log(w);
    }

    // A simulated cart stays the simulated cart.
    qt::WindowOptions sim;
    sim.simDir = d.str() + "/cart";
    qt::PortChain c = qt::OpenPortChain(sim, 0x378, opener);
    EXPECT_TRUE(c.FollowConfigBase(0x278).empty());
    EXPECT_EQ(options.size(), 1u);
}

TEST(CommandLine, TheWindowTakesTheCartUpAfreshAndWaitsItsTurn) {
    TempDir d("turns");
    const std::string cart = d.str() + "/cart";
    std::string error;
    ASSERT_TRUE(CreateSimCart(cart, "strata-64M", "64K", "", error)) << error;
    qt::WindowOptions o;
    o.simDir = cart;
    qt::PortChain c = qt::OpenPortChain(o, 0x378);
    ASSERT_EQ(c.fatal, "");
    AppState s;
    s.Port = c.backend;
    qt::TForm1 w(s, d.str());
    w.CreateDialogs();
    w.SetPortChain(&c);
    auto log = [&w] { return w.Memo1->toPlainText().toStdString(); };
    const std::string in = d.str() + "/in.sav";
    WriteFileBytes(in, std::vector<std::uint8_t>(8192, 0x11));
    auto restoreUnit1A1 = [&] {
        OnNextModal<qt::TFormSaverSize>([&](qt::TFormSaverSize* f) {
            f->RadioSizeSel->Item(0)->click();  // 8K at 1A1
            AnswerFileDialog(in);
            f->OK->click();
        });
        QTest::mouseClick(w.SWrite, Qt::LeftButton);
    };

    // Another program writes the save memory while the window is idle ...
    {
        auto other = SimPort::Open(cart, error);
        ASSERT_TRUE(other) << error;
        std::fill(other->Save().begin() + 3 * 8192, other->Save().begin() + 4 * 8192, 0x33);
        other->MarkDirty();
        ASSERT_TRUE(other->Flush(error)) << error;
    }
    // ... and the window's restore of another unit keeps what it wrote.
    restoreUnit1A1();
    EXPECT_NE(log().find("Write Saver Ok"), std::string::npos) << log();
    auto save = ReadFileBytes(cart + "/save.bin");
    EXPECT_TRUE(std::all_of(save.begin(), save.begin() + 8192, [](auto b) { return b == 0x11; }));
    EXPECT_TRUE(
        std::all_of(save.begin() + 3 * 8192, save.begin() + 4 * 8192, [](auto b) { return b == 0x33; }));

    // While another program holds the cart, the window does not touch it.
    PortLock held;
    ASSERT_TRUE(held.Acquire(cart, error)) << error;
    WriteFileBytes(in, std::vector<std::uint8_t>(8192, 0x22));
    bool asked = false;
    QPointer<QTimer> watch = OnNextModal<qt::TFormSaverSize>([&](qt::TFormSaverSize* f) {
        asked = true;
        f->CANCEL->click();
    });
    QTest::mouseClick(w.SWrite, Qt::LeftButton);
    delete watch.data();
    EXPECT_FALSE(asked);
    EXPECT_NE(log().find("Simulated cart in " + cart + ": in use by "), std::string::npos) << log();
    EXPECT_EQ(w.BeepCount(), 1);
    held.Release();
    restoreUnit1A1();
    save = ReadFileBytes(cart + "/save.bin");
    EXPECT_TRUE(std::all_of(save.begin(), save.begin() + 8192, [](auto b) { return b == 0x22; }));
}

TEST(CommandLine, WithoutHardwareTheWindowStillStarts) {
    qt::WindowOptions o;
    qt::PortChain c = qt::OpenPortChain(o, 0x378);
    ASSERT_EQ(c.fatal, "");
    ASSERT_NE(c.backend, nullptr);
    TempDir d("nohw");
    AppState s;
    s.Port = c.backend;
    qt::TForm1 w(s, d.str());
    w.CreateDialogs();
    w.SetPortChain(&c);
    // Why the port cannot be driven, once.
    if (!c.message.empty()) {
        EXPECT_EQ(w.Memo1->toPlainText().toStdString(), c.message + kSimHint);
    }
    EXPECT_TRUE(w.Read->isEnabled());
    // Backing up without an adapter ends with the detection message.
    QTest::mouseClick(w.Read, Qt::LeftButton);
    EXPECT_TRUE(w.Memo1->toPlainText().contains("No Adaptor Found!") ||
                w.Memo1->toPlainText().contains("Adaptor"))
        << w.Memo1->toPlainText().toStdString();
    EXPECT_TRUE(w.Read->isEnabled());
}

}  // namespace
}  // namespace rombolt::test::gui
