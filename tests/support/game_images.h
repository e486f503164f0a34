// Game images with valid headers for tests, and small file helpers.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/header.h"

namespace rombolt::test {

// Pseudo-random filler that differs from image to image (seed) and chunk to chunk.
inline void FillPattern(std::vector<std::uint8_t>& img, std::uint32_t seed) {
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : img) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
}

// A GBA image of `size` bytes with a consistent header and title; with
// paddedTail the last 32 KiB are all `padByte`.
inline std::vector<std::uint8_t> MakeGbaImage(std::size_t size, const std::string& title, std::uint32_t seed,
                                              bool paddedTail = false, std::uint8_t padByte = 0xFF) {
    std::vector<std::uint8_t> img(size);
    FillPattern(img, seed);
    std::memcpy(img.data() + 4, kGbaLogo.data(), kGbaLogo.size());
    std::memset(img.data() + 0xA0, 0, 0x1D);
    std::memcpy(img.data() + 0xA0, title.data(), std::min<std::size_t>(12, title.size()));
    img[0xB2] = 0x96;
    int sum = 0x19;
    for (int i = 0xA0; i <= 0xBC; ++i) sum += img[i];
    img[0xBD] = static_cast<std::uint8_t>(-sum);
    if (paddedTail) std::memset(img.data() + size - 32768, padByte, 32768);
    return img;
}

// A GB image with the logo, a title and the given colour flag at 0x143.
inline std::vector<std::uint8_t> MakeGbImage(std::size_t size, const std::string& title,
                                             std::uint8_t colourFlag, std::uint32_t seed,
                                             bool paddedTail = false) {
    std::vector<std::uint8_t> img(size);
    FillPattern(img, seed);
    std::memcpy(img.data() + 0x104, kGbLogo.data(), kGbLogo.size());
    std::memset(img.data() + 0x134, 0, 16);
    std::memcpy(img.data() + 0x134, title.data(), std::min<std::size_t>(11, title.size()));
    img[0x143] = colourFlag;
    if (paddedTail) std::memset(img.data() + size - 32768, 0xFF, 32768);
    return img;
}

inline void WriteFileBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh, empty directory under the temp directory, removed on destruction.
class TempDir {
public:
    explicit TempDir(const std::string& tag) {
        path_ = std::filesystem::temp_directory_path() /
                ("rombolt_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
    static inline int counter_ = 0;
};

}  // namespace rombolt::test
