// What every fuzz target does when an invariant fails: say which one, so
// that the reproducer tells it, and stop.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tarvi::fakes {

inline void fuzzCheck(bool ok, const char* target, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

}  // namespace tarvi::fakes
