#include "port/port_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace rombolt {

namespace {

// A port's lock is a name in the kernel's abstract socket namespace: bound by
// one socket at a time across every user of the machine, given back by the
// kernel when the process ends however it ends, and no file that anyone
// could make first, lock up with its permissions, or replace by a link.
constexpr char kAbstractPrefix = '@';

int BindAbstract(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    // sun_path[0] == 0: the abstract namespace; the name follows, unterminated.
    const std::size_t n = std::min(name.size(), sizeof addr.sun_path - 1);
    std::memcpy(addr.sun_path + 1, name.data(), n);
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// "rombolt (pid 1234)" for the process that has bound the abstract name, as
// far as /proc tells (another user's processes only to root).
std::string AbstractHolder(const std::string& name) {
    std::ifstream unixTable("/proc/net/unix");
    std::string line, inode;
    // "Num RefCount Protocol Flags Type St Inode Path"
    while (std::getline(unixTable, line)) {
        std::istringstream in(line);
        std::string f[8];
        for (auto& x : f) in >> x;
        if (f[7] == "@" + name) inode = f[6];
    }
    if (inode.empty()) return "another program";
    const std::string target = "socket:[" + inode + "]";
    if (DIR* proc = ::opendir("/proc")) {
        while (dirent* e = ::readdir(proc)) {
            if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
            const std::string fdDir = std::string("/proc/") + e->d_name + "/fd";
            DIR* fds = ::opendir(fdDir.c_str());
            if (fds == nullptr) continue;
            bool found = false;
            while (dirent* f = ::readdir(fds)) {
                char link[64] = {};
                const std::string p = fdDir + "/" + f->d_name;
                const ssize_t n = ::readlink(p.c_str(), link, sizeof link - 1);
                if (n > 0 && target == std::string(link, static_cast<std::size_t>(n))) found = true;
                if (found) break;
            }
            ::closedir(fds);
            if (!found) continue;
            std::string program;
            std::ifstream comm(std::string("/proc/") + e->d_name + "/comm");
            std::getline(comm, program);
            const std::string pid = e->d_name;
            ::closedir(proc);
            return (program.empty() ? std::string("a program") : program) + " (pid " + pid + ")";
        }
        ::closedir(proc);
    }
    return "another program";
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
    if (!path.empty() && path[0] == kAbstractPrefix) {
        const std::string name = path.substr(1);
        const int fd = BindAbstract(name);
        if (fd >= 0) {
            fd_ = fd;
            return true;
        }
        why = errno == EADDRINUSE ? "in use by " + AbstractHolder(name)
                                  : "cannot take the lock " + path + ": " + std::strerror(errno);
        return false;
    }
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
    std::snprintf(name, sizeof name, "%crombolt-port-0x%x", kAbstractPrefix, static_cast<unsigned>(base));
    return name;
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
