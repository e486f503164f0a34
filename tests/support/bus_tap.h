// A port back end for tests that decodes EPP cycles (speed "4": one 16-bit
// access per word) into cart bus events: words written to cart addresses,
// adapter register writes, and word reads answered by a test-supplied function.
// It models no chip; tests use it to check exact command sequences and to play
// status or query answers that a real cart would give.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "port/ioport.h"

namespace rombolt::test {

class BusTap final : public PortBackend {
public:
    struct Write {
        std::uint32_t addr;
        std::uint16_t word;
        std::uint8_t mode = 0;  // access mode register at the time
        bool operator==(const Write& o) const { return addr == o.addr && word == o.word; }
    };

    std::uint8_t inb(std::uint16_t) override { return 0xFF; }
    void outb(std::uint16_t port, std::uint8_t v) override {
        if (port == kBase + 3) {
            reg = v;
        } else if (port == kBase + 4) {
            regWrites.emplace_back(reg, v);
            if (reg <= 2) {
                const int shift = 8 * reg;
                addr = (addr & ~(0xFFu << shift)) | (std::uint32_t{v} << shift);
            } else if (reg == 4) {
                mode = v;
            }
        }
    }
    std::uint16_t inw(std::uint16_t port) override {
        if (port != kBase + 4 || reg != 3) return 0xFFFF;
        ++reads;
        const std::uint16_t w = answer ? answer(addr) : 0xFFFF;
        ++addr;
        return w;
    }
    void outw(std::uint16_t port, std::uint16_t w) override {
        if (port != kBase + 4 || reg != 3) return;
        writes.push_back({addr, w, mode});
        ++addr;
    }

    // Data port base the tests select (LPT1).
    static constexpr std::uint16_t kBase = 0x378;
    std::function<std::uint16_t(std::uint32_t)> answer;
    std::vector<Write> writes;
    std::vector<std::pair<int, int>> regWrites;
    long reads = 0;
    int reg = 0;
    std::uint8_t mode = 0;
    std::uint32_t addr = 0;
};

}  // namespace rombolt::test
