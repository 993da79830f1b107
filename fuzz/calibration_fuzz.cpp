// The calibration coefficient as typed into the K box, and the clock text of a device record.
// Input: the typed text (up to the first NUL), then a seven-byte clock record.
// Checks: K is -1 or a non-negative number of hundredths; a K in the device's range reads back
// from its own text; the clock text always has its fixed shape (a year byte above 99 writes
// three digits after "20", as the device's own format does).
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "settings/calibration_clock.h"

using kalvo::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kalvo;
    const char* text = reinterpret_cast<const char*>(data);
    const std::size_t length = ::strnlen(text, size);
    const long long k = ParseCalibration(std::string(text, length));
    Check(k == -1 || k >= 0);
    if (k >= kCalibrationMin && k <= kCalibrationMax) Check(ParseCalibration(CalibrationText(k)) == k);

    std::array<std::uint8_t, 7> record{};
    const std::size_t rest = length < size ? size - length - 1 : 0;
    std::memcpy(record.data(), data + (size - rest), rest < record.size() ? rest : record.size());
    const std::string clock = DeviceTimeText(record);
    Check((clock.size() == 23 || (clock.size() == 24 && record[5] >= 100 && record[5] != 255)) &&
          clock.front() == '[' && clock.back() == ']' && clock.find("]-[") != std::string::npos);
    return 0;
}
