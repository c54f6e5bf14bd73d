// The x86 vector intrinsics, for the paths chosen at run time by CPU. GCC 12 warns of its own
// AVX-512 intrinsics' undefined lanes wherever they are inlined; those warnings are not ours.
#pragma once
#if defined(__x86_64__) || defined(__SSE2__)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif
