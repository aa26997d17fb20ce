#pragma once

// x86-64's vector instruction sets the pixel path has code for. SSE2 is part
// of the architecture, so every x86-64 processor runs it; code for a later
// set runs only where the processor running the program has that set, which
// is asked of it at run time.

#if defined(__x86_64__)

// In the order processors gained them: each implies those before it.
enum class x86_vectors { sse2, ssse3, avx2 };

// libgcc reads the processor's features at start-up; asking is a load and a
// test. AVX2 counts only where the kernel saves the 256-bit registers, which
// libgcc checks too.
inline bool processor_runs(x86_vectors set) {
    switch (set) {
        case x86_vectors::sse2:
            return true;
        case x86_vectors::ssse3:
            return __builtin_cpu_supports("ssse3");
        case x86_vectors::avx2:
            break;
    }
    return __builtin_cpu_supports("avx2");
}

#endif
