; Entry and memory areas of the GB boot loader.
; 0x104..0x14F, the cartridge header, is written by makebin and the stamping
; tool (stamp_loader), which puts in the logo and the checksums.
        .module crt0
        .globl  _show_message

        .area   _HEADER (ABS)
        .org    0x100
        nop
        jp      start

        .org    0x150
start:
        di
        ld      sp, #0xE000
        call    _show_message   ; A still holds the boot value: 0x11 on a GB colour
1$:     jr      1$

        ; Order of the areas the compiler uses; nothing needs copying at start-up.
        .area   _HOME
        .area   _CODE
        .area   _INITIALIZER
        .area   _GSINIT
        .area   _GSFINAL
        .area   _DATA
        .area   _INITIALIZED
        .area   _BSEG
        .area   _BSS
        .area   _HEAP
