// What every fuzz target uses to stop on a broken property, so libFuzzer keeps the input.
#pragma once
#include <cstdio>
#include <cstdlib>

// An abort is a crash to libFuzzer: it writes the input out as a finding and stops.
[[noreturn]] inline void Broken(const char* property, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, property);
    std::abort();
}

#define REQUIRE(condition) \
    do { if (!(condition)) Broken(#condition, __FILE__, __LINE__); } while (false)
