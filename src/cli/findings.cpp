#include "cli/findings.h"

#include <cstdio>

#include "cli/prepared_digest.h"
#include "ops/game_rows.h"
#include "ops/layout.h"

namespace rombolt::cli {

namespace {

std::string Hex(unsigned long long v, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*llx", digits, v);
    return buf;
}

std::string Bytes(std::int64_t n) { return std::to_string(n) + " bytes"; }

// The image holding cart chunk `chunk`, or null.
const ImageFindings* ImageAt(const AppState& s, std::int32_t chunk) {
    for (const ImageFindings& f : s.Findings.Images)
        if (chunk >= f.StartChunk && chunk < f.StartChunk + f.Chunks) return &f;
    return nullptr;
}

// What a write that ended before its last chunk left in the cart.
std::string PartialImageText(const AppState& s) {
    for (const ImageFindings& f : s.Findings.Images) {
        if (f.ProgrammedChunks < 0) continue;
        const std::string which = s.Findings.Images.size() > 1 || f.StartChunk != 0
                                      ? "the image at cart chunk " + std::to_string(f.StartChunk)
                                      : "the image";
        const std::string held =
            f.ProgrammedChunks == 0
                ? "the cart holds no chunk of " + which
                : "the cart holds chunks 0 to " + std::to_string(f.ProgrammedChunks - 1) + " of " + which +
                      " (" + std::to_string(f.ProgrammedChunks) + " of " + std::to_string(f.Chunks) + ")";
        return std::string(f.Stopped ? "write stopped: " : "write ended early: ") + held +
               " and is not usable until it is written again";
    }
    return "";
}

std::string RefusalText(const AppState& s) {
    const RefusalFindings& r = s.Findings.Refusal;
    if (r.ImageBytes >= 0)
        return "the image is " + Bytes(r.ImageBytes) + ", the cart holds " + Bytes(r.CartBytes);
    if (r.NeededBytes >= 0) {
        std::string why = "the list needs " + Bytes(r.NeededBytes) + ", the cart has " + Bytes(r.SpaceBytes);
        if (r.LayoutResult == kLayoutTooManyGba) why += " (too many GBA games for this cart)";
        if (r.LayoutResult == kLayoutNoPlace) why += " (a game finds no place)";
        return why;
    }
    return "";
}

}  // namespace

std::string VerifyPassesText(const AppState& s) {
    int passes = -1;
    for (const ImageFindings& f : s.Findings.Images)
        if (f.VerifyPasses > passes) passes = f.VerifyPasses;
    const std::string each = s.Findings.Images.size() > 1 ? " over each image" : "";
    switch (passes) {
        case -1:
            return "";
        case 0:
            return "none (\"Verify\" is off)";
        case 1:
            return "1 pass" + each;
        default:
            return std::to_string(passes) + " passes" + each +
                   " (each chunk read back after programming, then the whole image again)";
    }
}

std::vector<std::string> FailureFindingLines(const AppState& s) {
    std::vector<std::string> lines;
    const ChunkMismatch& m = s.FirstMismatch;
    // Only a write or verify compares the cart with a file (a backup's second
    // read is compared too, with the first).
    if (m.Chunk >= 0 && !s.Findings.Images.empty()) {
        const unsigned long long address =
            static_cast<unsigned long long>(m.Chunk) * kChunkBytes + 2ull * m.Word;
        std::string line = "verify: cart chunk " + std::to_string(m.Chunk) +
                           " differs from the file, first at cart address " + Hex(address, 7);
        if (const ImageFindings* f = ImageAt(s, m.Chunk))
            line +=
                " (image offset " +
                Hex(static_cast<unsigned long long>(m.Chunk - f->StartChunk) * kChunkBytes + 2ull * m.Word,
                    7) +
                ")";
        line += ": cart " + Hex(m.CartWord, 4) + ", file " + Hex(m.FileWord, 4) + "; " +
                std::to_string(m.DifferingWords) + " of " + std::to_string(kChunkBytes / 2) +
                " words differ in that chunk";
        lines.push_back(line);
    }
    return lines;
}

std::string FailureLine(const AppState& s, const std::string& status, const std::string& lastLogLine) {
    const std::string partial = PartialImageText(s);
    const std::string refusal = RefusalText(s);
    std::string line = status.empty() ? lastLogLine : status;
    for (const std::string* more : {&partial, &refusal}) {
        if (more->empty()) continue;
        line += (line.empty() ? "" : ": ") + *more;
    }
    return line;
}

std::string HeaderRepairText(const AppState& s, std::int32_t chunk, const DigestText& sent) {
    const bool multi = s.GameList.size() > 1 || s.GbRowCount > 0;
    const ImageFindings* f = nullptr;
    for (const ImageFindings& i : s.Findings.Images)
        if (i.StartChunk == chunk) f = &i;
    if (f == nullptr || !f->HeaderRepaired) return "";
    std::string path;
    if (!multi) {
        if (!s.GameList.empty()) path = JoinPath(s.GameList[0].DirectoryPath, s.GameList[0].Name);
    } else if (chunk >= 0 && chunk < static_cast<std::int32_t>(s.ChunkMap.size())) {
        const std::uint8_t v = s.ChunkMap[static_cast<std::size_t>(chunk)];
        if (v == ChunkGbaLoader)
            path = s.Config.GbaLoaderFile.str();
        else if (v == ChunkGbLoader)
            path = s.Config.GbLoaderFile.str();
        else if (v < s.GameList.size())
            path = JoinPath(s.GameList[v].DirectoryPath, s.GameList[v].Name);
    }
    std::string error;
    const auto file = path.empty() ? std::nullopt : FileDigest(path, -1, error);
    const std::string fileSum =
        file ? file->crc32 + " (" + std::to_string(file->bytes) + " bytes)" : std::string("unknown");
    return "repaired (Fix Data): file CRC32 " + fileSum + ", sent CRC32 " + sent.crc32 + " (" +
           std::to_string(sent.bytes) + " bytes)";
}

}  // namespace rombolt::cli

namespace rombolt::cli {

void ReportFindings(std::FILE* f, const AppState& s) {
    if (const std::string v = VerifyPassesText(s); !v.empty()) std::fprintf(f, "verify: %s\n", v.c_str());
    for (const std::string& l : FailureFindingLines(s)) std::fprintf(f, "%s\n", l.c_str());
    if (const std::string p = PartialImageText(s); !p.empty()) std::fprintf(f, "cart: %s\n", p.c_str());
    if (const std::string r = RefusalText(s); !r.empty()) std::fprintf(f, "refused: %s\n", r.c_str());
}

}  // namespace rombolt::cli
