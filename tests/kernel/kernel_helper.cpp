// Runs inside the test guest of scripts/kernel-test, beside rombolt:
//   kernel_helper hold DEVICE SECONDS   claims DEVICE through ppdev and keeps
//       it for SECONDS or until SIGTERM, making a device call every 20 ms;
//       prints how long the slowest call (the release included) took
//   kernel_helper cost DEVICE COUNT     times COUNT status reads, EPP data
//       reads and EPP address writes through ppdev, each run between two
//       marker writes (0xE8..0xEB) to the data register through /dev/port,
//       so that the port accesses of each run can be counted in QEMU's log
//   kernel_helper direct BASE COUNT     times COUNT status reads with the
//       port instructions (needs root)
// Plain system calls only: it stands for "some other program".
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_stop = 0;
void Stop(int) { g_stop = 1; }

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

int Fail(const char* what) {
    std::fprintf(stderr, "kernel_helper: %s: %s\n", what, std::strerror(errno));
    return 1;
}

// One write of value to the data register at 0x378, as a marker in QEMU's log.
void Mark(unsigned char value) {
    const int fd = open("/dev/port", O_WRONLY);
    if (fd < 0) return;
    if (pwrite(fd, &value, 1, 0x378) != 1) std::fprintf(stderr, "kernel_helper: marker not written\n");
    close(fd);
}

int Hold(const char* device, double seconds) {
    const int fd = open(device, O_RDWR);
    if (fd < 0) return Fail("open");
    if (ioctl(fd, PPCLAIM) != 0) return Fail("PPCLAIM");
    std::printf("holding %s\n", device);
    std::fflush(stdout);
    double worst = 0;
    const auto start = Clock::now();
    std::signal(SIGTERM, Stop);
    while (!g_stop && Since(start) < seconds) {
        unsigned char status = 0;
        const auto t = Clock::now();
        if (ioctl(fd, PPRSTATUS, &status) != 0 && errno != EINTR) return Fail("PPRSTATUS");
        if (Since(t) > worst) worst = Since(t);
        usleep(20000);
    }
    const auto t = Clock::now();
    if (ioctl(fd, PPRELEASE) != 0) return Fail("PPRELEASE");
    if (Since(t) > worst) worst = Since(t);
    close(fd);
    std::printf("slowest call %.0f ms\n", worst * 1000);
    return 0;
}

int Cost(const char* device, int count) {
    const int fd = open(device, O_RDWR | O_NONBLOCK);
    if (fd < 0) return Fail("open");
    if (ioctl(fd, PPCLAIM) != 0) return Fail("PPCLAIM");
    unsigned char byte = 0;
    Mark(0xE8);
    auto t = Clock::now();
    for (int i = 0; i < count; ++i)
        if (ioctl(fd, PPRSTATUS, &byte) != 0) return Fail("PPRSTATUS");
    const double status = Since(t) / count;
    Mark(0xE9);
    int mode = IEEE1284_MODE_EPP;
    if (ioctl(fd, PPSETMODE, &mode) != 0) return Fail("PPSETMODE");
    t = Clock::now();
    for (int i = 0; i < count; ++i)
        if (read(fd, &byte, 1) != 1) return Fail("EPP read");
    const double eppRead = Since(t) / count;
    Mark(0xEA);
    mode = IEEE1284_MODE_EPP | IEEE1284_ADDR;
    if (ioctl(fd, PPSETMODE, &mode) != 0) return Fail("PPSETMODE");
    t = Clock::now();
    for (int i = 0; i < count; ++i)
        if (write(fd, &byte, 1) != 1) return Fail("EPP write");
    const double eppWrite = Since(t) / count;
    Mark(0xEB);
    mode = IEEE1284_MODE_COMPAT;
    ioctl(fd, PPSETMODE, &mode);
    ioctl(fd, PPRELEASE);
    close(fd);
    std::printf("ppdev status read %.2f us, EPP data read %.2f us, EPP address write %.2f us\n", status * 1e6,
                eppRead * 1e6, eppWrite * 1e6);
    return 0;
}

int Direct(int base, int count) {
#if defined(__x86_64__) || defined(__i386__)
    if (ioperm(static_cast<unsigned long>(base), 8, 1) != 0) return Fail("ioperm");
    unsigned sum = 0;
    const auto t = Clock::now();
    for (int i = 0; i < count; ++i) sum += inb(static_cast<unsigned short>(base + 1));
    const double each = Since(t) / count;
    std::printf("direct status read %.2f us (%u)\n", each * 1e6, sum & 1);
    return 0;
#else
    (void)base, (void)count;
    std::fprintf(stderr, "kernel_helper: no port instructions on this processor\n");
    return 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "hold" && argc == 4) return Hold(argv[2], std::atof(argv[3]));
    if (what == "cost" && argc == 4) return Cost(argv[2], std::atoi(argv[3]));
    if (what == "direct" && argc == 4)
        return Direct(static_cast<int>(std::strtol(argv[2], nullptr, 0)), std::atoi(argv[3]));
    std::fprintf(stderr,
                 "usage: kernel_helper hold DEVICE SECONDS | cost DEVICE COUNT | direct BASE COUNT\n");
    return 2;
}
