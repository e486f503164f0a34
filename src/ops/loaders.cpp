// The built-in boot loaders are assembled here at compile time: each is a
// minimal but complete cartridge image of its console, with a valid header
// and a few instructions that run forever. Unused space is 0xFF, as in
// erased flash.
#include "ops/loaders.h"

#include "image/header.h"

namespace rombolt {

namespace {

constexpr void PutBytes(LoaderImage& img, int at, const std::uint8_t* p, int n) {
    for (int i = 0; i < n; ++i) img[at + i] = p[i];
}

constexpr void PutText(LoaderImage& img, int at, const char* text) {
    for (int i = 0; text[i] != 0; ++i) img[at + i] = static_cast<std::uint8_t>(text[i]);
}

constexpr void PutArmWord(LoaderImage& img, int at, std::uint32_t w) {
    for (int i = 0; i < 4; ++i) img[at + i] = static_cast<std::uint8_t>(w >> (8 * i));
}

// GBA: ARM code. The entry word branches over the header to 0xC0, where the
// program turns the display on in mode 0 with no layers, paints the backdrop
// blue and then loops forever.
constexpr LoaderImage MakeGbaLoader() {
    LoaderImage img{};
    for (auto& b : img) b = 0xFF;
    PutArmWord(img, 0x00, 0xEA00002E);  // b 0xC0
    PutBytes(img, 0x04, kGbaLogo.data(), static_cast<int>(kGbaLogo.size()));
    for (int i = 0xA0; i < 0xBD; ++i) img[i] = 0x00;
    PutText(img, 0xA0, kLoaderTitle);  // 12 characters, fills the title field
    PutText(img, 0xAC, "RBMN");        // game code
    PutText(img, 0xB0, "00");          // maker code
    img[0xB2] = 0x96;                  // fixed value
    unsigned sum = 0x19;
    for (int i = 0xA0; i < 0xBD; ++i) sum += img[i];
    img[0xBD] = static_cast<std::uint8_t>(-sum);  // header complement
    img[0xBE] = 0x00;
    img[0xBF] = 0x00;
    const std::uint32_t program[] = {
        0xE3A00301,  // mov  r0, #0x04000000   (display control)
        0xE3A01000,  // mov  r1, #0            (mode 0, no layers, display on)
        0xE1C010B0,  // strh r1, [r0]
        0xE3A00405,  // mov  r0, #0x05000000   (backdrop colour)
        0xE3A01B1F,  // mov  r1, #0x7C00       (blue)
        0xE1C010B0,  // strh r1, [r0]
        0xEAFFFFFE,  // b    .
    };
    for (int i = 0; i < 7; ++i) PutArmWord(img, 0xC0 + 4 * i, program[i]);
    return img;
}

// GB colour: the entry at 0x100 jumps to 0x150, which disables interrupts,
// sets the stack and loops forever.
constexpr LoaderImage MakeGbLoader() {
    LoaderImage img{};
    for (auto& b : img) b = 0xFF;
    const std::uint8_t entry[] = {0x00, 0xC3, 0x50, 0x01};  // nop; jp 0x0150
    PutBytes(img, 0x100, entry, 4);
    PutBytes(img, 0x104, kGbLogo.data(), static_cast<int>(kGbLogo.size()));
    for (int i = 0x134; i < 0x150; ++i) img[i] = 0x00;
    PutText(img, 0x134, kLoaderTitle);
    img[0x143] = 0x80;  // works on both GB and GB colour
    img[0x144] = '0';   // licensee
    img[0x145] = '0';
    img[0x147] = 0x00;  // plain ROM
    img[0x148] = 0x00;  // 32 KiB
    img[0x149] = 0x00;  // no RAM
    img[0x14A] = 0x01;  // destination
    img[0x14B] = 0x33;  // licensee given at 0x144
    const std::uint8_t program[] = {
        0xF3,              // di
        0x31, 0xFE, 0xFF,  // ld sp, 0xFFFE
        0x18, 0xFE,        // jr -2
    };
    PutBytes(img, 0x150, program, 6);
    std::uint8_t x = 0;
    for (int i = 0x134; i <= 0x14C; ++i) x = static_cast<std::uint8_t>(x - img[i] - 1);
    img[0x14D] = x;  // header checksum
    unsigned global = 0;
    for (int i = 0; i < kLoaderSize; ++i)
        if (i != 0x14E && i != 0x14F) global += img[i];
    img[0x14E] = static_cast<std::uint8_t>(global >> 8);  // global checksum, big-endian
    img[0x14F] = static_cast<std::uint8_t>(global);
    return img;
}

constexpr LoaderImage kGba = MakeGbaLoader();
constexpr LoaderImage kGb = MakeGbLoader();

static_assert(kGba[0xB2] == 0x96 && kGba[3] == 0xEA);
static_assert(kGb[0x143] == 0x80 && kGb[0x101] == 0xC3);

}  // namespace

const LoaderImage BuiltinGbaLoader = kGba;
const LoaderImage BuiltinGbLoader = kGb;

}  // namespace rombolt
