// Writing and verifying one game on the simulated cart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/operation.h"
#include "flash/identify.h"
#include "link/detect.h"
#include "ops/chunk_file.h"
#include "ops/commands.h"
#include "support/op_bench.h"

using namespace rombolt;
using test::DirtyCart;
using test::IpsPart;
using test::OpBench;

namespace {

bool LoggedPrefix(const test::FakeFrontend& ui, const std::string& prefix) {
    for (auto& l : ui.log)
        if (l.rfind(prefix, 0) == 0) return true;
    return false;
}

TEST(WriteVerify, SizesOnSingleAndInterleavedCarts) {
    for (const char* model : {"single-32M", "strata-64M", "vela-128M-one-pair"}) {
        for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{32767}, std::size_t{32768},
                                 std::size_t{5 * 32768 + 300}}) {
            SCOPED_TRACE(std::string(model) + " size " + std::to_string(size));
            OpBench b(DirtyCart(model));
            b.s.Config.VerifyAfterWrite = size % 2;  // both settings across the sizes
            auto image = test::MakeGbaImage(std::max<std::size_t>(size, 0xC0), "SIZES", 7);
            image.resize(size);
            b.OneGame("game.gba", image);
            const std::vector<std::uint8_t> before = b.Flash();

            ASSERT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
            EXPECT_TRUE(b.ui.Logged("Write To Cart Ok"));
            // The name line: none without chunks; the title, or whatever the
            // repaired header of a tiny image holds there.
            if (size == 0) {
                EXPECT_FALSE(LoggedPrefix(b.ui, "[game.gba]"));
            } else if (size >= 0xC0) {
                EXPECT_TRUE(b.ui.Logged("[game.gba] SIZES"));
            } else {
                EXPECT_TRUE(LoggedPrefix(b.ui, "[game.gba] "));
            }
            EXPECT_EQ(b.ui.panels[1], "Write ok");
            EXPECT_EQ(b.ui.progress, 100);
            EXPECT_EQ(b.s.CurrentFile, nullptr);
            EXPECT_TRUE(LoggedPrefix(b.ui, "Time = "));

            const auto want = b.Prepared(image);
            ASSERT_EQ(b.Cart(0, want.size()), want);
            // The rest of the first erase block is blank; nothing beyond it was touched.
            const std::size_t block = b.f.sim().Model().interleaved ? 262144 : 131072;
            const std::size_t blockEnd = size == 0 ? 0 : (want.size() + block - 1) / block * block;
            for (std::size_t i = want.size(); i < blockEnd; ++i) ASSERT_EQ(b.Flash()[i], 0xFF) << i;
            EXPECT_TRUE(std::equal(before.begin() + blockEnd, before.end(), b.Flash().begin() + blockEnd));

            b.ui.log.clear();
            ASSERT_TRUE(VerifyClick(b.s).Ok()) << b.ui.LogText();
            EXPECT_TRUE(b.ui.Logged("Verify Cart with File Ok"));
            EXPECT_EQ(b.ui.panels[1], "Verify ok");
            EXPECT_EQ(b.ui.log.front(), "");  // separator before every later operation
        }
    }
}

TEST(WriteVerify, ExactCapacityFitsAndOneByteMoreDoesNot) {
    for (const char* model : {"single-32M", "strata-64M"}) {
        SCOPED_TRACE(model);
        OpBench b(test::SimConfigFor(model));
        const std::size_t cap = b.f.sim().Model().capacityBytes;
        auto image = test::MakeGbaImage(cap + 1, "FULL", 11);

        b.OneGame("big.gba", image);
        const std::vector<std::uint8_t> before = b.Flash();
        EXPECT_FALSE(WriteClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Cart Size Error!!!"));
        EXPECT_FALSE(LoggedPrefix(b.ui, "Time = "));
        EXPECT_EQ(b.f.sim().TotalEraseCount(), 0);
        EXPECT_EQ(b.Flash(), before);

        if (std::string(model) != "single-32M") continue;  // one large write is enough
        image.resize(cap);
        b.OneGame("full.gba", image);
        b.ui.log.clear();
        ASSERT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
        EXPECT_EQ(b.Flash(), b.Prepared(image));
    }
    // The interleaved cart filled to the last chunk: the largest chunk number
    // and the last pair block are reached.
    OpBench b(DirtyCart("strata-64M"));
    const std::size_t cap = b.f.sim().Model().capacityBytes;
    auto image = test::MakeGbaImage(cap, "FULLPAIR", 12);
    b.OneGame("full.gba", image);
    b.s.Config.VerifyAfterWrite = 1;
    ASSERT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
    EXPECT_EQ(b.Flash(), b.Prepared(image));

    // The image twice over: addresses past the flash mirror it, so a verify
    // must refuse the size as the write does rather than pass.
    image.insert(image.end(), image.begin(), image.end());
    b.OneGame("twice.gba", image);
    b.ui.log.clear();
    EXPECT_FALSE(VerifyClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("Cart Size Error!!!")) << b.ui.LogText();
    EXPECT_FALSE(b.ui.Logged("Verify Cart with File Ok"));
}

TEST(WriteVerify, ProgramErrorAndMismatchNameTheChunkOfTheImage) {
    SimConfig c = test::SimConfigFor("single-32M");
    c.faultProgramErrorChunk = 10;
    OpBench b(c);
    auto image = test::MakeGbaImage(4 * 32768, "ERR", 3);
    b.OneGame("err.gba", image);

    // Placed from chunk 8 on, the failing cart chunk 10 is chunk 2 of the image.
    ASSERT_EQ(DetectAdapter(b.s), 0);
    ASSERT_EQ(IdentifyFlash(b.s), 0);
    b.s.CurrentFilePath = (b.dir.path() / "err.gba").string();
    ASSERT_EQ(OpenImageForRead(b.s), 0);
    BeginOperation(b.s);
    EXPECT_EQ(WriteImage(b.s, static_cast<std::int32_t>(image.size()), 8, IpsOffer::No), -1);
    EXPECT_TRUE(b.ui.Logged("Write Flash Error!!!(2)"));
    EXPECT_EQ(b.s.CurrentFile, nullptr);
    EndOperation(b.s);
    // Chunks before the failure are in the cart.
    EXPECT_EQ(b.Cart(8 * 32768, 2 * 32768),
              std::vector<std::uint8_t>(image.begin(), image.begin() + 2 * 32768));

    // The command says so in the status panel and does not claim success.
    b.ui.log.clear();
    b.OneGame("err.gba", test::MakeGbaImage(12 * 32768, "ERR", 4));
    EXPECT_FALSE(WriteClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("Write Flash Error!!!(10)"));
    EXPECT_EQ(b.ui.panels[1], "Write Error!!!");
    EXPECT_FALSE(b.ui.Logged("Write To Cart Ok"));
    EXPECT_TRUE(LoggedPrefix(b.ui, "Time = "));

    // A verify against a cart that differs in chunk 1 of the image.
    OpBench v(test::SimConfigFor("single-32M"));
    auto img = test::MakeGbaImage(3 * 32768, "MISMATCH", 5);
    v.OneGame("m.gba", img);
    ASSERT_TRUE(WriteClick(v.s).Ok());
    v.Flash()[32768 + 1234] ^= 0x10;
    v.ui.log.clear();
    EXPECT_FALSE(VerifyClick(v.s).Ok());
    EXPECT_TRUE(v.ui.Logged("Verify Flash Error!!!(1)"));
    EXPECT_EQ(v.ui.panels[1], "Verify Error!!!");
    EXPECT_FALSE(v.ui.Logged("Verify Cart with File Ok"));
    EXPECT_EQ(v.s.CurrentFile, nullptr);

    // The write's own second pass finds a chunk spoiled after it was programmed.
    v.s.Config.VerifyAfterWrite = 1;
    v.ui.log.clear();
    bool spoiled = false;
    v.ui.onPump = [&] {
        if (!spoiled && v.ui.panels[1] == "Verifying...") {
            v.Flash()[2 * 32768 + 7] ^= 0x01;
            spoiled = true;
        }
    };
    EXPECT_FALSE(WriteClick(v.s).Ok());
    EXPECT_TRUE(spoiled);
    EXPECT_TRUE(v.ui.Logged("Verify Flash Error!!!(2)"));
    EXPECT_EQ(v.ui.panels[1], "Write Error!!!");
}

TEST(WriteVerify, StopInEachPass) {
    for (const char* pass : {"writing...", "Verifying..."}) {
        SCOPED_TRACE(pass);
        OpBench b(DirtyCart("strata-64M"));
        b.s.Config.VerifyAfterWrite = 1;
        auto image = test::MakeGbaImage(24 * 32768, "STOP", 9);
        b.OneGame("stop.gba", image);
        const std::vector<std::uint8_t> before = b.Flash();
        int pumpsInPass = 0;
        b.ui.onPump = [&] {
            if (b.ui.panels[1] == pass && ++pumpsInPass == 20) b.s.StopRequested = 1;
        };
        EXPECT_FALSE(WriteClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Stop process !!!"));
        EXPECT_EQ(b.ui.panels[1], "Write Error!!!");
        EXPECT_FALSE(b.ui.Logged("Write To Cart Ok"));
        EXPECT_EQ(b.s.CurrentFile, nullptr);
        EXPECT_FALSE(b.ui.busy);
        EXPECT_EQ(b.s.StopRequested, 1);
        EXPECT_LT(b.ui.progress, 100);
        if (std::string(pass) == "writing...") {
            // The chunks after the stop were never programmed: the last pair
            // block of the image still holds its old bytes.
            const std::size_t lastBlock = 16 * 32768;
            EXPECT_TRUE(std::equal(before.begin() + lastBlock, before.begin() + 24 * 32768,
                                   b.Flash().begin() + lastBlock));
        } else {
            // Stopped while comparing: everything had been written.
            EXPECT_EQ(b.Cart(0, image.size()), b.Prepared(image));
        }
    }
}

TEST(WriteVerify, IpsPatchAcrossAChunkBoundaryInBothPasses) {
    OpBench b(DirtyCart("single-32M"));
    b.s.Config.IpsApply = 1;
    b.s.Config.VerifyAfterWrite = 1;
    auto image = test::MakeGbaImage(3 * 32768 + 100, "PATCHME", 21);
    b.OneGame("p.gba", image);
    std::vector<std::uint8_t> twenty(20);
    for (int i = 0; i < 20; ++i) twenty[i] = static_cast<std::uint8_t>(0x30 + i);
    const std::vector<IpsPart> patch = {
        {32768 - 10, twenty},       // split over chunks 0 and 1
        {0xA0, {'N', 'E', 'W'}},    // in the header, after its repair
        {3 * 32768 + 150, {0xAB}},  // past the file's end, in its last chunk
        {9 * 32768, {1, 2, 3}},     // beyond the image: lengthens it to 10 chunks
    };
    const std::string ips = b.File("p.ips", test::IpsBytes(patch));
    b.ui.files = {ips};
    const std::vector<std::uint8_t> before = b.Flash();

    ASSERT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
    EXPECT_TRUE(b.ui.Logged("IpsFileName = " + ips));
    EXPECT_TRUE(b.ui.Logged("-->Ips Applied<--"));
    EXPECT_EQ(b.ui.dialogsShown, std::vector<FileDialog>{FileDialog::IpsFile});
    EXPECT_FALSE(b.ui.timerPaused);
    // Past the file's end the cart holds 0xFF wherever the patch writes
    // nothing, in the last chunk and in the chunks the patch added.
    const auto want = b.Prepared(image, patch);
    ASSERT_EQ(want.size(), 10u * 32768);
    EXPECT_EQ(want[3 * 32768 + 120], 0xFF);
    EXPECT_EQ(want[9 * 32768 + 3], 0xFF);
    EXPECT_EQ(b.Cart(0, want.size()), want);
    EXPECT_TRUE(
        std::equal(before.begin() + 12 * 32768, before.begin() + 13 * 32768, b.Flash().begin() + 12 * 32768));

    // Verifying with the same patch succeeds; without it (dialog cancelled)
    // the first chunk differs.
    b.ui.files = {ips};
    EXPECT_TRUE(VerifyClick(b.s).Ok()) << b.ui.LogText();
    b.ui.log.clear();
    EXPECT_FALSE(VerifyClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("Verify Flash Error!!!(0)"));

    // A patch that does not load leaves the image unpatched, and the write goes on.
    b.ui.files = {b.File("bad.ips", {'P', 'A', 'T', 'C', 'H', 'E', 'O', 'F'})};
    b.ui.log.clear();
    ASSERT_TRUE(WriteClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("***** Ips Size Error *****"));
    EXPECT_EQ(b.Cart(0, 4 * 32768), b.Prepared(image));

    // The cart lacks the bytes a patch adds past the file's end (in chunk 6;
    // chunks 3 to 5 are erased flash on both sides): a verify with it fails there.
    b.ui.files = {b.File("tail.ips", test::IpsBytes({{6 * 32768, {7, 7}}}))};
    b.ui.log.clear();
    EXPECT_FALSE(VerifyClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("Verify Flash Error!!!(6)")) << b.ui.LogText();

    // Lengthened past the end of the cart (4 MiB): refused before anything is erased.
    const long erases = b.f.sim().TotalEraseCount();
    b.ui.files = {b.File("far.ips", test::IpsBytes({{128 * 32768 - 1, {1, 2}}}))};
    b.ui.log.clear();
    EXPECT_FALSE(WriteClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("Cart Size Error!!!")) << b.ui.LogText();
    EXPECT_EQ(b.ui.panels[1], "Write Error!!!");
    EXPECT_EQ(b.f.sim().TotalEraseCount(), erases);
}

TEST(WriteVerify, PatchPastTheFileEndInItsLastChunkLeavesTheRestErased) {
    OpBench b(DirtyCart("single-32M"));
    b.s.Config.IpsApply = 1;
    auto image = test::MakeGbaImage(1024, "SHORT", 5);
    b.OneGame("s.gba", image);
    const std::string ips = b.File("s.ips", test::IpsBytes({{0x000800, {0x11, 0x22, 0x33}}}));
    b.ui.files = {ips};
    ASSERT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
    const auto tail = b.Cart(1024, 32768 - 1024);
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const std::size_t at = 1024 + i;
        const int want = at == 0x800 ? 0x11 : at == 0x801 ? 0x22 : at == 0x802 ? 0x33 : 0xFF;
        ASSERT_EQ(tail[i], want) << "byte " << at;
    }
    b.ui.files = {ips};
    EXPECT_TRUE(VerifyClick(b.s).Ok()) << b.ui.LogText();
}

TEST(WriteVerify, ARequiredPatchThatDoesNotLoadRefusesTheWriteBeforeTheCart) {
    OpBench b(DirtyCart("single-32M"));
    b.s.Config.IpsApply = 1;
    b.s.PatchRequired = true;
    b.OneGame("p.gba", test::MakeGbaImage(2 * 32768, "PATCHME", 23));
    b.ui.files = {b.File("p.ips", {'N', 'O', 'T', 'I', 'P', 'S'})};
    const std::vector<std::uint8_t> before = b.Flash();

    const OperationResult r = WriteClick(b.s);
    EXPECT_EQ(r.Kind, OutcomeKind::Refused) << OutcomeName(r.Kind) << b.ui.LogText();
    EXPECT_TRUE(r.PatchNotApplied);
    EXPECT_TRUE(LoggedPrefix(b.ui, "Ips Not Applied!!!("));
    EXPECT_FALSE(b.ui.Logged("Write To Cart Ok"));
    EXPECT_EQ(b.ui.panels[1], "Write Error!!!");
    EXPECT_EQ(b.Flash(), before);
    EXPECT_FALSE(b.ui.busy);
}

TEST(WriteVerify, GbImagesAndSeveralRowsTakeTheMultiGamePath) {
    OpBench b(test::SimConfigFor("strata-64M"));
    b.OneGame("a.gbc", test::MakeGbImage(32768, "GBGAME", 0x80, 1));
    b.s.GameList[0].GType = "GBC";
    EXPECT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
    EXPECT_TRUE(b.ui.Logged("Write Multi-Files completed"));
    EXPECT_FALSE(b.ui.Logged("Write To Cart Ok"));
    // The GB game is not at the start of the cart: the loader is.
    EXPECT_NE(b.Cart(0x134, 6), std::vector<std::uint8_t>({'G', 'B', 'G', 'A', 'M', 'E'}));

    b.OneGame("x.gba", test::MakeGbaImage(32768, "X", 2));
    b.s.GameList.push_back(b.s.GameList[0]);
    b.ui.log.clear();
    VerifyClick(b.s);
    EXPECT_FALSE(b.ui.Logged("Verify Cart with File Ok"));
    EXPECT_FALSE(b.ui.Logged("[x.gba] X"));
}

TEST(WriteVerify, PreparatoryFailuresEndWithoutSuccess) {
    {
        SimConfig c = test::SimConfigFor("single-32M");
        c.adapterPresent = false;
        OpBench b(c);
        b.OneGame("g.gba", test::MakeGbaImage(32768, "G", 1));
        EXPECT_FALSE(WriteClick(b.s).Ok());
        EXPECT_FALSE(VerifyClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("No Adaptor Found!"));
        EXPECT_FALSE(LoggedPrefix(b.ui, "Time = "));
    }
    {
        OpBench b(test::SimConfigFor("rom"));
        b.OneGame("g.gba", test::MakeGbaImage(32768, "G", 1));
        EXPECT_FALSE(WriteClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Flash not found!!!"));
    }
    OpBench b(test::SimConfigFor("single-32M"));
    b.OneGame("g.gba", test::MakeGbaImage(32768, "G", 1));
    // The file has gone since it was listed.
    std::filesystem::remove(b.dir.path() / "g.gba");
    EXPECT_FALSE(WriteClick(b.s).Ok());
    EXPECT_FALSE(VerifyClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("File Open Error!!!"));
    EXPECT_FALSE(b.ui.busy);

    // The file is shorter than its listed size: refused before the cart is touched.
    b.OneGame("g.gba", test::MakeGbaImage(2 * 32768, "G", 1));
    b.s.GameList[0].Size = std::to_string(3 * 32768);
    b.ui.log.clear();
    EXPECT_FALSE(WriteClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("File Size Error!!!"));
    EXPECT_EQ(b.f.sim().TotalEraseCount(), 0);
    EXPECT_FALSE(b.ui.Logged("Write To Cart Ok"));
    EXPECT_EQ(b.s.CurrentFile, nullptr);
}

}  // namespace
