// The built `rombolt` run as a user runs it, against simulated carts made
// with `rombolt sim create` in a temporary directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "app/config.h"
#include "cli/digest.h"
#include "cli_test_util.h"
#include "ops/loaders.h"

using namespace rombolt::clitest;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunk = 32768;

// A cart directory, and images, inside one temporary directory that is also
// the working directory of every run.
class CliRun : public ::testing::Test {
protected:
    TempDir dir;
    std::string cart = dir / "cart";

    RunResult Run(std::vector<std::string> args) { return Rombolt(args, dir.path().string()); }
    RunResult OnCart(std::vector<std::string> args) {
        args.insert(args.begin(), {"--sim", cart});
        return Run(args);
    }
    void MakeCart(const std::string& model, const std::string& save = "64K",
                  const std::vector<std::string>& iniLines = {}) {
        RunResult r = Run({"sim", "create", cart, "--model", model, "--save", save});
        ASSERT_EQ(r.status, 0) << r.err;
        // Settings replace the lines of the same key.
        Bytes text = ReadFile(cart + "/cart.ini");
        std::string ini(text.begin(), text.end());
        for (const auto& l : iniLines) {
            std::string key = l.substr(0, l.find(' '));
            std::size_t at = ini.find("\n" + key + " ");
            ASSERT_NE(at, std::string::npos) << key;
            ini.replace(at + 1, ini.find('\n', at + 1) - at - 1, l);
        }
        WriteFile(cart + "/cart.ini", Bytes(ini.begin(), ini.end()));
    }
    Bytes Flash() { return ReadFile(cart + "/flash.bin"); }
    std::string Image(const std::string& name, const Bytes& b) {
        WriteFile(dir / name, b);
        return name;
    }
};

// Every line equals the expected one, except that a time line matches any seconds.
void ExpectLog(const RunResult& r, const std::vector<std::string>& expected) {
    std::vector<std::string> got = r.lines();
    ASSERT_EQ(got.size(), expected.size()) << r.out << r.err;
    static const std::regex timeLine("Time = [0-9]+ Sec");
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (expected[i] == "Time = * Sec")
            EXPECT_TRUE(std::regex_match(got[i], timeLine)) << got[i];
        else
            EXPECT_EQ(got[i], expected[i]) << "line " << i;
    }
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t n) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(from + n));
}

Bytes Padded(Bytes b) {
    b.resize((b.size() + kChunk - 1) / kChunk * kChunk, 0xFF);
    return b;
}

std::string Crc(const Bytes& b) {
    rombolt::cli::Crc32 c;
    c.Update(b.data(), b.size());
    return c.Hex();
}

}  // namespace

TEST_F(CliRun, UsageHelpAndVersion) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"--bogus", "info"}, {"backup"}, {"write", "a.gba", "--size", "8M"}}) {
        RunResult r = Run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(Contains(r.err, "--help")) << r.err;
    }
    RunResult v = Run({"--version"});
    EXPECT_EQ(v.status, 0);
    // Built from a git checkout, the version names a commit of that checkout.
    std::smatch version;
    ASSERT_TRUE(
        std::regex_match(v.out, version, std::regex("Rombolt Writer 3\\.2(?: \\(commit ([^)]+)\\))?\n")))
        << v.out;
    const bool checkout = fs::exists(fs::path(ROMBOLT_SOURCE_DIR) / ".git") &&
                          std::system("git -C '" ROMBOLT_SOURCE_DIR "' rev-parse >/dev/null 2>&1") == 0;
    EXPECT_TRUE(version[1].matched || !checkout) << v.out;
    if (version[1].matched) {
        const std::string commit = std::regex_replace(version[1].str(), std::regex("-dirty$"), "");
        const std::string verify =
            "git -C '" ROMBOLT_SOURCE_DIR "' rev-parse -q --verify '" + commit + "^{commit}' >/dev/null";
        EXPECT_EQ(std::system(verify.c_str()), 0) << commit;
    }

    RunResult h = Run({"--help"});
    EXPECT_EQ(h.status, 0);
    for (const char* word :
         {"--sim",    "--port",   "--speed",     "--verify",    "--no-verify",  "--fix",
          "--no-fix", "--cut32k", "--no-cut32k", "--ips",       "--gba-loader", "--gb-loader",
          "--trace",  "--report", "--yes",       "--quiet",     "--list",       "--size",
          "--bank",   "--model",  "--save",      "--rom",       "--raw",        "info",
          "write",    "verify",   "backup",      "save-backup", "save-restore", "erase",
          "layout",   "header",   "sim create",  "ports",       "port-test",    "--version"})
        EXPECT_TRUE(Contains(h.out, word)) << word;
    // The machine's parallel ports, if any, one line each.
    RunResult ports = Run({"ports"});
    EXPECT_EQ(ports.status, 0);
    for (const auto& line : ports.lines())
        EXPECT_TRUE(std::regex_match(line, std::regex("LPT[0-9]+  (0x[0-9a-f]+|-)  \\S+  \\S+"))) << line;

    // Nothing here may leave a settings file behind.
    EXPECT_FALSE(fs::exists(dir / "config.sav"));
}

TEST_F(CliRun, SingleGameWriteVerifyBackupAndChecksums) {
    MakeCart("single-32M");
    // 40000 bytes: the second chunk is padded with 0xFF on the cart.
    Bytes game = MakeGbaImage(40000, "HELLO", 7);
    Image("game.gba", game);

    RunResult w = OnCart({"write", "game.gba"});
    EXPECT_EQ(w.status, 0) << w.err;
    ExpectLog(w, {"Rombolt 32M Found", "[game.gba] HELLO", "Write To Cart Ok", "Time = * Sec"});
    Bytes flash = Flash();
    ASSERT_EQ(flash.size(), 4u << 20);
    EXPECT_EQ(Slice(flash, 0, 2 * kChunk), Padded(game));
    EXPECT_EQ(flash[2 * kChunk], 0xFF);
    // The checksum names the bytes on the cart: the image and its padding.
    std::string crc = Crc(Padded(game));
    EXPECT_TRUE(Contains(w.err, "game.gba: 65536 bytes at chunk 0: CRC32 " + crc)) << w.err;

    RunResult v = OnCart({"--verify", "verify", "game.gba"});
    EXPECT_EQ(v.status, 0) << v.err;
    ExpectLog(v, {"[game.gba] HELLO", "Verify Cart with File Ok", "Time = * Sec"});
    EXPECT_TRUE(Contains(v.err, "CRC32 " + crc));

    // A backup of the same range has the same checksum as the write.
    RunResult b = OnCart({"backup", "dump.gba", "--size", "8M", "--report", "report.txt"});
    EXPECT_EQ(b.status, 0) << b.err;
    ExpectLog(b, {"FileName = dump.gba", "Game Name = HELLO", "Rombolt 32M Found", "Cart Size = 8M",
                  "Time = * Sec"});
    Bytes dump = ReadFile(dir / "dump.gba");
    ASSERT_EQ(dump.size(), 1u << 20);
    EXPECT_EQ(Slice(dump, 0, 2 * kChunk), Padded(game));
    EXPECT_TRUE(Contains(b.err, "dump.gba: 1048576 bytes saved: CRC32 " + Crc(dump))) << b.err;
    Bytes report = ReadFile(dir / "report.txt");
    std::string rep(report.begin(), report.end());
    for (const char* line :
         {"command: backup\n", "result: ok\n", "cart model: Rombolt 32M Found\n",
          "cart capacity: 4194304 bytes, one chip\n", "size offered: 32M\n", "size read: 8M\n"})
        EXPECT_TRUE(Contains(rep, line)) << line << rep;
    EXPECT_TRUE(Contains(rep, "crc32 " + Crc(dump))) << rep;

    // Without --size the whole flash that identified itself is read.
    RunResult all = OnCart({"-q", "backup", "all.gba"});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(fs::file_size(dir / "all.gba"), 4u << 20);

    // A cart whose header check fails is copied only with --raw.
    const Bytes intact = MakeGbaImage(kChunk, "DAMAGED", 9);
    Bytes damaged = intact;
    damaged[0x10] ^= 0xFF;
    Image("damaged.gba", damaged);
    // "Fix Data" puts the logo back on the way in, and says so with both sums.
    RunResult fixed = OnCart({"write", "damaged.gba", "--report", "fixed.txt"});
    ASSERT_EQ(fixed.status, 0) << fixed.err;
    const std::string repaired =
        "repaired (Fix Data): file CRC32 " + Crc(damaged) + " (32768 bytes), sent CRC32 " + Crc(intact);
    EXPECT_TRUE(Contains(fixed.err, "damaged.gba: header " + repaired + " (32768 bytes)\n")) << fixed.err;
    const Bytes fixedReport = ReadFile(dir / "fixed.txt");
    EXPECT_TRUE(
        Contains(std::string(fixedReport.begin(), fixedReport.end()), "header: damaged.gba, " + repaired));
    ASSERT_EQ(OnCart({"--no-fix", "write", "damaged.gba"}).status, 0);
    EXPECT_EQ(OnCart({"backup", "refused.gba", "--size", "8M"}).status, 1);
    RunResult raw = OnCart({"backup", "raw.gba", "--size", "8M", "--raw"});
    EXPECT_EQ(raw.status, 0) << raw.out << raw.err;
    const Bytes copy = ReadFile(dir / "raw.gba");
    EXPECT_TRUE(std::equal(damaged.begin(), damaged.end(), copy.begin()));

    // config.sav is read when present but never written.
    EXPECT_FALSE(fs::exists(dir / "config.sav"));

    // A reader that stops after the first line does not cut the write short.
    Image("other.gba", MakeGbaImage(3 * kChunk, "OTHER", 8));
    Child child({"--sim", cart, "write", "other.gba"}, dir.path().string());
    std::string first;
    ASSERT_TRUE(child.ReadLine(first));
    child.CloseOutput();
    EXPECT_EQ(child.Wait().status, 0);
    EXPECT_EQ(OnCart({"verify", "other.gba"}).status, 0);
}

TEST_F(CliRun, MultiGameWriteAndVerify) {
    MakeCart("strata-64M");
    Bytes a = MakeGbaImage(3 * kChunk, "ALPHA", 1);
    Bytes b = MakeGbaImage(40000, "BRAVO", 2);
    Bytes c = MakeGbImage(kChunk, "CHARLIE", 0x80, 3);
    Image("a.gba", a);
    Image("b.gba", b);
    Image("c.gbc", c);
    const std::string loader = std::string("# ") + rombolt::kLoaderTitle;

    // GBA loader at 0, the larger GBA game at 1, the smaller one 4 MiB on at
    // 129, the GB game in the first free run, the GB loader at 255.
    RunResult w = OnCart({"write", "a.gba", "b.gba", "c.gbc"});
    EXPECT_EQ(w.status, 0) << w.err;
    ExpectLog(
        w, {"Rombolt Strata 64M Found", "1/5[GBA Loader] " + loader, "2/5[a.gba] ALPHA", "3/5[c.gbc] CHARLIE",
            "4/5[b.gba] BRAVO", "5/5[GB Loader] " + loader, "Write Multi-Files completed", "Time = * Sec"});
    Bytes flash = Flash();
    EXPECT_EQ(Slice(flash, 1 * kChunk, a.size()), a);
    EXPECT_EQ(Slice(flash, 4 * kChunk, c.size()), c);
    EXPECT_EQ(Slice(flash, 129 * kChunk, 2 * kChunk), Padded(b));
    EXPECT_EQ(Slice(flash, 0, 4),
              Slice(Bytes(rombolt::BuiltinGbaLoader.begin(), rombolt::BuiltinGbaLoader.end()), 0, 4));
    EXPECT_TRUE(Contains(
        w.err, "b.gba: 65536 bytes at chunk 129: CRC32 " + Crc(Slice(flash, 129 * kChunk, 2 * kChunk))))
        << w.err;
    EXPECT_TRUE(Contains(w.err, "GB Loader (built-in): 32768 bytes at chunk 255: CRC32 " +
                                    Crc(Slice(flash, 255 * kChunk, kChunk))))
        << w.err;
    EXPECT_TRUE(Contains(w.err,
                         "rombolt: note: the built-in boot loaders list the games on the cartridge but "
                         "cannot start them; write again with the loader files that came with the "
                         "cartridge (--gba-loader FILE, --gb-loader FILE)\n"))
        << w.err;

    // The same list from a list file verifies; a changed game does not.
    std::ofstream list(dir / "games.lst", std::ios::binary);
    for (auto [name, size, type, title] :
         {std::tuple{"a.gba", a.size(), "GBA", "ALPHA"}, std::tuple{"b.gba", b.size(), "GBA", "BRAVO"},
          std::tuple{"c.gbc", c.size(), "GBC", "CHARLIE"}})
        list << name << "\r\n"
             << dir.path().string() << "\r\n"
             << size << "\r\n"
             << title << "\r\n"
             << type << "\r\n\r\n";
    list.close();
    RunResult v = OnCart({"verify", "--list", "games.lst"});
    EXPECT_EQ(v.status, 0) << v.out << v.err;
    EXPECT_EQ(v.lines().at(v.lines().size() - 2), "Verify Multi-Files completed");
    EXPECT_FALSE(Contains(v.err, "note:")) << "a verify writes no loader";

    b[20000] ^= 0xFF;
    Image("b.gba", b);
    RunResult bad = OnCart({"verify", "a.gba", "b.gba", "c.gbc"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(Contains(bad.out, "Verify Flash Error!!!(0)\n")) << bad.out;
    EXPECT_FALSE(Contains(bad.err, "CRC32")) << "no checksums after a failure";

    // A loader file named on the command line replaces the built-in one.
    Bytes menu = MakeGbaImage(kChunk, "MYMENU", 8);
    Image("menu.bin", menu);
    RunResult l = OnCart({"--gba-loader", "menu.bin", "write", "a.gba", "b.gba"});
    EXPECT_EQ(l.status, 0) << l.err;
    EXPECT_EQ(l.lines().at(1), "1/3[GBA Loader] MYMENU");
    EXPECT_FALSE(Contains(l.err, "note:")) << l.err;
    EXPECT_EQ(Slice(Flash(), 0, kChunk), menu);
}

TEST_F(CliRun, FailuresExitWithOneAndSayWhyOnStandardError) {
    Image("game.gba", MakeGbaImage(2 * kChunk, "GAME", 5));

    // No adapter on the port.
    MakeCart("strata-64M", "64K", {"adapter = absent"});
    RunResult r = OnCart({"write", "game.gba"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No Adaptor Found!\n");
    EXPECT_EQ(r.err, "rombolt: No Adaptor Found!\n");
    r = OnCart({"info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No Adaptor Found!\n");
    fs::remove_all(cart);

    // An adapter without a flash cart.
    MakeCart("none", "none");
    r = OnCart({"info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Flash not found!!!\n");
    r = OnCart({"erase", "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Flash not found!!!\n");
    EXPECT_EQ(r.err, "rombolt: Flash not found!!!\n");
    fs::remove_all(cart);

    // Refused before the cart is touched, with the numbers that decide it.
    MakeCart("single-32M", "none");
    Image("big.gba", MakeGbaImage((4u << 20) + 2, "BIG", 6));
    r = OnCart({"write", "big.gba"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "rombolt: Cart Size Error!!!: the image is 4194306 bytes, the cart holds 4194304 bytes\n");
    Image("half.gba", MakeGbaImage(2u << 20, "HALF", 7));
    r = OnCart({"write", "half.gba", "big.gba"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "This  cart have not enough space for these files!!!\n")) << r.out;
    EXPECT_EQ(r.err,
              "rombolt: This  cart have not enough space for these files!!!: the list needs 6356992 bytes, "
              "the cart has 4194304 bytes\n");
    fs::remove_all(cart);

    // A program error in the second chunk, after the operation began.
    MakeCart("single-64M", "none", {"fault_program_error_chunk = 1"});
    r = OnCart({"write", "game.gba"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "Write Flash Error!!!(1)\nTime = ")) << r.out;
    EXPECT_EQ(
        r.err,
        "rombolt: Write Error!!!: write ended early: the cart holds chunks 0 to 0 of the image (1 of 2) "
        "and is not usable until it is written again\nverify: none (\"Verify\" is off)\n");
    fs::remove_all(cart);

    // A verify that fails says where, with both values, and how much of the chunk differs.
    MakeCart("single-32M", "none");
    r = OnCart({"--verify", "write", "game.gba"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(
        r.err, "\nverify: 2 passes (each chunk read back after programming, then the whole image again)\n"))
        << r.err;
    Bytes held = Flash();
    held[kChunk + 0x104] ^= 0x10;
    held[kChunk + 0x301] ^= 0x01;
    WriteFile(cart + "/flash.bin", held);
    r = OnCart({"verify", "game.gba", "--report", "verify.txt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "Verify Flash Error!!!(1)\n")) << r.out;
    const Bytes game = ReadFile(dir / "game.gba");
    char where[200];
    std::snprintf(where, sizeof where,
                  "verify: cart chunk 1 differs from the file, first at cart address 0x0008104 (image offset "
                  "0x0008104): cart 0x%02x%02x, file 0x%02x%02x; 2 of 16384 words differ in that chunk\n",
                  held[kChunk + 0x105], held[kChunk + 0x104], game[kChunk + 0x105], game[kChunk + 0x104]);
    EXPECT_EQ(r.err, std::string("rombolt: ") + where + "rombolt: Verify Error!!!\nverify: 1 pass\n");
    const Bytes verifyReport = ReadFile(dir / "verify.txt");
    const std::string vrep(verifyReport.begin(), verifyReport.end());
    EXPECT_TRUE(Contains(vrep, std::string("\n") + where)) << vrep;
    EXPECT_TRUE(Contains(vrep, "\nverify: 1 pass\n")) << vrep;

    // Inputs that cannot be used end the command before the cart is touched:
    // a loader file of the wrong size too, from the command line or from
    // config.sav, though the GB loader's turn comes after the games.
    Bytes before = Flash();
    WriteFile(dir / "bad.ips", Bytes{'P', 'A', 'T', 'C', 'H', 0, 0, 0, 0, 0, 1, 'E', 'O', 'F'});
    WriteFile(dir / "short.bin", Bytes(32767, 0));
    Image("mono.gb", MakeGbImage(kChunk, "MONO", 0x00, 4));
    rombolt::ConfigRecord cfg = rombolt::DefaultConfig(dir.path().string());
    ASSERT_TRUE(cfg.GbLoaderFile.set(dir / "short.bin"));
    const auto cfgBytes = rombolt::SerializeConfig(cfg);
    WriteFile(dir / "config.sav", Bytes(cfgBytes.begin(), cfgBytes.end()));
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--ips", "bad.ips", "write", "game.gba"},
                                               {"--ips", "missing.ips", "write", "game.gba"},
                                               {"write", "missing.gba"},
                                               {"--gba-loader", "missing.bin", "write", "game.gba"},
                                               {"--gba-loader", "short.bin", "write", "game.gba"},
                                               {"write", "game.gba", "mono.gb"},
                                               {"--trace", "/nonexistent/dir/t.txt", "info"}}) {
        r = OnCart(args);
        EXPECT_EQ(r.status, 1) << args[1];
        EXPECT_EQ(r.out, "") << args[1];
        EXPECT_TRUE(Contains(r.err, "rombolt: ")) << args[1];
    }
    EXPECT_EQ(Flash(), before);
    fs::remove(dir / "config.sav");
    r = Run({"--sim", dir / "nocart", "info"});
    EXPECT_EQ(r.status, 1);
    // Options that name nothing are usage errors, said on standard error.
    r = Run({"sim", "create", dir / "other", "--model", "strata-512M"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "strata-512M")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "other"));
    r = Run({"--port", "lpt9", "info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Contains(r.err, "Unknown port \"lpt9\"")) << r.err;
}

TEST_F(CliRun, SettingsFromConfigFileAndOverrides) {
    MakeCart("strata-64M");
    Bytes game = MakeGbaImage(kChunk, "CONF", 9);
    game[0xBD] ^= 0x33;  // wrong complement
    Image("game.gba", game);

    rombolt::ConfigRecord cfg = rombolt::DefaultConfig(dir.path().string());
    cfg.FixRom = 0;
    auto bytes = rombolt::SerializeConfig(cfg);
    std::string cfgPath = dir / "config.sav";
    WriteFile(cfgPath, Bytes(bytes.begin(), bytes.end()));
    auto stamp = fs::last_write_time(cfgPath);

    // "Fix Data" off in config.sav: the header goes in as it is.
    ASSERT_EQ(OnCart({"write", "game.gba"}).status, 0);
    EXPECT_EQ(Flash()[0xBD], game[0xBD]);
    // --fix overrides it for one run.
    ASSERT_EQ(OnCart({"--fix", "write", "game.gba"}).status, 0);
    EXPECT_EQ(Flash()[0xBD], static_cast<std::uint8_t>(game[0xBD] ^ 0x33));
    // The file was read, never written.
    EXPECT_EQ(ReadFile(cfgPath), Bytes(bytes.begin(), bytes.end()));
    EXPECT_EQ(fs::last_write_time(cfgPath), stamp);

    // An IPS patch applies to the write and to the verify of the same image.
    WriteFile(dir / "p.ips",
              Bytes{'P', 'A', 'T', 'C', 'H', 0x00, 0x10, 0x00, 0x00, 0x01, 0x5A, 'E', 'O', 'F'});
    RunResult w = OnCart({"--fix", "--ips", "p.ips", "write", "game.gba"});
    EXPECT_EQ(w.status, 0) << w.err;
    ExpectLog(w, {"Rombolt Strata 64M Found", "IpsFileName = p.ips", "-->Ips Applied<--", "[game.gba] CONF",
                  "Write To Cart Ok", "Time = * Sec"});
    EXPECT_EQ(Flash()[0x1000], 0x5A);
    EXPECT_EQ(OnCart({"--fix", "--ips", "p.ips", "verify", "game.gba"}).status, 0);
    EXPECT_EQ(OnCart({"--fix", "verify", "game.gba"}).status, 1);
}

TEST_F(CliRun, EraseAsksAndSaveMemoryRoundTrip) {
    MakeCart("strata-64M", "128K");
    Image("game.gba", MakeGbaImage(kChunk, "ERASE", 4));
    ASSERT_EQ(OnCart({"write", "game.gba"}).status, 0);

    // Without a terminal the question is not asked: nothing is erased.
    RunResult r = OnCart({"erase"});
    EXPECT_EQ(r.status, 1);
    ExpectLog(r, {"Rombolt Strata 64M Found", "Erase Flash Cancel"});
    EXPECT_NE(Flash()[0x100], 0xFF);
    r = OnCart({"erase", "-y"});
    EXPECT_EQ(r.status, 0);
    ExpectLog(r, {"Rombolt Strata 64M Found", "Cart Erase Ok", "Time = * Sec"});
    Bytes flash = Flash();
    EXPECT_EQ(std::count(flash.begin(), flash.end(), 0xFF), static_cast<long>(flash.size()));

    // A blank memory reads the same everywhere: its size cannot be told.
    r = OnCart({"save-backup", "blank.sav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "size cannot be told")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "blank.sav"));

    // 32K restored into bank 2, half B: save bytes 0x18000..0x1FFFF.
    Bytes save(32768);
    for (std::size_t i = 0; i < save.size(); ++i) save[i] = static_cast<std::uint8_t>(i * 7 + 3);
    Image("in.sav", save);
    r = OnCart({"save-restore", "in.sav", "--bank", "2B", "--size", "32K"});
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectLog(r, {"FileName = in.sav", "FileSize = 32768", "Write Saver Ok", "Time = * Sec"});
    EXPECT_EQ(Slice(ReadFile(cart + "/save.bin"), 0x18000, 32768), save);

    r = OnCart({"save-backup", "out.sav", "--bank", "2", "--size", "64K"});
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectLog(r, {"FileName = out.sav", "Backup Saver 64K Ok", "Time = * Sec"});
    Bytes out = ReadFile(dir / "out.sav");
    ASSERT_EQ(out.size(), 65536u);
    EXPECT_EQ(Slice(out, 32768, 32768), save);
    EXPECT_TRUE(Contains(r.err, "out.sav: 65536 bytes saved: CRC32 " + Crc(out))) << r.err;

    // The memory's 128K, found from its mirroring: the size save-backup
    // takes, the copies a larger one holds, and a larger file refused.
    r = OnCart({"save-backup", "found.sav"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "save memory size found: 128K")) << r.err;
    EXPECT_EQ(r.lines().at(1), "Backup Saver 128K Ok");
    EXPECT_EQ(ReadFile(dir / "found.sav"), ReadFile(cart + "/save.bin"));
    r = OnCart({"save-backup", "copies.sav", "--size", "256K"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "will hold 2 mirrored copies")) << r.err;
    const Bytes held = ReadFile(cart + "/save.bin");
    Image("big.sav", Bytes(256 * 1024, 0x5A));
    r = OnCart({"save-restore", "big.sav", "--size", "256K"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.out, "Save Memory Is 128K: File Too Large, Nothing Written!!!")) << r.out;
    EXPECT_TRUE(Contains(r.err, "no unit was changed")) << r.err;
    EXPECT_EQ(ReadFile(cart + "/save.bin"), held);

    // 128K from bank 4 runs past the end of save memory.
    r = OnCart({"save-backup", "x.sav", "--bank", "4", "--size", "128K"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines().back(), "Bank Select or Size Select Error!!!");
}

TEST_F(CliRun, TraceLinesOnePerPortAccess) {
    MakeCart("strata-64M");
    RunResult r = OnCart({"--trace", "trace.txt", "info"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(dir / "trace.txt");
    std::string line;
    long count = 0, words = 0;
    std::string last;
    static const std::regex byteLine("(inb|outb) 0x3[0-9a-f]{2} 0x[0-9a-f]{2}");
    static const std::regex wordLine("(inw|outw) 0x37c 0x[0-9a-f]{4}");
    while (std::getline(in, line)) {
        ++count;
        bool word = std::regex_match(line, wordLine);
        words += word;
        EXPECT_TRUE(word || std::regex_match(line, byteLine)) << "line " << count << ": " << line;
        last = line;
        if (count > 200000) break;
    }
    EXPECT_GT(count, 1000);
    EXPECT_GT(words, 0);                 // speed "4" in EPP mode moves words
    EXPECT_EQ(last, "outb 0x37a 0x04");  // the idle value ends the operation

    // The trace does not change what the operation does.
    RunResult plain = OnCart({"info"});
    EXPECT_EQ(plain.out, r.out);
    EXPECT_TRUE(Contains(plain.err, "EPP port, transfers in EPP cycles")) << plain.err;

    // Speed "1": the port still shows EPP, but no word cycle is ever used.
    RunResult spp = OnCart({"--speed", "1", "--trace", "spp.txt", "info"});
    ASSERT_EQ(spp.status, 0);
    EXPECT_EQ(spp.out, r.out);
    EXPECT_TRUE(Contains(spp.err, "EPP port, transfers in SPP cycles")) << spp.err;
    Bytes sppTrace = ReadFile(dir / "spp.txt");
    std::string sppText(sppTrace.begin(), sppTrace.end());
    EXPECT_GT(sppText.size(), 1000u);
    EXPECT_FALSE(Contains(sppText, "w 0x")) << "word cycle at speed 1";
}

TEST_F(CliRun, LayoutAndHeaderWithoutHardware) {
    Image("a.gba", MakeGbaImage(2 << 20, "ALPHA", 1));
    Image("b.gba", MakeGbaImage(1 << 20, "BRAVO", 2));
    Image("c.gb", MakeGbImage(kChunk, "CHARLIE", 0x00, 3));
    Bytes broken = MakeGbaImage(4096, "BROKEN", 4);
    broken[0xBD] ^= 1;
    Image("broken.gba", broken);

    RunResult r = Run({"layout", "a.gba", "b.gba"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = r.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[2]Total Size = 24.25Mb"), lines.end()) << r.out;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Only for:64M/128M/Vela64M/Vela128M/Vela256M"),
              lines.end());
    EXPECT_TRUE(Contains(r.out,
                         "64M:\n  0           GBA Loader\n  1-64        row 1 a.gba\n  65-128      free\n"
                         "  129-160     row 2 b.gba\n  161-255     free\n128M:"))
        << r.out;
    EXPECT_TRUE(Contains(
        r.out, "Vela64M:\n  0           GBA Loader\n  1-64        row 1 a.gba\n  65-96       row 2 b.gba\n"))
        << r.out;

    // A GB game takes a GB loader; three GBA games do not fit an 8 MiB plain cart.
    r = Run({"layout", "a.gba", "b.gba", "broken.gba", "c.gb"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "64M: does not fit (too many GBA games for this cart)\n")) << r.out;
    EXPECT_TRUE(Contains(r.out, "  511         GB Loader\n")) << r.out;

    // "Cut 32K" leaves out a padded last 32 KiB; --no-cut32k keeps it.
    Bytes padded = MakeGbaImage(2 * kChunk, "PADDED", 5);
    std::fill(padded.begin() + kChunk, padded.end(), 0xFF);
    Image("p.gba", padded);
    EXPECT_TRUE(Contains(Run({"layout", "p.gba"}).out, "p.gba  size 65536  in cart 32768  GBA#  PADDED"));
    EXPECT_TRUE(Contains(Run({"--no-cut32k", "layout", "p.gba"}).out, "in cart 65536  GBA#"));

    r = Run({"header", "a.gba", "c.gb"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Contains(r.out, "a.gba: GBA \"ALPHA\", logo ok, complement ok")) << r.out;
    EXPECT_TRUE(Contains(r.out, "c.gb: GB \"CHARLIE\", logo ok, header checksum ok")) << r.out;
    r = Run({"header", "a.gba", "broken.gba", "missing.gba"});
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.lines().size(), 3u) << r.out;
    EXPECT_TRUE(Contains(r.lines()[1], "complement wrong")) << r.out;
    EXPECT_TRUE(Contains(r.lines()[2], "missing.gba: cannot be read")) << r.out;
}

TEST_F(CliRun, CtrlCStopsTheWriteAndTheCartVerifiesUpToTheStop) {
    // Slow chips so that the write is still running when Ctrl-C comes.
    MakeCart("strata-64M", "none", {"busy_program = 400"});
    const std::size_t chunks = 32;
    Bytes game = MakeGbaImage(chunks * kChunk, "STOPME", 11);
    Image("game.gba", game);

    Child child({"--sim", cart, "write", "game.gba"}, dir.path().string());
    std::string line;
    while (child.ReadLine(line) && line.rfind("[game.gba]", 0) != 0) {
    }
    usleep(200 * 1000);  // let a few chunks go in
    child.Signal(SIGINT);
    RunResult r = child.Wait();
    EXPECT_EQ(r.status, 1);
    ASSERT_TRUE(Contains(r.out, "Stop process !!!\n")) << r.out;
    EXPECT_FALSE(Contains(r.out, "Write To Cart Ok"));
    EXPECT_TRUE(std::regex_search(r.out, std::regex("Time = [0-9]+ Sec\n$"))) << r.out;

    // Whole chunks up to the stop hold the image; the chunk being programmed
    // holds image words or erased words; nothing after it was touched.
    Bytes flash = Flash();
    std::size_t k = 0;
    while (k < chunks && Slice(flash, k * kChunk, kChunk) == Slice(game, k * kChunk, kChunk)) ++k;
    ASSERT_LT(k, chunks);
    for (std::size_t i = k * kChunk; i < (k + 1) * kChunk; i += 2)
        ASSERT_TRUE((flash[i] == game[i] && flash[i + 1] == game[i + 1]) ||
                    (flash[i] == 0xFF && flash[i + 1] == 0xFF))
            << "offset " << i;
    for (std::size_t i = (k + 1) * kChunk; i < chunks * kChunk; ++i)
        ASSERT_EQ(flash[i], 0xFF) << "offset " << i;
    std::smatch m;
    if (std::regex_search(r.out, m, std::regex("Write Flash Error!!!\\(([0-9]+)\\)"))) {
        std::size_t stopped = std::stoul(m[1]);
        EXPECT_TRUE(k == stopped || k == stopped + 1) << k << " vs " << stopped;
    }
    // The last word says what the cart holds now.
    ASSERT_TRUE(std::regex_search(
        r.err, m,
        std::regex("rombolt: Write Error!!!: write stopped: the cart holds (no chunk|chunks 0 "
                   "to ([0-9]+)) of the image .*and is not usable until it is written again\n")))
        << r.err;
    const std::size_t held = m[2].matched ? std::stoul(m[2]) + 1 : 0;
    EXPECT_TRUE(k == held || k == held + 1) << k << " vs " << held;

    // The flash is back in read mode: what went in verifies.
    if (k > 0) {
        Image("head.gba", Slice(game, 0, k * kChunk));
        RunResult v = OnCart({"verify", "head.gba"});
        EXPECT_EQ(v.status, 0) << v.out;
        ExpectLog(v, {"[head.gba] STOPME", "Verify Cart with File Ok", "Time = * Sec"});
    }
}
