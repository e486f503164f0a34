// Pieces the benchmark's sections share: back ends that count port accesses,
// a front end that measures how far apart the event pumps are, the allocation
// counter, clocks and a markdown table printer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "core/frontend.h"
#include "port/ioport.h"

namespace rombolt::bench {

// ---------------------------------------------------------------- allocations

// Number of calls of the global operator new (every form) since the start of
// the program. The bench binary replaces operator new to count them.
long long AllocationCount();

// ---------------------------------------------------------------- clocks

double CpuSeconds();   // CPU time of this process
double WallSeconds();  // monotonic wall clock

// ---------------------------------------------------------------- repeated runs

// Median and range of repeated measurements of one quantity.
struct Spread {
    double median = 0;
    double min = 0;
    double max = 0;
    int runs = 0;
};
Spread SpreadOf(std::vector<double> values);
// "2.26 (2.20-2.40)": the median, then the range in parentheses; a single run
// is shown alone.
std::string FixedSpread(const Spread& s, int decimals);

// ---------------------------------------------------------------- back ends

// Passes every access on to another back end and counts it.
class CountingPort final : public PortBackend {
public:
    explicit CountingPort(PortBackend& inner) : inner_(inner) {}
    std::uint8_t inb(std::uint16_t port) override {
        ++count;
        return inner_.inb(port);
    }
    void outb(std::uint16_t port, std::uint8_t value) override {
        ++count;
        inner_.outb(port, value);
    }
    std::uint16_t inw(std::uint16_t port) override {
        ++count;
        return inner_.inw(port);
    }
    void outw(std::uint16_t port, std::uint16_t value) override {
        ++count;
        inner_.outw(port, value);
    }
    std::string Name() const override { return inner_.Name(); }

    long long count = 0;

private:
    PortBackend& inner_;
};

// Answers the way the adapter with flash chips that never keep the program
// waiting would: every cart byte read gives 0x80, so a status read shows
// "ready" / "buffer free" on one chip or on both chips of a pair, and a chunk
// read gives 0x8080 words, which a ChunkBuffer filled with 0x80 bytes compares
// equal to. SPP nibble reads follow the control register (0x02 low half, 0x06
// high half). With `busy` set every cart byte reads 0x00: the chips never
// become ready. Besides counting, nothing happens per access.
class ReadyFlashPort final : public PortBackend {
public:
    explicit ReadyFlashPort(int base = 0x378, bool busy = false)
        : status_(static_cast<std::uint16_t>(base + 1)),
          control_(static_cast<std::uint16_t>(base + 2)),
          byte_(busy ? 0x00 : 0x80) {}

    std::uint8_t inb(std::uint16_t port) override {
        ++count;
        if (port == status_) return (ctl_ == 0x06 && byte_ == 0x80) ? 0x40 : 0x00;
        return byte_;
    }
    void outb(std::uint16_t port, std::uint8_t value) override {
        ++count;
        if (port == control_) ctl_ = value;
    }
    std::uint16_t inw(std::uint16_t) override {
        ++count;
        return static_cast<std::uint16_t>(byte_ | (byte_ << 8));
    }
    void outw(std::uint16_t, std::uint16_t) override { ++count; }
    std::string Name() const override { return "ready-flash"; }

    long long count = 0;

private:
    std::uint16_t status_, control_;
    std::uint8_t byte_;
    std::uint8_t ctl_ = 0;
};

// Passes every access on to another back end and sorts it by the adapter
// cycle it belongs to, decoded from the accesses alone (both SPP and EPP
// forms): selecting or writing the address registers 0-2, selecting the data
// window (register 3) or writing the access mode (register 4), data cycles
// written to or read from the data window, and everything else (control-only
// accesses such as the idle value and the adapter preparation, and the
// detection's reads of the address registers). An SPP cycle's accesses before
// its strobe (the data latch, the resting control value) count with the cycle.
class DecodingPort final : public PortBackend {
public:
    enum Category { AddressLoad, Select, WindowWrite, WindowRead, Control, kCategories };

    DecodingPort(PortBackend& inner, int base);
    std::uint8_t inb(std::uint16_t port) override;
    void outb(std::uint16_t port, std::uint8_t value) override;
    std::uint16_t inw(std::uint16_t port) override;
    void outw(std::uint16_t port, std::uint16_t value) override;
    std::string Name() const override { return inner_.Name(); }

    // Counts so far; accesses still waiting for their cycle count as control.
    long long Count(Category c) const { return counts_[c] + (c == Control ? pending_ : 0); }
    long long Total() const;

private:
    Category SelectionOf(std::uint8_t reg) const { return reg <= 2 ? AddressLoad : Select; }
    Category WriteTo(std::uint8_t reg) const {
        return reg <= 2 ? AddressLoad : reg == 3 ? WindowWrite : reg == 4 ? Select : Control;
    }
    Category ReadFrom(std::uint8_t reg) const { return reg == 3 ? WindowRead : Control; }
    // Closes a cycle: the accesses waiting for it and this one.
    void Cycle(Category c) {
        counts_[c] += pending_ + 1;
        pending_ = 0;
        last_ = c;
    }

    PortBackend& inner_;
    std::uint16_t data_, status_, control_, eppAddress_, eppData_;
    long long counts_[kCategories] = {};
    long long pending_ = 0;
    std::uint8_t reg_ = 0, ctl_ = 0, latch_ = 0;
    Category last_ = Control;
};

// ---------------------------------------------------------------- front end

// A front end that answers every question the benchmarked commands ask and
// measures, at each event pump, how many port accesses went by since the one
// before. It also counts log lines and allocations while the window would be
// busy (between BeginOperation and EndOperation).
class BenchFrontend final : public Frontend {
public:
    BenchFrontend(AppState& s, std::function<long long()> accesses) : s_(s), accesses_(std::move(accesses)) {}

    // Starts a new measurement at the current access count.
    void Restart() {
        lastPump = accesses_();
        maxStretch = 0;
        pumps = 0;
        logLines = busyLogLines = 0;
        busyAccesses = busyAllocations = 0;
    }
    // Ends the measurement: the stretch from the last pump to the end counts too.
    void Finish() {
        const long long now = accesses_();
        if (now - lastPump > maxStretch) maxStretch = now - lastPump;
        if (busy_) SetBusy(false);
    }

    void LogLine(std::string_view text) override {
        ++logLines;
        if (busy_) ++busyLogLines;
        if (echo) std::fprintf(stderr, "  | %.*s\n", static_cast<int>(text.size()), text.data());
    }
    void SetPanelText(int, std::string_view) override {}
    void ShowProgress(int) override {}
    void ProcessMessages() override {
        const long long now = accesses_();
        if (now - lastPump > maxStretch) maxStretch = now - lastPump;
        lastPump = now;
        ++pumps;
        if (pumps == stopAtPump) s_.StopRequested = 1;
    }
    void SetBusy(bool busy) override {
        if (busy && !busy_) {
            busyFromAccesses_ = accesses_();
            busyFromAllocations_ = AllocationCount();
        } else if (!busy && busy_) {
            busyAccesses += accesses_() - busyFromAccesses_;
            busyAllocations += AllocationCount() - busyFromAllocations_;
        }
        busy_ = busy;
    }
    bool AskYesNo(std::string_view, std::string_view) override { return true; }
    std::optional<std::string> ChooseFile(FileDialog) override { return file; }
    int ChooseCartSize(int) override { return cartSizeChunks; }
    SaverChoice ChooseSaverRange() override { return saver; }
    void ShowCartPicture(int) override {}

    // Answers.
    std::optional<std::string> file;
    int cartSizeChunks = 32;
    SaverChoice saver{0, 2};
    bool echo = false;         // copy log lines to stderr
    long long stopAtPump = 0;  // > 0: Stop is pressed in that pump (counted from Restart)

    // Measurements since Restart.
    long long lastPump = 0;
    long long maxStretch = 0;
    long long pumps = 0;
    long long logLines = 0, busyLogLines = 0;
    long long busyAccesses = 0, busyAllocations = 0;

private:
    AppState& s_;
    std::function<long long()> accesses_;
    bool busy_ = false;
    long long busyFromAccesses_ = 0, busyFromAllocations_ = 0;
};

// ---------------------------------------------------------------- modes

// The transfer form the link uses once detection has run: SPP cycles, or EPP
// at speed "4" (index 0), "3" (1) or "2" (2).
struct LinkCost {
    int wordWrite;  // port accesses to write one cart word
    int wordRead;   // ... to read one cart word
    int byteWrite;  // ... to write one save memory byte
    int byteRead;   // ... to read one save memory byte
};
LinkCost CostOf(const AppState& s);

// The eight port/speed settings the matrix runs: an EPP-capable port at
// speeds "4".."1" and an SPP-only port at the same four.
struct PortSetting {
    bool sppOnlyPort;
    int speedIndex;  // 0..3 for "4".."1"
    std::string Label() const;
};
std::vector<PortSetting> AllPortSettings();

// ---------------------------------------------------------------- output

std::string Fixed(double v, int decimals);
std::string Thousands(long long v);

// A markdown table, printed at once so that columns can be filled in any order.
class Table {
public:
    explicit Table(std::vector<std::string> header) : header_(std::move(header)) {}
    void Row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
    void Print(std::FILE* out) const;

private:
    std::vector<std::string> header_;
    std::vector<std::vector<std::string>> rows_;
};

// A GBA image of `bytes` bytes with a header the check accepts and the branch
// over it that games start with, filled with a pseudo-random pattern that
// depends on `seed`.
std::vector<std::uint8_t> MakeImage(std::size_t bytes, std::uint32_t seed);
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace rombolt::bench
