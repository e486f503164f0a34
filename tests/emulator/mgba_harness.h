// A headless console for tests: boots a cartridge image in libmgba (GBA or
// GB, told apart by the image), runs frames, reads the bus and the picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct mCore;

namespace rombolt::test {

class Emulator {
public:
    enum class GbModel { Colour, Original };

    // Null when mGBA cannot load the image. model matters only to GB images.
    static std::unique_ptr<Emulator> Boot(const std::vector<std::uint8_t>& image,
                                          GbModel model = GbModel::Colour);
    ~Emulator();

    void RunFrames(int n);
    // Keys held from now on, in the console's key bit order (GBA: bit 4 Right, bit 5 Left).
    void SetKeys(std::uint32_t keys);
    std::uint16_t Read16(std::uint32_t address);
    std::uint32_t Read32(std::uint32_t address) { return Read16(address) | Read16(address + 2) << 16; }

    // The console's picture (a GB's 160 x 144 without the room mGBA keeps for a border).
    unsigned Width() const { return width_; }
    unsigned Height() const { return height_; }
    std::uint32_t Pixel(unsigned x, unsigned y) const;  // 0xRRGGBB
    int DistinctColours() const;
    // The last frame as a PNG, each pixel drawn as 2 x 2.
    bool WritePng(const std::string& path) const;

private:
    Emulator() = default;
    ::mCore* core_ = nullptr;
    std::vector<std::uint32_t> frame_;
    unsigned stride_ = 0;
    unsigned width_ = 0;
    unsigned height_ = 0;
};

}  // namespace rombolt::test
