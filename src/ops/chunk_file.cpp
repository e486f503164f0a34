#include "ops/chunk_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/operation.h"
#include "port/exit_cleanup.h"

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

// "NAME.XXXXXX" for mkstemp, NAME cut short where the whole would be longer
// than the folder allows a name to be.
std::string SideFileName(const std::string& dir, const std::string& name) {
    const long longest = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    const std::size_t room = static_cast<std::size_t>(longest > 7 ? longest : 255) - 7;
    return name.substr(0, room) + ".XXXXXX";
}

void SyncFolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// errno of a failure, or 0. kTargetUntouched: the copy was refused before the
// target was written to (not enough room for it).
constexpr int kTargetUntouched = -1;

// The side file of the output open now, removed should a signal end the
// program at once.
int g_sideFileExitSlot = -1;

void RememberSideFile(const std::string& temp) {
    UnregisterExit(g_sideFileExitSlot);
    g_sideFileExitSlot = RegisterExitUnlink(temp);
}

void ForgetSideFile() {
    UnregisterExit(g_sideFileExitSlot);
    g_sideFileExitSlot = -1;
}

int RenameOver(const std::string& temp, const std::string& target) {
    if (std::rename(temp.c_str(), target.c_str()) != 0) return errno;
    SyncFolderOf(target);
    return 0;
}

// Writes the complete side file over the target's own data (the target keeps
// its inode, owner and links). Room for the new length is reserved first, so
// a full disk refuses the copy before the older data are touched.
int CopyOver(const std::string& temp, const std::string& target) {
    const int in = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    struct stat st {};
    const int out = ::fstat(in, &st) == 0 ? ::open(target.c_str(), O_WRONLY | O_CLOEXEC) : -1;
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return err;
    }
    int err = 0;
    if (::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, st.st_size) != 0 && errno == ENOSPC) err = kTargetUntouched;
    std::vector<char> buffer(1 << 16);
    for (off_t at = 0; err == 0 && at < st.st_size;) {
        const ssize_t got = ::pread(in, buffer.data(), buffer.size(), at);
        if (got <= 0) {
            err = got < 0 ? errno : EIO;
            break;
        }
        for (ssize_t done = 0; err == 0 && done < got;) {
            const ssize_t put =
                ::pwrite(out, buffer.data() + done, static_cast<std::size_t>(got - done), at + done);
            if (put < 0) err = errno;
            done += put < 0 ? 0 : put;
        }
        at += got;
    }
    if (err == 0 && ::ftruncate(out, st.st_size) != 0) err = errno;
    if (err == 0 && ::fsync(out) != 0) err = errno;
    if (::close(out) != 0 && err == 0) err = errno;
    ::close(in);
    return err;
}

// Puts the closed side file of an output in place; closeErr: how closing it
// went. 0 when done; otherwise the errno, with the side file removed unless
// it has become the one whole copy of the data (keptAt then names it).
int PutSideFileInPlace(OpsState& s, int closeErr, std::string& keptAt) {
    const std::string temp = std::exchange(s.OutputTempPath, {});
    const std::string target = std::exchange(s.OutputTargetPath, {});
    const bool copyOver = std::exchange(s.OutputCopyOver, false);
    ForgetSideFile();
    int err = closeErr;
    if (err == 0) err = copyOver ? CopyOver(temp, target) : RenameOver(temp, target);
    if (closeErr == 0 && copyOver && err != 0 && err != kTargetUntouched) {
        keptAt = temp;
        return err;
    }
    if (err != 0 || copyOver) ::unlink(temp.c_str());
    return err == kTargetUntouched ? ENOSPC : err;
}

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

// A backup under a name that is not taken yet: the data go to a side file
// beside it, synced and renamed to the name once complete, so a run that is
// killed or fails never leaves a partial file that looks like a backup.
// The open side file becomes the output: renamed (or copied) over `target`
// once complete, removed on any other end.
static int AdoptSideFile(OpsState& s, const std::string& temp, const std::string& target, bool copyOver) {
    s.OutputTempPath = temp;
    s.OutputTargetPath = target;
    s.OutputCopyOver = copyOver;
    RememberSideFile(temp);
    return 0;
}

int OpenNewOutputFile(OpsState& s, const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = dir + "/" + SideFileName(dir, name);
    const int fd = ::mkstemp(temp.data());
    if (fd >= 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);  // what creating the file itself would have given it
        s.CurrentFile = ::fdopen(fd, "w+b");
        if (s.CurrentFile == nullptr) {
            ::close(fd);
            ::unlink(temp.c_str());
        }
    }
    if (s.CurrentFile == nullptr) {
        LogLine(s, "File Open Error!!!");
        return -1;
    }
    return AdoptSideFile(s, temp, path, false);
}

static int OpenOutputFileFor(OpsState& s) {
    CloseCurrentFile(s);
    const std::string& path = s.SaveDialogFile;
    struct stat st {};
    if (!path.empty() && path.back() != '/' && ::lstat(path.c_str(), &st) != 0 && errno == ENOENT)
        return OpenNewOutputFile(s, path);
    // A new file (or what a dangling link names), a device: written in place.
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return OpenCurrent(s, path, "w+b");

    std::string target = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

    // A file the user may not write is refused, as opening it would be.
    bool copyOver = false;
    std::string temp = dir + "/" + SideFileName(dir, name);
    int fd = ::access(target.c_str(), W_OK) == 0 ? ::mkstemp(temp.data()) : -2;
    if (fd >= 0) {
        ::fchmod(fd, st.st_mode & 07777);
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only root may give a file away; the side file stays the user's.
        }
    } else if (fd == -1) {
        // No file can be made beside it: a private one in the temporary folder.
        const char* tmp = std::getenv("TMPDIR");
        temp = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/rombolt-backup-XXXXXX";
        fd = ::mkstemp(temp.data());
        copyOver = true;
    }
    if (fd >= 0) s.CurrentFile = ::fdopen(fd, "w+b");
    if (s.CurrentFile == nullptr) {
        if (fd >= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
        }
        LogLine(s, "File Open Error!!!");
        return -1;
    }
    return AdoptSideFile(s, temp, target, copyOver);
}

int OpenOutputFile(OpsState& s) {
    const int r = OpenOutputFileFor(s);
    if (r == 0 && s.SentData) s.SentData->Item(-1);
    return r;
}

bool FinishOutputFile(OpsState& s) {
    int err = s.CurrentFile == nullptr ? EBADF : 0;
    if (s.CurrentFile != nullptr) {
        if (std::fflush(s.CurrentFile) != 0) err = errno;
        if (err == 0 && !s.OutputTempPath.empty() && ::fsync(::fileno(s.CurrentFile)) != 0) err = errno;
        if (std::fclose(s.CurrentFile) != 0 && err == 0) err = errno;
        s.CurrentFile = nullptr;
    }
    if (!s.OutputTempPath.empty()) {
        std::string keptAt;
        err = PutSideFileInPlace(s, err, keptAt);
        if (!keptAt.empty()) {
            // The copy broke off half-way: the older file is spoilt, and the
            // side file is the one whole copy of the backup.
            LogLine(s, "Write ErrNo=" + std::string(std::strerror(err)));
            LogLine(s, "Backup left in " + keptAt);
            return false;
        }
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
    ForgetSideFile();
    s.OutputTargetPath.clear();
    s.OutputCopyOver = false;
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

int NextFileBlock(OpsState& s, std::int32_t i, std::int32_t count, std::int32_t n) {
    if (BlockStopTest(s)) {
        CloseCurrentFile(s);
        return kStopResult;
    }
    s.ProgressPercent = PercentOf(i, count);
    if (!ReadChunk(s, n)) {
        CloseCurrentFile(s);
        return -1;
    }
    return 0;
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
        if (put == static_cast<std::size_t>(n) && std::fflush(s.CurrentFile) == 0) {
            if (s.SentData) s.SentData->Data(s.ChunkBuffer.data(), static_cast<std::size_t>(n));
            return true;
        }
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
        const int err = s.CurrentFile == nullptr || std::fclose(s.CurrentFile) == 0 ? 0 : EIO;
        s.CurrentFile = nullptr;
        std::string keptAt;
        PutSideFileInPlace(s, err, keptAt);
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
