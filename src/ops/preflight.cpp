#include "ops/preflight.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "core/operation.h"
#include "ops/chunk_file.h"
#include "ops/game_rows.h"
#include "ops/layout.h"
#include "ops/loaders.h"

namespace rombolt {

namespace {

bool Refuse(OpsState& s, const std::string& line, const std::string& path, const std::string& why) {
    CloseCurrentFile(s);
    LogLine(s, line + "(" + path + ": " + why + ")");
    return false;
}

bool ChunkIsPadding(const OpsState& s) {
    const std::uint8_t first = s.ChunkBuffer.bytes[0];
    if (first != 0x00 && first != 0xFF) return false;
    for (std::int32_t i = 1; i < kChunkBytes; ++i)
        if (s.ChunkBuffer.bytes[i] != first) return false;
    return true;
}

bool LoaderUsable(OpsState& s, const std::string& path) {
    struct stat st {};
    // A path that opens nothing, or a folder, means the built-in loader.
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return true;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return true;
    std::fclose(f);
    if (!S_ISREG(st.st_mode)) return Refuse(s, "Multi-Boot Files Size Error!!!", path, "not a plain file");
    if (st.st_size != kLoaderSize)
        return Refuse(
            s, "Multi-Boot Files Size Error!!!", path,
            std::to_string(st.st_size) + " bytes, a loader file holds " + std::to_string(kLoaderSize));
    return true;
}

bool GameUsable(OpsState& s, int row) {
    const GameRow& game = s.GameList[static_cast<std::size_t>(row)];
    const std::string path = JoinPath(game.DirectoryPath, game.Name);
    const std::optional<std::int32_t> listed = ParseRowSize(game.Size);
    if (!listed) return Refuse(s, "File Size Error!!!", path, "the list gives no size");
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Refuse(s, "File Open Error!!!", path, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Refuse(s, "File Open Error!!!", path, "not a plain file");
    CloseCurrentFile(s);
    s.CurrentFile = std::fopen(path.c_str(), "rb");
    if (s.CurrentFile == nullptr) return Refuse(s, "File Open Error!!!", path, std::strerror(errno));
    const long long length = CurrentFileLength(s);
    if (length != *listed)
        return Refuse(s, "File Size Error!!!", path,
                      std::to_string(length) + " bytes, the list says " + game.Size);
    const std::int32_t head = *listed < kChunkBytes ? *listed : kChunkBytes;
    if (std::fread(s.ChunkBuffer.data(), 1, static_cast<std::size_t>(head), s.CurrentFile) !=
        static_cast<std::size_t>(head))
        return Refuse(s, "File Read Error!!!", path, "cannot read its first chunk");
    // The list marked its last chunk as padding when it was saved; the file
    // may have changed since. Only a chunk that still is padding is left out.
    const std::int64_t whole =
        (static_cast<std::int64_t>(*listed) + kChunkBytes - 1) / kChunkBytes * kChunkBytes;
    if (s.RowSizes[static_cast<std::size_t>(row)] < whole && *listed % kChunkBytes == 0 &&
        *listed > kChunkBytes) {
        const bool read = fseeko(s.CurrentFile, static_cast<off_t>(*listed - kChunkBytes), SEEK_SET) == 0 &&
                          std::fread(s.ChunkBuffer.data(), 1, kChunkBytes, s.CurrentFile) == kChunkBytes;
        if (!read) return Refuse(s, "File Read Error!!!", path, "cannot read its last chunk");
        if (!ChunkIsPadding(s))
            return Refuse(s, "File Data Error!!!", path,
                          "its last 32 KiB are data, not the padding \"" + game.GType +
                              "\" says; Cut 32K would drop them: add the file to the list again");
    }
    CloseCurrentFile(s);
    return true;
}

}  // namespace

bool MultiGameFilesUsable(OpsState& s) {
    for (const MapItem& item : MapItems(s)) {
        if (item.IsLoader()) {
            const bool gba = item.value == ChunkGbaLoader;
            if (!LoaderUsable(s, gba ? s.Config.GbaLoaderFile.str() : s.Config.GbLoaderFile.str()))
                return false;
        } else if (item.value < s.GameList.size() && !GameUsable(s, item.value)) {
            return false;
        }
    }
    return true;
}

}  // namespace rombolt
