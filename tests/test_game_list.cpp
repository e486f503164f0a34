#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/game_list.h"
#include "support/fake_frontend.h"
#include "support/game_images.h"

using namespace rombolt;
using rombolt::test::MakeGbaImage;
using rombolt::test::MakeGbImage;
using rombolt::test::WriteFileBytes;

namespace {

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * 1024;

class GameListTest : public ::testing::Test {
protected:
    void SetUp() override { s.UI = &ui; }

    void AddRow(const std::string& name, std::size_t size, const std::string& gtype) {
        s.GameList.push_back(GameRow{name, "/games", std::to_string(size), name + " title", gtype});
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (auto& r : s.GameList) out.push_back(r.Name);
        return out;
    }

    AppState s;
    test::FakeFrontend ui{s};
    test::TempDir dir{"list"};
};

TEST_F(GameListTest, FilesBecomeRowsByTheirHeaders) {
    WriteFileBytes(dir.path() / "pad.gba", MakeGbaImage(1 * MiB, "PADDED", 1, true, 0xFF));
    WriteFileBytes(dir.path() / "zero.gba", MakeGbaImage(1 * MiB, "ZEROES", 2, true, 0x00));
    WriteFileBytes(dir.path() / "odd.gba", MakeGbaImage(1 * MiB + 100, "ODD", 3));
    WriteFileBytes(dir.path() / "mono.gb", MakeGbImage(64 * KiB, "MONO", 0xC0, 4));
    WriteFileBytes(dir.path() / "color.gbc", MakeGbImage(64 * KiB, "COLOR", 0x80, 5, true));
    WriteFileBytes(dir.path() / "tiny.bin", std::vector<std::uint8_t>(511, 0));
    std::vector<std::uint8_t> junk(600);
    test::FillPattern(junk, 9);
    WriteFileBytes(dir.path() / "junk.bin", junk);

    const int added = AddSelectedFiles(
        s, dir.str(), {"pad.gba", "zero.gba", "odd.gba", "mono.gb", "color.gbc", "tiny.bin", "junk.bin"});
    EXPECT_EQ(added, 6);  // the 511-byte file is skipped
    ASSERT_EQ(s.GameList.size(), 6u);
    const std::vector<std::vector<std::string>> expected = {
        {"pad.gba", "1048576", "PADDED", "GBA#"}, {"zero.gba", "1048576", "ZEROES", "GBA#"},
        {"odd.gba", "1048676", "ODD", "GBA"},     {"mono.gb", "65536", "MONO", "GB"},
        {"color.gbc", "65536", "COLOR", "GBC#"},  {"junk.bin", "600", "", ""},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const GameRow& r = s.GameList[i];
        EXPECT_EQ(r.Name, expected[i][0]);
        EXPECT_EQ(r.DirectoryPath, dir.str());
        EXPECT_EQ(r.Size, expected[i][1]);
        EXPECT_EQ(r.GameName, expected[i][2]);
        EXPECT_EQ(r.GType, expected[i][3]);
    }
    EXPECT_TRUE(ui.log.empty());

    // The summary: padded rows lose their last 32 KiB with Cut32K on.
    EXPECT_EQ(s.ListRowCount, 6);
    EXPECT_EQ(s.RowSizes[0], static_cast<std::int32_t>(1 * MiB - 32 * KiB));
    EXPECT_EQ(s.RowSizes[2], static_cast<std::int32_t>(1 * MiB + 32 * KiB));  // rounded up
    EXPECT_EQ(s.RowSizes[4], static_cast<std::int32_t>(32 * KiB));
    EXPECT_EQ(s.RowSizes[5], static_cast<std::int32_t>(32 * KiB));
    EXPECT_EQ(s.GbaRowCount, 4);  // the unrecognised file counts as GBA
    EXPECT_EQ(s.GbRowCount, 2);
    EXPECT_EQ(s.GbRows[0], 3);
    EXPECT_EQ(s.GbaRows[3], 5);
    s.Config.Cut32K = 0;
    UpdateListSize(s);
    EXPECT_EQ(s.RowSizes[0], static_cast<std::int32_t>(1 * MiB));
    EXPECT_EQ(s.RowSizes[4], static_cast<std::int32_t>(64 * KiB));

    // Paths of rows: one slash between directory and name.
    BuildRowPath(s, 3);
    EXPECT_EQ(s.CurrentFilePath, dir.str() + "/mono.gb");
    s.GameList[3].DirectoryPath += "/";
    BuildRowPath(s, 3);
    EXPECT_EQ(s.CurrentFilePath, dir.str() + "/mono.gb");
}

TEST_F(GameListTest, AddingStopsAtAFileThatCannotBeOpened) {
    WriteFileBytes(dir.path() / "a.gba", MakeGbaImage(64 * KiB, "A", 1));
    WriteFileBytes(dir.path() / "c.gba", MakeGbaImage(64 * KiB, "C", 3));
    EXPECT_EQ(AddSelectedFiles(s, dir.str(), {"a.gba", "b.gba", "c.gba"}), 1);
    EXPECT_EQ(Names(), std::vector<std::string>{"a.gba"});
    // A directory is no image file either.
    std::filesystem::create_directory(dir.path() / "sub.gba");
    EXPECT_EQ(AddSelectedFiles(s, dir.str(), {"sub.gba", "c.gba"}), 0);
    EXPECT_EQ(s.GameList.size(), 1u);
    EXPECT_EQ(s.CurrentFile, nullptr);  // nothing left open
}

TEST_F(GameListTest, SizeTextsAndFitNote) {
    UpdateListSize(s);
    EXPECT_EQ(ui.panels[4], "[0]Total Size = 0.00Mb");
    EXPECT_EQ(s.FitNote, "");

    AddRow("one", 4 * MiB, "GBA");
    UpdateListSize(s);
    EXPECT_EQ(ui.panels[4], "[1]Total Size = 32.00Mb");  // no loader for one GBA game
    EXPECT_EQ(s.FitNote, "Only for:64M/128M/Vela64M/Vela128M/Vela256M");

    AddRow("two", 4 * MiB, "GBA");
    UpdateListSize(s);
    EXPECT_EQ(ui.panels[4], "[2]Total Size = 64.25Mb");  // plus the GBA loader
    EXPECT_EQ(s.FitNote, "Only for:128M/Vela128M/Vela256M");

    s.GameList.clear();
    AddRow("gb", 1 * MiB, "GB");
    UpdateListSize(s);
    EXPECT_EQ(ui.panels[4], "[1]Total Size = 8.25Mb");  // plus the GB loader

    // Three GBA games fit no 8 MiB plain cart, whatever their size.
    s.GameList.clear();
    for (int i = 0; i < 3; ++i) AddRow("g" + std::to_string(i), 32 * KiB, "GBA");
    UpdateListSize(s);
    EXPECT_EQ(s.FitNote, "Only for:128M/Vela64M/Vela128M/Vela256M");

    s.GameList.clear();
    for (int i = 0; i < 100; ++i) AddRow("g" + std::to_string(i), 32 * KiB, "GBA");
    UpdateListSize(s);
    EXPECT_EQ(ui.panels[4], "[100] over 99 files!!!]");
    EXPECT_EQ(s.FitNote, "");
    EXPECT_EQ(s.ListRowCount, 100);

    // A size that is not a number can never make the list look small.
    s.GameList.clear();
    AddRow("a", 32 * KiB, "GBA");
    s.GameList[0].Size = "12x";
    UpdateListSize(s);
    EXPECT_EQ(s.FitNote, "");
}

TEST_F(GameListTest, SortingTogglesPerColumn) {
    AddRow("bravo", 900, "GBA");
    AddRow("Alpha", 10000, "GB");
    AddRow("charlie", 32768, "GBC");
    // First click on "Name" (the starting column) sorts descending.
    SortByColumn(s, 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"charlie", "bravo", "Alpha"}));
    SortByColumn(s, 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha", "bravo", "charlie"}));
    // "Size" compares numbers, not texts; first click ascending.
    SortByColumn(s, 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"bravo", "Alpha", "charlie"}));
    EXPECT_EQ(s.LastSortColumn, 2);
    EXPECT_EQ(s.SortDescending, 0);
    SortByColumn(s, 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"charlie", "Alpha", "bravo"}));
    EXPECT_EQ(s.GbRows[1], 1);
    SortByColumn(s, 4);  // "GB" < "GBA" < "GBC"
    EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha", "bravo", "charlie"}));
    // The summary follows the new order.
    EXPECT_EQ(s.GbRows[1], 2);
}

TEST_F(GameListTest, DeletingRows) {
    for (const char* n : {"a", "b", "c", "d"}) AddRow(n, 64 * KiB, "GBA");
    DeleteRows(s, {2, 0, 2});
    EXPECT_EQ(Names(), (std::vector<std::string>{"b", "d"}));
    EXPECT_EQ(s.ListRowCount, 2);
    ui.answerYes = false;
    EXPECT_FALSE(ClearAllClick(s));
    EXPECT_EQ(s.GameList.size(), 2u);
    EXPECT_EQ(ui.questions.back(), ": Do You want to Delete All Files?");
    ui.answerYes = true;
    EXPECT_TRUE(ClearAllClick(s));
    EXPECT_TRUE(s.GameList.empty());
    EXPECT_EQ(ui.panels[4], "[0]Total Size = 0.00Mb");
}

TEST_F(GameListTest, ListFilesRoundTrip) {
    AddRow("first.gba", 4 * MiB, "GBA#");
    s.GameList.push_back(GameRow{"second.gb", "/other dir", "65536", "", "GB"});
    const auto path = dir.path() / "games.txt";
    ui.files.push_back(path.string());
    SaveFromListClick(s);
    EXPECT_EQ(ui.log, (std::vector<std::string>{"", "Save List Ok"}));
    const auto bytes = test::ReadFileBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text,
              "first.gba\r\n/games\r\n4194304\r\nfirst.gba title\r\nGBA#\r\n\r\n"
              "second.gb\r\n/other dir\r\n65536\r\n\r\nGB\r\n\r\n");

    AppState t;
    test::FakeFrontend tui(t);
    t.UI = &tui;
    t.GameList.push_back(GameRow{"old", "/x", "1", "", ""});
    tui.files.push_back(path.string());
    LoadToListClick(t);
    ASSERT_EQ(t.GameList.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(t.GameList[i].Name, s.GameList[i].Name);
        EXPECT_EQ(t.GameList[i].DirectoryPath, s.GameList[i].DirectoryPath);
        EXPECT_EQ(t.GameList[i].Size, s.GameList[i].Size);
        EXPECT_EQ(t.GameList[i].GameName, s.GameList[i].GameName);
        EXPECT_EQ(t.GameList[i].GType, s.GameList[i].GType);
    }
    EXPECT_EQ(tui.log, (std::vector<std::string>{"", "Load List Ok"}));
    EXPECT_EQ(t.ListRowCount, 2);

    tui.files.push_back(path.string());
    AddToListClick(t);
    EXPECT_EQ(t.GameList.size(), 4u);
    EXPECT_EQ(tui.log.back(), "Add List Ok");

    // Cancelled dialogs and unreadable files change nothing.
    AddToListClick(t);
    tui.files.push_back((dir.path() / "absent.txt").string());
    LoadToListClick(t);
    EXPECT_EQ(t.GameList.size(), 4u);
    EXPECT_EQ(tui.log.back(), "File Open Error!!!");
}

TEST_F(GameListTest, ListFileLinesAreTakenInGroupsOfSix) {
    // 13 lines with bare LF endings: two rows, the 13th line ignored.
    std::string text;
    for (int i = 0; i < 13; ++i)
        text += (i % 6 == 2   ? std::to_string(40000 + i)
                 : i % 6 == 4 ? "GBA"
                              : "l" + std::to_string(i)) +
                "\n";
    const auto p = dir.path() / "thirteen.txt";
    WriteFileBytes(p, std::vector<std::uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(ReadListFile(s, p.string(), true), 2);
    ASSERT_EQ(s.GameList.size(), 2u);
    EXPECT_EQ(s.GameList[1].Name, "l6");
    EXPECT_EQ(s.GameList[1].Size, "40008");
    EXPECT_EQ(s.GameList[1].GType, "GBA");

    // A row whose size is not a decimal number is refused, by name.
    text =
        "a\r\nd\r\n100\r\n\r\nGBA\r\n\r\nb\r\nd\r\n1e6\r\n\r\nGBA\r\n\r\nc\r\nd\r\n-5\r\n\r\nGB\r\n\r\n"
        "e\r\nd\r\n99999999999\r\n\r\nGB\r\n\r\nf\r\nd\r\n300\r\n\r\nGB\r\n\r\n";
    WriteFileBytes(p, std::vector<std::uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(ReadListFile(s, p.string(), true), 2);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a", "f"}));
    EXPECT_EQ(ui.log,
              (std::vector<std::string>{"List Size Error!!!(b: \"1e6\")", "List Size Error!!!(c: \"-5\")",
                                        "List Size Error!!!(e: \"99999999999\")"}));

    // Rows that would be counted but never written: a type outside the GBA
    // and GB classes, and rows that take no chunk (empty, or only the 32 KiB
    // that Cut 32K leaves out).
    ui.log.clear();
    text =
        "a\r\nd\r\n100\r\n\r\ngba\r\n\r\nb\r\nd\r\n0\r\n\r\nGB\r\n\r\n"
        "c\r\nd\r\n32768\r\n\r\nGBA#\r\n\r\ne\r\nd\r\n32769\r\n\r\nGBC#\r\n\r\n";
    WriteFileBytes(p, std::vector<std::uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(ReadListFile(s, p.string(), true), 1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"e"}));
    EXPECT_EQ(ui.log,
              (std::vector<std::string>{"List Type Error!!!(a: \"gba\")", "List Size Error!!!(b: \"0\")",
                                        "List Size Error!!!(c: \"32768\")"}));

    EXPECT_EQ(ParseRowSize("2147483647"), 2147483647);
    EXPECT_FALSE(ParseRowSize("2147483648"));
    EXPECT_FALSE(ParseRowSize(""));
    EXPECT_FALSE(ParseRowSize(" 12"));
}

}  // namespace
