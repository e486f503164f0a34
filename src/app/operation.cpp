#include "app/operation.h"

#include "link/cartbus.h"
#include "link/detect.h"

namespace rombolt {

void LogLine(AppState& s, std::string_view text) { s.UI->LogLine(text); }

void SetPanelText(AppState& s, int index, std::string_view text) { s.UI->SetPanelText(index, text); }

void ResetProgress(AppState& s) {
    s.ProgressPercent = 0;
    s.UI->ShowProgress(0);
    SetPanelText(s, 1, "");
    SetPanelText(s, 3, "");
}

void ShowProgress(AppState& s) { s.UI->ShowProgress(s.ProgressPercent); }

std::uint8_t PercentOf(long long done, long long total) {
    if (total <= 0) return 0;
    double p = static_cast<double>(done) * 100.0 / static_cast<double>(total);
    if (p < 0) return 0;
    if (p > 100) return 100;
    return static_cast<std::uint8_t>(p);  // truncation toward zero
}

void ProcessMessages(AppState& s) { s.UI->ProcessMessages(); }

void BeginOperation(AppState& s) {
    s.StopRequested = 0;
    s.UI->SetBusy(true);
    s.ElapsedSeconds = 0;
    SetPanelText(s, 3, "0 Sec");
    ProcessMessages(s);
}

void EndOperation(AppState& s) {
    s.StopRequested = 1;
    s.UI->SetBusy(false);
    ProcessMessages(s);
    IdlePort(s);
    // A failed access not reported yet (the step that failed had its own
    // message) is named before the operation's time line.
    ReportPortFailure(s);
}

void ReportCompleted(AppState& s, std::string_view status) {
    SetStatusText(s, status);
    s.ProgressPercent = 100;
    ShowProgress(s);
    ProcessMessages(s);
}

void LogElapsedTime(AppState& s) { LogLine(s, "Time = " + std::to_string(s.ElapsedSeconds) + " Sec"); }

void ReportStop(AppState& s) {
    LogLine(s, "Stop process !!!");
    EndOperation(s);
}

void TimerTick(AppState& s) {
    s.ElapsedSeconds += 1;
    SetPanelText(s, 3, std::to_string(s.ElapsedSeconds) + " Sec");
    ProcessMessages(s);
}

void BeginLogSection(AppState& s) {
    if (s.FirstOperation) {
        s.FirstOperation = 0;
    } else {
        LogLine(s, "");
    }
}

}  // namespace rombolt
