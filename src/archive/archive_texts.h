#pragma once
// The archive's user-visible texts, Russian first.
#include "measure/history_texts.h"

namespace kalvo {

// A file set aside at open: kind + moved to + name + new started.
inline constexpr TextPair kArchiveDamaged{"Архив истории повреждён", "The history archive is damaged"};
inline constexpr TextPair kArchiveForeign{"Файл архива истории не является архивом программы",
                                          "The history archive file is not an archive of the program"};
inline constexpr TextPair kArchiveMovedTo{";\r\nфайл перенесён в\r\n", ";\r\nthe file was moved to\r\n"};
inline constexpr TextPair kArchiveNewStarted{"\r\nНачат новый архив", "\r\nA new archive was started"};

}  // namespace kalvo
