#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "output/x86_vectors.hpp"

// The vector code a test runs explicitly: on x86-64 each instruction set the
// code under test has a path for, whichever the processor would take; elsewhere
// the one path the build has. A suite lists its paths with #if.
#if defined(__x86_64__)
using vector_path = x86_vectors;
#else
enum class vector_path { native };
#endif

inline std::string name_of(vector_path path) {
#if defined(__x86_64__)
    static const char* const names[] = {"sse2", "ssse3", "avx2"};
    return names[static_cast<int>(path)];
#else
    static_cast<void>(path);
    return "native";
#endif
}

// As gtest prints a parameter, in ctest's names of the cases too.
inline void PrintTo(vector_path path, std::ostream* out) {
    *out << name_of(path);
}

inline std::string path_name(const ::testing::TestParamInfo<vector_path>& info) {
    return name_of(info.param);
}

// A suite over vector paths: each test skips a path the processor lacks.
class VectorPathTest : public ::testing::TestWithParam<vector_path> {
  protected:
    void SetUp() override {
#if defined(__x86_64__)
        if (!processor_runs(GetParam())) {
            GTEST_SKIP() << "this processor has no " << name_of(GetParam())
                         << ": its path is not run here";
        }
#endif
    }
};
