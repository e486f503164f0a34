// Save memory, the Vela serial line and the carts without flash, as the
// program reaches them through the link layer.
#include <gtest/gtest.h>

#include <vector>

#include "app/app_state.h"
#include "link/cartbus.h"
#include "link/detect.h"
#include "link/link.h"
#include "sim/sim_port.h"
#include "support/sim_fixture.h"

using namespace rombolt;
using rombolt::test::ReadCartWord;
using rombolt::test::SimConfigFor;
using rombolt::test::SimFixture;

namespace {

// Selects the 64 KiB bank and reads n bytes from `offset` in save access.
std::vector<std::uint8_t> ReadSave(AppState& s, int bank, std::uint32_t offset, int n) {
    SelectSaveBank(s, static_cast<std::int8_t>(bank * 2));
    SetSaveAccess(s);
    SetCartAddress(s, offset);
    SelectRegister(s, kRegData);
    WriteControl(s, kCtlRead);
    std::vector<std::uint8_t> out;
    for (int i = 0; i < n; ++i) out.push_back(ReadDataByte(s));
    SetRomAccess(s);
    return out;
}

void WriteSave(AppState& s, int bank, std::uint32_t offset, std::uint8_t v) {
    SelectSaveBank(s, static_cast<std::int8_t>(bank * 2));
    SetSaveAccess(s);
    SetCartAddress(s, offset);
    SelectRegister(s, kRegData);
    WriteControl(s, kCtlSelect);
    WriteDataByte(s, v);
    SetRomAccess(s);
}

void SendBits(AppState& s, unsigned value, int bits) {
    SetSerialAccess(s);
    SetCartAddress(s, 0x800000);
    SetSerialAccess(s);
    SelectRegister(s, kRegData);
    for (int i = bits - 1; i >= 0; --i) WriteDataWord(s, static_cast<std::uint16_t>((value >> i) & 1));
}

std::vector<int> ReadBits(AppState& s, std::uint32_t address, int n) {
    SetRomAccess(s);
    SetCartAddress(s, address);
    SetSerialAccess(s);
    SelectRegister(s, kRegData);
    WriteControl(s, kCtlRead);
    std::vector<int> out;
    for (int i = 0; i < n; ++i) out.push_back(ReadDataWord(s) & 1);
    return out;
}

}  // namespace

TEST(SimSave, BanksAndMirrorsFollowTheSaveSize) {
    const struct {
        const char* size;
        std::size_t bytes;
    } rows[] = {{"32K", 0x8000}, {"64K", 0x10000}, {"128K", 0x20000}, {"256K", 0x40000}};
    for (auto& r : rows) {
        SCOPED_TRACE(r.size);
        SimFixture f("strata-256M", r.size);
        ASSERT_EQ(f.sim().Save().size(), r.bytes);
        ASSERT_EQ(DetectAdapter(f.s), 0);
        // Bank b gets the value 0x10 + b at offset 0x1234 (half A) and 0x20 + b at 0x9234 (half B).
        for (int b = 0; b < 4; ++b) {
            WriteSave(f.s, b, 0x1234, static_cast<std::uint8_t>(0x10 + b));
            WriteSave(f.s, b, 0x9234, static_cast<std::uint8_t>(0x20 + b));
        }
        const std::size_t banks = r.bytes >= 0x10000 ? r.bytes / 0x10000 : 1;
        for (int b = 0; b < 4; ++b) {
            const int lastWriter = static_cast<int>(banks == 4 ? b : (banks == 2 ? 2 + (b & 1) : 3));
            auto got = ReadSave(f.s, b, 0x1234, 1)[0];
            auto gotB = ReadSave(f.s, b, 0x9234, 1)[0];
            if (r.bytes == 0x8000) {
                EXPECT_EQ(got, 0x23) << "32K: half B mirrors half A, every bank the same";
                EXPECT_EQ(gotB, 0x23);
            } else {
                EXPECT_EQ(got, 0x10 + lastWriter) << "bank " << b;
                EXPECT_EQ(gotB, 0x20 + lastWriter) << "bank " << b;
            }
        }
        if (r.bytes == 0x40000) {
            EXPECT_EQ(f.sim().Save()[0x31234], 0x13) << "bank 3 at 3 x 64 KiB";
            EXPECT_EQ(f.sim().SaveBank(), 3);
        }
    }
    SimFixture f("strata-256M", "64K");
    ASSERT_EQ(DetectAdapter(f.s), 0);
    f.sim().Save()[0x0155] = 0x77;
    EXPECT_EQ(ReadSave(f.s, 0, 0x070155, 1)[0], 0x77) << "register 2 plays no part in save addresses";
    SelectSaveBank(f.s, 9);
    EXPECT_EQ(f.sim().SaveBank(), 0) << "no bank change outside 0..7";
}

TEST(SimSave, NoSaveMemoryNeverReadsTheSameTwice) {
    SimFixture f("strata-256M", "none");
    ASSERT_EQ(DetectAdapter(f.s), 0);
    WriteSave(f.s, 0, 0, 0x00);
    EXPECT_NE(ReadSave(f.s, 0, 0, 256), ReadSave(f.s, 0, 0, 256));
    EXPECT_TRUE(f.sim().Save().empty());
}

TEST(SimSerial, VelaCartsAnswerTheLineTestAndStrataCartsAnswerZeros) {
    for (const char* model : {"vela-64M", "vela-256M", "strata-256M"}) {
        SCOPED_TRACE(model);
        const bool vela = std::string(model).rfind("vela", 0) == 0;
        SimFixture f(model, "64K");
        for (int k = 0; k < 64; ++k)
            f.sim().Save()[0x200 + 2 * k] = static_cast<std::uint8_t>(0xF0 | ((k * 5 / 3) & 1));
        ASSERT_EQ(DetectAdapter(f.s), 0);

        SendBits(f.s, 0x180, 9);  // read command, block 0
        auto bits = ReadBits(f.s, 0x800000, 68);
        std::vector<int> expect = {0, 0, 0, 1};
        for (int k = 0; k < 64; ++k) expect.push_back(vela ? (k * 5 / 3) & 1 : 0);
        if (!vela) expect[3] = 0;
        EXPECT_EQ(bits, expect);
        EXPECT_EQ(ReadBits(f.s, 0x800000, 4), std::vector<int>(4, 0)) << "the answer is read once";

        // The bits equal bit 0 of the words the line test reads from save address 0x200.
        SetSaveAccess(f.s);
        SetCartAddress(f.s, 0x200);
        SelectRegister(f.s, kRegData);
        WriteControl(f.s, kCtlRead);
        for (int k = 0; k < 64 && vela; ++k) EXPECT_EQ(ReadDataWord(f.s) & 1, expect[4 + k]);

        SendBits(f.s, 0x180, 9);
        SendBits(f.s, 0, 9);  // ends the answer
        EXPECT_EQ(ReadBits(f.s, 0x800000, 4), std::vector<int>(4, 0));
        SendBits(f.s, 0x180, 9);
        EXPECT_EQ(ReadBits(f.s, 0x800001, 4), std::vector<int>(4, 0)) << "only 0x800000 is the serial line";
    }
}

TEST(SimCarts, MaskRomAndEmptySlotFloatTheAddressBack) {
    SimConfig c = SimConfigFor("rom", "none");
    c.rom = {0x11, 0x22, 0x33, 0x44, 0x55};
    SimFixture f(c);
    ASSERT_EQ(DetectAdapter(f.s), 0);
    EXPECT_EQ(ReadCartWord(f.s, 0), 0x2211);
    EXPECT_EQ(ReadCartWord(f.s, 1), 0x4433);
    EXPECT_EQ(ReadCartWord(f.s, 2), 0x0055) << "last odd byte, high byte from the address";
    EXPECT_EQ(ReadCartWord(f.s, 3), 0x0003);
    EXPECT_EQ(ReadCartWord(f.s, 0x123456), 0x3456);
    OpenFlashAccess(f.s);
    WriteCartWord(f.s, 0, 0x98);
    WriteCartWord(f.s, 0, 0x0000);
    EXPECT_EQ(ReadCartWord(f.s, 0), 0x2211) << "no flash answers and writes go nowhere";

    SimFixture none("none", "none");
    ASSERT_EQ(DetectAdapter(none.s), 0) << "the adapter itself is there";
    OpenFlashAccess(none.s);
    WriteCartWord(none.s, 0, 0x98);
    EXPECT_EQ(ReadCartWord(none.s, 0), 0x0000);
    EXPECT_EQ(ReadCartWord(none.s, 0x20), 0x0020);
}
