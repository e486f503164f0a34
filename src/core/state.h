// The state every layer shares: the front end, the port back end with the
// printer port's register addresses, the settings, the one chunk buffer and the
// operation frame's fields. Each layer above adds its own part by extending the
// state below it (FlashState, ImageState, OpsState), and the application's
// AppState is the whole: a routine takes the lowest state that holds what it
// needs, so link code cannot reach the game list and the tree shows it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/frontend.h"
#include "core/outcome.h"
#include "core/settings.h"
#include "port/ioport.h"

namespace rombolt {

inline constexpr int kChunkBytes = 32768;
inline constexpr int kChunkWords = 16384;
inline constexpr std::uint8_t kStopResult = 254;  // result of a stopped operation

// Control register value that leaves the port idle between operations.
inline constexpr std::uint8_t kCtlIdle = 0x04;

// The five printer port register addresses (always set together) and the
// transfer mode settled by adapter detection. Every link cycle reads them; the
// operation frame's idle write needs the control register too.
struct LinkPort {
    std::int32_t DataPort = 0;        // base
    std::int32_t StatusPort = 0;      // base + 1
    std::int32_t ControlPort = 0;     // base + 2
    std::int32_t EppAddressPort = 0;  // base + 3
    std::int32_t EppDataPort = 0;     // base + 4
    std::uint8_t SppMode = 0;         // nonzero: SPP cycles; zero: EPP
};

// The one 32 KiB transfer buffer between files, image preparation and the
// flash: 16384 little-endian 16-bit words.
struct ChunkBufferT {
    alignas(8) std::array<std::uint8_t, kChunkBytes> bytes{};

    std::uint16_t word(int i) const {
        return static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    void setWord(int i, std::uint16_t w) {
        bytes[2 * i] = static_cast<std::uint8_t>(w & 0xFF);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }
};

struct CoreState {
    // --- front end and port back end (never null once set up) ---
    Frontend* UI = nullptr;
    PortBackend* Port = nullptr;

    // --- settings ---
    ConfigRecord Config;
    // A base address given on the command line (e.g. 0xD010 of a PCIe card);
    // 0 means: take the base from Config.PortIndex.
    int PortBaseOverride = 0;

    // --- port registers and transfer mode ---
    LinkPort Link;

    // --- the chunk buffer ---
    ChunkBufferT ChunkBuffer;

    // --- operation frame ---
    std::uint8_t StopRequested = 1;  // 1 whenever no operation runs
    std::uint8_t ProgressPercent = 0;
    std::int32_t ElapsedSeconds = 0;
    std::uint8_t FirstOperation = 1;
    // "Stop process !!!" is logged once per operation: a stop the front end
    // holds on to (Ctrl-C) is seen by every later stop test, before the
    // operation began as well as in it.
    std::uint8_t StopLogged = 0;
    std::string MessagePrefix;
    // The running (or last) operation's record, begun afresh by its
    // OperationFrame (core/operation.h).
    OperationResult Result;

    // Every adapter detection begins a new session with the adapter: the layers
    // above forget what they did to the cart in the last one (the flash layer
    // its erased and skipped blocks).
    virtual void BeginAdapterSession() {}

protected:
    ~CoreState() = default;
};

// Fills the five LinkPort addresses from ConfigRecord::PortIndex (or from
// PortBaseOverride when a base was given on the command line). No port I/O.
void ApplyPortSelection(CoreState& s);

// Control register := 0x04.
void IdlePort(CoreState& s);

}  // namespace rombolt
