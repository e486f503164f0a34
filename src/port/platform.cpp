#include "port/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define ROMBOLT_HAVE_PORT_PERMISSION 1
#endif

namespace rombolt {

namespace {

class LinuxPlatform final : public Platform {
public:
    int IoPerm(unsigned long from, unsigned long count, bool enable) override {
#ifdef ROMBOLT_HAVE_PORT_PERMISSION
        return ioperm(from, count, enable ? 1 : 0) == 0 ? 0 : errno;
#else
        (void)from, (void)count, (void)enable;
        return ENOSYS;
#endif
    }

    int IoPl(int level) override {
#ifdef ROMBOLT_HAVE_PORT_PERMISSION
        return iopl(level) == 0 ? 0 : errno;
#else
        (void)level;
        return ENOSYS;
#endif
    }

    bool ReadFile(const std::string& path, std::string& text) override {
        text.clear();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        char buf[512];
        bool ok = true;
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                text.append(buf, static_cast<std::size_t>(n));
                if (text.size() > 65536) break;  // attributes are tiny; never read a huge file whole
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                ok = false;
                break;
            }
        }
        ::close(fd);
        return ok;
    }

    std::vector<std::string> ListDir(const std::string& path) override {
        std::vector<std::string> names;
        DIR* dir = ::opendir(path.c_str());
        if (!dir) return names;
        while (const dirent* e = ::readdir(dir)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            names.emplace_back(e->d_name);
        }
        ::closedir(dir);
        return names;
    }

    std::string ReadLink(const std::string& path) override {
        char buf[4096];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return {};
        return std::string(buf, static_cast<std::size_t>(n));
    }

    int Open(const std::string& path, int flags) override {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }

    int Ioctl(int fd, unsigned long request, void* arg) override {
        return ::ioctl(fd, request, arg) == 0 ? 0 : -errno;
    }

    long Read(int fd, void* buf, std::size_t count) override {
        const ssize_t n = ::read(fd, buf, count);
        return n >= 0 ? static_cast<long>(n) : -errno;
    }

    long Write(int fd, const void* buf, std::size_t count) override {
        const ssize_t n = ::write(fd, buf, count);
        return n >= 0 ? static_cast<long>(n) : -errno;
    }

    int Close(int fd) override { return ::close(fd) == 0 ? 0 : -errno; }

    void SleepMicroseconds(unsigned microseconds) override {
        timespec ts{static_cast<time_t>(microseconds / 1000000),
                    static_cast<long>(microseconds % 1000000) * 1000};
        while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
};

}  // namespace

Platform& SystemPlatform() {
    static LinuxPlatform platform;
    return platform;
}

std::string ErrnoText(int err) {
    char buf[256];
    // The GNU strerror_r may return a static string instead of filling buf.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return strerror_r(err, buf, sizeof buf);
#else
    if (strerror_r(err, buf, sizeof buf) != 0) return "error " + std::to_string(err);
    return buf;
#endif
}

}  // namespace rombolt
