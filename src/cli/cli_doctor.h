#pragma once
// kalvo-cli doctor and the descriptions of ports --verbose. The system's files are read under
// KALVO_SYSTEM_ROOT when it is set (a copy of another machine's /sys, /dev, /proc and /etc).
#include <ostream>
#include <string>

#include "diagnose/serial_inventory.h"
#include "i18n/language.h"
#include "platform/port_directory.h"

namespace kalvo {

std::string SystemRootFromEnvironment();

// Exit status 0 when nothing is wrong, 1 otherwise.
int RunDoctor(const PortDirectory& directory, InterfaceLanguage language, std::ostream& out);

// What is known of the device behind a port of the list: its description, or where a link leads.
std::string PortDescription(const SerialInventory& inventory, const PortPath& port);

}  // namespace kalvo
