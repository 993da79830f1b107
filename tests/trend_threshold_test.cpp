// The background threshold in the trend's unit: every entry of the device's tables, across the
// units, and only once the settings were read.
#include <gtest/gtest.h>

#include "app/trend_threshold.h"
#include "settings/settings_page.h"

namespace kalvo {
namespace {

TEST(TrendThreshold, EveryTableEntryInEveryTrendUnit) {
    EXPECT_EQ(ThresholdEntryValue("0,3"), 0.3);
    EXPECT_EQ(ThresholdEntryValue("-1"), 1000.0);
    EXPECT_EQ(ThresholdEntryValue("--0,5"), 500000.0);
    EXPECT_EQ(ThresholdEntryValue("20000"), 20000.0);
    EXPECT_EQ(ThresholdEntryValue("-"), std::nullopt);
    EXPECT_EQ(ThresholdEntryValue("1,0x"), std::nullopt);

    // The tables pair the same level entry by entry: sievert and roentgen convert into each
    // other exactly; counts never come from a dose rate, nor a dose rate from counts.
    const auto& table = BackgroundThresholdTable();
    for (std::size_t i = 0; i < table[0].size(); ++i) {
        const double sievert = *ThresholdEntryValue(table[0][i]);
        const double roentgen = *ThresholdEntryValue(table[1][i]);
        const double counts = *ThresholdEntryValue(table[2][i]);
        EXPECT_DOUBLE_EQ(*ThresholdInTrendUnit(0, table[0][i], 0), sievert) << i;
        EXPECT_DOUBLE_EQ(*ThresholdInTrendUnit(0, table[0][i], 1), roentgen) << i;
        EXPECT_DOUBLE_EQ(*ThresholdInTrendUnit(1, table[1][i], 0), sievert) << i;
        EXPECT_DOUBLE_EQ(*ThresholdInTrendUnit(1, table[1][i], 1), roentgen) << i;
        EXPECT_DOUBLE_EQ(*ThresholdInTrendUnit(2, table[2][i], 2), counts) << i;
        EXPECT_EQ(ThresholdInTrendUnit(0, table[0][i], 2), std::nullopt) << i;
        EXPECT_EQ(ThresholdInTrendUnit(1, table[1][i], 2), std::nullopt) << i;
        EXPECT_EQ(ThresholdInTrendUnit(2, table[2][i], 0), std::nullopt) << i;
    }

    // From the settings form: nothing before a read has chosen the units and the threshold.
    SettingsForm form = NewSettingsForm(SettingsFamily::R630);
    EXPECT_EQ(BackgroundThreshold(form, 0), std::nullopt);
    form.units.Select(1);
    EXPECT_EQ(BackgroundThreshold(form, 0), std::nullopt);
    form.fonLevel.Select(12);  // "-1": 1 mR/h
    EXPECT_DOUBLE_EQ(*BackgroundThreshold(form, 1), 1000.0);
    EXPECT_DOUBLE_EQ(*BackgroundThreshold(form, 0), 10.0);
    EXPECT_EQ(BackgroundThreshold(form, 2), std::nullopt);
    form.units.Select(2);
    EXPECT_DOUBLE_EQ(*BackgroundThreshold(form, 2), 2000.0);
}

}  // namespace
}  // namespace kalvo
