// The learnt answer time of idempotent reads, and the holder of a busy port from /proc/locks.
#include <gtest/gtest.h>

#include "link/round_trip.h"
#include "platform/serial_port.h"

namespace kalvo {
namespace {

TEST(RoundTripEstimator, LearnsFromCleanAnswersWithinItsFloorAndCeiling) {
    RoundTripEstimator rtt;
    // Nothing learnt: the fixed answer time, whatever the size.
    EXPECT_FALSE(rtt.Learnt());
    EXPECT_EQ(rtt.TimeoutMs(0), 700.0);
    EXPECT_EQ(rtt.TimeoutMs(5000), 700.0);

    // A fast device: the floor plus the line time of the frames (100 bytes: 4.34 ms).
    rtt.Sample(2.0 + RoundTripEstimator::LineMs(100), 100);
    EXPECT_DOUBLE_EQ(rtt.SmoothedMs(), 2.0);
    EXPECT_DOUBLE_EQ(rtt.DeviationMs(), 1.0);
    EXPECT_NEAR(rtt.TimeoutMs(100), 20.0 + 4.34, 0.01);
    EXPECT_NEAR(rtt.TimeoutMs(0), 20.0, 1e-9);

    // A slow, jittery one (a USB adapter's latency timer): mean plus four deviations.
    RoundTripEstimator slow;
    for (double sample : {16.0, 32.0, 16.0, 32.0, 16.0, 32.0, 16.0, 32.0}) slow.Sample(sample, 0);
    EXPECT_GT(slow.TimeoutMs(0), 50.0);
    EXPECT_LT(slow.TimeoutMs(0), 100.0);

    // Time-outs double the wait up to the ceiling; the next clean answer ends the doubling.
    double before = rtt.TimeoutMs(0);
    rtt.Backoff();
    EXPECT_DOUBLE_EQ(rtt.TimeoutMs(0), 2 * before);
    for (int i = 0; i < 10; ++i) rtt.Backoff();
    EXPECT_EQ(rtt.TimeoutMs(5000), 700.0);
    rtt.Sample(2.0, 0);
    EXPECT_LT(rtt.TimeoutMs(0), 30.0);

    // An answer slower than the line time counts as what is left; a faster one as nothing.
    rtt.Reset();
    EXPECT_FALSE(rtt.Learnt());
    rtt.Sample(1.0, 1000);
    EXPECT_EQ(rtt.SmoothedMs(), 0.0);
}

TEST(LockHolderFromProcLocks, FindsTheProcessThatLocksTheFile) {
    const std::string locks =
        "1: POSIX  ADVISORY  WRITE 811 00:1a:1052 0 EOF\n"
        "2: FLOCK  ADVISORY  WRITE 4242 00:19:5 0 EOF\n"
        "2: -> FLOCK  ADVISORY  WRITE 5151 00:19:5 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 77 fd:01:1234567 0 EOF\n"
        "garbage\n"
        "4: FLOCK  ADVISORY  WRITE x 00:19:6 0 EOF";
    EXPECT_EQ(LockHolderFromProcLocks(locks, 0, 0x19, 5), 4242);
    EXPECT_EQ(LockHolderFromProcLocks(locks, 0xfd, 1, 1234567), 77);
    EXPECT_EQ(LockHolderFromProcLocks(locks, 0, 0x1a, 1052), 811);
    EXPECT_EQ(LockHolderFromProcLocks(locks, 0, 0x19, 6), std::nullopt);  // no number
    EXPECT_EQ(LockHolderFromProcLocks(locks, 0, 0x19, 50), std::nullopt);
    EXPECT_EQ(LockHolderFromProcLocks("", 0, 0x19, 5), std::nullopt);
}

}  // namespace
}  // namespace kalvo
