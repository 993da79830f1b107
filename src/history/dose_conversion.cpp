#include "history/dose_conversion.h"

#include <algorithm>

namespace kalvo {

DoseConversion DoseConversionOf(int boardCode, std::uint8_t boardVariant, std::uint32_t calibrationX100) {
    DoseConversion conversion;
    conversion.calibrationX100 = calibrationX100;
    if (boardCode == kBoardCodeR630) {
        conversion.sensors = 2;
        conversion.sensitivity = 86;
    } else {
        conversion.sensors = 1;
        conversion.sensitivity = (boardVariant & 0x03) == 1 ? 68 : 76;
    }
    return conversion;
}

DoseConversion DoseConversionOf(const DeviceIdentity& identity, std::uint32_t calibrationX100) {
    return DoseConversionOf(identity.boardInfo.boardCode, identity.boardInfo.variant, calibrationX100);
}

std::uint32_t ClampCalibrationX100(std::uint32_t value) {
    return std::clamp(value, kCalibrationMinX100, kCalibrationMaxX100);
}

}  // namespace kalvo
