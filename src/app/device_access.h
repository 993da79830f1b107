#pragma once
// The device layer's parameter calls and settings access check over the program's context,
// for the front ends and tests that hold the whole context. User-interface thread only.
#include <cstdint>
#include <string>

#include "device/device_parameters.h"

namespace kalvo {

class AppContext;

bool GetDeviceParameter(AppContext& context, std::uint16_t id, std::uint32_t* value);
bool SetDeviceParameter(AppContext& context, std::uint16_t id, std::uint32_t value);
int SettingsRefusalCode(const AppContext& context);
bool SettingsAccessCheck(AppContext& context, const std::string& title);

}  // namespace kalvo
