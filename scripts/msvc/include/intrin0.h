// Stand-in for MSVC's intrin0.h: clang's intrin.h declares the intrinsics.
#pragma once
#include <intrin.h>
