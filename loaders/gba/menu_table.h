/* The list of images the GBA loader builds in the CPU's internal work RAM.
   The screen shows it; the emulator test reads it back. */
#ifndef ROMBOLT_MENU_TABLE_H
#define ROMBOLT_MENU_TABLE_H

#include <stdint.h>

#define MENU_TABLE_ADDRESS 0x03000000u
#define MENU_MAGIC 0x4E4D4252u /* "RBMN" */
#define MENU_MAX_IMAGES 1023

enum { MENU_SCANNING = 1, MENU_DONE = 2 };
enum { KIND_GBA = 1, KIND_GB = 2, KIND_GBC = 3 };

struct menu_image {
    uint16_t chunk; /* 32 KiB chunk of the cartridge where the image starts */
    uint16_t kind;
    uint32_t size; /* bytes; 0 when the header names no size the loader knows */
};

struct menu_table {
    uint32_t magic;
    uint16_t state;
    uint16_t count;
    uint16_t end_chunk; /* first chunk past the cartridge (1024: all 32 MiB answer) */
    uint16_t page;
    struct menu_image image[MENU_MAX_IMAGES];
};

#endif
