#include "cli/header_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/visible_text.h"
#include "image/header.h"

namespace rombolt::cli {

namespace {

std::string Title(const std::uint8_t* p, int n) {
    std::string t;
    for (int i = 0; i < n; ++i) {
        char c = static_cast<char>(p[i] & 0x7F);
        if (c == 0) break;
        t += c;
    }
    return t;
}

std::string Byte(std::uint8_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02x", v);
    return buf;
}

}  // namespace

bool HeaderReport::Good() const {
    if (!readable) return false;
    if (type == Type::Gba) return logoOk && complementOk;
    return checksumOk;
}

HeaderReport AnalyzeHeader(const std::uint8_t* b, long long size) {
    HeaderReport h;
    h.readable = true;
    h.size = size;
    if (std::memcmp(b + 0x104, kGbLogo.data(), kGbLogo.size()) == 0) {
        h.type = b[0x143] == 0x80 ? HeaderReport::Type::Gbc : HeaderReport::Type::Gb;
        h.logoOk = true;
        h.title = Title(b + 0x134, 16);
        const std::uint8_t x = GbHeaderChecksum(b);
        h.expectedChecksum = x;
        h.checksum = b[0x14D];
        h.checksumOk = x == b[0x14D];
        return h;
    }
    h.type = HeaderReport::Type::Gba;
    h.logoOk = std::memcmp(b + 0x04, kGbaLogo.data(), kGbaLogo.size()) == 0;
    h.title = Title(b + 0xA0, 12);
    unsigned sum = 0x19;
    for (int i = 0xA0; i <= 0xBC; ++i) sum += b[i];
    h.expectedComplement = static_cast<std::uint8_t>(256 - (sum & 0xFF));
    h.complement = b[0xBD];
    h.complementOk = h.complement == h.expectedComplement;
    h.fixedByte = b[0xB2];
    return h;
}

HeaderReport ReadHeaderReport(const std::string& path) {
    HeaderReport h;
    // Opened without waiting, and read only when it is a plain file: a pipe
    // with no writer would never answer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        h.error = std::strerror(errno);
        return h;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        h.error = "not a plain file";
        return h;
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        h.error = std::strerror(errno);
        ::close(fd);
        return h;
    }
    std::uint8_t buf[512];
    std::memset(buf, 0xFF, sizeof buf);
    std::size_t got = std::fread(buf, 1, sizeof buf, f);
    bool bad = std::ferror(f) != 0;
    long long size = -1;
    if (!bad && std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    std::fclose(f);
    if (bad || size < 0) {
        h.error = bad ? std::strerror(errno) : "cannot tell its length";
        return h;
    }
    (void)got;
    return AnalyzeHeader(buf, size);
}

std::string FormatHeaderReport(const std::string& name, const HeaderReport& h) {
    if (!h.readable) return VisibleText(name) + ": cannot be read (" + h.error + ")";
    std::string line = VisibleText(name) + ": ";
    switch (h.type) {
        case HeaderReport::Type::Gba:
            line += "GBA";
            break;
        case HeaderReport::Type::Gb:
            line += "GB";
            break;
        case HeaderReport::Type::Gbc:
            line += "GBC";
            break;
    }
    line += " \"" + VisibleText(h.title) + "\"";
    if (h.type == HeaderReport::Type::Gba) {
        line += h.logoOk ? ", logo ok" : ", logo wrong";
        if (h.complementOk)
            line += ", complement ok (" + Byte(h.complement) + ")";
        else
            line += ", complement wrong (" + Byte(h.complement) + ", should be " +
                    Byte(h.expectedComplement) + ")";
        if (h.fixedByte != 0x96) line += ", fixed byte " + Byte(h.fixedByte) + " (should be 0x96)";
    } else {
        line += ", logo ok";
        if (h.checksumOk)
            line += ", header checksum ok (" + Byte(h.checksum) + ")";
        else
            line += ", header checksum wrong (" + Byte(h.checksum) + ", should be " +
                    Byte(h.expectedChecksum) + ")";
    }
    if (h.size < 0x150) line += ", only " + std::to_string(h.size) + " bytes";
    return line;
}

}  // namespace rombolt::cli
