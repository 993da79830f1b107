#pragma once
// The archive's user-visible texts, Russian first.
#include "history/history_texts.h"

namespace kalvo {

// A file set aside at open: kind + moved to + name + new started.
inline constexpr TextPair kArchiveDamaged{"Архив истории повреждён", "The history archive is damaged"};
inline constexpr TextPair kArchiveForeign{"Файл архива истории не является архивом программы",
                                          "The history archive file is not an archive of the program"};
inline constexpr TextPair kArchiveMovedTo{";\r\nфайл перенесён в\r\n", ";\r\nthe file was moved to\r\n"};
inline constexpr TextPair kArchiveNewStarted{"\r\nНачат новый архив", "\r\nA new archive was started"};

// An archive that cannot be used now but is not damaged: kind + ": " + path + left as it was +
// SQLite's own words. The file is never set aside for these.
inline constexpr TextPair kArchiveBusy{"Архив истории занят другой программой",
                                       "The history archive is in use by another program"};
inline constexpr TextPair kArchiveDiskFull{"Диск архива истории заполнен", "The disk of the history archive is full"};
inline constexpr TextPair kArchiveReadOnly{"Архив истории доступен только для чтения",
                                           "The history archive is read-only"};
inline constexpr TextPair kArchiveIoError{"Ошибка чтения или записи архива истории",
                                          "The history archive cannot be read or written"};
inline constexpr TextPair kArchiveCannotOpen{"Архив истории не открывается", "The history archive cannot be opened"};
inline constexpr TextPair kArchiveLeftAsItWas{"; файл оставлен как был", "; the file was left as it was"};

// The history page's check box, and what it says when there is nothing to show.
inline constexpr TextPair kArchiveBoxCaption{"Архив", "Archive"};
inline constexpr TextPair kArchiveEmpty{"Архив истории пуст", "The history archive is empty"};
inline constexpr TextPair kArchiveNoRecordsOf{"В архиве истории нет записей прибора ",
                                              "The history archive holds no records of the device "};
inline constexpr TextPair kArchiveUnavailable{"Архив истории недоступен", "The history archive cannot be used"};

}  // namespace kalvo
