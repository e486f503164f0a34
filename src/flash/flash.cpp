#include "flash/flash.h"

#include <algorithm>
#include <chrono>

#include "core/operation.h"
#include "link/cartbus.h"
#include "link/link.h"

namespace rombolt {

namespace {

// Intel command set.
constexpr std::uint16_t kCmdReadArray = 0xFF;
constexpr std::uint16_t kCmdReadStatus = 0x70;
constexpr std::uint16_t kCmdClearStatus = 0x50;
constexpr std::uint16_t kCmdEraseSetup = 0x20;
constexpr std::uint16_t kCmdConfirm = 0xD0;
constexpr std::uint16_t kCmdWriteToBuffer = 0xE8;
constexpr std::uint16_t kBufferCountMinusOne = 0x0F;  // 16 words per chip

constexpr std::uint16_t kReady = 0x0080;
constexpr std::uint16_t kBothReady = 0x8080;
constexpr int kPumpEvery = 1024;
constexpr int kWordsPerChipBuffer = 16;
constexpr int kPagesPerChunk = 64;
constexpr int kPageWords = 256;

bool Interleaved(const FlashState& s) { return s.Cart.Interleaved != 0; }

// Each pair of chips of a two-pair cart answers in one 8 MiB quarter of the
// cart's word addresses.
constexpr std::uint32_t kQuarterMask = 0xC00000;
constexpr std::uint32_t kQuarterWords = 0x400000;

// Word address at which status, read-array and clear-status commands reach the
// chips that hold `address`. Word 0 for a single chip and for the first 8 MiB
// of an interleaved cart. A 16 MiB cart made of two pairs has its second pair
// at word 0x400000, which commands at word 0 never reach: there the commands
// go to the start of the 8 MiB quarter that holds the address (on a cart of
// one large pair that is the same pair again, so nothing changes).
std::uint32_t CommandBase(const FlashState& s, std::uint32_t address) {
    return Interleaved(s) ? (address & kQuarterMask) : 0;
}

// Whether this poll is one where the window gets its turn and a pressed Stop is
// honoured: every 1024th poll counted down from the budget, the first included
// (and on past zero when a time floor extends the loop).
bool PollIsStopPoint(int budgetLeft) { return budgetLeft % kPumpEvery == 0; }

// The end of a poll loop that waits for a block erase. The count budget is
// the least it polls; on a fast port that is about a second of bus time, less
// than a slow block takes, so with a time floor set the loop goes on until
// the floor has passed since it began. The clock is read at the start and
// then only at stop points past the budget; without a floor the budget alone
// decides.
class EraseDeadline {
public:
    explicit EraseDeadline(const FlashState& s) : floor_(s.EraseTimeFloorMs), clock_(*s.EraseClock) {
        if (floor_.count() > 0) start_ = clock_.Now();
    }
    // Whether the poll with this much budget left (counting on below zero) is made.
    bool Allows(int budgetLeft) const {
        if (budgetLeft > 0) return true;
        if (floor_.count() <= 0) return false;
        return !PollIsStopPoint(budgetLeft) || clock_.Now() - start_ < floor_;
    }

private:
    std::chrono::milliseconds floor_;
    Clock& clock_;
    Clock::TimePoint start_{};
};

// Puts the chip(s) back into read-array mode, the word written to `base` and,
// when asked, a second word that follows it (the second chip of a pair).
void ReadArray(FlashState& s, std::uint32_t base, bool secondWord) {
    WriteCartWord(s, base, kCmdReadArray);
    if (secondWord) WriteDataWord(s, kCmdReadArray);
}

// Polls until the chips at `base` report ready, within the erase budget. Stop
// has been pressed already, but a chip that never gets ready keeps this going
// for the whole budget: the window still gets its turn every 1024 polls.
// A chip that is still programming or erasing takes no command
// but "read status": read array written then is lost, and the chip goes on
// answering status once it finishes. Only for chips that were sent a complete
// command (a 0x70 would be taken as part of an unfinished one).
void LetChipsFinish(FlashState& s, std::uint32_t base) {
    const bool pair = Interleaved(s);
    const std::uint16_t readyMask = pair ? kBothReady : kReady;
    const EraseDeadline deadline(s);  // the chips may be erasing
    for (int budget = kEraseBudget; deadline.Allows(budget); --budget) {
        if (PollIsStopPoint(budget)) ProcessMessages(s);
        WriteCartWord(s, base, kCmdReadStatus);
        std::uint16_t status;
        if (pair) {
            WriteDataWord(s, kCmdReadStatus);
            status = ReadStatusPair(s);
        } else {
            WriteControl(s, kCtlRead);
            status = ReadDataWord(s) & 0xFF;
        }
        if ((status & readyMask) == readyMask) return;
    }
}

// What the chips may be doing when a poll loop is stopped.
enum class Chips {
    Pending,  // an erase setup or write to buffer waits for its confirm or count
    Busy,     // a program or erase may be running
};

// The pump-and-stop test of the poll loops. Returns true when the operation
// has been stopped (the caller then returns kStopResult). A running program
// or erase cannot be called back: the stop waits for it to end so that read
// array takes. A pending command takes the read array word as its count or
// confirm, an invalid command sequence that keeps the chips in status mode
// until their status is cleared: clear it and send read array once more.
bool StopTest(FlashState& s, int budgetLeft, std::uint32_t base, bool secondWord, Chips chips) {
    if (!PollIsStopPoint(budgetLeft)) return false;
    ProcessMessages(s);
    if (!s.StopRequested) return false;
    if (chips == Chips::Busy) LetChipsFinish(s, base);
    ReadArray(s, base, secondWord);
    if (chips == Chips::Pending) {
        WriteCartWord(s, base, kCmdClearStatus);
        if (secondWord) WriteDataWord(s, kCmdClearStatus);
        ReadArray(s, base, secondWord);
    }
    ReportStop(s);
    return true;
}

// Status after the read run has been set up: both chips combined when
// interleaved, otherwise the whole word the chip presents.
std::uint16_t ReadStatus(FlashState& s) { return Interleaved(s) ? ReadStatusPair(s) : ReadDataWord(s); }

bool StatusReady(const FlashState& s, std::uint16_t status) {
    return Interleaved(s) ? (status & kBothReady) == kBothReady : (status & kReady) != 0;
}

// Loads the address of page p of chunk n with the registers written 0, 1, 2.
void SelectChunkPage(FlashState& s, std::int32_t chunk, int page) {
    WriteRegister(s, kRegAddr0, 0x00);
    WriteRegister(s, kRegAddr1, static_cast<std::uint8_t>(((chunk << 6) & 0xC0) + page));
    WriteRegister(s, kRegAddr2, static_cast<std::uint8_t>((chunk >> 2) & 0xFF));
    SelectRegister(s, kRegData);
    WriteControl(s, kCtlRead);
}

}  // namespace

std::uint16_t ReadStatusPair(FlashState& s) {
    WriteControl(s, kCtlRead);
    const std::uint16_t w1 = ReadDataWord(s);
    const std::uint16_t w2 = ReadDataWord(s);
    return static_cast<std::uint16_t>((w1 & 0xFF) | ((w2 & 0xFF) << 8));
}

namespace {

// The ready wait on the chips whose commands go to `base`.
int WaitReadyAt(FlashState& s, std::uint32_t base) {
    const bool pair = Interleaved(s);
    const std::uint16_t readyMask = pair ? kBothReady : kReady;
    int budget = kReadyBudget;
    std::uint16_t status = 0;
    bool success = false;
    while ((status & readyMask) != readyMask && budget > 0) {
        if (StopTest(s, budget, base, pair, Chips::Busy)) return kStopResult;
        WriteCartWord(s, base, kCmdReadStatus);
        if (pair) {
            WriteDataWord(s, kCmdReadStatus);  // second chip, base + 1
            status = ReadStatusPair(s);        // base + 2 and base + 3
        } else {
            WriteControl(s, kCtlRead);
            status = ReadDataWord(s) & 0xFF;
        }
        success = status == readyMask;
        --budget;
    }
    ReadArray(s, base, pair);
    if (success) return 0;
    if (pair) {
        if (status & 0x7F7F) {
            WriteDataWord(s, kCmdClearStatus);
            WriteDataWord(s, kCmdClearStatus);
        }
    } else if (status & 0x7F) {
        WriteControl(s, kCtlSelect);
        WriteDataWord(s, kCmdClearStatus);  // lands at base + 1, still the same chip
    }
    return -1;
}

}  // namespace

int WaitFlashReady(FlashState& s) { return WaitReadyAt(s, 0); }

int EraseFlashBlock(FlashState& s, std::uint32_t d) {
    const std::uint32_t base = CommandBase(s, d);
    // A stop inside this wait is reported there; the erase itself did not start.
    if (WaitReadyAt(s, base) & 0xFF) return -1;

    const bool pair = Interleaved(s);
    std::uint16_t status = 0;
    bool accepted = false;
    // Setup: repeat the setup command to each chip until that chip reports ready.
    for (int budget = kEraseBudget; !accepted && budget > 0; --budget) {
        if (!(status & 0x0080)) WriteCartWord(s, d, kCmdEraseSetup);
        if (pair && !(status & 0x8000)) WriteCartWord(s, d + 1, kCmdEraseSetup);
        if (StopTest(s, budget, base, pair, Chips::Pending)) return kStopResult;
        WriteRegister(s, kRegAddr0, 0x00);
        SelectRegister(s, kRegData);
        WriteControl(s, kCtlRead);
        status = ReadStatus(s);
        accepted = StatusReady(s, status);
    }

    bool done = false;
    if (accepted) {
        WriteCartWord(s, d, kCmdConfirm);
        if (pair) WriteDataWord(s, kCmdConfirm);
        // The reads run on from the word after the confirm word(s); any address
        // in the block presents the status. On a cart of two pairs the run
        // would leave this pair's quarter after at most 65535 polls and read
        // the other pair, whose erased flash in read-array mode looks
        // "ready": the address goes back to the block before that happens.
        std::uint32_t next = d + 2;
        const std::uint32_t quarterEnd = (d & kQuarterMask) + kQuarterWords;
        const EraseDeadline deadline(s);
        for (int budget = kEraseBudget; !done && deadline.Allows(budget); --budget) {
            if (StopTest(s, budget, base, true, Chips::Busy)) return kStopResult;
            if (s.Cart.TwoPairs && next + 2 > quarterEnd) {
                SetCartAddress(s, d);
                SelectRegister(s, kRegData);
                next = d;
            }
            WriteControl(s, kCtlRead);
            status = ReadStatus(s);
            next += 2;
            done = StatusReady(s, status);
        }
    }

    ReadArray(s, base, pair);
    if (done) return 0;
    WriteDataWord(s, kCmdClearStatus);
    if (pair) WriteDataWord(s, kCmdClearStatus);
    return -1;
}

int ProgramBuffer(FlashState& s, std::uint32_t chunkStart, std::uint32_t offset) {
    const bool pair = Interleaved(s);
    const std::uint32_t at = chunkStart + offset;
    const std::uint32_t base = CommandBase(s, chunkStart);
    std::uint16_t status = 0;
    bool available = false;
    for (int budget = kReadyBudget; !available && budget > 0; --budget) {
        if (!(status & 0x0080)) WriteCartWord(s, chunkStart, kCmdWriteToBuffer);
        if (pair && !(status & 0x8000)) WriteCartWord(s, chunkStart + 1, kCmdWriteToBuffer);
        if (StopTest(s, budget, base, pair, Chips::Pending)) return kStopResult;
        SetCartAddress(s, at);
        SelectRegister(s, kRegData);
        WriteControl(s, kCtlRead);
        status = ReadStatus(s);
        available = StatusReady(s, status);
    }
    if (!available) return -1;

    WriteCartWord(s, at, kBufferCountMinusOne);
    if (pair) WriteDataWord(s, kBufferCountMinusOne);
    SetCartAddress(s, at);
    SelectRegister(s, kRegData);
    // Interleaved, the run alternates chips: even words to the first, odd to the second.
    const int words = pair ? 2 * kWordsPerChipBuffer : kWordsPerChipBuffer;
    for (int i = 0; i < words; ++i) WriteDataWord(s, s.ChunkBuffer.word(static_cast<int>(offset) + i));
    // The confirm follows the data. After the last buffer of a pair's range the
    // next word belongs to the other pair of a two-pair cart (or wraps to the
    // start), which would take the confirm; send it to the buffer's own address.
    if (CommandBase(s, at + static_cast<std::uint32_t>(words)) != base) {
        SetCartAddress(s, at);
        SelectRegister(s, kRegData);
    }
    WriteDataWord(s, kCmdConfirm);
    if (pair) WriteDataWord(s, kCmdConfirm);
    return WaitReadyAt(s, base);
}

namespace {

// Programs chunk n from ChunkBuffer, erasing its block first by the block rule
// when `mayErase` is set.
int ProgramChunk(FlashState& s, std::int32_t n, std::int32_t length, bool mayErase) {
    SetRomAccess(s);
    const bool pair = Interleaved(s);
    const auto start = static_cast<std::uint32_t>(n) << 14;
    const std::uint32_t base = CommandBase(s, start);
    const int bufferWords = pair ? 2 * kWordsPerChipBuffer : kWordsPerChipBuffer;
    const std::int32_t block = pair ? (n & 0xFFF8) : (n & 0xFFFC);
    const bool first = pair ? (n & 7) == 0 : (n & 3) == 0;
    // Only the low 16 bits of the length count; never program past the buffer.
    const int buffers = std::min((length & 0xFFFF) / (2 * bufferWords), kChunkWords / bufferWords);

    if (mayErase && (first || block != s.LastErasedBlock)) {
        if (EraseFlashBlock(s, start) & 0xFF) return -1;
        s.LastErasedBlock = block;
    }
    ShowProgress(s);

    for (int k = 0; k < buffers; ++k) {
        if (ProgramBuffer(s, start, static_cast<std::uint32_t>(k * bufferWords)) & 0xFF) return -1;
    }
    if (WaitReadyAt(s, base) & 0xFF) return -1;
    ReadArray(s, base, pair);
    WriteControl(s, kCtlRead);

    if (s.Config.VerifyAfterWrite) {
        // The read-back is a whole chunk of transfers by itself: the window
        // gets its turn before it, not only after it.
        ProcessMessages(s);
        return VerifyFlashChunk(s, n, length);
    }
    return 0;
}

}  // namespace

int ProgramFlashChunk(FlashState& s, std::int32_t n, std::int32_t length) {
    return ProgramChunk(s, n, length, true);
}

int ProgramBlankChunk(FlashState& s, std::int32_t n, std::int32_t length) {
    return ProgramChunk(s, n, length, false);
}

void ReadFlashChunk(FlashState& s, std::int32_t n) {
    SetRomAccess(s);
    for (int p = 0; p < kPagesPerChunk; ++p) {
        SelectChunkPage(s, n, p);
        for (int i = 0; i < kPageWords; ++i) s.ChunkBuffer.setWord(p * kPageWords + i, ReadDataWord(s));
    }
}

int VerifyFlashChunk(FlashState& s, std::int32_t n, std::int32_t length) {
    // One page per 512 bytes of the low 16 bits of the length, at most a chunk.
    const int pages = std::min((length & 0xFFFF) >> 9, kPagesPerChunk);
    SetRomAccess(s);
    ShowProgress(s);
    // A difference does not end the comparison: the rest of the chunk is read
    // so that the user learns how much of it differs.
    std::int32_t differing = 0;
    const bool first = s.FirstMismatch.Chunk < 0;
    for (int p = 0; p < pages; ++p) {
        SelectChunkPage(s, n, p);
        for (int i = 0; i < kPageWords; ++i) {
            const std::uint16_t cart = ReadDataWord(s);
            const std::uint16_t file = s.ChunkBuffer.word(p * kPageWords + i);
            if (cart == file) continue;
            if (differing++ == 0 && first) s.FirstMismatch = {n, p * kPageWords + i, cart, file, 0};
        }
    }
    if (differing == 0) return 0;
    if (first) s.FirstMismatch.DifferingWords = differing;
    return -1;
}

ChunkContent CompareFlashChunk(FlashState& s, std::int32_t n, std::int32_t length) {
    const int pages = std::min((length & 0xFFFF) >> 9, kPagesPerChunk);
    SetRomAccess(s);
    ShowProgress(s);
    bool equal = true;
    bool blank = true;
    for (int p = 0; p < pages; ++p) {
        SelectChunkPage(s, n, p);
        for (int i = 0; i < kPageWords; ++i) {
            const std::uint16_t w = ReadDataWord(s);
            equal = equal && w == s.ChunkBuffer.word(p * kPageWords + i);
            blank = blank && w == 0xFFFF;
            if (!equal && !blank) return ChunkContent::Other;
        }
    }
    return equal ? ChunkContent::Equal : ChunkContent::Blank;
}

}  // namespace rombolt
