// Bad input of every kind: image files, save files, IPS patches, config.sav
// and list files that are empty, short, huge, damaged, gone or not files at
// all. Each gets a clear message and no crash, and nothing reaches the cart
// that should not.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/game_list.h"
#include "core/visible_text.h"
#include "image/ips.h"
#include "ops/commands.h"
#include "ops/layout.h"
#include "support/op_bench.h"

using namespace rombolt;
using test::DirtyCart;
using test::OpBench;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunk = 32768;

bool LoggedPrefix(const test::FakeFrontend& ui, const std::string& prefix) {
    for (auto& l : ui.log)
        if (l.rfind(prefix, 0) == 0) return true;
    return false;
}

// A file of `size` bytes that takes no disk space.
void SparseFile(const fs::path& p, std::uintmax_t size) {
    test::WriteFileBytes(p, {});
    fs::resize_file(p, size);
}

// Nothing was erased or programmed, the window never went busy and no time
// line was logged: the command ended in its preparatory steps.
void ExpectCartUntouched(OpBench& b, const std::vector<std::uint8_t>& before) {
    EXPECT_EQ(b.f.sim().TotalEraseCount(), 0);
    EXPECT_EQ(b.f.sim().BufferProgramCount(), 0);
    EXPECT_TRUE(b.Flash() == before);
    EXPECT_FALSE(b.ui.busy);
    EXPECT_FALSE(LoggedPrefix(b.ui, "Time = "));
    EXPECT_EQ(b.s.CurrentFile, nullptr);
}

// ------------------------------------------------------------------ images

TEST(BadImages, FilesThatAreNoImageAreNotListed) {
    test::TempDir dir("robust_list");
    test::SimFixture f("single-32M");
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{511}}) {
        test::WriteFileBytes(dir.path() / "small.gba", std::vector<std::uint8_t>(size, 0x5A));
        EXPECT_EQ(AddSelectedFiles(f.s, dir.str(), {"small.gba"}), 0) << size;
    }
    // A directory ends the adding, like a file that cannot be opened.
    fs::create_directory(dir.path() / "folder.gba");
    test::WriteFileBytes(dir.path() / "ok.gba", test::MakeGbaImage(kChunk, "OK", 1));
    EXPECT_EQ(AddSelectedFiles(f.s, dir.str(), {"folder.gba", "ok.gba"}), 0);
    EXPECT_EQ(AddSelectedFiles(f.s, dir.str(), {"ok.gba", "folder.gba", "ok.gba"}), 1);
    // Unreadable: only a user other than root can be refused.
    if (::geteuid() != 0) {
        test::WriteFileBytes(dir.path() / "locked.gba", test::MakeGbaImage(kChunk, "L", 2));
        fs::permissions(dir.path() / "locked.gba", fs::perms::none);
        EXPECT_EQ(AddSelectedFiles(f.s, dir.str(), {"locked.gba"}), 0);
    }
    EXPECT_EQ(f.s.GameList.size(), 1u);
    EXPECT_EQ(f.s.CurrentFile, nullptr);
    EXPECT_TRUE(f.ui.log.empty());  // silently, as the window does it
}

TEST(BadImages, TooLargeForAnyCartIsRefusedBeforeTheCartIsTouched) {
    OpBench b(test::SimConfigFor("strata-256M"));
    const auto before = b.Flash();
    // One byte more than the largest cart, and one beyond the 31-bit size range.
    for (std::uintmax_t size : {std::uintmax_t{32u << 20} + 1, std::uintmax_t{3} << 30}) {
        SCOPED_TRACE(size);
        b.s.GameList.clear();
        SparseFile(b.dir.path() / "huge.gba", size);
        ASSERT_EQ(AddSelectedFiles(b.s, b.dir.str(), {"huge.gba"}), 1);
        EXPECT_EQ(b.s.GameList[0].Size, std::to_string(size));
        EXPECT_EQ(b.s.FitNote, "");
        b.ui.log.clear();
        EXPECT_FALSE(WriteClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Cart Size Error!!!"));
        ExpectCartUntouched(b, before);
    }
    // Its size cannot be held as a byte count: a verify refuses it too.
    b.ui.log.clear();
    EXPECT_FALSE(VerifyClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("File Size Error!!!"));
    ExpectCartUntouched(b, before);
}

TEST(BadImages, ListedFileThatIsGoneChangedOrNoFileIsRefused) {
    struct Case {
        const char* what;
        std::function<void(OpBench&)> spoil;
        std::vector<std::string> lines;  // logged, in this order, at the end of the log
    };
    const std::size_t listed = 3 * kChunk + 100;
    const std::vector<Case> cases = {
        {"gone", [](OpBench& b) { fs::remove(b.dir.path() / "g.gba"); }, {"File Open Error!!!"}},
        {"directory",
         [](OpBench& b) {
             fs::remove(b.dir.path() / "g.gba");
             fs::create_directory(b.dir.path() / "g.gba");
         },
         {"File Open Error!!!"}},
        {"shorter",
         [](OpBench& b) { fs::resize_file(b.dir.path() / "g.gba", 2 * kChunk); },
         {"FileSize = " + std::to_string(2 * kChunk), "File Size Error!!!"}},
        {"one byte shorter",
         [&](OpBench& b) { fs::resize_file(b.dir.path() / "g.gba", listed - 1); },
         {"FileSize = " + std::to_string(listed - 1), "File Size Error!!!"}},
        {"longer",
         [&](OpBench& b) { fs::resize_file(b.dir.path() / "g.gba", listed + kChunk); },
         {"FileSize = " + std::to_string(listed + kChunk), "File Size Error!!!"}},
        {"emptied",
         [](OpBench& b) { fs::resize_file(b.dir.path() / "g.gba", 0); },
         {"FileSize = 0", "File Size Error!!!"}},
    };
    for (const Case& c : cases) {
        for (bool verify : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (verify ? " verify" : " write"));
            OpBench b(DirtyCart("single-32M"));
            b.OneGame("g.gba", test::MakeGbaImage(listed, "GONE", 3));
            c.spoil(b);
            const auto before = b.Flash();
            EXPECT_FALSE((verify ? VerifyClick(b.s) : WriteClick(b.s)).Ok());
            ASSERT_GE(b.ui.log.size(), c.lines.size());
            EXPECT_TRUE(std::equal(c.lines.begin(), c.lines.end(), b.ui.log.end() - c.lines.size()))
                << b.ui.LogText();
            EXPECT_FALSE(LoggedPrefix(b.ui, "Read ErrNo="));
            ExpectCartUntouched(b, before);
        }
    }
}

TEST(BadImages, MultiGameFindsABadGameFileBeforeItErasesAnything) {
    OpBench b(DirtyCart("strata-64M"));
    const std::vector<std::vector<std::uint8_t>> games = {test::MakeGbaImage(2 * kChunk, "FIRST", 4),
                                                          test::MakeGbaImage(2 * kChunk, "SECOND", 5)};
    b.File("a.gba", games[0]);
    b.File("b.gba", games[1]);
    ASSERT_EQ(AddSelectedFiles(b.s, b.dir.str(), {"a.gba", "b.gba"}), 2);
    struct Case {
        const char* how;
        const char* line;
        const char* why;
    };
    for (const Case& c : {Case{"gone", "File Open Error!!!(", "No such file or directory"},
                          Case{"shorter", "File Size Error!!!(", "32768 bytes, the list says 65536"},
                          Case{"size text", "File Size Error!!!(", "the list gives no size"}}) {
        SCOPED_TRACE(c.how);
        b.File("b.gba", games[1]);
        b.s.GameList[1].Size = "65536";
        if (std::string(c.how) == "gone") b.s.GameList[1].Name = "b.gab";  // a typo in the list file
        if (std::string(c.how) == "shorter") fs::resize_file(b.dir.path() / "b.gba", kChunk);
        if (std::string(c.how) == "size text") b.s.GameList[1].Size = "65536x";  // a hand-edited list file
        b.ui.log.clear();
        const auto before = b.Flash();
        EXPECT_FALSE(WriteClick(b.s).Ok());
        // The line names the file and the reason; the cart is as it was, loader and first game too.
        const std::string path = JoinPath(b.s.GameList[1].DirectoryPath, b.s.GameList[1].Name);
        EXPECT_TRUE(b.ui.Logged(std::string(c.line) + path + ": " + c.why + ")")) << b.ui.LogText();
        EXPECT_EQ(b.ui.panels[1], "Write Error!!!");
        ExpectCartUntouched(b, before);
        b.s.GameList[1].Name = "b.gba";
    }
}

TEST(BadListFiles, AStalePaddingMarkIsRefusedNotCut) {
    OpBench b(DirtyCart("strata-64M"));
    std::vector<std::uint8_t> padded = test::MakeGbaImage(3 * kChunk, "PADDED", 6);
    std::fill(padded.begin() + 2 * kChunk, padded.end(), 0xFF);
    b.File("a.gba", test::MakeGbaImage(2 * kChunk, "OTHER", 7));
    b.File("p.gba", padded);
    ASSERT_EQ(AddSelectedFiles(b.s, b.dir.str(), {"a.gba", "p.gba"}), 2);
    ASSERT_EQ(b.s.GameList[1].GType, "GBA#");
    // The file changes after it was listed: its last 32 KiB are data now.
    const std::vector<std::uint8_t> changed = test::MakeGbaImage(3 * kChunk, "PADDED", 8);
    b.File("p.gba", changed);
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        b.ui.log.clear();
        const auto before = b.Flash();
        EXPECT_FALSE((mode == 0 ? WriteClick(b.s) : VerifyClick(b.s)).Ok());
        EXPECT_TRUE(
            LoggedPrefix(b.ui, "File Data Error!!!(" + b.dir.str() + "/p.gba: its last 32 KiB are data"))
            << b.ui.LogText();
        ExpectCartUntouched(b, before);
    }
    // Padding that still is padding is cut as before.
    b.File("p.gba", padded);
    b.ui.log.clear();
    EXPECT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
}

// ------------------------------------------------------------------ save files

TEST(BadSaveFiles, EveryBadLengthIsRefusedAndNothingIsWritten) {
    OpBench b(test::SimConfigFor("single-32M", "256K"));
    test::FillPattern(b.f.sim().Save(), 77);
    const auto before = b.f.sim().Save();
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{4096}, std::size_t{8191}, std::size_t{8193},
          std::size_t{12288}, std::size_t{65535}, std::size_t{65537}, std::size_t{262143},
          std::size_t{262145}, std::size_t{270336}, std::size_t{1} << 20}) {
        SCOPED_TRACE(size);
        b.ui.log.clear();
        b.ui.busyHistory.clear();
        b.ui.saverAnswer = {0, 4};
        b.ui.files = {b.File("bad.sav", std::vector<std::uint8_t>(size, 0x00))};
        EXPECT_FALSE(SWriteClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("FileSize = " + std::to_string(size)));
        EXPECT_EQ(b.ui.log.back(), "File Size Error!!!");
        EXPECT_TRUE(b.ui.busyHistory.empty());
        EXPECT_EQ(b.s.CurrentFile, nullptr);
    }
    // Not files at all, or gone.
    fs::create_directory(b.dir.path() / "folder.sav");
    for (const std::string& path :
         {(b.dir.path() / "folder.sav").string(), (b.dir.path() / "none.sav").string()}) {
        SCOPED_TRACE(path);
        b.ui.log.clear();
        b.ui.saverAnswer = {0, 4};
        b.ui.files = {path};
        EXPECT_FALSE(SWriteClick(b.s).Ok());
        EXPECT_EQ(b.ui.log.back(), "File Open Error!!!");
    }
    // A pipe (here with a writer, so that nothing could block) is no save file either.
    const std::string pipe = (b.dir.path() / "pipe.sav").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int writer = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    b.ui.log.clear();
    b.ui.saverAnswer = {0, 4};
    b.ui.files = {pipe};
    EXPECT_FALSE(SWriteClick(b.s).Ok());
    EXPECT_EQ(b.ui.log.back(), "File Open Error!!!");
    ::close(writer);
    EXPECT_TRUE(b.f.sim().Save() == before);
    // A backup into a directory, or into a folder that does not exist, fails
    // before anything is read and says so.
    for (const std::string& path :
         {(b.dir.path() / "folder.sav").string(), (b.dir.path() / "no" / "such.sav").string()}) {
        SCOPED_TRACE(path);
        b.ui.log.clear();
        b.ui.saverAnswer = {0, 4};
        b.ui.files = {path};
        EXPECT_FALSE(SReadClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("File Open Error!!!"));
        EXPECT_TRUE(b.ui.Logged("Backup Saver Error!!!"));
        EXPECT_EQ(b.ui.panels[1], "Read Error!!!");
        EXPECT_FALSE(b.ui.busy);
    }
}

// ------------------------------------------------------------------ IPS

TEST(BadPatches, EveryRefusedPatchLeavesTheImageUnpatched) {
    OpBench b(test::SimConfigFor("single-32M"));
    b.s.Config.IpsApply = 1;
    b.s.Config.VerifyAfterWrite = 1;
    const auto image = test::MakeGbaImage(kChunk + 1000, "PLAIN", 6);
    b.OneGame("p.gba", image);
    const std::vector<std::uint8_t> good = test::IpsBytes({{0x300, {1, 2, 3}}});

    auto cut = [](std::vector<std::uint8_t> v, std::size_t n) {
        v.resize(n);
        return v;
    };
    auto with = [](std::vector<std::uint8_t> v, std::size_t at, std::uint8_t value) {
        v[at] = value;
        return v;
    };
    fs::create_directory(b.dir.path() / "folder.ips");
    const std::string pipe = (b.dir.path() / "pipe.ips").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);  // no writer: opening it must not wait
    struct Bad {
        const char* what;
        std::string path;
        const char* message;  // nullptr: refused silently
        bool quiet = true;    // false: whether a message comes depends on the file system
    };
    const std::vector<Bad> bad = {
        {"missing", (b.dir.path() / "none.ips").string(), nullptr},
        {"directory", (b.dir.path() / "folder.ips").string(), nullptr, false},
        {"pipe", pipe, nullptr},
        {"empty", b.File("e.ips", {}), "***** Ips Size Error *****"},
        {"13 bytes", b.File("s.ips", cut(good, 13)), "***** Ips Size Error *****"},
        {"too long", b.File("l.ips", std::vector<std::uint8_t>(32769, 'P')), "***** Ips Size Error *****"},
        {"no PATCH", b.File("n.ips", with(good, 0, 'X')), nullptr},
        {"no EOF", b.File("o.ips", with(good, good.size() - 1, 'X')), nullptr},
        {"record cut short",
         b.File("c.ips",
                [&] {
                    auto v = cut(good, good.size() - 4);  // last data byte and "EOF" gone
                    v.insert(v.end(), {'E', 'O', 'F'});
                    return v;
                }()),
         "***** Ips Data Error *****"},
        {"huge length", b.File("h.ips", with(with(good, 8, 0xFF), 9, 0xFF)), "***** Ips Data Error *****"},
        {"run-length", b.File("r.ips", test::IpsBytes({{0x300, {}}, {0x10, {1}}})),
         "***** Ips Data Error *****"},
        {"no record", b.File("z.ips", {'P', 'A', 'T', 'C', 'H', 0, 0, 0, 0, 0, 0, 'E', 'O', 'F'}),
         "***** Ips Data Error *****"},
    };
    // A good patch first: its table must not survive into the later writes.
    b.ui.files = {b.File("good.ips", good)};
    ASSERT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
    ASSERT_TRUE(b.ui.Logged("-->Ips Applied<--"));
    const auto plain = b.Prepared(image);
    ASSERT_FALSE(b.Cart(0, plain.size()) == plain);

    for (const Bad& p : bad) {
        SCOPED_TRACE(p.what);
        b.ui.log.clear();
        b.ui.files = {p.path};
        ASSERT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
        EXPECT_TRUE(b.ui.Logged("IpsFileName = " + p.path));
        EXPECT_FALSE(b.ui.Logged("-->Ips Applied<--"));
        if (p.message) {
            EXPECT_TRUE(b.ui.Logged(p.message)) << b.ui.LogText();
        } else if (p.quiet) {
            EXPECT_FALSE(LoggedPrefix(b.ui, "*****"));
        }
        // Never silently: the log says the image went in unpatched.
        EXPECT_TRUE(LoggedPrefix(b.ui, "Ips Not Applied!!!(")) << b.ui.LogText();
        EXPECT_TRUE(b.Cart(0, plain.size()) == plain);
    }
}

TEST(BadPatches, EveryCutOfAPatchIsRefusedOrParsedWithinItsBytes) {
    OpBench b(test::SimConfigFor("single-32M"));
    // Records whose data hold "EOF", so that some cuts still end in it.
    std::vector<std::uint8_t> data = {'E', 'O', 'F', 'E', 'O', 'F', 9, 'E', 'O', 'F'};
    const auto patch = test::IpsBytes({{0x10, data}, {0x7FF8, data}, {0xFFFFF8, data}, {0x20, {1}}});
    for (std::size_t n = 0; n <= patch.size(); ++n) {
        std::vector<std::uint8_t> v(patch.begin(), patch.begin() + static_cast<std::ptrdiff_t>(n));
        b.s.IpsFileName = b.File("cut.ips", v);
        const int r = LoadIpsPatch(b.s);
        ASSERT_TRUE(r == 0 || r == -1);
        if (r != 0) {
            EXPECT_EQ(b.s.RecordCount, 0) << n;
            continue;
        }
        for (int i = 0; i < b.s.RecordCount; ++i) {
            const IpsRecord& rec = b.s.IpsRecords[i];
            EXPECT_GT(rec.RemainingLength, 0);
            EXPECT_LE(rec.DataPosition + rec.RemainingLength + 3u, n) << "cut " << n << " record " << i;
        }
        // Applied to more chunks than any image has: never outside the buffer.
        for (int c = 0; c < 600; ++c) ApplyIpsToChunk(b.s, c);
    }
}

// ------------------------------------------------------------------ names and titles

TEST(BadNames, ControlCharactersAreShownNotObeyed) {
    OpBench b(test::SimConfigFor("single-32M"));
    // A title that would retitle a terminal, and 0x8A: a line feed once bit 7 is cleared.
    const std::string title = {'T', 0x1B, ']', '0', ';', 'X', 0x07, static_cast<char>(0x8A), 'Z'};
    const auto image = test::MakeGbaImage(kChunk, title, 71);
    const std::string name = std::string("a") + '\x1B' + "[2Jb.gba";
    b.File(name, image);
    b.File("new\nline.gba", image);
    ASSERT_EQ(AddSelectedFiles(b.s, b.dir.str(), {"new\nline.gba", name}), 1);
    // A name with a line break cannot go in a list file: refused, by name.
    EXPECT_EQ(b.ui.log, std::vector<std::string>{"File Name Error!!!(" + b.dir.str() + "/new\\x0Aline.gba)"});
    EXPECT_EQ(b.s.GameList[0].Name, name);  // the file is still found by its real name
    EXPECT_EQ(b.s.GameList[0].GameName, "T\\x1B]0;X\\x07\\x0AZ");
    ASSERT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
    EXPECT_TRUE(b.ui.Logged("[a\\x1B[2Jb.gba] T\\x1B]0;X\\x07\\x0AZ")) << b.ui.LogText();
    for (const std::string& line : b.ui.log)
        for (char c : line) ASSERT_GE(static_cast<unsigned char>(c), 0x20) << line;

    // UTF-8 text stays; C1 controls written in UTF-8, DEL and stray bytes do not.
    EXPECT_EQ(VisibleText("Pok\xC3\xA9mon \xE2\x82\xAC"), "Pok\xC3\xA9mon \xE2\x82\xAC");
    EXPECT_EQ(VisibleText("a\xC2\x9B"
                          "1m\x7F\xFF\xC3"),
              "a\\xC2\\x9B1m\\x7F\\xFF\\xC3");
}

// ------------------------------------------------------------------ list files

TEST(BadListFiles, GarbageAndOddSizesGiveOnlyRowsWithByteCounts) {
    test::TempDir dir("robust_listfile");
    test::SimFixture f("single-32M");
    const std::string path = (dir.path() / "list.txt").string();
    std::mt19937 rng(5);
    for (int round = 0; round < 200; ++round) {
        std::string text(rng() % 3000, '\0');
        for (auto& c : text) c = static_cast<char>(rng() % 4 == 0 ? "\r\n0123456789"[rng() % 12] : rng());
        test::WriteFileBytes(path, {text.begin(), text.end()});
        const int rows = ReadListFile(f.s, path, true);
        ASSERT_GE(rows, 0);
        ASSERT_EQ(static_cast<int>(f.s.GameList.size()), rows);
        for (const GameRow& r : f.s.GameList) ASSERT_TRUE(ParseRowSize(r.Size).has_value());
        UpdateListSize(f.s);
    }

    // Sizes that are not plain decimal byte counts are refused, one log line each.
    const std::vector<std::string> sizes = {"65536", "0x8000", "-1",         " 65536",      "65536 ",    "",
                                            "1e6",   "+5",     "2147483648", "99999999999", "2147483647"};
    std::string text;
    for (const std::string& z : sizes) text += "g.gba\r\n/d\r\n" + z + "\r\nT\r\nGBA\r\n\r\n";
    test::WriteFileBytes(path, {text.begin(), text.end()});
    f.ui.log.clear();
    EXPECT_EQ(ReadListFile(f.s, path, true), 2);
    EXPECT_EQ(f.ui.log.size(), sizes.size() - 2);
    EXPECT_EQ(f.s.GameList[0].Size, "65536");
    EXPECT_EQ(f.s.GameList[1].Size, "2147483647");
    UpdateListSize(f.s);
    EXPECT_EQ(f.s.FitNote, "");  // 2 GiB fits nowhere

    // Line ends: LF only, CR only, CR LF, and no end on the last line.
    for (const std::string& eol : {std::string("\n"), std::string("\r"), std::string("\r\n")}) {
        std::string t;
        for (int i = 0; i < 3; ++i)
            for (const char* l : {"a.gba", "/dir", "65536", "TITLE", "GBA#", "-"}) t += std::string(l) + eol;
        t.resize(t.size() - eol.size());
        test::WriteFileBytes(path, {t.begin(), t.end()});
        EXPECT_EQ(ReadListFile(f.s, path, true), 3) << static_cast<int>(eol[0]);
        EXPECT_EQ(f.s.GameList[2].GType, "GBA#");
    }
    // Not a file: refused, the rows stay. A pipe is not waited on; a file
    // far too large for a list is not read.
    EXPECT_EQ(ReadListFile(f.s, dir.str(), true), -1);
    EXPECT_EQ(ReadListFile(f.s, (dir.path() / "none.txt").string(), true), -1);
    const std::string pipe = (dir.path() / "pipe.txt").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(ReadListFile(f.s, pipe, true), -1);
    SparseFile(dir.path() / "huge.txt", 2ull << 30);
    EXPECT_EQ(ReadListFile(f.s, (dir.path() / "huge.txt").string(), true), kListFileTooLarge);
    EXPECT_EQ(f.s.GameList.size(), 3u);
}

TEST(BadListFiles, TenThousandRowsAreRefusedByEveryCartWithoutTouchingIt) {
    OpBench b(DirtyCart("vela-256M"));
    const std::string path = (b.dir.path() / "big.txt").string();
    std::string text;
    for (int i = 0; i < 10000; ++i)
        text += "g" + std::to_string(i) + ".gba\r\n" + b.dir.str() + "\r\n32768\r\nT\r\nGBA\r\n\r\n";
    test::WriteFileBytes(path, {text.begin(), text.end()});
    ASSERT_EQ(ReadListFile(b.s, path, true), 10000);
    UpdateListSize(b.s);
    EXPECT_EQ(b.ui.panels[4], "[10000] over 99 files!!!]");
    EXPECT_EQ(b.s.FitNote, "");
    const auto before = b.Flash();
    EXPECT_FALSE(WriteClick(b.s).Ok());
    EXPECT_EQ(b.ui.log.back(), "This  cart have not enough space for these files!!!");
    ExpectCartUntouched(b, before);
    // Saving it again gives the same file.
    ASSERT_TRUE(WriteListFile(b.s, path + ".2"));
    EXPECT_TRUE(test::ReadFileBytes(path + ".2") == test::ReadFileBytes(path));
}

}  // namespace
