#include "cli_test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "image/header.h"

namespace rombolt::clitest {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "rombolt_cli_XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

namespace {
void Fill(Bytes& b, std::uint32_t seed) {
    std::uint32_t x = seed * 2654435761u + 12345;
    for (auto& v : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = static_cast<std::uint8_t>(x);
    }
}
}  // namespace

Bytes MakeGbaImage(std::size_t size, const std::string& title, std::uint32_t seed) {
    Bytes b(size);
    Fill(b, seed);
    std::memcpy(b.data() + 4, kGbaLogo.data(), kGbaLogo.size());
    std::memset(b.data() + 0xA0, 0, 12);
    std::memcpy(b.data() + 0xA0, title.data(), std::min<std::size_t>(12, title.size()));
    b[0xB2] = 0x96;
    unsigned sum = 0x19;
    for (int i = 0xA0; i <= 0xBC; ++i) sum += b[i];
    b[0xBD] = static_cast<std::uint8_t>(256 - (sum & 0xFF));
    return b;
}

Bytes MakeGbImage(std::size_t size, const std::string& title, std::uint8_t colourFlag, std::uint32_t seed) {
    Bytes b(size);
    Fill(b, seed);
    std::memcpy(b.data() + 0x104, kGbLogo.data(), kGbLogo.size());
    std::memset(b.data() + 0x134, 0, 16);
    std::memcpy(b.data() + 0x134, title.data(), std::min<std::size_t>(11, title.size()));
    b[0x143] = colourFlag;
    std::uint8_t x = 0;
    for (int i = 0x134; i <= 0x14C; ++i) x = static_cast<std::uint8_t>(x - b[i] - 1);
    b[0x14D] = x;
    return b;
}

void WriteFile(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> RunResult::lines() const {
    std::vector<std::string> v;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t nl = out.find('\n', start);
        if (nl == std::string::npos) nl = out.size();
        v.push_back(out.substr(start, nl - start));
        start = nl + 1;
    }
    return v;
}

Child::Child(const std::vector<std::string>& args, const std::string& cwd) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        if (chdir(cwd.c_str()) != 0) _exit(127);
        std::vector<char*> argv;
        std::string bin = ROMBOLT_BIN;
        argv.push_back(bin.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
}

Child::~Child() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait();
    }
}

bool Child::ReadLine(std::string& line) {
    for (;;) {
        std::size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            line = pending_.substr(0, nl);
            result_.out += pending_.substr(0, nl + 1);
            pending_.erase(0, nl + 1);
            return true;
        }
        if (outFd_ < 0) return false;
        // Keep stderr drained so the child never blocks on it.
        pollfd p[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        int n = poll(p, errFd_ >= 0 ? 2 : 1, -1);
        if (n < 0) continue;
        char buf[4096];
        if (errFd_ >= 0 && (p[1].revents & (POLLIN | POLLHUP))) {
            ssize_t r = read(errFd_, buf, sizeof buf);
            if (r <= 0) {
                close(errFd_);
                errFd_ = -1;
            } else {
                result_.err.append(buf, static_cast<std::size_t>(r));
            }
        }
        if (p[0].revents & (POLLIN | POLLHUP)) {
            ssize_t r = read(outFd_, buf, sizeof buf);
            if (r <= 0) {
                close(outFd_);
                outFd_ = -1;
            } else {
                pending_.append(buf, static_cast<std::size_t>(r));
            }
        }
    }
}

void Child::CloseOutput() {
    if (outFd_ >= 0) close(outFd_);
    outFd_ = -1;
    pending_.clear();
}

void Child::Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
}

RunResult Child::Wait() {
    std::string line;
    while (ReadLine(line)) {
    }
    result_.out += pending_;
    pending_.clear();
    char buf[4096];
    while (errFd_ >= 0) {
        ssize_t r = read(errFd_, buf, sizeof buf);
        if (r <= 0) {
            close(errFd_);
            errFd_ = -1;
        } else {
            result_.err.append(buf, static_cast<std::size_t>(r));
        }
    }
    if (pid_ > 0) {
        int st = 0;
        while (waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
        }
        result_.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        pid_ = -1;
    }
    return result_;
}

RunResult Rombolt(const std::vector<std::string>& args, const std::string& cwd) {
    Child c(args, cwd);
    return c.Wait();
}

}  // namespace rombolt::clitest
