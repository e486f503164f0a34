// The built `rombolt` and the simulated cart's files: a cart that cannot be
// stored, two programs on one cart, signals, and what a failed run says on
// standard error.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "cli_test_util.h"

using namespace rombolt::clitest;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunk = 32768;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string Crc(const Bytes& b, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= b[i];
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08x", ~c);
    return text;
}

class CliSessions : public ::testing::Test {
protected:
    TempDir dir;
    std::string cart = dir / "cart";

    RunResult OnCart(std::vector<std::string> args) {
        args.insert(args.begin(), {"--sim", cart});
        return Rombolt(args, dir.path().string());
    }
    // extraIni: one "key = value\n" line for cart.ini.
    void MakeCart(const std::string& model, const std::string& save, const std::string& extraIni = "") {
        fs::remove_all(cart);
        RunResult r = Rombolt({"sim", "create", cart, "--model", model, "--save", save}, dir.path().string());
        ASSERT_EQ(r.status, 0) << r.err;
        if (extraIni.empty()) return;
        // The line of the key given replaces the one cart.ini has.
        const Bytes bytes = ReadFile(cart + "/cart.ini");
        std::string text(bytes.begin(), bytes.end());
        const std::size_t at = text.find("\n" + extraIni.substr(0, extraIni.find(' ')) + " ");
        ASSERT_NE(at, std::string::npos) << extraIni;
        text.replace(at + 1, text.find('\n', at + 1) - at, extraIni);
        WriteFile(cart + "/cart.ini", Bytes(text.begin(), text.end()));
    }
    // A write of `image` that takes a while (slow chips), started in the
    // background and running once its first log line about the game is out.
    std::unique_ptr<Child> SlowWrite(const std::string& image) {
        auto child = std::make_unique<Child>(std::vector<std::string>{"--sim", cart, "write", image},
                                             dir.path().string());
        std::string line;
        while (child->ReadLine(line) && line.rfind("[" + image + "]", 0) != 0) {
        }
        return child;
    }
    Bytes Flash() { return ReadFile(cart + "/flash.bin"); }
    Bytes Save() { return ReadFile(cart + "/save.bin"); }
    std::vector<std::string> CartFiles() {
        std::vector<std::string> names;
        for (auto& e : fs::directory_iterator(cart)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(CliSessions, ACartThatCannotBeStoredFailsTheOperation) {
    MakeCart("single-32M", "64K");
    WriteFile(dir / "game.gba", MakeGbaImage(4 * kChunk, "STORE", 21));
    WriteFile(dir / "in.sav", Bytes(65536, 0x5A));
    const Bytes flash = Flash();
    const Bytes save = Save();
    const std::vector<std::string> files = CartFiles();

    // The file that would replace flash.bin (save.bin) cannot be made.
    for (const char* blocked : {"flash.bin.tmp", "save.bin.tmp"}) {
        SCOPED_TRACE(blocked);
        fs::create_directory(cart + "/" + blocked);
        RunResult r = blocked[0] == 'f' ? OnCart({"--verify", "write", "game.gba"})
                                        : OnCart({"save-restore", "in.sav", "--size", "64K"});
        EXPECT_EQ(r.status, 1);
        EXPECT_FALSE(Contains(r.out, "Write To Cart Ok")) << r.out;
        EXPECT_FALSE(Contains(r.out, "Write Saver Ok")) << r.out;
        EXPECT_TRUE(Contains(r.out, std::string("Simulated cart not saved: ") + cart + "/" + blocked))
            << r.out;
        EXPECT_TRUE(Contains(r.out, "Time = ")) << r.out;
        fs::remove(cart + "/" + blocked);
    }
    // A full disk: no file may grow beyond 1 MiB.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1 << 20;
    auto xfsz = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    RunResult r = OnCart({"write", "game.gba"});
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, xfsz);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(Contains(r.out, "Write To Cart Ok")) << r.out;
    EXPECT_TRUE(Contains(r.out, "Simulated cart not saved: ")) << r.out;

    // The cart is as it was, with no half-written file left beside it.
    EXPECT_TRUE(Flash() == flash);
    EXPECT_TRUE(Save() == save);
    EXPECT_EQ(CartFiles(), files);
}

TEST_F(CliSessions, TwoProgramsOnOneCartTakeTurns) {
    MakeCart("strata-64M", "64K", "busy_program = 300\n");
    const Bytes first = MakeGbaImage(32 * kChunk, "FIRST", 31);
    const Bytes second = MakeGbaImage(2 * kChunk, "SECOND", 32);
    WriteFile(dir / "first.gba", first);
    WriteFile(dir / "second.gba", second);

    auto running = SlowWrite("first.gba");
    // A second program is turned away before it touches the cart, and says who has it.
    RunResult busy = OnCart({"write", "second.gba"});
    EXPECT_EQ(busy.status, 1);
    EXPECT_EQ(busy.out, "");
    EXPECT_TRUE(
        std::regex_search(busy.err, std::regex("simulated cart in .*: in use by rombolt \\(pid [0-9]+\\)")))
        << busy.err;
    RunResult done = running->Wait();
    ASSERT_EQ(done.status, 0) << done.out << done.err;
    EXPECT_TRUE(std::equal(first.begin(), first.end(), Flash().begin()));

    // Taken in turn, the second write lands on the first one's cart.
    RunResult after = OnCart({"write", "second.gba"});
    ASSERT_EQ(after.status, 0) << after.out << after.err;
    const Bytes flash = Flash();
    EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin()));
    EXPECT_TRUE(std::equal(first.begin() + 8 * kChunk, first.end(), flash.begin() + 8 * kChunk))
        << "the first write outside the block the second one erased";
}

TEST_F(CliSessions, TermAndHangUpStopLikeCtrlCAndAFailureSaysWhy) {
    MakeCart("strata-64M", "none", "busy_program = 300\n");
    WriteFile(dir / "game.gba", MakeGbaImage(32 * kChunk, "SIGNAL", 33));
    for (int sig : {SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(sig);
        auto child = SlowWrite("game.gba");
        usleep(100 * 1000);
        child->Signal(sig);
        RunResult r = child->Wait();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(Count(r.out, "Stop process !!!\n"), 1u) << r.out;
        EXPECT_FALSE(Contains(r.out, "Write To Cart Ok"));
        EXPECT_TRUE(std::regex_search(r.out, std::regex("Time = [0-9]+ Sec\n$"))) << r.out;
        // Standard error is no terminal here; the verdict is said all the same.
        EXPECT_TRUE(Contains(r.err, "rombolt: Write Error!!!: write stopped: ")) << r.err;
        // Stopped cleanly: the cart answers and reads back at once.
        EXPECT_EQ(OnCart({"info"}).status, 0);
        EXPECT_TRUE(CartFiles() == (std::vector<std::string>{"cart.ini", "flash.bin"}));
    }
}

// Every file of a folder whose name starts with `name`.
std::vector<std::string> FilesNamed(const std::string& folder, const std::string& name) {
    std::vector<std::string> found;
    for (auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind(name, 0) == 0) found.push_back(e.path().filename().string());
    return found;
}

TEST_F(CliSessions, AFileSizeLimitIsAWriteErrorAndNoPartialBackupLooksComplete) {
    MakeCart("strata-64M", "64K");
    WriteFile(dir / "game.gba", MakeGbaImage(64 * kChunk, "LIMIT", 41));
    ASSERT_EQ(OnCart({"write", "game.gba"}).status, 0);
    const Bytes flash = Flash();
    // Under a limit of 1 MiB per file, with SIGXFSZ as a shell leaves it.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1 << 20;
    auto xfsz = std::signal(SIGXFSZ, SIG_DFL);
    ::setrlimit(RLIMIT_FSIZE, &small);
    RunResult w = OnCart({"write", "game.gba"});
    RunResult b = OnCart({"backup", "out.gba", "--size", "16M"});  // 2 MiB
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, xfsz);
    EXPECT_EQ(w.status, 1);
    EXPECT_TRUE(Contains(w.err, "not saved: ")) << w.err;
    EXPECT_TRUE(Flash() == flash);
    EXPECT_TRUE(CartFiles() == (std::vector<std::string>{"cart.ini", "flash.bin", "save.bin"}));
    EXPECT_EQ(b.status, 1);
    EXPECT_TRUE(Contains(b.out, "Write ErrNo=File too large")) << b.out;
    // Neither the final name nor a side file holds the partial backup.
    EXPECT_TRUE(FilesNamed(dir.path().string(), "out.gba").empty());
}

TEST_F(CliSessions, ASecondCtrlCEndsAtOnceAndLeavesNoTemporaryFile) {
    MakeCart("strata-256M", "none");
    Child child({"--sim", cart, "backup", "out.gba", "--size", "256M"}, dir.path().string());
    std::string line;
    while (child.ReadLine(line) && line.rfind("Cart Size = ", 0) != 0) {
    }
    child.Signal(SIGINT);
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait().status, 1);
    EXPECT_TRUE(FilesNamed(dir.path().string(), "out.gba").empty());
}

TEST_F(CliSessions, AFailedSaveRestoreSaysWhichUnitsHoldTheFile) {
    MakeCart("strata-64M", "64K");
    Bytes file(65536);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 13 + 5);
    WriteFile(dir / "in.sav", file);
    const Bytes before = Save();
    // The adapter goes away late in the writing of eight units (the final
    // read-back pass takes the last part of the accesses).
    RunResult trace = OnCart({"--trace", dir / "t.txt", "save-restore", "in.sav", "--size", "64K"});
    ASSERT_EQ(trace.status, 0) << trace.out << trace.err;
    const Bytes t = ReadFile(dir / "t.txt");
    const long accesses = std::count(t.begin(), t.end(), '\n');
    // The accesses before the writing: those of a restore whose file is refused.
    WriteFile(dir / "odd.sav", Bytes(12288));
    ASSERT_EQ(OnCart({"--trace", dir / "t0.txt", "save-restore", "odd.sav", "--size", "64K"}).status, 1);
    const Bytes t0 = ReadFile(dir / "t0.txt");
    const long prefix = std::count(t0.begin(), t0.end(), '\n');
    const long half = prefix + (accesses - prefix) / 2;
    MakeCart("strata-64M", "64K", "fault_vanish_after = " + std::to_string(half) + "\n");
    WriteFile(cart + "/save.bin", before);
    RunResult r = OnCart({"save-restore", "in.sav", "--size", "64K"});
    EXPECT_EQ(r.status, 1);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("Write Save Data Error!!!\\(([0-9])\\)"))) << r.out;
    const int failed = std::stoi(m[1]);
    ASSERT_GT(failed, 1);
    auto code = [](int unit) {
        return "1" + std::string(1, static_cast<char>('A' + unit / 4)) + std::to_string(unit % 4 + 1);
    };
    EXPECT_TRUE(Contains(r.err, "rombolt: save memory: units 1A1-" + code(failed - 1) + " hold the first " +
                                    std::to_string(failed * 8) + " KiB of in.sav; unit " + code(failed) +
                                    " may hold part of the next 8 KiB; the other units are unchanged"))
        << r.err;
    // And so they do.
    const Bytes save = Save();
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + failed * 8192, save.begin()));
    const std::size_t after = (failed + 1) * 8192;
    EXPECT_TRUE(std::equal(before.begin() + after, before.end(), save.begin() + after));

    // Gone during the final read-back pass: every unit was written, and the
    // note does not claim they all hold the file.
    MakeCart("strata-64M", "64K", "fault_vanish_after = " + std::to_string(accesses * 19 / 20) + "\n");
    WriteFile(cart + "/save.bin", before);
    r = OnCart({"save-restore", "in.sav", "--size", "64K"});
    EXPECT_EQ(r.status, 1);
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("Verify Save Data Error!!!\\(([0-9])\\)"))) << r.out;
    EXPECT_TRUE(
        Contains(r.err, "rombolt: save memory: units 1A1-1B4 hold the first 64 KiB of in.sav; but unit " +
                            code(std::stoi(m[1])) + " did not read back as the file"))
        << r.err;
}

TEST_F(CliSessions, ChecksumsAreThoseOfTheBytesThatWentToTheCart) {
    MakeCart("strata-64M", "none", "busy_program = 300\n");
    const Bytes image = MakeGbaImage(32 * kChunk, "SUMS", 34);
    WriteFile(dir / "game.gba", image);
    auto child = SlowWrite("game.gba");
    // The image is changed in place while it is being written.
    {
        std::fstream f(dir / "game.gba", std::ios::in | std::ios::out | std::ios::binary);
        const std::string other(16 * kChunk, '\x5A');
        f.seekp(16 * kChunk);
        f.write(other.data(), static_cast<std::streamsize>(other.size()));
    }
    RunResult r = child->Wait();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const Bytes flash = Flash();
    EXPECT_TRUE(Contains(r.err, "game.gba: 1048576 bytes at chunk 0: CRC32 " + Crc(flash, 32 * kChunk)))
        << r.err;
}

}  // namespace
