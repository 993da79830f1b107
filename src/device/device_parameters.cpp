#include "device/device_parameters.h"

#include <cstdio>

#include "link/device_commands.h"
#include "platform/log_sink.h"
#include "platform/ui_port.h"

namespace kalvo {

std::string ParameterText(std::uint32_t value) {
    char text[40];
    std::snprintf(text, sizeof text, "0x%04X(%d)", value, static_cast<std::int32_t>(value));
    return text;
}

bool GetDeviceParameter(DeviceCommands& commands, LogSink& log, std::uint16_t id, std::uint32_t* value) {
    if (!value) return false;
    ParameterRecord record;
    record.id = id;
    if (!commands.ReadParameter(record, false)) {
        *value = 0;
        log.LogError("Read PAR[" + std::to_string(id) + "]");
        return false;
    }
    *value = record.Value();
    log.LogLine("Read PAR[" + ParameterText(id) + "] : " + ParameterText(*value));
    return true;
}

bool SetDeviceParameter(DeviceCommands& commands, LogSink& log, std::uint16_t id, std::uint32_t value) {
    ParameterRecord record;
    record.id = id;
    record.SetValue(value);
    if (!commands.WriteParameter(record)) {
        log.LogError("Write PAR[" + std::to_string(id) + "] : " + ParameterText(value));
        return false;
    }
    if (!ParameterWriteKept(id, value, record.Value())) {
        log.LogError("Write PAR[" + std::to_string(id) + "] : " + ParameterText(value) + ", device kept " +
                     ParameterText(record.Value()));
        return false;
    }
    log.LogLine("Write PAR[" + ParameterText(id) + "] : " + ParameterText(value));
    return true;
}

int SettingsRefusalCode(bool connected, bool recognised, const DeviceIdentity& identity) {
    if (!connected) return 1;
    if (!recognised) return 2;
    const BoardInfo& board = identity.boardInfo;
    const std::uint16_t main = identity.softInfo.mainVersion;
    if (board.boardCode == kBoardCodeR630) {
        if (board.revision != 41 && board.revision != 42) return 4;
        return main < kSettingsMinimumR630 ? 5 : 0;
    }
    if (board.boardCode == kBoardCodeR520) {
        if (board.revision < 2 || board.revision > 4 || (board.variant != 1 && board.variant != 2)) return 4;
        return main < kSettingsMinimumR520 ? 5 : 0;
    }
    return 3;
}

bool SettingsAccessCheck(int code, UiPort& ui, LogSink& log, InterfaceLanguage language, const std::string& title) {
    if (code == 0) return true;
    auto pick = [language](std::string_view russian, std::string_view english) {
        return PickText(language, russian, english);
    };
    std::string reason;
    switch (code) {
    case 1: reason = pick("Соединение не установлено", "Device not connected"); break;
    case 2:
    case 3:
        reason = pick("Некорректное подключение\n\rили подключен неизвестный прибор",
                              "Bad connection or\n\rDevice is not recognised");
        break;
    case 4: reason = pick("Версия вашего прибора не поддерживается", "Your Device Version is not supported"); break;
    default:
        reason = pick("Требуется обновление прошивки\n\rПожалуйста зайдите на страницу \"О приборе\"",
                              "You need Upgrade Firmware\n\rPlease goto Page \"About Device\"");
        break;
    }
    std::string message = title.empty() ? "" : title + "\n\r";
    message += pick("Ошибка доступа к настройкам", "Error Settings Access") + "\n\r" + reason;
    ui.ShowMessage(MessageKind::Error, message);
    log.LogError("DevAccessCheck Error=" + std::to_string(code));
    return false;
}

}  // namespace kalvo
