#include "cli/prepared_digest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/app_state.h"
#include "image/header.h"
#include "image/ips.h"
#include "ops/loaders.h"

namespace rombolt::cli {

namespace {

// Collects log lines of a scratch state.
class CollectingFrontend final : public SilentFrontend {
public:
    void LogLine(std::string_view text) override {
        if (!lines.empty()) lines += '\n';
        lines += text;
    }
    std::string lines;
};

struct Scratch {
    CollectingFrontend ui;
    NullPort port;
    std::unique_ptr<AppState> s = std::make_unique<AppState>();
    explicit Scratch(const ConfigRecord& cfg) {
        s->UI = &ui;
        s->Port = &port;
        s->Config = cfg;
    }
};

}  // namespace

std::optional<DigestText> PreparedImageDigest(const ConfigRecord& cfg, const std::string& path,
                                              std::int32_t size, const std::string* ipsFile,
                                              std::string& error) {
    Scratch t(cfg);
    AppState& s = *t.s;
    bool patched = false;
    if (ipsFile && cfg.IpsApply == 1) {
        s.IpsFileName = *ipsFile;
        patched = LoadIpsPatch(s) == 0;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    Digest d;
    // A patch that writes past the file's end lengthens the image.
    const std::int64_t imageSize = patched ? IpsPatchedSize(s, size) : size;
    std::int32_t remaining = size;
    for (std::int32_t i = 0; std::int64_t{i} * kChunkBytes < imageSize; ++i) {
        std::int32_t n = remaining < kChunkBytes ? remaining : kChunkBytes;
        if (std::fread(s.ChunkBuffer.data(), 1, static_cast<std::size_t>(n), f) !=
            static_cast<std::size_t>(n)) {
            error = path + ": shorter than " + std::to_string(size) + " bytes";
            std::fclose(f);
            return std::nullopt;
        }
        FillChunkTail(s, i, n, imageSize);
        remaining -= n;
        if (i == 0) CheckCartHeader(s, 2);
        if (patched) ApplyIpsToChunk(s, i);
        d.Update(s.ChunkBuffer.data(), kChunkBytes);
    }
    std::fclose(f);
    return Finish(d);
}

DigestText PreparedBuiltinLoaderDigest(const ConfigRecord& cfg, bool gba) {
    Scratch t(cfg);
    AppState& s = *t.s;
    const LoaderImage& image = gba ? BuiltinGbaLoader : BuiltinGbLoader;
    std::memcpy(s.ChunkBuffer.data(), image.data(), kLoaderSize);
    CheckCartHeader(s, 2);
    Digest d;
    d.Update(s.ChunkBuffer.data(), kChunkBytes);
    return Finish(d);
}

std::optional<DigestText> FileDigest(const std::string& path, long long maxBytes, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    Digest d;
    std::unique_ptr<std::uint8_t[]> buf(new std::uint8_t[kChunkBytes]);
    long long left = maxBytes;
    for (;;) {
        std::size_t want = kChunkBytes;
        if (maxBytes >= 0 && left < static_cast<long long>(want)) want = static_cast<std::size_t>(left);
        if (want == 0) break;
        std::size_t got = std::fread(buf.get(), 1, want, f);
        d.Update(buf.get(), got);
        if (maxBytes >= 0) left -= static_cast<long long>(got);
        if (got < want) break;
    }
    bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) {
        error = path + ": read error";
        return std::nullopt;
    }
    return Finish(d);
}

bool IpsPatchUsable(const std::string& path, std::string& why) {
    Scratch t(ConfigRecord{});
    t.s->IpsFileName = path;
    return LoadIpsPatch(*t.s, &why) == 0;
}

}  // namespace rombolt::cli
