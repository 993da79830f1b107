#pragma once
// The user-visible texts of the history page, Russian first; used exactly as written, their
// misspellings and mixed line breaks included.
#include <string>
#include <string_view>

#include "i18n/language.h"

namespace kalvo {

struct TextPair {
    std::string_view russian;
    std::string_view english;

    std::string Pick(InterfaceLanguage language) const { return PickText(language, russian, english); }
};

// Page and buttons.
inline constexpr TextPair kHistoryPageCaption{"История", "History"};
inline constexpr TextPair kHistoryReadCaption{"Прочитать", "Read"};
inline constexpr TextPair kHistoryCancelCaption{"Отмена", "Cancel"};
inline constexpr TextPair kHistoryDeleteCaption{"Удалить историю", "Delete History"};
inline constexpr TextPair kHistorySaveCsvCaption{"Сохранить CSV", "Save CSV"};
inline constexpr TextPair kHistoryBackCaption{"Назад", "Back"};
inline constexpr TextPair kHistoryUpCaption{"Вверх", "Up"};
inline constexpr TextPair kHistoryForwardCaption{"Вперед", "Forward"};
inline constexpr TextPair kHistoryLastCaption{"В конец", "Last"};
inline constexpr TextPair kHistoryShowMaximumCaption{"Показывать всплески", "Show maximum"};

// Download and erase.
inline constexpr TextPair kHistoryReadError{"Ошибка чтения истории", "Error of History reading"};
inline constexpr TextPair kHistoryFormatError{"Ошибка формата данных истории", "Error of History Format Data"};
inline constexpr TextPair kHistoryReadCancelled{"Чтение истории отменено", "Reading of History canceled"};
inline constexpr TextPair kHistoryDeleteQuestion{"История в приборе будет удалена!\r\nПродолжить?",
                                                 "History in Device will be deleted!\r\nContinue"};
inline constexpr TextPair kHistoryDeleteError{"Ошибка удаления истории", "Error of History deleting"};

// Chart titles; the first is the chart's title before anything was drawn.
inline constexpr std::string_view kHistoryChartDesignTitle = "-----------";
inline constexpr TextPair kHistoryWaitingTitle{"Ожидание считывания истории", "Waiting of reading History"};
inline constexpr TextPair kHistoryMinuteTitle{"История за минуту", "Hostory for Minute"};
inline constexpr TextPair kHistoryHourTitle{"История за час", "Hostory for Hour"};
inline constexpr TextPair kHistoryDayTitle{"История за день", "Hostory for Day"};
inline constexpr TextPair kHistoryMonthTitle{"История за месяц", "Hostory for Month"};
inline constexpr TextPair kHistoryYearTitle{"История за год", "Hostory for Year"};
inline constexpr TextPair kHistoryRateUnit{"мкР/час", "uR/h"};

// CSV saving.
inline constexpr TextPair kCsvNotLoaded{"Сначала считайте историю", "First read History from Device"};
inline constexpr TextPair kCsvDialogFilter{"Файлы CSV (*.csv)|*.CSV", "CSV Files(*.csv)|*.CSV"};
inline constexpr TextPair kCsvDialogTitle{"Сохранение истории в формате CSV", "CSV History saving"};
inline constexpr TextPair kCsvExistsStart{"Файл\r\n", "File\r\n"};
inline constexpr TextPair kCsvExistsEnd{"\r\nуже существует\r\nПерезаписать?", "\r\nalready exists\r\nRewrite?"};
inline constexpr TextPair kCsvNoAccess{"Ошибка\r\nНет доступа к файлу\r\n", "Error\n\rnoaccess to file\r\n"};
inline constexpr TextPair kCsvOpenError{"Ошибка открытия файла\r\n", "File open Error\r\n"};
inline constexpr TextPair kCsvCreateError{"Ошибка создания файла", "File creating Error"};
inline constexpr TextPair kCsvWriteError{"Ошибка записи файла\r\n", "File write Error\r\n"};

}  // namespace kalvo
