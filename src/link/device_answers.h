#pragma once
// The checks and decodes of the device's answers, apart from the link, so that they can be
// tried on any bytes. `data` is an answer's payload after its two code bytes (what
// Link::AnswerData gives) and `length` its byte count (Link::AnswerLength). Pure functions.
#include <array>
#include <cstdint>
#include <optional>

#include "link/device_identity.h"

namespace kalvo {

// Written only; its values are actions, and its answer is no kept value.
inline constexpr std::uint16_t kCommandParameterId = 0xFF00;

// Seven bytes: second, minute, hour, day, month, year - 2000, and a byte carried along.
using TimeRecord = std::array<std::uint8_t, 7>;

struct ParameterRecord {
    std::uint16_t id = 0;
    std::array<std::uint8_t, 4> value{};
    std::array<std::uint8_t, 16> further{};  // only filled by long answers

    std::uint32_t Value() const;
    void SetValue(std::uint32_t value);
};

// Connection test: the echo itself, or the echo and one more byte.
bool EchoAnswerMatches(const std::uint8_t* data, int length, const std::uint8_t* echo, int echoLength);
// Memory and external-flash block reads: the address, one byte, then at most `wanted` data
// bytes, copied to `buffer`. The count of data bytes, or -1.
int DecodeBlockReadAnswer(const std::uint8_t* data, int length, std::uint32_t address, int wanted,
                          std::uint8_t* buffer);
// Block writes: the address and the byte count echoed.
bool BlockWriteAnswerMatches(const std::uint8_t* data, int length, std::uint32_t address, std::uint8_t count);
std::optional<SoftInfo> DecodeSoftInfoAnswer(const std::uint8_t* data, int length);
std::optional<BoardInfo> DecodeBoardInfoAnswer(const std::uint8_t* data, int length);
// Seven bytes, or eight of which the last is ignored.
std::optional<TimeRecord> DecodeTimeAnswer(const std::uint8_t* data, int length);
// Parameter read: id and value (6 bytes) or id, value and 16 further bytes (22). Fills `record`
// (id included) only when the answer fits.
bool DecodeParameterAnswer(const std::uint8_t* data, int length, ParameterRecord& record);
// Parameter write: id and the value the device now holds, which replaces `record.value`.
bool DecodeParameterWriteAnswer(const std::uint8_t* data, int length, ParameterRecord& record);
// Whether a parameter write took: the device kept the value sent. A device that clamps or
// refuses a value answers the one it kept instead. The command parameter is not compared.
bool ParameterWriteKept(std::uint16_t id, std::uint32_t sent, std::uint32_t kept);

}  // namespace kalvo
