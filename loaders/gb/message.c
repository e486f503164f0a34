/* The GB boot loader the writer puts on a multi-game cartridge when no GB
   loader file is configured. It cannot start a game; it says so and how to
   get a working menu. Runs in GB colour mode (palettes and the attribute map
   set up) and on the original GB. */
#include <stdint.h>

#include "../font/font5x8.h"

#define REG(a) (*(volatile uint8_t*)(a))
#define LCDC REG(0xFF40)
#define SCY REG(0xFF42)
#define SCX REG(0xFF43)
#define LY REG(0xFF44)
#define BGP REG(0xFF47)
#define VBK REG(0xFF4F)
#define BCPS REG(0xFF68)
#define BCPD REG(0xFF69)

#define TILES ((volatile uint8_t*)0x8000)
#define MAP ((volatile uint8_t*)0x9800)
#define MAP_COLS 32

#define BOOT_GB_COLOUR 0x11

/* One line of the screen each, at most 20 characters. */
/* clang-format off */
static const char* const lines[] = {
    "    ROMBOLT MENU",
    "",
    "This cartridge was",
    "written without a GB",
    "boot loader file, so",
    "no game can be",
    "started from here.",
    "",
    "Configure the loader",
    "file that came with",
    "the cartridge",
    "(Config. > GB Pre.",
    "Boot, or rombolt",
    "--gb-loader FILE)",
    "and write it again.",
};
/* clang-format on */

/* Colour 0 dark blue, colour 3 white (little-endian BGR555). */
static const uint8_t palette[8] = {0x82, 0x30, 0x82, 0x30, 0xFF, 0x7F, 0xFF, 0x7F};

static void fill_map(uint8_t value) {
    for (uint16_t i = 0; i < 32 * MAP_COLS; ++i) MAP[i] = value;
}

void show_message(uint8_t boot) {
    /* The screen may only be switched off in the vertical blank. */
    while (LY < 144) continue;
    LCDC = 0;

    /* Tile n is character 0x20 + n, drawn in colour 3. */
    volatile uint8_t* t = TILES;
    for (uint8_t c = 0; c <= FONT_LAST - FONT_FIRST; ++c)
        for (uint8_t y = 0; y < FONT_HEIGHT; ++y) {
            uint8_t row = font_rows[c][y] >> 1;
            *t++ = row;
            *t++ = row;
        }

    if (boot == BOOT_GB_COLOUR) {
        BCPS = 0x80; /* palette 0, index 0, counting up */
        for (uint8_t i = 0; i < sizeof palette; ++i) BCPD = palette[i];
        VBK = 1; /* attributes: palette 0, bank 0, no flips */
        fill_map(0);
        VBK = 0;
    }
    fill_map(0);
    for (uint8_t r = 0; r < sizeof lines / sizeof lines[0]; ++r) {
        const char* s = lines[r];
        for (uint8_t col = 0; s[col] != 0; ++col)
            MAP[(r + 1) * MAP_COLS + col] = (uint8_t)(s[col] - FONT_FIRST);
    }

    BGP = 0xE4; /* original GB: colour 0 white, colour 3 black */
    SCX = 0;
    SCY = 0;
    LCDC = 0x91; /* display on, tiles at 0x8000, map at 0x9800, background on */
}
