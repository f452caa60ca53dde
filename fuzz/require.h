// What a fuzz program checks beyond the sanitizers: a broken rule stops the run as a crash does,
// with the rule named, and libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace trv4::fuzz {

// Stops the run with a report of what the reader got wrong.
inline void require(bool ok, const char* target, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

}  // namespace trv4::fuzz
