#include "port/port_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace rombolt {

namespace {

bool WritableDirectory(const char* dir) {
    struct stat st {};
    return dir != nullptr && dir[0] != '\0' && ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(dir, W_OK) == 0;
}

// Opens what the lock is taken on: the directory itself, or the lock file
// (readable by everyone who may take it; a file made by another user still
// locks when opened for reading only).
int OpenLockTarget(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
        ::fchmod(fd, 0666);  // whatever the umask: every user of the port must open it
        return fd;
    }
    if (errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    return fd;
}

}  // namespace

bool PortLock::Acquire(const std::string& path, std::string& why) {
    Release();
    const int fd = OpenLockTarget(path);
    if (fd < 0) {
        why = "cannot take the lock " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        why = err == EWOULDBLOCK ? "in use by " + LockHolder(fd)
                                 : "cannot take the lock " + path + ": " + std::strerror(err);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void PortLock::Release() {
    if (fd_ < 0) return;
    ::close(fd_);  // closing the only descriptor gives the flock back
    fd_ = -1;
}

std::string PortLockPath(int base) {
    char name[48];
    std::snprintf(name, sizeof name, "rombolt-port-0x%x.lock", static_cast<unsigned>(base));
    const char* const dirs[] = {"/run/lock", std::getenv("XDG_RUNTIME_DIR")};
    for (const char* dir : dirs)
        if (WritableDirectory(dir)) return std::string(dir) + "/" + name;
    return std::string("/tmp/") + name;
}

std::string LockHolder(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return "another program";
    // Lines such as "1: FLOCK  ADVISORY  WRITE 1234 fd:01:5678 0 EOF".
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream in(line);
        std::string id, kind, advisory, mode, device;
        long pid = 0;
        if (!(in >> id >> kind) || kind == "->" || kind != "FLOCK") continue;
        if (!(in >> advisory >> mode >> pid >> device)) continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(device.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
        if (major != ::major(st.st_dev) || minor != ::minor(st.st_dev) || inode != st.st_ino) continue;
        std::string program;
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::getline(comm, program);
        if (program.empty()) program = "a program";
        return program + " (pid " + std::to_string(pid) + ")";
    }
    return "another program";
}

}  // namespace rombolt
