// Save memory: bank codes, and backup/restore against the simulated cart.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "link/detect.h"
#include "ops/commands.h"
#include "ops/saver.h"
#include "support/op_bench.h"

using namespace rombolt;

namespace {

TEST(BankSelection, CodesAndStartUnits) {
    struct Case {
        int b64, b32, b8, size;
        int start;
        const char* code;
    };
    const Case cases[] = {
        {1, 1, 2, 0, 14, "2B3"},  // bank 2, half B, quarter 3, 8K
        {3, 0, 0, 2, 24, "4"},    // bank 4 at its start, 64K
        {0, 0, 1, 1, 1, "1A2"},   // 32K from the second quarter
        {0, 1, 0, 1, 4, "1B"},    // 32K at half B
        {0, 0, 0, 1, 0, "1A"},    // 32K at the start
        {0, 0, 0, 0, 0, "1A1"},   // 8K keeps all three parts
        {2, 0, 0, 4, 16, "3"},    // 256K
        {2, 1, 0, 3, 20, "3B1"},  // 128K not at a bank start keeps the half and quarter
        {3, 1, 3, 0, 31, "4B4"},  // the last unit
    };
    for (const Case& c : cases) {
        BankCode got = UpdateBankSelection(c.b64, c.b32, c.b8, c.size);
        EXPECT_EQ(got.startUnit, c.start) << c.code;
        EXPECT_EQ(got.code, c.code);
    }
}

TEST(BankSelection, ParsedCodesMatchTheDialog) {
    // Every code the dialog can show reads back as the same start unit.
    for (int size = 0; size < 5; ++size)
        for (int b64 = 0; b64 < 4; ++b64)
            for (int b32 = 0; b32 < 2; ++b32)
                for (int b8 = 0; b8 < 4; ++b8) {
                    BankCode bc = UpdateBankSelection(b64, b32, b8, size);
                    int start = -1;
                    ASSERT_TRUE(ParseBankCode(bc.code, size, start)) << bc.code;
                    EXPECT_EQ(start, bc.startUnit) << bc.code << " size " << size;
                }

    int start = 99;
    EXPECT_TRUE(ParseBankCode("2B", 0, start));
    EXPECT_EQ(start, 12);  // a missing quarter is the first one
    for (const char* bad : {"", "0", "5", "1C", "1A0", "1A5", "1A1X", "A", "2b", "12", " 1", "1 "}) {
        start = 99;
        EXPECT_FALSE(ParseBankCode(bad, 1, start)) << '"' << bad << '"';
        EXPECT_EQ(start, 99) << bad;
    }
    EXPECT_FALSE(ParseBankCode("1", 5, start));
    EXPECT_FALSE(ParseBankCode("1", -1, start));
}

}  // namespace

namespace {

using test::OpBench;

SimConfig SaveCart(const std::string& save) {
    SimConfig c = test::SimConfigFor("single-32M", save);
    return c;
}

void FillSave(OpBench& b, std::uint32_t seed) { test::FillPattern(b.f.sim().Save(), seed); }

std::vector<std::uint8_t> SaveBytes(OpBench& b, std::size_t offset, std::size_t n) {
    auto& v = b.f.sim().Save();
    return {v.begin() + static_cast<std::ptrdiff_t>(offset),
            v.begin() + static_cast<std::ptrdiff_t>(offset + n)};
}

TEST(SaveMemory, ProbeTellsMirroredAndFullBanks) {
    for (auto [save, want] : {std::pair{"32K", 1}, std::pair{"64K", 2}, std::pair{"256K", 2}}) {
        OpBench b(SaveCart(save));
        FillSave(b, 3);
        ASSERT_EQ(DetectAdapter(b.s), 0);
        EXPECT_EQ(ProbeSaveMemory(b.s), want) << save;
    }
    OpBench b(SaveCart("none"));
    b.ui.saverAnswer = {0, 1};
    EXPECT_FALSE(SReadClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("No Save Data found!!!"));
    EXPECT_EQ(b.ui.saverDialogs, 0);
}

TEST(SaveMemory, BackupOfAUnitAndOfEverything) {
    OpBench b(SaveCart("256K"));
    FillSave(b, 17);
    const std::string out = (b.dir.path() / "u.sav").string();

    // Bank 2, half B, quarter 3: unit 14, bank 1 at offset 0xC000.
    b.ui.saverAnswer = {14, 0};
    b.ui.files = {out};
    ASSERT_TRUE(SReadClick(b.s).Ok()) << b.ui.LogText();
    EXPECT_TRUE(b.ui.Logged("FileName = " + out));
    EXPECT_TRUE(b.ui.Logged("Backup Saver 8K Ok"));
    EXPECT_EQ(b.ui.panels[1], "OK");
    EXPECT_EQ(test::ReadFileBytes(out), SaveBytes(b, 0x10000 + 0xC000, 8192));

    b.ui.saverAnswer = {0, 4};
    b.ui.files = {out};
    ASSERT_TRUE(SReadClick(b.s).Ok()) << b.ui.LogText();
    EXPECT_TRUE(b.ui.Logged("Backup Saver 256K Ok"));
    EXPECT_EQ(test::ReadFileBytes(out), b.f.sim().Save());
}

TEST(SaveMemory, RestoreAcrossBanksAndCutToTheSelection) {
    OpBench b(SaveCart("256K"));
    FillSave(b, 23);
    const auto before = b.f.sim().Save();

    // 128 KiB from half 1B (unit 4): units 4..19 reach into the third bank.
    std::vector<std::uint8_t> file(128 * 1024);
    test::FillPattern(file, 99);
    b.ui.saverAnswer = {4, 3};
    b.ui.files = {b.File("r.sav", file)};
    ASSERT_TRUE(SWriteClick(b.s).Ok()) << b.ui.LogText();
    EXPECT_TRUE(b.ui.Logged("FileSize = 131072"));
    EXPECT_TRUE(b.ui.Logged("Write Saver Ok"));
    EXPECT_EQ(b.ui.panels[1], "Write Ok");
    auto want = before;
    std::copy(file.begin(), file.end(), want.begin() + 4 * 8192);
    EXPECT_EQ(b.f.sim().Save(), want);

    // A 64 KiB file with 32K selected at 3A2 (unit 17): only its first 32 KiB go in.
    std::vector<std::uint8_t> file64(64 * 1024);
    test::FillPattern(file64, 7);
    b.ui.log.clear();
    b.ui.saverAnswer = {17, 1};
    b.ui.files = {b.File("r64.sav", file64)};
    ASSERT_TRUE(SWriteClick(b.s).Ok()) << b.ui.LogText();
    EXPECT_TRUE(b.ui.Logged("Fixed Saver Size(32K)"));
    std::copy(file64.begin(), file64.begin() + 32768, want.begin() + 17 * 8192);
    EXPECT_EQ(b.f.sim().Save(), want);

    // A file shorter than the selection writes only its own units.
    b.ui.log.clear();
    b.ui.saverAnswer = {28, 1};
    b.ui.files = {b.File("r8.sav", std::vector<std::uint8_t>(8192, 0x5A))};
    ASSERT_TRUE(SWriteClick(b.s).Ok()) << b.ui.LogText();
    std::fill(want.begin() + 28 * 8192, want.begin() + 29 * 8192, 0x5A);
    EXPECT_EQ(b.f.sim().Save(), want);
}

TEST(SaveMemory, RestoreLargerThanTheMemoryFails) {
    // The memory repeats past its end, and each unit reads back right after
    // it is written: only a look at every unit once all are written shows
    // that the first ones were overwritten. 32K restored as 64K wraps inside
    // the bank, 64K restored as 128K wraps at the bank switch.
    for (auto [save, sizeIndex, bytes] : {std::tuple{"32K", 2, 65536}, std::tuple{"64K", 3, 131072}}) {
        SCOPED_TRACE(save);
        OpBench b(SaveCart(save));
        std::vector<std::uint8_t> file(static_cast<std::size_t>(bytes));
        test::FillPattern(file, 5);
        b.ui.saverAnswer = {0, sizeIndex};
        b.ui.files = {b.File("big.sav", file)};
        EXPECT_FALSE(SWriteClick(b.s).Ok());
        EXPECT_FALSE(b.ui.Logged("Write Saver Ok")) << b.ui.LogText();
        EXPECT_TRUE(b.ui.Logged("Verify Save Data Error!!!(0)")) << b.ui.LogText();
        EXPECT_EQ(b.ui.panels[1], "Write Error!!!");
        EXPECT_EQ(b.s.CurrentFile, nullptr);
    }
}

TEST(SaveMemory, RefusedRangesFilesAndFailures) {
    OpBench b(SaveCart("256K"));
    FillSave(b, 31);
    const auto before = b.f.sim().Save();

    for (std::size_t bad : {std::size_t{4096}, std::size_t{12 * 1024}, std::size_t{264 * 1024}}) {
        b.ui.log.clear();
        b.ui.saverAnswer = {0, 4};
        b.ui.files = {b.File("bad.sav", std::vector<std::uint8_t>(bad, 0))};
        b.ui.busyHistory.clear();
        EXPECT_FALSE(SWriteClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("File Size Error!!!")) << bad;
        EXPECT_TRUE(b.ui.busyHistory.empty());
        EXPECT_EQ(b.s.CurrentFile, nullptr);
    }
    EXPECT_EQ(b.f.sim().Save(), before);

    b.ui.log.clear();
    b.ui.saverAnswer = {24, 3};  // bank 4 + 128K runs past 256 KiB
    EXPECT_FALSE(SReadClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("Bank Select or Size Select Error!!!"));
    b.ui.saverAnswer = {24, 2};          // bank 4 + 64K fits
    EXPECT_FALSE(SReadClick(b.s).Ok());  // but no file is chosen
    EXPECT_TRUE(b.ui.Logged("Backup Saver Cancel"));
    b.ui.saverAnswer = {-1, -1};
    EXPECT_FALSE(SWriteClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("Saver Select Cancel"));
    // Closed by its close box or Esc: cancelled too, whatever it shows.
    b.ui.log.clear();
    b.ui.saverAnswer = {0, 1, true};
    b.ui.dialogsShown.clear();
    EXPECT_FALSE(SWriteClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("Saver Select Cancel"));
    EXPECT_TRUE(b.ui.dialogsShown.empty());

    // Stop during a backup.
    b.ui.log.clear();
    b.ui.saverAnswer = {0, 4};
    b.ui.files = {(b.dir.path() / "stop.sav").string()};
    int reading = 0;
    b.ui.onPump = [&] {
        if (b.ui.panels[1] == "Reading..." && ++reading == 6) b.s.StopRequested = 1;
    };
    EXPECT_FALSE(SReadClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("Stop process !!!"));
    EXPECT_TRUE(b.ui.Logged("Backup Saver Error!!!"));
    EXPECT_EQ(b.ui.panels[1], "Read Error!!!");
    EXPECT_FALSE(b.ui.Logged("Backup Saver 256K Ok"));
    b.ui.onPump = nullptr;

    // Reads that flip a bit now and then: a unit read twice differs, and a
    // written unit does not read back the same.
    for (bool restore : {false, true}) {
        SimConfig c = SaveCart("256K");
        c.faultFlipEvery = 150001;  // the probe's reads pass, the transfer's do not
        OpBench f(c);
        f.ui.saverAnswer = {0, 4};
        f.ui.files = {restore ? f.File("w.sav", std::vector<std::uint8_t>(256 * 1024, 0x11))
                              : (f.dir.path() / "flaky.sav").string()};
        EXPECT_FALSE((restore ? SWriteClick(f.s) : SReadClick(f.s)).Ok());
        if (restore) {
            EXPECT_NE(f.ui.LogText().find("Write Save Data Error!!!("), std::string::npos) << f.ui.LogText();
            EXPECT_EQ(f.ui.panels[1], "Write Error!!!");
        } else {
            EXPECT_TRUE(f.ui.Logged("Read Save Data Error!!!")) << f.ui.LogText();
            EXPECT_TRUE(f.ui.Logged("Backup Saver Error!!!"));
            EXPECT_EQ(f.ui.panels[1], "Read Error!!!");
        }
    }
}

// The size comes from the mirroring alone: each size the dialog offers is
// found on a memory holding a save, reading only; a blank memory, or one whose
// bytes repeat within less than 8 KiB, cannot tell.
TEST(SaveMemory, SizeFoundFromTheMirroringByReadingOnly) {
    for (int idx = 0; idx < static_cast<int>(kSaverSizes.size()); ++idx) {
        SCOPED_TRACE(kSaverSizes[idx].item);
        OpBench b(SaveCart(kSaverSizes[idx].item));
        FillSave(b, 41);
        const auto before = b.f.sim().Save();
        ASSERT_EQ(DetectAdapter(b.s), 0);
        EXPECT_EQ(FindSaveSize(b.s), idx);
        EXPECT_EQ(b.s.FoundSaveSizeIndex, idx);
        EXPECT_EQ(b.f.sim().Save(), before);
    }
    OpBench b(SaveCart("64K"));
    ASSERT_EQ(DetectAdapter(b.s), 0);
    EXPECT_EQ(FindSaveSize(b.s), kSaveSizeUnknown) << "blank";
    for (std::size_t i = 0; i < b.f.sim().Save().size(); ++i)
        b.f.sim().Save()[i] = static_cast<std::uint8_t>(i % 4096 < 2048 ? 0x00 : 0x5A);
    EXPECT_EQ(FindSaveSize(b.s), kSaveSizeUnknown) << "repeats every 4K";
    b.f.sim().Save()[0x8000] ^= 1;  // half B no longer matches A
    EXPECT_EQ(FindSaveSize(b.s), 2);
}

// A restore larger than the memory found is refused before a byte is
// written; the same file fits a memory of its size.
TEST(SaveMemory, RestoreLargerThanTheFoundSizeIsRefused) {
    OpBench b(SaveCart("64K"));
    FillSave(b, 9);
    const auto before = b.f.sim().Save();
    std::vector<std::uint8_t> file(128 * 1024);
    test::FillPattern(file, 5);
    b.ui.saverAnswer = {0, 3};
    b.ui.files = {b.File("big.sav", file)};
    b.ui.busyHistory.clear();
    EXPECT_EQ(SWriteClick(b.s).Kind, OutcomeKind::Refused);
    EXPECT_TRUE(b.ui.Logged("Save Memory Is 64K: File Too Large, Nothing Written!!!")) << b.ui.LogText();
    EXPECT_EQ(b.ui.panels[1], "Write Error!!!");
    EXPECT_TRUE(b.ui.busyHistory.empty());
    EXPECT_EQ(b.s.CurrentFile, nullptr);
    EXPECT_EQ(b.f.sim().Save(), before);
}

}  // namespace
