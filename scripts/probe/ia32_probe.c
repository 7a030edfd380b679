/* Tells whether this machine can execute 32-bit x86 user code: Wine needs it for the
 * 32-bit module. Far-returns into the 32-bit user code segment, runs one instruction
 * there and comes back. Exit 0: it can; a crash (SIGSEGV): the kernel has 32-bit
 * emulation disabled, or this is not an x86-64 machine. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>

int main(void) {
#if defined(__x86_64__)
    /* Code and stack must lie below 4 GiB to be reachable from 32-bit mode. */
    uint8_t* page = mmap((void*)0x20000000, 8192, PROT_READ | PROT_WRITE | PROT_EXEC,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (page == MAP_FAILED) return 2;
    uint8_t* code32 = page + 0x100;
    uint8_t* back64 = page + 0x200;
    const uint32_t backAddress = (uint32_t)(uintptr_t)back64;
    int i = 0;
    code32[i++] = 0xB8; code32[i++] = 42; code32[i++] = 0; code32[i++] = 0; code32[i++] = 0;
    code32[i++] = 0x6A; code32[i++] = 0x33;                 /* push 64-bit code selector */
    code32[i++] = 0x68; memcpy(code32 + i, &backAddress, 4); i += 4;
    code32[i++] = 0xCB;                                     /* retf */
    uint32_t result = 0;
    __asm__ volatile(
        "lea 1f(%%rip), %%rax\n\t"
        "movw $0xB848, 0x200(%1)\n\t"       /* movabs rax, <label 1> */
        "mov %%rax, 0x202(%1)\n\t"
        "movw $0xE0FF, 0x20A(%1)\n\t"       /* jmp rax */
        "mov %%rsp, %%r12\n\t"
        "lea 0x1F00(%1), %%rsp\n\t"
        "push $0x23\n\t"                    /* 32-bit user code selector */
        "lea 0x100(%1), %%rax\n\t"
        "push %%rax\n\t"
        "lretq\n"
        "1:\n\t"
        "mov %%r12, %%rsp\n\t"
        "mov %%eax, %0\n\t"
        : "=r"(result) : "r"(page) : "rax", "r12", "memory");
    return result == 42 ? 0 : 3;
#else
    return 4;
#endif
}
