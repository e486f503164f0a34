// The settings record: what the user chose (port, speed, options, loader files)
// and the window's remembered state. Every layer reads its fields; the
// application layer stores it whole in "config.sav" (1340 bytes, little-endian).
// Field order and sizes mirror the file; the byte image is produced field by
// field by SerializeConfig/ParseConfig (app/config.h), never by struct layout.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace rombolt {

inline constexpr int kConfigSize = 1340;
inline constexpr int kPathFieldSize = 260;  // 259 characters + NUL

// A fixed 260-byte string field. Bytes after the terminator are kept exactly as
// they were read, since the file writes them back as they stand.
struct PathField {
    std::array<char, kPathFieldSize> bytes{};

    std::string str() const {
        const void* nul = std::memchr(bytes.data(), 0, bytes.size());
        size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes.data()) : bytes.size();
        return std::string(bytes.data(), n);
    }
    // Stores text + NUL, leaving the bytes after the terminator untouched.
    // Returns false (and changes nothing) when the text does not fit in 259 characters.
    bool set(const std::string& text) {
        if (text.size() >= bytes.size()) return false;
        std::memcpy(bytes.data(), text.data(), text.size());
        bytes[text.size()] = 0;
        return true;
    }
    bool empty() const { return bytes[0] == 0; }
};

struct ConfigRecord {
    std::uint8_t PortIndex = 0;               // 0: LPT1 0x378, 1: LPT2 0x278, 2: LPT3 0x3BC
    PathField LastOpenFile;                   // offset 1
    PathField LastSaveFile;                   // offset 261
    std::array<std::uint8_t, 3> Reserved1{};  // offset 521
    std::int32_t WindowHeight = 606;          // offset 524
    std::int32_t WindowWidth = 553;           // offset 528
    std::int8_t SpeedIndex = 0;               // offset 532; captions "4","3","2","1"
    PathField GbaLoaderFile;                  // offset 533
    std::uint8_t IpsApply = 0;                // offset 793
    std::uint8_t VerifyAfterWrite = 0;        // offset 794
    std::uint8_t FixRom = 1;                  // offset 795
    PathField CurrentDirectory;               // offset 796
    std::uint8_t Cut32K = 1;                  // offset 1056
    PathField GbLoaderFile;                   // offset 1057
    std::array<std::uint8_t, 3> Reserved2{};  // offset 1317
    std::array<std::int32_t, 5> ColumnWidths{135, 140, 60, 95, 50};  // offset 1320
};

}  // namespace rombolt
