// Trace conformance: a literal model of the port accesses each cart operation
// sends (link cycles, cart bus, adapter detection, identification, erase,
// buffer program, chunk read and verify, save memory), written as step-by-step
// expectations, replayed against a recorded trace access by access. Writes
// must be the next expected access; reads take their values from the trace.
// The first access that differs ends the replay with the names of the steps
// the model was in.
//
// The model does not call the program's link, cart-bus or flash routines:
// every expected access is spelled out here. Where the program knowingly
// departs from the written sequences, the model has a named switch (Departures).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "port/ioport.h"

namespace rombolt::test::conformance {

using Access = RecordingPort::Access;

// The program's departures from the written sequences, each on for the program
// as it is. Switching one off expects the written sequence at that place.
struct Departures {
    // Interleaved carts: status, read array and clear status go to the start
    // of the 8 MiB quarter holding the block (word 0, 0x400000, ...), so that
    // the second pair of a two-pair cart hears them.
    bool quarterCommandBase = true;
    // A buffer program that ends a quarter sends its confirm to its own first
    // word: the word behind its data belongs to the other pair.
    bool confirmInsideQuarter = true;
    // A stop while a program or erase may be running polls the chips until
    // they are ready (erase budget, no pumps) before read array.
    bool stopWaitsForBusyChips = true;
    // A stop while an erase setup or write to buffer waits for its confirm or
    // count follows the read array with clear status and read array again.
    bool stopClearsPendingCommand = true;
    // After each chunk (write, verify, backup, loader), each erase block and
    // each save unit the adapter's address registers are echoed once more.
    bool adapterCheckBetweenBlocks = true;
    // The wait for busy chips after a stop pumps the window every 1024th
    // poll (it may last seconds), without testing the stop flag again.
    bool stopWaitPumps = true;
    // A cart of two pairs: the erase confirm's status poll goes back to the
    // block's address before its read run would leave the pair's 8 MiB quarter.
    bool erasePollStaysInQuarter = true;
    // Verify identifies the cart (quietly) after adapter detection, so that
    // an image larger than the flash is refused.
    bool verifyIdentifiesCart = true;
    // The backup's ROM size probe also looks at chunk 512 (32 MiB ROMs).
    bool romProbeTo512 = true;
    // Skip unchanged: the comparison reads on while the flash is blank, and a
    // blank chunk is programmed without erasing its block.
    bool skipProgramsBlankChunks = true;
    // A save restore compares every unit with the file once all are written.
    bool saveRestoreFinalCompare = true;
    // Verify on: a pump before a programmed chunk is read back.
    bool pumpBeforeChunkReadBack = true;
    // Save memory: a pump before and after each bank choice and after every
    // 32 blocks of a 32 KiB half.
    bool savePumps = true;
    // A chunk comparison that finds a difference reads the rest of the chunk
    // (to count the words that differ) before it fails.
    bool verifyReadsWholeChunk = true;
    // Save memory: after the probe, all eight 32 KiB halves are read twice
    // each, to find the memory's size from its mirroring; a restore larger
    // than the size found is refused before the operation begins.
    bool saveSizeFromMirroring = true;
};

struct Scenario {
    enum class Op { Write, Verify, Backup, Erase, SaveBackup, SaveRestore, MultiWrite, MultiVerify };
    struct Item {
        int chunk = 0;
        bool builtInLoader = false;
        std::vector<std::uint8_t> data;  // the bytes as the program prepares them
    };
    Op op = Op::Write;
    int portIndex = 0;
    int speedIndex = 0;
    bool verifyAfterWrite = false;
    bool skipUnchanged = false;
    std::vector<Item> items;  // Write/Verify: one item at chunk 0; multi: in cart order
    int backupChunks = 32;    // the size chosen in the backup's dialog
    int saveStartUnit = 0;
    int saveUnits = 1;                   // units of the size chosen in the save dialog
    std::vector<std::uint8_t> saveFile;  // SaveRestore: the file written
    long long stopAt = -1;               // Stop pressed at the first pump from this access on
};

struct Divergence : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A place where the program pumped the window and tested the stop flag.
struct StopPoint {
    std::size_t at;     // trace position
    std::string steps;  // the model's step names there, outermost first
};

// Replays the trace against the model of the scenario's operation; pumps are
// the trace positions at which the program pumped the window, one entry per
// pump, and must come where the model pumps. Throws Divergence at the first
// difference, or when the trace ends early or goes on.
std::vector<StopPoint> Replay(const Scenario& scenario, const Departures& departures,
                              const std::vector<Access>& trace, const std::vector<std::size_t>& pumps);

}  // namespace rombolt::test::conformance
