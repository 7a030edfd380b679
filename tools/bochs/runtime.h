// What a program run by the Bochs boot ROM (rom.S) has instead of an operating system.
#pragma once
#include <cstdint>

// Text to Bochs's standard output, through its debug port 0xE9.
void Print(const char* text);
void Print(uint32_t value);     // in decimal

// Several pieces in a row: Print("path ", name, ": ok ", count, "\n").
template <typename First, typename Second, typename... Rest>
void Print(First first, Second second, Rest... rest) {
    Print(first);
    Print(second, rest...);
}

// The program's own work, called once the runtime has zeroed .bss and run the static
// constructors. Bochs ends when it returns.
void BochsProgram();
