// The benchmark's measuring parts against the real link and flash layers: the
// per-transfer costs its data split assumes, the cycle decoder, the answering
// back end and the pump stretch recorder. When the link layer changes, these
// say that the published definitions no longer hold.
#include <gtest/gtest.h>

#include <memory>

#include "app/app_state.h"
#include "bench_sections.h"
#include "flash/flash.h"
#include "link/cartbus.h"
#include "link/link.h"
#include "ops/saver.h"

using namespace rombolt;
using namespace rombolt::bench;

namespace {

struct Rig {
    explicit Rig(LinkMode m, bool interleaved = false, bool busy = false)
        : state(std::make_unique<AppState>()), port(0x378, busy), ui(*state, [this] { return port.count; }) {
        state->Port = &port;
        state->UI = &ui;
        ApplyPortSelection(*state);
        ApplyLinkMode(*state, m);
        state->Cart.Interleaved = interleaved ? 1 : 0;
        state->StopRequested = 0;
        state->ChunkBuffer.bytes.fill(0x80);
    }
    template <typename F>
    long long Accesses(F f) {
        const long long a = port.count;
        f(*state);
        return port.count - a;
    }
    std::unique_ptr<AppState> state;
    ReadyFlashPort port;
    BenchFrontend ui;
};

TEST(BenchParts, TransferCostsAreTheLinkLayers) {
    for (LinkMode m : kLinkModes) {
        SCOPED_TRACE(ModeName(m));
        Rig r(m);
        const LinkCost cost = CostOf(*r.state);
        EXPECT_EQ(r.Accesses([](AppState& s) { WriteDataWord(s, 0x1234); }), cost.wordWrite);
        EXPECT_EQ(r.Accesses([](AppState& s) { ReadDataWord(s); }), cost.wordRead);
        EXPECT_EQ(r.Accesses([](AppState& s) { WriteDataByte(s, 0x12); }), cost.byteWrite);
        EXPECT_EQ(r.Accesses([](AppState& s) { ReadDataByte(s); }), cost.byteRead);
    }
    // Speed "1" on an EPP port and any speed on an SPP-only port end in SPP.
    EXPECT_EQ(ModeOf({false, 3}), LinkMode::Spp);
    EXPECT_EQ(ModeOf({true, 0}), LinkMode::Spp);
    EXPECT_EQ(ModeOf({false, 1}), LinkMode::Epp3);
}

TEST(BenchParts, DecoderSortsEveryAccessIntoItsCycle) {
    for (LinkMode m : kLinkModes) {
        SCOPED_TRACE(ModeName(m));
        Rig r(m);
        DecodingPort d(r.port, 0x378);
        r.state->Port = &d;
        const LinkCost cost = CostOf(*r.state);
        auto delta = [&](auto f) {
            long long before[DecodingPort::kCategories];
            for (int k = 0; k < DecodingPort::kCategories; ++k)
                before[k] = d.Count(static_cast<DecodingPort::Category>(k));
            const long long n = r.Accesses(f);
            std::vector<long long> out;
            for (int k = 0; k < DecodingPort::kCategories; ++k)
                out.push_back(d.Count(static_cast<DecodingPort::Category>(k)) - before[k]);
            out.push_back(n);
            return out;  // per category, then the total
        };
        using V = std::vector<long long>;
        auto load = delta([](AppState& s) { SetCartAddress(s, 0x123456); });
        EXPECT_EQ(load, (V{load[5], 0, 0, 0, 0, load[5]}));
        auto mode = delta([](AppState& s) { SetRomAccess(s); });
        EXPECT_EQ(mode, (V{0, mode[5], 0, 0, 0, mode[5]}));
        auto select = delta([](AppState& s) { SelectRegister(s, kRegData); });
        EXPECT_EQ(select, (V{0, select[5], 0, 0, 0, select[5]}));
        // Data cycles go to the register selected last: the data window.
        EXPECT_EQ(delta([](AppState& s) { WriteDataWord(s, 0xBEEF); }),
                  (V{0, 0, cost.wordWrite, 0, 0, cost.wordWrite}));
        // The control value written before a run of reads joins the first read.
        EXPECT_EQ(delta([](AppState& s) {
                      WriteControl(s, kCtlRead);
                      ReadDataWord(s);
                      ReadDataWord(s);
                  }),
                  (V{0, 0, 0, 2 * cost.wordRead + 1, 0, 2 * cost.wordRead + 1}));
        auto idle = delta([](AppState& s) {
            IdlePort(s);
            outportb(*s.Port, s.Link.StatusPort, 0x01);
        });
        EXPECT_EQ(idle, (V{0, 0, 0, 0, 2, 2}));
        EXPECT_EQ(d.Total(), r.port.count);
    }
}

TEST(BenchParts, AnsweringBackEndAndPumpStretches) {
    for (LinkMode m : kLinkModes) {
        for (bool pair : {false, true}) {
            SCOPED_TRACE(std::string(ModeName(m)) + (pair ? " pair" : " single"));
            // Chips that are always ready: every routine succeeds.
            Rig r(m, pair);
            EXPECT_EQ(WaitFlashReady(*r.state), 0);
            EXPECT_EQ(ProgramFlashChunk(*r.state, 5, kChunkBytes), 0);
            EXPECT_EQ(VerifyFlashChunk(*r.state, 5, kChunkBytes), 0);
            EXPECT_EQ(EraseFlashBlock(*r.state, 8u << 14), 0);
            EXPECT_EQ(ReadSaveUnit(*r.state, 3), 0);
            EXPECT_EQ(WriteSaveUnit(*r.state, 3), 0);
            EXPECT_TRUE(RunTransfers(*r.state, Op::WriteVerify, 2));

            // Chips that never get ready: the wait for a free write buffer
            // gives up after its whole budget, pumping every 1024 polls; the
            // recorder sees 1024 polls' worth of accesses between pumps.
            Rig busy(m, pair, true);
            const long long perPoll = busy.Accesses([](AppState& s) {
                WriteCartWord(s, 0, 0xE8);
                if (s.Cart.Interleaved) WriteCartWord(s, 1, 0xE8);
                SetCartAddress(s, 0);
                SelectRegister(s, kRegData);
                WriteControl(s, kCtlRead);
                if (s.Cart.Interleaved)
                    ReadStatusPair(s);
                else
                    ReadDataWord(s);
            });
            busy.ui.Restart();
            EXPECT_EQ(ProgramBuffer(*busy.state, 0, 0), -1);
            busy.ui.Finish();
            EXPECT_EQ(busy.ui.pumps, kReadyBudget / 1024);
            EXPECT_EQ(busy.ui.maxStretch, 1024 * perPoll);
        }
    }
}

}  // namespace
