// Flash identification against played cart answers: query data, the serial
// line test and the model line with its picture.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "flash/cart_models.h"
#include "flash/identify.h"
#include "link/cartbus.h"
#include "link/detect.h"
#include "support/bus_tap.h"
#include "support/fake_frontend.h"
#include "support/sim_fixture.h"

using namespace rombolt;
using test::BusTap;

namespace {

class IdentifyTapTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.UI = &ui;
        s.Port = &tap;
        ApplyPortSelection(s);
        s.Link.SppMode = 0;
        s.Config.SpeedIndex = 0;
    }
    // Query data as read from word address 0 while the first chip is in query
    // mode; everything else reads ready status (0x80).
    void PlayQuery(std::map<std::uint32_t, std::uint16_t> words) {
        tap.answer = [this, words](std::uint32_t a) -> std::uint16_t {
            if (!QueryMode()) return 0x0080;
            auto it = words.find(a);
            return it == words.end() ? 0x0000 : it->second;
        };
    }
    // The last command word written to address 0 was the query command.
    bool QueryMode() const {
        for (auto it = tap.writes.rbegin(); it != tap.writes.rend(); ++it)
            if (it->addr == 0) return it->word == 0x98;
        return false;
    }

    AppState s;
    test::FakeFrontend ui{s};
    BusTap tap;
};

TEST_F(IdentifyTapTest, UnknownDeviceCodeInBothLayoutsFails) {
    // 0x89 and "QRY" where both layouts look for them, device code 0x19 in both.
    PlayQuery({{0, 0x89},
               {1, 0x19},
               {2, 0x19},
               {0x10, 'Q'},
               {0x11, 'R'},
               {0x12, 'Y'},
               {0x20, 'Q'},
               {0x22, 'R'},
               {0x24, 'Y'}});
    s.Cart.CapacityBytes = 0x01000000;
    s.Cart.VelaLine = 1;
    s.StopRequested = 1;
    ui.picture = 3;
    s.ChunkBuffer.bytes.fill(0xA5);

    EXPECT_EQ(IdentifyFlash(s), -1);
    EXPECT_EQ(s.Cart.Interleaved, 1);
    EXPECT_EQ(s.Cart.VelaLine, 0);
    EXPECT_EQ(s.Cart.CapacityBytes, 0x01000000u);
    EXPECT_EQ(ui.picture, 0);
    EXPECT_TRUE(ui.log.empty());
    EXPECT_EQ(s.StopRequested, 0);

    // Query data fills exactly the first 512 words; the rest of the buffer is kept.
    EXPECT_EQ(s.ChunkBuffer.word(0), 0x89);
    EXPECT_EQ(s.ChunkBuffer.word(0x24), 'Y');
    EXPECT_EQ(s.ChunkBuffer.word(256), 0x0000);  // nothing answers at 0x400000 here
    EXPECT_EQ(s.ChunkBuffer.word(511), 0x0000);
    EXPECT_EQ(s.ChunkBuffer.bytes[1024], 0xA5);
    EXPECT_EQ(s.ChunkBuffer.bytes[32767], 0xA5);

    // The query command went to word 0 only, and read array followed the reads.
    int queries = 0;
    for (auto& w : tap.writes) {
        if (w.word == 0x98) {
            ++queries;
            EXPECT_EQ(w.addr, 0u);
        }
    }
    EXPECT_EQ(queries, 1);
    EXPECT_EQ(tap.writes.back(), (BusTap::Write{0, 0xFF}));
    EXPECT_EQ(tap.mode, kRomAccess);
}

// Serial line test: the cart answers 4 leading bits and 64 data bits on the
// serial window, and the save memory at 0x200 holds 64 words whose bit 0 is
// compared with the data bits.
class VelaTest : public IdentifyTapTest {
protected:
    void Play(std::vector<int> lead, std::vector<int> serial, std::vector<int> save) {
        auto bits = lead;
        bits.insert(bits.end(), serial.begin(), serial.end());
        tap.answer = [this, bits, save](std::uint32_t a) -> std::uint16_t {
            if (tap.mode == kSerialAccess) return static_cast<std::uint16_t>(0xFFFE | bits.at(serialReads++));
            if (tap.mode == kSaveAccess) return static_cast<std::uint16_t>(0x5A5A | save.at(a - 0x200));
            return 0;
        };
    }
    static std::vector<int> Bits(std::uint64_t v) {
        std::vector<int> out;
        for (int i = 63; i >= 0; --i) out.push_back(static_cast<int>((v >> i) & 1));
        return out;
    }
    std::size_t serialReads = 0;
};

TEST_F(VelaTest, LineTestNeedsLeadOneAndMatchingBits) {
    const auto data = Bits(0xC3A5'0F96'1234'8001ull);
    s.Cart.Interleaved = 1;
    s.Cart.CapacityBytes = 0x02000000;

    Play({0, 0, 0, 1}, data, data);
    EXPECT_EQ(CheckVelaLine(s), 0);
    EXPECT_EQ(s.Cart.VelaLine, 1);
    EXPECT_EQ(serialReads, 68u);
    EXPECT_EQ(ui.log.back(), "Rombolt Vela 256M Found");
    EXPECT_EQ(ui.picture, 6);

    // The request: 1,1 and seven 0 bits on the serial window, then nine 0 bits.
    std::vector<int> sent;
    for (auto& w : tap.writes) {
        if (w.mode != kSerialAccess) continue;
        EXPECT_EQ(w.addr, 0x800000u + sent.size() % 9);
        sent.push_back(w.word);
    }
    EXPECT_EQ(sent, (std::vector<int>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(tap.mode, kRomAccess);

    // Lead bits 0000 with agreeing data: still the Strata line.
    s.Cart.VelaLine = 0;
    serialReads = 0;
    Play({0, 0, 0, 0}, data, data);
    CheckVelaLine(s);
    EXPECT_EQ(s.Cart.VelaLine, 0);
    EXPECT_EQ(ui.log.back(), "Rombolt Strata 256M Found");
    EXPECT_EQ(ui.picture, 4);

    // One differing bit (the last one read): Strata.
    serialReads = 0;
    auto other = data;
    other.back() ^= 1;
    Play({0, 0, 0, 1}, data, other);
    CheckVelaLine(s);
    EXPECT_EQ(s.Cart.VelaLine, 0);

    // Lead 1000 (a value of 8, not 1): Strata.
    serialReads = 0;
    Play({1, 0, 0, 0}, data, data);
    CheckVelaLine(s);
    EXPECT_EQ(s.Cart.VelaLine, 0);
}

}  // namespace

// ---- against the simulated cart ----

namespace {

struct ModelCase {
    const char* model;
    const char* line;
    int picture;
};

TEST(IdentifyOnSim, AllElevenFlashModels) {
    const ModelCase cases[] = {
        {"single-32M", "Rombolt 32M Found", 1},
        {"single-64M", "Rombolt 64M Found", 1},
        {"single-128M", "Rombolt 128M Found", 2},
        {"strata-64M", "Rombolt Strata 64M Found", 2},
        {"strata-128M", "Rombolt Strata 128M Found", 3},
        {"strata-256M", "Rombolt Strata 256M Found", 4},
        {"vela-64M", "Rombolt Vela 64M Found", 4},
        {"vela-128M", "Rombolt Vela 128M Found", 5},
        {"vela-256M", "Rombolt Vela 256M Found", 6},
        {"strata-128M-one-pair", "Rombolt Strata 128M Found", 3},
        {"vela-128M-one-pair", "Rombolt Vela 128M Found", 5},
    };
    // The model table names each simulated model once, so `sim create` and
    // identification agree on every cart.
    ASSERT_EQ(CartModels().size(), std::size(cases));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        test::SimFixture f(c.model, "64K");
        // Save bytes whose bit 0 varies, so the line test compares real data.
        for (std::size_t i = 0; i < f.sim().Save().size(); ++i)
            f.sim().Save()[i] = static_cast<std::uint8_t>((i * 37) >> 3);
        f.s.ChunkBuffer.bytes.fill(0x3C);
        ASSERT_EQ(DetectAdapter(f.s), 0);
        EXPECT_EQ(IdentifyFlash(f.s), 0);
        EXPECT_EQ(f.ui.log, (std::vector<std::string>{c.line}));
        EXPECT_EQ(f.ui.picture, c.picture);
        EXPECT_EQ(f.s.Cart.CapacityBytes, f.sim().Model().capacityBytes);
        EXPECT_EQ(f.s.Cart.Interleaved != 0, f.sim().Model().interleaved);
        EXPECT_EQ(f.s.Cart.VelaLine != 0, f.sim().Model().vela);
        EXPECT_TRUE(f.sim().AllChipsInReadArray());
        EXPECT_EQ(f.sim().AccessMode() & 0xBF, kRomAccess);
        EXPECT_EQ(f.s.ChunkBuffer.bytes[1024], 0x3C);
        EXPECT_EQ(f.s.ChunkBuffer.bytes[0], 0x89);
        const CartModel* m = FindCartModel(f.s.Cart);
        ASSERT_NE(m, nullptr);
        EXPECT_STREQ(m->SimName, c.model);
    }
}

TEST(IdentifyOnSim, MaskRomAndEmptySlotAreNotFlash) {
    for (const char* model : {"rom", "none"}) {
        SCOPED_TRACE(model);
        auto cfg = test::SimConfigFor(model, "none");
        if (std::string(model) == "rom") {
            cfg.rom.assign(1 << 20, 0);
            for (std::size_t i = 0; i < cfg.rom.size(); ++i) cfg.rom[i] = static_cast<std::uint8_t>(i * 7);
        }
        test::SimFixture f(cfg);
        f.s.Cart.CapacityBytes = 0x00800000;
        f.ui.picture = 2;
        ASSERT_EQ(DetectAdapter(f.s), 0);
        EXPECT_EQ(IdentifyFlash(f.s), -1);
        EXPECT_EQ(f.ui.picture, 0);
        EXPECT_TRUE(f.ui.log.empty());
        EXPECT_EQ(f.s.Cart.Interleaved, 1);
        EXPECT_EQ(f.s.Cart.CapacityBytes, 0x00800000u);
    }
}

}  // namespace
