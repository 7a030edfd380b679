/* A 32-bit x86 Linux program that exits with status 32. Only a kernel that executes 32-bit
 * code can run it; elsewhere execve refuses it ("Exec format error"), so the status is an
 * honest answer to whether 32-bit Wine can start here. */
    .text
    .globl _start
_start:
    movl $1, %eax           /* exit */
    movl $16, %ebx
    addl %ebx, %ebx         /* computed, so the status proves an instruction ran */
    int $0x80
