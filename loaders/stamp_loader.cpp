// Completes a freshly built boot loader with the writer's own header code:
// pads it to 32 KiB with 0xFF (erased flash) and puts in the logos and the
// check values, so that the loader passes the writer's header check as it is.
//
//   stamp_loader gba|gb IN OUT
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "image/header.h"
#include "ops/loaders.h"

using namespace rombolt;

namespace {

constexpr int kGbLogoCopyAt = 0xC0;  // where the GBA loader's scan finds the GB logo

int Fail(const std::string& message) {
    std::fprintf(stderr, "stamp_loader: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "gba") != 0 && std::strcmp(argv[1], "gb") != 0))
        return Fail("usage: stamp_loader gba|gb IN OUT");
    const bool gba = std::strcmp(argv[1], "gba") == 0;
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) return Fail(std::string("cannot read ") + argv[2]);
    std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (image.size() < 0x150) return Fail(std::string(argv[2]) + " is too short for a header");
    if (image.size() > static_cast<std::size_t>(kLoaderSize))
        return Fail(std::string(argv[2]) + " is larger than 32 KiB");
    image.resize(kLoaderSize, 0xFF);

    auto s = std::make_unique<AppState>();
    s->Config.FixRom = 1;
    if (gba) {
        std::memcpy(image.data() + kGbLogoCopyAt, kGbLogo.data(), kGbLogo.size());
        // The header check with repair allowed writes the logo, the fixed
        // value and the complement.
        std::memcpy(s->ChunkBuffer.data(), image.data(), image.size());
        if (CheckCartHeader(*s, HeaderCheck::Repair) != 0) return Fail("the GBA header cannot be completed");
        std::memcpy(image.data(), s->ChunkBuffer.data(), image.size());
    } else {
        std::memcpy(image.data() + 0x104, kGbLogo.data(), kGbLogo.size());
        image[0x14D] = GbHeaderChecksum(image.data());
        const std::uint16_t sum = GbGlobalChecksum(image.data(), image.size());
        image[0x14E] = static_cast<std::uint8_t>(sum >> 8);
        image[0x14F] = static_cast<std::uint8_t>(sum);
    }

    // The finished image must pass the check unchanged and carry the loader title.
    std::memcpy(s->ChunkBuffer.data(), image.data(), image.size());
    if (CheckCartHeader(*s, HeaderCheck::Quiet) != (gba ? 0 : 2) ||
        std::memcmp(s->ChunkBuffer.data(), image.data(), image.size()) != 0)
        return Fail("the finished header does not pass the check");
    if (s->GameNameText != kLoaderTitle) return Fail("the header title is not " + std::string(kLoaderTitle));

    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) return Fail(std::string("cannot write ") + argv[3]);
    return 0;
}
