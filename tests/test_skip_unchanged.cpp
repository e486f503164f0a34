// Writing with "skip unchanged blocks" on the simulated cart: what is erased
// and programmed, and that the cart always ends up holding the new image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/flash.h"
#include "link/detect.h"
#include "ops/commands.h"
#include "support/op_bench.h"

using namespace rombolt;
using test::DirtyCart;
using test::OpBench;

namespace {

// A cart that holds `image`, written the normal way.
struct Rewrite {
    Rewrite(const std::string& model, const std::vector<std::uint8_t>& image) : b(DirtyCart(model), "skip") {
        b.s.Config.VerifyAfterWrite = 1;
        b.OneGame("old.gba", image);
        EXPECT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
        blockBytes = b.f.sim().Model().interleaved ? 262144 : 131072;
    }

    // Writes `image` with unchanged blocks skipped and reports what the chips did.
    struct Done {
        int result;
        long erases;
        long programs;
    };
    Done Write(const std::vector<std::uint8_t>& image, bool skip = true) {
        b.OneGame("new.gba", image);
        b.s.SkipUnchanged = skip;
        const long erases = b.f.sim().TotalEraseCount();
        const long programs = b.f.sim().BufferProgramCount();
        const int r = WriteClick(b.s).Ok() ? 0 : -1;
        return {r, b.f.sim().TotalEraseCount() - erases, b.f.sim().BufferProgramCount() - programs};
    }
    // Chip-level erases and buffer programs one erase block costs.
    long BlockErases() const { return blockBytes == 262144 ? 2 : 1; }
    long BlockPrograms() const { return static_cast<long>(blockBytes / 32); }  // 16 words per chip program

    OpBench b;
    std::size_t blockBytes = 0;
};

TEST(SkipUnchanged, IdenticalImageErasesAndProgramsNothing) {
    for (const char* model : {"single-32M", "strata-64M"}) {
        // A size that ends inside a block, in a padded chunk.
        for (std::size_t size : {std::size_t{3 * 131072}, std::size_t{5 * 32768 + 300}}) {
            SCOPED_TRACE(std::string(model) + " size " + std::to_string(size));
            const auto image = test::MakeGbaImage(size, "SAME", 3);
            Rewrite w(model, image);
            const std::vector<std::uint8_t> before = w.b.Flash();

            const auto done = w.Write(image);
            ASSERT_EQ(done.result, 0) << w.b.ui.LogText();
            EXPECT_TRUE(w.b.ui.Logged("Write To Cart Ok"));
            EXPECT_EQ(done.erases, 0);
            EXPECT_EQ(done.programs, 0);
            EXPECT_EQ(w.b.Flash(), before);
            EXPECT_TRUE(w.b.f.sim().AllChipsInReadArray());

            w.b.ui.log.clear();
            EXPECT_TRUE(VerifyClick(w.b.s).Ok()) << w.b.ui.LogText();
        }
    }
}

TEST(SkipUnchanged, OneChangedByteCostsOneBlock) {
    for (const char* model : {"single-32M", "strata-64M"}) {
        // In the first, a middle and the last chunk of the second block: the
        // chunks of that block skipped before the change must survive its erase.
        for (int chunkInBlock : {0, 2, -1}) {
            SCOPED_TRACE(std::string(model) + " chunk " + std::to_string(chunkInBlock));
            SimModelInfo info;
            ASSERT_TRUE(LookupSimModel(model, info));
            const std::size_t block = info.interleaved ? 262144 : 131072;
            const int chunksPerBlock = static_cast<int>(block / 32768);
            const int k = chunkInBlock < 0 ? chunksPerBlock - 1 : chunkInBlock;

            auto image = test::MakeGbaImage(3 * block, "ONE", 5);
            Rewrite w(model, image);
            const std::size_t at = block + static_cast<std::size_t>(k) * 32768 + 777;
            image[at] ^= 0x21;
            const std::vector<std::uint8_t> before = w.b.Flash();

            const auto done = w.Write(image);
            ASSERT_EQ(done.result, 0) << w.b.ui.LogText();
            EXPECT_EQ(done.erases, w.BlockErases());
            EXPECT_EQ(done.programs, w.BlockPrograms());
            // The erase fell on the block with the change, in each chip.
            for (int chip = 0; chip < w.b.f.sim().ChipCount(); ++chip)
                EXPECT_EQ(w.b.f.sim().EraseCount(chip, 1), 2) << chip;  // first write and this one
            const auto want = w.b.Prepared(image);
            ASSERT_EQ(w.b.Cart(0, want.size()), want);
            // Nothing outside the changed block moved.
            for (std::size_t i = 0; i < before.size(); ++i) {
                if (i < block || i >= 2 * block) {
                    ASSERT_EQ(w.b.Flash()[i], before[i]) << i;
                }
            }

            w.b.ui.log.clear();
            EXPECT_TRUE(VerifyClick(w.b.s).Ok()) << w.b.ui.LogText();
        }
    }
}

TEST(SkipUnchanged, EverythingChangedEndsLikeANormalWrite) {
    for (const char* model : {"single-32M", "strata-64M"}) {
        SCOPED_TRACE(model);
        const auto old = test::MakeGbaImage(3 * 131072, "OLD", 7);
        const auto fresh = test::MakeGbaImage(2 * 131072 + 5000, "NEW", 8);

        Rewrite normal(model, old);
        const auto n = normal.Write(fresh, false);
        Rewrite skip(model, old);
        const auto k = skip.Write(fresh);

        ASSERT_EQ(n.result, 0) << normal.b.ui.LogText();
        ASSERT_EQ(k.result, 0) << skip.b.ui.LogText();
        EXPECT_EQ(k.erases, n.erases);
        EXPECT_EQ(k.programs, n.programs);
        EXPECT_TRUE(skip.b.Flash() == normal.b.Flash());
        skip.b.ui.log.clear();
        EXPECT_TRUE(VerifyClick(skip.b.s).Ok()) << skip.b.ui.LogText();
    }
}

TEST(SkipUnchanged, SkippedChunksOfAnEarlierWriteAreNotProgrammedAgain) {
    // The first write skips every chunk of the one-block image; the second
    // changes all of them. Were the first write's skipped chunks still on
    // record, they would be programmed back after the second write's erase
    // and the new chunks programmed over them.
    Rewrite w("single-32M", test::MakeGbaImage(131072, "A", 9));
    const auto a = test::MakeGbaImage(131072, "A", 9);
    ASSERT_EQ(w.Write(a).erases, 0);
    const auto b = test::MakeGbaImage(131072, "B", 10);
    const auto done = w.Write(b);
    ASSERT_EQ(done.result, 0) << w.b.ui.LogText();
    EXPECT_EQ(done.erases, 1);
    const auto want = w.b.Prepared(b);
    EXPECT_EQ(w.b.Cart(0, want.size()), want);
}

TEST(SkipUnchanged, BlankFlashIsProgrammedWithoutAnErase) {
    for (const char* model : {"single-32M", "strata-64M"}) {
        SCOPED_TRACE(model);
        // A cart that holds an older one-block image and is blank after it.
        SimConfig c = test::SimConfigFor(model);
        c.rom = test::MakeGbaImage(131072, "OLD", 13);
        OpBench b(c, "skipblank");
        b.s.Config.VerifyAfterWrite = 1;
        b.s.SkipUnchanged = true;
        const std::size_t block = b.f.sim().Model().interleaved ? 262144 : 131072;
        const auto image = test::MakeGbaImage(3 * block + 5000, "NEW", 14);
        b.OneGame("new.gba", image);

        ASSERT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
        // Only the block with the older image is erased, in each chip.
        EXPECT_EQ(b.f.sim().TotalEraseCount(), b.f.sim().ChipCount());
        for (int chip = 0; chip < b.f.sim().ChipCount(); ++chip) EXPECT_EQ(b.f.sim().EraseCount(chip, 0), 1);
        EXPECT_EQ(b.f.sim().BufferProgramCount(), static_cast<long>((3 * block + 32768) / 32));
        const auto want = b.Prepared(image);
        EXPECT_EQ(b.Cart(0, want.size()), want);
        b.ui.log.clear();
        EXPECT_TRUE(VerifyClick(b.s).Ok()) << b.ui.LogText();
    }
}

TEST(SkipUnchanged, ChunksProgrammedOverBlankFlashSurviveALaterEraseOfTheirBlock) {
    for (const char* model : {"single-32M", "strata-64M"}) {
        SCOPED_TRACE(model);
        // The first two chunks of block 0 are blank, the rest of it is not:
        // they are programmed without an erase, then the third chunk needs
        // the block erased and they must be programmed again. "Verify" off,
        // so that nothing but the write itself puts them back.
        SimConfig c = DirtyCart(model);
        std::fill(c.rom.begin(), c.rom.begin() + 2 * 32768, 0xFF);
        OpBench b(c, "skipblank2");
        b.s.SkipUnchanged = true;
        const std::size_t block = b.f.sim().Model().interleaved ? 262144 : 131072;
        const auto image = test::MakeGbaImage(block, "NEW", 15);
        b.OneGame("new.gba", image);

        ASSERT_TRUE(WriteClick(b.s).Ok()) << b.ui.LogText();
        EXPECT_EQ(b.f.sim().TotalEraseCount(), b.f.sim().ChipCount());
        EXPECT_EQ(b.f.sim().BufferProgramCount(), static_cast<long>((block + 2 * 32768) / 32));
        const auto want = b.Prepared(image);
        EXPECT_EQ(b.Cart(0, want.size()), want);
    }
}

TEST(SkipUnchanged, FailuresAndTheSettingItself) {
    // Chunk 4 matches and is skipped; chunk 5 differs, so block 4-7 is erased
    // and chunk 4 programmed again, which fails on this cart: the write fails,
    // naming chunk 4, which the erase took and the program did not restore.
    const auto image = test::MakeGbaImage(8 * 32768, "KEEP", 12);
    SimConfig c = test::SimConfigFor("single-32M");
    c.rom = image;
    c.faultProgramErrorChunk = 4;
    OpBench b(c, "skipfail");
    b.s.Config.VerifyAfterWrite = 1;
    b.s.SkipUnchanged = true;
    auto changed = image;
    changed[5 * 32768 + 10] ^= 1;
    b.OneGame("g.gba", changed);
    EXPECT_FALSE(WriteClick(b.s).Ok());
    EXPECT_TRUE(b.ui.Logged("Write Flash Error!!!(4)")) << b.ui.LogText();
    EXPECT_EQ(b.f.sim().TotalEraseCount(), 1);
    EXPECT_TRUE(b.s.SkipUnchanged);  // the write leaves the setting as it found it

    // Off, an identical image is erased and programmed as always.
    Rewrite w("single-32M", image);
    const auto done = w.Write(image, false);
    EXPECT_EQ(done.erases, 2);
    EXPECT_EQ(done.programs, 2 * w.BlockPrograms());
}

}  // namespace
