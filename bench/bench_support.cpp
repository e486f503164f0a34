#include "bench_support.h"

#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/app_state.h"
#include "image/header.h"

namespace rombolt::bench {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double WallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

Spread SpreadOf(std::vector<double> values) {
    Spread s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.min = values.front();
    s.max = values.back();
    s.runs = static_cast<int>(n);
    return s;
}

std::string FixedSpread(const Spread& s, int decimals) {
    if (s.runs <= 1) return Fixed(s.median, decimals);
    return Fixed(s.median, decimals) + " (" + Fixed(s.min, decimals) + "–" + Fixed(s.max, decimals) + ")";
}

LinkCost CostOf(const AppState& s) {
    if (s.Link.SppMode) return {6, 12, 3, 6};
    switch (s.Config.SpeedIndex) {
        case 0:
            return {1, 1, 1, 1};
        case 1:
            return {2, 2, 1, 1};
        default:
            return {6, 2, 3, 1};  // SPP-strobed writes, EPP reads
    }
}

DecodingPort::DecodingPort(PortBackend& inner, int base)
    : inner_(inner),
      data_(static_cast<std::uint16_t>(base)),
      status_(static_cast<std::uint16_t>(base + 1)),
      control_(static_cast<std::uint16_t>(base + 2)),
      eppAddress_(static_cast<std::uint16_t>(base + 3)),
      eppData_(static_cast<std::uint16_t>(base + 4)) {}

long long DecodingPort::Total() const {
    long long n = pending_;
    for (long long c : counts_) n += c;
    return n;
}

std::uint8_t DecodingPort::inb(std::uint16_t port) {
    if (port == status_ && (ctl_ == 0x02 || ctl_ == 0x06)) {
        counts_[last_] += 1;  // a nibble of the read cycle in progress
    } else if (port == eppData_) {
        Cycle(ReadFrom(reg_));
    } else {
        counts_[Control] += 1;
    }
    return inner_.inb(port);
}

std::uint16_t DecodingPort::inw(std::uint16_t port) {
    if (port == eppData_)
        Cycle(ReadFrom(reg_));
    else
        counts_[Control] += 1;
    return inner_.inw(port);
}

void DecodingPort::outb(std::uint16_t port, std::uint8_t value) {
    if (port == data_) {
        latch_ = value;
        ++pending_;
    } else if (port == control_) {
        const std::uint8_t prev = ctl_;
        ctl_ = value;
        switch (value) {
            case 0x09:  // SPP address strobe: selects the register on the data lines
                reg_ = latch_;
                Cycle(SelectionOf(reg_));
                break;
            case 0x03:  // SPP data strobe
                Cycle(WriteTo(reg_));
                break;
            case 0x02:  // SPP read, low half: the read cycle begins
                Cycle(ReadFrom(reg_));
                break;
            case 0x06:
                counts_[last_] += 1;
                break;
            case 0x01:  // back to rest after a strobe, or the start of the next cycle
                if (prev == 0x09 || prev == 0x03)
                    counts_[last_] += 1;
                else
                    ++pending_;
                break;
            case 0x00:  // back to rest after a nibble read, or the start of a read run
                if (prev == 0x06)
                    counts_[last_] += 1;
                else
                    ++pending_;
                break;
            default:  // the idle value and anything else
                counts_[Control] += pending_ + 1;
                pending_ = 0;
                break;
        }
    } else if (port == eppAddress_) {
        reg_ = value;
        Cycle(SelectionOf(reg_));
    } else if (port == eppData_) {
        Cycle(WriteTo(reg_));
    } else {
        counts_[Control] += 1;  // the status register (adapter preparation)
    }
    inner_.outb(port, value);
}

void DecodingPort::outw(std::uint16_t port, std::uint16_t value) {
    if (port == eppData_)
        Cycle(WriteTo(reg_));
    else
        counts_[Control] += 1;
    inner_.outw(port, value);
}

std::string PortSetting::Label() const {
    static const char* kSpeed[] = {"4", "3", "2", "1"};
    return std::string(sppOnlyPort ? "SPP port" : "EPP port") + ", speed " + kSpeed[speedIndex];
}

std::vector<PortSetting> AllPortSettings() {
    std::vector<PortSetting> v;
    for (bool spp : {false, true})
        for (int speed = 0; speed < 4; ++speed) v.push_back({spp, speed});
    return v;
}

std::string Fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string Thousands(long long v) {
    std::string digits = std::to_string(v < 0 ? -v : v);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return v < 0 ? "-" + out : out;
}

void Table::Print(std::FILE* out) const {
    auto line = [out](const std::vector<std::string>& cells) {
        std::fputs("|", out);
        for (const auto& c : cells) std::fprintf(out, " %s |", c.c_str());
        std::fputs("\n", out);
    };
    // Columns of numbers are aligned right, columns of words left.
    auto numeric = [this](std::size_t col) {
        for (const auto& r : rows_) {
            if (col >= r.size() || r[col].empty()) continue;
            const std::string& c = r[col];
            if (!(std::isdigit(static_cast<unsigned char>(c[0])) || c.rfind("—", 0) == 0 || c[0] == '-'))
                return false;
        }
        return !rows_.empty();
    };
    line(header_);
    std::fputs("|", out);
    for (std::size_t i = 0; i < header_.size(); ++i) std::fputs(numeric(i) ? "---:|" : "---|", out);
    std::fputs("\n", out);
    for (const auto& r : rows_) line(r);
    std::fputs("\n", out);
}

std::vector<std::uint8_t> MakeImage(std::size_t bytes, std::uint32_t seed) {
    std::vector<std::uint8_t> img(bytes);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : img) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    if (bytes < 0xC0) return img;
    // A game starts with an ARM branch over its header to 0xC0.
    const std::uint8_t branch[] = {0x2E, 0x00, 0x00, 0xEA};
    std::memcpy(img.data(), branch, sizeof branch);
    std::memcpy(img.data() + 4, kGbaLogo.data(), kGbaLogo.size());
    std::memset(img.data() + 0xA0, 0, 0x1D);
    std::memcpy(img.data() + 0xA0, "BENCH", 5);
    img[0xB2] = 0x96;
    int sum = 0x19;
    for (int i = 0xA0; i <= 0xBC; ++i) sum += img[static_cast<std::size_t>(i)];
    img[0xBD] = static_cast<std::uint8_t>(-sum);
    return img;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace rombolt::bench
