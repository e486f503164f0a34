#include "core/operation.h"

#include "core/visible_text.h"

namespace rombolt {

// Names and titles from files and carts reach the log through here: never
// let one of them carry a control character to the window or a terminal.
void LogLine(CoreState& s, std::string_view text) { s.UI->LogLine(VisibleText(text)); }

void SetPanelText(CoreState& s, Panel panel, std::string_view text) {
    s.UI->SetPanelText(static_cast<int>(panel), text);
}

void SetStatusText(CoreState& s, std::string_view text) {
    if (!text.empty()) s.Result.Status = text;
    SetPanelText(s, Panel::Status, text);
}

void ResetProgress(CoreState& s) {
    s.ProgressPercent = 0;
    s.UI->ShowProgress(0);
    SetPanelText(s, Panel::Status, "");
    SetPanelText(s, Panel::Time, "");
}

void ShowProgress(CoreState& s) { s.UI->ShowProgress(s.ProgressPercent); }

std::uint8_t PercentOf(long long done, long long total) {
    if (total <= 0) return 0;
    double p = static_cast<double>(done) * 100.0 / static_cast<double>(total);
    if (p < 0) return 0;
    if (p > 100) return 100;
    return static_cast<std::uint8_t>(p);  // truncation toward zero
}

void ProcessMessages(CoreState& s) { s.UI->ProcessMessages(); }

void BeginOperation(CoreState& s) {
    s.StopRequested = 0;
    s.UI->SetBusy(true);
    s.ElapsedSeconds = 0;
    SetPanelText(s, Panel::Time, "0 Sec");
    ProcessMessages(s);
}

void EndOperation(CoreState& s) {
    s.StopRequested = 1;
    s.UI->SetBusy(false);
    ProcessMessages(s);
    IdlePort(s);
    // A failed access not reported yet (the step that failed had its own
    // message) is named before the operation's time line.
    ReportPortFailure(s);
}

bool ReportPortFailure(CoreState& s) {
    const std::string failure = s.Port->Failure();
    if (failure.empty()) return false;
    s.Port->ClearFailure();
    s.Result.PortFailed = true;
    LogLine(s, "Port error: " + failure);
    return true;
}

void ReportCompleted(CoreState& s, std::string_view status) {
    SetStatusText(s, status);
    s.ProgressPercent = 100;
    ShowProgress(s);
    ProcessMessages(s);
}

bool StoreCart(CoreState& s) {
    std::string why;
    if (s.Port->Persist(why)) return true;
    LogLine(s, why);
    return false;
}

void LogElapsedTime(CoreState& s) { LogLine(s, "Time = " + std::to_string(s.ElapsedSeconds) + " Sec"); }

void ReportStop(CoreState& s) {
    if (!s.StopLogged) LogLine(s, "Stop process !!!");
    s.StopLogged = 1;
    EndOperation(s);
}

bool BlockStopTest(CoreState& s) {
    ProcessMessages(s);
    if (!s.StopRequested) return false;
    ReportStop(s);
    return true;
}

const char* OutcomeName(OutcomeKind kind) {
    switch (kind) {
        case OutcomeKind::Ok:
            return "ok";
        case OutcomeKind::Failed:
            return "failed";
        case OutcomeKind::Stopped:
            return "stopped";
        case OutcomeKind::Cancelled:
            return "cancelled";
        case OutcomeKind::Refused:
            return "refused";
    }
    return "failed";
}

OperationFrame::OperationFrame(CoreState& s) : s_(s) {
    s_.Result = OperationResult{};
    s_.Result.Kind = OutcomeKind::Failed;
}

OperationFrame::~OperationFrame() {
    if (began_ && !ended_) EndOperation(s_);
}

void OperationFrame::Begin() {
    began_ = true;
    BeginOperation(s_);
}

bool OperationFrame::Conclude(int r) {
    ok_ = (r & 0xFF) == 0 && StoreCart(s_);
    return ok_;
}

void OperationFrame::End(std::string_view line) {
    Idle();
    if (!line.empty()) LogLine(s_, line);
    LogElapsedTime(s_);
}

void OperationFrame::Idle() {
    ended_ = true;
    EndOperation(s_);
}

OperationResult OperationFrame::Finish() {
    OutcomeKind& kind = s_.Result.Kind;
    // Cancelled and Refused are set by the step that asked or refused.
    const bool marked = kind == OutcomeKind::Cancelled || kind == OutcomeKind::Refused;
    if (ok_ && !s_.Result.PortFailed)
        kind = OutcomeKind::Ok;
    else if (!marked)
        kind = s_.StopLogged ? OutcomeKind::Stopped : began_ ? OutcomeKind::Failed : OutcomeKind::Refused;
    return s_.Result;
}

void TimerTick(CoreState& s) {
    s.ElapsedSeconds += 1;
    SetPanelText(s, Panel::Time, std::to_string(s.ElapsedSeconds) + " Sec");
    ProcessMessages(s);
}

void BeginLogSection(CoreState& s) {
    s.StopLogged = 0;
    if (s.FirstOperation) {
        s.FirstOperation = 0;
    } else {
        LogLine(s, "");
    }
}

}  // namespace rombolt
