#pragma once
// COM numbers and the device paths behind them.
//
// Windows: COM n is \\.\COMn, and the ports present are the values of the registry key
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM; the folder arguments and KALVO_PORTS_DIR
// mean nothing there.
//
// Linux: a number names either a link "comN" in the per-user ports folder
// (KALVO_PORTS_DIR, else $XDG_CONFIG_HOME/kalvo/ports, else ~/.config/kalvo/ports) or one of
// the system's serial devices under a fixed numbering:
//   /dev/ttyS0..ttyS99    -> COM 1..100
//   /dev/ttyUSB0..ttyUSB99 -> COM 101..200
//   /dev/ttyACM0..ttyACM49 -> COM 201..250
// A link in the folder wins over a system device of the same number. KALVO_SYSTEM_PORTS=0
// leaves the system devices out (tests and demos use a private folder only).
#include <optional>
#include <string>
#include <vector>

namespace kalvo {

// COM numbers the program can use: 0 .. 250.
inline constexpr int kHighestComNumber = 250;

struct PortPath {
    int number = 0;
    std::string path;
};

class PortDirectory {
public:
    PortDirectory(std::string linksFolder, bool includeSystemPorts, std::string deviceFolder = "/dev");

    // Reads the environment once, at start-up.
    static PortDirectory FromEnvironment();

    // Ports present now, ascending by number. Links whose target is gone are left out.
    std::vector<PortPath> List() const;
    // Device path for a COM number, whether or not it exists right now.
    std::optional<std::string> PathOf(int number) const;

    const std::string& LinksFolder() const { return linksFolder_; }
    static std::string LinkName(int number) { return "com" + std::to_string(number); }
#ifndef _WIN32
    // COM number of a link name in the folder: exactly LinkName(n) of some n > 0, or nothing.
    static std::optional<int> LinkNumber(const std::string& name);

    // System device name for a COM number under the fixed numbering ("ttyUSB0" for 101).
    static std::optional<std::string> SystemDeviceName(int number);
    // COM number of a system device name (exactly SystemDeviceName of it), or nothing.
    static std::optional<int> SystemPortNumber(const std::string& name);
#endif

private:
    std::string linksFolder_;
    bool includeSystemPorts_;
    std::string deviceFolder_;
};

#ifdef _WIN32
// The data of every value under HARDWARE\DEVICEMAP\SERIALCOMM in the registry's order ("COM3",
// "CNCA0", ...); nothing when the key cannot be opened.
std::optional<std::vector<std::string>> SerialCommValues();
#endif

}  // namespace kalvo
