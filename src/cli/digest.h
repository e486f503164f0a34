// Checksums printed after a write, verify or backup: CRC-32 (the zip/PNG
// polynomial) and SHA-1, the two sums people compare cartridge dumps with.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rombolt::cli {

class Crc32 {
public:
    void Update(const void* data, std::size_t n);
    std::uint32_t Value() const { return ~state_; }
    std::string Hex() const;  // 8 lower-case hex digits

private:
    std::uint32_t state_ = 0xFFFFFFFFu;
};

class Sha1 {
public:
    Sha1();
    void Update(const void* data, std::size_t n);
    // Ends the message; further Update calls are not allowed.
    std::array<std::uint8_t, 20> Final();
    std::string HexFinal();  // 40 lower-case hex digits

    // The compression of `blocks` 64-byte blocks into `h`: in plain C++, and
    // with the processor's SHA instructions where it has them (false when
    // not). Update uses the faster one; exposed for the tests.
    static void BlocksPortable(std::uint32_t* h, const std::uint8_t* p, std::size_t blocks);
    static bool BlocksWithShaInstructions(std::uint32_t* h, const std::uint8_t* p, std::size_t blocks);

private:
    void Blocks(const std::uint8_t* p, std::size_t blocks);

    std::array<std::uint32_t, 5> h_;
    std::array<std::uint8_t, 64> buf_{};
    std::size_t used_ = 0;
    std::uint64_t total_ = 0;  // bytes
};

// Both sums of one stream of data, and how many bytes went in.
struct Digest {
    Crc32 crc;
    Sha1 sha;
    std::uint64_t bytes = 0;

    void Update(const void* data, std::size_t n) {
        crc.Update(data, n);
        sha.Update(data, n);
        bytes += n;
    }
};

// Finished values of a Digest.
struct DigestText {
    std::string crc32;
    std::string sha1;
    std::uint64_t bytes = 0;
};
DigestText Finish(Digest& d);

std::string ToHex(const std::uint8_t* data, std::size_t n);

}  // namespace rombolt::cli
