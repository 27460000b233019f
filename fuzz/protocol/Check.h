#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding: report it and stop so the fuzzer keeps the input.
#define QB_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
