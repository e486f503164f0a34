@ Cartridge header and start-up of the GBA boot loader.
@ The logos and the header complement are left empty here: the stamping tool
@ (stamp_loader) writes them from the writer's own header code.
    .section .header, "ax"
    .arm
    .global _start
_start:
    b       start
    .space  156                 @ 0x04: GBA logo
    .ascii  "ROMBOLT MENU"      @ 0xA0: title
    .ascii  "RBMN"              @ 0xAC: game code
    .ascii  "00"                @ 0xB0: maker code
    .byte   0x96                @ 0xB2: fixed value
    .byte   0, 0                @ 0xB3: unit code, device type
    .space  7                   @ 0xB5: reserved
    .byte   0                   @ 0xBC: version
    .byte   0                   @ 0xBD: header complement
    .space  2                   @ 0xBE: reserved
    .global gb_logo
gb_logo:
    .space  48                  @ 0xC0: the GB logo, which the scan compares with

start:
    ldr     sp, =0x03007F00
    ldr     r0, =__bss_start
    ldr     r1, =__bss_end
    mov     r2, #0
1:  cmp     r0, r1
    strlo   r2, [r0], #4
    blo     1b
    ldr     r0, =__iwram_load       @ code that runs from work RAM
    ldr     r1, =__iwram_start
    ldr     r3, =__iwram_end
2:  cmp     r1, r3
    ldrlo   r2, [r0], #4
    strlo   r2, [r1], #4
    blo     2b
    ldr     r0, =menu_main
    bx      r0                  @ main is Thumb code
    .pool

@ int chunk_erased(const void *chunk): 1 when all 32 KiB of the chunk read as
@ 0xFF. Runs from work RAM, reading the cartridge in bursts of eight words:
@ it reads every erased chunk of the cartridge whole.
    .section .iwram, "ax"
    .arm
    .global chunk_erased
chunk_erased:
    push    {r4-r9}
    add     r1, r0, #0x8000
1:  ldmia   r0!, {r2-r9}
    and     r2, r2, r3
    and     r2, r2, r4
    and     r2, r2, r5
    and     r2, r2, r6
    and     r2, r2, r7
    and     r2, r2, r8
    and     r2, r2, r9
    cmn     r2, #1                  @ all ones?
    bne     2f
    cmp     r0, r1
    blo     1b
    mov     r0, #1
    pop     {r4-r9}
    bx      lr
2:  mov     r0, #0
    pop     {r4-r9}
    bx      lr
