#include "cli/cli_doctor.h"

#include <cstdlib>
#include <filesystem>

#include "diagnose/doctor.h"

namespace kalvo {

std::string SystemRootFromEnvironment() {
    const char* root = std::getenv("KALVO_SYSTEM_ROOT");
    return root && *root ? root : "/";
}

int RunDoctor(const PortDirectory& directory, InterfaceLanguage language, std::ostream& out) {
    SystemTree tree(SystemRootFromEnvironment());
    DoctorReport report = Examine(tree, UserAccount::Current(), directory.LinksFolder(), language);
    return PrintDoctorReport(report, out);
}

std::string PortDescription(const SerialInventory& inventory, const PortPath& port) {
    for (const SerialDevice& device : inventory.devices) {
        bool linked = false;
        for (int com : device.linkedAs) linked = linked || com == port.number;
        if (device.path == port.path || linked) return DescribeDevice(device);
    }
    for (const UserLink& link : inventory.links)
        if (link.com == port.number) return "link to " + link.target;
    return "";
}

}  // namespace kalvo
