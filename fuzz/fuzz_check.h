// Invariants inside the fuzz targets: a violation aborts, so that libFuzzer keeps the input
// as a crash and the run fails like any sanitizer report.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace esc::fuzz {

inline void check(bool holds, const char* invariant) {
  if (!holds) {
    std::fprintf(stderr, "invariant violated: %s\n", invariant);
    std::abort();
  }
}

}  // namespace esc::fuzz
