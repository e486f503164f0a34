// The command-line tool's own pieces: checksums, the command-line parser, the
// trace format, the header report and the checksum of prepared images.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/digest.h"
#include "cli/header_report.h"
#include "cli/options.h"
#include "cli/prepared_digest.h"
#include "cli_test_util.h"
#include "image/header.h"
#include "port/trace_port.h"

using namespace rombolt;
using namespace rombolt::cli;
using rombolt::clitest::Bytes;

namespace {

std::string Crc(const std::string& text) {
    Crc32 c;
    c.Update(text.data(), text.size());
    return c.Hex();
}

std::string Sha(const std::string& text) {
    Sha1 s;
    s.Update(text.data(), text.size());
    return s.HexFinal();
}

ParseResult Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "rombolt");
    return ParseCommandLine(args);
}

}  // namespace

TEST(CliDigest, KnownVectorsAndPiecewiseFeeding) {
    EXPECT_EQ(Crc("123456789"), "cbf43926");
    EXPECT_EQ(Crc(""), "00000000");
    EXPECT_EQ(Sha(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Sha("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    // 56 bytes: the length no longer fits the first padding block.
    EXPECT_EQ(Sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");

    // One million 'a' fed in pieces of odd sizes that straddle the 64-byte blocks.
    std::string a(1000000, 'a');
    Digest pieces;
    std::size_t pos = 0, step = 1;
    while (pos < a.size()) {
        std::size_t n = std::min(step, a.size() - pos);
        pieces.Update(a.data() + pos, n);
        pos += n;
        step = step * 7 % 131 + 1;
    }
    Digest whole;
    whole.Update(a.data(), a.size());
    DigestText p = Finish(pieces), w = Finish(whole);
    EXPECT_EQ(p.sha1, "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(p.crc32, w.crc32);
    EXPECT_EQ(p.bytes, 1000000u);
}

TEST(CliDigest, ShaInstructionsAgreeWithThePlainCode) {
    Bytes data(64 * 37);
    std::uint32_t x = 12345;
    for (auto& b : data) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    std::uint32_t plain[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    std::uint32_t fast[5];
    std::copy(plain, plain + 5, fast);
    Sha1::BlocksPortable(plain, data.data(), 37);
    if (!Sha1::BlocksWithShaInstructions(fast, data.data(), 37)) GTEST_SKIP() << "no SHA instructions here";
    EXPECT_TRUE(std::equal(plain, plain + 5, fast));
}

TEST(CliOptions, CommandsOptionsAndTheirValues) {
    ParseResult r =
        Parse({"--sim", "/tmp/c", "--speed", "2", "--no-verify", "--fix", "write", "a.gba", "b.gb"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.Is("write"));
    EXPECT_EQ(r.options.args, (std::vector<std::string>{"a.gba", "b.gb"}));
    EXPECT_EQ(*r.options.simDir, "/tmp/c");
    EXPECT_EQ(*r.options.speedIndex, 2);  // "2" is the third item
    EXPECT_FALSE(*r.options.verify);
    EXPECT_TRUE(*r.options.fix);
    EXPECT_FALSE(r.options.cut32k.has_value());

    // Options after the command, --opt=value, and "--" before a name that starts with '-'.
    r = Parse({"backup", "--size=64m", "-q", "--", "-out.gba"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(*r.options.romSizeChunks, 256);
    EXPECT_TRUE(r.options.quiet);
    EXPECT_EQ(r.options.args, std::vector<std::string>{"-out.gba"});

    r = Parse({"save-restore", "in.sav", "--bank", "2b3", "--size", "8K"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.saveStartUnit, 14);
    EXPECT_EQ(*r.options.saveSizeIndex, 0);
    r = Parse({"save-backup", "out.sav", "--size", "64K"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.saveStartUnit, 0);  // bank 1 when none is given

    r = Parse({"backup", "out.gba", "--raw"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.raw);
    EXPECT_NE(Parse({"write", "a.gba", "--raw"}).error.find("--raw does not apply"), std::string::npos);

    r = Parse({"sim", "create", "d", "--model", "strata-256M", "--save", "64K"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.Is("sim create"));
    EXPECT_EQ(*r.options.saveModel, "64K");

    EXPECT_TRUE(Parse({"--help"}).options.help);
    EXPECT_TRUE(Parse({"info", "--version"}).options.version);
}

TEST(CliOptions, EveryCommandOfTheTableIsInTheHelp) {
    const std::string help = HelpText();
    for (const CommandSpec& c : Commands())
        EXPECT_NE(help.find(std::string("\n  ") + c.name + " "), std::string::npos) << c.name;
}

TEST(CliOptions, UsageErrorsNameTheProblem) {
    struct Case {
        std::vector<std::string> args;
        const char* mentions;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"flash"}, "unknown command 'flash'"},
        {{"--frobnicate", "info"}, "unknown option '--frobnicate'"},
        {{"info", "--sim"}, "--sim needs a value"},
        {{"--speed", "5", "info"}, "--speed"},
        {{"--sim", "d", "--port", "lpt1", "info"}, "exclude"},
        {{"info", "extra"}, "no arguments"},
        {{"write"}, "at least one image"},
        {{"write", "a.gba", "--list", "l.txt"}, "not both"},
        {{"backup"}, "one output file"},
        {{"backup", "o", "--size", "12M"}, "12M"},
        {{"save-restore", "i"}, "needs --size"},
        {{"save-backup", "o", "--size", "16K"}, "16K"},
        {{"save-backup", "o", "--size", "8K", "--bank", "5"}, "--bank"},
        {{"save-backup", "o", "--size", "8K", "--bank", "1C"}, "--bank"},
        {{"info", "--size", "8M"}, "--size does not apply to info"},
        {{"erase", "--list", "l"}, "--list does not apply"},
        {{"layout", "a.gba", "--sim", "d"}, "does not use a cartridge"},
        {{"sim", "make", "d"}, "create"},
        {{"sim", "create", "d"}, "--model"},
        {{"--verify=yes", "info"}, "takes no value"},
    };
    for (const Case& c : cases) {
        ParseResult r = Parse(c.args);
        std::string joined;
        for (auto& a : c.args) joined += a + " ";
        EXPECT_NE(r.error.find(c.mentions), std::string::npos) << joined << "-> '" << r.error << "'";
        EXPECT_EQ(r.error.find('\n'), std::string::npos) << joined;
    }
}

TEST(CliTrace, LineFormatAndPassThrough) {
    char buf[40];
    EXPECT_EQ(std::string(buf, FormatTraceLine(buf, "outb", 0x37a, 0x01, 2)), "outb 0x37a 0x01");
    EXPECT_EQ(std::string(buf, FormatTraceLine(buf, "inb", 0x379, 0x48, 2)), "inb 0x379 0x48");
    EXPECT_EQ(std::string(buf, FormatTraceLine(buf, "outw", 0x37c, 0x1234, 4)), "outw 0x37c 0x1234");
    EXPECT_EQ(std::string(buf, FormatTraceLine(buf, "inw", 0xd014, 0x00ab, 4)), "inw 0xd014 0x00ab");
    EXPECT_EQ(std::string(buf, FormatTraceLine(buf, "inb", 0x3bd, 0xff, 2)), "inb 0x3bd 0xff");

    // Reads report what the inner back end answered; writes reach it.
    NullPort inner;
    RecordingPort rec(inner);
    clitest::TempDir dir;
    std::string path = dir / "trace.txt";
    {
        TracePort t(rec, std::fopen(path.c_str(), "w"));
        t.outb(0x37a, 0x04);
        EXPECT_EQ(t.inb(0x379), 0xFF);
        t.outw(0x37c, 0xBEEF);
        EXPECT_EQ(t.inw(0x37c), 0xFFFF);
        EXPECT_TRUE(t.Close());
    }
    Bytes text = clitest::ReadFile(path);
    EXPECT_EQ(std::string(text.begin(), text.end()),
              "outb 0x37a 0x04\ninb 0x379 0xff\noutw 0x37c 0xbeef\ninw 0x37c 0xffff\n");
    ASSERT_EQ(rec.log.size(), 4u);
    EXPECT_EQ(rec.log[2], (RecordingPort::Access{RecordingPort::Kind::OutW, 0x37c, 0xBEEF}));
}

TEST(CliHeaderReport, GbaAndGbStatuses) {
    Bytes gba = clitest::MakeGbaImage(1024, "MYGAME", 1);
    HeaderReport h = AnalyzeHeader(gba.data(), 1024);
    EXPECT_TRUE(h.Good());
    EXPECT_EQ(
        FormatHeaderReport("a.gba", h), "a.gba: GBA \"MYGAME\", logo ok, complement ok (" + [&] {
            char b[8];
            std::snprintf(b, sizeof b, "0x%02x", gba[0xBD]);
            return std::string(b);
        }() + ")");

    Bytes bad = gba;
    bad[0xBD] ^= 0x55;
    bad[0x10] ^= 1;     // logo
    bad[0xA0] |= 0x80;  // title byte with bit 7 set shows without it
    h = AnalyzeHeader(bad.data(), 1024);
    EXPECT_FALSE(h.Good());
    EXPECT_FALSE(h.logoOk);
    EXPECT_EQ(h.expectedComplement, static_cast<std::uint8_t>(gba[0xBD] - 0x80));
    std::string line = FormatHeaderReport("b.gba", h);
    EXPECT_NE(line.find("\"MYGAME\", logo wrong, complement wrong"), std::string::npos) << line;

    Bytes gbc = clitest::MakeGbImage(1024, "POCKET", 0x80, 2);
    h = AnalyzeHeader(gbc.data(), 1024);
    EXPECT_TRUE(h.Good());
    EXPECT_EQ(h.type, HeaderReport::Type::Gbc);
    Bytes gb = clitest::MakeGbImage(1024, "POCKET", 0xC0, 2);
    gb[0x14D] ^= 1;
    h = AnalyzeHeader(gb.data(), 1024);
    EXPECT_EQ(h.type, HeaderReport::Type::Gb);  // only 0x80 marks colour
    EXPECT_FALSE(h.Good());
    EXPECT_NE(FormatHeaderReport("c.gb", h).find("header checksum wrong"), std::string::npos);

    EXPECT_FALSE(ReadHeaderReport("/nonexistent/x.gba").Good());
}

TEST(CliWriteSums, AreThoseOfTheBytesTheWritePrograms) {
    clitest::TempDir dir;
    // 40000 bytes: a second chunk of 7232 bytes padded with 0xFF; a wrong complement.
    Bytes img = clitest::MakeGbaImage(40000, "PAD", 3);
    img[0xBD] ^= 0x0F;
    std::string path = dir / "g.gba";
    clitest::WriteFile(path, img);

    Bytes padded = img;
    padded.resize(65536, 0xFF);
    Bytes repaired = padded;
    repaired[0xBD] ^= 0x0F;
    // IPS: "PATCH", record at 0x8000 of 2 bytes, "EOF".
    Bytes ips = {'P', 'A', 'T', 'C', 'H', 0x00, 0x80, 0x00, 0x00, 0x02, 0xAA, 0xBB, 'E', 'O', 'F'};
    std::string ipsPath = dir / "p.ips";
    clitest::WriteFile(ipsPath, ips);
    Bytes patched = repaired;
    patched[0x8000] = 0xAA;
    patched[0x8001] = 0xBB;
    // A patch past the file's end lengthens the image: 0xFF wherever neither
    // the file nor the patch gives a byte.
    const std::string growPath = dir / "grow.ips";
    clitest::WriteFile(
        growPath, Bytes{'P', 'A', 'T', 'C', 'H', 0x01, 0x80, 0x00, 0x00, 0x02, 0xAA, 0xBB, 'E', 'O', 'F'});
    Bytes grown(repaired.begin(), repaired.begin() + 40000);
    grown.resize(0x18000, 0xFF);
    grown.insert(grown.end(), {0xAA, 0xBB});
    grown.resize(0x20000, 0xFF);

    // The data line of the write's report, as the write summed what it sent.
    ASSERT_EQ(clitest::Rombolt({"sim", "create", "cart", "--model", "strata-256M"}, dir.path()).status, 0);
    auto reported = [&](std::vector<std::string> options, const char* command = "write") {
        options.insert(options.begin(), {"--sim", "cart", "-q", "--report", "r.txt"});
        for (const char* a : {command, "g.gba"}) options.push_back(a);
        const clitest::RunResult r = clitest::Rombolt(options, dir.path());
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        const Bytes report = clitest::ReadFile(dir / "r.txt");
        const std::string text(report.begin(), report.end());
        const auto at = text.find("data: ");
        return at == std::string::npos ? text : text.substr(at, text.find('\n', at) - at);
    };
    auto expect = [](const Bytes& b) {
        Digest d;
        d.Update(b.data(), b.size());
        const DigestText t = Finish(d);
        return "data: g.gba, " + std::to_string(b.size()) + " bytes at chunk 0, crc32 " + t.crc32 +
               ", sha1 " + t.sha1;
    };
    EXPECT_EQ(reported({"--no-fix"}), expect(padded));
    EXPECT_EQ(reported({"--fix"}), expect(repaired));
    EXPECT_EQ(reported({"--fix", "--ips", "p.ips"}), expect(patched));
    EXPECT_EQ(reported({"--fix", "--ips", "grow.ips"}), expect(grown));
    EXPECT_EQ(reported({"--fix", "--ips", "grow.ips"}, "verify"), expect(grown));

    std::string messages;
    EXPECT_TRUE(IpsPatchUsable(ipsPath, messages));
    clitest::WriteFile(dir / "bad.ips", Bytes{'P', 'A', 'T', 'C', 'H', 0, 0, 0, 0, 0, 1, 'E', 'O', 'F'});
    EXPECT_FALSE(IpsPatchUsable(dir / "bad.ips", messages));

    // A plain file checksum, whole or cut.
    auto sha1 = [](const Bytes& b) {
        Digest d;
        d.Update(b.data(), b.size());
        return Finish(d).sha1;
    };
    std::string error;
    auto whole = FileDigest(path, -1, error);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->sha1, sha1(img));
    Bytes head(img.begin(), img.begin() + 8192);
    EXPECT_EQ(FileDigest(path, 8192, error)->sha1, sha1(head));
}
