#include <gtest/gtest.h>

#include <chrono>

#include "history/calendar.h"

namespace kalvo {
namespace {

DeviceDateTime At(unsigned year, unsigned month, unsigned day, unsigned hour = 0, unsigned minute = 0,
                  unsigned second = 0) {
    return MakeDeviceDateTime(year, month, day, hour, minute, second);
}

std::string Text(const DeviceDateTime& time) { return DateText(time) + " " + TimeText(time); }

TEST(Calendar, LeapYearsAndMonthLengths) {
    EXPECT_TRUE(IsLeapYear(0));
    EXPECT_TRUE(IsLeapYear(24));
    EXPECT_FALSE(IsLeapYear(23));
    EXPECT_FALSE(IsLeapYear(26));
    EXPECT_TRUE(IsLeapYear(100));  // the device knows no century rule
    EXPECT_EQ(DaysInMonth(2, 24), 29u);
    EXPECT_EQ(DaysInMonth(2, 23), 28u);
    EXPECT_EQ(DaysInMonth(1, 23), 31u);
    EXPECT_EQ(DaysInMonth(4, 23), 30u);
    EXPECT_EQ(DaysInMonth(12, 23), 31u);
    EXPECT_EQ(DaysInMonth(0, 23), 0u);
    EXPECT_EQ(DaysInMonth(13, 24), 0u);
}

TEST(Calendar, DayNumbers) {
    EXPECT_EQ(DayNumber(At(2000, 1, 1)), 1u);
    EXPECT_EQ(DayNumber(At(2000, 3, 1)), 61u);
    EXPECT_EQ(DayNumber(At(2000, 12, 31)), 366u);
    EXPECT_EQ(DayNumber(At(2001, 1, 1)), 367u);
    EXPECT_EQ(DayNumber(At(2004, 1, 1)), 1462u);
    // Invalid fields: a day of 32 or more counts as 0, a month outside 1..12 as January.
    EXPECT_EQ(DayNumber(At(2001, 1, 32)), 366u);
    EXPECT_EQ(DayNumber(At(2001, 13, 5)), DayNumber(At(2001, 1, 5)));
    EXPECT_EQ(DayNumber(At(2001, 0, 5)), DayNumber(At(2001, 1, 5)));
    EXPECT_EQ(DayNumber(At(2000, 1, 0)), 0u);
    EXPECT_EQ(DateTimeToSeconds(At(2000, 1, 0, 1, 0, 0)), 3600u);  // day number 0: no days
}

TEST(Calendar, EveryDayFrom2000To2059MatchesTheCivilCalendar) {
    using namespace std::chrono;
    const sys_days epoch{year{2000} / January / 1};
    for (sys_days day = epoch; day < sys_days{year{2060} / January / 1}; day += days{1}) {
        year_month_day civil{day};
        const auto dayIndex = static_cast<std::uint32_t>((day - epoch).count());
        DeviceDateTime date = At(static_cast<unsigned>(int(civil.year())), unsigned(civil.month()),
                                 unsigned(civil.day()), 13, 47, 59);
        ASSERT_EQ(DayNumber(date), dayIndex + 1) << Text(date);
        const std::uint32_t seconds = dayIndex * 86400u + 13 * 3600 + 47 * 60 + 59;
        ASSERT_EQ(DateTimeToSeconds(date), seconds) << Text(date);
        ASSERT_EQ(SecondsToDateTime(seconds), date) << seconds;
        ASSERT_EQ(DateFromDays(static_cast<std::uint16_t>(dayIndex)), At(2000 + date.year, date.month, date.day));
    }
}

TEST(Calendar, SecondsRoundTripOverTheWholeDeviceRange) {
    for (std::uint32_t days = 0; days <= 0xFFFFFFFFu / 86400u; ++days) {
        const std::uint32_t seconds = days * 86400u + 86399u;
        DeviceDateTime time = SecondsToDateTime(seconds);
        ASSERT_LT(time.day, 32);
        ASSERT_GE(time.month, 1);
        ASSERT_LE(time.month, 12);
        ASSERT_EQ(DateTimeToSeconds(time), seconds);
    }
    EXPECT_EQ(Text(SecondsToDateTime(0)), "01.01.2000 00:00:00");
    EXPECT_EQ(Text(SecondsToDateTime(283900000)), "29.12.2008 21:06:40");
}

TEST(Calendar, BytesKeepTheSeventhByte) {
    DeviceTimeBytes bytes{5, 9, 23, 7, 12, 26, 0xA5};
    DeviceDateTime time = DeviceDateTime::FromBytes(bytes);
    EXPECT_EQ(time.second, 5);
    EXPECT_EQ(time.minute, 9);
    EXPECT_EQ(time.hour, 23);
    EXPECT_EQ(time.day, 7);
    EXPECT_EQ(time.month, 12);
    EXPECT_EQ(time.year, 26);
    EXPECT_EQ(time.extra, 0xA5);
    EXPECT_EQ(time.ToBytes(), bytes);
    EXPECT_EQ(MinuteForward(time).extra, 0xA5);
    EXPECT_EQ(YearBack(time).extra, 0xA5);
}

TEST(Calendar, TextsAndInvalidFields) {
    EXPECT_EQ(DateText(At(2026, 12, 7)), "07.12.2026");
    EXPECT_EQ(TimeText(At(2026, 12, 7, 9, 5, 0)), "09:05:00");
    DeviceDateTime time = At(2026, 12, 7, 9, 5, 0);
    time.day = 0;
    EXPECT_EQ(DateText(time), "--.12.2026");
    time.day = 32;
    EXPECT_EQ(DateText(time), "--.12.2026");
    time.day = 31;
    time.month = 0;
    EXPECT_EQ(DateText(time), "31.--.2026");
    time.month = 13;
    EXPECT_EQ(DateText(time), "31.--.2026");
    time.year = 255;
    EXPECT_EQ(DateText(time), "31.--.----");
    time.year = 100;
    time.month = 1;
    EXPECT_EQ(DateText(time), "31.01.20100");
    time.year = 5;
    EXPECT_EQ(DateText(time), "31.01.2005");
    EXPECT_EQ(DateText(DeviceDateTime::FromBytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})), "--.--.----");
    EXPECT_EQ(TimeText(DeviceDateTime::FromBytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})), "--:--:--");

    time = At(2026, 1, 1, 24, 59, 59);
    EXPECT_EQ(TimeText(time), "--:59:59");
    time.hour = 23;
    time.minute = 60;
    EXPECT_EQ(TimeText(time), "23:--:59");
    time.minute = 0;
    time.second = 60;
    EXPECT_EQ(TimeText(time), "23:00:--");

    EXPECT_EQ(TwoDigitText(0), "00");
    EXPECT_EQ(TwoDigitText(5), "05");
    EXPECT_EQ(TwoDigitText(59), "59");
    EXPECT_EQ(TwoDigitText(123), "123");
}

TEST(CalendarSteps, MinuteAndHourCarry) {
    EXPECT_EQ(Text(MinuteBack(At(2024, 3, 1, 0, 0, 30))), "29.02.2024 23:59:30");
    EXPECT_EQ(Text(MinuteBack(At(2024, 3, 1, 10, 20))), "01.03.2024 10:19:00");
    EXPECT_EQ(Text(MinuteForward(At(2023, 12, 31, 23, 59))), "01.01.2024 00:00:00");
    EXPECT_EQ(Text(MinuteForward(At(2023, 12, 31, 22, 59))), "31.12.2023 23:00:00");
    EXPECT_EQ(Text(HourBack(At(2023, 3, 1, 0, 15))), "28.02.2023 23:15:00");
    EXPECT_EQ(Text(HourForward(At(2023, 2, 28, 23, 15))), "01.03.2023 00:15:00");
    EXPECT_EQ(Text(HourForward(At(2024, 2, 28, 23, 15))), "29.02.2024 00:15:00");
}

TEST(CalendarSteps, DayMonthAndYearWithClampedDays) {
    EXPECT_EQ(DateText(DayBack(At(2023, 3, 1))), "28.02.2023");
    EXPECT_EQ(DateText(DayBack(At(2024, 3, 1))), "29.02.2024");
    EXPECT_EQ(DateText(DayBack(At(2024, 1, 1))), "31.12.2023");
    EXPECT_EQ(DateText(DayForward(At(2024, 2, 29))), "01.03.2024");
    EXPECT_EQ(DateText(DayForward(At(2024, 2, 28))), "29.02.2024");
    EXPECT_EQ(DateText(DayForward(At(2023, 12, 31))), "01.01.2024");

    EXPECT_EQ(DateText(MonthBack(At(2026, 1, 15))), "15.12.2025");
    EXPECT_EQ(DateText(MonthBack(At(2024, 3, 31))), "29.02.2024");
    EXPECT_EQ(DateText(MonthBack(At(2023, 3, 31))), "28.02.2023");
    EXPECT_EQ(DateText(MonthForward(At(2024, 1, 31))), "29.02.2024");
    EXPECT_EQ(DateText(MonthForward(At(2025, 12, 31))), "31.01.2026");
    EXPECT_EQ(DateText(MonthForward(At(2025, 5, 31))), "30.06.2025");

    EXPECT_EQ(DateText(YearBack(At(2024, 2, 29))), "28.02.2023");
    EXPECT_EQ(DateText(YearForward(At(2024, 2, 29))), "28.02.2025");
    EXPECT_EQ(DateText(YearForward(At(2023, 2, 28))), "28.02.2024");
}

TEST(CalendarSteps, YearLimits2001And2059) {
    EXPECT_EQ(DateText(YearBack(At(2001, 6, 15))), "15.06.2001");
    EXPECT_EQ(DateText(YearBack(At(2002, 6, 15))), "15.06.2001");
    EXPECT_EQ(DateText(YearForward(At(2059, 6, 15))), "15.06.2059");
    EXPECT_EQ(DateText(YearForward(At(2058, 6, 15))), "15.06.2059");
    // A carry that would need 2000 or 2060 leaves the position where it is, rather than
    // wrapping to the other end of the same year.
    const DeviceDateTime first = At(2001, 1, 1, 0, 0, 0);
    EXPECT_EQ(MonthBack(first), first);
    EXPECT_EQ(DayBack(first), first);
    EXPECT_EQ(HourBack(first), first);
    EXPECT_EQ(MinuteBack(first), first);
    const DeviceDateTime last = At(2059, 12, 31, 23, 59, 0);
    EXPECT_EQ(MonthForward(last), last);
    EXPECT_EQ(DayForward(last), last);
    EXPECT_EQ(HourForward(last), last);
    EXPECT_EQ(MinuteForward(last), last);
    // Inside the limits the same positions still move.
    EXPECT_EQ(Text(MinuteForward(At(2001, 1, 1, 0, 0))), "01.01.2001 00:01:00");
    EXPECT_EQ(Text(MonthBack(At(2059, 12, 31))), "30.11.2059 00:00:00");
    // A clock that reads 2000 can be looked at but not stepped before January 2001's year.
    EXPECT_EQ(DateText(DayBack(At(2000, 3, 1))), "29.02.2000");
    EXPECT_EQ(MonthBack(At(2000, 1, 5)), At(2000, 1, 5));
    EXPECT_EQ(DateText(YearForward(At(2000, 2, 29))), "28.02.2001");
}

TEST(CalendarSteps, FieldsOutOfRangeAreClampedFirst) {
    DeviceDateTime time = At(2024, 2, 30, 25, 75, 0);
    EXPECT_EQ(Text(MinuteForward(time)), "01.03.2024 00:00:00");  // 29.02 23:59 + 1 minute
    EXPECT_EQ(Text(MinuteBack(time)), "29.02.2024 23:58:00");
    time = At(2024, 3, 0);
    EXPECT_EQ(DateText(DayBack(time)), "29.02.2024");
    time = At(2024, 0, 10);
    EXPECT_EQ(DateText(MonthBack(time)), "10.12.2023");
    time = At(2024, 14, 10);
    EXPECT_EQ(DateText(MonthForward(time)), "10.01.2025");
}

}  // namespace
}  // namespace kalvo
