#include "diagnose/doctor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

namespace kalvo {

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Hex4(std::string digits) {
    digits = Lower(digits);
    while (digits.size() < 4) digits.insert(digits.begin(), '0');
    return digits;
}

std::string Octal(unsigned mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777u);
    return text;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// The text between the quotes after `key` ("ENV{PRODUCT}==\"1a86/7523/*\"" -> 1a86/7523/*).
std::vector<std::string> QuotedAfter(const std::string& line, const std::string& key) {
    std::vector<std::string> values;
    for (std::size_t at = line.find(key); at != std::string::npos; at = line.find(key, at + 1)) {
        std::size_t open = line.find('"', at + key.size());
        std::size_t close = open == std::string::npos ? open : line.find('"', open + 1);
        if (close == std::string::npos) break;
        values.push_back(line.substr(open + 1, close - open - 1));
    }
    return values;
}

// USB ids ("1a86:7523") that udev rules name on lines holding `marker` ("" for every line).
std::set<std::string> RuleIds(const SystemTree& tree, const std::vector<std::string>& files, const std::string& marker) {
    std::set<std::string> ids;
    for (const std::string& file : files) {
        std::string text = tree.ReadText(file).value_or("");
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            start = end + 1;
            if (line.empty() || line[0] == '#' || (!marker.empty() && line.find(marker) == std::string::npos)) continue;
            // ENV{PRODUCT} is "vendor/product/release" in hex without leading zeros.
            for (const std::string& product : QuotedAfter(line, "ENV{PRODUCT}==")) {
                std::size_t slash = product.find('/');
                std::size_t second = slash == std::string::npos ? slash : product.find('/', slash + 1);
                if (second != std::string::npos)
                    ids.insert(Hex4(product.substr(0, slash)) + ":" + Hex4(product.substr(slash + 1, second - slash - 1)));
            }
            std::vector<std::string> vendors = QuotedAfter(line, "ATTRS{idVendor}==");
            std::vector<std::string> products = QuotedAfter(line, "ATTRS{idProduct}==");
            if (vendors.size() == 1)
                ids.insert(Hex4(vendors[0]) + ":" + (products.size() == 1 ? Hex4(products[0]) : std::string("*")));
        }
    }
    return ids;
}

bool IdListed(const std::set<std::string>& ids, const UsbFacts& usb) {
    return ids.count(usb.VidPid()) != 0 || ids.count(usb.vendorId + ":*") != 0;
}

std::string ComText(const SerialDevice& device) {
    std::string text = device.com ? "COM " + std::to_string(*device.com) + " (" + device.path + ")" : device.path;
    return text;
}

std::string AdapterText(const UsbFacts& usb) {
    std::string text = "USB " + usb.VidPid();
    std::string chip = AdapterChip(usb.vendorId, usb.productId);
    if (!chip.empty()) text += " (" + chip + ")";
    std::string name = usb.manufacturer;
    if (!usb.product.empty()) name += (name.empty() ? "" : " ") + usb.product;
    if (!name.empty()) text += " \"" + name + "\"";
    return text;
}

std::string AccessText(const AccessCheck& access, const NodeInfo* node, InterfaceLanguage language) {
    auto T = [language](std::string_view ru, std::string_view en) { return PickText(language, ru, en); };
    std::string mode = node ? T("режим ", "mode ") + Octal(node->mode) + T(", группа ", ", group ") + access.group : "";
    switch (access.verdict) {
    case AccessVerdict::Allowed: return T("вам можно его открыть (", "you may open it (") + mode + ")";
    case AccessVerdict::JoinGroup:
        return T("вам нельзя его открыть (", "you may not open it (") + mode +
               T("; вы не в группе)", "; you are not a member)");
    case AccessVerdict::LoginAgain:
        return T("вам пока нельзя его открыть (", "you may not open it yet (") + mode +
               T("; вы вступили в группу после начала сеанса)", "; you joined the group after this session began)");
    case AccessVerdict::ModeTooStrict:
        return T("вам нельзя его открыть (", "you may not open it (") + mode +
               T(": только владельцу)", ": only its owner may)");
    case AccessVerdict::Unknown: break;
    }
    return T("не удалось проверить", "cannot be examined");
}

// The kernel module of a well-known adapter chip.
std::string ModuleOf(const std::string& chip) {
    if (chip.rfind("CH34", 0) == 0) return "ch341";
    if (chip.rfind("CP210", 0) == 0) return "cp210x";
    if (chip.rfind("FT", 0) == 0) return "ftdi_sio";
    if (chip == "PL2303") return "pl2303";
    return "";
}

void PrintService(const ServiceState& service, InterfaceLanguage language, std::ostream& out) {
    auto T = [language](std::string_view ru, std::string_view en) { return PickText(language, ru, en); };
    out << "  " << service.name << ": ";
    if (!service.Present()) {
        out << T("не установлен", "not installed") << '\n';
        return;
    }
    if (service.processes.empty()) {
        out << T("не запущен", "not running");
    } else {
        out << T("запущен (процесс", "running (process");
        for (int pid : service.processes) out << ' ' << pid;
        out << ')';
    }
    for (const std::string& unit : service.units) out << T("; юнит ", "; unit ") << unit;
    for (const std::string& rule : service.udevRules) out << T("; правила udev ", "; udev rules ") << rule;
    out << '\n';
}

}  // namespace

AccessCheck CheckAccess(const NodeInfo& node, const UserAccount& user, const std::vector<GroupEntry>& groups) {
    AccessCheck check;
    check.group = std::to_string(node.gid);
    const GroupEntry* group = nullptr;
    for (const GroupEntry& entry : groups)
        if (entry.gid == node.gid) group = &entry;
    if (group) check.group = group->name;
    const bool inSession = std::find(user.groups.begin(), user.groups.end(), node.gid) != user.groups.end();
    if (user.uid == 0 || (user.uid == node.uid && (node.mode & 0600u) == 0600u) ||
        (inSession && (node.mode & 0060u) == 0060u) || (node.mode & 0006u) == 0006u) {
        check.verdict = AccessVerdict::Allowed;
    } else if ((node.mode & 0060u) != 0060u) {
        check.verdict = AccessVerdict::ModeTooStrict;
    } else if (group && Contains(group->members, user.name)) {
        check.verdict = AccessVerdict::LoginAgain;
    } else {
        check.verdict = AccessVerdict::JoinGroup;
    }
    return check;
}

ServiceState DetectService(const SystemTree& tree, const std::string& name, const std::vector<std::string>& processNames,
                           const std::vector<std::string>& unitNames, const std::string& ruleWord) {
    ServiceState state;
    state.name = name;
    for (const std::string& entry : tree.Names("/proc")) {
        if (entry.empty() || !std::all_of(entry.begin(), entry.end(), [](unsigned char c) { return std::isdigit(c); }))
            continue;
        std::optional<std::string> comm = tree.ReadLine("/proc/" + entry + "/comm");
        if (comm && Contains(processNames, *comm)) state.processes.push_back(std::stoi(entry));
    }
    std::sort(state.processes.begin(), state.processes.end());
    // A unit or rule file in /etc that is a link to /dev/null (masked) or empty hides the packaged one.
    auto hidden = [&](const std::string& etcPath) {
        std::optional<std::string> link = tree.LinkText(etcPath);
        if (link && *link == "/dev/null") return true;
        std::optional<std::string> text = tree.ReadText(etcPath);
        return text && text->find_first_not_of(" \t\r\n") == std::string::npos;
    };
    for (const std::string& unit : unitNames) {
        if (hidden("/etc/systemd/system/" + unit)) continue;
        for (const char* folder : {"/etc/systemd/system/", "/lib/systemd/system/", "/usr/lib/systemd/system/"}) {
            if (tree.Exists(folder + unit)) {
                state.units.push_back(unit);
                break;
            }
        }
    }
    if (!ruleWord.empty()) {
        std::set<std::string> seen;
        for (const char* folder : {"/etc/udev/rules.d", "/run/udev/rules.d", "/lib/udev/rules.d", "/usr/lib/udev/rules.d"}) {
            for (const std::string& file : tree.Names(folder)) {
                if (Lower(file).find(ruleWord) == std::string::npos || file.size() < 6 ||
                    file.compare(file.size() - 6, 6, ".rules") != 0 || !seen.insert(file).second)
                    continue;
                std::string path = std::string(folder) + "/" + file;
                if (!hidden(path)) state.udevRules.push_back(path);
            }
        }
    }
    return state;
}

DoctorReport Examine(const SystemTree& tree, const UserAccount& user, const std::string& linksFolder,
                     InterfaceLanguage language) {
    auto T = [language](std::string_view ru, std::string_view en) { return PickText(language, ru, en); };
    DoctorReport report;
    report.language = language;
    report.inventory = TakeInventory(tree, linksFolder);
    const std::vector<GroupEntry> groups = ReadGroups(tree);
    for (const SerialDevice& device : report.inventory.devices)
        report.access.push_back(device.node ? CheckAccess(*device.node, user, groups) : AccessCheck{});
    report.brltty = DetectService(tree, "brltty", {"brltty"}, {"brltty.service", "brltty-udev.service"}, "brltty");
    report.modemManager = DetectService(tree, "ModemManager", {"ModemManager"}, {"ModemManager.service"}, "");
    const SerialInventory& inventory = report.inventory;

    if (inventory.devices.empty() && inventory.unbound.empty()) {
        report.findings.push_back({T("Последовательные порты не найдены. Подключите кабель дозиметра; если порт так "
                                     "и не появится, посмотрите, что сообщило ядро при подключении:",
                                     "No serial device found. Plug the dosimeter's cable in; if it still does not "
                                     "appear, see what the kernel said when it was plugged in:"),
                                   {"sudo dmesg | tail -n 20"},
                                   ""});
    }

    // Access, one finding per group to join.
    std::vector<std::string> joinGroups, loginGroups;
    for (std::size_t i = 0; i < inventory.devices.size(); ++i) {
        const SerialDevice& device = inventory.devices[i];
        const AccessCheck& access = report.access[i];
        if (access.verdict == AccessVerdict::JoinGroup && !Contains(joinGroups, access.group)) {
            joinGroups.push_back(access.group);
        } else if (access.verdict == AccessVerdict::LoginAgain && !Contains(loginGroups, access.group)) {
            loginGroups.push_back(access.group);
        } else if (access.verdict == AccessVerdict::ModeTooStrict) {
            std::string match = device.usb ? "ATTRS{idVendor}==\"" + device.usb->vendorId + "\", ATTRS{idProduct}==\"" +
                                                 device.usb->productId + "\""
                                           : "KERNEL==\"" + device.name + "\"";
            report.findings.push_back(
                {T("Открыть ", "Only the owner may open ") + ComText(device) + T(" (режим ", " (mode ") +
                     Octal(device.node->mode) +
                     T(") может только владелец. Правило udev отдаст его группе dialout:",
                       "). A udev rule gives it to group dialout:"),
                 {"echo 'SUBSYSTEM==\"tty\", " + match +
                      ", GROUP=\"dialout\", MODE=\"0660\"' | sudo tee -a /etc/udev/rules.d/99-kalvo-serial.rules",
                  "sudo udevadm control --reload-rules", "sudo udevadm trigger --subsystem-match=tty"},
                 T("Если вы не в группе dialout, вступите и в неё.",
                   "Join group dialout as well if you are not a member.")});
        } else if (access.verdict == AccessVerdict::Unknown) {
            report.notes.push_back(T("Не удалось проверить ", "") + device.path + T(".", " could not be examined."));
        }
    }
    for (const std::string& group : joinGroups) {
        std::string ports;
        for (std::size_t i = 0; i < inventory.devices.size(); ++i)
            if (report.access[i].verdict == AccessVerdict::JoinGroup && report.access[i].group == group)
                ports += "\n   " + ComText(inventory.devices[i]);
        report.findings.push_back({T("Вам нельзя открыть эти порты: они принадлежат группе ",
                                     "You may not open these ports: they belong to group ") +
                                       group + T(", а ", " and ") + user.name +
                                       T(" в неё не входит.", " is not a member.") + ports,
                                   {"sudo usermod -aG " + group + " " + user.name},
                                   T("Затем выйдите из системы и войдите снова: группы читаются при входе.",
                                     "Then log out and back in: the groups are read at login.")});
    }
    for (const std::string& group : loginGroups) {
        report.findings.push_back({user.name + T(" входит в группу ", " is a member of group ") + group +
                                       T(", но этот сеанс начат до вступления в неё. Выйдите из системы и войдите "
                                         "снова или откройте оболочку с этой группой сейчас:",
                                         ", but this session began before joining it. Log out and back in, or "
                                         "start a shell that has it now:"),
                                   {"newgrp " + group},
                                   ""});
    }

    // brltty takes the adapters its udev rules name (and, running, the common ones) as braille displays.
    const bool brlttyActive =
        !report.brltty.processes.empty() || (!report.brltty.udevRules.empty() && !report.brltty.units.empty());
    std::set<std::string> claimed;
    if (brlttyActive) {
        claimed = RuleIds(tree, report.brltty.udevRules, "");
        if (claimed.empty()) claimed = {"1a86:7523", "10c4:ea60", "0403:6001"};
        std::string affected;
        for (const SerialDevice& device : inventory.devices)
            if (device.usb && IdListed(claimed, *device.usb))
                affected += "\n   " + ComText(device) + ": " + AdapterText(*device.usb);
        for (const UnboundAdapter& adapter : inventory.unbound)
            if (IdListed(claimed, adapter.usb))
                affected += "\n   " + AdapterText(adapter.usb) + T(": нет последовательного порта", ": no serial device") +
                            (adapter.interfaceDriver.empty() ? "" : T(", занят ", ", held by ") + adapter.interfaceDriver);
        if (!affected.empty()) {
            report.findings.push_back(
                {T("brltty принимает эти USB-адаптеры за дисплеи Брайля (сейчас или при следующем подключении):",
                   "brltty takes these USB serial adapters for braille displays (now or when next plugged in):") +
                     affected,
                 {"sudo systemctl mask --now brltty-udev.service brltty.service"},
                 T("Затем отключите адаптер и подключите снова. Если дисплей Брайля не нужен, "
                   "'sudo apt-get remove brltty' решит это навсегда.",
                   "Then unplug the adapter and plug it in again. Without a braille display, "
                   "'sudo apt-get remove brltty' does it for good.")});
        } else {
            report.notes.push_back(T("brltty установлен, но ни один из подключённых адаптеров он не занимает.",
                                     "brltty is installed but none of the adapters present is one it takes."));
        }
    } else if (report.brltty.Present()) {
        report.notes.push_back(T("brltty установлен, но не запускается для USB-устройств.",
                                 "brltty is installed but does not start for USB devices."));
    }

    // Adapters that no serial driver took, with brltty out of the way.
    for (const UnboundAdapter& adapter : inventory.unbound) {
        if (IdListed(claimed, adapter.usb)) continue;  // brltty's, told above
        std::string module = ModuleOf(AdapterChip(adapter.usb.vendorId, adapter.usb.productId));
        Finding finding{AdapterText(adapter.usb) +
                            T(" подключён, но последовательного порта у него нет",
                              " is plugged in but has no serial device") +
                            (adapter.interfaceDriver.empty()
                                 ? T(": его драйвер не загружен.", ": its driver is not loaded.")
                                 : T(": его занимает ", ": ") + adapter.interfaceDriver + T(".", " holds it.")),
                        {},
                        T("Затем отключите адаптер и подключите снова; 'sudo dmesg | tail -n 20' покажет, что "
                          "увидело ядро.",
                          "Then unplug the adapter and plug it in again; 'sudo dmesg | tail -n 20' shows "
                          "what the kernel saw.")};
        finding.fixes.push_back(module.empty() ? "sudo dmesg | tail -n 20" : "sudo modprobe " + module);
        report.findings.push_back(std::move(finding));
    }

    // ModemManager opens every new ttyACM device to ask whether it is a modem.
    std::set<std::string> ignored;
    for (const char* folder : {"/etc/udev/rules.d", "/lib/udev/rules.d", "/usr/lib/udev/rules.d"}) {
        std::vector<std::string> files;
        for (const std::string& file : tree.Names(folder)) files.push_back(std::string(folder) + "/" + file);
        std::set<std::string> ids = RuleIds(tree, files, "ID_MM_DEVICE_IGNORE");
        ignored.insert(ids.begin(), ids.end());
    }
    std::vector<const SerialDevice*> probed;
    for (const SerialDevice& device : inventory.devices)
        if (device.name.rfind("ttyACM", 0) == 0 && !(device.usb && IdListed(ignored, *device.usb)))
            probed.push_back(&device);
    if (!probed.empty() && !report.modemManager.processes.empty()) {
        Finding finding{T("ModemManager запущен и проверяет эти устройства как модемы: несколько секунд после "
                          "появления он держит их занятыми и шлёт им команды модема:",
                          "ModemManager is running and probes these devices as modems, which holds them for a "
                          "few seconds after they appear and sends them modem commands:"),
                        {},
                        T("Затем отключите устройство и подключите снова. Если мобильный модем не нужен, "
                          "'sudo systemctl disable --now ModemManager.service' решит это навсегда.",
                          "Then unplug the device and plug it in again. Without a mobile-broadband modem, "
                          "'sudo systemctl disable --now ModemManager.service' does it for good.")};
        for (const SerialDevice* device : probed) {
            finding.text += "\n   " + ComText(*device) + (device->usb ? ": " + AdapterText(*device->usb) : "");
            std::string match = device->usb ? "ATTRS{idVendor}==\"" + device->usb->vendorId +
                                                  "\", ATTRS{idProduct}==\"" + device->usb->productId + "\""
                                            : "KERNEL==\"" + device->name + "\"";
            finding.fixes.push_back("echo '" + match +
                                    ", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee -a "
                                    "/etc/udev/rules.d/99-kalvo-modemmanager.rules");
        }
        finding.fixes.push_back("sudo udevadm control --reload-rules");
        report.findings.push_back(std::move(finding));
    } else if (!probed.empty() && report.modemManager.Present()) {
        report.notes.push_back(T("ModemManager установлен, но не запущен; запущенный, он стал бы проверять "
                                 "устройства ttyACM.",
                                 "ModemManager is installed but not running; started, it would probe the ttyACM "
                                 "devices."));
    }

    // Ports are opened exclusively: another program that has one open keeps us out.
    for (const SerialDevice& device : inventory.devices) {
        if (device.holders.empty()) continue;
        Finding finding{ComText(device) + T(" открыт другой программой, а порт служит одной программе за раз:",
                                            " is open in another program, and a port serves one program at a time:"),
                        {},
                        T("Или закройте программу сами.", "Or close the program yourself.")};
        for (const PortHolder& holder : device.holders) {
            finding.text += std::string(finding.fixes.empty() ? " " : ", ") + holder.program +
                            T(" (процесс ", " (process ") + std::to_string(holder.pid) + ")";
            finding.fixes.push_back("kill " + std::to_string(holder.pid));
        }
        finding.text += ".";
        report.findings.push_back(std::move(finding));
    }
    for (const UserLink& link : inventory.links)
        if (link.gone)
            report.notes.push_back(T("Ваша ссылка COM ", "Your link COM ") + std::to_string(link.com) +
                                   T(" ведёт на ", " leads to ") + link.target +
                                   T(", которого нет: устройство отключено или теперь называется иначе.",
                                     ", which is not there: the device is unplugged or has another name now."));

    for (const SerialDevice& device : inventory.devices)
        if (!device.com)
            report.notes.push_back(device.path +
                                   T(" не имеет своего номера COM; дайте его ссылкой, например ",
                                     " has no COM number of its own; give it one with a link, e.g. ") +
                                   "ln -s " + device.path + " ~/.config/kalvo/ports/com5");
    return report;
}

int PrintDoctorReport(const DoctorReport& report, std::ostream& out) {
    auto T = [&report](std::string_view ru, std::string_view en) { return PickText(report.language, ru, en); };
    const SerialInventory& inventory = report.inventory;
    out << T("Последовательные порты:", "Serial devices:") << '\n';
    if (inventory.devices.empty()) out << T("  нет", "  none") << '\n';
    for (std::size_t i = 0; i < inventory.devices.size(); ++i) {
        const SerialDevice& device = inventory.devices[i];
        out << "  " << (device.com ? "COM " + std::to_string(*device.com) : std::string("COM -")) << "  "
            << device.path;
        for (int com : device.linkedAs) out << T("  (также COM ", "  (also COM ") << com << T(" по вашей ссылке)", " by your link)");
        out << '\n';
        std::string description = DescribeDevice(device);
        if (!description.empty()) out << "      " << description << '\n';
        out << "      " << AccessText(report.access[i], device.node ? &*device.node : nullptr, report.language) << '\n';
    }
    if (!inventory.links.empty()) {
        out << T("Ваши ссылки на порты:", "Your port links:") << '\n';
        for (const UserLink& link : inventory.links)
            out << "  COM " << link.com << "  " << link.path << " -> " << link.target << (link.gone ? T(" (нет)", " (gone)") : "")
                << '\n';
    }
    if (!inventory.unbound.empty()) {
        out << T("USB-адаптеры без последовательного порта:", "USB serial adapters without a serial device:") << '\n';
        for (const UnboundAdapter& adapter : inventory.unbound)
            out << "  " << AdapterText(adapter.usb)
                << (adapter.interfaceDriver.empty() ? T(", без драйвера", ", no driver") : T(", занят ", ", held by ") + adapter.interfaceDriver) << '\n';
    }
    out << T("Службы:", "Services:") << '\n';
    PrintService(report.brltty, report.language, out);
    PrintService(report.modemManager, report.language, out);
    for (const std::string& note : report.notes) out << T("Замечание: ", "Note: ") << note << '\n';
    if (report.findings.empty()) {
        out << T("Проблем не найдено.", "No problems found.") << '\n';
        return 0;
    }
    out << T("Найдено проблем: ", "Problems found: ") << report.findings.size() << '\n';
    int number = 0;
    for (const Finding& finding : report.findings) {
        out << ++number << ". " << finding.text << '\n';
        if (!finding.fixes.empty()) out << T("   Исправление:", "   Fix:") << '\n';
        for (const std::string& command : finding.fixes) out << "     " << command << '\n';
        if (!finding.after.empty()) out << "   " << finding.after << '\n';
    }
    return 1;
}

}  // namespace kalvo
