#include "cli/cli_frontend.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "app/app_state.h"
#include "core/operation.h"
#include "ops/saver.h"
#include "port/exit_cleanup.h"

namespace rombolt::cli {

volatile std::sig_atomic_t g_interrupts = 0;

namespace {

// Ctrl-C (and Ctrl-\), and a request to end (SIGTERM, as from `kill` or a shutdown; SIGHUP,
// as from a closed terminal): the operation stops at its next stop point,
// with the chips back in read mode and the files closed.
extern "C" void OnInterrupt(int sig) {
    g_interrupts = g_interrupts + 1;
    if (g_interrupts >= 2) {
        static const char msg[] = "\nrombolt: interrupted again, ending at once\n";
        (void)!write(2, msg, sizeof msg - 1);
        // The port's mode register back as it was, no temporary file left.
        RunExitCleanup();
        _exit(1);
    }
    static const char ctrlC[] = "\nrombolt: stopping after the current block (Ctrl-C again to end at once)\n";
    static const char asked[] = "\nrombolt: asked to end: stopping after the current block\n";
    if (sig == SIGINT)
        (void)!write(2, ctrlC, sizeof ctrlC - 1);
    else
        (void)!write(2, asked, sizeof asked - 1);
}

int TerminalWidth() {
    winsize ws{};
    if (ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
    return 80;
}

std::string FormatRate(double bytesPerSecond) {
    char buf[32];
    if (bytesPerSecond >= 1024.0 * 1024.0)
        std::snprintf(buf, sizeof buf, "%.2f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    else
        std::snprintf(buf, sizeof buf, "%.1f KiB/s", bytesPerSecond / 1024.0);
    return buf;
}

std::string FormatDuration(double seconds) {
    long s = std::lround(seconds);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

}  // namespace

void InstallInterruptHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // Ctrl-\ stops like Ctrl-C (no core dump with the chips mid-program).
    sigaction(SIGQUIT, &sa, nullptr);
    // A file size limit is an ordinary write error (EFBIG), not the end.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader that goes away (`rombolt write ... | head -1`) must not kill the
    // program in the middle of a flash command: output then just goes nowhere.
    std::signal(SIGPIPE, SIG_IGN);
}

CliFrontend::CliFrontend(AppState& s, Answers answers, bool progress, bool logToStderr)
    : s_(s), answers_(std::move(answers)), progress_(progress), logToStderr_(logToStderr) {}

CliFrontend::~CliFrontend() { ClearProgressLine(); }

double CliFrontend::SecondsSince(std::chrono::steady_clock::time_point t) const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void CliFrontend::ClearProgressLine(bool showStatus) {
    if (!lineShown_) return;
    std::fputs("\r\033[K", stderr);
    lineShown_ = false;
    if (showStatus && !status_.empty()) std::fprintf(stderr, "%s\n", status_.c_str());
    std::fflush(stderr);
}

void CliFrontend::LogLine(std::string_view text) {
    if (lineShown_) {
        std::fputs("\r\033[K", stderr);
        lineShown_ = false;
    }
    lastLine_.assign(text);
    std::FILE* out = logToStderr_ ? stderr : stdout;
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
    std::fflush(out);
    Draw(true);
}

void CliFrontend::SetPanelText(int index, std::string_view text) {
    if (index == static_cast<int>(Panel::PortMode)) {
        portMode_ = std::string(text);
        return;
    }
    if (index != static_cast<int>(Panel::Status)) return;
    std::string t(text);
    if (t == status_) return;
    status_ = t;
    if (t.empty()) return;
    // A new status starts a new pass of the operation.
    percent_ = 0;
    passStart_ = std::chrono::steady_clock::now();
    passTotal_ = passBytes_ ? passBytes_() : 0;
    Draw(true);
}

void CliFrontend::ShowProgress(int percent) {
    if (percent < percent_) {  // the next item of a multi-game write
        passStart_ = std::chrono::steady_clock::now();
        passTotal_ = passBytes_ ? passBytes_() : 0;
    }
    percent_ = percent;
    Draw(percent >= 100);
}

void CliFrontend::UpdateElapsed(std::chrono::steady_clock::time_point now) {
    if (!busy_) return;
    auto paused = pausedFor_ + (paused_ ? now - pauseStart_ : std::chrono::steady_clock::duration{});
    double secs = std::chrono::duration<double>(now - busyStart_ - paused).count();
    s_.ElapsedSeconds = static_cast<std::int32_t>(std::floor(secs < 0 ? 0 : secs));
}

void CliFrontend::ProcessMessages() {
    if (g_interrupts > 0) s_.StopRequested = 1;
    // A write pumps after every buffer program, a million times for a large
    // cart: the coarse clock (a few milliseconds) is plenty for whole seconds.
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    const long long tick = static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
    if (tick != lastTick_) {
        lastTick_ = tick;
        UpdateElapsed(std::chrono::steady_clock::time_point(std::chrono::nanoseconds(tick)));
    }
    Draw(false);
}

void CliFrontend::SetBusy(bool busy) {
    if (busy) {
        busy_ = true;
        paused_ = false;
        pausedFor_ = {};
        busyStart_ = std::chrono::steady_clock::now();
        return;
    }
    if (!busy_) return;  // EndOperation may run twice
    UpdateElapsed(std::chrono::steady_clock::now());
    busySeconds_ = SecondsSince(busyStart_);
    busy_ = false;
}

void CliFrontend::PauseTimer(bool paused) {
    auto now = std::chrono::steady_clock::now();
    if (paused && !paused_) {
        paused_ = true;
        pauseStart_ = now;
    } else if (!paused && paused_) {
        paused_ = false;
        pausedFor_ += now - pauseStart_;
    }
}

void CliFrontend::Draw(bool force) {
    if (!progress_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && lineShown_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    if (status_.empty()) return;

    std::string line = status_;
    if (busy_) {
        constexpr int kBar = 24;
        int filled = percent_ * kBar / 100;
        line += " [" + std::string(filled, '#') + std::string(kBar - filled, '.') + "] ";
        char pct[8];
        std::snprintf(pct, sizeof pct, "%3d%%", percent_);
        line += pct;
        double secs = SecondsSince(passStart_);
        if (percent_ > 0 && secs > 0.2) {
            if (passTotal_ > 0) line += "  " + FormatRate(passTotal_ * (percent_ / 100.0) / secs);
            if (percent_ < 100) line += "  " + FormatDuration(secs * (100 - percent_) / percent_) + " left";
        }
        line += "  " + std::to_string(s_.ElapsedSeconds) + " Sec";
    }
    int width = TerminalWidth() - 1;
    if (static_cast<int>(line.size()) > width) line.resize(width);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    lineShown_ = true;
}

bool CliFrontend::AskYesNo(std::string_view text, std::string_view caption) {
    (void)caption;
    if (answers_.yes) return true;
    if (!isatty(0) || !isatty(2)) {
        std::fprintf(stderr, "rombolt: %.*s -- not asked without a terminal; give --yes to confirm\n",
                     static_cast<int>(text.size()), text.data());
        return false;
    }
    if (lineShown_) {
        std::fputs("\r\033[K", stderr);
        lineShown_ = false;
    }
    std::fprintf(stderr, "%.*s [y/N] ", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
    std::string answer;
    for (;;) {
        if (g_interrupts > 0) {
            std::fputc('\n', stderr);
            return false;
        }
        pollfd p{0, POLLIN, 0};
        int r = poll(&p, 1, 200);
        if (r < 0 && errno != EINTR) return false;
        if (r <= 0) continue;
        char c;
        ssize_t n = read(0, &c, 1);
        if (n <= 0) return false;
        if (c == '\n') break;
        answer += c;
    }
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

std::optional<std::string> CliFrontend::ChooseFile(FileDialog which) {
    switch (which) {
        case FileDialog::OpenFile:
            return answers_.openFile;
        case FileDialog::SaveFile:
            return answers_.saveFile;
        case FileDialog::IpsFile:
            return answers_.ipsFile;
    }
    return std::nullopt;
}

int CliFrontend::ChooseCartSize(int preselectedIndex) {
    offeredSizeIndex_ = preselectedIndex;
    if (answers_.cartSizeChunks) return *answers_.cartSizeChunks;
    if (preselectedIndex >= 0 && preselectedIndex <= 5) return 32 << preselectedIndex;
    return 0;
}

Frontend::SaverChoice CliFrontend::ChooseSaverRange() {
    SaverChoice c = answers_.saver;
    if (!answers_.saveBackup) return c;
    // Sizes said on stderr: stdout carries the log only.
    if (lineShown_) {
        std::fputs("\r\033[K", stderr);
        lineShown_ = false;
    }
    const int found = s_.FoundSaveSizeIndex;
    if (c.sizeIndex < 0) {
        if (found < 0) {
            std::fprintf(
                stderr,
                "rombolt: the save memory's size cannot be told from its contents (%s); give --size\n",
                found == kSaveSizeUnreadable
                    ? "they do not read the same twice"
                    : "they repeat within 8K, as a blank memory reads the same everywhere");
            return {};
        }
        c.sizeIndex = found;
        std::fprintf(stderr, "rombolt: save memory size found: %s\n", kSaverSizes[found].item);
    } else if (found >= 0 && c.sizeIndex > found) {
        std::fprintf(stderr,
                     "rombolt: warning: the save memory is %s (its contents repeat from there on): the %s "
                     "file will hold %d mirrored copies\n",
                     kSaverSizes[found].item, kSaverSizes[c.sizeIndex].item,
                     kSaverSizes[c.sizeIndex].units / kSaverSizes[found].units);
    }
    return c;
}

}  // namespace rombolt::cli
