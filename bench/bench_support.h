#pragma once
// Shared by the timing programs.
#include <sys/resource.h>

namespace kalvo::bench {

// User plus system CPU time of this process so far, in seconds.
inline double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace kalvo::bench
