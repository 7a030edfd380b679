// <immintrin.h> for the vector paths, included once the same way everywhere.
#pragma once
// GCC 12's intrinsic headers fill "undefined" operands with a self-initialised variable,
// which its uninitialised-use warnings report wherever the intrinsics are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
