// Blowfish's initial P-array and S-boxes, constant data generated from the digits of pi.
#pragma once
#include <cstdint>

extern const uint32_t InitialP[18];
extern const uint32_t InitialS[4][256];
