#pragma once

#include <cstdio>
#include <cstdlib>

namespace orvo::fuzz {

// An invariant of a harness: when it does not hold, the input is a finding.
inline void check(bool holds, const char* invariant) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", invariant);
        std::abort();
    }
}

} // namespace orvo::fuzz
