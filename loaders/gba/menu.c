/* ROMBOLT MENU: the GBA boot loader the writer puts at the start of a
   multi-game cartridge when no loader file is configured. Starting a game
   needs the cartridge's own loader, which knows how the cartridge maps a
   game to the console's address 0; this one only lists what the cartridge
   holds and says how to get a working menu.

   The scan looks at every 32 KiB boundary of the cartridge space: a GBA
   image has the GBA logo and a valid header complement, a GB image has the
   GB logo at 0x104. It stops where the cartridge ends: open bus (each
   halfword reads as its own address / 2) or a mirror of the loader itself. */
#include <stdint.h>

#include "../font/font5x8.h"
#include "menu_table.h"

#define REG16(a) (*(volatile uint16_t*)(a))
#define DISPCNT REG16(0x04000000)
#define DISPSTAT REG16(0x04000004)
#define KEYINPUT REG16(0x04000130)
#define IE REG16(0x04000200)
#define IF REG16(0x04000202)
#define WAITCNT REG16(0x04000204)
#define IME REG16(0x04000208)

#define CART ((const volatile uint8_t*)0x08000000)
#define CHUNK_BYTES 0x8000u
#define CHUNKS 1024

#define VRAM ((volatile uint16_t*)0x06000000)
#define SCREEN_W 240
#define SCREEN_H 160
#define CELL_W 6
#define COLS (SCREEN_W / CELL_W)

#define BLUE 0x3082   /* background */
#define WHITE 0x7FFF  /* text */
#define YELLOW 0x03FF /* title */
#define CYAN 0x7F94   /* column heads, hints */

#define HEAD_ROW 2
#define LIST_ROW 3
#define LIST_ROWS 10
#define HINT_ROW 13
#define MESSAGE_ROW 14

enum {
    KEY_A = 1,
    KEY_B = 2,
    KEY_RIGHT = 16,
    KEY_LEFT = 32,
    KEY_UP = 64,
    KEY_DOWN = 128,
    KEY_R = 256,
    KEY_L = 512
};

extern const uint8_t gb_logo[48]; /* in the header block, written by the stamping tool */

__attribute__((section(".bss.menu_table"))) struct menu_table table;

/* clang-format off */
static const char* const message[] = {
    "This cartridge was written without a",
    "boot loader file, so no game can be",
    "started from here. Configure the loader",
    "file that came with the cartridge",
    "(Config. > GBA Pre. Boot, or rombolt",
    "--gba-loader FILE) and write it again.",
};
/* clang-format on */

/* ---------------------------------------------------------------- scan */

static const volatile uint8_t* chunk_at(int k) { return CART + (uint32_t)k * CHUNK_BYTES; }

static int same_bytes(const volatile uint8_t* a, const volatile uint8_t* b, int n) {
    for (int i = 0; i < n; ++i)
        if (a[i] != b[i]) return 0;
    return 1;
}

/* Past the end of the cartridge every halfword reads as its address / 2. */
static int open_bus(int k) {
    const volatile uint16_t* p = (const volatile uint16_t*)chunk_at(k);
    for (int i = 0; i < 8; ++i)
        if (p[i] != (uint16_t)((uint32_t)k * (CHUNK_BYTES / 2) + i)) return 0;
    return 1;
}

/* A cartridge with fewer address lines than the console repeats itself. */
static int mirrors_loader(int k) {
    const volatile uint32_t* a = (const volatile uint32_t*)CART;
    const volatile uint32_t* b = (const volatile uint32_t*)chunk_at(k);
    for (uint32_t i = 0; i < CHUNK_BYTES / 4; ++i)
        if (a[i] != b[i]) return 0;
    return 1;
}

/* In crt0.s; runs from work RAM, out of reach of a plain call. */
__attribute__((long_call)) int chunk_erased(const volatile uint8_t* chunk);

static int image_kind(int k) {
    const volatile uint8_t* p = chunk_at(k);
    if (same_bytes(p + 0x104, gb_logo, 48)) return p[0x143] & 0x80 ? KIND_GBC : KIND_GB;
    if (!same_bytes(p + 0x04, CART + 0x04, 156)) return 0; /* the loader's own header has the GBA logo */
    uint8_t sum = 0x19;
    for (int i = 0xA0; i <= 0xBD; ++i) sum += p[i];
    return sum == 0 ? KIND_GBA : 0;
}

/* GB: the ROM size byte of the header. */
static uint32_t gb_size(int k) {
    uint8_t code = chunk_at(k)[0x148];
    if (code <= 8) return CHUNK_BYTES << code;
    if (code >= 0x52 && code <= 0x54) return (uint32_t)(code == 0x52 ? 72 : code == 0x53 ? 80 : 96) * 16384;
    return 0;
}

/* GBA: the run of chunks up to the next image or the cartridge's end, less
   the erased chunks at its end. */
static uint32_t gba_size(int k, int next) {
    int last = next - 1;
    while (last > k && chunk_erased(chunk_at(last))) --last;
    return (uint32_t)(last - k + 1) * CHUNK_BYTES;
}

static void scan(void) {
    int n = 0;
    table.end_chunk = CHUNKS;
    for (int k = 1; k < CHUNKS; ++k) {
        if (open_bus(k) || mirrors_loader(k)) {
            table.end_chunk = k;
            break;
        }
        int kind = image_kind(k);
        if (kind == 0) continue;
        table.image[n].chunk = k;
        table.image[n].kind = kind;
        table.count = ++n;
    }
    for (int i = 0; i < n; ++i) {
        struct menu_image* m = &table.image[i];
        int next = i + 1 < n ? table.image[i + 1].chunk : table.end_chunk;
        m->size = m->kind == KIND_GBA ? gba_size(m->chunk, next) : gb_size(m->chunk);
    }
}

/* ---------------------------------------------------------------- screen */

static void put_char(int col, int row, char c, uint16_t colour) {
    if (c < FONT_FIRST || c > FONT_LAST) c = '?';
    const unsigned char* glyph = font_rows[c - FONT_FIRST];
    volatile uint16_t* p = VRAM + row * FONT_HEIGHT * SCREEN_W + col * CELL_W;
    for (int y = 0; y < FONT_HEIGHT; ++y, p += SCREEN_W)
        for (int x = 0; x < CELL_W; ++x) p[x] = glyph[y] & (0x80 >> x) ? colour : BLUE;
}

/* Writes the text from col on and blanks the rest of the row. */
static void put_line(int col, int row, const char* text, uint16_t colour) {
    while (*text && col < COLS) put_char(col++, row, *text++, colour);
    while (col < COLS) put_char(col++, row, ' ', colour);
}

/* n digits of v in base 10 or 16, right-aligned with spaces (base 10) or zeros. */
static char* put_number(char* out, uint32_t v, int n, unsigned base) {
    for (int i = n - 1; i >= 0; --i) {
        out[i] = (i == n - 1 || v != 0 || base == 16) ? "0123456789ABCDEF"[v % base] : ' ';
        v /= base;
    }
    return out + n;
}

static char* put_decimal(char* out, uint32_t v) {
    int n = 1;
    for (uint32_t rest = v / 10; rest != 0; rest /= 10) ++n;
    return put_number(out, v, n, 10);
}

static char* put_text(char* out, const char* text) {
    while (*text) *out++ = *text++;
    return out;
}

/* "1152K", "16M"; "?" when unknown. Right-aligned in n columns. */
static char* put_size(char* out, uint32_t bytes, int n) {
    char unit = 'K';
    uint32_t v = bytes >> 10;
    if (bytes != 0 && (bytes & 0xFFFFF) == 0) {
        unit = 'M';
        v = bytes >> 20;
    }
    if (bytes == 0) {
        for (int i = 0; i < n - 1; ++i) *out++ = ' ';
        *out++ = '?';
        return out;
    }
    out = put_number(out, v, n - 1, 10);
    *out++ = unit;
    return out;
}

/* "   1 GBA  TITLE                4M 0008000" */
static void image_line(const struct menu_image* m, int number, char* line) {
    static const char* const kinds[] = {"?  ", "GBA", "GB ", "GBC"};
    const volatile uint8_t* p = chunk_at(m->chunk);
    int gb = m->kind != KIND_GBA;
    const volatile uint8_t* title = p + (gb ? 0x134 : 0xA0);
    int length = gb ? 16 : 12;
    char* out = put_number(line, (uint32_t)number, 4, 10);
    *out++ = ' ';
    out = put_text(out, kinds[m->kind]);
    out = put_text(out, "  ");
    int i = 0;
    for (; i < length; ++i) {
        char c = (char)(title[i] & 0x7F);
        if (c == 0) break;
        *out++ = c < 0x20 || c == 0x7F ? '?' : c;
    }
    for (; i < 16; ++i) *out++ = ' ';
    out = put_size(out, m->size, 6);
    *out++ = ' ';
    out = put_number(out, (uint32_t)m->chunk * CHUNK_BYTES, 7, 16);
    *out = 0;
}

static int page_count(void) { return table.count == 0 ? 1 : (table.count + LIST_ROWS - 1) / LIST_ROWS; }

static void draw_page(void) {
    char line[COLS + 1];
    int pages = page_count();
    if (pages > 1) {
        char* out = put_text(line, "Page ");
        out = put_decimal(out, table.page + 1u);
        out = put_text(out, " of ");
        out = put_decimal(out, (uint32_t)pages);
        *out = 0;
        put_line(COLS - 13, 0, line, CYAN);
        put_line(0, HINT_ROW, "Left/Right: other pages", CYAN);
    }
    for (int r = 0; r < LIST_ROWS; ++r) {
        int i = table.page * LIST_ROWS + r;
        line[0] = 0;
        if (i < table.count) image_line(&table.image[i], i + 1, line);
        put_line(0, LIST_ROW + r, line, WHITE);
    }
    if (table.count == 0) put_line(0, LIST_ROW, "No games were found on this cartridge.", WHITE);
}

static void wait_vblank(void) {
    IF = 1;
    __asm__ volatile("swi 0x02" ::: "r0", "r1", "r2", "r3", "memory"); /* Halt until the interrupt */
}

void menu_main(void) {
    WAITCNT = 0x4317; /* cartridge waits 3/1, prefetch on */
    for (int i = 0; i < SCREEN_W * SCREEN_H; ++i) VRAM[i] = BLUE;
    DISPCNT = 0x0403; /* mode 3 bitmap, layer 2 */
    put_line(0, 0, "ROMBOLT MENU", YELLOW);
    put_line(0, HEAD_ROW, "Reading the cartridge...", WHITE);

    table.magic = MENU_MAGIC;
    table.state = MENU_SCANNING;
    scan();
    table.state = MENU_DONE;

    put_line(0, HEAD_ROW, "   # Kind Title             Size Offset", CYAN);
    for (int i = 0; i < 6; ++i) put_line(0, MESSAGE_ROW + i, message[i], WHITE);
    draw_page();

    IME = 0; /* the vertical blank only wakes the CPU from Halt */
    IE = 1;
    DISPSTAT = 1 << 3;
    unsigned held = 0;
    for (;;) {
        wait_vblank();
        unsigned keys = ~KEYINPUT & 0x3FF;
        unsigned pressed = keys & ~held;
        held = keys;
        if (pressed & (KEY_RIGHT | KEY_DOWN | KEY_A | KEY_R) && table.page + 1 < page_count()) {
            ++table.page;
            draw_page();
        } else if (pressed & (KEY_LEFT | KEY_UP | KEY_B | KEY_L) && table.page > 0) {
            --table.page;
            draw_page();
        }
    }
}
