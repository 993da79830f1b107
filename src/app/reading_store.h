#pragma once
// Where the live readings of an identified device are kept beyond the running program, so the
// trend of a restarted window starts with the day it had. The context holds one when the build
// has an archive and the front end wants the readings kept.
//
// User-interface thread only, as the readings and the processing tick that call it.
#include <cstdint>
#include <vector>

#include "link/device_identity.h"
#include "live/live_trend.h"

namespace kalvo {

class LiveReadingStore {
public:
    virtual ~LiveReadingStore() = default;
    // Keeps one reading of `identity`'s device; a failure is the store's to report, never the
    // measurement's.
    virtual void Keep(const DeviceIdentity& identity, const LiveReading& reading) = 0;
    // The device's readings of the day before `nowMs`, oldest first; empty when none can be read.
    virtual std::vector<LiveReading> LastDay(const DeviceIdentity& identity, std::int64_t nowMs) = 0;
    // Returns when every reading given has been stored or its failure reported.
    virtual void Settle() {}
};

}  // namespace kalvo
