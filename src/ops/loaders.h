// The two boot loader images the program carries for when no loader file is
// configured: a GBA image and a GB colour image, 32 KiB each. They cannot
// start a game: the GBA one lists what the cartridge holds, both say that a
// loader file is needed and how to configure it.
#pragma once

#include <array>
#include <cstdint>

namespace rombolt {

inline constexpr int kLoaderSize = 32768;
using LoaderImage = std::array<std::uint8_t, kLoaderSize>;

extern const LoaderImage BuiltinGbaLoader;
extern const LoaderImage BuiltinGbLoader;

// Title both loaders carry in their headers.
inline constexpr char kLoaderTitle[] = "ROMBOLT MENU";

}  // namespace rombolt
