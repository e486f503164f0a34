#include "sim/sim_port.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "sim/cart_dir.h"

namespace rombolt {

namespace {

constexpr std::uint32_t kBlockWordsShift = 16;  // 128 KiB blocks = 65536 words per chip
constexpr std::uint32_t kSerialAddress = 0x800000;
constexpr int kAnswerBits = 68;

// Control register bits. In EPP cycles the port drives the lines behind them
// itself: strobe is nWrite, auto-feed the data strobe, select-in the address
// strobe. The register still overrides them, so they must rest at 0.
constexpr std::uint8_t kCtlStrobe = 0x01;
constexpr std::uint8_t kCtlAutoFeed = 0x02;
constexpr std::uint8_t kCtlSelectIn = 0x08;
constexpr std::uint8_t kCtlDirection = 0x20;
constexpr std::uint8_t kStatusTimeout = 0x01;

struct UnlockStep {
    std::uint32_t addr;
    std::uint16_t value;
    int count;
};
// The unlock sequence as the cart sees it; the command word follows it.
constexpr UnlockStep kUnlock[] = {
    {0x987654, 0x5354, 1},   {0x012345, 0x1234, 500}, {0x007654, 0x5354, 1}, {0x012345, 0x5354, 1},
    {0x012345, 0x5678, 500}, {0x987654, 0x5354, 1},   {0x012345, 0x5354, 1}, {0x765400, 0x5678, 1},
    {0x013450, 0x1234, 1},   {0x012345, 0xABCD, 500}, {0x987654, 0x5354, 1},
};
constexpr int kUnlockSteps = static_cast<int>(sizeof(kUnlock) / sizeof(kUnlock[0]));
constexpr std::uint32_t kFlashCommandAddr = 0xF12345;
constexpr std::uint16_t kFlashCommandWord = 0x9413;
constexpr std::uint32_t kBankCommandAddr = 0xA12345;

struct ModelRow {
    const char* name;
    SimModelInfo info;
};
const ModelRow kModels[] = {
    {"single-32M", {SimModelInfo::Kind::Flash, 1, false, 0x16, false, 0x00400000}},
    {"single-64M", {SimModelInfo::Kind::Flash, 1, false, 0x17, false, 0x00800000}},
    {"single-128M", {SimModelInfo::Kind::Flash, 1, false, 0x18, false, 0x01000000}},
    {"strata-64M", {SimModelInfo::Kind::Flash, 2, true, 0x16, false, 0x00800000}},
    {"strata-128M", {SimModelInfo::Kind::Flash, 4, true, 0x16, false, 0x01000000}},
    {"strata-128M-one-pair", {SimModelInfo::Kind::Flash, 2, true, 0x17, false, 0x01000000}},
    {"strata-256M", {SimModelInfo::Kind::Flash, 2, true, 0x18, false, 0x02000000}},
    {"vela-64M", {SimModelInfo::Kind::Flash, 2, true, 0x16, true, 0x00800000}},
    {"vela-128M", {SimModelInfo::Kind::Flash, 4, true, 0x16, true, 0x01000000}},
    {"vela-128M-one-pair", {SimModelInfo::Kind::Flash, 2, true, 0x17, true, 0x01000000}},
    {"vela-256M", {SimModelInfo::Kind::Flash, 2, true, 0x18, true, 0x02000000}},
    {"rom", {SimModelInfo::Kind::Rom, 0, false, 0, false, 0}},
    {"none", {SimModelInfo::Kind::None, 0, false, 0, false, 0}},
};

// CFI query table of one chip (device code = log2 of its size in bytes).
std::array<std::uint16_t, 256> BuildQueryTable(std::uint8_t device) {
    std::array<std::uint16_t, 256> t{};
    const std::uint32_t blocks = (1u << device) >> 17;
    const std::uint16_t rows[][2] = {
        {0x00, 0x89},  // manufacturer
        {0x01, device},
        {0x10, 'Q'},
        {0x11, 'R'},
        {0x12, 'Y'},
        {0x13, 0x01},
        {0x14, 0x00},  // primary command set 0x0001
        {0x15, 0x31},
        {0x16, 0x00},  // primary extended table at 0x31
        {0x1B, 0x27},
        {0x1C, 0x36},  // Vcc 2.7-3.6 V
        {0x1F, 0x08},
        {0x20, 0x08},
        {0x21, 0x0A},  // typical word / buffer / block erase time
        {0x23, 0x04},
        {0x24, 0x04},
        {0x25, 0x04},    // maximum times (x typical)
        {0x27, device},  // size = 2^n bytes
        {0x28, 0x02},
        {0x29, 0x00},  // x8/x16 interface
        {0x2A, 0x05},
        {0x2B, 0x00},  // write buffer 2^5 = 32 bytes
        {0x2C, 0x01},  // one erase block region
        {0x2D, static_cast<std::uint16_t>((blocks - 1) & 0xFF)},
        {0x2E, static_cast<std::uint16_t>((blocks - 1) >> 8)},
        {0x2F, 0x00},
        {0x30, 0x02},  // 0x0200 x 256 bytes = 128 KiB blocks
        {0x31, 'P'},
        {0x32, 'R'},
        {0x33, 'I'},
        {0x34, '1'},
        {0x35, '1'},
        {0x36, 0x0A},
        {0x3A, 0x01},
        {0x3B, 0x01},
        {0x3D, 0x33},
    };
    for (auto& r : rows) t[r[0]] = r[1];
    return t;
}

// What tells a file's contents apart without reading it: the file itself
// (a write-back replaces it with a new one), its length and its change time.
SimPort::FileStamp StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<long long>(st.st_size),
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

// Sizes the vector's memory for n bytes without touching it, and asks for
// huge pages there: filling a 32 MiB cart then costs a few page faults
// instead of thousands.
void ReserveWithHugePages(std::vector<std::uint8_t>& v, std::size_t n) {
    v.reserve(n);
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHuge = 2u << 20;
    const auto at = reinterpret_cast<std::uintptr_t>(v.data());
    const std::uintptr_t first = (at + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (at + n) & ~(kHuge - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace

bool LookupSimModel(const std::string& name, SimModelInfo& info) {
    for (auto& m : kModels)
        if (name == m.name) {
            info = m.info;
            return true;
        }
    return false;
}

long SaveSizeBytes(const std::string& name) {
    if (name == "none") return 0;
    if (name == "8K") return 8 * 1024;
    if (name == "32K") return 32 * 1024;
    if (name == "64K") return 64 * 1024;
    if (name == "128K") return 128 * 1024;
    if (name == "256K") return 256 * 1024;
    return -1;
}

const std::vector<std::string>& SimModelNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (auto& m : kModels) v.emplace_back(m.name);
        return v;
    }();
    return names;
}

const std::vector<std::string>& SimSaveNames() {
    static const std::vector<std::string> names = {"none", "8K", "32K", "64K", "128K", "256K"};
    return names;
}

SimPort::SimPort(const SimConfig& config)
    : config_(config),
      eppTimeout_(config.eppTimeoutAtStart && !config.sppOnly),
      noise_(config.noiseSeed ? config.noiseSeed : 1) {
    if (!LookupSimModel(config_.model, info_)) {
        valid_ = false;
        info_ = SimModelInfo{};
    }
    long saveBytes = SaveSizeBytes(config_.save);
    if (saveBytes < 0) {
        valid_ = false;
        saveBytes = 0;
    }
    save_.assign(static_cast<std::size_t>(saveBytes), 0xFF);

    if (info_.kind == SimModelInfo::Kind::Flash) {
        ReserveWithHugePages(flash_, info_.capacityBytes);
        flash_.assign(info_.capacityBytes, 0xFF);
        // Preset contents (a flash cart made from a ROM file); an empty ROM leaves the flash erased.
        std::copy_n(config_.rom.begin(), std::min(config_.rom.size(), flash_.size()), flash_.begin());
        flashWords_ = info_.capacityBytes / 2;
        chipWords_ = (1u << info_.deviceCode) / 2;
        pairWordsShift_ = info_.deviceCode;  // 2 x chipWords_ words: one pair of chips
        blocksPerChip_ = static_cast<int>(chipWords_ >> kBlockWordsShift);
        const std::size_t n =
            static_cast<std::size_t>(info_.chips) * static_cast<std::size_t>(blocksPerChip_);
        eraseCounts_.assign(n, 0);
        lockedBlocks_.assign(n, 0);
        stuckBlocks_.assign(n, 0);
        MarkChunkFaults(config_.faultLockedChunk, lockedBlocks_);
        MarkChunkFaults(config_.faultEraseStuckChunk, stuckBlocks_);
        const auto table = BuildQueryTable(info_.deviceCode);
        std::copy(table.begin(), table.end(), query_.begin());
    } else if (info_.kind == SimModelInfo::Kind::Rom) {
        flash_ = config_.rom;
    }
    config_.rom.clear();
    config_.rom.shrink_to_fit();

    for (int b : config_.bases)
        if (baseCount_ < static_cast<int>(bases_.size())) bases_[baseCount_++] = b;
}

SimPort::~SimPort() {
    std::string ignored;
    if (!dir_.empty()) WriteBack(ignored);
}

void SimPort::MarkChunkFaults(int chunk, std::vector<std::uint8_t>& table) {
    if (chunk < 0 || flashWords_ == 0) return;
    const std::uint32_t first = (static_cast<std::uint32_t>(chunk) << 14) & (flashWords_ - 1);
    // A chunk lies inside one block of each chip it touches (both chips of a pair).
    for (std::uint32_t w = first; w < first + (info_.interleaved ? 2u : 1u); ++w)
        table[static_cast<std::size_t>(ChipOfWord(w) * blocksPerChip_ + BlockOfWord(w))] = 1;
}

// ---------------------------------------------------------------- port

bool SimPort::Answers(std::uint16_t port, int& reg) const {
    for (int i = 0; i < baseCount_; ++i) {
        const int r = static_cast<int>(port) - bases_[i];
        if (r >= 0 && r <= 4) {
            reg = r;
            return true;
        }
    }
    return false;
}

std::uint8_t SimPort::inb(std::uint16_t port) {
    ++accesses_;
    int r;
    if (!Answers(port, r)) return 0xFF;
    switch (r) {
        case 0:
            return data_;
        case 1: {
            std::uint8_t lines = 0x0F;  // pulled up when nothing drives them
            if ((ctl_ == 0x02 || ctl_ == 0x06) && SppReachesAdapter() && (mode_ & 0x40))
                lines = ctl_ == 0x02 ? (nibbleByte_ & 0x0F) : (nibbleByte_ >> 4);
            // Bit 0 reads 1 while an EPP time-out is latched; otherwise it
            // carries noise like bits 1, 2 and 7.
            std::uint8_t v = static_cast<std::uint8_t>((Noise() & 0x87) | (lines << 3));
            if (eppTimeout_) v |= kStatusTimeout;
            return v;
        }
        case 2:
            return ctl_;
        default:
            return EppRead(r);
    }
}

std::uint16_t SimPort::inw(std::uint16_t port) {
    ++accesses_;
    int r;
    if (!Answers(port, r) || r != 4) return 0xFFFF;
    if (reg_ == 3 && mode_ == 0x07 && !highPhase_ && WholeWordCycles(true)) {
        // A whole word in ROM access, as the two byte cycles below would read it.
        wordLatch_ = BusRead(addr_);
        AdvanceAddress();
        return wordLatch_;
    }
    const std::uint8_t lo = EppRead(4);
    const std::uint8_t hi = EppRead(4);
    return static_cast<std::uint16_t>(lo | (hi << 8));
}

void SimPort::outb(std::uint16_t port, std::uint8_t value) {
    ++accesses_;
    int r;
    if (!Answers(port, r)) return;
    switch (r) {
        case 0:
            data_ = value;
            break;
        case 1:
            if (value & kStatusTimeout) eppTimeout_ = false;  // write one to clear
            break;
        case 2:
            Control(value);
            break;
        default:
            if (EppCycleAnswered()) EppToAdapter(r, value);
            break;
    }
}

void SimPort::outw(std::uint16_t port, std::uint16_t value) {
    ++accesses_;
    int r;
    if (!Answers(port, r) || r != 4) return;
    if (reg_ == 3 && (mode_ & ~0x40) == 0x07 && !highPhase_ && WholeWordCycles(false)) {
        // A whole word in ROM access, as the two byte cycles below would write it.
        lowLatch_ = static_cast<std::uint8_t>(value);
        BusWrite(addr_, value);
        AdvanceAddress();
        return;
    }
    if (EppCycleAnswered()) EppToAdapter(4, static_cast<std::uint8_t>(value & 0xFF));
    if (EppCycleAnswered()) EppToAdapter(4, static_cast<std::uint8_t>(value >> 8));
}

bool SimPort::WholeWordCycles(bool read) const {
    // Both byte cycles of the word run plainly: EPP hardware, no latched
    // time-out, strobe lines free, the adapter there; a read also needs the
    // port's lines turned towards the adapter's answer.
    if (config_.sppOnly || eppTimeout_ || (ctl_ & (kCtlAutoFeed | kCtlSelectIn)) != 0) return false;
    if (read && (ctl_ & (kCtlStrobe | kCtlDirection)) != 0) return false;
    return AdapterHere();
}

bool SimPort::EppCycleAnswered() {
    // No EPP hardware, or a latched time-out: the port runs no cycle at all.
    if (config_.sppOnly || eppTimeout_) return false;
    // A strobe line held active by the control register gives the adapter no
    // strobe edge, and nothing answers an unplugged port: the port waits for
    // the handshake in vain and latches a time-out.
    if ((ctl_ & (kCtlAutoFeed | kCtlSelectIn)) != 0 || !AdapterHere()) {
        eppTimeout_ = true;
        return false;
    }
    return true;
}

void SimPort::EppToAdapter(int reg, std::uint8_t value) {
    if (reg == 3) {  // address cycle
        reg_ = value;
        highPhase_ = false;
    } else {
        WriteCycle(value);
    }
}

std::uint8_t SimPort::EppRead(int reg) {
    if (!EppCycleAnswered()) return 0xFF;
    // nWrite held low by the strobe bit: the adapter takes the cycle for a
    // write and latches the lines, which nobody drives (0xFF).
    if (ctl_ & kCtlStrobe) {
        EppToAdapter(reg, 0xFF);
        return 0xFF;
    }
    std::uint8_t v = 0xFF;  // an adapter in SPP answer mode leaves the lines floating
    if (reg == 3)
        v = reg_;
    else if (!(mode_ & 0x40))
        v = ReadCycle();
    // With the direction bit set the port's EPP read does not sample the
    // lines the adapter drives.
    return (ctl_ & kCtlDirection) ? 0xFF : v;
}

void SimPort::Control(std::uint8_t value) {
    const std::uint8_t prev = ctl_;
    ctl_ = value;
    if (value == 0x04) {  // the adapter goes idle: a good moment to persist
        if (!dir_.empty() && (flashDirty_ || saveDirty_)) {
            std::string ignored;
            WriteBack(ignored);
        }
        return;
    }
    if (!SppReachesAdapter()) return;
    switch (value) {
        case 0x09:  // SPP address strobe
            if (prev != 0x09) {
                reg_ = data_;
                highPhase_ = false;
            }
            break;
        case 0x03:  // SPP data strobe
            if (prev != 0x03) WriteCycle(data_);
            break;
        case 0x02:
        case 0x06:  // nibble read: one read cycle when the read phase begins
            if (prev != 0x02 && prev != 0x06 && (mode_ & 0x40)) nibbleByte_ = ReadCycle();
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------- adapter

std::uint8_t SimPort::ReadCycle() {
    switch (reg_) {
        case 0:
            return static_cast<std::uint8_t>(addr_);
        case 1:
            return static_cast<std::uint8_t>(addr_ >> 8);
        case 2:
            return static_cast<std::uint8_t>(addr_ >> 16);
        case 4:
            return mode_;
        case 3:
            break;
        default:
            return 0xFF;
    }
    switch (mode_ & ~0x40) {
        case 0x07:  // ROM access: word = low byte, high byte
            if (!highPhase_) {
                wordLatch_ = BusRead(addr_);
                highPhase_ = true;
                return static_cast<std::uint8_t>(wordLatch_);
            }
            highPhase_ = false;
            AdvanceAddress();
            return static_cast<std::uint8_t>(wordLatch_ >> 8);
        case 0x83: {  // save access: one byte per transfer
            const std::uint8_t v = SaveRead(addr_ & 0xFFFF);
            AdvanceAddress();
            return v;
        }
        case 0x03:  // serial access: bit 0 of the word's low byte
            if (!highPhase_) {
                highPhase_ = true;
                return SerialRead();
            }
            highPhase_ = false;
            return 0;
        default:
            return 0xFF;
    }
}

void SimPort::WriteCycle(std::uint8_t value) {
    switch (reg_) {
        case 0:
            addr_ = (addr_ & 0xFFFF00) | value;
            highPhase_ = false;
            return;
        case 1:
            addr_ = (addr_ & 0xFF00FF) | (static_cast<std::uint32_t>(value) << 8);
            highPhase_ = false;
            return;
        case 2:
            addr_ = (addr_ & 0x00FFFF) | (static_cast<std::uint32_t>(value) << 16);
            highPhase_ = false;
            return;
        case 4:
            mode_ = value;
            highPhase_ = false;
            serialBits_ = 0;
            serialShift_ = 0;
            return;
        case 3:
            break;
        default:
            return;
    }
    switch (mode_ & ~0x40) {
        case 0x07:
            if (!highPhase_) {
                lowLatch_ = value;
                highPhase_ = true;
                return;
            }
            highPhase_ = false;
            BusWrite(addr_, static_cast<std::uint16_t>(lowLatch_ | (value << 8)));
            AdvanceAddress();
            return;
        case 0x83:
            SaveWrite(addr_ & 0xFFFF, value);
            AdvanceAddress();
            return;
        case 0x03:
            if (!highPhase_) {
                lowLatch_ = value;
                highPhase_ = true;
                return;
            }
            highPhase_ = false;
            SerialWrite(lowLatch_ & 1);
            return;
        default:
            return;
    }
}

// ---------------------------------------------------------------- cart bus

std::uint16_t SimPort::Flip(std::uint16_t v, int width) {
    if (config_.faultFlipEvery > 0 && ++flipCounter_ % config_.faultFlipEvery == 0)
        v ^= static_cast<std::uint16_t>(1u << ((flipCounter_ / config_.faultFlipEvery) % width));
    return v;
}

std::uint16_t SimPort::BusRead(std::uint32_t word) {
    switch (info_.kind) {
        case SimModelInfo::Kind::Flash:
            return FlashRead(word);
        case SimModelInfo::Kind::Rom: {
            const std::size_t b = 2 * static_cast<std::size_t>(word);
            if (b + 1 < flash_.size()) {
                ++arrayReads_;
                return Flip(static_cast<std::uint16_t>(flash_[b] | (flash_[b + 1] << 8)), 16);
            }
            if (b < flash_.size()) return static_cast<std::uint16_t>(flash_[b] | (word & 0xFF00));
            return static_cast<std::uint16_t>(word & 0xFFFF);  // open bus: the address floats back
        }
        default:
            return static_cast<std::uint16_t>(word & 0xFFFF);
    }
}

void SimPort::BusWrite(std::uint32_t word, std::uint16_t value) {
    // The unlock logic listens to every cart write; a recognised command word
    // is consumed by it.
    if (unlockStep_ == kUnlockSteps) {
        unlockStep_ = 0;
        unlockRepeat_ = 0;
        if (word == kFlashCommandAddr && value == kFlashCommandWord) {
            flashOpen_ = true;
            return;
        }
        if (word == kBankCommandAddr && value <= 3) {
            saveBank_ = value;
            return;
        }
    }
    const UnlockStep& st = kUnlock[unlockStep_];
    if (word == st.addr && value == st.value) {
        if (++unlockRepeat_ == st.count) {
            ++unlockStep_;
            unlockRepeat_ = 0;
        }
    } else {
        unlockStep_ = 0;
        unlockRepeat_ = 0;
        if (word == kUnlock[0].addr && value == kUnlock[0].value) unlockStep_ = 1;
    }
    if (info_.kind == SimModelInfo::Kind::Flash && flashOpen_) FlashWrite(word, value);
}

// ---------------------------------------------------------------- flash

int SimPort::ChipOfWord(std::uint32_t e) const {
    if (!info_.interleaved || chipWords_ == 0) return 0;
    e &= flashWords_ - 1;
    return static_cast<int>((e >> pairWordsShift_) * 2 + (e & 1));
}

int SimPort::ChipWord(std::uint32_t e) const {
    e &= flashWords_ - 1;
    if (!info_.interleaved) return static_cast<int>(e);
    return static_cast<int>((e & ((1u << pairWordsShift_) - 1)) >> 1);
}

int SimPort::BlockOfWord(std::uint32_t e) const {
    if (flashWords_ == 0) return 0;
    return ChipWord(e) >> kBlockWordsShift;
}

std::uint16_t SimPort::QueryWord(int chipIndex, std::uint32_t e) const {
    const int offset = ChipWord(e) & 0xFF;
    if (offset == 2)
        return lockedBlocks_[static_cast<std::size_t>(chipIndex * blocksPerChip_ + BlockOfWord(e))];
    return query_[static_cast<std::size_t>(offset)];
}

std::uint16_t SimPort::FlashRead(std::uint32_t word) {
    const std::uint32_t e = word & (flashWords_ - 1);
    const int ci = ChipOfWord(e);
    Chip& c = chips_[static_cast<std::size_t>(ci)];
    if (c.busy > 0) {
        const std::uint16_t st = c.errors;  // bit 7 clear: busy
        if (!c.stuck && --c.busy == 0) FinishBusy(ci, c);
        return st;
    }
    switch (c.mode) {
        case ChipMode::ReadArray:
            ++arrayReads_;
            return Flip(ArrayWord(e), 16);
        case ChipMode::Query:
            return QueryWord(ci, e);
        case ChipMode::BufferCount:
            return 0x80;  // extended status: buffer free
        case ChipMode::BufferRefused:
            return 0x00;
        default:
            return static_cast<std::uint16_t>(0x80 | c.errors);
    }
}

void SimPort::ProgramWord(std::uint32_t e, std::uint16_t value) {
    flash_[2 * e] &= static_cast<std::uint8_t>(value);
    flash_[2 * e + 1] &= static_cast<std::uint8_t>(value >> 8);
    flashDirty_ = true;
}

void SimPort::FinishBusy(int chipIndex, Chip& c) {
    c.busy = 0;
    if (c.pendingEraseBlock >= 0) {
        EraseBlock(chipIndex, c.pendingEraseBlock);
        c.pendingEraseBlock = -1;
    }
}

void SimPort::EraseBlock(int chipIndex, int block) {
    const std::uint32_t blockStart = static_cast<std::uint32_t>(block) << kBlockWordsShift;
    const std::uint32_t blockWords = 1u << kBlockWordsShift;
    if (!info_.interleaved) {
        std::memset(flash_.data() + 2 * static_cast<std::size_t>(blockStart), 0xFF, 2 * blockWords);
    } else {
        const std::uint32_t pairBase = static_cast<std::uint32_t>(chipIndex / 2) * 2 * chipWords_;
        const std::uint32_t first = pairBase + 2 * blockStart + static_cast<std::uint32_t>(chipIndex & 1);
        std::uint8_t* p = flash_.data() + 2 * static_cast<std::size_t>(first);
        for (std::uint32_t i = 0; i < blockWords; ++i, p += 4) p[0] = p[1] = 0xFF;
    }
    ++eraseCounts_[static_cast<std::size_t>(chipIndex * blocksPerChip_ + block)];
    ++totalErases_;
    flashDirty_ = true;
}

void SimPort::FlashWrite(std::uint32_t word, std::uint16_t value) {
    const std::uint32_t e = word & (flashWords_ - 1);
    const int ci = ChipOfWord(e);
    Chip& c = chips_[static_cast<std::size_t>(ci)];
    const std::uint8_t cmd = static_cast<std::uint8_t>(value);
    if (c.busy > 0) {  // a running program or erase takes only "read status"
        if (cmd == 0x70) c.mode = ChipMode::Status;
        return;
    }
    const std::size_t blockIndex = static_cast<std::size_t>(ci * blocksPerChip_ + BlockOfWord(e));
    auto sequenceError = [&c] {
        c.errors |= 0x30;
        c.badSequence = true;
        c.mode = ChipMode::Status;
    };
    auto startBusy = [&](int count) {
        c.mode = ChipMode::Status;
        c.busy = count;
        if (c.busy <= 0 && !c.stuck) FinishBusy(ci, c);
    };
    // Locked block or injected program fault: sets the error bits, programs nothing.
    auto programFails = [&](std::size_t block, int n, const std::uint32_t* addrs) {
        if (lockedBlocks_[block]) {
            c.errors |= 0x12;  // program error + block locked
            return true;
        }
        if (config_.faultProgramErrorChunk >= 0)
            for (int i = 0; i < n; ++i)
                if (static_cast<int>(addrs[i] >> 14) == config_.faultProgramErrorChunk) {
                    c.errors |= 0x10;
                    return true;
                }
        return false;
    };

    switch (c.mode) {
        case ChipMode::BufferCount:
            // The word count is due: anything above 0x0F (read array
            // included) is an invalid command sequence.
            if (value > 0x0F || BlockOfWord(e) != c.cmdBlock) return sequenceError();
            c.bufCount = value + 1;
            c.bufFill = 0;
            c.mode = ChipMode::BufferData;
            return;
        case ChipMode::BufferData:
            if (BlockOfWord(e) != c.cmdBlock) return sequenceError();
            c.bufAddr[static_cast<std::size_t>(c.bufFill)] = e;
            c.bufData[static_cast<std::size_t>(c.bufFill)] = value;
            if (++c.bufFill == c.bufCount) c.mode = ChipMode::BufferConfirm;
            return;
        case ChipMode::BufferConfirm:
            // The confirm is taken at any address of the chip: the program
            // writes it right behind the data, which may be the next block.
            if (cmd != 0xD0) return sequenceError();
            ++bufferPrograms_;
            if (!programFails(static_cast<std::size_t>(ci * blocksPerChip_ + c.cmdBlock), c.bufCount,
                              c.bufAddr.data()))
                for (int i = 0; i < c.bufCount; ++i)
                    ProgramWord(c.bufAddr[static_cast<std::size_t>(i)],
                                c.bufData[static_cast<std::size_t>(i)]);
            return startBusy(config_.busyProgram);
        case ChipMode::EraseSetup:
            if (cmd == 0xD0 && BlockOfWord(e) == c.cmdBlock) {
                if (lockedBlocks_[blockIndex]) {
                    c.errors |= 0x22;  // erase error + block locked
                    return startBusy(config_.busyProgram);
                }
                c.pendingEraseBlock = c.cmdBlock;
                c.stuck = stuckBlocks_[blockIndex] != 0;
                return startBusy(c.stuck ? 1 : config_.busyErase);
            }
            return sequenceError();  // anything but the confirm, read array included
        case ChipMode::WordProgram:
            if (!programFails(blockIndex, 1, &e)) ProgramWord(e, value);
            return startBusy(config_.busyProgram);
        default:
            break;
    }

    switch (cmd) {
        case 0xFF:
            // After an invalid command sequence the chip goes on answering
            // status until the status is cleared.
            c.mode = c.badSequence ? ChipMode::Status : ChipMode::ReadArray;
            break;
        case 0x70:
            c.mode = ChipMode::Status;
            break;
        case 0x50:
            c.errors = 0;
            c.badSequence = false;
            if (c.mode == ChipMode::BufferRefused) c.mode = ChipMode::Status;
            break;
        case 0x90:
        case 0x98:
            c.mode = ChipMode::Query;
            break;
        case 0x20:
            c.cmdBlock = BlockOfWord(e);
            c.mode = ChipMode::EraseSetup;
            break;
        case 0xE8:
            if ((c.errors & 0x30) == 0x30) {
                c.mode = ChipMode::BufferRefused;
            } else {
                c.cmdBlock = BlockOfWord(e);
                c.mode = ChipMode::BufferCount;
            }
            break;
        case 0x40:
        case 0x10:
            c.mode = ChipMode::WordProgram;
            break;
        default:
            break;  // not a command of these chips
    }
}

// ---------------------------------------------------------------- save, serial

std::size_t SimPort::SaveIndex(std::uint32_t offset) const {
    const std::size_t size = save_.size();
    const std::size_t bankBytes = std::min<std::size_t>(size, 0x10000);
    const std::size_t banks = size > 0x10000 ? size / 0x10000 : 1;
    return (static_cast<std::size_t>(saveBank_) & (banks - 1)) * 0x10000 + (offset & (bankBytes - 1));
}

std::uint8_t SimPort::SaveRead(std::uint32_t offset) {
    if (save_.empty()) return Noise();  // nothing drives the lines
    return static_cast<std::uint8_t>(Flip(save_[SaveIndex(offset)], 8));
}

void SimPort::SaveWrite(std::uint32_t offset, std::uint8_t value) {
    if (save_.empty()) return;
    save_[SaveIndex(offset)] = value;
    saveDirty_ = true;
}

std::uint8_t SimPort::SerialRead() {
    if (!info_.vela || addr_ != kSerialAddress || answerPos_ >= kAnswerBits) return 0;
    return answer_[answerPos_++];
}

void SimPort::SerialWrite(int bit) {
    if (!info_.vela || addr_ != kSerialAddress) return;
    serialShift_ = ((serialShift_ << 1) | static_cast<std::uint32_t>(bit)) & 0x1FF;
    if (++serialBits_ < 9) return;
    serialBits_ = 0;
    if ((serialShift_ >> 7) == 3 && (serialShift_ & 1) == 0) {
        answer_[0] = answer_[1] = answer_[2] = 0;
        answer_[3] = 1;
        for (int k = 0; k < 64; ++k)
            answer_[4 + k] = save_.empty()
                                 ? (Noise() & 1)
                                 : (save_[SaveIndex(0x200 + 2 * static_cast<std::uint32_t>(k))] & 1);
        answerPos_ = 0;
    } else {
        answerPos_ = kAnswerBits;
    }
    serialShift_ = 0;
}

// ---------------------------------------------------------------- inspection

int SimPort::EraseCount(int chip, int block) const {
    if (chip < 0 || chip >= info_.chips || block < 0 || block >= blocksPerChip_) return 0;
    return eraseCounts_[static_cast<std::size_t>(chip * blocksPerChip_ + block)];
}

bool SimPort::ChipInReadArray(int chip) const {
    if (chip < 0 || chip >= info_.chips) return true;
    const Chip& c = chips_[static_cast<std::size_t>(chip)];
    return c.busy == 0 && c.mode == ChipMode::ReadArray;
}

bool SimPort::AllChipsInReadArray() const {
    for (int i = 0; i < info_.chips; ++i)
        if (!ChipInReadArray(i)) return false;
    return true;
}

bool SimPort::ChipBusy(int chip) const {
    return chip >= 0 && chip < info_.chips && chips_[static_cast<std::size_t>(chip)].busy > 0;
}

std::uint8_t SimPort::ChipStatus(int chip) const {
    if (chip < 0 || chip >= info_.chips) return 0;
    const Chip& c = chips_[static_cast<std::size_t>(chip)];
    return static_cast<std::uint8_t>((c.busy > 0 ? 0 : 0x80) | c.errors);
}

// ---------------------------------------------------------------- persistence

std::unique_ptr<SimPort> SimPort::Open(const std::string& dir, std::string& error) {
    SimConfig cfg;
    const FileStamp ini = StampOf(dir + "/cart.ini");
    if (!LoadCartIni(dir + "/cart.ini", cfg, error)) return nullptr;
    SimModelInfo info;
    LookupSimModel(cfg.model, info);
    const std::string flashPath = dir + "/flash.bin";
    const std::string savePath = dir + "/save.bin";
    const FileStamp flash = StampOf(flashPath);
    const FileStamp save = StampOf(savePath);
    if (info.kind == SimModelInfo::Kind::Rom && !flash.exists) {
        error = flashPath + ": missing (a `rom` cart needs its ROM bytes there)";
        return nullptr;
    }
    if (info.kind == SimModelInfo::Kind::Flash && flash.exists && flash.size != info.capacityBytes) {
        error = flashPath + ": " + std::to_string(flash.size) + " bytes, but a " + cfg.model +
                " cart holds " + std::to_string(info.capacityBytes);
        return nullptr;
    }
    const long saveBytes = SaveSizeBytes(cfg.save);
    if (saveBytes > 0 && save.exists && save.size != saveBytes) {
        error = savePath + ": " + std::to_string(save.size) + " bytes, but save = " + cfg.save + " needs " +
                std::to_string(saveBytes);
        return nullptr;
    }

    // The files go straight into the model's memory: no second copy of the cart.
    auto port = std::make_unique<SimPort>(cfg);
    if (info.kind == SimModelInfo::Kind::Rom) port->flash_.resize(static_cast<std::size_t>(flash.size));
    if (info.kind != SimModelInfo::Kind::None && flash.exists &&
        !ReadFileInto(flashPath, port->flash_.data(), port->flash_.size(), error))
        return nullptr;
    if (saveBytes > 0 && save.exists &&
        !ReadFileInto(savePath, port->save_.data(), port->save_.size(), error))
        return nullptr;
    // A new erased cart, or new save memory: create the file.
    port->flashDirty_ = info.kind == SimModelInfo::Kind::Flash && !flash.exists;
    port->saveDirty_ = saveBytes > 0 && !save.exists;
    port->dir_ = dir;
    port->stamps_ = {ini, flash, save};
    return port;
}

bool SimPort::FilesChanged() const {
    if (dir_.empty()) return false;
    const std::array<FileStamp, 3> now = {StampOf(dir_ + "/cart.ini"), StampOf(dir_ + "/flash.bin"),
                                          StampOf(dir_ + "/save.bin")};
    return now != stamps_;
}

bool SimPort::WriteBack(std::string& error) {
    if (flashDirty_ && info_.kind == SimModelInfo::Kind::Flash) {
        if (!WriteFileAtomically(dir_ + "/flash.bin", flash_, error)) return writeBackError_ = error, false;
        stamps_[1] = StampOf(dir_ + "/flash.bin");
    }
    flashDirty_ = false;
    if (saveDirty_ && !save_.empty()) {
        if (!WriteFileAtomically(dir_ + "/save.bin", save_, error)) return writeBackError_ = error, false;
        stamps_[2] = StampOf(dir_ + "/save.bin");
    }
    saveDirty_ = false;
    writeBackError_.clear();
    return true;
}

bool SimPort::Persist(std::string& why) {
    std::string error;
    if (dir_.empty() || WriteBack(error)) return true;
    why = "Simulated cart not saved: " + error;
    return false;
}

bool SimPort::Flush(std::string& error) {
    if (dir_.empty()) return true;
    return WriteBack(error);
}

}  // namespace rombolt
