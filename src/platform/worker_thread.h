#pragma once
// A thread of its own for work that must not hold up the user-interface thread: the archive's
// opens, merges, loads and appends. Jobs run one at a time, in the order they were given.
//
// Thread boundary: Post and Call are made on the user-interface thread; the jobs run on the
// worker. A job touches nothing the user-interface thread may use meanwhile: it takes copies
// (or objects nobody else holds) and hands its result back through Call, whose return is the
// hand-over. The thread starts with the first job; the destructor runs the jobs already given,
// then joins, so nothing posted is lost at exit.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "platform/ui_port.h"

namespace kalvo {

class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void Post(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
            if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        }
        wake_.notify_all();
    }

    // Runs `job` on the worker after every job given before it and returns its result (an
    // exception it throws is thrown here). Meanwhile the calling thread goes on processing its
    // events through `ui`, so a window stays responsive; the wait sleeps between them. Never
    // from a job: it would wait for itself.
    template <class Job>
    std::invoke_result_t<Job&> Call(UiPort& ui, Job job) {
        using Result = std::invoke_result_t<Job&>;
        struct Done {
            std::mutex mutex;
            std::condition_variable finished;
            bool done = false;
            std::exception_ptr failure;
            std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
        };
        auto state = std::make_shared<Done>();
        Post([state, &job] {
            try {
                if constexpr (std::is_void_v<Result>)
                    job();
                else
                    state->result.emplace(job());
            } catch (...) {
                state->failure = std::current_exception();
            }
            {
                std::lock_guard lock(state->mutex);
                state->done = true;
            }
            state->finished.notify_all();
        });
        std::unique_lock lock(state->mutex);
        while (!state->finished.wait_for(lock, kEventSlice, [&] { return state->done; })) {
            lock.unlock();
            ui.Pump();
            lock.lock();
        }
        if (state->failure) std::rethrow_exception(state->failure);
        if constexpr (!std::is_void_v<Result>) return std::move(*state->result);
    }

private:
    // How long events wait at most while a Call runs: shorter than a frame the eye notices.
    static constexpr std::chrono::milliseconds kEventSlice{20};

    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kalvo
