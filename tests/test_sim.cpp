// The simulated port, adapter and flash chips, driven through the link layer
// the way the program drives real hardware.
#include <gtest/gtest.h>

#include <vector>

#include "app/app_state.h"
#include "core/operation.h"
#include "link/cartbus.h"
#include "link/detect.h"
#include "link/link.h"
#include "sim/sim_port.h"
#include "support/sim_fixture.h"

using namespace rombolt;
using rombolt::test::ReadCartWord;
using rombolt::test::ReadCartWords;
using rombolt::test::SimConfigFor;
using rombolt::test::SimFixture;

namespace {

void PresetWord(SimPort& p, std::uint32_t word, std::uint16_t v) {
    p.Flash()[2 * word] = static_cast<std::uint8_t>(v);
    p.Flash()[2 * word + 1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint16_t FlashWord(SimPort& p, std::uint32_t word) {
    return static_cast<std::uint16_t>(p.Flash()[2 * word] | (p.Flash()[2 * word + 1] << 8));
}

// The unlock sequence with room for mistakes: `repeats` words in the first
// run and the address of the step after the third run.
void Unlock(AppState& s, int repeats, std::uint32_t stepAddr) {
    SetRomAccess(s);
    WriteCartWord(s, 0x987654, 0x5354);
    for (int i = 0; i < repeats; ++i) WriteCartWord(s, 0x012345, 0x1234);
    WriteCartWord(s, 0x007654, 0x5354);
    WriteCartWord(s, 0x012345, 0x5354);
    for (int i = 0; i < 500; ++i) WriteCartWord(s, 0x012345, 0x5678);
    WriteCartWord(s, 0x987654, 0x5354);
    WriteCartWord(s, 0x012345, 0x5354);
    WriteCartWord(s, 0x765400, 0x5678);
    WriteCartWord(s, 0x013450, 0x1234);
    for (int i = 0; i < 500; ++i) WriteCartWord(s, 0x012345, 0xABCD);
    WriteCartWord(s, stepAddr, 0x5354);
}

// Reads word `a` (address reloaded each time, so always the same chip) until
// bit 7 is set; returns how many reads showed it clear.
int PollsUntilReady(AppState& s, std::uint32_t a, int limit = 100000) {
    int busy = 0;
    while (busy < limit && !(ReadCartWord(s, a) & 0x80)) ++busy;
    return busy;
}

// One buffer program on a single chip: 0xE8 at a, count, words, 0xD0 right behind.
void BufferProgram(AppState& s, std::uint32_t a, const std::vector<std::uint16_t>& words) {
    WriteCartWord(s, a, 0xE8);
    WriteCartWord(s, a, static_cast<std::uint16_t>(words.size() - 1));
    SetCartAddress(s, a);
    SelectRegister(s, kRegData);
    for (auto w : words) WriteDataWord(s, w);
    WriteDataWord(s, 0xD0);
}

struct Bench : SimFixture {
    using SimFixture::SimFixture;
    // Detects the adapter and opens the flash for commands.
    void Open() {
        ASSERT_EQ(DetectAdapter(s), 0);
        OpenFlashAccess(s);
    }
};

}  // namespace

TEST(SimDetect, EchoAnswersInBothModesAndSppOnlyPortsFallBack) {
    {
        SimFixture f("single-64M");
        ASSERT_EQ(DetectAdapter(f.s), 0);
        EXPECT_EQ(f.ui.panels[0], "EPP");
        EXPECT_EQ(f.s.Link.SppMode, 0);
        f.s.Link.SppMode = 1;
        EXPECT_EQ(EchoTest(f.s), 0) << "the SPP echo works as well";
    }
    {
        SimFixture f("single-64M");
        f.s.Config.PortIndex = 2;  // 0x3BC stays in SPP
        ApplyPortSelection(f.s);
        ASSERT_EQ(DetectAdapter(f.s), 0);
        EXPECT_EQ(f.ui.panels[0], "SPP");
    }
    {
        SimConfig c = SimConfigFor("single-64M");
        c.sppOnly = true;
        SimFixture f(c);
        PresetWord(f.sim(), 0x1234, 0xBEEF);
        ASSERT_EQ(DetectAdapter(f.s), 0);
        EXPECT_EQ(f.ui.panels[0], "SPP");
        EXPECT_EQ(f.s.Link.SppMode, 1);
        EXPECT_EQ(ReadCartWord(f.s, 0x1234), 0xBEEF);
        EXPECT_EQ(inportb(f.sim(), 0x37C), 0xFF) << "EPP reads float on an SPP-only port";
    }
    {
        SimFixture f("single-64M");  // speed "2": SPP writes, EPP reads
        f.s.Config.SpeedIndex = 2;
        PresetWord(f.sim(), 0x4321, 0x1357);
        ASSERT_EQ(DetectAdapter(f.s), 0);
        EXPECT_EQ(f.s.Link.SppMode, 0);
        EXPECT_EQ(ReadCartWord(f.s, 0x4321), 0x1357);
    }
}

TEST(SimDetect, EppOnlyPortsAreFoundInEppEvenAtLpt3) {
    for (int portIndex : {0, 2}) {
        SimConfig c = SimConfigFor("single-64M");
        c.eppOnly = true;
        SimFixture f(c);
        f.s.Config.PortIndex = static_cast<std::uint8_t>(portIndex);
        ApplyPortSelection(f.s);
        PresetWord(f.sim(), 0x1234, 0xBEEF);
        ASSERT_EQ(DetectAdapter(f.s), 0) << portIndex;
        EXPECT_EQ(f.ui.panels[0], "EPP");
        EXPECT_EQ(ReadCartWord(f.s, 0x1234), 0xBEEF);
        f.s.Config.SpeedIndex = 2;  // register writes in SPP cycles reach nothing
        EXPECT_EQ(DetectAdapter(f.s), 1) << portIndex;
    }
}

TEST(SimPort, EppCyclesNeedTheControlLinesAtRestAndStopAfterATimeOut) {
    SimFixture f("single-64M");
    // Bit 0 is noise unless a time-out is latched: sixteen ones in a row is the latch.
    auto timedOut = [&] {
        for (int i = 0; i < 16; ++i)
            if (!(inportb(f.sim(), 0x379) & 0x01)) return false;
        return true;
    };
    auto reg2 = [&](std::uint8_t control) {
        SelectRegister(f.s, kRegAddr2);
        WriteControl(f.s, control);
        return ReadDataByte(f.s);
    };
    // Latched from the start: no EPP cycle runs until a status write clears it.
    EXPECT_TRUE(timedOut());
    WriteRegister(f.s, kRegAddr2, 0x42);
    EXPECT_EQ(reg2(0x00), 0xFF);
    ASSERT_EQ(DetectAdapter(f.s), 0);
    EXPECT_EQ(f.ui.panels[0], "EPP");
    EXPECT_FALSE(timedOut());
    EXPECT_EQ(reg2(0x00), 0xFE);
    EXPECT_EQ(reg2(0x20), 0xFF) << "direction bit set: the port does not sample the lines";
    EXPECT_EQ(reg2(0x00), 0xFE);
    EXPECT_EQ(reg2(0x01), 0xFF) << "strobe (nWrite) held: the adapter takes the read for a write";
    EXPECT_EQ(reg2(0x00), 0xFF) << "of the floating lines";
    for (std::uint8_t held : {0x02, 0x08}) {  // a strobe line held: the adapter never answers
        WriteRegister(f.s, kRegAddr2, 0x33);
        EXPECT_EQ(reg2(held), 0xFF) << int{held};
        EXPECT_TRUE(timedOut());
        EXPECT_EQ(reg2(0x00), 0xFF) << "nothing runs while the time-out is latched";
        outportb(f.sim(), 0x379, 0x01);
        EXPECT_FALSE(timedOut());
        EXPECT_EQ(reg2(0x00), 0x33);
    }
    // Unplugged, the cycles time out; plugged in again, detection clears the
    // latch before its EPP echo and finds EPP again.
    f.sim().SetAdapterPresent(false);
    EXPECT_EQ(DetectAdapter(f.s), 1);
    EXPECT_TRUE(timedOut());
    f.sim().SetAdapterPresent(true);
    ASSERT_EQ(DetectAdapter(f.s), 0);
    EXPECT_EQ(f.ui.panels[0], "EPP");
}

TEST(SimDetect, MissingUnansweredOrVanishingAdapterIsNotFound) {
    {
        SimConfig c = SimConfigFor("strata-256M");
        c.adapterPresent = false;
        SimFixture f(c);
        EXPECT_EQ(DetectAdapter(f.s), 1);
        EXPECT_TRUE(f.ui.Logged("No Adaptor Found!"));
    }
    {
        SimConfig c = SimConfigFor("strata-256M");
        c.bases = {0x278};
        SimFixture f(c);
        EXPECT_EQ(DetectAdapter(f.s), 1) << "nothing answers at 0x378";
        f.s.Config.PortIndex = 1;
        ApplyPortSelection(f.s);
        EXPECT_EQ(DetectAdapter(f.s), 0);
    }
    {
        SimFixture f("strata-256M");
        ASSERT_EQ(DetectAdapter(f.s), 0);
        f.sim().SetAdapterPresent(false);  // unplugged between two operations
        EXPECT_EQ(DetectAdapter(f.s), 1);
    }
    long long oneDetection = 0;
    {
        SimFixture f("strata-256M");
        ASSERT_EQ(DetectAdapter(f.s), 0);
        oneDetection = f.sim().PortAccesses();
    }
    SimConfig c = SimConfigFor("strata-256M");
    c.faultVanishAfter = oneDetection + 50;
    SimFixture f(c);
    EXPECT_EQ(DetectAdapter(f.s), 0);
    ReadCartWords(f.s, 0, 100);
    EXPECT_EQ(DetectAdapter(f.s), 1);
    EXPECT_TRUE(f.ui.Logged("No Adaptor Found!"));
}

TEST(SimLink, ReadsComeOnlyInTheFormTheModeValueAsksFor) {
    SimFixture f("single-64M");
    ASSERT_EQ(DetectAdapter(f.s), 0);  // EPP; register 2 holds 0xFE now
    auto readReg2 = [&] {
        SelectRegister(f.s, kRegAddr2);
        WriteControl(f.s, kCtlRead);
        return ReadDataByte(f.s);
    };
    EXPECT_EQ(readReg2(), 0xFE);
    WriteRegister(f.s, kRegMode, 0x47);  // SPP answer mode while reading over EPP
    EXPECT_EQ(readReg2(), 0xFF);
    f.s.Link.SppMode = 1;
    EXPECT_EQ(readReg2(), 0xFE);
    WriteRegister(f.s, kRegMode, 0x07);  // EPP answer mode while reading nibbles
    EXPECT_EQ(readReg2(), 0xFF);
}

TEST(SimLink, NibbleReadsCarryDataOnStatusBits3To6AndNoiseElsewhere) {
    SimFixture f("single-64M");
    f.s.Link.SppMode = 1;
    PrepareAdapter(f.s);
    WriteRegister(f.s, kRegAddr0, 0xA5);
    SelectRegister(f.s, kRegAddr0);
    WriteControl(f.s, kCtlRead);
    std::uint8_t orNoise = 0, andNoise = 0xFF;
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(SppReadByte(f.s), 0xA5);
        WriteControl(f.s, kCtlNibbleLow);
        const std::uint8_t lo = inportb(f.sim(), 0x379);
        WriteControl(f.s, kCtlNibbleHigh);
        const std::uint8_t hi = inportb(f.sim(), 0x379);
        WriteControl(f.s, kCtlRead);
        EXPECT_EQ((lo >> 3) & 0x0F, 0x5);
        EXPECT_EQ((hi >> 3) & 0x0F, 0xA);
        orNoise |= lo & 0x87;
        andNoise &= lo & 0x87;
    }
    EXPECT_EQ(orNoise, 0x87) << "every noise bit is seen set";
    EXPECT_EQ(andNoise, 0x00) << "and clear";
}

TEST(SimLink, DataWindowStepsOneWordInRomAccessAndOneByteInSaveAccess) {
    for (int variant = 0; variant < 3; ++variant) {  // speed "4", speed "3", SPP
        SimFixture f("single-64M", "64K");
        f.s.Config.SpeedIndex = variant == 1 ? 1 : 0;
        for (std::uint32_t w = 0; w < 4; ++w)
            PresetWord(f.sim(), 0x100 + w, static_cast<std::uint16_t>(0x1111 * (w + 1)));
        for (int i = 0; i < 4; ++i) f.sim().Save()[0x10 + i] = static_cast<std::uint8_t>(0xC0 + i);
        ASSERT_EQ(DetectAdapter(f.s), 0);
        if (variant == 2) f.s.Link.SppMode = 1, PrepareAdapter(f.s);

        EXPECT_EQ(ReadCartWords(f.s, 0x100, 3), (std::vector<std::uint16_t>{0x1111, 0x2222, 0x3333}));
        SelectRegister(f.s, kRegAddr0);
        WriteControl(f.s, kCtlRead);
        EXPECT_EQ(ReadDataByte(f.s), 0x03) << "three words read, the address moved by three";

        SetSaveAccess(f.s);
        SetCartAddress(f.s, 0x10);
        SelectRegister(f.s, kRegData);
        WriteControl(f.s, kCtlRead);
        EXPECT_EQ(ReadDataByte(f.s), 0xC0);
        EXPECT_EQ(ReadDataByte(f.s), 0xC1);
        EXPECT_EQ(ReadDataWord(f.s), 0xC3C2) << "a word is two byte transfers, low first";
        SetCartAddress(f.s, 0x20);
        SelectRegister(f.s, kRegData);
        WriteDataWord(f.s, 0x3412);
        WriteDataByte(f.s, 0x56);
        EXPECT_EQ(f.sim().Save()[0x20], 0x12);
        EXPECT_EQ(f.sim().Save()[0x21], 0x34);
        EXPECT_EQ(f.sim().Save()[0x22], 0x56);
    }
}

TEST(SimUnlock, OnlyTheExactSequenceOpensTheFlash) {
    Bench f("single-64M");
    ASSERT_EQ(DetectAdapter(f.s), 0);
    PresetWord(f.sim(), 0, 0x2E00);
    WriteCartWord(f.s, 0, 0x98);
    EXPECT_EQ(ReadCartWord(f.s, 0), 0x2E00) << "a closed flash reads as ROM";

    Unlock(f.s, 499, 0x987654);
    WriteCartWord(f.s, 0xF12345, 0x9413);
    EXPECT_FALSE(f.sim().FlashOpen()) << "499 repeats";
    Unlock(f.s, 501, 0x987654);
    WriteCartWord(f.s, 0xF12345, 0x9413);
    EXPECT_FALSE(f.sim().FlashOpen()) << "501 repeats";
    Unlock(f.s, 500, 0x987655);
    WriteCartWord(f.s, 0xF12345, 0x9413);
    EXPECT_FALSE(f.sim().FlashOpen()) << "wrong address";
    Unlock(f.s, 500, 0x987654);
    WriteCartWord(f.s, 0x012345, 0x0000);
    WriteCartWord(f.s, 0xF12345, 0x9413);
    EXPECT_FALSE(f.sim().FlashOpen()) << "a write between sequence and command";
    CartUnlockSequence(f.s);
    WriteCartWord(f.s, 0xF12345, 0x9414);
    EXPECT_FALSE(f.sim().FlashOpen()) << "wrong command word";
    WriteCartWord(f.s, 0, 0x98);
    EXPECT_EQ(ReadCartWord(f.s, 0), 0x2E00);

    OpenFlashAccess(f.s);
    EXPECT_TRUE(f.sim().FlashOpen());
    WriteCartWord(f.s, 0, 0x98);
    EXPECT_EQ(ReadCartWord(f.s, 0), 0x89);
}

TEST(SimFlash, QueryDataSitsWhereIdentificationLooksForIt) {
    const struct {
        const char* model;
        std::uint8_t device;
        bool interleaved;
        bool secondPairDiffers;
    } rows[] = {{"single-32M", 0x16, false, false},  {"single-64M", 0x17, false, false},
                {"single-128M", 0x18, false, false}, {"strata-64M", 0x16, true, false},
                {"strata-128M", 0x16, true, true},   {"strata-256M", 0x18, true, false},
                {"vela-64M", 0x16, true, false},     {"vela-128M", 0x16, true, true},
                {"vela-256M", 0x18, true, false}};
    for (auto& r : rows) {
        SCOPED_TRACE(r.model);
        Bench f(r.model);
        f.Open();
        WriteCartWord(f.s, 0, 0x98);
        auto low = ReadCartWords(f.s, 0, 256);
        auto high = ReadCartWords(f.s, 0x400000, 256);
        WriteCartWord(f.s, 0, 0xFF);
        std::vector<std::uint8_t> b;  // as little-endian bytes, like the chunk buffer
        for (auto w : low)
            b.push_back(static_cast<std::uint8_t>(w)), b.push_back(static_cast<std::uint8_t>(w >> 8));
        EXPECT_EQ(b[0], 0x89);
        if (!r.interleaved) {
            EXPECT_EQ(b[2], r.device);
            EXPECT_EQ(std::string({char(b[0x20]), char(b[0x22]), char(b[0x24])}), "QRY");
            EXPECT_EQ(b[0x4E], r.device) << "device size 2^n bytes";
            EXPECT_EQ(b[0x54], 5) << "32-byte write buffer";
            EXPECT_EQ(low[0x2D] | (low[0x2E] << 8), ((1 << r.device) >> 17) - 1) << "blocks - 1";
            EXPECT_EQ(low[0x2F] | (low[0x30] << 8), 0x200) << "128 KiB blocks";
        } else {
            EXPECT_EQ(b[4], r.device);
            EXPECT_EQ(std::string({char(b[0x40]), char(b[0x44]), char(b[0x48])}), "QRY");
            EXPECT_NE(b[0x20], 'Q') << "the single-chip signature must not match a pair";
            EXPECT_EQ(low[1], 0xFFFF) << "the second chip stays in read-array mode";
        }
        if (r.interleaved && r.device == 0x16) {
            EXPECT_EQ(high != low, r.secondPairDiffers);
        }
        EXPECT_TRUE(f.sim().AllChipsInReadArray());
    }
}

TEST(SimFlash, EraseStartsOnlyOnConfirmInsideTheBlockAndTakesTime) {
    Bench f("single-32M");
    std::fill(f.sim().Flash().begin(), f.sim().Flash().begin() + 0x40000, 0x00);  // blocks 0 and 1
    f.Open();

    WriteCartWord(f.s, 0x100, 0x20);
    EXPECT_EQ(ReadCartWord(f.s, 0x100), 0x80) << "setup answers status";
    WriteCartWord(f.s, 0x100, 0xFF);  // no confirm: nothing happens
    WriteCartWord(f.s, 0x100, 0x20);
    WriteCartWord(f.s, 0x10000, 0xD0);  // confirm in another block
    EXPECT_EQ(ReadCartWord(f.s, 0), 0xB0);
    EXPECT_EQ(f.sim().TotalEraseCount(), 0);
    WriteCartWord(f.s, 0, 0x50);
    WriteCartWord(f.s, 0, 0xFF);
    EXPECT_EQ(ReadCartWord(f.s, 0x100), 0x0000);

    f.sim().SetBusyCounts(1, 40);
    WriteCartWord(f.s, 0x100, 0x20);
    WriteCartWord(f.s, 0xFFFF, 0xD0);  // last word of the block
    WriteCartWord(f.s, 0xFFFF, 0xFF);  // ignored while busy
    EXPECT_EQ(PollsUntilReady(f.s, 0x3333), 40) << "busy for the configured reads, at any address";
    EXPECT_EQ(ReadCartWord(f.s, 0x100), 0x80) << "status until read array";
    WriteCartWord(f.s, 0, 0xFF);
    EXPECT_EQ(ReadCartWord(f.s, 0), 0xFFFF);
    EXPECT_EQ(ReadCartWord(f.s, 0xFFFF), 0xFFFF);
    EXPECT_EQ(ReadCartWord(f.s, 0x10000), 0x0000) << "the next block is untouched";
    EXPECT_EQ(f.sim().EraseCount(0, 0), 1);
    EXPECT_EQ(f.sim().EraseCount(0, 1), 0);
    EXPECT_EQ(f.sim().TotalEraseCount(), 1);
}

TEST(SimFlash, BufferProgramStoresOldAndNewAndAcceptsConfirmInTheNextBlock) {
    Bench f("single-32M");
    f.Open();
    std::vector<std::uint16_t> data;
    for (int i = 0; i < 16; ++i) data.push_back(static_cast<std::uint16_t>(0x1230 + i));

    WriteCartWord(f.s, 0x40, 0xE8);
    EXPECT_EQ(ReadCartWord(f.s, 0x40), 0x80) << "extended status: buffer free";
    EXPECT_EQ(ReadCartWord(f.s, 0x123456), 0x80) << "at any address of the chip";
    WriteCartWord(f.s, 0x40, 0x0F);
    SetCartAddress(f.s, 0x40);
    SelectRegister(f.s, kRegData);
    for (auto w : data) WriteDataWord(f.s, w);
    WriteDataWord(f.s, 0xD0);
    EXPECT_EQ(PollsUntilReady(f.s, 0x51), 1);
    EXPECT_EQ(ReadCartWord(f.s, 0x40), 0x80);
    WriteCartWord(f.s, 0, 0xFF);
    EXPECT_EQ(ReadCartWords(f.s, 0x40, 16), data);
    EXPECT_EQ(ReadCartWord(f.s, 0x50), 0xFFFF);

    // Programming again without an erase: a 1 over a 0 stays 0, no error.
    BufferProgram(f.s, 0x40, std::vector<std::uint16_t>(16, 0x0F0F));
    PollsUntilReady(f.s, 0);
    EXPECT_EQ(ReadCartWord(f.s, 0), 0x80);
    WriteCartWord(f.s, 0, 0xFF);
    EXPECT_EQ(ReadCartWord(f.s, 0x41), 0x1231 & 0x0F0F);

    // Last buffer of block 0: the confirm lands on the first word of block 1.
    BufferProgram(f.s, 0xFFF0, std::vector<std::uint16_t>(16, 0xA5A5));
    PollsUntilReady(f.s, 0);
    EXPECT_EQ(ReadCartWord(f.s, 0), 0x80);
    WriteCartWord(f.s, 0, 0xFF);
    EXPECT_EQ(ReadCartWord(f.s, 0xFFFF), 0xA5A5);
    EXPECT_EQ(ReadCartWord(f.s, 0x10000), 0xFFFF);
    EXPECT_EQ(f.sim().BufferProgramCount(), 3);

    // Addresses beyond the chip mirror it.
    EXPECT_EQ(ReadCartWord(f.s, 0x200000 + 0x41), 0x1231 & 0x0F0F);
}

TEST(SimFlash, SequenceErrorsSetBits4And5AndRefuseBuffersUntilCleared) {
    Bench f("single-32M");
    f.Open();
    auto status = [&] { return ReadCartWord(f.s, 0); };

    WriteCartWord(f.s, 0, 0xE8);
    WriteCartWord(f.s, 0, 0x10);  // 17 words do not fit
    EXPECT_EQ(status(), 0xB0);
    WriteCartWord(f.s, 0, 0xE8);
    EXPECT_EQ(status(), 0x00) << "buffer refused";
    EXPECT_EQ(status(), 0x00);
    WriteCartWord(f.s, 0, 0x50);
    // Read array where the count or the erase confirm is due is an invalid
    // sequence too: status, read array included, until clear status.
    for (std::uint16_t first : {0xE8, 0x20}) {
        WriteCartWord(f.s, 0x10, first);
        WriteCartWord(f.s, 0, 0xFF);
        EXPECT_EQ(status(), 0xB0) << first;
        WriteCartWord(f.s, 0, 0xFF);
        EXPECT_EQ(status(), 0xB0) << first;
        WriteCartWord(f.s, 0, 0x50);
        EXPECT_EQ(status(), 0x80) << first;
        WriteCartWord(f.s, 0, 0xFF);
        EXPECT_TRUE(f.sim().ChipInReadArray(0)) << first;
    }
    EXPECT_EQ(f.sim().TotalEraseCount(), 0);
    WriteCartWord(f.s, 0, 0x70);
    EXPECT_EQ(status(), 0x80);

    WriteCartWord(f.s, 0, 0xE8);
    WriteCartWord(f.s, 0, 0x00);
    WriteCartWord(f.s, 0x20, 0x0000);
    WriteCartWord(f.s, 0x20, 0x70);  // not a confirm
    EXPECT_EQ(status(), 0xB0);
    WriteCartWord(f.s, 0, 0x50);

    WriteCartWord(f.s, 0, 0xE8);
    WriteCartWord(f.s, 0, 0x01);
    WriteCartWord(f.s, 0x20, 0x0000);
    WriteCartWord(f.s, 0x10020, 0x0000);  // second word outside the block
    EXPECT_EQ(status(), 0xB0);
    WriteCartWord(f.s, 0, 0x50);
    WriteCartWord(f.s, 0, 0xFF);
    EXPECT_EQ(ReadCartWord(f.s, 0x20), 0xFFFF);
    EXPECT_EQ(ReadCartWord(f.s, 0x10020), 0xFFFF);
    EXPECT_EQ(f.sim().BufferProgramCount(), 0);
}

TEST(SimFlash, InterleavedChipsKeepTheirOwnStateAndBlocks) {
    Bench f("strata-64M");
    for (std::uint32_t w = 0; w < 8; ++w) PresetWord(f.sim(), w, static_cast<std::uint16_t>(0x0100 + w));
    f.Open();

    WriteCartWord(f.s, 0, 0x70);  // first chip only
    EXPECT_EQ(ReadCartWord(f.s, 2), 0x80);
    EXPECT_EQ(ReadCartWord(f.s, 0x2468), 0x80);
    EXPECT_EQ(ReadCartWord(f.s, 3), 0x0103) << "the second chip still reads its array";
    EXPECT_FALSE(f.sim().ChipInReadArray(0));
    EXPECT_TRUE(f.sim().ChipInReadArray(1));
    WriteCartWord(f.s, 0, 0xFF);

    // Both chips filled in one run of 32 words, as the program does.
    const std::uint32_t s0 = 0x8000;
    WriteCartWord(f.s, s0, 0xE8);
    WriteCartWord(f.s, s0 + 1, 0xE8);
    auto xsr = ReadCartWords(f.s, s0, 2);
    EXPECT_EQ(xsr[0] & 0xFF, 0x80);
    EXPECT_EQ(xsr[1] & 0xFF, 0x80);
    WriteCartWord(f.s, s0, 0x0F);
    WriteDataWord(f.s, 0x0F);
    SetCartAddress(f.s, s0);
    SelectRegister(f.s, kRegData);
    for (int i = 0; i < 32; ++i) WriteDataWord(f.s, static_cast<std::uint16_t>(0x5000 + i));
    WriteDataWord(f.s, 0xD0);
    WriteDataWord(f.s, 0xD0);
    WriteCartWord(f.s, 0, 0x70);
    WriteDataWord(f.s, 0x70);
    WriteControl(f.s, kCtlRead);
    EXPECT_EQ(ReadDataWord(f.s) & 0xFF, 0x00) << "first chip busy for one read";
    EXPECT_EQ(ReadDataWord(f.s) & 0xFF, 0x00) << "second chip busy for one read";
    EXPECT_EQ(ReadDataWord(f.s) & 0xFF, 0x80);
    EXPECT_EQ(ReadDataWord(f.s) & 0xFF, 0x80);
    WriteCartWord(f.s, 0, 0xFF);
    WriteDataWord(f.s, 0xFF);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(FlashWord(f.sim(), s0 + i), 0x5000 + i);
    EXPECT_EQ(f.sim().BufferProgramCount(), 2);

    // An erase of the second chip's block 0 leaves the first chip's words.
    WriteCartWord(f.s, 1, 0x20);
    WriteCartWord(f.s, 1, 0xD0);
    PollsUntilReady(f.s, 1);
    WriteCartWord(f.s, 1, 0xFF);
    EXPECT_EQ(ReadCartWords(f.s, 0, 4), (std::vector<std::uint16_t>{0x0100, 0xFFFF, 0x0102, 0xFFFF}));
    EXPECT_EQ(ReadCartWord(f.s, s0), 0x5000);
    EXPECT_EQ(ReadCartWord(f.s, s0 + 1), 0xFFFF);
    EXPECT_EQ(f.sim().EraseCount(1, 0), 1);
    EXPECT_EQ(f.sim().EraseCount(0, 0), 0);
    EXPECT_EQ(ReadCartWord(f.s, 0x400000), 0x0100) << "a single 8 MiB pair mirrors at 0x400000";
}

TEST(SimFlash, TwoPairCartPairsDoNotShareCommands) {
    Bench f("strata-128M");
    f.Open();
    WriteCartWord(f.s, 0, 0x70);
    WriteDataWord(f.s, 0x70);
    EXPECT_EQ(ReadCartWords(f.s, 0x400000, 2), (std::vector<std::uint16_t>{0xFFFF, 0xFFFF}));
    EXPECT_EQ(ReadCartWords(f.s, 0, 2), (std::vector<std::uint16_t>{0x80, 0x80}));
    EXPECT_EQ(f.sim().ChipOfWord(0x400001), 3);
    // A confirm written across the pair boundary does not reach the open buffer.
    WriteCartWord(f.s, 0x3FFFE0, 0xE8);
    WriteDataWord(f.s, 0xE8);
    WriteCartWord(f.s, 0x3FFFE0, 0x0F);
    WriteDataWord(f.s, 0x0F);
    SetCartAddress(f.s, 0x3FFFE0);
    SelectRegister(f.s, kRegData);
    for (int i = 0; i < 32; ++i) WriteDataWord(f.s, 0);
    WriteDataWord(f.s, 0xD0);
    WriteDataWord(f.s, 0xD0);
    EXPECT_EQ(f.sim().BufferProgramCount(), 0);
}
