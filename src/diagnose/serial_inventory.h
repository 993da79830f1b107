#pragma once
// What the system knows of its serial devices: for each /dev/ttyS*, ttyUSB*, ttyACM* its COM
// number under our numbering, its /dev/serial/by-id name, the USB device behind it (ids,
// product text, serial number) and the node's owner and mode; and the USB serial adapters that
// are plugged in but have no serial device (another driver, such as brltty's, holds them).
#include <optional>
#include <string>
#include <vector>

#include "diagnose/system_tree.h"

namespace kalvo {

struct UsbFacts {
    std::string sysPath;    // "/sys/devices/pci0000:00/.../1-1"
    std::string vendorId;   // four lower-case hex digits
    std::string productId;
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string VidPid() const { return vendorId + ":" + productId; }
};

struct PortHolder {
    int pid = 0;
    std::string program;  // its comm
};

struct SerialDevice {
    std::string name;                 // "ttyUSB0"
    std::string path;                 // "/dev/ttyUSB0"
    std::optional<int> com;           // under the fixed numbering
    std::vector<int> linkedAs;        // COM numbers of the user's links to it
    std::string byId;                 // name in /dev/serial/by-id
    std::string driver;               // "ch341-uart", "cdc_acm", "serial8250"
    std::optional<UsbFacts> usb;
    std::optional<NodeInfo> node;
    std::vector<PortHolder> holders;  // processes that have it open (those we may look at)
};

struct UnboundAdapter {
    UsbFacts usb;
    std::string interfaceDriver;  // "usbfs" when a program holds it, "" when none
};

struct UserLink {
    int com = 0;
    std::string path;     // the link
    std::string target;   // where it leads (the link's own text when that is gone)
    bool gone = false;
    std::string device;   // "ttyUSB0" when it leads to one of ours
};

struct SerialInventory {
    std::vector<SerialDevice> devices;
    std::vector<UnboundAdapter> unbound;
    std::vector<UserLink> links;
};

// The chip of a well-known USB serial adapter ("CH340"), or "".
std::string AdapterChip(const std::string& vendorId, const std::string& productId);

// `linksFolder` is the user's ports folder (read as it is, not under the tree's root).
SerialInventory TakeInventory(const SystemTree& tree, const std::string& linksFolder);

// One line: by-id name, USB ids with the chip, product text, serial number, driver.
std::string DescribeDevice(const SerialDevice& device);

}  // namespace kalvo
