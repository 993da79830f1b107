#pragma once
// A termination signal's request that the running device operation end at its next safe point:
// the request on the wire is finished, nothing is started after it. Writes to the device check
// it between their requests and say in the report log what was and was not written.
//
// It also counts the operations that write to the device, so that a front end can refuse to
// close in the middle of one and close once it has ended.
//
// User-interface thread only. Signal handlers never touch it: the front ends read their signal
// pipe (signalfd, a console event) on that thread and call Request().
#include <functional>

namespace kalvo {

class StopRequest {
public:
    void Request(int signal) {
        if (signal_ == 0) signal_ = signal;
    }
    bool Requested() const { return signal_ != 0; }
    int Signal() const { return signal_; }

    bool Writing() const { return writes_ > 0; }
    // Called when the last writing operation has ended.
    std::function<void()> onWritingEnded;

    // Marks one device write from its first request to its end.
    class WriteInProgress {
    public:
        explicit WriteInProgress(StopRequest* stop) : stop_(stop) {
            if (stop_) ++stop_->writes_;
        }
        ~WriteInProgress() {
            if (stop_ && --stop_->writes_ == 0 && stop_->onWritingEnded) stop_->onWritingEnded();
        }
        WriteInProgress(const WriteInProgress&) = delete;
        WriteInProgress& operator=(const WriteInProgress&) = delete;

    private:
        StopRequest* stop_;
    };

private:
    int signal_ = 0;
    int writes_ = 0;
};

// For code that may run without one.
inline bool StopRequested(const StopRequest* stop) { return stop && stop->Requested(); }

}  // namespace kalvo
