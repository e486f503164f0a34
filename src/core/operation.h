// The operation frame: log, status panels, progress, elapsed time, busy/idle
// switching and the stop protocol that every cart operation follows.
#pragma once

#include <string>
#include <string_view>

#include "core/state.h"

namespace rombolt {

void LogLine(CoreState& s, std::string_view text);
void SetPanelText(CoreState& s, int index, std::string_view text);
inline void SetStatusText(CoreState& s, std::string_view text) { SetPanelText(s, 1, text); }

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
// the failed call with its error, forgets it and returns true. The operation
// must then not report success.
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

// The elapsed-time timer's one-second tick: ElapsedSeconds + 1, panel 3 "N Sec",
// then a nested event pump. Front ends call it from their timer.
void TimerTick(CoreState& s);

// Stop button: StopRequested := 1, nothing else.
inline void StopClick(CoreState& s) { s.StopRequested = 1; }

// Opening line of every operation: the first one after start-up logs nothing,
// every later one an empty separator line. A new operation may log its stop.
void BeginLogSection(CoreState& s);

}  // namespace rombolt
