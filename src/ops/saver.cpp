#include "ops/saver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/operation.h"
#include "link/cartbus.h"
#include "link/detect.h"
#include "link/link.h"
#include "ops/chunk_file.h"
#include "ops/commands.h"

namespace rombolt {

namespace {

// Save memory is addressed in 256-byte blocks inside the selected 64 KiB bank:
// register 1 holds the block, registers 0 and 2 stay 0, and the adapter steps
// through the block's bytes on its own.
void StartBlock(OpsState& s, std::uint8_t block, bool writing) {
    WriteRegister(s, 0, 0);
    WriteRegister(s, 1, block);
    WriteRegister(s, 2, 0);
    SelectRegister(s, 3);
    WriteControl(s, writing ? 1 : 0);
}

// The bank choice costs a whole unlock sequence (1,508 cart writes), as long
// as an 8 KiB transfer; the window gets its turn before and after it.
void OpenSaveWindow(OpsState& s, int half) {
    ProcessMessages(s);
    SelectSaveBank(s, static_cast<std::int8_t>(half));
    SetSaveAccess(s);
    ProcessMessages(s);
}

// A 32 KiB half moves in 128 blocks; the window gets its turn after every 32
// of them (8 KiB, the size of a unit), so that a half transfer keeps it no
// longer than a unit transfer does.
constexpr int kBlocksPerPump = 32;
void PumpBetweenBlocks(OpsState& s, int k) {
    if (k % kBlocksPerPump == kBlocksPerPump - 1) ProcessMessages(s);
}

std::uint8_t UnitBlock(int unit, int k) { return static_cast<std::uint8_t>(((unit << 5) | k) & 0xFF); }
std::uint8_t HalfBlock(int half, int k) { return static_cast<std::uint8_t>((half & 1) ? (k | 0x80) : k); }

}  // namespace

int SaverSizeIndex(const std::string& item) {
    for (std::size_t i = 0; i < kSaverSizes.size(); ++i)
        if (item == kSaverSizes[i].item) return static_cast<int>(i);
    return -1;
}

BankCode UpdateBankSelection(int b64, int b32, int b8, int sizeIndex) {
    BankCode out;
    out.startUnit = b64 * 8 + b32 * 4 + b8;
    out.code = {static_cast<char>('1' + b64), static_cast<char>('A' + b32), static_cast<char>('1' + b8)};
    if (sizeIndex == 1 && b8 == 0) {
        out.code.resize(2);
    } else if (sizeIndex >= 2 && b8 == 0 && b32 == 0) {
        out.code.resize(1);
    }
    return out;
}

bool ParseBankCode(const std::string& code, int sizeIndex, int& startUnit) {
    if (sizeIndex < 0 || sizeIndex >= static_cast<int>(kSaverSizes.size())) return false;
    if (code.empty() || code.size() > 3) return false;
    int b64 = 0, b32 = 0, b8 = 0;
    std::size_t pos = 0;
    if (code[pos] < '1' || code[pos] > '4') return false;
    b64 = code[pos++] - '1';
    if (pos < code.size()) {
        if (code[pos] != 'A' && code[pos] != 'B') return false;
        b32 = code[pos++] - 'A';
    }
    if (pos < code.size()) {
        if (code[pos] < '1' || code[pos] > '4') return false;
        b8 = code[pos++] - '1';
    }
    if (pos != code.size()) return false;
    startUnit = UpdateBankSelection(b64, b32, b8, sizeIndex).startUnit;
    return true;
}

int CompareSaveUnit(OpsState& s, int unit) {
    OpenSaveWindow(s, unit >> 2);
    for (int k = 0; k < 32; ++k) {
        StartBlock(s, UnitBlock(unit, k), false);
        for (int n = 0; n < 256; ++n)
            if (ReadDataByte(s) != s.ChunkBuffer.bytes[k * 256 + n]) return -1;
    }
    return 0;
}

int ReadSaveUnit(OpsState& s, int unit) {
    OpenSaveWindow(s, unit >> 2);
    for (int k = 0; k < 32; ++k) {
        StartBlock(s, UnitBlock(unit, k), false);
        for (int n = 0; n < 256; ++n) s.ChunkBuffer.bytes[k * 256 + n] = ReadDataByte(s);
    }
    return CompareSaveUnit(s, unit);
}

int WriteSaveUnit(OpsState& s, int unit) {
    OpenSaveWindow(s, unit >> 2);
    for (int k = 0; k < 32; ++k) {
        StartBlock(s, UnitBlock(unit, k), true);
        for (int n = 0; n < 256; ++n) WriteDataByte(s, s.ChunkBuffer.bytes[k * 256 + n]);
    }
    return CompareSaveUnit(s, unit);
}

int CompareSaveHalf(OpsState& s, int half) {
    OpenSaveWindow(s, half);
    for (int k = 0; k < 128; ++k) {
        StartBlock(s, HalfBlock(half, k), false);
        for (int n = 0; n < 256; ++n)
            if (ReadDataByte(s) != s.ChunkBuffer.bytes[k * 256 + n]) return -1;
        PumpBetweenBlocks(s, k);
    }
    return 0;
}

int ReadSaveHalf(OpsState& s, int half) {
    OpenSaveWindow(s, half);
    for (int k = 0; k < 128; ++k) {
        StartBlock(s, HalfBlock(half, k), false);
        for (int n = 0; n < 256; ++n) s.ChunkBuffer.bytes[k * 256 + n] = ReadDataByte(s);
        PumpBetweenBlocks(s, k);
    }
    return CompareSaveHalf(s, half);
}

int ProbeSaveMemory(OpsState& s) {
    ReadSaveHalf(s, 0);
    if (CompareSaveHalf(s, 0) != 0) return -1;
    if (CompareSaveHalf(s, 1) == 0) {
        s.Saver.UnitCount = 1;
        return 1;
    }
    s.Saver.UnitCount = 2;
    return 2;
}

int SaveSizeFromMirroring(const std::uint8_t* window) {
    // Smallest power-of-two period of the window; a period p means every byte
    // equals the one p bytes before it.
    std::size_t period = 1;
    for (; period < static_cast<std::size_t>(kSaveMaxBytes); period *= 2)
        if (std::memcmp(window, window + period, kSaveMaxBytes - period) == 0) break;
    if (period < static_cast<std::size_t>(kSaveUnitBytes)) return kSaveSizeUnknown;
    // No 16K size: the next larger one, the least a memory can be that shows it.
    for (std::size_t i = 0; i < kSaverSizes.size(); ++i)
        if (static_cast<std::size_t>(kSaverSizes[i].units) * kSaveUnitBytes >= period)
            return static_cast<int>(i);
    return static_cast<int>(kSaverSizes.size()) - 1;
}

int FindSaveSize(OpsState& s) {
    s.FoundSaveSizeIndex = kSaveSizeUnreadable;
    std::vector<std::uint8_t> window(kSaveMaxBytes);
    constexpr int kHalfBytes = 4 * kSaveUnitBytes;
    for (int h = 0; h < kSaveMaxBytes / kHalfBytes; ++h) {
        if (ReadSaveHalf(s, h) != 0) return kSaveSizeUnreadable;
        std::memcpy(window.data() + h * kHalfBytes, s.ChunkBuffer.data(), kHalfBytes);
    }
    const int found = SaveSizeFromMirroring(window.data());
    s.FoundSaveSizeIndex = static_cast<std::int8_t>(found);
    return found;
}

int SelectSaver(OpsState& s) {
    BeginLogSection(s);
    if (DetectAdapter(s) != 0) return -1;
    if (ProbeSaveMemory(s) <= 0) {
        LogLine(s, "No Save Data found!!!");
        return -1;
    }
    FindSaveSize(s);
    Frontend::SaverChoice choice = s.UI->ChooseSaverRange();
    // The dialog guards an operation that overwrites the cart's save memory:
    // closed without an answer, it is cancelled.
    if (choice.dismissed) choice.startUnit = choice.sizeIndex = -1;
    s.Saver.StartUnit = static_cast<std::int8_t>(choice.startUnit);
    s.Saver.SizeIndex = static_cast<std::int8_t>(choice.sizeIndex);
    if (choice.startUnit == -1 || choice.sizeIndex == -1) {
        LogLine(s, "Saver Select Cancel");
        s.Result.Kind = OutcomeKind::Cancelled;
        return -1;
    }
    if (choice.sizeIndex < 0 || choice.sizeIndex >= static_cast<int>(kSaverSizes.size()) ||
        choice.startUnit < 0 || choice.startUnit + kSaverSizes[choice.sizeIndex].units > kSaveUnits) {
        LogLine(s, "Bank Select or Size Select Error!!!");
        return -1;
    }
    s.Saver.UnitCount = static_cast<std::uint8_t>(kSaverSizes[choice.sizeIndex].units);
    return 0;
}

int BackupSave(OpsState& s, OperationFrame& frame) {
    SetStatusText(s, "Reading...");
    if (OpenOutputFile(s) != 0) return -1;
    frame.Begin();
    const int count = s.Saver.UnitCount;
    for (int i = 0; i < count; ++i) {
        if (BlockStopTest(s)) {
            AbandonOutputFile(s);
            return kStopResult;
        }
        s.ProgressPercent = PercentOf(i, count);
        ShowProgress(s);
        ProcessMessages(s);
        // An unplugged adapter reads 0xFF twice alike, as empty save memory does.
        if (ReadSaveUnit(s, s.Saver.StartUnit + i) != 0 || !AdapterStillAnswers(s)) {
            AbandonOutputFile(s);
            LogLine(s, "Read Save Data Error!!!");
            return -1;
        }
        if (!WriteChunk(s, kSaveUnitBytes)) {
            AbandonOutputFile(s);
            return -1;
        }
        s.Result.ChunksDone += 1;
        s.Result.BytesDone += kSaveUnitBytes;
    }
    if (!FinishOutputFile(s)) return -1;
    ReportCompleted(s, "Read ok");
    return 0;
}

namespace {

// The restore's next unit of the file into ChunkBuffer: stop test, progress,
// read. 0 to go on; 254 (stopped) or -1 (read failed) with the file closed.
int NextRestoreUnit(OpsState& s, int i, int count) {
    if (int r = NextFileBlock(s, i, count, kSaveUnitBytes); r != 0) return r;
    ShowProgress(s);
    ProcessMessages(s);
    return 0;
}

}  // namespace

int RestoreSave(OpsState& s, std::int32_t size) {
    const std::uint8_t count = static_cast<std::uint8_t>(size / kSaveUnitBytes);
    SetStatusText(s, "Writing...");
    s.RestoredUnits = 0;
    s.RestoredPartOfUnit = false;
    s.RestoreMismatchUnit = -1;
    if (s.SentData) s.SentData->Item(-1);
    for (int i = 0; i < count; ++i) {
        if (int r = NextRestoreUnit(s, i, count); r != 0) return r;
        if (s.SentData) s.SentData->Data(s.ChunkBuffer.data(), kSaveUnitBytes);
        // A unit of 0xFF "reads back" from an unplugged adapter too.
        if (WriteSaveUnit(s, s.Saver.StartUnit + i) != 0 || !AdapterStillAnswers(s)) {
            s.RestoredPartOfUnit = true;
            LogLine(s, "Write Save Data Error!!!(" + std::to_string(i) + ")");
            CloseCurrentFile(s);
            return -1;
        }
        s.RestoredUnits = i + 1;
        s.Result.ChunksDone = s.RestoredUnits;
        s.Result.BytesDone += kSaveUnitBytes;
    }
    // Memory smaller than the range repeats, and each unit reads back right
    // after it is written, so a later unit can overwrite an earlier one
    // unseen: compare every unit with the file once all are written.
    SetStatusText(s, "Verifying...");
    s.Result.VerifyPasses += 1;
    if (std::fseek(s.CurrentFile, 0, SEEK_SET) != 0) {
        LogLine(s, "Read ErrNo=" + std::string(std::strerror(errno)));
        CloseCurrentFile(s);
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        if (int r = NextRestoreUnit(s, i, count); r != 0) return r;
        if (CompareSaveUnit(s, s.Saver.StartUnit + i) != 0 || !AdapterStillAnswers(s)) {
            s.RestoreMismatchUnit = i;
            LogLine(s, "Verify Save Data Error!!!(" + std::to_string(i) + ")");
            CloseCurrentFile(s);
            return -1;
        }
    }
    CloseCurrentFile(s);
    ReportCompleted(s, "Write ok");
    return 0;
}

OperationResult SReadClick(OpsState& s) {
    OperationFrame frame(s);
    if (SelectSaver(s) != 0) return frame.Finish();
    if (!ChooseBackupFile(s, "Backup Saver Cancel")) {
        frame.Cancel();
        return frame.Finish();
    }
    if (frame.Conclude(BackupSave(s, frame))) {
        LogLine(s, kSaverSizes[s.Saver.SizeIndex].backupMessage);
        SetStatusText(s, "OK");
    } else {
        LogLine(s, "Backup Saver Error!!!");
        SetStatusText(s, "Read Error!!!");
    }
    frame.End();
    return frame.Finish();
}

OperationResult SWriteClick(OpsState& s) {
    OperationFrame frame(s);
    s.RestoredUnits = 0;
    s.RestoredPartOfUnit = false;
    s.RestoreMismatchUnit = -1;
    if (SelectSaver(s) != 0) return frame.Finish();
    std::optional<std::string> file = s.UI->ChooseFile(FileDialog::OpenFile);
    if (!file) {
        frame.Cancel();
        return frame.Finish();
    }
    ResetProgress(s);
    s.CurrentFilePath = *file;
    LogLine(s, "FileName = " + *file);
    if (OpenImageForRead(s) != 0) return frame.Finish();

    const long long length = CurrentFileLength(s);
    LogLine(s, "FileSize = " + std::to_string(length));
    if (length < kSaveUnitBytes || length % kSaveUnitBytes != 0 || length > kSaveMaxBytes) {
        LogLine(s, "File Size Error!!!");
        CloseCurrentFile(s);
        return frame.Finish();
    }
    std::int32_t size = static_cast<std::int32_t>(length);
    if (s.Saver.UnitCount < length / kSaveUnitBytes) {
        size = s.Saver.UnitCount * kSaveUnitBytes;
        LogLine(s, kSaverSizes[s.Saver.SizeIndex].cutMessage);
    }
    // A file larger than the memory would wrap round onto its own start, and
    // the save already there would be lost before the compare could tell.
    if (s.FoundSaveSizeIndex >= 0 && size > kSaverSizes[s.FoundSaveSizeIndex].units * kSaveUnitBytes) {
        LogLine(s, std::string("Save Memory Is ") + kSaverSizes[s.FoundSaveSizeIndex].item +
                       ": File Too Large, Nothing Written!!!");
        SetStatusText(s, "Write Error!!!");
        CloseCurrentFile(s);
        return frame.Finish();
    }
    frame.Begin();
    if (frame.Conclude(RestoreSave(s, size))) {
        SetStatusText(s, "Write Ok");
        LogLine(s, "Write Saver Ok");
    } else {
        SetStatusText(s, "Write Error!!!");
    }
    frame.End();
    return frame.Finish();
}

}  // namespace rombolt
