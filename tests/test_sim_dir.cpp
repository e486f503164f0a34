// The persistent cart directory (cart.ini, flash.bin, save.bin) and the
// faults that cart.ini can switch on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/app_state.h"
#include "flash/identify.h"
#include "link/cartbus.h"
#include "link/detect.h"
#include "link/link.h"
#include "sim/cart_dir.h"
#include "sim/sim_port.h"
#include "support/fake_frontend.h"
#include "support/sim_fixture.h"

using namespace rombolt;
using rombolt::test::ReadCartWord;
using rombolt::test::ReadCartWords;
using rombolt::test::SimFixture;
namespace fs = std::filesystem;

namespace {

std::string TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "simcartXXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return "";
    return tmpl;
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

ino_t Inode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

SimConfig FromIni(const std::string& text) {
    SimConfig c;
    std::string error;
    EXPECT_TRUE(ParseCartIni(text, c, error)) << error;
    return c;
}

// A program port wired to a SimPort opened from a directory.
struct DirBench {
    explicit DirBench(SimPort& p) : ui(s) {
        s.UI = &ui;
        s.Port = &p;
        ApplyPortSelection(s);
    }
    AppState s;
    test::FakeFrontend ui;
};

// Buffer program of 16 words at word a of a single chip, then read array.
std::uint16_t ProgramAndStatus(AppState& s, std::uint32_t a, std::uint16_t value) {
    WriteCartWord(s, a, 0xE8);
    WriteCartWord(s, a, 0x0F);
    SetCartAddress(s, a);
    SelectRegister(s, kRegData);
    for (int i = 0; i < 16; ++i) WriteDataWord(s, value);
    WriteDataWord(s, 0xD0);
    std::uint16_t st = 0;
    for (int i = 0; i < 100 && !(st & 0x80); ++i) st = ReadCartWord(s, a);
    return st;
}

std::uint16_t EraseAndStatus(AppState& s, std::uint32_t a, int polls) {
    WriteCartWord(s, a, 0x20);
    WriteCartWord(s, a, 0xD0);
    std::uint16_t st = 0;
    for (int i = 0; i < polls && !(st & 0x80); ++i) st = ReadCartWord(s, a);
    return st;
}

}  // namespace

TEST(SimCartIni, EveryKeyParsesAndMistakesAreNamed) {
    SimConfig c = FromIni(
        "# a cart\n"
        "model = vela-128M\n"
        "save = 128K\n"
        "bases = 0x278, 956\n"
        "spp_only = yes\n"
        "adapter = absent\n"
        "busy_program = 3\n"
        "busy_erase = 0x40\n"
        "fault_program_error_chunk = 5\n"
        "fault_erase_stuck_chunk = 6\n"
        "fault_locked_chunk = 7\n"
        "fault_flip_every = 1000\n"
        "fault_vanish_after = 99\n"
        "noise_seed = 12345\n");
    EXPECT_EQ(c.model, "vela-128M");
    EXPECT_EQ(c.save, "128K");
    EXPECT_EQ(c.bases, (std::vector<int>{0x278, 0x3BC}));
    EXPECT_TRUE(c.sppOnly);
    EXPECT_FALSE(c.adapterPresent);
    EXPECT_EQ(c.busyProgram, 3);
    EXPECT_EQ(c.busyErase, 64);
    EXPECT_EQ(c.faultProgramErrorChunk, 5);
    EXPECT_EQ(c.faultEraseStuckChunk, 6);
    EXPECT_EQ(c.faultLockedChunk, 7);
    EXPECT_EQ(c.faultFlipEvery, 1000);
    EXPECT_EQ(c.faultVanishAfter, 99);
    EXPECT_EQ(c.noiseSeed, 12345u);
    EXPECT_TRUE(FromIni("model = rom\nepp_only = yes\n").eppOnly);

    // What CartIniText writes reads back the same.
    SimConfig again;
    std::string error;
    ASSERT_TRUE(ParseCartIni(CartIniText(c), again, error)) << error;
    EXPECT_EQ(CartIniText(again), CartIniText(c));

    const struct {
        const char* text;
        const char* part;
    } bad[] = {
        {"model = single-64M\nsave = 64K\ncolour = red\n", "line 3: unknown key 'colour'"},
        {"model = single-48M\n", "unknown model \"single-48M\""},
        {"model = rom\nsave = 48K\n", "unknown save size \"48K\""},
        {"model = rom\nmodel = none\n", "line 2: key 'model' given twice"},
        {"save = 64K\n", "no `model = ...` line"},
        {"model = rom\nbusy_erase = -3\n", "busy_erase"},
        {"model = rom\nspp_only = maybe\n", "spp_only"},
        {"model = rom\nepp_only = yes\nspp_only = yes\n", "spp_only and epp_only"},
        {"model = rom\njust words\n", "line 2: expected `key = value`"},
        {"model = rom\nbases = 0x378, lpt2\n", "\"lpt2\""},
    };
    for (auto& b : bad) {
        SimConfig x;
        std::string err;
        EXPECT_FALSE(ParseCartIni(b.text, x, err)) << b.text;
        EXPECT_NE(err.find(b.part), std::string::npos) << err;
    }
}

TEST(SimCartDir, CreateOpenWriteBackAndReopen) {
    const std::string dir = TempDir();
    ASSERT_FALSE(dir.empty());
    const std::string rom = dir + "/game.gba";
    std::ofstream(rom, std::ios::binary) << std::string("\x2E\x00\x00\xEA", 4);
    std::string error;
    ASSERT_TRUE(CreateSimCart(dir + "/cart", "single-32M", "32K", rom, error)) << error;
    EXPECT_EQ(fs::file_size(dir + "/cart/flash.bin"), 0x400000u);
    EXPECT_EQ(fs::file_size(dir + "/cart/save.bin"), 0x8000u);
    EXPECT_FALSE(CreateSimCart(dir + "/cart", "single-32M", "32K", "", error)) << "an existing cart stays";
    EXPECT_NE(error.find("already"), std::string::npos);

    {
        auto port = SimPort::Open(dir + "/cart", error);
        ASSERT_TRUE(port) << error;
        DirBench b(*port);
        ASSERT_EQ(DetectAdapter(b.s), 0);
        EXPECT_EQ(ReadCartWords(b.s, 0, 3), (std::vector<std::uint16_t>{0x002E, 0xEA00, 0xFFFF}));
        const ino_t before = Inode(dir + "/cart/flash.bin");
        IdlePort(b.s);
        EXPECT_EQ(Inode(dir + "/cart/flash.bin"), before) << "nothing changed, nothing written";

        OpenFlashAccess(b.s);
        EXPECT_EQ(ProgramAndStatus(b.s, 0x100, 0x1234), 0x80);
        WriteCartWord(b.s, 0, 0xFF);
        SetSaveAccess(b.s);
        SetCartAddress(b.s, 0x7FFF);
        SelectRegister(b.s, kRegData);
        WriteDataByte(b.s, 0x5A);
        EXPECT_EQ(FileBytes(dir + "/cart/save.bin")[0x7FFF], 0xFF) << "not yet idle";
        IdlePort(b.s);
        EXPECT_EQ(FileBytes(dir + "/cart/save.bin")[0x7FFF], 0x5A);
        auto flash = FileBytes(dir + "/cart/flash.bin");
        EXPECT_EQ(flash[0x200], 0x34);
        EXPECT_EQ(flash[0x201], 0x12);
        for (auto& e : fs::directory_iterator(dir + "/cart"))
            EXPECT_EQ(e.path().extension(), e.path().filename() == "cart.ini" ? ".ini" : ".bin") << e.path();

        // A write-back that cannot happen is kept pending and reported.
        fs::create_directory(dir + "/cart/save.bin.tmp");
        SetSaveAccess(b.s);
        SetCartAddress(b.s, 0x10);
        SelectRegister(b.s, kRegData);
        WriteDataByte(b.s, 0x66);
        IdlePort(b.s);
        EXPECT_NE(port->WriteBackError().find("save.bin.tmp"), std::string::npos) << port->WriteBackError();
        EXPECT_EQ(FileBytes(dir + "/cart/save.bin")[0x10], 0xFF) << "the old image stays whole";
        fs::remove(dir + "/cart/save.bin.tmp");
        SetSaveAccess(b.s);
        SetCartAddress(b.s, 0x11);
        SelectRegister(b.s, kRegData);
        WriteDataByte(b.s, 0x67);  // no idle: the destructor writes both back
    }
    auto again = SimPort::Open(dir + "/cart", error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->Save()[0x10], 0x66);
    EXPECT_EQ(again->Save()[0x11], 0x67);
    EXPECT_EQ(again->Save()[0x7FFF], 0x5A);
    EXPECT_EQ(again->Flash()[0x200], 0x34);
    again.reset();

    // Damaged or incomplete directories are refused with the reason.
    std::vector<std::uint8_t> shortFlash(1000, 0xFF);
    ASSERT_TRUE(WriteFileAtomically(dir + "/cart/flash.bin", shortFlash, error));
    EXPECT_FALSE(SimPort::Open(dir + "/cart", error));
    EXPECT_NE(error.find("1000 bytes"), std::string::npos) << error;
    EXPECT_FALSE(SimPort::Open(dir + "/nothing", error));
    EXPECT_NE(error.find("cart.ini"), std::string::npos) << error;
    WriteText(dir + "/cart/cart.ini", "model = single-32M\nflavour = x\n");
    EXPECT_FALSE(SimPort::Open(dir + "/cart", error));
    EXPECT_NE(error.find("unknown key 'flavour'"), std::string::npos) << error;

    EXPECT_FALSE(CreateSimCart(dir + "/r", "rom", "none", "", error)) << "a mask ROM needs its bytes";
    EXPECT_FALSE(CreateSimCart(dir + "/x", "single-256M", "none", "", error));
    ASSERT_TRUE(CreateSimCart(dir + "/r", "rom", "none", rom, error)) << error;
    auto romPort = SimPort::Open(dir + "/r", error);
    ASSERT_TRUE(romPort) << error;
    EXPECT_EQ(romPort->Flash().size(), 4u);
    EXPECT_TRUE(romPort->Save().empty());
    romPort.reset();

    // A Vela cart is told from a Strata one by its save memory: without a
    // save size it gets 64K, and "none" is refused. Other models get none.
    ASSERT_TRUE(CreateSimCart(dir + "/v", "vela-256M", "", "", error)) << error;
    EXPECT_EQ(fs::file_size(dir + "/v/save.bin"), 0x10000u);
    auto vela = SimPort::Open(dir + "/v", error);
    ASSERT_TRUE(vela) << error;
    {
        DirBench b(*vela);
        ASSERT_EQ(DetectAdapter(b.s), 0);
        ASSERT_EQ(IdentifyFlash(b.s), 0);
        EXPECT_EQ(b.ui.log.back(), "Rombolt Vela 256M Found");
    }
    vela.reset();
    EXPECT_FALSE(CreateSimCart(dir + "/w", "vela-64M", "none", "", error));
    EXPECT_NE(error.find("save memory"), std::string::npos) << error;
    ASSERT_TRUE(CreateSimCart(dir + "/s", "strata-256M", "", "", error)) << error;
    EXPECT_FALSE(fs::exists(dir + "/s/save.bin"));
    fs::remove_all(dir);
}

TEST(SimFaults, ProgramErrorLockedBlockAndStuckEraseShowInStatus) {
    {
        SimFixture f(FromIni("model = single-32M\nfault_program_error_chunk = 1\n"));
        ASSERT_EQ(DetectAdapter(f.s), 0);
        OpenFlashAccess(f.s);
        EXPECT_EQ(ProgramAndStatus(f.s, 0x3FF0, 0x0000), 0x80) << "chunk 0 programs";
        EXPECT_EQ(ProgramAndStatus(f.s, 0x4000, 0x0000), 0x90) << "chunk 1 fails";
        WriteCartWord(f.s, 0, 0x50);
        WriteCartWord(f.s, 0, 0xFF);
        EXPECT_EQ(ReadCartWord(f.s, 0x3FF0), 0x0000);
        EXPECT_EQ(ReadCartWord(f.s, 0x4000), 0xFFFF);
    }
    {
        SimFixture f(FromIni("model = strata-64M\nfault_locked_chunk = 9\n"));  // pair block 1
        std::fill(f.sim().Flash().begin(), f.sim().Flash().end(), 0x00);
        ASSERT_EQ(DetectAdapter(f.s), 0);
        OpenFlashAccess(f.s);
        EXPECT_EQ(EraseAndStatus(f.s, 8 << 14, 100), 0xA2) << "locked: erase error";
        EXPECT_EQ(EraseAndStatus(f.s, (8 << 14) + 1, 100), 0xA2) << "both chips of the pair";
        WriteCartWord(f.s, 0, 0x50);
        EXPECT_EQ(EraseAndStatus(f.s, 0, 100), 0x80) << "block 0 is free";
        WriteCartWord(f.s, 0, 0xFF);
        EXPECT_EQ(ReadCartWord(f.s, 8 << 14), 0x0000);
        EXPECT_EQ(ReadCartWord(f.s, 0), 0xFFFF);
        EXPECT_EQ(f.sim().TotalEraseCount(), 1);
        WriteCartWord(f.s, 8 << 14, 0x50);
        WriteCartWord(f.s, 8 << 14, 0x40);  // word program
        WriteCartWord(f.s, 8 << 14, 0x0000);
        EXPECT_EQ(ReadCartWord(f.s, 8 << 14), 0x12) << "busy for one read";
        EXPECT_EQ(ReadCartWord(f.s, 8 << 14), 0x92);
        // Identification reports the lock bit at query word 2.
        WriteCartWord(f.s, 8 << 14, 0x98);
        EXPECT_EQ(ReadCartWord(f.s, (8 << 14) + 4), 1);
        EXPECT_EQ(ReadCartWord(f.s, 4), 0);
    }
    {
        SimFixture f(FromIni("model = single-32M\nfault_erase_stuck_chunk = 4\nbusy_erase = 5\n"));
        std::fill(f.sim().Flash().begin(), f.sim().Flash().end(), 0x00);
        ASSERT_EQ(DetectAdapter(f.s), 0);
        OpenFlashAccess(f.s);
        EXPECT_EQ(EraseAndStatus(f.s, 0, 100), 0x80) << "five busy reads, then done";
        EXPECT_EQ(EraseAndStatus(f.s, 4 << 14, 20000), 0x00) << "block 1 never finishes";
        EXPECT_TRUE(f.sim().ChipBusy(0));
        WriteCartWord(f.s, 0, 0xFF);
        EXPECT_EQ(ReadCartWord(f.s, 0), 0x00) << "the busy chip answers status only";
        EXPECT_EQ(f.sim().TotalEraseCount(), 1);
        EXPECT_EQ(f.sim().Flash()[2 * (4 << 14)], 0x00);
    }
}

TEST(SimFaults, FlakyReadsDifferBetweenTwoReadsOfTheSameData) {
    SimFixture f(FromIni("model = strata-256M\nsave = 64K\nfault_flip_every = 3000\n"));
    ASSERT_EQ(DetectAdapter(f.s), 0);
    auto first = ReadCartWords(f.s, 0, 4096);
    auto second = ReadCartWords(f.s, 0, 4096);
    EXPECT_NE(first, second);
    int flipped = 0;
    for (std::size_t i = 0; i < first.size(); ++i) flipped += (first[i] != 0xFFFF) + (second[i] != 0xFFFF);
    EXPECT_GE(flipped, 2);
    EXPECT_LE(flipped, 3) << "one bit now and then, not noise";
    SetSaveAccess(f.s);
    SetCartAddress(f.s, 0);
    SelectRegister(f.s, kRegData);
    WriteControl(f.s, kCtlRead);
    int saveFlips = 0;
    for (int i = 0; i < 8000; ++i) saveFlips += ReadDataByte(f.s) != 0xFF;
    EXPECT_GE(saveFlips, 2);
}
