#include "image/header.h"

#include <algorithm>
#include <string>

#include "core/operation.h"

namespace rombolt {

namespace {

constexpr int kGbaLogoAt = 0x04;
constexpr int kGbaTitleAt = 0xA0;
constexpr int kGbaTitleLength = 12;
constexpr int kFixedValueAt = 0xB2;
constexpr std::uint8_t kFixedValue = 0x96;
constexpr int kComplementAt = 0xBD;
constexpr int kGbLogoAt = 0x104;
constexpr int kGbTitleAt = 0x134;
constexpr int kGbTitleLength = 16;

// Title bytes with bit 7 cleared, ending at the first NUL.
std::string TitleText(const std::uint8_t* p, int length) {
    std::string name;
    for (int i = 0; i < length; ++i) {
        const char c = static_cast<char>(p[i] & 0x7F);
        if (c == 0) break;
        name.push_back(c);
    }
    return name;
}

// (0x19 + sum of 0xA0..0xBC) mod 256; the header is consistent when this plus
// the byte at 0xBD is 0 mod 256.
std::uint8_t ComplementSum(const std::uint8_t* b) {
    unsigned sum = 0x19;
    for (int i = kGbaTitleAt; i < kComplementAt; ++i) sum += b[i];
    return static_cast<std::uint8_t>(sum);
}

}  // namespace

std::uint8_t GbHeaderChecksum(const std::uint8_t* image) {
    std::uint8_t x = 0;
    for (int i = 0x134; i <= 0x14C; ++i) x = static_cast<std::uint8_t>(x - image[i] - 1);
    return x;
}

std::uint16_t GbGlobalChecksum(const std::uint8_t* image, std::size_t size) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i)
        if (i != 0x14E && i != 0x14F) sum += image[i];
    return static_cast<std::uint16_t>(sum);
}

int CheckCartHeader(ImageState& s, HeaderCheck mode) {
    const bool fix = s.Config.FixRom != 0;
    const bool mayRepair = fix && (mode == HeaderCheck::Repair || mode == HeaderCheck::RepairLogged);
    const bool logErrors = mode == HeaderCheck::Logged;
    const bool logRepairs = mode == HeaderCheck::RepairLogged;
    const bool logName = mode == HeaderCheck::Logged || mode == HeaderCheck::RepairLogged;
    std::uint8_t* b = s.ChunkBuffer.data();
    s.HeaderRepaired = false;

    if (std::equal(kGbLogo.begin(), kGbLogo.end(), b + kGbLogoAt)) {
        s.GameNameText = TitleText(b + kGbTitleAt, kGbTitleLength);
        return 2;
    }

    if (!std::equal(kGbaLogo.begin(), kGbaLogo.end(), b + kGbaLogoAt)) {
        if (!mayRepair) {
            if (logErrors) LogLine(s, "Logo Area Error!!!");
            return -1;
        }
        std::copy(kGbaLogo.begin(), kGbaLogo.end(), b + kGbaLogoAt);
        s.HeaderRepaired = true;
        if (logRepairs) LogLine(s, "Logo Area fixed");
    }

    // The fixed byte is corrected first, so the complement covers its final value.
    if (b[kFixedValueAt] != kFixedValue && fix && mode != HeaderCheck::Quiet) {
        b[kFixedValueAt] = kFixedValue;
        s.HeaderRepaired = true;
    }

    const std::uint8_t sum = ComplementSum(b);
    if (static_cast<std::uint8_t>(sum + b[kComplementAt]) != 0) {
        if (!mayRepair) {
            if (logErrors) LogLine(s, "Complement Check Error!!!");
            return -1;
        }
        b[kComplementAt] = static_cast<std::uint8_t>(256 - sum);
        s.HeaderRepaired = true;
        if (logRepairs) LogLine(s, "Complement Check fixed");
    }

    s.GameNameText = TitleText(b + kGbaTitleAt, kGbaTitleLength);
    if (logName) LogLine(s, "Game Name = " + s.GameNameText);
    return 0;
}

}  // namespace rombolt
