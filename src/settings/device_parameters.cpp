#include "settings/device_parameters.h"

#include <cstdio>

#include "app/context.h"

namespace kalvo {

std::string ParameterText(std::uint32_t value) {
    char text[40];
    std::snprintf(text, sizeof text, "0x%04X(%d)", value, static_cast<std::int32_t>(value));
    return text;
}

bool GetDeviceParameter(AppContext& context, std::uint16_t id, std::uint32_t* value) {
    if (!value) return false;
    ParameterRecord record;
    record.id = id;
    if (!context.commands.ReadParameter(record, false)) {
        *value = 0;
        context.log.LogError("Read PAR[" + std::to_string(id) + "]");
        return false;
    }
    *value = record.Value();
    context.log.LogLine("Read PAR[" + ParameterText(id) + "] : " + ParameterText(*value));
    return true;
}

bool SetDeviceParameter(AppContext& context, std::uint16_t id, std::uint32_t value) {
    ParameterRecord record;
    record.id = id;
    record.SetValue(value);
    if (!context.commands.WriteParameter(record)) {
        context.log.LogError("Write PAR[" + std::to_string(id) + "] : " + ParameterText(value));
        return false;
    }
    context.log.LogLine("Write PAR[" + ParameterText(id) + "] : " + ParameterText(value));
    return true;
}

int SettingsRefusalCode(const AppContext& context) {
    if (!context.connection.DeviceConnected()) return 1;
    if (!context.tick.DeviceRecognised()) return 2;
    const BoardInfo& board = context.identity.boardInfo;
    const std::uint16_t main = context.identity.softInfo.mainVersion;
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

bool SettingsAccessCheck(AppContext& context, const std::string& title) {
    int code = SettingsRefusalCode(context);
    if (code == 0) return true;
    std::string reason;
    switch (code) {
    case 1: reason = context.Pick("Соединение не установлено", "Device not connected"); break;
    case 2:
    case 3:
        reason = context.Pick("Некорректное подключение\n\rили подключен неизвестный прибор",
                              "Bad connection or\n\rDevice is not recognised");
        break;
    case 4: reason = context.Pick("Версия вашего прибора не поддерживается", "Your Device Version is not supported"); break;
    default:
        reason = context.Pick("Требуется обновление прошивки\n\rПожалуйста зайдите на страницу \"О приборе\"",
                              "You need Upgrade Firmware\n\rPlease goto Page \"About Device\"");
        break;
    }
    std::string message = title.empty() ? "" : title + "\n\r";
    message += context.Pick("Ошибка доступа к настройкам", "Error Settings Access") + "\n\r" + reason;
    context.ui.ShowMessage(MessageKind::Error, message);
    context.log.LogError("DevAccessCheck Error=" + std::to_string(code));
    return false;
}

}  // namespace kalvo
