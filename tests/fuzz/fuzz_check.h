// CHECK for fuzz targets: a broken invariant aborts, so libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace zuz::fuzz {

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace zuz::fuzz

#define CHECK(cond)                                  \
    do {                                             \
        if (!(cond)) ::zuz::fuzz::Fail(#cond);       \
    } while (0)
