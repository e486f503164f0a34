// Erasing the whole flash of simulated carts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ops/commands.h"
#include "support/op_bench.h"

using namespace rombolt;
using test::DirtyCart;
using test::OpBench;

namespace {

bool AllBlank(const std::vector<std::uint8_t>& v, std::size_t from, std::size_t to) {
    return std::all_of(v.begin() + static_cast<std::ptrdiff_t>(from),
                       v.begin() + static_cast<std::ptrdiff_t>(to), [](std::uint8_t b) { return b == 0xFF; });
}

TEST(Erase, EveryBlockOfEveryChipIsErased) {
    // One chip; one pair; two pairs (the second at word 0x400000).
    for (const char* model : {"single-32M", "strata-64M", "strata-128M"}) {
        SCOPED_TRACE(model);
        OpBench b(DirtyCart(model));
        b.ui.answerYes = true;
        ASSERT_TRUE(EraseFlashClick(b.s).Ok()) << b.ui.LogText();
        EXPECT_EQ(b.ui.questions, std::vector<std::string>{"Erase Flash: Do You want to Erase Flash Data?"});
        EXPECT_TRUE(b.ui.Logged("Cart Erase Ok"));
        EXPECT_EQ(b.ui.panels[1], "Erase ok");
        EXPECT_EQ(b.ui.progress, 100);
        EXPECT_TRUE(AllBlank(b.Flash(), 0, b.Flash().size()));
        for (int chip = 0; chip < b.f.sim().ChipCount(); ++chip)
            for (int block = 0; block < b.f.sim().BlocksPerChip(); ++block)
                ASSERT_EQ(b.f.sim().EraseCount(chip, block), 1) << chip << "/" << block;
        EXPECT_TRUE(b.f.sim().AllChipsInReadArray());
        // Progress rose block by block, never past 99 before the end.
        auto& h = b.ui.progressHistory;
        EXPECT_TRUE(std::is_sorted(h.begin(), h.end() - 1));
        EXPECT_GT(std::count_if(h.begin(), h.end(), [](int p) { return p > 0 && p < 100; }), 10);
    }
}

TEST(Erase, NoStopAndFailureLeaveTheRestAlone) {
    {
        OpBench b(DirtyCart("single-32M"));
        const auto before = b.Flash();
        EXPECT_FALSE(EraseFlashClick(b.s).Ok());  // answered No
        EXPECT_TRUE(b.ui.Logged("Erase Flash Cancel"));
        EXPECT_EQ(b.f.sim().TotalEraseCount(), 0);
        EXPECT_EQ(b.Flash(), before);
    }
    {
        OpBench b(test::SimConfigFor("rom"));
        b.ui.answerYes = true;
        EXPECT_FALSE(EraseFlashClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Flash not found!!!"));
        EXPECT_TRUE(b.ui.questions.empty());
    }
    {
        // Stop after a few blocks: those are blank, the others keep their data.
        OpBench b(DirtyCart("single-32M"));
        const auto before = b.Flash();
        b.ui.answerYes = true;
        int erasing = 0;
        b.ui.onPump = [&] {
            if (b.ui.panels[1] == "Erasing..." && b.f.sim().TotalEraseCount() == 5 && ++erasing == 1)
                b.s.StopRequested = 1;
        };
        EXPECT_FALSE(EraseFlashClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Stop process !!!"));
        EXPECT_TRUE(b.ui.Logged("Cart Erase Error!!!"));
        EXPECT_FALSE(b.ui.Logged("Cart Erase Ok"));
        EXPECT_EQ(b.ui.panels[1], "Erase Error!!!");
        EXPECT_FALSE(b.ui.busy);
        EXPECT_TRUE(b.f.sim().AllChipsInReadArray());
        const long erased = b.f.sim().TotalEraseCount();
        EXPECT_GE(erased, 5);
        EXPECT_LT(erased, 32);
        const std::size_t cut = static_cast<std::size_t>(erased) * 131072;
        EXPECT_TRUE(AllBlank(b.Flash(), 0, cut));
        EXPECT_TRUE(std::equal(before.begin() + cut, before.end(), b.Flash().begin() + cut));
    }
    {
        // A locked block fails the erase; the blocks before it are erased.
        SimConfig c = DirtyCart("strata-64M");
        c.faultLockedChunk = 3 * 8;  // pair block 3
        OpBench b(c);
        b.ui.answerYes = true;
        EXPECT_FALSE(EraseFlashClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("Cart Erase Error!!!"));
        EXPECT_EQ(b.ui.panels[1], "Erase Error!!!");
        EXPECT_TRUE(AllBlank(b.Flash(), 0, 3 * 262144));
        EXPECT_FALSE(AllBlank(b.Flash(), 4 * 262144, 5 * 262144));
    }
    {
        // The adapter goes while the last block erases: the floating status
        // reads "ready", so only a check of the adapter tells.
        SimConfig c = test::SimConfigFor("strata-256M");
        c.rom.assign(32u << 20, 0x00);
        c.busyErase = 3000;  // the erase poll pumps inside the erase
        OpBench b(c);
        b.ui.answerYes = true;
        b.ui.onPump = [&] {
            if (b.f.sim().TotalEraseCount() == 2 * 127 && b.f.sim().ChipBusy(0))
                b.f.sim().SetAdapterPresent(false);
        };
        EXPECT_FALSE(EraseFlashClick(b.s).Ok());
        EXPECT_TRUE(b.ui.Logged("No Adaptor Found!")) << b.ui.LogText();
        EXPECT_TRUE(b.ui.Logged("Cart Erase Error!!!"));
        EXPECT_FALSE(b.ui.Logged("Cart Erase Ok"));
        EXPECT_FALSE(AllBlank(b.Flash(), b.Flash().size() - 262144, b.Flash().size()));
    }
}

}  // namespace
