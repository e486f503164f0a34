// One simulated adapter with cart and the program state wired to it, the way
// the window or the command line would run a command against it.
#pragma once

#include <memory>
#include <string>

#include "app/app_state.h"
#include "bench_support.h"
#include "sim/sim_port.h"

namespace rombolt::bench {

struct SimSession {
    // With `decode` the program reaches the cart through a DecodingPort.
    SimSession(const std::string& model, const PortSetting& setting, bool decode = false);

    std::unique_ptr<SimPort> sim;
    std::unique_ptr<DecodingPort> decoder;
    std::unique_ptr<AppState> state;
    AppState& s;
    BenchFrontend ui;
};

// What one command cost.
struct RunStats {
    bool ok = false;
    long long accesses = 0;
    double cpu = 0;   // seconds
    double wall = 0;  // seconds
    long long maxStretch = 0;
    long long pumps = 0;
    long long busyAccesses = 0, busyAllocations = 0, busyLogLines = 0;
    long long arrayReads = 0;      // flash array words the cart delivered
    long long bufferPrograms = 0;  // buffer programs the chips confirmed (16 words per chip each)
    long long erases = 0;          // block erases the chips completed
};

// Runs `command` (returns 0 on success) and measures it.
// A routine's code, or an operation's record.
inline bool Succeeded(int r) { return r == 0; }
inline bool Succeeded(const OperationResult& r) { return r.Ok(); }

template <typename F>
RunStats Measure(SimSession& ss, F command) {
    RunStats r;
    SimPort& sim = *ss.sim;
    const long long a0 = sim.PortAccesses();
    const long long reads0 = sim.ArrayReads();
    const long long programs0 = sim.BufferProgramCount();
    const long long erases0 = sim.TotalEraseCount();
    ss.ui.Restart();
    const double c0 = CpuSeconds();
    const double w0 = WallSeconds();
    r.ok = Succeeded(command());
    r.wall = WallSeconds() - w0;
    r.cpu = CpuSeconds() - c0;
    ss.ui.Finish();
    r.accesses = sim.PortAccesses() - a0;
    r.maxStretch = ss.ui.maxStretch;
    r.pumps = ss.ui.pumps;
    r.busyAccesses = ss.ui.busyAccesses;
    r.busyAllocations = ss.ui.busyAllocations;
    r.busyLogLines = ss.ui.busyLogLines;
    r.arrayReads = sim.ArrayReads() - reads0;
    r.bufferPrograms = sim.BufferProgramCount() - programs0;
    r.erases = sim.TotalEraseCount() - erases0;
    return r;
}

// Puts the image file `path` as the only row of the game list.
bool ListImage(AppState& s, const std::string& path);

}  // namespace rombolt::bench
