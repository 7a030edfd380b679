// The runtime of a freestanding program under the Bochs boot ROM: .bss zeroed, static
// constructors run as a loader would, console output, and the C functions the compiler
// emits calls to. No heap, no exceptions, no operating system.
#include "tools/bochs/runtime.h"

#include <cstddef>

extern "C" {
// Set by the mingw linker script; the constructor list is -1, the functions, then 0.
extern char _bss_start__[], _bss_end__[];
extern void (*__CTOR_LIST__[])();

// String instructions, so that the compiler cannot turn these back into calls to
// themselves.
void* memcpy(void* to, const void* from, size_t count) {
    void* result = to;
    __asm__ volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(count) : : "memory");
    return result;
}

void* memmove(void* to, const void* from, size_t count) {
    if (to <= from) return memcpy(to, from, count);
    void* result = to;
    char* last = static_cast<char*>(to) + count - 1;
    const char* source = static_cast<const char*>(from) + count - 1;
    __asm__ volatile("std; rep movsb; cld" : "+D"(last), "+S"(source), "+c"(count) : : "memory");
    return result;
}

void* memset(void* to, int value, size_t count) {
    void* result = to;
    __asm__ volatile("rep stosb" : "+D"(to), "+c"(count) : "a"(value) : "memory");
    return result;
}

int memcmp(const void* a, const void* b, size_t count) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < count; ++i) {
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}

int strcmp(const char* a, const char* b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
}

// The ROM calls this, at 1 MiB, on a flat 32-bit stack.
void BochsMain() {
    memset(_bss_start__, 0, static_cast<size_t>(_bss_end__ - _bss_start__));
    for (size_t i = 1; __CTOR_LIST__[i] != nullptr; ++i) __CTOR_LIST__[i]();
    BochsProgram();
}
}

void Print(const char* text) {
    for (; *text != 0; ++text) __asm__ volatile("outb %0, $0xE9" : : "a"(*text));
}

void Print(uint32_t value) {
    char digits[11];
    char* at = digits + sizeof digits - 1;
    *at = 0;
    do {
        *--at = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    Print(at);
}
