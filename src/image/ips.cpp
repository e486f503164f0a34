#include "image/ips.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "core/operation.h"

namespace rombolt {

namespace {

constexpr std::uint32_t kIpsMinLength = 14;  // "PATCH", one 1-byte record, "EOF"
constexpr std::uint32_t kIpsMaxLength = kChunkBytes;
constexpr int kIpsMaxRecords = 1024;  // table size; a full table is rejected

}  // namespace

int LoadIpsPatch(ImageState& s, std::string* why) {
    s.RecordCount = 0;
    auto refuse = [why](std::string reason) {
        if (why) *why = std::move(reason);
        return -1;
    };
    // Opened without waiting: a pipe named like a patch must not hold the
    // operation up; only a plain file is read.
    const int fd = ::open(s.IpsFileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return refuse(std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse("not a plain file");
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        return refuse(std::strerror(errno));
    }
    if (st.st_size > static_cast<off_t>(kIpsMaxLength) || st.st_size < static_cast<off_t>(kIpsMinLength)) {
        LogLine(s, "***** Ips Size Error *****");
        std::fclose(f);
        return refuse(std::to_string(st.st_size) + " bytes, not 14 to 32768");
    }
    const auto length = static_cast<std::uint32_t>(st.st_size);
    std::size_t got = std::fread(s.PatchBuffer.data(), 1, length, f);
    std::fclose(f);
    if (got != length) return refuse("read failed");

    // The table below belongs to this buffer from here on; a rejected patch
    // leaves nothing that a later pass could apply.
    s.PatchLength = length;

    const std::uint8_t* p = s.PatchBuffer.data();
    if (std::memcmp(p, "PATCH", 5) != 0 || std::memcmp(p + length - 3, "EOF", 3) != 0)
        return refuse("no PATCH or EOF");

    if (ParseIpsRecords(s) != 0) {
        LogLine(s, "***** Ips Data Error *****");
        return refuse("bad records");
    }
    LogLine(s, "-->Ips Applied<--");
    return 0;
}

int ParseIpsRecords(ImageState& s) {
    const std::uint32_t length = s.PatchLength;
    s.RecordCount = 0;
    // Nothing sensible was loaded: refuse instead of walking outside the buffer.
    if (length < kIpsMinLength || length > kIpsMaxLength) return -1;

    const std::uint8_t* p = s.PatchBuffer.data();
    std::uint32_t remaining = length - 5;
    std::uint32_t position = 5;
    int count = 0;
    bool ended = false;
    for (int i = 0; i < kIpsMaxRecords; ++i) {
        if (remaining <= 8) {
            count = i;
            ended = true;
            break;
        }
        // remaining > 8, so the 5-byte record head lies inside the file.
        IpsRecord& r = s.IpsRecords[i];
        r.DataPosition = static_cast<std::uint16_t>(position + 5);
        r.TargetOffset = (std::uint32_t{p[position]} << 16) | (std::uint32_t{p[position + 1]} << 8) |
                         std::uint32_t{p[position + 2]};
        std::uint32_t len = (std::uint32_t{p[position + 3]} << 8) | std::uint32_t{p[position + 4]};
        r.RemainingLength = static_cast<std::uint16_t>(len);
        // Zero-length (run-length) records are not supported, and a record
        // must leave room for the "EOF" behind it.
        if (len == 0 || len > remaining - 8) {
            s.RecordCount = 0;
            return -1;
        }
        position += len + 5;
        remaining -= len + 5;
    }
    if (!ended || remaining > 8 || count == 0) {
        s.RecordCount = 0;
        return -1;
    }
    s.RecordCount = static_cast<std::uint16_t>(count);
    return 0;
}

void ApplyIpsToChunk(ImageState& s, std::int32_t chunkIndex) {
    for (int i = 0; i < s.RecordCount; ++i) {
        const IpsRecord& r = s.IpsRecords[i];
        // A record may run on past 16 MiB; its target offset goes with it.
        if (r.RemainingLength != 0 && static_cast<std::int64_t>(r.TargetOffset >> 15) == chunkIndex)
            ApplyIpsRecord(s, i);
    }
}

void ApplyIpsRecord(ImageState& s, int index) {
    if (index < 0 || index >= s.RecordCount) return;
    IpsRecord& r = s.IpsRecords[index];
    while (r.RemainingLength != 0) {
        // Data positions were checked against the patch length by the parser;
        // the guard keeps a hand-edited table from reading past the buffer.
        if (r.DataPosition >= s.PatchBuffer.size()) {
            r.RemainingLength = 0;
            break;
        }
        s.ChunkBuffer.bytes[r.TargetOffset & 0x7FFF] = s.PatchBuffer[r.DataPosition];
        --r.RemainingLength;
        ++r.DataPosition;
        ++r.TargetOffset;
        // The rest of the record belongs to the next chunk.
        if ((r.TargetOffset & 0x7FFF) == 0) break;
    }
}

std::int64_t IpsPatchedSize(const ImageState& s, std::int64_t size) {
    std::int64_t end = size;
    // Applying a record moves its target on as its length counts down, so
    // their sum stays the end of the record.
    for (int i = 0; i < s.RecordCount; ++i) {
        const IpsRecord& r = s.IpsRecords[i];
        end = std::max(end, std::int64_t{r.TargetOffset} + r.RemainingLength);
    }
    return end;
}

}  // namespace rombolt
