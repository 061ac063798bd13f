#pragma once
// A property that a fuzz target checks: a failed one aborts, which libFuzzer
// reports as a finding with its input.
#include <cstdlib>

namespace fuzzcheck {

inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace fuzzcheck
