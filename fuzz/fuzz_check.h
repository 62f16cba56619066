// Invariants inside the fuzz targets: a violation aborts, so that libFuzzer keeps the input
// as a crash and the run fails like any sanitizer report.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace esc::fuzz {

inline void check(bool holds, const char* invariant) {
  if (!holds) {
    std::fprintf(stderr, "invariant violated: %s\n", invariant);
    std::abort();
  }
}

// A byte that would break a one-line message or drive the terminal.
inline bool hasControl(const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      return true;
    }
  }
  return false;
}

}  // namespace esc::fuzz
