#include "diagnose/serial_inventory.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "platform/port_directory.h"

namespace kalvo {

namespace {

struct KnownAdapter {
    const char* vendorId;
    const char* productId;
    const char* chip;
};

// The USB serial bridges dosimeter cables are made with, and the usual others.
constexpr KnownAdapter kKnownAdapters[] = {
    {"1a86", "7523", "CH340"},  {"1a86", "5523", "CH341"},  {"1a86", "55d4", "CH9102"},
    {"10c4", "ea60", "CP210x"}, {"10c4", "ea70", "CP2105"}, {"0403", "6001", "FT232R"},
    {"0403", "6010", "FT2232"}, {"0403", "6015", "FT231X"}, {"067b", "2303", "PL2303"},
};

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Basename(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool IsSerialName(const std::string& name) {
    for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
        std::string p = prefix;
        if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
            std::all_of(name.begin() + static_cast<long>(p.size()), name.end(),
                        [](unsigned char c) { return std::isdigit(c) != 0; }))
            return true;
    }
    return false;
}

std::optional<UsbFacts> ReadUsbDevice(const SystemTree& tree, const std::string& sysPath) {
    std::optional<std::string> vendor = tree.ReadLine(sysPath + "/idVendor");
    std::optional<std::string> product = tree.ReadLine(sysPath + "/idProduct");
    if (!vendor || !product) return std::nullopt;
    UsbFacts usb;
    usb.sysPath = sysPath;
    usb.vendorId = Lower(*vendor);
    usb.productId = Lower(*product);
    usb.manufacturer = tree.ReadLine(sysPath + "/manufacturer").value_or("");
    usb.product = tree.ReadLine(sysPath + "/product").value_or("");
    usb.serial = tree.ReadLine(sysPath + "/serial").value_or("");
    return usb;
}

// The USB device a tty hangs under: the nearest folder above it with USB ids.
std::optional<UsbFacts> UsbAbove(const SystemTree& tree, std::string sysPath) {
    while (sysPath.size() > std::string("/sys/devices").size() && sysPath.rfind("/sys/devices/", 0) == 0) {
        if (std::optional<UsbFacts> usb = ReadUsbDevice(tree, sysPath)) return usb;
        sysPath = Parent(sysPath);
    }
    return std::nullopt;
}

// A ttyS node is there whether or not a UART is; the driver reports type 0 for none.
bool UartPresent(const SystemTree& tree, const std::string& name) {
    std::optional<std::string> type = tree.ReadLine("/sys/class/tty/" + name + "/type");
    return type && !type->empty() && *type != "0";
}

}  // namespace

std::string AdapterChip(const std::string& vendorId, const std::string& productId) {
    for (const KnownAdapter& adapter : kKnownAdapters)
        if (vendorId == adapter.vendorId && productId == adapter.productId) return adapter.chip;
    return "";
}

SerialInventory TakeInventory(const SystemTree& tree, const std::string& linksFolder) {
    SerialInventory inventory;
    std::map<std::string, std::string> byId;  // device name -> by-id name
    for (const std::string& id : tree.Names("/dev/serial/by-id")) {
        if (std::optional<std::string> target = tree.Resolve("/dev/serial/by-id/" + id))
            byId.emplace(Basename(*target), id);
    }
    for (const std::string& name : tree.Names("/dev")) {
        if (!IsSerialName(name)) continue;
        if (name.rfind("ttyS", 0) == 0 && !UartPresent(tree, name)) continue;
        SerialDevice device;
        device.name = name;
        device.path = "/dev/" + name;
        device.com = PortDirectory::SystemPortNumber(name);
        if (auto it = byId.find(name); it != byId.end()) device.byId = it->second;
        const std::string classPath = "/sys/class/tty/" + name;
        if (std::optional<std::string> driver = tree.Resolve(classPath + "/device/driver"))
            device.driver = Basename(*driver);
        if (std::optional<std::string> sysPath = tree.Resolve(classPath + "/device"))
            device.usb = UsbAbove(tree, *sysPath);
        device.node = tree.Node(device.path);
        inventory.devices.push_back(std::move(device));
    }
    std::sort(inventory.devices.begin(), inventory.devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
        int left = a.com.value_or(1000), right = b.com.value_or(1000);
        return left != right ? left < right : a.name < b.name;
    });

    // Adapters without a serial device.
    for (const std::string& name : tree.Names("/sys/bus/usb/devices")) {
        std::optional<std::string> sysPath = tree.Resolve("/sys/bus/usb/devices/" + name);
        if (!sysPath) continue;
        std::optional<UsbFacts> usb = ReadUsbDevice(tree, *sysPath);
        if (!usb || AdapterChip(usb->vendorId, usb->productId).empty()) continue;
        bool hasTty = std::any_of(inventory.devices.begin(), inventory.devices.end(), [&](const SerialDevice& d) {
            return d.usb && d.usb->sysPath == usb->sysPath;
        });
        if (hasTty) continue;
        UnboundAdapter adapter{*usb, ""};
        for (const std::string& child : tree.Names(*sysPath)) {
            if (child.rfind(name + ":", 0) != 0) continue;  // interfaces are "1-1:1.0"
            if (std::optional<std::string> driver = tree.Resolve(*sysPath + "/" + child + "/driver")) {
                adapter.interfaceDriver = Basename(*driver);
                break;
            }
        }
        inventory.unbound.push_back(std::move(adapter));
    }

    // Who has the devices open: the fd links in /proc (only our own processes unless root).
    for (const std::string& pid : tree.Names("/proc")) {
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
            continue;
        const std::string fdFolder = "/proc/" + pid + "/fd";
        for (const std::string& fd : tree.Names(fdFolder)) {
            std::optional<std::string> target = tree.LinkText(fdFolder + "/" + fd);
            if (!target) continue;
            for (SerialDevice& device : inventory.devices) {
                if (*target != device.path) continue;
                const int number = std::stoi(pid);
                bool known = std::any_of(device.holders.begin(), device.holders.end(),
                                         [&](const PortHolder& h) { return h.pid == number; });
                if (!known) device.holders.push_back({number, tree.ReadLine("/proc/" + pid + "/comm").value_or("?")});
            }
        }
    }

    // The user's own links, read as they are.
    namespace fs = std::filesystem;
    std::error_code listError;
    for (const auto& entry : fs::directory_iterator(linksFolder, listError)) {
        // Links whose device is gone: the port list leaves them out, doctor tells.
        const std::string name = entry.path().filename().string();
        if (name.size() < 4 || name.compare(0, 3, "com") != 0 ||
            !std::all_of(name.begin() + 3, name.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
            continue;
        std::error_code ec;
        if (!fs::is_symlink(entry.symlink_status(ec)) || fs::exists(entry.path(), ec)) continue;
        const int number = name.size() > 7 ? 0 : std::stoi(name.substr(3));
        if (number <= 0) continue;
        inventory.links.push_back({number, entry.path().string(), fs::read_symlink(entry.path(), ec).string(), true, ""});
    }
    for (const PortPath& port : PortDirectory(linksFolder, false).List()) {
        UserLink link{port.number, port.path, "", false, ""};
        std::error_code ec;
        fs::path real = fs::canonical(port.path, ec);
        if (!ec) {
            link.target = real.string();
            std::optional<std::string> inside = tree.InsideTree(link.target);
            if (inside && Parent(*inside) == "/dev") {
                link.device = Basename(*inside);
                for (SerialDevice& device : inventory.devices)
                    if (device.name == link.device) device.linkedAs.push_back(port.number);
            }
        }
        inventory.links.push_back(std::move(link));
    }
    std::sort(inventory.links.begin(), inventory.links.end(),
              [](const UserLink& a, const UserLink& b) { return a.com < b.com; });
    return inventory;
}

std::string DescribeDevice(const SerialDevice& device) {
    std::vector<std::string> parts;
    if (device.usb) {
        const UsbFacts& usb = *device.usb;
        std::string ids = "USB " + usb.VidPid();
        std::string chip = AdapterChip(usb.vendorId, usb.productId);
        if (!chip.empty()) ids += " (" + chip + ")";
        parts.push_back(ids);
        std::string text = usb.manufacturer;
        if (!usb.product.empty()) text += (text.empty() ? "" : " ") + usb.product;
        if (!text.empty()) parts.push_back("\"" + text + "\"");
        if (!usb.serial.empty()) parts.push_back("serial " + usb.serial);
    }
    if (!device.driver.empty()) parts.push_back("driver " + device.driver);
    if (!device.byId.empty()) parts.push_back("by-id " + device.byId);
    std::string line;
    for (const std::string& part : parts) line += (line.empty() ? "" : ", ") + part;
    return line;
}

}  // namespace kalvo
