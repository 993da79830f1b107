#include "app/device_access.h"

#include "app/context.h"

namespace kalvo {

bool GetDeviceParameter(AppContext& context, std::uint16_t id, std::uint32_t* value) {
    return GetDeviceParameter(context.commands, context.log, id, value);
}

bool SetDeviceParameter(AppContext& context, std::uint16_t id, std::uint32_t value) {
    return SetDeviceParameter(context.commands, context.log, id, value);
}

int SettingsRefusalCode(const AppContext& context) {
    return SettingsRefusalCode(context.connection.DeviceConnected(), context.tick.DeviceRecognised(), context.identity);
}

bool SettingsAccessCheck(AppContext& context, const std::string& title) {
    return SettingsAccessCheck(SettingsRefusalCode(context), context.ui, context.log, context.language, title);
}

}  // namespace kalvo
