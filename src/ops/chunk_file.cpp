#include "ops/chunk_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "app/operation.h"

namespace rombolt {

namespace {

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Opens path in the given mode as the current file. A file left open by an
// earlier step is closed first, so at most one stream is ever held. A
// directory is no file: fopen would open it for reading, and every read
// would then fail half-way through an operation.
int OpenCurrent(AppState& s, const std::string& path, const char* mode) {
    CloseCurrentFile(s);
    if (!path.empty() && !IsDirectory(path)) s.CurrentFile = std::fopen(path.c_str(), mode);
    if (s.CurrentFile == nullptr) {
        LogLine(s, "File Open Error!!!");
        return -1;
    }
    return 0;
}

// Text for a failed stream transfer. A short read at end of file sets no
// error number, and strerror(0) would read "Success"; name the real reason.
std::string FailureText(std::FILE* f, int err, bool reading) {
    if (err != 0) return std::strerror(err);
    if (reading && f != nullptr && std::feof(f)) return "Unexpected end of file";
    return std::strerror(EIO);
}

bool CountInRange(std::int32_t n) { return n >= 0 && n <= kChunkBytes; }

}  // namespace

int OpenImageForRead(AppState& s) { return OpenCurrent(s, s.CurrentFilePath, "rb"); }

int OpenOutputFile(AppState& s) { return OpenCurrent(s, s.SaveDialogFile, "w+b"); }

bool ReadChunk(AppState& s, std::int32_t n) {
    int err = 0;
    if (s.CurrentFile == nullptr) {
        err = EBADF;
    } else if (!CountInRange(n)) {
        err = EINVAL;
    } else {
        errno = 0;
        const std::size_t got =
            std::fread(s.ChunkBuffer.data(), 1, static_cast<std::size_t>(n), s.CurrentFile);
        if (got == static_cast<std::size_t>(n)) return true;
        err = std::ferror(s.CurrentFile) ? errno : 0;
    }
    LogLine(s, "Read ErrNo=" + FailureText(s.CurrentFile, err, true));
    return false;
}

bool WriteChunk(AppState& s, std::int32_t n) {
    int err = 0;
    if (s.CurrentFile == nullptr) {
        err = EBADF;
    } else if (!CountInRange(n)) {
        err = EINVAL;
    } else {
        errno = 0;
        const std::size_t put =
            std::fwrite(s.ChunkBuffer.data(), 1, static_cast<std::size_t>(n), s.CurrentFile);
        // Flush each chunk so a full disk or a failing device shows up here,
        // on the chunk that hit it, and not silently when the file is closed.
        if (put == static_cast<std::size_t>(n) && std::fflush(s.CurrentFile) == 0) return true;
        err = errno;
    }
    LogLine(s, "Write ErrNo=" + FailureText(s.CurrentFile, err, false));
    return false;
}

void PadChunk(AppState& s, std::int32_t k) {
    if (k < 0) k = 0;
    if (k >= kChunkBytes) return;
    std::memset(s.ChunkBuffer.data() + k, 0xFF, static_cast<std::size_t>(kChunkBytes - k));
}

void CloseCurrentFile(AppState& s) {
    if (s.CurrentFile != nullptr) {
        std::fclose(s.CurrentFile);
        s.CurrentFile = nullptr;
    }
}

long long CurrentFileLength(AppState& s) {
    std::FILE* f = s.CurrentFile;
    if (f == nullptr) return -1;
    const off_t here = ftello(f);
    if (here < 0 || fseeko(f, 0, SEEK_END) != 0) return -1;
    const off_t end = ftello(f);
    fseeko(f, here, SEEK_SET);
    return end;
}

bool CurrentFileHasListedSize(AppState& s, long long listed) {
    const long long length = CurrentFileLength(s);
    if (length == listed) return true;
    LogLine(s, "FileSize = " + std::to_string(length));
    LogLine(s, "File Size Error!!!");
    return false;
}

}  // namespace rombolt
