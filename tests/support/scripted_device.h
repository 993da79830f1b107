#pragma once
// A device played by the test: a thread on the far end of a PtyPeer that answers each request
// frame the way the test's function says, and remembers the requests.
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "support/pty_peer.h"

namespace kalvo::test {

class ScriptedDevice {
public:
    // Gets the request (header and payload) and returns the frames to send back.
    using Respond = std::function<std::vector<Bytes>(const Bytes& request)>;

    ScriptedDevice(PtyPeer& peer, Respond respond) : peer_(peer), respond_(std::move(respond)) {
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedDevice() { Stop(); }
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;

    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    std::vector<Bytes> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // Payloads only (command code first), which is what most tests compare.
    std::vector<Bytes> Payloads() {
        std::vector<Bytes> payloads;
        for (const Bytes& request : Requests()) payloads.emplace_back(request.begin() + 4, request.end());
        return payloads;
    }
    int Count() {
        std::lock_guard lock(mutex_);
        return static_cast<int>(requests_.size());
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        requests_.clear();
    }

private:
    void Run() {
        using namespace std::chrono_literals;
        while (!stop_) {
            auto request = peer_.ReadFrame(20ms);
            if (!request) continue;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(*request);
            }
            for (const Bytes& answer : respond_(*request)) peer_.SendFrame(answer);
        }
    }

    PtyPeer& peer_;
    Respond respond_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Bytes> requests_;
    std::thread thread_;
};

}  // namespace kalvo::test
