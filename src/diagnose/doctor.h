#pragma once
// kalvo-cli doctor: why a serial device cannot be used. Lists the serial devices, checks that
// this user may open each, looks for the two programs that take USB serial devices away
// (brltty claims CH340/CP210x/FTDI adapters as braille displays; ModemManager probes new
// ttyACM devices as modems) and prints the commands that fix each finding.
#include <ostream>
#include <string>
#include <vector>

#include "diagnose/serial_inventory.h"
#include "diagnose/system_tree.h"
#include "i18n/language.h"

namespace kalvo {

struct ServiceState {
    std::string name;                   // "brltty", "ModemManager"
    std::vector<int> processes;         // running, from /proc/*/comm
    std::vector<std::string> udevRules; // rule files in force
    std::vector<std::string> units;     // systemd units installed and not masked
    bool Present() const { return !processes.empty() || !udevRules.empty() || !units.empty(); }
};

enum class AccessVerdict {
    Allowed,
    JoinGroup,      // the group may read and write; the user is not a member
    LoginAgain,     // member in /etc/group, but not in this session yet
    ModeTooStrict,  // not even the group may read and write
    Unknown,        // the node could not be examined
};

struct AccessCheck {
    AccessVerdict verdict = AccessVerdict::Unknown;
    std::string group;  // the node's group by name (or number)
};

struct Finding {
    std::string text;                 // what is wrong, one or more lines
    std::vector<std::string> fixes;   // shell commands, in order
    std::string after;                // what to do once they ran
};

struct DoctorReport {
    SerialInventory inventory;
    std::vector<AccessCheck> access;  // one per inventory device
    ServiceState brltty;
    ServiceState modemManager;
    std::vector<Finding> findings;
    std::vector<std::string> notes;   // things seen that do no harm now
    InterfaceLanguage language = InterfaceLanguage::English;
};

AccessCheck CheckAccess(const NodeInfo& node, const UserAccount& user, const std::vector<GroupEntry>& groups);
ServiceState DetectService(const SystemTree& tree, const std::string& name, const std::vector<std::string>& processNames,
                           const std::vector<std::string>& unitNames, const std::string& ruleWord);

// Texts in `language`; commands, paths and device facts are the same in both.
DoctorReport Examine(const SystemTree& tree, const UserAccount& user, const std::string& linksFolder,
                     InterfaceLanguage language = InterfaceLanguage::English);
// The report as printed; returns the exit status: 0 when nothing is wrong, 1 otherwise.
int PrintDoctorReport(const DoctorReport& report, std::ostream& out);

}  // namespace kalvo
