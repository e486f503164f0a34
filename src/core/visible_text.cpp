#include "core/visible_text.h"

#include <cstdint>

namespace rombolt {

namespace {

// Length of the well-formed UTF-8 character at the start of t (2..4), or 0.
std::size_t Utf8Length(std::string_view t) {
    const auto b = [&t](std::size_t i) { return static_cast<std::uint8_t>(t[i]); };
    const auto cont = [&](std::size_t i, std::uint8_t lo = 0x80, std::uint8_t hi = 0xBF) {
        return i < t.size() && b(i) >= lo && b(i) <= hi;
    };
    const std::uint8_t lead = b(0);
    if (lead >= 0xC2 && lead <= 0xDF) return cont(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const std::uint8_t lo = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        const std::uint8_t hi = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
        return cont(1, lo, hi) && cont(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const std::uint8_t lo = lead == 0xF0 ? 0x90 : 0x80;
        const std::uint8_t hi = lead == 0xF4 ? 0x8F : 0xBF;
        return cont(1, lo, hi) && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

void Escape(std::string& out, std::uint8_t v) {
    static const char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[v >> 4];
    out += kHex[v & 0x0F];
}

}  // namespace

std::string VisibleText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto v = static_cast<std::uint8_t>(text[i]);
        if (v >= 0x20 && v < 0x7F) {
            out += text[i++];
            continue;
        }
        const std::size_t n = v >= 0x80 ? Utf8Length(text.substr(i)) : 0;
        // U+0080..U+009F (C2 80..C2 9F) are the C1 controls.
        const bool c1 = n == 2 && v == 0xC2 && static_cast<std::uint8_t>(text[i + 1]) <= 0x9F;
        if (n == 0 || c1) {
            const std::size_t k = c1 ? 2 : 1;
            for (std::size_t j = 0; j < k; ++j) Escape(out, static_cast<std::uint8_t>(text[i + j]));
            i += k;
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

}  // namespace rombolt
