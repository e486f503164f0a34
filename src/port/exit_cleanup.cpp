#include "port/exit_cleanup.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace rombolt {

namespace {

constexpr int kSlots = 8;
constexpr std::size_t kPathMax = 4096;

struct Slot {
    volatile std::sig_atomic_t used = 0;
    ExitAction action = nullptr;
    void* arg = nullptr;
    char path[kPathMax] = {};
};

Slot g_slots[kSlots];

int FreeSlot() {
    for (int i = 0; i < kSlots; ++i)
        if (!g_slots[i].used) return i;
    return -1;
}

}  // namespace

int RegisterExitAction(ExitAction action, void* arg) {
    const int i = FreeSlot();
    if (i < 0) return -1;
    g_slots[i].action = action;
    g_slots[i].arg = arg;
    g_slots[i].path[0] = '\0';
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_slots[i].used = 1;
    return i;
}

int RegisterExitUnlink(const std::string& path) {
    const int i = FreeSlot();
    if (i < 0 || path.empty() || path.size() >= kPathMax) return -1;
    g_slots[i].action = nullptr;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_slots[i].used = 1;
    return i;
}

void UnregisterExit(int slot) {
    if (slot >= 0 && slot < kSlots) g_slots[slot].used = 0;
}

void RunExitCleanup() {
    for (Slot& s : g_slots) {
        if (!s.used) continue;
        s.used = 0;
        if (s.action != nullptr) s.action(s.arg);
        if (s.path[0] != '\0') ::unlink(s.path);
    }
}

}  // namespace rombolt
