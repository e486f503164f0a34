// The cart operations' state: the one current file, the game list's rows with
// their summary, the multi-game chunk map, and the sizes chosen in the backup
// and save-memory dialogs.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/image_state.h"
#include "ops/game_rows.h"

namespace rombolt {

// The chosen save memory range.
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

// Told of the data an operation hands to the cart, as it hands them over:
// every chunk a write programs (prepared: padded, header repaired, patch
// applied), every chunk a verify compares, every unit a save restore writes;
// and every chunk or unit a backup writes to its file (an item of its own).
// The command-line tool sums them for its checksum report, so the sums are
// those of the bytes that went to the cart even if a file changes meanwhile.
class SentDataSink {
public:
    // A new item begins: a game or loader at cart chunk `chunk`, or a save
    // file (-1).
    virtual void Item(std::int32_t chunk) = 0;
    virtual void Data(const std::uint8_t* bytes, std::size_t n) = 0;

protected:
    ~SentDataSink() = default;
};

// What a write or verify did to one image, beyond what its log lines say,
// for a front end to tell the user. Filled by the pipelines as they go.
struct ImageFindings {
    std::int32_t StartChunk = 0;  // the image's first cart chunk
    std::int32_t Chunks = 0;      // its 32 KiB chunks
    // A write that ended before its last chunk was programmed (stopped or
    // failed): chunks 0 .. ProgrammedChunks-1 of the image are in the cart,
    // the rest is not. -1 when every chunk was programmed, or for a verify.
    std::int32_t ProgrammedChunks = -1;
    bool Stopped = false;
    // Comparison passes begun over the image: a write with "Verify" on has
    // two (each chunk read back after programming, then the whole image
    // again), a verify one, a write without "Verify" none.
    int VerifyPasses = 0;
    bool HeaderRepaired = false;  // "Fix Data" changed the header of the bytes sent
};

// Why a write was refused before the cart was touched, in numbers.
struct RefusalFindings {
    std::int64_t ImageBytes = -1;   // "Cart Size Error!!!": the image's size
    std::int64_t CartBytes = -1;    // and the cart's
    std::int64_t NeededBytes = -1;  // "...not enough space...": what the list needs
    std::int64_t SpaceBytes = -1;   // and what the cart has
    int LayoutResult = 0;           // the layout's result (0: the map fits but runs past the flash)
};

struct OperationFindings {
    std::vector<ImageFindings> Images;  // in the order the operation moved them
    RefusalFindings Refusal;
};

struct OpsState : ImageState {
    // --- the one current file ---
    std::FILE* CurrentFile = nullptr;
    std::string CurrentFilePath;
    std::string SaveDialogFile;  // name last chosen in SaveDialog1
    // A backup that is to replace an existing file is written to a side file
    // first (ops/chunk_file.h): OutputTempPath is that file, OutputTargetPath
    // the file it replaces (links resolved). Both empty when the current
    // output file is written in place. OutputCopyOver: the side file lies in
    // another folder and is copied over the target instead of renamed.
    std::string OutputTempPath;
    std::string OutputTargetPath;
    bool OutputCopyOver = false;

    // --- game list and its summary (the summary is made by UpdateListSize) ---
    std::vector<GameRow> GameList;
    std::int32_t ListRowCount = 0;
    std::array<std::int32_t, 100> RowSizes{};
    std::array<std::uint8_t, 100> GbaRows{};
    std::uint8_t GbaRowCount = 0;
    std::array<std::uint8_t, 100> GbRows{};
    std::uint8_t GbRowCount = 0;
    std::uint32_t ListTotalSize = 0;
    std::string FitNote;

    // --- multi-game layout ---
    std::array<std::uint8_t, 1024> ChunkMap{};

    // First cart chunk the running image pipeline must not reach: a patch
    // that lengthens the image past it is refused. Each command sets it
    // (the cart's end, or the next item of a multi-game cart).
    std::int32_t ImageEndChunk = 1024;

    // --- backup and save memory ---
    std::int32_t ChosenCartSize = 0;  // in 32 KiB chunks; 0 = cancelled
    // Backup of a damaged cart: copy it without checking its header first
    // (rombolt backup --raw). Never stored in config.sav.
    bool RawBackup = false;
    SaverSelection Saver;
    // The save memory's size index (0..4) as FindSaveSize found it when the
    // save dialog was last prepared; negative when it could not tell
    // (kSaveSizeUnknown, kSaveSizeUnreadable in ops/saver.h).
    std::int8_t FoundSaveSizeIndex = -1;
    // The last save restore: the units from Saver.StartUnit on that were
    // written and read back, and whether the unit after them was written in
    // part (its read-back failed, or the adapter went away during it).
    std::int32_t RestoredUnits = 0;
    bool RestoredPartOfUnit = false;
    std::int32_t RestoreMismatchUnit = -1;  // the unit that did not read back as the file in the final pass

    // A patch was asked for by name (rombolt --ips): when it does not load,
    // the image pipeline fails instead of sending the image unpatched.
    bool PatchRequired = false;
    // What the last write or verify found; reset when one begins.
    OperationFindings Findings;

    // Where the data sent to the cart are reported; none when null.
    SentDataSink* SentData = nullptr;

    // --- skip-unchanged writes (ops/skip_unchanged.h) ---
    // Write mode that skips erasing and programming blocks whose flash content
    // already equals the prepared data. Never stored in config.sav.
    bool SkipUnchanged = false;
    // The block whose chunks were last found equal to the prepared data and
    // skipped, or found blank and programmed without an erase, in this
    // operation (-1: none); which of its chunks those are (bit k: chunk k of
    // the block); and copies of their data, kept so that they can be
    // programmed again when a later chunk of the same block needs it erased.
    // Reset by adapter detection like LastErasedBlock.
    std::int32_t KeptBlock = -1;
    std::uint32_t KeptChunks = 0;
    std::vector<std::uint8_t> KeptData;

    void BeginAdapterSession() override {
        ImageState::BeginAdapterSession();
        KeptBlock = -1;
        KeptChunks = 0;
    }

protected:
    ~OpsState() = default;
};

}  // namespace rombolt
