#pragma once
// A fake machine's /sys, /dev, /proc and /etc in a private folder, laid out as the kernel does
// (relative links, so that they resolve inside the folder).
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_folder.h"

namespace kalvo::test {

class FakeSystem {
public:
    const std::string& Root() const { return folder_.Path(); }
    std::string Real(const std::string& path) const { return Root() + path; }

    void File(const std::string& path, const std::string& text, unsigned mode = 0644) {
        std::filesystem::create_directories(std::filesystem::path(Real(path)).parent_path());
        std::ofstream(Real(path), std::ios::binary) << text;
        ::chmod(Real(path).c_str(), mode);
    }
    void Folder(const std::string& path) { std::filesystem::create_directories(Real(path)); }
    // `target` is a path of the fake machine; the link is written relative, as sysfs has it.
    void Link(const std::string& path, const std::string& target) {
        std::filesystem::path from(path);
        std::error_code ec;
        if (std::filesystem::symlink_status(Real(path), ec).type() == std::filesystem::file_type::symlink) return;
        std::filesystem::create_directories(Real(from.parent_path().string()));
        std::filesystem::create_symlink(std::filesystem::path(target).lexically_relative(from.parent_path()), Real(path));
    }
    // A link with this very text, as /proc's fd links and `systemctl mask` (to /dev/null) have.
    void RawLink(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(Real(path)).parent_path());
        std::filesystem::create_symlink(text, Real(path));
    }
    void Mask(const std::string& path) { RawLink(path, "/dev/null"); }
    void Process(int pid, const std::string& comm) { File("/proc/" + std::to_string(pid) + "/comm", comm + "\n"); }
    // Group `name` owns the files made here (our own group), with these members.
    void Groups(const std::string& members) {
        struct stat info {};
        ::stat(Root().c_str(), &info);
        dialoutGid_ = info.st_gid;
        File("/etc/group", "root:x:0:\nkalvoother:x:" + std::to_string(dialoutGid_ + 1) + ":\ndialout:x:" +
                               std::to_string(dialoutGid_) + ":" + members + "\n");
    }
    unsigned DialoutGid() const { return dialoutGid_; }

    struct Usb {
        std::string port;  // "1-1"
        std::string vendor, product, manufacturer, text, serial;
        std::string tty;         // "ttyUSB0", "ttyACM0" or "" for none
        std::string ttyDriver;   // "ch341-uart", "cdc_acm"
        std::string ifaceDriver; // "ch341", "cdc_acm", "usbfs" or ""
        unsigned mode = 0660;
        std::string byId;
    };
    void Adapter(const Usb& usb) {
        const std::string device = "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + usb.port;
        File(device + "/idVendor", usb.vendor + "\n");
        File(device + "/idProduct", usb.product + "\n");
        if (!usb.manufacturer.empty()) File(device + "/manufacturer", usb.manufacturer + "\n");
        if (!usb.text.empty()) File(device + "/product", usb.text + "\n");
        if (!usb.serial.empty()) File(device + "/serial", usb.serial + "\n");
        Link("/sys/bus/usb/devices/" + usb.port, device);
        const std::string iface = device + "/" + usb.port + ":1.0";
        Folder(iface);
        Link("/sys/bus/usb/devices/" + usb.port + ":1.0", iface);
        if (!usb.ifaceDriver.empty()) {
            Folder("/sys/bus/usb/drivers/" + usb.ifaceDriver);
            Link(iface + "/driver", "/sys/bus/usb/drivers/" + usb.ifaceDriver);
        }
        if (usb.tty.empty()) return;
        const bool acm = usb.tty.rfind("ttyACM", 0) == 0;
        // ttyUSB hangs under a usb-serial port device, ttyACM under the interface itself.
        const std::string portDevice = acm ? iface : iface + "/" + usb.tty;
        const std::string ttyDevice = portDevice + "/tty/" + usb.tty;
        Folder(ttyDevice);
        if (!acm) {
            Folder("/sys/bus/usb-serial/drivers/" + usb.ttyDriver);
            Link(portDevice + "/driver", "/sys/bus/usb-serial/drivers/" + usb.ttyDriver);
        }
        Link(ttyDevice + "/device", portDevice);
        Link("/sys/class/tty/" + usb.tty, ttyDevice);
        File("/dev/" + usb.tty, "", usb.mode);
        if (!usb.byId.empty()) Link("/dev/serial/by-id/" + usb.byId, "/dev/" + usb.tty);
    }
    // A built-in UART; type 0 means the driver found none behind the node.
    void Uart(const std::string& tty, int type, unsigned mode) {
        const std::string device = "/sys/devices/platform/serial8250/tty/" + tty;
        File(device + "/type", std::to_string(type) + "\n");
        Folder("/sys/bus/platform/drivers/serial8250");
        Link("/sys/devices/platform/serial8250/driver", "/sys/bus/platform/drivers/serial8250");
        Link(device + "/device", "/sys/devices/platform/serial8250");
        Link("/sys/class/tty/" + tty, device);
        File("/dev/" + tty, "", mode);
    }

private:
    TempFolder folder_;
    unsigned dialoutGid_ = 0;
};

}  // namespace kalvo::test
