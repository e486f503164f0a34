// The link, detection, identification and flash loops against a port that
// answers with the fuzzer's bytes (and 0xFF once they run out).
#include "app/app_state.h"
#include "flash/flash.h"
#include "flash/identify.h"
#include "fuzz_support.h"
#include "link/detect.h"

using namespace rombolt;

namespace {
class RandomPort final : public PortBackend {
public:
    RandomPort(const std::uint8_t* d, size_t n) : data_(d), size_(n) {}
    std::uint8_t inb(std::uint16_t) override { return pos_ < size_ ? data_[pos_++] : 0xFF; }
    void outb(std::uint16_t, std::uint8_t) override {}
    std::uint16_t inw(std::uint16_t) override {
        const std::uint8_t lo = inb(0);
        return static_cast<std::uint16_t>(lo | (inb(0) << 8));
    }
    void outw(std::uint16_t, std::uint16_t) override {}

private:
    const std::uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size < 2) return 0;
    fuzz::FreshState f;
    AppState& s = f.s;
    RandomPort port(data + 2, size - 2);
    s.Port = &port;
    s.Config.SpeedIndex = static_cast<std::int8_t>(data[0] & 3);
    s.Config.VerifyAfterWrite = data[1] & 1;
    if (DetectAdapter(s) != 0) return 0;
    const int id = IdentifyFlash(s);
    if (id != 0 && id != -1) __builtin_trap();
    if (id == 0 && s.Cart.CapacityBytes != 0x400000 && s.Cart.CapacityBytes != 0x800000 &&
        s.Cart.CapacityBytes != 0x1000000 && s.Cart.CapacityBytes != 0x2000000)
        __builtin_trap();
    // A few chunk operations; the stop flag stays clear so every poll loop runs out its budget
    // only when the port keeps saying busy, and 0xFF (ready) ends it once the bytes run out.
    s.StopRequested = 0;
    const int r = ProgramFlashChunk(s, data[1] >> 1, kChunkBytes);
    if (r != 0 && r != -1) __builtin_trap();
    ReadFlashChunk(s, 3);
    const int v = VerifyFlashChunk(s, 5, kChunkBytes);
    if (v != 0 && v != -1) __builtin_trap();
    return 0;
}
