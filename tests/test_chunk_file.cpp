#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "ops/chunk_file.h"
#include "support/fake_frontend.h"

using namespace rombolt;
namespace fs = std::filesystem;

namespace {

class ChunkFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.UI = &ui;
        dir = fs::temp_directory_path() / ("rombolt_chunk_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override {
        CloseCurrentFile(s);
        fs::remove_all(dir);
    }
    std::string MakeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        auto p = (dir / name).string();
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return p;
    }
    static std::vector<std::uint8_t> Pattern(std::size_t n) {
        std::vector<std::uint8_t> v(n);
        for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + 3);
        return v;
    }
    static int OpenDescriptors() {
        int n = 0;
        for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
        return n;
    }

    AppState s;
    test::FakeFrontend ui{s};
    fs::path dir;
};

TEST_F(ChunkFileTest, ReadsWholeChunksAndReportsShortReadsWithARealReason) {
    auto data = Pattern(32768 + 60);
    s.CurrentFilePath = MakeFile("game.gba", data);
    ASSERT_EQ(OpenImageForRead(s), 0);
    EXPECT_EQ(CurrentFileLength(s), 32768 + 60);

    ASSERT_TRUE(ReadChunk(s, 32768));
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 32768, s.ChunkBuffer.bytes.begin()));
    EXPECT_TRUE(ui.log.empty());
    // Asking for the length must not move the read position.
    EXPECT_EQ(CurrentFileLength(s), 32768 + 60);

    // 100 bytes asked, 60 left: failure with an end-of-file reason, never "Success".
    EXPECT_FALSE(ReadChunk(s, 100));
    ASSERT_EQ(ui.log.size(), 1u);
    EXPECT_EQ(ui.log[0], "Read ErrNo=Unexpected end of file");
    // The 60 bytes that were there still arrived at the start of the buffer.
    EXPECT_TRUE(std::equal(data.begin() + 32768, data.end(), s.ChunkBuffer.bytes.begin()));

    // Counts beyond the buffer are refused instead of overrunning it.
    EXPECT_FALSE(ReadChunk(s, 32769));
    EXPECT_EQ(ui.log.back(), "Read ErrNo=Invalid argument");

    CloseCurrentFile(s);
    EXPECT_EQ(s.CurrentFile, nullptr);
    EXPECT_FALSE(ReadChunk(s, 16));
    EXPECT_EQ(ui.log.back(), "Read ErrNo=Bad file descriptor");
    EXPECT_EQ(CurrentFileLength(s), -1);
}

TEST_F(ChunkFileTest, OpenFailuresAndOutputTruncation) {
    s.CurrentFilePath = (dir / "missing.gba").string();
    EXPECT_EQ(OpenImageForRead(s), -1);
    EXPECT_EQ(s.CurrentFile, nullptr);
    s.SaveDialogFile = "";
    EXPECT_EQ(OpenOutputFile(s), -1);
    s.SaveDialogFile = (dir / "no_such_dir" / "out.bin").string();
    EXPECT_EQ(OpenOutputFile(s), -1);
    EXPECT_EQ(ui.log,
              (std::vector<std::string>{"File Open Error!!!", "File Open Error!!!", "File Open Error!!!"}));

    // An existing file is truncated; what is written reads back byte for byte.
    s.SaveDialogFile = MakeFile("backup.gba", Pattern(100000));
    ASSERT_EQ(OpenOutputFile(s), 0);
    EXPECT_EQ(CurrentFileLength(s), 0);
    auto data = Pattern(32768);
    std::copy(data.begin(), data.end(), s.ChunkBuffer.bytes.begin());
    ASSERT_TRUE(WriteChunk(s, 32768));
    ASSERT_TRUE(WriteChunk(s, 512));
    EXPECT_EQ(CurrentFileLength(s), 32768 + 512);
    CloseCurrentFile(s);
    EXPECT_EQ(fs::file_size(s.SaveDialogFile), 32768u + 512u);

    s.CurrentFilePath = s.SaveDialogFile;
    ASSERT_EQ(OpenImageForRead(s), 0);
    s.ChunkBuffer.bytes.fill(0);
    ASSERT_TRUE(ReadChunk(s, 32768));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), s.ChunkBuffer.bytes.begin()));
    EXPECT_EQ(ui.log.size(), 3u);
}

TEST_F(ChunkFileTest, WriteErrorsCarryTheSystemReason) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "/dev/full not available";
    s.SaveDialogFile = "/dev/full";
    ASSERT_EQ(OpenOutputFile(s), 0);
    // Even a small write that fits the stream's buffer fails on its own chunk.
    EXPECT_FALSE(WriteChunk(s, 16));
    ASSERT_EQ(ui.log.size(), 1u);
    EXPECT_EQ(ui.log[0], "Write ErrNo=No space left on device");
    CloseCurrentFile(s);
    EXPECT_FALSE(WriteChunk(s, 16));
    EXPECT_EQ(ui.log.back(), "Write ErrNo=Bad file descriptor");
}

TEST_F(ChunkFileTest, PadChunkFillsFromOffsetToEnd) {
    s.ChunkBuffer.bytes.fill(0x11);
    PadChunk(s, 32768);
    EXPECT_TRUE(std::all_of(s.ChunkBuffer.bytes.begin(), s.ChunkBuffer.bytes.end(),
                            [](auto b) { return b == 0x11; }));
    PadChunk(s, 100);
    EXPECT_EQ(s.ChunkBuffer.bytes[99], 0x11);
    EXPECT_TRUE(std::all_of(s.ChunkBuffer.bytes.begin() + 100, s.ChunkBuffer.bytes.end(),
                            [](auto b) { return b == 0xFF; }));
    s.ChunkBuffer.bytes.fill(0x11);
    PadChunk(s, 0);
    EXPECT_TRUE(std::all_of(s.ChunkBuffer.bytes.begin(), s.ChunkBuffer.bytes.end(),
                            [](auto b) { return b == 0xFF; }));
}

TEST_F(ChunkFileTest, NoDescriptorLeaks) {
    s.CurrentFilePath = MakeFile("a.gba", Pattern(1024));
    s.SaveDialogFile = (dir / "b.gba").string();
    const int before = OpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        // Reopening without an explicit close replaces the current file.
        ASSERT_EQ(OpenImageForRead(s), 0);
        ASSERT_EQ(OpenImageForRead(s), 0);
        ASSERT_EQ(OpenOutputFile(s), 0);
        s.CurrentFilePath = (dir / "gone.gba").string();
        ASSERT_EQ(OpenImageForRead(s), -1);  // a failed open leaves nothing open either
        s.CurrentFilePath = (dir / "a.gba").string();
        ASSERT_EQ(OpenImageForRead(s), 0);
        CloseCurrentFile(s);
        CloseCurrentFile(s);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
