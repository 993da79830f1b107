#include "platform/port_directory.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace kalvo {

namespace {

struct SystemFamily {
    const char* prefix;
    int firstNumber;
    int count;
};

// The fixed numbering; see the header.
constexpr SystemFamily kFamilies[] = {
    {"ttyS", 1, 100},
    {"ttyUSB", 101, 100},
    {"ttyACM", 201, 50},
};

// A number as its decimal text, without sign or leading zeros, of at most `maxDigits` digits:
// "com07" or "ttyS01" would otherwise be listed under a number whose own name is another file.
std::optional<int> CanonicalNumber(const std::string& digits, std::size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// /dev/ttyS* nodes exist whether or not a UART sits behind them; keep only the ports whose
// driver reports a known UART type (or that we may not open to ask).
bool LegacyPortPresent(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == EACCES || errno == EBUSY;
    serial_struct info{};
    bool present = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return present;
}

}  // namespace

PortDirectory::PortDirectory(std::string linksFolder, bool includeSystemPorts, std::string deviceFolder)
    : linksFolder_(std::move(linksFolder)),
      includeSystemPorts_(includeSystemPorts),
      deviceFolder_(std::move(deviceFolder)) {}

PortDirectory PortDirectory::FromEnvironment() {
    std::string folder;
    if (const char* dir = std::getenv("KALVO_PORTS_DIR"); dir && *dir) {
        folder = dir;
    } else if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        folder = std::string(config) + "/kalvo/ports";
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        folder = std::string(home) + "/.config/kalvo/ports";
    } else {
        folder = "/tmp/kalvo-ports-" + std::to_string(::getuid());
    }
    const char* system = std::getenv("KALVO_SYSTEM_PORTS");
    bool includeSystem = !(system && std::string(system) == "0");
    return PortDirectory(folder, includeSystem);
}

std::optional<std::string> PortDirectory::SystemDeviceName(int number) {
    for (const SystemFamily& family : kFamilies) {
        if (number >= family.firstNumber && number < family.firstNumber + family.count)
            return std::string(family.prefix) + std::to_string(number - family.firstNumber);
    }
    return std::nullopt;
}

std::optional<int> PortDirectory::SystemPortNumber(const std::string& name) {
    for (const SystemFamily& family : kFamilies) {
        std::string prefix = family.prefix;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        std::optional<int> index = CanonicalNumber(name.substr(prefix.size()), 3);
        if (index && *index < family.count) return family.firstNumber + *index;
    }
    return std::nullopt;
}

std::optional<int> PortDirectory::LinkNumber(const std::string& name) {
    if (name.compare(0, 3, "com") != 0) return std::nullopt;
    std::optional<int> number = CanonicalNumber(name.substr(3), 6);
    if (!number || *number == 0) return std::nullopt;
    return number;
}

std::vector<PortPath> PortDirectory::List() const {
    namespace fs = std::filesystem;
    std::map<int, std::string> ports;
    std::error_code ec;
    if (includeSystemPorts_) {
        for (const auto& entry : fs::directory_iterator(deviceFolder_, ec)) {
            std::string name = entry.path().filename().string();
            std::optional<int> number = SystemPortNumber(name);
            if (!number) continue;
            std::string path = entry.path().string();
            if (name.rfind("ttyS", 0) == 0 && !LegacyPortPresent(path)) continue;
            ports[*number] = path;
        }
    }
    for (const auto& entry : fs::directory_iterator(linksFolder_, ec)) {
        std::optional<int> number = LinkNumber(entry.path().filename().string());
        if (!number) continue;
        struct stat target {};
        if (::stat(entry.path().c_str(), &target) != 0) continue;  // stale link
        ports[*number] = entry.path().string();
    }
    std::vector<PortPath> list;
    for (auto& [number, path] : ports) list.push_back({number, path});
    return list;
}

std::optional<std::string> PortDirectory::PathOf(int number) const {
    if (number <= 0) return std::nullopt;
    std::string link = linksFolder_ + "/" + LinkName(number);
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0) return link;
    if (includeSystemPorts_) {
        if (auto name = SystemDeviceName(number)) return deviceFolder_ + "/" + *name;
    }
    return std::nullopt;
}

}  // namespace kalvo
