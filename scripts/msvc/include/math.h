// Wraps mingw-w64's math.h: the C library defines the classification
// functions as macros, the MSVC standard library expects C++ functions.
#pragma once
#include_next <math.h>

#undef fpclassify
#undef signbit
#undef isfinite
#undef isinf
#undef isnan
#undef isnormal
#undef isgreater
#undef isgreaterequal
#undef isless
#undef islessequal
#undef islessgreater
#undef isunordered

extern "C++" {
#define ZELMOR_MATH_CLASSIFY(type)                                                                                  \
    inline int fpclassify(type x) noexcept {                                                                       \
        return __builtin_fpclassify(FP_NAN, FP_INFINITE, FP_NORMAL, FP_SUBNORMAL, FP_ZERO, x);                     \
    }                                                                                                              \
    inline bool signbit(type x) noexcept { return __builtin_signbit(x); }                                          \
    inline bool isfinite(type x) noexcept { return __builtin_isfinite(x); }                                        \
    inline bool isinf(type x) noexcept { return __builtin_isinf(x); }                                              \
    inline bool isnan(type x) noexcept { return __builtin_isnan(x); }                                              \
    inline bool isnormal(type x) noexcept { return __builtin_isnormal(x); }                                        \
    inline bool isgreater(type x, type y) noexcept { return __builtin_isgreater(x, y); }                           \
    inline bool isgreaterequal(type x, type y) noexcept { return __builtin_isgreaterequal(x, y); }                 \
    inline bool isless(type x, type y) noexcept { return __builtin_isless(x, y); }                                 \
    inline bool islessequal(type x, type y) noexcept { return __builtin_islessequal(x, y); }                       \
    inline bool islessgreater(type x, type y) noexcept { return __builtin_islessgreater(x, y); }                   \
    inline bool isunordered(type x, type y) noexcept { return __builtin_isunordered(x, y); }
ZELMOR_MATH_CLASSIFY(float)
ZELMOR_MATH_CLASSIFY(double)
ZELMOR_MATH_CLASSIFY(long double)
#undef ZELMOR_MATH_CLASSIFY
}
