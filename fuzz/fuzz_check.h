#pragma once
// A broken check is a finding: abort, so libFuzzer keeps the input.
#include <cstdlib>

namespace kalvo::fuzz {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace kalvo::fuzz
