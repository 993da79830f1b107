#pragma once
// Unit names of dose rates and doses by unit kind (0 sievert, 1 roentgen, 2 counts) and scale
// (0 micro, 1 milli, 2 whole). Out-of-range kinds and scales are taken as 0.
#include <string>

#include "i18n/language.h"

namespace kalvo {

std::string DoseRateUnitText(InterfaceLanguage language, int kind, int scale);
std::string DoseUnitText(InterfaceLanguage language, int kind, int scale);

}  // namespace kalvo
