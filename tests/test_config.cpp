#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/config.h"
#include "support/fake_frontend.h"

using namespace rombolt;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& p, const std::vector<std::uint8_t>& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::int32_t I32At(const std::vector<std::uint8_t>& b, int at) {
    return static_cast<std::int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                     (static_cast<std::uint32_t>(b[at + 3]) << 24));
}

std::string StrAt(const std::vector<std::uint8_t>& b, int at) {
    std::string out;
    for (int i = at; i < at + 260 && b[i] != 0; ++i) out.push_back(static_cast<char>(b[i]));
    return out;
}

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("rombolt_cfg_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = dir / "config.sav";
        designed.CurrentDirectory = dir.string();
    }
    void TearDown() override { fs::remove_all(dir); }

    // A fresh program start in dir.
    StartupResult Start(AppState& s, test::FakeFrontend& ui,
                        const ConfigAccessProbe& probe = ProbeConfigAccess) {
        s.UI = &ui;
        return StartupConfig(s, designed, dir.string(), probe);
    }

    // A complete, valid record with non-default values.
    std::vector<std::uint8_t> SampleRecord() {
        ConfigRecord r = DefaultConfig(dir.string());
        r.PortIndex = 1;
        r.SpeedIndex = 2;
        r.IpsApply = 1;
        r.FixRom = 0;
        r.WindowHeight = 700;
        r.WindowWidth = 800;
        r.ColumnWidths = {10, 20, 30, 40, 0x01000077};
        r.CurrentDirectory.set(dir.string());
        auto b = SerializeConfig(r);
        return {b.begin(), b.end()};
    }

    fs::path dir, file;
    WindowState designed;
};

TEST_F(ConfigTest, FirstRunCreatesTheRecordAtOnce) {
    AppState s;
    test::FakeFrontend ui(s);
    StartupResult r = Start(s, ui);
    EXPECT_EQ(s.ConfigPath, (dir / "config.sav").string());
    EXPECT_TRUE(s.ConfigWritable);
    auto b = ReadBytes(file);
    ASSERT_EQ(b.size(), 1340u);
    EXPECT_EQ(b[0], 0);                              // LPT1
    EXPECT_EQ(b[1], 0);                              // empty last open file ...
    EXPECT_EQ(StrAt(b, 2), dir.string().substr(1));  // ... bytes after its terminator kept
    EXPECT_EQ(b[261], 0);
    EXPECT_EQ(b[521] | b[522] | b[523], 0);
    EXPECT_EQ(I32At(b, 524), 606);
    EXPECT_EQ(I32At(b, 528), 553);
    EXPECT_EQ(b[532], 0);
    EXPECT_EQ(StrAt(b, 533), dir.string());
    EXPECT_EQ(b[793], 0);
    EXPECT_EQ(b[794], 0);
    EXPECT_EQ(b[795], 1);
    EXPECT_EQ(StrAt(b, 796), dir.string());  // from the directory list
    EXPECT_EQ(b[1056], 1);
    EXPECT_EQ(StrAt(b, 1057), dir.string());
    const int widths[] = {135, 140, 60, 95, 50};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(I32At(b, 1320 + 4 * i), widths[i]);
    // The window gets what the record holds, the port its addresses.
    EXPECT_EQ(r.Window.Height, 606);
    EXPECT_EQ(r.Window.CurrentDirectory, dir.string());
    EXPECT_EQ(r.Window.OpenDialogFile, "");
    EXPECT_EQ(s.Link.DataPort, 0x378);
    EXPECT_FALSE(r.ConfigError);
    EXPECT_TRUE(ui.log.empty());
}

TEST_F(ConfigTest, CloseWritesOnlyWhenSomethingChanged) {
    {
        AppState s;
        test::FakeFrontend ui(s);
        Start(s, ui);
    }
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(file, old);
    const auto before = ReadBytes(file);

    AppState s;
    test::FakeFrontend ui(s);
    StartupResult r = Start(s, ui);
    // Closing with exactly what start-up handed to the window.
    CloseConfig(s, r.Window);
    EXPECT_EQ(fs::last_write_time(file), old);
    EXPECT_EQ(ReadBytes(file), before);

    // A changed option and a wider window reach the file.
    s.Config.VerifyAfterWrite = 1;
    WindowState w = r.Window;
    w.Width = 900;
    CloseConfig(s, w);
    auto b = ReadBytes(file);
    ASSERT_EQ(b.size(), 1340u);
    EXPECT_EQ(b[794], 1);
    EXPECT_EQ(I32At(b, 528), 900);
    EXPECT_NE(fs::last_write_time(file), old);
}

TEST_F(ConfigTest, ShortAndLongFiles) {
    // 1339 bytes: read as far as it goes, then rewritten whole.
    auto rec = SampleRecord();
    WriteBytes(file, {rec.begin(), rec.end() - 1});
    {
        AppState s;
        test::FakeFrontend ui(s);
        Start(s, ui);
        EXPECT_EQ(s.Config.PortIndex, 1);
        EXPECT_EQ(s.Config.SpeedIndex, 2);
        EXPECT_EQ(s.Config.FixRom, 0);
        EXPECT_EQ(s.Link.DataPort, 0x278);
        auto b = ReadBytes(file);
        ASSERT_EQ(b.size(), 1340u);
        EXPECT_EQ(b[0], 1);
        EXPECT_EQ(b[532], 2);
        EXPECT_EQ(b[795], 0);
    }
    // 1341 bytes: read whole, the extra byte ignored, the file left alone.
    rec = SampleRecord();
    rec.push_back(0xEE);
    WriteBytes(file, rec);
    AppState s;
    test::FakeFrontend ui(s);
    StartupResult r = Start(s, ui);
    EXPECT_EQ(s.Config.ColumnWidths[4], 0x01000077);
    EXPECT_EQ(r.Window.Width, 800);
    EXPECT_EQ(r.Window.ColumnWidths[0], 10);
    EXPECT_EQ(ReadBytes(file).size(), 1341u);
    EXPECT_TRUE(ConfigUnchanged(s));
}

TEST_F(ConfigTest, ReadOnlyAndUnreadableFilesAreNeverWritten) {
    auto rec = SampleRecord();
    WriteBytes(file, rec);
    {
        AppState s;
        test::FakeFrontend ui(s);
        StartupResult r = Start(s, ui, [](const std::string&) { return ConfigAccess::ReadOnly; });
        EXPECT_EQ(s.Config.PortIndex, 1);  // honoured
        EXPECT_FALSE(s.ConfigWritable);
        s.Config.PortIndex = 2;
        r.Window.Width = 1000;
        CloseConfig(s, r.Window);
        EXPECT_EQ(ReadBytes(file), rec);
        EXPECT_EQ(s.Link.DataPort, 0x3BC);  // the change still applies in this run
    }
    {
        AppState s;
        test::FakeFrontend ui(s);
        StartupResult r = Start(s, ui, [](const std::string&) { return ConfigAccess::Unreadable; });
        EXPECT_EQ(s.Config.PortIndex, 0);  // defaults
        EXPECT_EQ(s.Config.FixRom, 1);
        EXPECT_EQ(r.Window.Width, 553);
        s.Config.Cut32K = 0;
        CloseConfig(s, r.Window);
        EXPECT_EQ(ReadBytes(file), rec);
    }
    // The real access test: a missing file, a writable one, read-only and
    // unreadable ones. Root may read and write any of them, but a file
    // whose mode grants nobody writing (or reading) is meant to be left alone.
    EXPECT_EQ(ProbeConfigAccess((dir / "nothing.sav").string()), ConfigAccess::Missing);
    EXPECT_EQ(ProbeConfigAccess(file.string()), ConfigAccess::ReadWrite);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(ProbeConfigAccess(file.string()), ConfigAccess::ReadOnly);
    fs::permissions(file, fs::perms::none);
    EXPECT_EQ(ProbeConfigAccess(file.string()), ConfigAccess::Unreadable);
    fs::permissions(file, fs::perms::owner_write);
    EXPECT_EQ(ProbeConfigAccess(file.string()), ConfigAccess::Unreadable);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ConfigTest, StartupEmptiesPathsThatNoLongerExist) {
    const fs::path gone = dir / "gone";
    const fs::path loader = dir / "menu.bin";
    fs::create_directories(gone);
    WriteBytes(loader, std::vector<std::uint8_t>(32768, 0));
    ConfigRecord r = DefaultConfig(dir.string());
    r.CurrentDirectory.set(gone.string());
    r.GbaLoaderFile.set(loader.string());
    r.GbLoaderFile.set((dir / "missing.gb").string());
    r.LastOpenFile.set(loader.string());
    r.PortIndex = 7;
    auto b = SerializeConfig(r);
    WriteBytes(file, {b.begin(), b.end()});
    fs::remove(gone);

    AppState s;
    test::FakeFrontend ui(s);
    StartupResult res = Start(s, ui);
    EXPECT_EQ(s.Config.CurrentDirectory.str(), "");
    EXPECT_EQ(res.Window.CurrentDirectory, "");
    EXPECT_EQ(s.Config.GbLoaderFile.str(), "");
    EXPECT_EQ(s.Config.GbaLoaderFile.str(), loader.string());
    EXPECT_EQ(res.Window.OpenDialogFile, loader.string());
    // A port index beyond the three ports acts as LPT1.
    EXPECT_EQ(s.Link.DataPort, 0x378);
    EXPECT_EQ(s.Link.StatusPort, 0x379);
    EXPECT_EQ(s.Link.ControlPort, 0x37A);
    EXPECT_EQ(s.Link.EppAddressPort, 0x37B);
    EXPECT_EQ(s.Link.EppDataPort, 0x37C);
    EXPECT_TRUE(ConfigUnchanged(s));
}

TEST_F(ConfigTest, RecordFieldsRoundTripAndUnusedBytesSurvive) {
    auto rec = SampleRecord();
    // Bytes behind a terminator and the reserved bytes.
    rec[261] = 'a';
    rec[262] = 0;
    rec[263] = 'Z';
    rec[521] = 7;
    rec[1319] = 9;
    ConfigRecord r;
    ParseConfig(r, rec.data(), rec.size());
    EXPECT_EQ(r.LastSaveFile.str(), "a");
    EXPECT_EQ(r.WindowHeight, 700);
    auto back = SerializeConfig(r);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), rec.begin()));

    // The reserved bytes take no part in the comparison.
    AppState s;
    s.Config = r;
    RememberConfig(s);
    s.Config.Reserved1[0] = 1;
    s.Config.Reserved2[2] = 1;
    EXPECT_TRUE(ConfigUnchanged(s));
    // A string equal up to its terminator is unchanged.
    s.Config.LastSaveFile.bytes[5] = 'q';
    EXPECT_TRUE(ConfigUnchanged(s));
    s.Config.LastSaveFile.set("b");
    EXPECT_FALSE(ConfigUnchanged(s));
}

TEST_F(ConfigTest, TooLongPathsAreRefusedNotCut) {
    AppState s;
    test::FakeFrontend ui(s);
    StartupResult r = Start(s, ui);
    const std::string before = s.Config.CurrentDirectory.str();
    WindowState w = r.Window;
    w.CurrentDirectory = "/" + std::string(300, 'd');
    w.SaveDialogFile = "/tmp/" + std::string(254, 's');  // 259 characters: fits
    RefusedFields refused = CloseConfig(s, w);
    ASSERT_EQ(refused, RefusedFields{"CurrentDirectory"});
    EXPECT_EQ(s.Config.CurrentDirectory.str(), before);
    auto b = ReadBytes(file);
    EXPECT_EQ(StrAt(b, 796), before);
    EXPECT_EQ(StrAt(b, 261), w.SaveDialogFile);

    // A working directory deeper than a field: the paths stay empty, and the caller hears of it.
    AppState s2;
    test::FakeFrontend ui2(s2);
    s2.UI = &ui2;
    WindowState d;
    StartupResult r2 = StartupConfig(s2, d, "/" + std::string(280, 'w'),
                                     [](const std::string&) { return ConfigAccess::Unreadable; });
    EXPECT_EQ(r2.Refused.size(), 4u);
    EXPECT_EQ(s2.Config.GbaLoaderFile.str(), "");
}

TEST_F(ConfigTest, StartupErrorIsLoggedAndStartupGoesOn) {
    AppState s;
    test::FakeFrontend ui(s);
    StartupResult r =
        Start(s, ui, [](const std::string&) -> ConfigAccess { throw std::runtime_error("disk gone"); });
    EXPECT_TRUE(r.ConfigError);
    EXPECT_EQ(ui.log, std::vector<std::string>{"config file error"});
    EXPECT_FALSE(s.ConfigWritable);
    EXPECT_EQ(r.Window.Height, 606);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(ConfigTest, ChooseLoaderFileTakesOnlyExactSizedFiles) {
    AppState s;
    test::FakeFrontend ui(s);
    Start(s, ui);
    const std::string start = s.Config.GbaLoaderFile.str();
    EXPECT_EQ(LoaderLabelText(s, LoaderKind::Gba), start);

    auto r = ChooseLoaderFile(s, LoaderKind::Gba, std::nullopt);
    EXPECT_EQ(r.FirstLabel, "Set GBA Multi-Boot File Cancel");
    EXPECT_EQ(r.SecondLabel, "");
    r = ChooseLoaderFile(s, LoaderKind::Gb, (dir / "absent.bin").string());
    EXPECT_EQ(r.FirstLabel, "File Open Error!!!");
    r = ChooseLoaderFile(s, LoaderKind::Gb, dir.string());
    EXPECT_EQ(r.FirstLabel, "File Open Error!!!");
    for (int size : {32767, 32769}) {
        WriteBytes(dir / "l.bin", std::vector<std::uint8_t>(static_cast<std::size_t>(size), 1));
        r = ChooseLoaderFile(s, LoaderKind::Gb, (dir / "l.bin").string());
        EXPECT_EQ(r.FirstLabel, "File Size Error!!!");
        EXPECT_EQ(r.SecondLabel, "Set GB Multi-Boot File Cancel");
        EXPECT_FALSE(r.Changed);
    }
    EXPECT_EQ(s.Config.GbLoaderFile.str(), start);
    WriteBytes(dir / "l.bin", std::vector<std::uint8_t>(32768, 1));
    r = ChooseLoaderFile(s, LoaderKind::Gb, (dir / "l.bin").string());
    EXPECT_TRUE(r.Changed);
    EXPECT_EQ(r.FirstLabel, (dir / "l.bin").string());
    EXPECT_EQ(s.Config.GbLoaderFile.str(), (dir / "l.bin").string());
    EXPECT_EQ(s.Config.GbaLoaderFile.str(), start);

    // A right-sized file whose path does not fit the field.
    fs::path deep = dir;
    while (deep.string().size() < 280) deep /= std::string(40, 'x');
    fs::create_directories(deep);
    WriteBytes(deep / "l.bin", std::vector<std::uint8_t>(32768, 1));
    r = ChooseLoaderFile(s, LoaderKind::Gba, (deep / "l.bin").string());
    EXPECT_TRUE(r.TooLong);
    EXPECT_FALSE(r.Changed);
    EXPECT_EQ(r.FirstLabel, "File Path Too Long!!!");
    EXPECT_EQ(s.Config.GbaLoaderFile.str(), start);
    EXPECT_TRUE(ui.log.empty());  // the dialog's labels only
}

}  // namespace
