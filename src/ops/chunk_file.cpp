#include "ops/chunk_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "core/operation.h"

namespace rombolt {

namespace {

// Whether path may be opened in `mode`. Images and save files are read only
// from plain files: fopen opens a directory for reading, and every read then
// fails half-way through an operation; a pipe with no writer would never
// return. Output may also go to a device.
bool Openable(const std::string& path, const char* mode) {
    if (path.empty()) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return true;  // let fopen say why
    return mode[0] == 'r' ? S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode);
}

// Opens path in the given mode as the current file. A file left open by an
// earlier step is closed first, so at most one stream is ever held.
int OpenCurrent(OpsState& s, const std::string& path, const char* mode) {
    CloseCurrentFile(s);
    if (Openable(path, mode)) s.CurrentFile = std::fopen(path.c_str(), mode);
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

int OpenImageForRead(OpsState& s) { return OpenCurrent(s, s.CurrentFilePath, "rb"); }

bool ChooseBackupFile(OpsState& s, const char* cancelText) {
    std::optional<std::string> file = s.UI->ChooseFile(FileDialog::SaveFile);
    if (!file) {
        LogLine(s, cancelText);
        return false;
    }
    s.SaveDialogFile = *file;
    ResetProgress(s);
    LogLine(s, "FileName = " + *file);
    return true;
}

int OpenOutputFile(OpsState& s) {
    CloseCurrentFile(s);
    const std::string& path = s.SaveDialogFile;
    struct stat st {};
    // Only a plain file of one name is replaced this way; a link, a device or
    // a file with other names is written in place, as it would be anyway.
    if (!path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
        std::string temp = path + ".XXXXXX";
        const int fd = ::mkstemp(temp.data());
        if (fd >= 0) {
            ::fchmod(fd, st.st_mode & 07777);
            s.CurrentFile = ::fdopen(fd, "w+b");
            if (s.CurrentFile != nullptr) {
                s.OutputTempPath = temp;
                return 0;
            }
            ::close(fd);
            ::unlink(temp.c_str());
        }
        // No file can be made beside it: write in place.
    }
    return OpenCurrent(s, path, "w+b");
}

bool FinishOutputFile(OpsState& s) {
    int err = s.CurrentFile == nullptr ? EBADF : 0;
    if (s.CurrentFile != nullptr) {
        if (std::fflush(s.CurrentFile) != 0) err = errno;
        if (std::fclose(s.CurrentFile) != 0 && err == 0) err = errno;
        s.CurrentFile = nullptr;
    }
    if (!s.OutputTempPath.empty()) {
        const std::string temp = std::exchange(s.OutputTempPath, {});
        const std::string target = temp.substr(0, temp.size() - 7);  // without ".XXXXXX"
        if (err == 0 && std::rename(temp.c_str(), target.c_str()) != 0) err = errno;
        if (err != 0) ::unlink(temp.c_str());
    }
    if (err == 0) return true;
    LogLine(s, "Write ErrNo=" + std::string(std::strerror(err)));
    return false;
}

void AbandonOutputFile(OpsState& s) {
    if (s.CurrentFile != nullptr) {
        std::fclose(s.CurrentFile);
        s.CurrentFile = nullptr;
    }
    if (!s.OutputTempPath.empty()) ::unlink(std::exchange(s.OutputTempPath, {}).c_str());
}

bool ReadChunk(OpsState& s, std::int32_t n) {
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

bool WriteChunk(OpsState& s, std::int32_t n) {
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

void PadChunk(OpsState& s, std::int32_t k) {
    if (k < 0) k = 0;
    if (k >= kChunkBytes) return;
    std::memset(s.ChunkBuffer.data() + k, 0xFF, static_cast<std::size_t>(kChunkBytes - k));
}

void CloseCurrentFile(OpsState& s) {
    if (!s.OutputTempPath.empty()) {
        const std::string temp = std::exchange(s.OutputTempPath, {});
        const bool closed = s.CurrentFile == nullptr || std::fclose(s.CurrentFile) == 0;
        s.CurrentFile = nullptr;
        if (!closed || std::rename(temp.c_str(), temp.substr(0, temp.size() - 7).c_str()) != 0)
            ::unlink(temp.c_str());
        return;
    }
    if (s.CurrentFile != nullptr) {
        std::fclose(s.CurrentFile);
        s.CurrentFile = nullptr;
    }
}

long long CurrentFileLength(OpsState& s) {
    std::FILE* f = s.CurrentFile;
    if (f == nullptr) return -1;
    const off_t here = ftello(f);
    if (here < 0 || fseeko(f, 0, SEEK_END) != 0) return -1;
    const off_t end = ftello(f);
    fseeko(f, here, SEEK_SET);
    return end;
}

bool CurrentFileHasListedSize(OpsState& s, long long listed) {
    const long long length = CurrentFileLength(s);
    if (length == listed) return true;
    LogLine(s, "FileSize = " + std::to_string(length));
    LogLine(s, "File Size Error!!!");
    return false;
}

}  // namespace rombolt
