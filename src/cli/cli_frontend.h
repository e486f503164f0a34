// The terminal front end: log lines on standard output, status and progress on
// standard error (only on a terminal), dialogs answered from the command line,
// Ctrl-C as the Stop button, and a real elapsed-time clock.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "core/frontend.h"

namespace rombolt::cli {

// Ctrl-C presses (and SIGQUIT, SIGTERM, SIGHUP) since start (set by the signal handler).
extern volatile std::sig_atomic_t g_interrupts;
// First Ctrl-C, Ctrl-\, SIGTERM or SIGHUP: Stop; second: the program ends at
// once with status 1, after RunExitCleanup (port mode register, temporary
// files). A closed standard output no longer ends the program (SIGPIPE
// ignored), nor does a file size limit (SIGXFSZ ignored: the write fails).
void InstallInterruptHandler();

class CliFrontend final : public Frontend {
public:
    struct Answers {
        std::optional<std::string> openFile;  // OpenDialog1
        std::optional<std::string> saveFile;  // SaveDialog1
        std::optional<std::string> ipsFile;   // OpenDialog3
        std::optional<int> cartSizeChunks;    // TFormCartSize; default: the preselected item
        SaverChoice saver;                    // TFormSaverSize; size -1: the size found
        bool saveBackup = false;              // the dialog chooses what a save backup reads
        bool yes = false;                     // confirmations
    };

    // progress: draw status texts and the progress bar on stderr.
    // logToStderr: log lines go to stderr (commands whose stdout is a report).
    CliFrontend(AppState& s, Answers answers, bool progress, bool logToStderr = false);
    ~CliFrontend() override;

    void LogLine(std::string_view text) override;
    void SetPanelText(int index, std::string_view text) override;
    void ShowProgress(int percent) override;
    void ProcessMessages() override;
    void SetBusy(bool busy) override;
    void PauseTimer(bool paused) override;
    bool AskYesNo(std::string_view text, std::string_view caption) override;
    std::optional<std::string> ChooseFile(FileDialog which) override;
    int ChooseCartSize(int preselectedIndex) override;
    SaverChoice ChooseSaverRange() override;
    void ShowCartPicture(int number) override { picture_ = number; }

    // Bytes one pass of the running operation moves (for the speed shown); asked
    // whenever a new pass starts (status text changes or the percentage falls back).
    void SetPassBytes(std::function<long long()> f) { passBytes_ = std::move(f); }

    // What the operation showed (the log and the status texts are shown,
    // never kept: the run's verdict is the operation's OperationResult).
    const std::string& PortMode() const { return portMode_; }
    // The line logged last, to be shown after a failure that set no status.
    const std::string& LastLogLine() const { return lastLine_; }
    int Picture() const { return picture_; }
    int OfferedCartSizeIndex() const { return offeredSizeIndex_; }
    // Wall time of the last busy period, in seconds.
    double BusySeconds() const { return busySeconds_; }
    // Clears the progress line from the terminal, leaving the last status
    // text in its place when showStatus.
    void ClearProgressLine(bool showStatus = true);

private:
    void Draw(bool force);
    double SecondsSince(std::chrono::steady_clock::time_point t) const;
    void UpdateElapsed(std::chrono::steady_clock::time_point now);

    AppState& s_;
    Answers answers_;
    bool progress_;
    bool logToStderr_;

    std::string status_;
    std::string portMode_;
    std::string lastLine_;
    int picture_ = 0;
    int offeredSizeIndex_ = -1;

    // Elapsed time.
    bool busy_ = false;
    std::chrono::steady_clock::time_point busyStart_{};
    std::chrono::steady_clock::duration pausedFor_{};
    bool paused_ = false;
    std::chrono::steady_clock::time_point pauseStart_{};
    double busySeconds_ = 0;
    long long lastTick_ = 0;  // coarse clock at the last pump, in ns

    // Progress display.
    int percent_ = 0;
    std::function<long long()> passBytes_;
    long long passTotal_ = 0;
    std::chrono::steady_clock::time_point passStart_{};
    std::chrono::steady_clock::time_point lastDraw_{};
    bool lineShown_ = false;
};

}  // namespace rombolt::cli
