#pragma once
// Helpers for the in-process device tests: a hand-stepped clock and one-call dispatch.
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "devsim/byte_io.h"
#include "devsim/device_commands.h"
#include "devsim/device_model.h"
#include "devsim/fault_injector.h"

namespace kalvo::devsim::test {

using Bytes = std::vector<std::uint8_t>;

// Device time that moves only when a test says so.
class ManualTime {
public:
    SimDevice::TimeSource Source() {
        return [now = now_] { return *now; };
    }
    void Advance(std::chrono::seconds step) { *now_ += step; }

private:
    std::shared_ptr<SimDevice::Clock::time_point> now_ =
        std::make_shared<SimDevice::Clock::time_point>(std::chrono::hours(1000));
};

// 2024-03-05 09:07:03 on the device's clock.
inline constexpr std::uint64_t kTestClock = 762944823;

inline SimOptions TestOptions(Model model = Model::R630) {
    SimOptions options = SimOptions::ForModel(model);
    options.clock = kTestClock;
    return options;
}

// A device and its command table, driven through the table like the simulator does.
class TestDevice {
public:
    explicit TestDevice(SimOptions options = TestOptions()) : device_(std::move(options), time_.Source()) {}

    SimDevice& Device() { return device_; }
    ManualTime& Time() { return time_; }

    DispatchResult Dispatch(std::uint8_t code0, std::uint8_t code1, const Bytes& fields = {}, int channel = 1) {
        Bytes payload{code0, code1};
        payload.insert(payload.end(), fields.begin(), fields.end());
        return table_.Dispatch(device_, channel, payload);
    }
    // Answer data, or nothing when the device stays silent.
    std::optional<Bytes> Ask(std::uint8_t code0, std::uint8_t code1, const Bytes& fields = {}, int channel = 1) {
        DispatchResult result = Dispatch(code0, code1, fields, channel);
        if (result.outcome != DispatchResult::Outcome::Answered) return std::nullopt;
        return result.data;
    }

    std::optional<Bytes> ReadMemory(std::uint32_t address, std::uint8_t length) {
        Bytes fields;
        AppendU32(fields, address);
        fields.push_back(length);
        return Ask(0x01, 0x02, fields);
    }
    // The data bytes of a memory read.
    Bytes Memory(std::uint32_t address, std::uint8_t length) {
        auto answer = ReadMemory(address, length);
        return answer && answer->size() >= 5 ? Bytes(answer->begin() + 5, answer->end()) : Bytes{};
    }
    std::optional<std::uint32_t> ReadParameter(std::uint16_t id) {
        Bytes fields;
        AppendU16(fields, id);
        auto answer = Ask(0x01, 0x0E, fields);
        if (!answer || answer->size() != 6) return std::nullopt;
        return GetU32(*answer, 2);
    }
    std::optional<std::uint32_t> WriteParameter(std::uint16_t id, std::uint32_t value) {
        Bytes fields;
        AppendU16(fields, id);
        AppendU32(fields, value);
        auto answer = Ask(0x01, 0x0F, fields);
        if (!answer || answer->size() != 6) return std::nullopt;
        return GetU32(*answer, 2);
    }

private:
    ManualTime time_;
    SimDevice device_;
    CommandTable table_ = MakeDeviceCommandTable();
};

inline Bytes Fields32And8(std::uint32_t address, std::uint8_t value) {
    Bytes fields;
    AppendU32(fields, address);
    fields.push_back(value);
    return fields;
}

// Fault settings with one field changed (designated initialisers would warn about the rest).
template <typename Field, typename Value>
FaultOptions With(Field FaultOptions::*field, Value value) {
    FaultOptions options;
    options.*field = value;
    return options;
}

}  // namespace kalvo::devsim::test
