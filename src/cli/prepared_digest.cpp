#include "cli/prepared_digest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/app_state.h"
#include "image/ips.h"

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
