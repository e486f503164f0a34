// What `rombolt header` says about an image file: console type, title, and
// whether the fields of the header that the console checks are right. Nothing
// is repaired.
#pragma once

#include <cstdint>
#include <string>

namespace rombolt::cli {

struct HeaderReport {
    enum class Type { Gba, Gb, Gbc };

    bool readable = false;
    std::string error;  // why not readable
    long long size = 0;
    Type type = Type::Gba;
    std::string title;
    // GBA
    bool logoOk = false;
    bool complementOk = false;
    std::uint8_t complement = 0;          // byte 0xBD
    std::uint8_t expectedComplement = 0;  // what 0xBD should hold
    std::uint8_t fixedByte = 0;           // byte 0xB2, 0x96 in a good header
    // GB
    bool checksumOk = false;
    std::uint8_t checksum = 0;  // byte 0x14D
    std::uint8_t expectedChecksum = 0;

    // GB: logo found and header checksum right; GBA: logo and complement right.
    bool Good() const;
};

// Looks at the first 512 bytes (a shorter file is read as padded with 0xFF,
// as the write pipeline pads it).
HeaderReport AnalyzeHeader(const std::uint8_t* first512, long long size);
HeaderReport ReadHeaderReport(const std::string& path);
// One line: name: type "title", logo ..., complement ...
std::string FormatHeaderReport(const std::string& name, const HeaderReport& h);

}  // namespace rombolt::cli
