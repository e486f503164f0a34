// AppState: everything the program keeps while it runs, one of each. The front
// end owns one instance; every core routine takes it explicitly, so each test
// builds a fresh one.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/config_record.h"
#include "app/frontend.h"
#include "port/ioport.h"

namespace rombolt {

inline constexpr int kChunkBytes = 32768;
inline constexpr int kChunkWords = 16384;
inline constexpr std::uint8_t kStopResult = 254;  // result of a stopped operation

// The five printer port register addresses (always set together) and the
// transfer mode settled by adapter detection.
struct LinkPort {
    std::int32_t DataPort = 0;        // base
    std::int32_t StatusPort = 0;      // base + 1
    std::int32_t ControlPort = 0;     // base + 2
    std::int32_t EppAddressPort = 0;  // base + 3
    std::int32_t EppDataPort = 0;     // base + 4
    std::uint8_t SppMode = 0;         // nonzero: SPP cycles; zero: EPP
};

struct CartInfo {
    std::uint32_t CapacityBytes = 0;  // 4, 8, 16 or 32 MiB
    std::uint8_t Interleaved = 0;     // two chips, even words in the first
    std::uint8_t VelaLine = 0;        // interleaved cart that passed the line test
    // Interleaved cart of two pairs of chips, the second pair at word
    // 0x400000 (a 16 MiB cart of 4 MiB chips). A run of reads that leaves
    // one pair's 8 MiB reaches the other pair, which does not answer status.
    std::uint8_t TwoPairs = 0;
};

// The one 32 KiB transfer buffer: 16384 little-endian 16-bit words.
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

// One row of the game list: five text columns.
struct GameRow {
    std::string Name;           // "Name": file name without directory
    std::string DirectoryPath;  // "Directory Path"
    std::string Size;           // "Size": decimal byte count
    std::string GameName;       // "Game Name"
    std::string GType;          // "GType": "GBA", "GBC", "GB", with "#" when padded; or empty
};

// Patch table entry of a loaded IPS file.
struct IpsRecord {
    std::uint32_t TargetOffset = 0;    // low 24 bits used
    std::uint16_t RemainingLength = 0;
    std::uint16_t DataPosition = 0;
};

struct SaverSelection {
    std::int8_t StartUnit = 0;   // 0..31, -1 after a cancelled dialog
    std::int8_t SizeIndex = 1;   // 0..4 ("8K".."256K"), -1 after cancel
    std::uint8_t UnitCount = 0;  // 8 KiB units to transfer
};

// Values of ChunkMap entries besides row numbers 0..99.
inline constexpr std::uint8_t ChunkFree = 0x9D;
inline constexpr std::uint8_t ChunkEnd = 0x9C;
inline constexpr std::uint8_t ChunkGbaLoader = 0xFF;
inline constexpr std::uint8_t ChunkGbLoader = 0xFE;

struct AppState {
    // --- front end and port back end (never null once set up) ---
    Frontend* UI = nullptr;
    PortBackend* Port = nullptr;

    // --- settings ---
    ConfigRecord Config;
    ConfigRecord SavedConfig;  // the file as last read or written
    std::string ConfigPath;
    bool ConfigWritable = false;
    // A base address given on the command line (e.g. 0xD010 of a PCIe card);
    // 0 means: take the base from Config.PortIndex.
    int PortBaseOverride = 0;
    // Write mode that skips erasing and programming blocks whose flash content
    // already equals the prepared data. Never stored in config.sav.
    bool SkipUnchanged = false;

    // --- port and link ---
    LinkPort Link;

    // --- flash ---
    CartInfo Cart;
    std::int32_t LastErasedBlock = -1;
    // A block erase is given up only when its poll budget is spent and this
    // much wall time has passed since the erase began, so a slow block on a
    // fast port is not reported as failed (chips take up to several seconds).
    // 0 for a simulated cart, whose chips count reads rather than time.
    int EraseTimeFloorMs = 8000;
    // Skip-unchanged writes: the block whose chunks were last found equal to
    // the prepared data and skipped in this operation (-1: none), which of its
    // chunks those are (bit k: chunk k of the block), and copies of their data,
    // kept so that they can be programmed again when a later chunk of the same
    // block needs it erased. Reset by adapter detection like LastErasedBlock.
    std::int32_t SkippedBlock = -1;
    std::uint32_t SkippedChunks = 0;
    std::vector<std::uint8_t> SkippedData;
    // The cart chunk whose programming failed in the last skip-unchanged
    // chunk write (-1: none). It can be an earlier, skipped chunk of the
    // block, programmed again after the block was erased.
    std::int32_t SkipFailedChunk = -1;

    // --- chunk buffer and the one current file ---
    ChunkBufferT ChunkBuffer;
    std::FILE* CurrentFile = nullptr;
    std::string CurrentFilePath;
    std::string SaveDialogFile;  // name last chosen in SaveDialog1
    // A backup written beside the file it is to replace, "NAME.XXXXXX"; empty
    // when the current output file is written in place (ops/chunk_file.h).
    std::string OutputTempPath;

    // --- operation frame ---
    std::uint8_t StopRequested = 1;  // 1 whenever no operation runs
    std::uint8_t ProgressPercent = 0;
    std::int32_t ElapsedSeconds = 0;
    std::uint8_t FirstOperation = 1;
    std::string MessagePrefix;

    // --- image preparation ---
    std::string GameNameText;  // filled by the header check
    std::string IpsFileName;
    std::array<std::uint8_t, kChunkBytes> PatchBuffer{};
    std::uint32_t PatchLength = 0;
    std::uint16_t RecordCount = 0;
    std::array<IpsRecord, 1024> IpsRecords{};
    std::uint8_t IpsActive = 0;

    // --- game list and its summary ---
    std::vector<GameRow> GameList;
    std::int32_t ListRowCount = 0;
    std::array<std::int32_t, 100> RowSizes{};
    std::array<std::uint8_t, 100> GbaRows{};
    std::uint8_t GbaRowCount = 0;
    std::array<std::uint8_t, 100> GbRows{};
    std::uint8_t GbRowCount = 0;
    std::uint32_t ListTotalSize = 0;
    std::string FitNote;
    std::int32_t SortColumn = 0;
    std::uint8_t LastSortColumn = 0;
    std::uint8_t SortDescending = 0;

    // --- multi-game layout ---
    std::array<std::uint8_t, 1024> ChunkMap{};

    // --- backup and save memory ---
    std::int32_t ChosenCartSize = 0;  // in 32 KiB chunks; 0 = cancelled
    SaverSelection Saver;
};

}  // namespace rombolt
