// Whether this program runs under an emulator, where no time it measures means anything.
#pragma once
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

// QEMU's TCG announces itself in the hypervisor leaf; there every time is the emulator's.
inline bool EmulatedHere() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned int eax, ebx, ecx, edx;
    __cpuid(1, eax, ebx, ecx, edx);
    if ((ecx & (1u << 31)) == 0) return false;
    __cpuid(0x40000000, eax, ebx, ecx, edx);
    char vendor[13] = {};
    std::memcpy(vendor, &ebx, 4);
    std::memcpy(vendor + 4, &ecx, 4);
    std::memcpy(vendor + 8, &edx, 4);
    return std::strcmp(vendor, "TCGTCGTCGTCG") == 0;
#else
    return true;
#endif
}
