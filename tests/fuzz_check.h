// For the libFuzzer targets: a promise of the code under test that an input
// broke ends the run, and libFuzzer keeps that input as a crash.
#pragma once

#include <cstdlib>

inline void Check(bool condition) {
  if (!condition) std::abort();
}
