#include "support/conformance.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace rombolt::test::conformance {

namespace {

using Kind = RecordingPort::Kind;

std::string Describe(const Access& a) {
    static const char* const kNames[] = {"inb", "outb", "inw", "outw"};
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s 0x%x 0x%x", kNames[static_cast<int>(a.kind)], a.port, a.value);
    return buf;
}

class Model {
public:
    Model(const Scenario& sc, const Departures& d, const std::vector<Access>& trace,
          const std::vector<std::size_t>& pumps)
        : sc_(sc), d_(d), trace_(trace), pumps_(pumps), speed_(sc.speedIndex) {
        static const int kBases[] = {0x378, 0x278, 0x3BC};
        base_ = sc.portIndex >= 0 && sc.portIndex <= 2 ? kBases[sc.portIndex] : 0x378;
        buf_.fill(0);
    }

    std::vector<StopPoint> Run() {
        switch (sc_.op) {
            case Scenario::Op::Write:
                WriteClick();
                break;
            case Scenario::Op::Verify:
                VerifyClick();
                break;
            case Scenario::Op::Backup:
                ReadClick();
                break;
            case Scenario::Op::Erase:
                EraseFlashClick();
                break;
            case Scenario::Op::SaveBackup:
                SReadClick();
                break;
            case Scenario::Op::SaveRestore:
                SWriteClick();
                break;
            case Scenario::Op::MultiWrite:
                WriteMultiGames(false);
                break;
            case Scenario::Op::MultiVerify:
                WriteMultiGames(true);
                break;
        }
        if (pos_ != trace_.size())
            Fail("the operation has ended, but the trace goes on with " + Describe(trace_[pos_]));
        if (pump_ != pumps_.size())
            Fail("the operation has ended, but the program pumped the window once more");
        return std::move(stops_);
    }

private:
    // ------------------------------------------------------------ replay

    // The model's current steps, outermost first (names with an optional number).
    struct Step {
        Step(Model& m, const char* name, long long arg = -1) : m_(m) {
            if (m_.depth_ < kMaxDepth) m_.steps_[static_cast<std::size_t>(m_.depth_)] = {name, arg};
            ++m_.depth_;
        }
        ~Step() { --m_.depth_; }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;
        Model& m_;
    };
    static constexpr int kMaxDepth = 24;

    std::string Steps(bool withArgs = true) const {
        std::string out;
        for (int i = 0; i < std::min(depth_, kMaxDepth); ++i) {
            const auto& [name, arg] = steps_[static_cast<std::size_t>(i)];
            if (!out.empty()) out += " > ";
            out += name;
            if (withArgs && arg >= 0) {
                char buf[24];
                std::snprintf(buf, sizeof buf, "(0x%llx)", arg);
                out += buf;
            }
        }
        return out;
    }

    [[noreturn]] void Fail(const std::string& what) const {
        std::string context;
        for (std::size_t i = pos_ > 6 ? pos_ - 6 : 0; i < pos_ && i < trace_.size(); ++i)
            context += "\n    #" + std::to_string(i) + " " + Describe(trace_[i]);
        throw Divergence("access #" + std::to_string(pos_) + " of " + std::to_string(trace_.size()) + ": " +
                         what + "\n  step: " + Steps() + "\n  accesses before it:" + context);
    }

    const Access& Next(const Access& expected) {
        if (pump_ < pumps_.size() && pumps_[pump_] <= pos_)
            Fail("expected " + Describe(expected) + ", but the program pumped the window here");
        if (pos_ >= trace_.size()) Fail("expected " + Describe(expected) + ", but the trace has ended");
        const Access& a = trace_[pos_];
        if (a.kind != expected.kind || a.port != expected.port ||
            ((a.kind == Kind::OutB || a.kind == Kind::OutW) && a.value != expected.value))
            Fail("expected " + Describe(expected) + ", the program did " + Describe(a));
        ++pos_;
        return a;
    }
    void Out(int port, std::uint8_t v) { Next({Kind::OutB, static_cast<std::uint16_t>(port), v}); }
    void OutW(int port, std::uint16_t v) { Next({Kind::OutW, static_cast<std::uint16_t>(port), v}); }
    std::uint8_t In(int port) {
        return static_cast<std::uint8_t>(Next({Kind::InB, static_cast<std::uint16_t>(port), 0}).value);
    }
    std::uint16_t InW(int port) { return Next({Kind::InW, static_cast<std::uint16_t>(port), 0}).value; }

    // The window is pumped here (the stop button and the timer act through it).
    void Pump() {
        if (pump_ >= pumps_.size() || pumps_[pump_] != pos_) Fail("expected the window to be pumped here");
        ++pump_;
    }
    // A pump followed by the test of the stop flag; true when Stop was pressed.
    bool StopPressed() {
        Pump();
        stops_.push_back({pos_, Steps(false)});
        return sc_.stopAt >= 0 && static_cast<long long>(pos_) >= sc_.stopAt;
    }

    // ------------------------------------------------------------ link transfers

    void C(std::uint8_t v) { Out(base_ + 2, v); }
    void D(std::uint8_t v) { Out(base_, v); }
    std::uint8_t S() { return In(base_ + 1); }
    void EA(std::uint8_t v) { Out(base_ + 3, v); }
    void ED(std::uint8_t v) { Out(base_ + 4, v); }

    void SppWriteAddress(std::uint8_t r) {
        Step st(*this, "SppWriteAddress", r);
        C(0x01);
        D(r);
        C(0x09);
        C(0x01);
    }
    void SppWriteData(std::uint8_t v) {
        Step st(*this, "SppWriteData", v);
        D(v);
        C(0x03);
        C(0x01);
    }
    std::uint8_t SppReadByte() {
        Step st(*this, "SppReadByte");
        C(0x00);
        C(0x02);
        const std::uint8_t s1 = S();
        C(0x06);
        const std::uint8_t s2 = S();
        C(0x00);
        return static_cast<std::uint8_t>(((s2 << 1) & 0xF0) | ((s1 >> 3) & 0x0F));
    }
    void EppWriteAddress(std::uint8_t r) {
        Step st(*this, "EppWriteAddress", r);
        C(0x01);
        EA(r);
    }
    // Register and data writes take SPP cycles in SPP mode and at speeds "2" and "1".
    bool SppWrites() const { return spp_ || speed_ > 1; }

    void SelectRegister(std::uint8_t r) {
        Step st(*this, "SelectRegister", r);
        C(0x01);
        if (spp_)
            SppWriteAddress(r);
        else
            EppWriteAddress(r);
    }
    void WriteRegister(std::uint8_t r, std::uint8_t v) {
        Step st(*this, "WriteRegister", r);
        if (SppWrites()) {
            SppWriteAddress(r);
            SppWriteData(v);
        } else {
            EppWriteAddress(r);
            ED(v);
        }
    }
    void WriteDataByte(std::uint8_t v) {
        if (SppWrites())
            SppWriteData(v);
        else
            ED(v);
    }
    void WriteDataWord(std::uint16_t w) {
        Step st(*this, "WriteDataWord", w);
        const auto lo = static_cast<std::uint8_t>(w), hi = static_cast<std::uint8_t>(w >> 8);
        if (SppWrites()) {
            SppWriteData(lo);
            SppWriteData(hi);
        } else if (speed_ == 1) {
            ED(lo);
            ED(hi);
        } else {
            OutW(base_ + 4, w);
        }
    }
    std::uint8_t ReadDataByte() { return spp_ ? SppReadByte() : In(base_ + 4); }
    std::uint16_t ReadDataWord() {
        if (spp_) {
            const std::uint8_t lo = SppReadByte();
            return static_cast<std::uint16_t>(lo | (SppReadByte() << 8));
        }
        if (speed_ <= 0) return InW(base_ + 4);
        const std::uint8_t lo = In(base_ + 4);
        return static_cast<std::uint16_t>(lo | (In(base_ + 4) << 8));
    }

    // ------------------------------------------------------------ cart bus

    void SetCartAddress(std::uint32_t a) {
        Step st(*this, "SetCartAddress", a);
        WriteRegister(2, static_cast<std::uint8_t>(a >> 16));
        WriteRegister(1, static_cast<std::uint8_t>(a >> 8));
        WriteRegister(0, static_cast<std::uint8_t>(a));
    }
    void WriteCartWord(std::uint32_t a, std::uint16_t w) {
        Step st(*this, "WriteCartWord", a);
        SetCartAddress(a);
        SelectRegister(3);
        WriteDataWord(w);
    }
    void SetMode(std::uint8_t eppValue) {
        Step st(*this, "AccessMode", eppValue);
        WriteRegister(4, static_cast<std::uint8_t>(spp_ ? eppValue | 0x40 : eppValue));
    }
    void RomAccess() { SetMode(0x07); }
    void SaveAccess() { SetMode(0x83); }
    void SerialAccess() { SetMode(0x03); }
    void PrepareAdapter() {
        Step st(*this, "PrepareAdapter");
        Out(base_ + 1, 0x01);
        RomAccess();
    }
    void IdlePort() { C(0x04); }
    void CartUnlockSequence() {
        Step st(*this, "CartUnlockSequence");
        RomAccess();
        WriteCartWord(0x987654, 0x5354);
        for (int i = 0; i < 500; ++i) WriteCartWord(0x012345, 0x1234);
        WriteCartWord(0x007654, 0x5354);
        WriteCartWord(0x012345, 0x5354);
        for (int i = 0; i < 500; ++i) WriteCartWord(0x012345, 0x5678);
        WriteCartWord(0x987654, 0x5354);
        WriteCartWord(0x012345, 0x5354);
        WriteCartWord(0x765400, 0x5678);
        WriteCartWord(0x013450, 0x1234);
        for (int i = 0; i < 500; ++i) WriteCartWord(0x012345, 0xABCD);
        WriteCartWord(0x987654, 0x5354);
    }
    void OpenFlashAccess() {
        CartUnlockSequence();
        WriteCartWord(0xF12345, 0x9413);
    }
    void SelectSaveBank(int b) {
        if (b > 7 || b < 0) return;
        Step st(*this, "SelectSaveBank", b);
        CartUnlockSequence();
        WriteCartWord(0xA12345, static_cast<std::uint16_t>(b >> 1));
    }

    // ------------------------------------------------------------ adapter detection

    bool ReadBack(std::uint8_t r2, std::uint8_t r1, std::uint8_t r0) {
        const std::uint8_t expect[3] = {r2, r1, r0};
        for (int i = 0; i < 3; ++i) {
            SelectRegister(static_cast<std::uint8_t>(2 - i));
            C(0x00);
            if (ReadDataByte() != expect[i]) return false;
        }
        return true;
    }
    int EchoTest() {
        Step st(*this, "EchoTest", spp_);
        PrepareAdapter();
        WriteRegister(2, 0x12);
        WriteRegister(1, 0x34);
        WriteRegister(0, 0x56);
        if (!ReadBack(0x12, 0x34, 0x56)) return 1;
        WriteRegister(2, 0xFE);
        WriteRegister(1, 0xDC);
        WriteRegister(0, 0xBA);
        if (!ReadBack(0xFE, 0xDC, 0xBA)) return 1;
        IdlePort();
        return 0;
    }
    int DetectLink() {
        bool sppEcho = false;
        spp_ = true;
        if (EchoTest() == 0) {
            sppEcho = true;
            if (base_ == 0x3BC) return 0;
        }
        spp_ = false;
        if (EchoTest() == 0) return 0;
        if (sppEcho) {
            spp_ = true;
            IdlePort();
            return 0;
        }
        return 1;
    }
    int DetectAdapter() {
        Step st(*this, "DetectAdapter");
        lastErasedBlock_ = -1;
        skippedBlock_ = -1;
        skippedChunks_ = 0;
        if (DetectLink() != 0) return 1;
        if (!spp_ && speed_ == 3) spp_ = true;
        PrepareAdapter();
        return 0;
    }
    bool AdapterStillAnswers() {
        if (!d_.adapterCheckBetweenBlocks) return true;
        Step st(*this, "AdapterStillAnswers");
        WriteRegister(2, 0x5A);
        WriteRegister(1, 0xC3);
        WriteRegister(0, 0x0F);
        if (!ReadBack(0x5A, 0xC3, 0x0F)) return false;
        WriteRegister(2, 0xA5);
        WriteRegister(1, 0x3C);
        WriteRegister(0, 0xF0);
        return ReadBack(0xA5, 0x3C, 0xF0);
    }

    // ------------------------------------------------------------ operation frame

    void BeginOperation() { Pump(); }
    void EndOperation() {
        Step st(*this, "EndOperation");
        Pump();
        IdlePort();
    }
    void ReportStop() { EndOperation(); }
    void ReportCompleted() { Pump(); }

    // ------------------------------------------------------------ the chunk buffer

    std::uint16_t Word(int i) const {
        return static_cast<std::uint16_t>(buf_[2 * i] | (buf_[2 * i + 1] << 8));
    }
    void SetWord(int i, std::uint16_t w) {
        buf_[2 * i] = static_cast<std::uint8_t>(w);
        buf_[2 * i + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    // The next chunk of a file into the buffer, padded with 0xFF.
    void LoadChunk(const std::vector<std::uint8_t>& file, std::size_t offset, std::size_t length) {
        buf_.fill(0xFF);
        if (offset < file.size())
            std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset),
                        std::min(length, file.size() - offset), buf_.begin());
    }

    // ------------------------------------------------------------ flash

    static constexpr int kReadyBudget = 16384;
    static constexpr int kEraseBudget = 524288;
    enum class Chips { Pending, Busy };

    std::uint32_t CommandBase(std::uint32_t a) const {
        return d_.quarterCommandBase && interleaved_ ? (a & 0xC00000) : 0;
    }
    std::uint16_t ReadyMask() const { return interleaved_ ? 0x8080 : 0x0080; }
    void ReadArray(std::uint32_t base, bool second) {
        Step st(*this, "read array");
        WriteCartWord(base, 0xFF);
        if (second) WriteDataWord(0xFF);
    }
    std::uint16_t ReadStatusPair() {
        C(0x00);
        const std::uint16_t w1 = ReadDataWord();
        const std::uint16_t w2 = ReadDataWord();
        return static_cast<std::uint16_t>((w1 & 0xFF) | ((w2 & 0xFF) << 8));
    }
    void LetChipsFinish(std::uint32_t base) {
        Step st(*this, "wait for busy chips");
        for (int budget = kEraseBudget; budget > 0; --budget) {
            if (d_.stopWaitPumps && budget % 1024 == 0) Pump();
            WriteCartWord(base, 0x70);
            std::uint16_t status;
            if (interleaved_) {
                WriteDataWord(0x70);
                status = ReadStatusPair();
            } else {
                C(0x00);
                status = ReadDataWord() & 0xFF;
            }
            if ((status & ReadyMask()) == ReadyMask()) return;
        }
    }
    // The poll loops' stop test: every 1024th poll counted down from the budget.
    bool StopExit(int budget, std::uint32_t base, bool second, Chips chips) {
        if (budget % 1024 != 0) return false;
        if (!StopPressed()) return false;
        Step st(*this, "stop exit");
        if (chips == Chips::Busy && d_.stopWaitsForBusyChips) LetChipsFinish(base);
        ReadArray(base, second);
        if (chips == Chips::Pending && d_.stopClearsPendingCommand) {
            WriteCartWord(base, 0x50);
            if (second) WriteDataWord(0x50);
            ReadArray(base, second);
        }
        ReportStop();
        return true;
    }

    int WaitReady(std::uint32_t base) {
        Step st(*this, "WaitFlashReady", base);
        int budget = kReadyBudget;
        std::uint16_t status = 0;
        bool success = false;
        while ((status & ReadyMask()) != ReadyMask() && budget > 0) {
            if (StopExit(budget, base, interleaved_, Chips::Busy)) return 254;
            WriteCartWord(base, 0x70);
            if (interleaved_) {
                WriteDataWord(0x70);
                status = ReadStatusPair();
            } else {
                C(0x00);
                status = ReadDataWord() & 0xFF;
            }
            success = status == ReadyMask();
            --budget;
        }
        ReadArray(base, interleaved_);
        if (success) return 0;
        if (interleaved_) {
            if (status & 0x7F7F) {
                WriteDataWord(0x50);
                WriteDataWord(0x50);
            }
        } else if (status & 0x7F) {
            C(0x01);
            WriteDataWord(0x50);
        }
        return -1;
    }
    std::uint16_t ReadStatus() { return interleaved_ ? ReadStatusPair() : ReadDataWord(); }
    bool Ready(std::uint16_t status) const {
        return interleaved_ ? (status & 0x8080) == 0x8080 : (status & 0x80) != 0;
    }

    int EraseFlashBlock(std::uint32_t d) {
        Step st(*this, "EraseFlashBlock", d);
        const std::uint32_t base = CommandBase(d);
        if (WaitReady(base) & 0xFF) return -1;
        std::uint16_t status = 0;
        bool accepted = false;
        {
            Step setup(*this, "setup");
            for (int budget = kEraseBudget; !accepted && budget > 0; --budget) {
                if (!(status & 0x0080)) WriteCartWord(d, 0x20);
                if (interleaved_ && !(status & 0x8000)) WriteCartWord(d + 1, 0x20);
                if (StopExit(budget, base, interleaved_, Chips::Pending)) return 254;
                WriteRegister(0, 0x00);
                SelectRegister(3);
                C(0x00);
                status = ReadStatus();
                accepted = Ready(status);
            }
        }
        bool done = false;
        if (accepted) {
            Step confirm(*this, "confirm");
            WriteCartWord(d, 0xD0);
            if (interleaved_) WriteDataWord(0xD0);
            std::uint32_t next = d + 2;  // where the read run goes on
            const std::uint32_t quarterEnd = (d & 0xC00000) + 0x400000;
            for (int budget = kEraseBudget; !done && budget > 0; --budget) {
                if (StopExit(budget, base, true, Chips::Busy)) return 254;
                if (d_.erasePollStaysInQuarter && twoPairs_ && next + 2 > quarterEnd) {
                    SetCartAddress(d);
                    SelectRegister(3);
                    next = d;
                }
                C(0x00);
                status = ReadStatus();
                next += 2;
                done = Ready(status);
            }
        }
        ReadArray(base, interleaved_);
        if (done) return 0;
        WriteDataWord(0x50);
        if (interleaved_) WriteDataWord(0x50);
        return -1;
    }

    int ProgramBuffer(std::uint32_t s, std::uint32_t o) {
        Step st(*this, "ProgramBuffer", o);
        const std::uint32_t at = s + o;
        const std::uint32_t base = CommandBase(s);
        std::uint16_t status = 0;
        bool available = false;
        {
            Step wait(*this, "buffer wait");
            for (int budget = kReadyBudget; !available && budget > 0; --budget) {
                if (!(status & 0x0080)) WriteCartWord(s, 0xE8);
                if (interleaved_ && !(status & 0x8000)) WriteCartWord(s + 1, 0xE8);
                if (StopExit(budget, base, interleaved_, Chips::Pending)) return 254;
                SetCartAddress(at);
                SelectRegister(3);
                C(0x00);
                status = ReadStatus();
                available = Ready(status);
            }
        }
        if (!available) return -1;
        WriteCartWord(at, 0x0F);
        if (interleaved_) WriteDataWord(0x0F);
        SetCartAddress(at);
        SelectRegister(3);
        const int words = interleaved_ ? 32 : 16;
        for (int i = 0; i < words; ++i) WriteDataWord(Word(static_cast<int>(o) + i));
        if (d_.confirmInsideQuarter && interleaved_ &&
            ((at + static_cast<std::uint32_t>(words)) & 0xC00000) != (s & 0xC00000)) {
            SetCartAddress(at);
            SelectRegister(3);
        }
        WriteDataWord(0xD0);
        if (interleaved_) WriteDataWord(0xD0);
        return WaitReady(base);
    }

    int ProgramFlashChunk(int n, int length, bool mayErase = true) {
        Step st(*this, "ProgramFlashChunk", n);
        RomAccess();
        const auto s = static_cast<std::uint32_t>(n) << 14;
        const std::uint32_t base = CommandBase(s);
        const int buffers = interleaved_ ? (length & 0xFFFF) >> 6 : (length & 0xFFFF) >> 5;
        const int block = interleaved_ ? (n & 0xFFF8) : (n & 0xFFFC);
        const bool first = interleaved_ ? (n & 7) == 0 : (n & 3) == 0;
        if (mayErase && (first || block != lastErasedBlock_)) {
            if (EraseFlashBlock(s) & 0xFF) return -1;
            lastErasedBlock_ = block;
        }
        for (int k = 0; k < buffers; ++k)
            if (ProgramBuffer(s, static_cast<std::uint32_t>(k * (interleaved_ ? 32 : 16))) & 0xFF) return -1;
        if (WaitReady(base) & 0xFF) return -1;
        ReadArray(base, interleaved_);
        C(0x00);
        if (sc_.verifyAfterWrite) {
            if (d_.pumpBeforeChunkReadBack) Pump();
            return VerifyFlashChunk(n, length);
        }
        return 0;
    }

    // Skip unchanged: a chunk equal to the flash is left alone; the first one
    // that differs has its block erased and programmed with every chunk left
    // alone in it so far.
    int ProgramChunkIfChanged(int n, int length) {
        Step st(*this, "skip unchanged", n);
        const int perBlock = interleaved_ ? 8 : 4;
        const int block = n & (interleaved_ ? 0xFFF8 : 0xFFFC);
        const int k = n & (perBlock - 1);
        if ((k != 0 && block == lastErasedBlock_) || ((length & 0xFFFF) >> 9) == 0)
            return ProgramFlashChunk(n, length);
        if (skippedBlock_ != block) {
            skippedBlock_ = block;
            skippedChunks_ = 0;
        }
        bool equal = true;
        bool blank = false;
        if (d_.skipProgramsBlankChunks)
            CompareChunk(n, length, equal, blank);
        else
            equal = VerifyFlashChunk(n, length) == 0;
        skippedData_[static_cast<std::size_t>(k)] = buf_;
        if (equal) {
            skippedChunks_ |= 1u << k;
            return 0;
        }
        if (blank) {
            if (ProgramFlashChunk(n, length, false) != 0) return -1;
            skippedChunks_ |= 1u << k;
            return 0;
        }
        const std::uint32_t pending = skippedChunks_ | (1u << k);
        skippedBlock_ = -1;
        skippedChunks_ = 0;
        int result = 0;
        for (int j = 0; j < perBlock && result == 0; ++j) {
            if (!(pending & (1u << j))) continue;
            buf_ = skippedData_[static_cast<std::size_t>(j)];
            if (ProgramFlashChunk(block + j, length) != 0) result = -1;
        }
        buf_ = skippedData_[static_cast<std::size_t>(k)];
        return result;
    }
    int ProgramChunk(int n, int length) {
        return sc_.skipUnchanged ? ProgramChunkIfChanged(n, length) : ProgramFlashChunk(n, length);
    }

    void SelectChunkPage(int n, int p) {
        WriteRegister(0, 0x00);
        WriteRegister(1, static_cast<std::uint8_t>(((n << 6) & 0xC0) + p));
        WriteRegister(2, static_cast<std::uint8_t>((n >> 2) & 0xFF));
        SelectRegister(3);
        C(0x00);
    }
    void ReadFlashChunk(int n) {
        Step st(*this, "ReadFlashChunk", n);
        RomAccess();
        for (int p = 0; p < 64; ++p) {
            SelectChunkPage(n, p);
            for (int i = 0; i < 256; ++i) SetWord(p * 256 + i, ReadDataWord());
        }
    }
    // Reads the chunk while it still equals the buffer or reads blank.
    void CompareChunk(int n, int length, bool& equal, bool& blank) {
        Step st(*this, "CompareChunk", n);
        const int pages = (length & 0xFFFF) >> 9;
        RomAccess();
        equal = blank = true;
        for (int p = 0; p < pages; ++p) {
            SelectChunkPage(n, p);
            for (int i = 0; i < 256; ++i) {
                const std::uint16_t w = ReadDataWord();
                equal = equal && w == Word(p * 256 + i);
                blank = blank && w == 0xFFFF;
                if (!equal && !blank) return;
            }
        }
        if (equal) blank = false;
    }
    int VerifyFlashChunk(int n, int length) {
        Step st(*this, "VerifyFlashChunk", n);
        const int pages = (length & 0xFFFF) >> 9;
        bool differs = false;
        RomAccess();
        for (int p = 0; p < pages; ++p) {
            SelectChunkPage(n, p);
            for (int i = 0; i < 256; ++i)
                if (ReadDataWord() != Word(p * 256 + i)) {
                    if (!d_.verifyReadsWholeChunk) return -1;
                    differs = true;
                }
        }
        return differs ? -1 : 0;
    }

    // ------------------------------------------------------------ identification

    void ReadRun(std::uint32_t from, int first, int words) {
        SetCartAddress(from);
        SelectRegister(3);
        C(0x00);
        for (int i = 0; i < words; ++i) SetWord(first + i, ReadDataWord());
    }
    bool Signature(int q, int r, int y) const {
        return buf_[static_cast<std::size_t>(q)] == 'Q' && buf_[static_cast<std::size_t>(r)] == 'R' &&
               buf_[static_cast<std::size_t>(y)] == 'Y' && buf_[0] == 0x89;
    }
    int IdentifyFlash() {
        Step st(*this, "IdentifyFlash");
        OpenFlashAccess();
        interleaved_ = false;
        twoPairs_ = false;
        vela_ = false;
        WaitReady(0);
        WriteCartWord(0, 0x98);
        ReadRun(0, 0, 256);
        ReadRun(0x400000, 256, 256);
        WriteCartWord(0, 0xFF);
        static const std::uint32_t kSingle[] = {0x400000, 0x800000, 0x1000000};
        if (Signature(0x20, 0x22, 0x24) && buf_[2] >= 0x16 && buf_[2] <= 0x18) {
            capacity_ = kSingle[buf_[2] - 0x16];
            return 0;
        }
        interleaved_ = true;
        if (Signature(0x40, 0x44, 0x48) && buf_[4] >= 0x16 && buf_[4] <= 0x18) {
            capacity_ = 2 * kSingle[buf_[4] - 0x16];
            if (buf_[4] == 0x16)
                for (int i = 0; i < 256; ++i)
                    if (Word(256 + i) != Word(i)) {
                        capacity_ = 0x1000000;
                        twoPairs_ = true;
                        break;
                    }
            CheckVelaLine();
            return 0;
        }
        return -1;
    }
    void SerialWindow(bool fromRom) {
        if (fromRom)
            RomAccess();
        else
            SerialAccess();
        SetCartAddress(0x800000);
        SerialAccess();
        SelectRegister(3);
    }
    std::array<std::uint8_t, 8> ReadBits64() {
        std::array<std::uint8_t, 8> out{};
        for (auto& b : out)
            for (int i = 0; i < 8; ++i) b = static_cast<std::uint8_t>((b << 1) | (ReadDataWord() & 1));
        return out;
    }
    void CheckVelaLine() {
        Step st(*this, "CheckVelaLine");
        SerialWindow(false);
        for (int bit = 8; bit >= 0; --bit) WriteDataWord(static_cast<std::uint16_t>((0x180 >> bit) & 1));
        SerialWindow(true);
        C(0x00);
        int lead = 0;
        for (int i = 0; i < 4; ++i) lead = (lead << 1) | (ReadDataWord() & 1);
        const auto serial = ReadBits64();
        SerialWindow(false);
        for (int i = 0; i < 9; ++i) WriteDataWord(0);
        RomAccess();
        SaveAccess();
        SetCartAddress(0x200);
        SelectRegister(3);
        C(0x00);
        const auto save = ReadBits64();
        RomAccess();
        vela_ = lead == 1 && serial == save;
    }

    // ------------------------------------------------------------ write, verify

    const Scenario::Item& Single() const { return sc_.items.at(0); }

    // One chunk of the file into the buffer: stop test, read, second pump.
    int PrepareChunk(const std::vector<std::uint8_t>& file, int i) {
        if (StopPressed()) {
            ReportStop();
            return 254;
        }
        LoadChunk(file, static_cast<std::size_t>(i) * 32768, 32768);
        Pump();
        return 0;
    }
    int WriteImage(const Scenario::Item& item) {
        Step st(*this, "WriteImage", item.chunk);
        const int count = static_cast<int>((item.data.size() + 32767) / 32768);
        for (int i = 0; i < count; ++i) {
            Step chunk(*this, "chunk", i);
            if (int r = PrepareChunk(item.data, i); r != 0) return r;
            if (ProgramChunk(item.chunk + i, 32768) != 0 || !AdapterStillAnswers()) return -1;
        }
        if (sc_.verifyAfterWrite) {
            Step pass(*this, "verify pass");
            if (int r = VerifyImage(item); r != 0) return r;
        } else {
            ReportCompleted();
        }
        return 0;
    }
    int VerifyImage(const Scenario::Item& item) {
        Step st(*this, "VerifyImage", item.chunk);
        const int count = static_cast<int>((item.data.size() + 32767) / 32768);
        for (int i = 0; i < count; ++i) {
            Step chunk(*this, "chunk", i);
            if (int r = PrepareChunk(item.data, i); r != 0) return r;
            if (VerifyFlashChunk(item.chunk + i, 32768) != 0 || !AdapterStillAnswers()) return -1;
        }
        ReportCompleted();
        return 0;
    }
    void WriteClick() {
        Step st(*this, "WriteClick");
        if (DetectAdapter() != 0 || IdentifyFlash() != 0) return;
        WaitReady(0);
        BeginOperation();
        WriteImage(Single());
        EndOperation();
    }
    void VerifyClick() {
        Step st(*this, "VerifyClick");
        if (DetectAdapter() != 0) return;
        if (d_.verifyIdentifiesCart && IdentifyFlash() == 0 && Single().data.size() > capacity_) return;
        BeginOperation();
        VerifyImage(Single());
        EndOperation();
    }

    void WriteMultiGames(bool verify) {
        Step st(*this, verify ? "VerifyMultiGames" : "WriteMultiGames");
        if (DetectAdapter() != 0 || IdentifyFlash() != 0) return;
        WaitReady(0);
        BeginOperation();
        for (const Scenario::Item& item : sc_.items) {
            if (item.builtInLoader) {
                Step loader(*this, "built-in loader", item.chunk);
                buf_.fill(0xFF);
                std::copy(item.data.begin(), item.data.end(), buf_.begin());
                const int r = verify ? VerifyFlashChunk(item.chunk, 32768) : ProgramChunk(item.chunk, 32768);
                if (r != 0 || !AdapterStillAnswers()) return EndOperation();
                continue;
            }
            if ((verify ? VerifyImage(item) : WriteImage(item)) != 0) return EndOperation();
        }
        EndOperation();
    }

    // ------------------------------------------------------------ backup

    void StartWordReads(std::uint32_t a) {
        WriteRegister(0, static_cast<std::uint8_t>(a));
        WriteRegister(1, static_cast<std::uint8_t>(a >> 8));
        WriteRegister(2, static_cast<std::uint8_t>(a >> 16));
        SelectRegister(3);
        C(0x00);
    }
    bool ChunkIsEmpty(int c) {
        Step st(*this, "ChunkIsEmpty", c);
        for (int w = 0; w < 16384; ++w) SetWord(w, static_cast<std::uint16_t>(w));
        for (int k = 0; k < 64; ++k) {
            StartWordReads(static_cast<std::uint32_t>(c) * 16384 + static_cast<std::uint32_t>(k) * 256);
            for (int n = 0; n < 256; ++n)
                if (ReadDataWord() != Word(k * 256 + n)) return false;
        }
        return true;
    }
    void ReadClick() {
        Step st(*this, "ReadClick");
        if (DetectAdapter() != 0) return;
        BackupCart();
        EndOperation();
    }
    int BackupCart() {
        Step st(*this, "BackupCart");
        StartWordReads(0);
        for (int w = 0; w < 256; ++w) SetWord(w, ReadDataWord());
        // (the header check passes: the carts of these scenarios hold a game)
        for (int c : {32, 64, 128, 256, 512}) {
            if (c == 512 && !d_.romProbeTo512) break;
            if (ChunkIsEmpty(c)) break;
        }
        IdentifyFlash();
        BeginOperation();
        for (int i = 0; i < sc_.backupChunks; ++i) {
            Step chunk(*this, "chunk", i);
            if (StopPressed()) {
                ReportStop();
                return 254;
            }
            ReadFlashChunk(i);
            Pump();
            if (VerifyFlashChunk(i, 32768) != 0 || !AdapterStillAnswers()) return -1;
        }
        ReportCompleted();
        return 0;
    }

    // ------------------------------------------------------------ whole-flash erase

    void EraseFlashClick() {
        Step st(*this, "EraseFlashClick");
        if (DetectAdapter() != 0 || IdentifyFlash() != 0) return;
        WaitReady(0);
        BeginOperation();
        const std::uint32_t blockWords = interleaved_ ? 131072 : 65536;
        const auto blocks = static_cast<int>(capacity_ / (2 * blockWords));
        for (int b = 0; b < blocks; ++b) {
            if (StopPressed()) {
                ReportStop();
                break;
            }
            Pump();
            if (EraseFlashBlock(static_cast<std::uint32_t>(b) * blockWords) != 0 || !AdapterStillAnswers())
                break;
        }
        EndOperation();
        Pump();
    }

    // ------------------------------------------------------------ save memory

    void OpenSaveWindow(int half) {
        if (d_.savePumps) Pump();
        SelectSaveBank(half);
        SaveAccess();
        if (d_.savePumps) Pump();
    }
    void StartBlock(int block, bool writing) {
        WriteRegister(0, 0);
        WriteRegister(1, static_cast<std::uint8_t>(block));
        WriteRegister(2, 0);
        SelectRegister(3);
        C(writing ? 0x01 : 0x00);
    }
    static int UnitBlock(int u, int k) { return ((u << 5) | k) & 0xFF; }
    static int HalfBlock(int h, int k) { return (h & 1) ? (k | 0x80) : k; }
    // A run of 8 KiB units or a 32 KiB half: 32 or 128 blocks of 256 bytes.
    enum class Save { Read, Compare, Write };
    int SaveBlocks(int window, int blocks, bool half, int which, Save how) {
        OpenSaveWindow(window);
        for (int k = 0; k < blocks; ++k) {
            StartBlock(half ? HalfBlock(which, k) : UnitBlock(which, k), how == Save::Write);
            for (int n = 0; n < 256; ++n) {
                std::uint8_t& b = buf_[static_cast<std::size_t>(k * 256 + n)];
                if (how == Save::Write)
                    WriteDataByte(b);
                else if (how == Save::Read)
                    b = ReadDataByte();
                else if (ReadDataByte() != b)
                    return -1;
            }
            if (half && d_.savePumps && k % 32 == 31) Pump();
        }
        return 0;
    }
    int CompareSaveUnit(int u) {
        Step st(*this, "CompareSaveUnit", u);
        return SaveBlocks(u >> 2, 32, false, u, Save::Compare);
    }
    int ReadSaveUnit(int u) {
        Step st(*this, "ReadSaveUnit", u);
        SaveBlocks(u >> 2, 32, false, u, Save::Read);
        return CompareSaveUnit(u);
    }
    int WriteSaveUnit(int u) {
        Step st(*this, "WriteSaveUnit", u);
        SaveBlocks(u >> 2, 32, false, u, Save::Write);
        return CompareSaveUnit(u);
    }
    int CompareSaveHalf(int h) {
        Step st(*this, "CompareSaveHalf", h);
        return SaveBlocks(h, 128, true, h, Save::Compare);
    }
    int ProbeSaveMemory() {
        Step st(*this, "ProbeSaveMemory");
        {
            Step read(*this, "ReadSaveHalf", 0);
            SaveBlocks(0, 128, true, 0, Save::Read);
            CompareSaveHalf(0);
        }
        if (CompareSaveHalf(0) != 0) return -1;
        return CompareSaveHalf(1) == 0 ? 1 : 2;
    }
    // Bytes of the memory's size found from its mirroring; 0 when the
    // contents cannot tell (they repeat within 8 KiB) or a half read twice
    // differs.
    std::size_t FindSaveSize() {
        Step st(*this, "FindSaveSize");
        std::vector<std::uint8_t> window(8 * buf_.size());
        for (int h = 0; h < 8; ++h) {
            {
                Step read(*this, "ReadSaveHalf", h);
                SaveBlocks(h, 128, true, h, Save::Read);
                if (CompareSaveHalf(h) != 0) return 0;
            }
            std::copy(buf_.begin(), buf_.end(),
                      window.begin() + h * static_cast<std::ptrdiff_t>(buf_.size()));
        }
        std::size_t period = 1;
        while (period < window.size() && !std::equal(window.begin() + static_cast<std::ptrdiff_t>(period),
                                                     window.end(), window.begin()))
            period *= 2;
        if (period < 8192) return 0;
        return period == 16384 ? 32768 : period;  // sizes 8K, 32K, 64K, 128K, 256K
    }
    bool SelectSaver() {
        if (DetectAdapter() != 0 || ProbeSaveMemory() <= 0) return false;
        if (d_.saveSizeFromMirroring) foundSaveBytes_ = FindSaveSize();
        return true;
    }

    void SReadClick() {
        Step st(*this, "SReadClick");
        if (!SelectSaver()) return;
        BeginOperation();
        [&] {
            for (int i = 0; i < sc_.saveUnits; ++i) {
                Step unit(*this, "unit", i);
                if (StopPressed()) return ReportStop();
                Pump();
                if (ReadSaveUnit(sc_.saveStartUnit + i) != 0 || !AdapterStillAnswers()) return;
            }
            ReportCompleted();
        }();
        EndOperation();
    }
    void SWriteClick() {
        Step st(*this, "SWriteClick");
        if (!SelectSaver()) return;
        const int units = static_cast<int>(
            std::min<std::size_t>(sc_.saveFile.size() / 8192, static_cast<std::size_t>(sc_.saveUnits)));
        if (foundSaveBytes_ != 0 && static_cast<std::size_t>(units) * 8192 > foundSaveBytes_) return;
        BeginOperation();
        [&] {
            for (int i = 0; i < units; ++i) {
                Step unit(*this, "unit", i);
                if (StopPressed()) return ReportStop();
                LoadChunk(sc_.saveFile, static_cast<std::size_t>(i) * 8192, 8192);
                Pump();
                if (WriteSaveUnit(sc_.saveStartUnit + i) != 0 || !AdapterStillAnswers()) return;
            }
            for (int i = 0; d_.saveRestoreFinalCompare && i < units; ++i) {
                Step unit(*this, "compare unit", i);
                if (StopPressed()) return ReportStop();
                LoadChunk(sc_.saveFile, static_cast<std::size_t>(i) * 8192, 8192);
                Pump();
                if (CompareSaveUnit(sc_.saveStartUnit + i) != 0 || !AdapterStillAnswers()) return;
            }
            ReportCompleted();
        }();
        EndOperation();
    }

    // ------------------------------------------------------------ state

    const Scenario& sc_;
    const Departures& d_;
    const std::vector<Access>& trace_;
    const std::vector<std::size_t>& pumps_;
    std::size_t pos_ = 0;
    std::size_t pump_ = 0;
    std::array<std::pair<const char*, long long>, kMaxDepth> steps_{};
    int depth_ = 0;
    std::vector<StopPoint> stops_;

    int base_ = 0x378;
    int speed_ = 0;
    bool spp_ = false;
    bool interleaved_ = false;
    bool twoPairs_ = false;
    bool vela_ = false;
    std::uint32_t capacity_ = 0;
    std::size_t foundSaveBytes_ = 0;
    int lastErasedBlock_ = -1;
    int skippedBlock_ = -1;
    std::uint32_t skippedChunks_ = 0;
    std::array<std::uint8_t, 32768> buf_{};
    std::array<std::array<std::uint8_t, 32768>, 8> skippedData_{};
};

}  // namespace

std::vector<StopPoint> Replay(const Scenario& scenario, const Departures& departures,
                              const std::vector<Access>& trace, const std::vector<std::size_t>& pumps) {
    auto model = std::make_unique<Model>(scenario, departures, trace, pumps);
    return model->Run();
}

}  // namespace rombolt::test::conformance
