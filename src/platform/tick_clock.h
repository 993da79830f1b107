#pragma once
// Millisecond tick count that times every wait and time-out; monotonic, unaffected by clock
// changes.
#include <chrono>
#include <cstdint>

namespace kalvo {

inline std::uint64_t TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace kalvo
