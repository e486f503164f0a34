// IPS patch loading, parsing and chunk-wise application.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "image/ips.h"
#include "support/fake_frontend.h"

using namespace rombolt;

namespace {

struct Rec {
    std::uint32_t offset;
    std::vector<std::uint8_t> data;
};

std::vector<std::uint8_t> MakeIps(const std::vector<Rec>& recs, std::vector<std::uint8_t> tail = {}) {
    std::vector<std::uint8_t> out = {'P', 'A', 'T', 'C', 'H'};
    for (auto& r : recs) {
        out.push_back(static_cast<std::uint8_t>(r.offset >> 16));
        out.push_back(static_cast<std::uint8_t>(r.offset >> 8));
        out.push_back(static_cast<std::uint8_t>(r.offset));
        out.push_back(static_cast<std::uint8_t>(r.data.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(r.data.size()));
        out.insert(out.end(), r.data.begin(), r.data.end());
    }
    out.insert(out.end(), tail.begin(), tail.end());
    out.insert(out.end(), {'E', 'O', 'F'});
    return out;
}

class IpsTest : public ::testing::Test {
protected:
    IpsTest() : ui(s) { s.UI = &ui; }
    ~IpsTest() override {
        for (auto& p : paths) ::unlink(p.c_str());
    }

    // Writes the bytes to a fresh file and makes it the chosen patch.
    void UsePatch(const std::vector<std::uint8_t>& bytes) {
        std::string path = ::testing::TempDir() + "ips_" + std::to_string(::getpid()) + "_" +
                           std::to_string(paths.size()) + ".ips";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        paths.push_back(path);
        s.IpsFileName = path;
    }

    void FillChunk(std::uint8_t v) { s.ChunkBuffer.bytes.fill(v); }

    AppState s;
    test::FakeFrontend ui;
    std::vector<std::string> paths;
};

TEST_F(IpsTest, SmallestPatchChangesExactlyTheFirstByte) {
    auto bytes = MakeIps({{0, {0x5A}}});
    ASSERT_EQ(bytes.size(), 14u);
    UsePatch(bytes);
    ASSERT_EQ(LoadIpsPatch(s), 0);
    EXPECT_TRUE(ui.Logged("-->Ips Applied<--"));
    EXPECT_EQ(s.RecordCount, 1);

    FillChunk(0x11);
    ApplyIpsToChunk(s, 0);
    EXPECT_EQ(s.ChunkBuffer.bytes[0], 0x5A);
    for (int i = 1; i < kChunkBytes; ++i) ASSERT_EQ(s.ChunkBuffer.bytes[i], 0x11) << i;
}

TEST_F(IpsTest, RecordsSplitAcrossChunksOverlapInFileOrderAndReArm) {
    std::vector<std::uint8_t> twenty(20), three = {0xE1, 0xE2, 0xE3};
    for (int i = 0; i < 20; ++i) twenty[i] = static_cast<std::uint8_t>(0xA0 + i);
    // Record 0 starts 10 bytes before the boundary; record 1 overwrites the
    // two bytes on each side of it; record 2 lies beyond a 2-chunk image.
    UsePatch(MakeIps({{32768 - 10, twenty}, {32768 - 1, {0xC1, 0xC2}}, {3 * 32768 + 5, three}}));
    ASSERT_EQ(LoadIpsPatch(s), 0);
    ASSERT_EQ(s.RecordCount, 3);

    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        if (pass == 1) {
            ASSERT_EQ(ParseIpsRecords(s), 0);  // the first pass used the records up
        }

        FillChunk(0x00);
        ApplyIpsToChunk(s, 0);
        for (int i = 0; i < 9; ++i) EXPECT_EQ(s.ChunkBuffer.bytes[32758 + i], 0xA0 + i);
        EXPECT_EQ(s.ChunkBuffer.bytes[32767], 0xC1);
        EXPECT_EQ(s.ChunkBuffer.bytes[32757], 0x00);
        for (int i = 0; i < 32757; ++i) ASSERT_EQ(s.ChunkBuffer.bytes[i], 0) << i;

        FillChunk(0x00);
        ApplyIpsToChunk(s, 1);
        EXPECT_EQ(s.ChunkBuffer.bytes[0], 0xC2);
        for (int i = 1; i < 10; ++i) EXPECT_EQ(s.ChunkBuffer.bytes[i], 0xAA + i);
        for (int i = 10; i < kChunkBytes; ++i) ASSERT_EQ(s.ChunkBuffer.bytes[i], 0) << i;
    }
    // Applying a chunk again changes nothing: its parts are used up.
    FillChunk(0x00);
    ApplyIpsToChunk(s, 0);
    ApplyIpsToChunk(s, 1);
    for (int i = 0; i < kChunkBytes; ++i) ASSERT_EQ(s.ChunkBuffer.bytes[i], 0) << i;
    EXPECT_EQ(s.IpsRecords[2].RemainingLength, 3);  // never reached
}

TEST_F(IpsTest, SizeAndFrameChecks) {
    // One byte too short.
    UsePatch({'P', 'A', 'T', 'C', 'H', 0, 0, 0, 0, 1, 'E', 'O', 'F'});
    EXPECT_EQ(LoadIpsPatch(s), -1);
    EXPECT_TRUE(ui.Logged("***** Ips Size Error *****"));
    ui.log.clear();

    // 32768 bytes is the largest accepted; one more is refused.
    std::vector<std::uint8_t> big(32768 - 5 - 5 - 3, 0x77);
    auto maxPatch = MakeIps({{0x100, big}});
    ASSERT_EQ(maxPatch.size(), 32768u);
    UsePatch(maxPatch);
    EXPECT_EQ(LoadIpsPatch(s), 0);
    big.push_back(0x77);
    UsePatch(MakeIps({{0x100, big}}));
    EXPECT_EQ(LoadIpsPatch(s), -1);
    EXPECT_TRUE(ui.Logged("***** Ips Size Error *****"));
    ui.log.clear();

    // Wrong magic at either end: refused without a message, and nothing of
    // the previously loaded patch remains applicable.
    auto noPatch = MakeIps({{0, {1}}});
    noPatch[0] = 'X';
    UsePatch(noPatch);
    EXPECT_EQ(LoadIpsPatch(s), -1);
    auto noEof = MakeIps({{0, {1}}});
    noEof.back() = 'X';
    UsePatch(noEof);
    EXPECT_EQ(LoadIpsPatch(s), -1);
    EXPECT_TRUE(ui.log.empty());
    EXPECT_EQ(s.RecordCount, 0);

    // A missing file is refused silently.
    s.IpsFileName = ::testing::TempDir() + "no_such_patch.ips";
    EXPECT_EQ(LoadIpsPatch(s), -1);
    EXPECT_TRUE(ui.log.empty());
}

TEST_F(IpsTest, RecordTableChecks) {
    auto expectDataError = [&](const std::vector<std::uint8_t>& bytes, const char* what) {
        SCOPED_TRACE(what);
        ui.log.clear();
        UsePatch(bytes);
        EXPECT_EQ(LoadIpsPatch(s), -1);
        EXPECT_TRUE(ui.Logged("***** Ips Data Error *****"));
        EXPECT_FALSE(ui.Logged("-->Ips Applied<--"));
        EXPECT_EQ(s.RecordCount, 0);
    };

    // Run-length record (length 0, then count and value).
    expectDataError(MakeIps({{0, {1, 2}}}, {0, 0, 9, 0, 0, 0, 4, 0x55}), "run-length");
    // A length that runs past the end of the file.
    {
        auto b = MakeIps({{0, {1, 2, 3}}});
        b[8] = 0xFF;
        b[9] = 0xF0;
        expectDataError(b, "huge length");
    }
    // Record head cut off: its data would overlap "EOF".
    expectDataError(MakeIps({{0, {1}}}, {0, 0, 5, 0, 4, 9}), "truncated record");
    // Nine junk bytes before "EOF" read as a zero-length record.
    expectDataError(MakeIps({{0, {1}}}, std::vector<std::uint8_t>(6, 0)), "trailing junk");

    // 3 to 8 bytes after the last record are accepted (the last three are "EOF").
    for (int extra = 0; extra <= 5; ++extra) {
        ui.log.clear();
        UsePatch(MakeIps({{0x20, {1, 2}}}, std::vector<std::uint8_t>(extra, 0xEE)));
        EXPECT_EQ(LoadIpsPatch(s), 0) << extra;
        EXPECT_EQ(s.RecordCount, 1) << extra;
    }

    // 1023 records load; 1024 are refused.
    std::vector<Rec> recs;
    for (int i = 0; i < 1023; ++i) recs.push_back({static_cast<std::uint32_t>(i * 4), {std::uint8_t(i)}});
    ui.log.clear();
    UsePatch(MakeIps(recs));
    EXPECT_EQ(LoadIpsPatch(s), 0);
    EXPECT_EQ(s.RecordCount, 1023);
    recs.push_back({9000, {1}});
    expectDataError(MakeIps(recs), "1024 records");
}

TEST_F(IpsTest, ParsingWithoutALoadedPatchIsRefused) {
    s.PatchLength = 0;
    EXPECT_EQ(ParseIpsRecords(s), -1);
    s.PatchLength = 40000;
    EXPECT_EQ(ParseIpsRecords(s), -1);
    EXPECT_EQ(s.RecordCount, 0);
    FillChunk(0x33);
    ApplyIpsToChunk(s, 0);
    for (int i = 0; i < kChunkBytes; ++i) ASSERT_EQ(s.ChunkBuffer.bytes[i], 0x33);
}

}  // namespace
