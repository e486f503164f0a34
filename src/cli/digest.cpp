#include "cli/digest.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace rombolt::cli {

namespace {

// Slicing by eight: table k maps a byte to its CRC after k further zero bytes,
// so eight bytes take eight lookups and no loop-carried shift per byte.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;
constexpr CrcTables MakeCrcTables() {
    CrcTables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}
constexpr CrcTables kCrc = MakeCrcTables();

inline std::uint32_t Rol(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

std::string ToHex(const std::uint8_t* data, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out(2 * n, '0');
    for (std::size_t i = 0; i < n; ++i) {
        out[2 * i] = digits[data[i] >> 4];
        out[2 * i + 1] = digits[data[i] & 15];
    }
    return out;
}

void Crc32::Update(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint32_t c = state_;
    for (; n >= 8; n -= 8, p += 8) {
        const std::uint32_t lo = c ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                      std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
        c = kCrc[7][lo & 0xFF] ^ kCrc[6][(lo >> 8) & 0xFF] ^ kCrc[5][(lo >> 16) & 0xFF] ^ kCrc[4][lo >> 24] ^
            kCrc[3][p[4]] ^ kCrc[2][p[5]] ^ kCrc[1][p[6]] ^ kCrc[0][p[7]];
    }
    for (; n > 0; --n) c = kCrc[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    state_ = c;
}

std::string Crc32::Hex() const {
    std::uint32_t v = Value();
    std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                         static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    return ToHex(b, 4);
}

Sha1::Sha1() : h_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u} {}

void Sha1::BlocksPortable(std::uint32_t* h, const std::uint8_t* p, std::size_t blocks) {
    for (; blocks > 0; --blocks, p += 64) {
        std::uint32_t w[80];
        for (int i = 0; i < 16; ++i)
            w[i] = (std::uint32_t(p[4 * i]) << 24) | (std::uint32_t(p[4 * i + 1]) << 16) |
                   (std::uint32_t(p[4 * i + 2]) << 8) | std::uint32_t(p[4 * i + 3]);
        for (int i = 16; i < 80; ++i) w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            std::uint32_t f, k;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999u;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1u;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDCu;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6u;
            }
            std::uint32_t t = Rol(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = Rol(b, 30);
            b = a;
            a = t;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
namespace {

bool CpuHasSha() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    const bool sha = (b & (1u << 29)) != 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = (c & (1u << 9)) != 0, sse41 = (c & (1u << 19)) != 0;
    return sha && ssse3 && sse41;
}

// Four rounds with the message words in `m` (round group g of 20).
__attribute__((target("sha,sse4.1"))) inline __m128i Rounds(__m128i abcd, __m128i e, int g) {
    switch (g / 5) {
        case 0:
            return _mm_sha1rnds4_epu32(abcd, e, 0);
        case 1:
            return _mm_sha1rnds4_epu32(abcd, e, 1);
        case 2:
            return _mm_sha1rnds4_epu32(abcd, e, 2);
        default:
            return _mm_sha1rnds4_epu32(abcd, e, 3);
    }
}

__attribute__((target("sha,sse4.1"))) void ShaInstructionBlocks(std::uint32_t* h, const std::uint8_t* p,
                                                                std::size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
    for (; blocks > 0; --blocks, p += 64) {
        const __m128i abcdBefore = abcd, eBefore = e0;
        __m128i m[4], e1;
        for (int i = 0; i < 4; ++i)
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), byteSwap);
        // Group g: the next four of the 80 rounds, with the message schedule
        // for the groups ahead worked out alongside (m[g % 4] holds the
        // words of group g).
        e0 = _mm_add_epi32(e0, m[0]);
        e1 = abcd;
        abcd = Rounds(abcd, e0, 0);
#pragma GCC unroll 19
        for (int g = 1; g < 20; ++g) {
            const __m128i w = m[g % 4];
            __m128i& e = g % 2 == 0 ? e0 : e1;
            e = _mm_sha1nexte_epu32(e, w);
            (g % 2 == 0 ? e1 : e0) = abcd;
            if (g >= 3 && g <= 18) m[(g + 1) % 4] = _mm_sha1msg2_epu32(m[(g + 1) % 4], w);
            abcd = Rounds(abcd, e, g);
            if (g <= 16) m[(g + 3) % 4] = _mm_sha1msg1_epu32(m[(g + 3) % 4], w);
            if (g >= 2 && g <= 17) m[(g + 2) % 4] = _mm_xor_si128(m[(g + 2) % 4], w);
        }
        e0 = _mm_sha1nexte_epu32(e0, eBefore);
        abcd = _mm_add_epi32(abcd, abcdBefore);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
    h[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

}  // namespace

bool Sha1::BlocksWithShaInstructions(std::uint32_t* h, const std::uint8_t* p, std::size_t blocks) {
    static const bool available = CpuHasSha();
    if (!available) return false;
    ShaInstructionBlocks(h, p, blocks);
    return true;
}
#else
bool Sha1::BlocksWithShaInstructions(std::uint32_t*, const std::uint8_t*, std::size_t) { return false; }
#endif

void Sha1::Blocks(const std::uint8_t* p, std::size_t blocks) {
    if (!BlocksWithShaInstructions(h_.data(), p, blocks)) BlocksPortable(h_.data(), p, blocks);
}

void Sha1::Update(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    total_ += n;
    if (used_ > 0) {
        std::size_t take = std::min(n, buf_.size() - used_);
        std::memcpy(buf_.data() + used_, p, take);
        used_ += take;
        p += take;
        n -= take;
        if (used_ < buf_.size()) return;
        Blocks(buf_.data(), 1);
        used_ = 0;
    }
    Blocks(p, n / 64);
    p += n / 64 * 64;
    n %= 64;
    std::memcpy(buf_.data(), p, n);
    used_ = n;
}

std::array<std::uint8_t, 20> Sha1::Final() {
    std::uint64_t bits = total_ * 8;
    buf_[used_++] = 0x80;
    if (used_ > 56) {
        std::memset(buf_.data() + used_, 0, 64 - used_);
        Blocks(buf_.data(), 1);
        used_ = 0;
    }
    std::memset(buf_.data() + used_, 0, 56 - used_);
    for (int i = 0; i < 8; ++i) buf_[56 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Blocks(buf_.data(), 1);
    std::array<std::uint8_t, 20> out{};
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(h_[i] >> (24 - 8 * j));
    return out;
}

std::string Sha1::HexFinal() {
    auto d = Final();
    return ToHex(d.data(), d.size());
}

DigestText Finish(Digest& d) { return {d.crc.Hex(), d.sha.HexFinal(), d.bytes}; }

}  // namespace rombolt::cli
