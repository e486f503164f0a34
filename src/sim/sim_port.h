// The simulated printer port, adapter and cartridge: a port back end that
// answers the four port primitives the way a real printer port with the
// adapter and a cartridge attached would. It is the test bed of every
// operation and the default back end for users without hardware.
//
// What it models (the program only ever sees port reads and writes):
//
// Printer port, at each base in SimConfig::bases:
//   base+0 data latch, base+1 status, base+2 control (values written whole),
//   base+3 EPP address cycle, base+4 EPP data cycle (a 16-bit access there is
//   two byte cycles, low byte first). Status bits 1, 2 and 7 carry noise; bits
//   3-6 carry the nibble the adapter drives (all ones when nothing drives
//   them); bit 0 reads 1 while an EPP time-out is latched, noise otherwise.
//   EPP cycles (an EPP 1.9 port): control bits 1 (auto-feed, the data
//   strobe) and 3 (select-in, the address strobe) must be 0, or the cycle gets
//   no answer; a read needs bit 0 (strobe, nWrite) at 0 too, or the adapter
//   takes it for a write of the floating lines (0xFF), and bit 5 (direction)
//   at 0, or the port does not sample the lines (0xFF). A cycle nobody
//   answers latches the time-out (status bit 0); while it is latched the port
//   runs no EPP cycle (reads 0xFF) until a status write with bit 0 set
//   clears it. The time-out is latched when the port is first used.
//   On an SPP-only port EPP cycles do nothing and EPP reads give 0xFF; on an
//   EPP-only port SPP strobes do not reach the adapter and nibbles read ones.
//
// Adapter (five registers):
//   An SPP address strobe (control := 0x09 with the register number on the
//   data lines) or an EPP address cycle selects register 0..4. An SPP data
//   strobe (control := 0x03) or an EPP data cycle writes the selected
//   register. Reads: SPP nibble cycles (control 0x02 latches a byte and shows
//   its low half, 0x06 its high half) or EPP data reads. Bit 6 of the access
//   mode decides which of the two the adapter answers: with bit 6 set EPP
//   reads float (0xFF), with it clear the nibble lines float (reads 0xFF).
//   Registers 0-2: 24-bit cart address; 4: access mode; 3: cart data window.
//   Mode (bit 6 ignored) 0x07 ROM access: a word is two byte transfers, low
//   then high, the address advancing after the high byte. 0x83 save access:
//   one save byte per transfer, address + 1 each. 0x03 serial access: one bit
//   (bit 0 of the low byte) per word transfer, at word address 0x800000 only,
//   address unchanged. Any other mode value disconnects the cart (reads 0xFF).
//
// Cartridge:
//   Unlock logic: the exact unlock sequence of cart word writes in ROM access
//   followed by 0xF12345 := 0x9413 opens the flash for commands (it stays
//   open while the back end lives: a power cycle is a new SimPort); the same
//   sequence followed by 0xA12345 := b selects save bank b (0..3). Any other
//   write in between starts the recognition afresh.
//   Intel command-set flash, 16 bit, one chip, or pairs of two interleaved by
//   word (even words chip 0, odd words chip 1); `strata-128M`/`vela-128M` are
//   two pairs of 4 MiB chips, the second at word 0x400000;
//   `strata-128M-one-pair`/`vela-128M-one-pair` one pair of 8 MiB chips
//   (device code 0x17). Commands are the
//   low byte of the written word: 0xFF read array, 0x70 read status, 0x50
//   clear status, 0x90/0x98 query (CFI table: 0x89 at word 0, the device
//   code at word 1, "QRY" at 0x10-0x12, size, buffer size and geometry), 0x20
//   then 0xD0 block erase (128 KiB blocks per chip; erase starts only when
//   the 0xD0 lands inside the block that 0x20 named), 0xE8 write to buffer
//   (answers the extended status, bit 7 = buffer free; then count N-1 <= 0x0F;
//   then N data words inside the block that 0xE8 named; then 0xD0 at any
//   address of the chip, e.g. the first word of the next block), 0x40/0x10
//   single word program. Programming stores old AND new. After a program,
//   erase or 0x70 every read of the chip answers status until 0xFF; status,
//   extended status and query answers are chip-wide. An invalid command
//   sequence (anything but 0xD0 where an erase or buffer confirm is due, a
//   count above 0x0F where the count is due, read array included, a data
//   word outside the block) sets status bits 4 and 5 and keeps the chip in
//   status mode, read array included, until 0x50; while bits 4 and 5 are set
//   0xE8 is refused (extended status bit 7 stays clear). A busy chip
//   (program or erase running) ignores every command but 0x70 and answers
//   status with bit 7 clear; busy time is counted in reads of that chip
//   (SimConfig::busyProgram / busyErase). Addresses beyond the flash mirror it.
//   `rom`: mask ROM bytes, then every word beyond the end reads as the low 16
//   bits of its word address; writes go nowhere. `none`: adapter without a
//   cartridge: the multiplexed bus floats back the address likewise.
//   Save memory: byte wide, up to 4 banks of 64 KiB, offset = register 1 << 8 |
//   register 0; sizes below 64 KiB mirror inside the bank, sizes below 256 KiB
//   mirror across banks; `none` reads a different value each time.
//   Vela carts: in serial access at 0x800000 the 9-bit read command (1, 1, six
//   block bits, 0) loads the answer 0,0,0,1 followed by 64 bits equal to bit 0
//   of the save bytes at 0x200, 0x202, ... 0x27E of the current bank (as the
//   word reads of the line test see them); 9 zero bits end it. Strata carts
//   answer zeros.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "port/ioport.h"

namespace rombolt {

struct SimConfig {
    // single-32M, single-64M, single-128M, strata-64M, strata-128M,
    // strata-128M-one-pair, strata-256M, vela-64M, vela-128M,
    // vela-128M-one-pair, vela-256M, rom, none.
    std::string model = "strata-256M";
    // none, 8K, 32K, 64K, 128K, 256K.
    std::string save = "64K";
    // Printer port bases at which a port with the adapter answers.
    std::vector<int> bases = {0x378, 0x278, 0x3BC};
    bool sppOnly = false;        // EPP cycles do nothing on these ports
    bool eppOnly = false;        // SPP cycles do not reach the adapter (EPP works)
    bool adapterPresent = true;  // false: nothing is plugged in, reads float
    // The port's EPP time-out bit (status bit 0) is set when the program first
    // touches the port, as a previous user or the firmware may have left it.
    bool eppTimeoutAtStart = true;
    // Reads of a chip that answer "busy" after a buffer/word program and
    // after a block erase confirm.
    int busyProgram = 1;
    int busyErase = 16;

    // Fault injection; -1 / 0 = off.
    int faultProgramErrorChunk = -1;  // programs into this 32 KiB chunk fail (status 0x90)
    int faultEraseStuckChunk = -1;    // the erase of the block holding it never ends
    int faultLockedChunk = -1;        // its block is locked: erase 0xA2, program 0x92
    long faultFlipEvery = 0;          // every Nth flash/ROM array word or save byte read has a bit flipped
    long faultVanishAfter = 0;        // the adapter stops answering after N port accesses

    std::uint32_t noiseSeed = 0x2545F491u;
    // `rom` model: the mask ROM's bytes. Flash models: initial flash content
    // (copied to the start, the rest reads 0xFF). Empty: all 0xFF.
    std::vector<std::uint8_t> rom;
};

// Static facts of a model name.
struct SimModelInfo {
    enum class Kind : std::uint8_t { Flash, Rom, None };
    Kind kind = Kind::None;
    int chips = 0;                // flash chips in total (1, 2 or 4)
    bool interleaved = false;     // chips paired word by word
    std::uint8_t deviceCode = 0;  // 0x16, 0x17, 0x18
    bool vela = false;
    std::uint32_t capacityBytes = 0;  // flash models
};
// False for an unknown model name.
bool LookupSimModel(const std::string& name, SimModelInfo& info);
// Bytes for a save size name ("none" -> 0); -1 for an unknown name.
long SaveSizeBytes(const std::string& name);
// Both lists, for messages and help texts.
const std::vector<std::string>& SimModelNames();
const std::vector<std::string>& SimSaveNames();

class SimPort final : public PortBackend {
public:
    // An in-memory cart. An invalid model or save name gives the `none` cart
    // without save memory; check with Valid().
    explicit SimPort(const SimConfig& config);
    ~SimPort() override;

    // Loads DIR/cart.ini, DIR/flash.bin and DIR/save.bin (see cart_dir.h),
    // the files read straight into the model's memory. Changes are written
    // back, each file atomically and only when changed, whenever the control
    // register receives the idle value 0x04, on Persist and Flush and in the
    // destructor. Null with a message on failure. Opening takes no lock: a
    // program that shares the cart with others holds a PortLock on DIR from
    // before Open until after its last write-back.
    static std::unique_ptr<SimPort> Open(const std::string& dir, std::string& error);
    bool Flush(std::string& error);
    // Whether the cart's files are no longer those this cart was loaded from
    // or last wrote back (another program wrote the cart, or a user changed
    // cart.ini): a program keeping the cart open between operations loads it
    // afresh then.
    bool FilesChanged() const;
    // Drops the changes not yet written back: the files hold the cart now.
    void ForgetChanges() { flashDirty_ = saveDirty_ = false; }

    struct FileStamp {
        bool exists = false;
        std::uint64_t device = 0, inode = 0;
        long long size = 0, changedNs = 0;
        bool operator==(const FileStamp&) const = default;
    };
    // Why the last automatic write-back (at idle or close) failed; empty
    // after a successful one. Front ends show it, since the port cannot.
    const std::string& WriteBackError() const { return writeBackError_; }

    std::uint8_t inb(std::uint16_t port) override;
    void outb(std::uint16_t port, std::uint8_t value) override;
    std::uint16_t inw(std::uint16_t port) override;
    void outw(std::uint16_t port, std::uint16_t value) override;
    std::string Name() const override { return "sim:" + config_.model; }
    // Writes the cart's files back now (see Open): an operation reports
    // success only once its changes are on disk.
    bool Persist(std::string& why) override;

    // ---- inspection and set-up for tests and tools ----
    bool Valid() const { return valid_; }
    const SimConfig& Config() const { return config_; }
    const SimModelInfo& Model() const { return info_; }
    const std::string& Directory() const { return dir_; }
    // Flash (or ROM) bytes in cart order: byte offset = 2 x word address,
    // words little-endian. Changing them directly is allowed (no flush mark:
    // call MarkDirty for that).
    std::vector<std::uint8_t>& Flash() { return flash_; }
    // Save memory bytes, bank b at b x 64 KiB.
    std::vector<std::uint8_t>& Save() { return save_; }
    void MarkDirty() { flashDirty_ = saveDirty_ = true; }

    int ChipCount() const { return info_.chips; }
    int BlocksPerChip() const { return blocksPerChip_; }
    // Completed erases of block `block` (128 KiB) of chip `chip`, and in total.
    int EraseCount(int chip, int block) const;
    long TotalEraseCount() const { return totalErases_; }
    // Confirmed buffer programs (all chips).
    long BufferProgramCount() const { return bufferPrograms_; }
    bool ChipInReadArray(int chip) const;
    bool AllChipsInReadArray() const;
    bool ChipBusy(int chip) const;
    // Status register of a chip as a read would show it when not busy.
    std::uint8_t ChipStatus(int chip) const;
    // Chip index and block of a cart word address (after mirroring).
    int ChipOfWord(std::uint32_t wordAddress) const;
    int BlockOfWord(std::uint32_t wordAddress) const;

    bool FlashOpen() const { return flashOpen_; }
    int SaveBank() const { return saveBank_; }
    std::uint32_t CartAddress() const { return addr_; }
    std::uint8_t AccessMode() const { return mode_; }
    std::uint8_t ControlValue() const { return ctl_; }
    long long PortAccesses() const { return accesses_; }
    long ArrayReads() const { return arrayReads_; }

    // Changes the busy counts from now on (slow chips in tests).
    void SetBusyCounts(int program, int erase) {
        config_.busyProgram = program;
        config_.busyErase = erase;
    }
    // Unplugs (false) or plugs in (true) the adapter.
    void SetAdapterPresent(bool present) { config_.adapterPresent = present; }

private:
    enum class ChipMode : std::uint8_t {
        ReadArray,
        Status,
        Query,
        EraseSetup,
        BufferCount,    // after 0xE8: waiting for N-1
        BufferData,     // collecting N words
        BufferConfirm,  // waiting for 0xD0
        BufferRefused,  // 0xE8 while bits 4+5 set: answers extended status 0x00
        WordProgram,    // after 0x40/0x10
    };
    struct Chip {
        ChipMode mode = ChipMode::ReadArray;
        std::uint8_t errors = 0;   // sticky status bits 1,3,4,5
        bool badSequence = false;  // invalid command sequence: status mode until 0x50
        long busy = 0;             // reads that still answer busy
        bool stuck = false;        // busy forever
        int pendingEraseBlock = -1;
        int cmdBlock = -1;  // block named by 0x20 / 0xE8
        int bufCount = 0, bufFill = 0;
        std::array<std::uint32_t, 32> bufAddr{};
        std::array<std::uint16_t, 32> bufData{};
    };

    bool Answers(std::uint16_t port, int& reg) const;
    bool SppReachesAdapter() const { return AdapterHere() && !config_.eppOnly; }
    bool AdapterHere() const {
        return config_.adapterPresent &&
               (config_.faultVanishAfter <= 0 || accesses_ <= config_.faultVanishAfter);
    }
    std::uint8_t Noise() {
        noise_ ^= noise_ << 13;
        noise_ ^= noise_ >> 17;
        noise_ ^= noise_ << 5;
        return static_cast<std::uint8_t>(noise_);
    }
    void Control(std::uint8_t value);
    bool WholeWordCycles(bool read) const;
    bool EppCycleAnswered();
    void EppToAdapter(int reg, std::uint8_t value);
    std::uint8_t EppRead(int reg);
    std::uint8_t ReadCycle();
    void WriteCycle(std::uint8_t value);
    void AdvanceAddress() { addr_ = (addr_ + 1) & 0xFFFFFF; }

    std::uint16_t BusRead(std::uint32_t word);
    void BusWrite(std::uint32_t word, std::uint16_t value);
    void UnlockWatch(std::uint32_t word, std::uint16_t value);
    std::uint16_t FlashRead(std::uint32_t word);
    void FlashWrite(std::uint32_t word, std::uint16_t value);
    std::uint16_t ArrayWord(std::uint32_t e) const {
        return static_cast<std::uint16_t>(flash_[2 * e] | (flash_[2 * e + 1] << 8));
    }
    void ProgramWord(std::uint32_t e, std::uint16_t value);
    void FinishBusy(int chipIndex, Chip& c);
    void EraseBlock(int chipIndex, int block);
    std::uint16_t QueryWord(int chipIndex, std::uint32_t e) const;
    int ChipWord(std::uint32_t e) const;  // word index inside its chip

    std::uint8_t SaveRead(std::uint32_t offset);
    void SaveWrite(std::uint32_t offset, std::uint8_t value);
    std::size_t SaveIndex(std::uint32_t offset) const;
    std::uint8_t SerialRead();
    void SerialWrite(int bit);
    std::uint16_t Flip(std::uint16_t v, int width);

    void MarkChunkFaults(int chunk, std::vector<std::uint8_t>& table);
    bool WriteBack(std::string& error);

    SimConfig config_;
    SimModelInfo info_;
    bool valid_ = true;
    std::string dir_;

    std::vector<std::uint8_t> flash_;
    std::vector<std::uint8_t> save_;
    std::uint32_t flashWords_ = 0;  // power of two (flash models)
    std::uint32_t chipWords_ = 0;
    int pairWordsShift_ = 0;  // log2 of the words of an interleaved pair
    int blocksPerChip_ = 0;
    std::array<Chip, 4> chips_{};
    std::array<std::uint16_t, 256> query_{};
    std::vector<int> eraseCounts_;            // chips x blocksPerChip
    std::vector<std::uint8_t> lockedBlocks_;  // chips x blocksPerChip
    std::vector<std::uint8_t> stuckBlocks_;   // chips x blocksPerChip
    long totalErases_ = 0;
    long bufferPrograms_ = 0;

    // port and adapter
    std::array<int, 8> bases_{};
    int baseCount_ = 0;
    std::uint8_t data_ = 0;
    std::uint8_t ctl_ = 0x04;
    bool eppTimeout_ = false;
    std::uint8_t reg_ = 0;
    std::uint8_t mode_ = 0;
    std::uint32_t addr_ = 0;
    bool highPhase_ = false;  // next register-3 byte is a word's high byte
    std::uint8_t lowLatch_ = 0;
    std::uint16_t wordLatch_ = 0;
    std::uint8_t nibbleByte_ = 0xFF;
    std::uint32_t noise_;
    long long accesses_ = 0;
    long flipCounter_ = 0;
    long arrayReads_ = 0;

    // unlock recognition
    int unlockStep_ = 0;
    int unlockRepeat_ = 0;
    bool flashOpen_ = false;
    int saveBank_ = 0;

    // Vela serial responder
    std::uint32_t serialShift_ = 0;
    int serialBits_ = 0;
    std::uint8_t answer_[68] = {};
    int answerPos_ = 68;

    bool flashDirty_ = false;
    bool saveDirty_ = false;
    std::string writeBackError_;
    std::array<FileStamp, 3> stamps_{};  // cart.ini, flash.bin, save.bin
};

}  // namespace rombolt
