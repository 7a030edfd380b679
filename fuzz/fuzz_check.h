// What every fuzz target uses to stop on a broken property, so libFuzzer keeps the input.
#pragma once
#include <cstdio>
#include <cstdlib>

// An abort is a crash to libFuzzer: it writes the input out as a finding and stops.
#define REQUIRE(condition) \
    do { if (!(condition)) { \
        std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
        std::abort(); } } while (false)
