#include "i18n/units.h"

namespace kalvo {

namespace {

struct Cell {
    const char* russian;
    const char* english;
};

// [scale][kind]; the Russian roentgen names keep their leading blanks.
constexpr Cell kRateUnits[3][3] = {
    {{"мкЗв/ч", "uSv/h"}, {"мкР/ч", "uR/h"}, {"CPM", "CPM"}},
    {{"мЗв/ч", "mSv/h"}, {" мР/ч", "mR/h"}, {"CPM", "CPM"}},
    {{"Зв/ч", "Sv/h"}, {"  Р/ч", "R/h"}, {"CPM", "CPM"}},
};
constexpr Cell kDoseUnits[3][3] = {
    {{"мкЗв", "uSv"}, {"мкР", "uR"}, {"ИМП", "PULSES"}},
    {{"мЗв", "mSv"}, {" мР", "mR"}, {"ИМП", "PULSES*E3"}},
    {{"Зв", "Sv"}, {"  Р", "R"}, {"ИМП", "PULSES*E6"}},
};

std::string Pick(const Cell (&table)[3][3], InterfaceLanguage language, int kind, int scale) {
    if (kind < 0 || kind > 2) kind = 0;
    if (scale < 0 || scale > 2) scale = 0;
    const Cell& cell = table[scale][kind];
    return PickText(language, cell.russian, cell.english);
}

}  // namespace

std::string DoseRateUnitText(InterfaceLanguage language, int kind, int scale) {
    return Pick(kRateUnits, language, kind, scale);
}

std::string DoseUnitText(InterfaceLanguage language, int kind, int scale) {
    return Pick(kDoseUnits, language, kind, scale);
}

}  // namespace kalvo
