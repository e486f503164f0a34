// Save memory: bank codes, and backup/restore against the simulated cart.
#include <gtest/gtest.h>

#include <string>

#include "ops/saver.h"

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
