// The operation frame: log, status panels, progress, elapsed time, busy/idle
// switching and the stop protocol that every cart operation follows.
#pragma once

#include <string>
#include <string_view>

#include "core/state.h"

namespace rombolt {

// The status bar's panels (panel 2 shows nothing).
enum class Panel : int {
    PortMode = 0,  // "SPP" / "EPP"
    Status = 1,    // "writing...", "Write ok", "Write Error!!!"
    Time = 3,      // "37 Sec"
    ListSize = 4,  // the game list's count and total size
};

void LogLine(CoreState& s, std::string_view text);
void SetPanelText(CoreState& s, Panel panel, std::string_view text);
// Panel Status; a text that is not empty is also the record's Status.
void SetStatusText(CoreState& s, std::string_view text);

// Progress bar to 0, status and time panels emptied.
void ResetProgress(CoreState& s);
// Progress bar := ProgressPercent.
void ShowProgress(CoreState& s);
// trunc(done * 100.0 / total), the percentage shown before block `done`.
std::uint8_t PercentOf(long long done, long long total);

// Lets the front end process pending events; Stop sets StopRequested in here.
void ProcessMessages(CoreState& s);

// Busy state: StopRequested := 0, controls off, Stop on, timer from 0 ("0 Sec").
void BeginOperation(CoreState& s);
// Idle state: StopRequested := 1, controls back, timer off, then the idle value
// 0x04 to the control register, and a "Port error: " line for a failed port
// access that nothing reported yet. Safe to run more than once.
void EndOperation(CoreState& s);

// When an access of the port back end failed since this operation's adapter
// detection (a ppdev device call the kernel refused), logs "Port error: " and
// the failed call with its error, forgets it, notes it in the operation's
// record (Result.PortFailed) and returns true. The operation must then not
// report success.
bool ReportPortFailure(CoreState& s);

// End of a transfer that completed: the result text in the status panel, the
// progress bar at 100, one event pump.
void ReportCompleted(CoreState& s, std::string_view status);

// Before an operation reports success: the port back end makes the cart's
// changes lasting (a simulated cart writes its files back). False, with the
// reason logged, when it cannot; the operation has then failed.
bool StoreCart(CoreState& s);

// "Time = 37 Sec"
void LogElapsedTime(CoreState& s);
// "Stop process !!!" (once per operation), then EndOperation.
void ReportStop(CoreState& s);

// The stop test before each block of a transfer: the window's turn, then,
// when Stop was pressed, ReportStop. True when the operation is stopped (the
// caller cleans up and returns kStopResult).
bool BlockStopTest(CoreState& s);

// The frame of one cart operation, from its first step to its result. It
// begins the operation's record, begins the busy state where the transfer
// starts, runs the closing test (the routine's code, then the cart's changes
// stored), ends the operation with its time line and decides the outcome:
//   Ok        Conclude passed and no port access failed;
//   Cancelled Cancel() was called, or a routine set Result.Kind so (the user said no);
//   Refused   a routine set Result.Kind so, or it ended before Begin();
//   Stopped   "Stop process !!!" was logged in it;
//   Failed    otherwise.
// An operation that began and is left without End() or Idle() is ended
// (EndOperation, no time line) when the frame goes.
class OperationFrame {
public:
    explicit OperationFrame(CoreState& s);
    ~OperationFrame();
    OperationFrame(const OperationFrame&) = delete;
    OperationFrame& operator=(const OperationFrame&) = delete;

    // BeginOperation: busy state, timer from 0.
    void Begin();
    bool Began() const { return began_; }
    // The closing test of routine code r: true when its low byte is 0 and the
    // cart's changes were stored (StoreCart); the operation has then succeeded.
    bool Conclude(int r);
    // The user said no (also: a routine sets Result.Kind to Cancelled).
    void Cancel() { s_.Result.Kind = OutcomeKind::Cancelled; }
    // EndOperation, then `line` when given, then "Time = N Sec".
    void End(std::string_view line = {});
    // EndOperation alone: an operation that ends without a time line.
    void Idle();
    // The record with its outcome decided.
    OperationResult Finish();

private:
    CoreState& s_;
    bool began_ = false;
    bool ended_ = false;
    bool ok_ = false;
};

// The elapsed-time timer's one-second tick: ElapsedSeconds + 1, panel 3 "N Sec",
// then a nested event pump. Front ends call it from their timer.
void TimerTick(CoreState& s);

// Stop button: StopRequested := 1, nothing else.
inline void StopClick(CoreState& s) { s.StopRequested = 1; }

// Opening line of every operation: the first one after start-up logs nothing,
// every later one an empty separator line. A new operation may log its stop.
void BeginLogSection(CoreState& s);

}  // namespace rombolt
