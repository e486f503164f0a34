// What must be undone however the program ends, short of kill -9: a signal
// that ends the program at once (the second Ctrl-C) runs these from its
// handler before _exit. Registering and running are async-signal-safe: fixed
// slots, no allocation, no locks.
#pragma once

#include <string>

namespace rombolt {

using ExitAction = void (*)(void* arg);

// A call to make at such an exit (a port's mode register put back); the slot
// to give back, or -1 when every slot is taken.
int RegisterExitAction(ExitAction action, void* arg);
// A temporary file to remove at such an exit (paths up to 4095 bytes).
int RegisterExitUnlink(const std::string& path);
void UnregisterExit(int slot);

// Runs every registered action and removes every registered file; for a
// signal handler about to call _exit.
void RunExitCleanup();

}  // namespace rombolt
