#include "port/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <vector>

#include "port/direct_io.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define ROMBOLT_HAVE_PORT_PERMISSION 1
#endif

namespace rombolt {

namespace {

// Only there to interrupt: installed without SA_RESTART, so the waiting call
// returns EINTR.
void WakeUp(int) {}

class RawInstructions final : public PortBackend {
public:
    std::uint8_t inb(std::uint16_t port) override { return portinsn::In8(port); }
    void outb(std::uint16_t port, std::uint8_t value) override { portinsn::Out8(port, value); }
    std::uint16_t inw(std::uint16_t port) override { return portinsn::In16(port); }
    void outw(std::uint16_t port, std::uint16_t value) override { portinsn::Out16(port, value); }
};

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

    PortBackend& PortInstructions() override {
        static RawInstructions raw;
        return raw;
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

    bool Stat(const std::string& path, FileStatus& status) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return false;
        status.mode = st.st_mode;
        status.uid = st.st_uid;
        status.gid = st.st_gid;
        return true;
    }

    bool InGroup(unsigned gid) override {
        if (::getegid() == gid || ::getgid() == gid) return true;
        const int n = ::getgroups(0, nullptr);
        if (n <= 0) return false;
        std::vector<gid_t> groups(static_cast<std::size_t>(n));
        const int got = ::getgroups(n, groups.data());
        for (int i = 0; i < got; ++i)
            if (groups[static_cast<std::size_t>(i)] == gid) return true;
        return false;
    }

    int Open(const std::string& path, int flags) override {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }

    int Ioctl(int fd, unsigned long request, void* arg) override {
        return ::ioctl(fd, request, arg) == 0 ? 0 : -errno;
    }

    int IoctlWithin(int fd, unsigned long request, void* arg, unsigned timeoutMs) override {
        return CallWithTimeout(timeoutMs, [&] { return Ioctl(fd, request, arg); });
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

int CallWithTimeout(unsigned timeoutMs, const std::function<int()>& call) {
    struct sigaction action {};
    action.sa_handler = WakeUp;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    if (::sigaction(SIGALRM, &action, &previous) != 0) return call();
    sigset_t alarm, oldMask;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    ::pthread_sigmask(SIG_UNBLOCK, &alarm, &oldMask);

    // The signal goes to this thread, not to any thread of the process.
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGALRM;
#ifdef sigev_notify_thread_id
    event.sigev_notify_thread_id = ::gettid();
#else
    event._sigev_un._tid = ::gettid();  // the C library does not name the field
#endif
    timer_t timer{};
    const bool armed = ::timer_create(CLOCK_MONOTONIC, &event, &timer) == 0;
    if (armed) {
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(timeoutMs / 1000);
        when.it_value.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000L;
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
        when.it_interval.tv_nsec = 100 * 1000000L;
        ::timer_settime(timer, 0, &when, nullptr);
    }
    const int result = call();
    if (armed) ::timer_delete(timer);
    // A signal sent before the timer went has been taken by WakeUp meanwhile.
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGALRM, &previous, nullptr);
    return result;
}

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
