// Every answer of the command set, decoded from arbitrary bytes, and the texts made of it.
// Input: the request's address (4 bytes), the bytes asked for (1), the echo length (1), then
// the answer payload after its two code bytes.
// Checks: each decode accepts only the lengths its command gives, copies no more than asked,
// and the texts built from the decoded values have their fixed shapes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "device/device_information.h"
#include "link/device_answers.h"
#include "link/link.h"
#include "history/calendar.h"
#include "history/dose_conversion.h"
#include "device/history_access.h"
#include "live/live_measurement.h"
#include "device/device_parameters.h"

namespace {

using kalvo::fuzz::Check;

std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Fixed-size records (descriptor, INF_1, UID) come whole from block reads; taken here from the
// answer's start, zero-padded.
template <std::size_t N>
std::array<std::uint8_t, N> RecordFrom(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, N> record{};
    if (size) std::memcpy(record.data(), data, std::min(size, N));
    return record;
}

void CheckIdentityTexts(const std::uint8_t* answer, std::size_t size) {
    using namespace kalvo;
    const auto inf1 = RecordFrom<16>(answer, size);
    const auto uid = RecordFrom<12>(answer, size);
    const auto descriptorBytes = RecordFrom<CpuDescriptor::kSize>(answer, size);

    std::string uidText = FormatUid(uid);
    Check(uidText.size() == 35);
    for (std::size_t i = 0; i < uidText.size(); ++i) Check(i % 3 == 2 ? uidText[i] == ':' : IsHexDigit(uidText[i]));
    std::string serial = FormatSerial(inf1);
    Check(serial.size() == 9 && serial[3] == '-');
    std::string folder = FormatSerialForFolder(inf1);
    Check(folder.size() == 10 && folder[1] == '-' && folder[4] == '-');
    std::string board = BoardText(inf1);
    Check(board == "UNKNOWN" || board.rfind("RKD-", 0) == 0);
    Check(!BoardYText(inf1).empty());

    CpuDescriptor descriptor = CpuDescriptor::FromBytes(descriptorBytes.data());
    CpuFacts facts = CpuFactsOf(descriptor.cpuCode);
    Check(facts.pageSize == 0 || facts.pageSize == 128 || facts.pageSize == 256 || facts.pageSize == 1024 ||
          facts.pageSize == 2048);
    Check((facts.pageSize == 0) == (facts.uidAddress == 0));

    // What the device page and the access checks make of such a device.
    DeviceIdentity identity;
    identity.identified = true;
    identity.inf1 = inf1;
    identity.uid = uid;
    if (size >= SoftInfo::kSize) identity.softInfo = SoftInfo::FromBytes(answer);
    if (size >= BoardInfo::kSize) identity.boardInfo = BoardInfo::FromBytes(answer);
    identity.modelText = board;
    for (InterfaceLanguage language : {InterfaceLanguage::English, InterfaceLanguage::Russian}) {
        std::vector<std::string> lines = ShowDeviceInformation(identity, language);
        Check(lines.size() >= 6);
        HistoryAccessCheck(true, true, identity, language);
    }
    std::optional<int> code = BoardCodeOfType(inf1[1]);
    Check(!code || (*code >= 400 && *code <= 630));
    DoseConversion conversion = DoseConversionOf(identity, ClampCalibrationX100(U32(descriptorBytes.data())));
    Check(conversion.sensors >= 1 && conversion.sensitivity >= 1);
    Check(conversion.calibrationX100 >= kCalibrationMinX100 && conversion.calibrationX100 <= kCalibrationMaxX100);
}

void CheckClock(const kalvo::TimeRecord& record) {
    using namespace kalvo;
    DeviceDateTime time = DeviceDateTime::FromBytes(record);
    Check(time.ToBytes() == record);
    std::string date = DateText(time);
    // dd.mm.20yy; the year byte 255 as "----", and years from 100 on as "20" + three digits.
    Check(date.size() == 10 || (time.year >= 100 && date.size() == 11));
    Check(date[2] == '.' && date[5] == '.');
    Check(TimeText(time).size() == 8);
    std::uint32_t seconds = DateTimeToSeconds(time);
    DeviceDateTime back = SecondsToDateTime(seconds);
    bool valid = time.month >= 1 && time.month <= 12 && time.day >= 1 &&
                 time.day <= DaysInMonth(time.month, 2000u + time.year) && time.hour < 24 && time.minute < 60 &&
                 time.second < 60 && time.year < 136;  // later years wrap the 32-bit seconds
    if (valid) {
        Check(back.year == time.year && back.month == time.month && back.day == time.day);
        Check(back.hour == time.hour && back.minute == time.minute && back.second == time.second);
    }
    for (auto step : {MinuteBack, MinuteForward, HourBack, HourForward, DayBack, DayForward, MonthBack, MonthForward,
                      YearBack, YearForward}) {
        // A step either lands on a real time or leaves the position as it was.
        DeviceDateTime moved = step(time);
        if (!(moved == time)) {
            Check(moved.month >= 1 && moved.month <= 12 && moved.hour < 24 && moved.minute < 60);
            Check(moved.day >= 1 && moved.day <= DaysInMonth(moved.month, 2000u + moved.year));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kalvo;
    if (size < 6) return 0;
    const std::uint32_t address = U32(data);
    const int wanted = 1 + data[4] % 242;
    const int echoLength = data[5] % (kMaxEchoLength + 1);
    // An answer frame has at most 249 payload bytes, two of them the codes.
    const std::vector<std::uint8_t> answer(data + 6, data + std::min<std::size_t>(size, 6 + 247));
    const int m = static_cast<int>(answer.size());
    const std::uint8_t* p = answer.data();

    const auto* pattern = reinterpret_cast<const std::uint8_t*>(kConnectionTestPattern.data());
    std::vector<std::uint8_t> echo(pattern, pattern + std::min<std::size_t>(echoLength, kConnectionTestPattern.size()));
    echo.resize(static_cast<std::size_t>(echoLength), 0x55);
    if (EchoAnswerMatches(p, m, echo.data(), echoLength)) {
        Check(m >= 2 && (m == echoLength || m == echoLength + 1));
        Check(std::equal(echo.begin(), echo.end(), p));
    }

    // Exactly the room asked for, so ASan sees any byte written beyond it.
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(wanted));
    int got = DecodeBlockReadAnswer(p, m, address, wanted, buffer.data());
    Check(got >= -1 && got <= wanted);
    if (got >= 0) {
        Check(got == m - 5 && U32(p) == address);
        Check(std::equal(buffer.begin(), buffer.begin() + got, p + 5));
    }
    if (BlockWriteAnswerMatches(p, m, address, static_cast<std::uint8_t>(wanted)))
        Check(m == 5 && U32(p) == address && p[4] == static_cast<std::uint8_t>(wanted));

    if (std::optional<SoftInfo> info = DecodeSoftInfoAnswer(p, m)) {
        Check(m == static_cast<int>(SoftInfo::kSize));
        Check(FormatVersion(info->bootVersion).find('.') != std::string::npos);
        Check(info->InBootMode() == (info->mainVersion == 0));
    }
    if (std::optional<BoardInfo> board = DecodeBoardInfoAnswer(p, m)) {
        Check(m == static_cast<int>(BoardInfo::kSize));
        ClockCapable(board->boardCode, board->revision);
    }
    if (std::optional<TimeRecord> time = DecodeTimeAnswer(p, m)) {
        Check(m == 7 || m == 8);
        Check(std::equal(time->begin(), time->end(), p));
        CheckClock(*time);
    }

    ParameterRecord record;
    record.id = static_cast<std::uint16_t>(address);
    if (DecodeParameterAnswer(p, m, record)) {
        Check(m == 6 || m == 22);
        Check(record.id == static_cast<std::uint16_t>(p[0] | p[1] << 8) && record.Value() == U32(p + 2));
        std::string text = ParameterText(record.Value());
        Check(text.rfind("0x", 0) == 0 && text.back() == ')');
        for (std::uint32_t unit = 0; unit < 4; ++unit) RateNumberText(unit, record.Value(), record.Value());
    } else {
        Check(m != 6 && m != 22 && record.id == static_cast<std::uint16_t>(address));
    }
    ParameterRecord written;
    if (DecodeParameterWriteAnswer(p, m, written)) Check(m == 6 && written.Value() == U32(p + 2));

    CheckIdentityTexts(p, answer.size());
    return 0;
}
