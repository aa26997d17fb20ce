#pragma once

// x86-64's vector instruction sets the pixel path has code for. SSE2 is part
// of the architecture, so every x86-64 processor runs it; code for a wider set
// runs only where the processor running the program has that set, which is
// asked of it at run time.

#if defined(__x86_64__)

enum class x86_vectors { sse2, avx2 };

// libgcc reads the processor's features before any constructor runs;
// asking is a load and a test. AVX2 counts only where the kernel saves the
// 256-bit registers, which libgcc checks too.
inline bool processor_runs(x86_vectors set) {
    return set == x86_vectors::sse2 || __builtin_cpu_supports("avx2");
}

inline x86_vectors widest_x86_vectors() {
    return processor_runs(x86_vectors::avx2) ? x86_vectors::avx2 : x86_vectors::sse2;
}

#endif
