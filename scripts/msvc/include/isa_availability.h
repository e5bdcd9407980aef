// Stand-in for MSVC's isa_availability.h (the levels the standard library compares with).
#pragma once
enum __ISA_AVAILABILITY { __ISA_AVAILABLE_X86 = 0, __ISA_AVAILABLE_SSE2 = 1, __ISA_AVAILABLE_SSE42 = 2,
                          __ISA_AVAILABLE_AVX = 3, __ISA_AVAILABLE_ENFSTRG = 4, __ISA_AVAILABLE_AVX2 = 5 };
