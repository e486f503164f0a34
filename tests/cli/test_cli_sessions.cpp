// The built `rombolt` and the simulated cart's files: a cart that cannot be
// stored, two programs on one cart, signals, and what a failed run says on
// standard error.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
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

class CliSessions : public ::testing::Test {
protected:
    TempDir dir;
    std::string cart = dir / "cart";

    RunResult OnCart(std::vector<std::string> args) {
        args.insert(args.begin(), {"--sim", cart});
        return Rombolt(args, dir.path().string());
    }
    void MakeCart(const std::string& model, const std::string& save) {
        fs::remove_all(cart);
        RunResult r = Rombolt({"sim", "create", cart, "--model", model, "--save", save}, dir.path().string());
        ASSERT_EQ(r.status, 0) << r.err;
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

}  // namespace
