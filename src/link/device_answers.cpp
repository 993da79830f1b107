#include "link/device_answers.h"

#include <algorithm>
#include <cstring>

namespace kalvo {

namespace {

std::uint32_t GetU32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

}  // namespace

std::uint32_t ParameterRecord::Value() const { return GetU32(value.data()); }

void ParameterRecord::SetValue(std::uint32_t newValue) {
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(newValue >> (8 * i));
}

bool EchoAnswerMatches(const std::uint8_t* data, int length, const std::uint8_t* echo, int echoLength) {
    return data && echo && echoLength >= 0 && length >= 2 && (length == echoLength || length == echoLength + 1) &&
           std::memcmp(data, echo, static_cast<std::size_t>(echoLength)) == 0;
}

int DecodeBlockReadAnswer(const std::uint8_t* data, int length, std::uint32_t address, int wanted,
                          std::uint8_t* buffer) {
    if (!data || !buffer || length <= 4 || length - 5 > wanted || GetU32(data) != address) return -1;
    std::memcpy(buffer, data + 5, static_cast<std::size_t>(length - 5));
    return length - 5;
}

bool BlockWriteAnswerMatches(const std::uint8_t* data, int length, std::uint32_t address, std::uint8_t count) {
    return data && length == 5 && GetU32(data) == address && data[4] == count;
}

std::optional<SoftInfo> DecodeSoftInfoAnswer(const std::uint8_t* data, int length) {
    if (!data || length != static_cast<int>(SoftInfo::kSize)) return std::nullopt;
    return SoftInfo::FromBytes(data);
}

std::optional<BoardInfo> DecodeBoardInfoAnswer(const std::uint8_t* data, int length) {
    if (!data || length != static_cast<int>(BoardInfo::kSize)) return std::nullopt;
    return BoardInfo::FromBytes(data);
}

std::optional<TimeRecord> DecodeTimeAnswer(const std::uint8_t* data, int length) {
    if (!data || (length != 7 && length != 8)) return std::nullopt;
    TimeRecord time;
    std::copy_n(data, time.size(), time.begin());
    return time;
}

bool DecodeParameterAnswer(const std::uint8_t* data, int length, ParameterRecord& record) {
    if (!data || (length != 6 && length != 22)) return false;
    record.id = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    std::copy_n(data + 2, 4, record.value.begin());
    if (length == 22) std::copy_n(data + 6, 16, record.further.begin());
    return true;
}

bool DecodeParameterWriteAnswer(const std::uint8_t* data, int length, ParameterRecord& record) {
    if (!data || length != 6) return false;
    std::copy_n(data + 2, 4, record.value.begin());
    return true;
}

bool ParameterWriteKept(std::uint16_t id, std::uint32_t sent, std::uint32_t kept) {
    return id == kCommandParameterId || kept == sent;
}

}  // namespace kalvo
