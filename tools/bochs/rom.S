# A boot ROM for Bochs that runs one flat 32-bit program, with no BIOS and no disk.
# The processor starts in real mode at the reset vector; this enables A20, enters
# protected mode with flat 4 GiB segments, copies the program (tools/bochs/program.bin,
# linked to run at 1 MiB) there, turns on the x87, SSE, AVX and AVX-512 state, calls the
# program and then asks Bochs to end.
#
# Assembled with `as --32 --defsym ENTRY=<address> -I <folder of program.bin>` and
# linked with `ld -m elf_i386 -Ttext=0xFFF00000 --oformat binary` (see make-rom.sh).

        .set ROM_SIZE, 0x100000         # 1 MiB, which Bochs maps to end at 4 GiB
        .set SEGMENT_START, ROM_SIZE - 0x10000  # the 64 KiB that real mode sees first
        .set LOAD_ADDRESS, 0x100000     # where the program is linked to run
        .set STACK_TOP, 0x1000000       # 16 MiB, far above the program

        .text
rom_start:
program:
        .incbin "program.bin"
program_end:

        .code32
protected_mode:
        mov     $0x10, %ax
        mov     %ax, %ds
        mov     %ax, %es
        mov     %ax, %fs
        mov     %ax, %gs
        mov     %ax, %ss
        mov     $STACK_TOP, %esp

        mov     $program, %esi
        mov     $LOAD_ADDRESS, %edi
        mov     $(program_end - program), %ecx
        cld
        rep movsb

        # Vector code needs the state an operating system would enable: CR0.EM off, MP and
        # NE on; CR4.OSFXSR, OSXMMEXCPT and OSXSAVE; XCR0 = x87, SSE, AVX, opmask and both
        # halves of the 512-bit registers. Done here, before the compiler's code can use it.
        mov     %cr0, %eax
        and     $~0x4, %eax
        or      $0x22, %eax
        mov     %eax, %cr0
        mov     %cr4, %eax
        or      $0x40600, %eax
        mov     %eax, %cr4
        xor     %ecx, %ecx
        xor     %edx, %edx
        mov     $0xE7, %eax
        xsetbv
        fninit

        mov     $ENTRY, %eax
        call    *%eax

        # Bochs ends when "Shutdown" is written to its port 0x8900.
        mov     $shutdown, %esi
        mov     $0x8900, %dx
        mov     $8, %ecx
        rep outsb
halt:   cli
        hlt
        jmp     halt
shutdown:
        .ascii  "Shutdown"

        # Real mode runs with CS based at 0xFFFF0000: everything it touches sits in the last
        # 64 KiB, addressed by offsets from there.
        .code16
        .org    ROM_SIZE - 0x100
real_mode:
        cli
        in      $0x92, %al              # fast A20 gate; bit 0 would reset the machine
        or      $0x02, %al
        and     $0xFE, %al
        out     %al, $0x92
        lgdtl   %cs:(gdt_descriptor - rom_start - SEGMENT_START)
        mov     %cr0, %eax
        or      $1, %eax
        mov     %eax, %cr0
        ljmpl   $0x08, $protected_mode

        .p2align 3
gdt:    .quad   0
        .quad   0x00CF9A000000FFFF      # 0x08: code, base 0, limit 4 GiB, 32-bit, ring 0
        .quad   0x00CF92000000FFFF      # 0x10: data, the same range
gdt_end:
gdt_descriptor:
        .word   gdt_end - gdt - 1
        .long   gdt

        .org    ROM_SIZE - 16           # the reset vector, 0xFFFFFFF0
        jmp     real_mode
        .org    ROM_SIZE
