#include "platform/worker_thread.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/recording_ui_port.h"

namespace kalvo {
namespace {

// The jobs run away from the caller, in the order given, while the caller's events go on; a
// job's result and exception come back; jobs posted before the end are not lost.
TEST(WorkerThread, RunsJobsInOrderAwayFromTheCallerWhoseEventsGoOn) {
    test::RecordingUiPort ui;
    std::vector<int> order;  // written by the jobs only, read after a Call
    const std::thread::id caller = std::this_thread::get_id();
    {
        WorkerThread worker;
        worker.Post([&] { order.push_back(1); });
        // The job waits for the caller to process events three times: a caller that blocked
        // without pumping would never return.
        std::mutex mutex;
        std::condition_variable pumped;
        int pumps = 0;
        ui.onPump = [&] {
            std::lock_guard lock(mutex);
            ++pumps;
            pumped.notify_all();
        };
        const std::thread::id ran = worker.Call(ui, [&] {
            std::unique_lock lock(mutex);
            pumped.wait(lock, [&] { return pumps >= 3; });
            order.push_back(2);
            return std::this_thread::get_id();
        });
        ui.onPump = nullptr;
        EXPECT_NE(ran, caller);
        EXPECT_EQ(order, (std::vector<int>{1, 2}));
        EXPECT_THROW(worker.Call(ui, [] { throw std::runtime_error("x"); }), std::runtime_error);
        worker.Post([&] { order.push_back(3); });
        worker.Post([&] { order.push_back(4); });
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    // A worker that was never given a job starts no thread and ends at once.
    WorkerThread idle;
}

}  // namespace
}  // namespace kalvo
