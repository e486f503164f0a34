// The built `rombolt` against carts with injected faults and against bad
// input files: it exits 1, says why, and leaves the cart and older files as
// its log says.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace rombolt::clitest;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunk = 32768;

class CliRobust : public ::testing::Test {
protected:
    TempDir dir;
    std::string cart = dir / "cart";

    RunResult OnCart(std::vector<std::string> args) {
        args.insert(args.begin(), {"--sim", cart});
        return Rombolt(args, dir.path().string());
    }
    // A fresh cart; each of the `ini` lines replaces the line of its key in cart.ini.
    void MakeCart(const std::string& model, const std::string& save,
                  const std::vector<std::string>& ini = {}) {
        fs::remove_all(cart);
        RunResult r = Rombolt({"sim", "create", cart, "--model", model, "--save", save}, dir.path().string());
        ASSERT_EQ(r.status, 0) << r.err;
        SetKeys(ini);
    }
    void SetKeys(const std::vector<std::string>& lines) {
        Bytes bytes = ReadFile(cart + "/cart.ini");
        std::string text(bytes.begin(), bytes.end());
        for (const std::string& l : lines) {
            const std::size_t at = text.find("\n" + l.substr(0, l.find(' ')) + " ");
            ASSERT_NE(at, std::string::npos) << l;
            text.replace(at + 1, text.find('\n', at + 1) - at - 1, l);
        }
        WriteFile(cart + "/cart.ini", Bytes(text.begin(), text.end()));
    }
    Bytes Flash() { return ReadFile(cart + "/flash.bin"); }
    Bytes Save() { return ReadFile(cart + "/save.bin"); }
    // Port accesses of a run, counted by its trace.
    long Accesses(std::vector<std::string> args) {
        args.insert(args.begin(), {"--trace", dir / "trace.txt"});
        RunResult r = OnCart(args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        const Bytes t = ReadFile(dir / "trace.txt");
        return std::count(t.begin(), t.end(), '\n');
    }
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int NumberAfter(const std::string& text, const std::string& prefix) {
    const std::size_t at = text.find(prefix);
    return at == std::string::npos ? -1 : std::stoi(text.substr(at + prefix.size()));
}

TEST_F(CliRobust, AdapterPulledOutMidwayExitsOneAndTheCartHoldsWhatTheLogSays) {
    const Bytes image = MakeGbaImage(8 * kChunk, "PULLED", 91);
    WriteFile(dir / "game.gba", image);

    // Write: the adapter goes half-way through the accesses of a whole write.
    MakeCart("single-32M", "64K");
    const long write = Accesses({"write", "game.gba"});
    MakeCart("single-32M", "64K", {"fault_vanish_after = " + std::to_string(write / 2)});
    const Bytes before = Flash();
    RunResult r = OnCart({"write", "game.gba"});
    EXPECT_EQ(r.status, 1);
    const int failed = NumberAfter(r.out, "Write Flash Error!!!(");
    ASSERT_GT(failed, 0) << r.out;
    const Bytes after = Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + failed * kChunk, after.begin()));
    const std::size_t blockEnd = (failed / 4 + 1) * 4 * kChunk;
    EXPECT_TRUE(std::equal(before.begin() + blockEnd, before.end(), after.begin() + blockEnd));
    EXPECT_FALSE(Contains(r.out, "Write To Cart Ok"));

    // Save backup over an older file: it fails and the older file stays.
    MakeCart("single-32M", "64K");
    const long backup = Accesses({"save-backup", "probe.sav", "--size", "64K"});
    const Bytes older(65536, 0x42);
    WriteFile(dir / "old.sav", older);
    MakeCart("single-32M", "64K", {"fault_vanish_after = " + std::to_string(backup * 3 / 4)});
    r = OnCart({"save-backup", "old.sav", "--size", "64K"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "Backup Saver Error!!!")) << r.out;
    EXPECT_TRUE(ReadFile(dir / "old.sav") == older);

    // Verify of an image whose tail reads like a floating bus.
    Bytes tail = MakeGbaImage(6 * kChunk, "TAIL", 92);
    std::fill(tail.begin() + kChunk, tail.end(), 0xFF);
    WriteFile(dir / "tail.gba", tail);
    MakeCart("single-32M", "64K");
    ASSERT_EQ(OnCart({"write", "tail.gba"}).status, 0);
    const long verify = Accesses({"verify", "tail.gba"});
    SetKeys({"fault_vanish_after = " + std::to_string(verify / 2)});
    r = OnCart({"verify", "tail.gba"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "No Adaptor Found!")) << r.out;
    EXPECT_FALSE(Contains(r.out, "Verify Cart with File Ok"));
}

TEST_F(CliRobust, InjectedCartFaultsExitOne) {
    WriteFile(dir / "game.gba", MakeGbaImage(4 * kChunk, "FAULTS", 93));
    struct Case {
        const char* ini;
        std::vector<std::string> args;
        const char* line;  // in the log
    };
    const std::vector<Case> cases = {
        {"fault_erase_stuck_chunk = 0", {"write", "game.gba"}, "Write Flash Error!!!(0)"},
        {"fault_erase_stuck_chunk = 4", {"erase", "--yes"}, "Cart Erase Error!!!"},
        {"fault_locked_chunk = 2", {"write", "game.gba"}, "Write Flash Error!!!(0)"},
        {"fault_flip_every = 90001", {"backup", "b.gba", "--size", "8M"}, "Backup Error!!!"},
        {"fault_flip_every = 150001", {"save-backup", "s.sav", "--size", "64K"}, "Read Save Data Error!!!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        MakeCart("single-32M", "64K", {c.ini});
        RunResult r = OnCart(c.args);
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_TRUE(Contains(r.out, c.line)) << r.out;
        EXPECT_TRUE(Contains(r.out, "Time = ")) << r.out;
    }
    MakeCart("single-32M", "none");
    RunResult r = OnCart({"save-backup", "s.sav", "--size", "8K"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No Save Data found!!!\n");
}

TEST_F(CliRobust, BadInputFilesExitOneAndTouchNothing) {
    MakeCart("single-32M", "64K");
    const Bytes flash = Flash();
    const Bytes save = Save();
    WriteFile(dir / "empty.gba", {});
    WriteFile(dir / "one.gba", {0x2E});
    WriteFile(dir / "short.gba", Bytes(511, 0));
    fs::create_directory(dir / "folder.gba");
    WriteFile(dir / "huge.gba", {});
    fs::resize_file(dir / "huge.gba", (4u << 20) + 1);  // one byte more than the cart
    for (const char* image : {"empty.gba", "one.gba", "short.gba", "folder.gba", "huge.gba", "none.gba"}) {
        for (const char* cmd : {"write", "verify"}) {
            SCOPED_TRACE(std::string(cmd) + " " + image);
            RunResult r = OnCart({cmd, image});
            EXPECT_EQ(r.status, 1) << r.out << r.err;
            EXPECT_TRUE(Contains(r.err + r.out, "rombolt: ") || Contains(r.out, "Error!!!"))
                << r.out << r.err;
        }
    }
    for (std::size_t size : {std::size_t{0}, std::size_t{100}, std::size_t{12288}, std::size_t{270336}}) {
        SCOPED_TRACE(size);
        WriteFile(dir / "bad.sav", Bytes(size, 0x77));
        RunResult r = OnCart({"save-restore", "bad.sav", "--size", "64K"});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(Contains(r.out, "File Size Error!!!") || Contains(r.err, "rombolt: ")) << r.out << r.err;
    }
    // A list file of garbage.
    std::mt19937 rng(94);
    Bytes junk(5000);
    for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
    WriteFile(dir / "junk.txt", junk);
    EXPECT_EQ(OnCart({"write", "--list", "junk.txt"}).status, 1);
    EXPECT_TRUE(Flash() == flash);
    EXPECT_TRUE(Save() == save);
}

TEST_F(CliRobust, ARefusedListRowOrAPatchUnusableAtWriteTimeEndsTheWriteUnwritten) {
    MakeCart("single-32M", "64K");
    const Bytes flash = Flash();
    WriteFile(dir / "a.gba", MakeGbaImage(2 * kChunk, "ALPHA", 41));
    WriteFile(dir / "b.gba", MakeGbaImage(2 * kChunk, "BRAVO", 42));
    // The second row's type is of neither class: the list loads without it.
    std::string list;
    for (const char* type : {"GBA", "gba"})
        list += std::string(type[0] == 'G' ? "a.gba" : "b.gba") + "\r\n" + dir.path().string() + "\r\n" +
                std::to_string(2 * kChunk) + "\r\n" + "T\r\n" + type + "\r\n\r\n";
    WriteFile(dir / "games.lst", Bytes(list.begin(), list.end()));
    RunResult r = OnCart({"write", "--list", "games.lst"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "List Type Error!!!(b.gba: \"gba\")")) << r.out;
    EXPECT_TRUE(Contains(r.err, "games.lst: 1 row was refused")) << r.err;
    EXPECT_FALSE(Contains(r.out, "Write To Cart Ok")) << r.out;
    EXPECT_TRUE(Flash() == flash);

    // The trace file is the patch: opening the trace would empty it after the
    // patch was checked; the clash is refused before the cart is opened.
    const std::string ips = "PATCH" + std::string("\x00\x01\x00\x00\x01\x55", 6) + "EOF";
    WriteFile(dir / "p.ips", Bytes(ips.begin(), ips.end()));
    r = OnCart({"--ips", "p.ips", "--trace", dir / "p.ips", "write", "a.gba"});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_TRUE(Contains(r.err, "is the IPS file p.ips of this run")) << r.err;
    EXPECT_FALSE(Contains(r.out, "Write To Cart Ok")) << r.out;
    EXPECT_TRUE(Flash() == flash);
    EXPECT_TRUE(ReadFile(dir / "p.ips") == Bytes(ips.begin(), ips.end()));
}

TEST_F(CliRobust, OddNamesPipesAndHugeFilesAreRefusedPlainly) {
    // A pipe with no writer: refused at once, not waited on.
    ASSERT_EQ(::mkfifo((dir / "pipe.gba").c_str(), 0600), 0);
    RunResult r = Rombolt({"header", "pipe.gba"}, dir.path().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "pipe.gba: cannot be read (not a plain file)")) << r.out;

    // Control characters in a name and a title reach the terminal visibly.
    const std::string title = {'E', 0x1B, ']', '0', ';', 'X', 0x07, static_cast<char>(0x8A), 'Z'};
    const std::string name = std::string("e") + '\x1B' + "[8m.gba";
    WriteFile(dir / name, MakeGbaImage(kChunk, title, 97));
    r = Rombolt({"header", name}, dir.path().string());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "e\\x1B[8m.gba: GBA \"E\\x1B]0;X\\x07\\x0AZ\"")) << r.out;
    EXPECT_EQ(r.out.find('\x1B'), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);

    // Files far too large are refused by their size, never read into memory
    // (sparse: they take no disk space).
    WriteFile(dir / "huge.bin", {});
    fs::resize_file(dir / "huge.bin", 4ull << 30);
    r = Rombolt({"sim", "create", dir / "romcart", "--model", "rom", "--rom", "huge.bin"},
                dir.path().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "a mask ROM must hold 1 byte to 32 MiB")) << r.err;
    struct Huge {
        const char* file;
        unsigned long long size;
        const char* says;
    };
    for (const Huge& h :
         {Huge{"flash.bin", 3ull << 30, "flash.bin: 3221225472 bytes, but a single-32M cart holds"},
          Huge{"cart.ini", 2ull << 30, "cart.ini: larger than "}}) {
        MakeCart("single-32M", "64K");
        fs::resize_file(cart + "/" + h.file, h.size);
        r = OnCart({"info"});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(Contains(r.err, h.says)) << r.err;
    }
    MakeCart("single-32M", "64K");
    WriteFile(dir / "list.txt", {});
    fs::resize_file(dir / "list.txt", 2ull << 30);
    r = OnCart({"write", "--list", "list.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "larger than 16 MiB")) << r.err;
}

TEST_F(CliRobust, ARandomConfigFileNeitherCrashesNorStopsAWrite) {
    MakeCart("single-32M", "64K");
    const Bytes image = MakeGbaImage(2 * kChunk, "CONFIG", 95);
    WriteFile(dir / "game.gba", image);
    std::mt19937 rng(96);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        Bytes cfg(1340 + round * 7);
        for (auto& b : cfg) b = static_cast<std::uint8_t>(rng());
        WriteFile(dir / "config.sav", cfg);
        RunResult r = OnCart({"--fix", "write", "game.gba"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "Write To Cart Ok")) << r.out;
        EXPECT_TRUE(ReadFile(dir / "config.sav") == cfg);  // read, never written
        EXPECT_TRUE(std::equal(image.begin() + 0x200, image.end(), Flash().begin() + 0x200));
    }
}

TEST_F(CliRobust, ATraceOrReportNamingAFileOfTheRunIsAUsageError) {
    MakeCart("single-32M", "64K");
    const Bytes image = MakeGbaImage(2 * kChunk, "OWNFILES", 71);
    WriteFile(dir / "game.gba", image);
    WriteFile(dir / "my.sav", Bytes(8192, 0x5A));
    WriteFile(dir / "out.gba", image);
    fs::create_symlink("game.gba", dir / "link.gba");
    const Bytes flash = Flash();
    struct Case {
        std::vector<std::string> args;
        std::string file;
    };
    for (const Case& c : {Case{{"--report", "game.gba", "write", "game.gba"}, "game.gba"},
                          Case{{"--trace", "link.gba", "write", "game.gba"}, "game.gba"},
                          Case{{"--trace", "my.sav", "save-restore", "my.sav", "--size", "64K"}, "my.sav"},
                          Case{{"backup", "out.gba", "--size", "8M", "--report", "./out.gba"}, "out.gba"},
                          Case{{"--trace", "cart/flash.bin", "info"}, "cart/flash.bin"}}) {
        SCOPED_TRACE(c.args[1]);
        const Bytes before = ReadFile(dir / c.file);
        RunResult r = OnCart(c.args);
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_TRUE(Contains(r.err, "of this run")) << r.err;
        EXPECT_TRUE(ReadFile(dir / c.file) == before);
    }
    EXPECT_TRUE(Flash() == flash);
}

TEST_F(CliRobust, ATemporaryFileIsNeverMadeThroughAPlantedLink) {
    const std::string shared = dir / "shared";
    fs::create_directory(shared);
    WriteFile(dir / "victim.txt", Bytes(10, 'v'));
    fs::create_symlink(dir / "victim.txt", shared + "/flash.bin.tmp");
    RunResult r = Rombolt({"sim", "create", shared, "--model", "single-32M"}, dir.path().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "flash.bin.tmp: something else is already there (a link)")) << r.err;
    EXPECT_TRUE(ReadFile(dir / "victim.txt") == Bytes(10, 'v'));
    EXPECT_FALSE(fs::exists(fs::symlink_status(shared + "/flash.bin")));
    // A plain file left behind by a killed run is replaced.
    fs::remove(shared + "/flash.bin.tmp");
    WriteFile(shared + "/flash.bin.tmp", Bytes(3, 0));
    EXPECT_EQ(Rombolt({"sim", "create", shared, "--model", "single-32M"}, dir.path().string()).status, 0);
    EXPECT_FALSE(fs::exists(shared + "/flash.bin.tmp"));
    EXPECT_EQ(fs::file_size(shared + "/flash.bin"), 4u << 20);
}

TEST_F(CliRobust, ABackupIntoAPipeOrADeviceIsRefusedAtOnce) {
    MakeCart("single-32M", "64K");
    ASSERT_EQ(::mkfifo((dir / "fifo.gba").c_str(), 0600), 0);
    for (const std::string& out : {dir / "fifo.gba", std::string("/dev/zero"), std::string("/dev/stdout")}) {
        for (const char* cmd : {"backup", "save-backup"}) {
            SCOPED_TRACE(out + " " + cmd);
            RunResult r = OnCart({cmd, out, "--size", cmd[0] == 'b' ? "8M" : "64K"});
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(Contains(r.err, "not a file; a backup is written to a file")) << r.err;
            EXPECT_EQ(r.out, "");  // nothing at all went to standard output
        }
    }
}

// Runs a shell line in the test's folder (for closed and full standard streams); its exit status.
int Shell(const TempDir& dir, const std::string& line) {
    const int r = std::system(("cd '" + dir.path().string() + "' && " + line).c_str());
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

TEST_F(CliRobust, ClosedOrFullStandardOutputNeitherSpoilsAFileNorPassesForSuccess) {
    MakeCart("single-32M", "64K");
    WriteFile(dir / "game.gba", MakeGbaImage(2 * kChunk, "STREAMS", 72));
    const std::string bin = std::string("'") + ROMBOLT_BIN + "' --sim cart ";
    // Standard output closed: the trace holds trace lines only.
    EXPECT_EQ(Shell(dir, bin + "--trace t.txt info <&- >&-"), 0);
    const Bytes trace = ReadFile(dir / "t.txt");
    EXPECT_FALSE(Contains(std::string(trace.begin(), trace.end()), "Rombolt"));
    // The log cannot be written: a failure, and the report says so.
    EXPECT_EQ(Shell(dir, bin + "--report r.txt write game.gba >/dev/full 2>/dev/null"), 1);
    const Bytes report = ReadFile(dir / "r.txt");
    EXPECT_TRUE(Contains(std::string(report.begin(), report.end()), "result: failed"));
    // A trace that cannot be written fails the run, and the report says that too.
    EXPECT_EQ(Shell(dir, bin + "--trace /dev/full --report r.txt write game.gba >/dev/null 2>&1"), 1);
    const Bytes again = ReadFile(dir / "r.txt");
    EXPECT_TRUE(Contains(std::string(again.begin(), again.end()), "result: failed"));
    // A report that cannot be written is found before the cart is touched.
    const Bytes flash = Flash();
    WriteFile(dir / "other.gba", MakeGbaImage(2 * kChunk, "OTHER", 73));
    RunResult r = OnCart({"--report", "no/such/r.txt", "write", "other.gba"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "report file no/such/r.txt")) << r.err;
    EXPECT_TRUE(Flash() == flash);
}

TEST_F(CliRobust, AShortSaveFileSaysWhatItLeftAsItWas) {
    MakeCart("single-32M", "64K");
    WriteFile(dir / "small.sav", Bytes(8192, 0x33));
    RunResult r = OnCart({"save-restore", "small.sav", "--size", "64K"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(
        Contains(r.err, "filled 8 KiB from unit 1A1; the other 56 KiB of the 64K were left as they were"))
        << r.err;
    // The cart's files cannot be written back: no note says the units hold the file.
    fs::create_directory(cart + "/save.bin.tmp");
    r = OnCart({"save-restore", "small.sav", "--size", "64K"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "save memory: unchanged, the simulated cart's files were not written"))
        << r.err;
    EXPECT_FALSE(Contains(r.err, " hold the first ")) << r.err;
}

TEST_F(CliRobust, AListRowWithANulInItsNameIsRefused) {
    WriteFile(dir / "a.gba", MakeGbaImage(2 * kChunk, "ANUL", 74));
    WriteFile(dir / "b.gba", MakeGbaImage(2 * kChunk, "BNUL", 75));
    const std::string rows = "a.gba\n" + dir.path().string() + "\n65536\nANUL\nGBA\n\n" +
                             std::string("b.gba\0.bak", 10) + "\n" + dir.path().string() +
                             "\n65536\nBNUL\nGBA\n\n";
    WriteFile(dir / "list.txt", Bytes(rows.begin(), rows.end()));
    RunResult r = Rombolt({"layout", "--list", "list.txt"}, dir.path().string());
    EXPECT_TRUE(Contains(r.out + r.err, "List Name Error!!!(b.gba\\x00.bak: a NUL byte in the name)"))
        << r.out << r.err;
    EXPECT_FALSE(Contains(r.out, "BNUL")) << r.out;
}

}  // namespace
