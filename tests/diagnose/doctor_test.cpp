// kalvo-cli doctor over fake machines: each finding, a healthy setup and an empty one, compared
// with the whole printed report.
#include <gtest/gtest.h>

#include <sstream>

#include "diagnose/doctor.h"
#include "diagnose/fake_system.h"

namespace kalvo {
namespace {

using test::FakeSystem;

const FakeSystem::Usb kCh340{"1-1", "1a86", "7523", "", "USB Serial", "", "ttyUSB0", "ch341-uart", "ch341", 0660,
                             "usb-1a86_USB_Serial-if00-port0"};
const FakeSystem::Usb kCp2102{"1-2", "10c4", "ea60", "Silicon Labs", "CP2102 USB to UART Bridge Controller", "0001",
                              "ttyUSB1", "cp210x", "cp210x", 0660,
                              "usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0"};
const FakeSystem::Usb kStmAcm{"1-3", "0483", "5740", "STMicroelectronics", "STM32 Virtual ComPort", "3677385A3231",
                              "ttyACM0", "cdc_acm", "cdc_acm", 0660,
                              "usb-STMicroelectronics_STM32_Virtual_ComPort_3677385A3231-if00"};

const char kBrlttyRules[] =
    "# Device: 1A86:7523\n"
    "# Baum [NLS eReader Zoomax (20 cells)]\n"
    "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", GOTO=\"brltty_usb_run\"\n"
    "# Device: 10C4:EA60\n"
    "ENV{PRODUCT}==\"10c4/ea60/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"sk\", GOTO=\"brltty_usb_run\"\n";

struct DoctorCase {
    const char* name;
    void (*build)(FakeSystem&);
    bool member;  // this session has the node's group
    int status;
    const char* report;
};

const DoctorCase kCases[] = {
    {"UserNotInDialout",
     [](FakeSystem& fake) {
         fake.Groups("");
         fake.Adapter(kCh340);
     },
     false, 1,
     "Serial devices:\n"
     "  COM 101  /dev/ttyUSB0\n"
     "      USB 1a86:7523 (CH340), \"USB Serial\", driver ch341-uart, by-id usb-1a86_USB_Serial-if00-port0\n"
     "      you may not open it (mode 0660, group dialout; you are not a member)\n"
     "Services:\n"
     "  brltty: not installed\n"
     "  ModemManager: not installed\n"
     "Problems found: 1\n"
     "1. You may not open these ports: they belong to group dialout and alice is not a member.\n"
     "   COM 101 (/dev/ttyUSB0)\n"
     "   Fix:\n"
     "     sudo usermod -aG dialout alice\n"
     "   Then log out and back in: the groups are read at login.\n"},
    {"JoinedButNotLoggedInAgain",
     [](FakeSystem& fake) {
         fake.Groups("bob,alice");
         fake.Adapter(kCh340);
     },
     false, 1,
     "Serial devices:\n"
     "  COM 101  /dev/ttyUSB0\n"
     "      USB 1a86:7523 (CH340), \"USB Serial\", driver ch341-uart, by-id usb-1a86_USB_Serial-if00-port0\n"
     "      you may not open it yet (mode 0660, group dialout; you joined the group after this session began)\n"
     "Services:\n"
     "  brltty: not installed\n"
     "  ModemManager: not installed\n"
     "Problems found: 1\n"
     "1. alice is a member of group dialout, but this session began before joining it. Log out and back in, "
     "or start a shell that has it now:\n"
     "   Fix:\n"
     "     newgrp dialout\n"},
    {"BrlttyClaimsCh340AndCp210x",
     [](FakeSystem& fake) {
         fake.Groups("alice");
         FakeSystem::Usb held = kCh340;
         held.tty = "";
         held.ifaceDriver = "usbfs";
         fake.Adapter(held);
         fake.Adapter(kCp2102);
         fake.Process(812, "brltty");
         fake.Process(1, "systemd");
         fake.File("/lib/udev/rules.d/85-brltty.rules", kBrlttyRules);
         fake.File("/lib/systemd/system/brltty-udev.service", "[Unit]\n");
         fake.File("/lib/systemd/system/brltty.service", "[Unit]\n");
     },
     true, 1,
     "Serial devices:\n"
     "  COM 102  /dev/ttyUSB1\n"
     "      USB 10c4:ea60 (CP210x), \"Silicon Labs CP2102 USB to UART Bridge Controller\", serial 0001, driver "
     "cp210x, by-id usb-Silicon_Labs_CP2102_USB_to_UART_Bridge_Controller_0001-if00-port0\n"
     "      you may open it (mode 0660, group dialout)\n"
     "USB serial adapters without a serial device:\n"
     "  USB 1a86:7523 (CH340) \"USB Serial\", held by usbfs\n"
     "Services:\n"
     "  brltty: running (process 812); unit brltty.service; unit brltty-udev.service; udev rules "
     "/lib/udev/rules.d/85-brltty.rules\n"
     "  ModemManager: not installed\n"
     "Problems found: 1\n"
     "1. brltty takes these USB serial adapters for braille displays (now or when next plugged in):\n"
     "   COM 102 (/dev/ttyUSB1): USB 10c4:ea60 (CP210x) \"Silicon Labs CP2102 USB to UART Bridge Controller\"\n"
     "   USB 1a86:7523 (CH340) \"USB Serial\": no serial device, held by usbfs\n"
     "   Fix:\n"
     "     sudo systemctl mask --now brltty-udev.service brltty.service\n"
     "   Then unplug the adapter and plug it in again. Without a braille display, 'sudo apt-get remove "
     "brltty' does it for good.\n"},
    {"ModemManagerProbesTtyAcm",
     [](FakeSystem& fake) {
         fake.Groups("alice");
         fake.Adapter(kStmAcm);
         fake.Process(640, "ModemManager");
         fake.File("/lib/systemd/system/ModemManager.service", "[Unit]\n");
     },
     true, 1,
     "Serial devices:\n"
     "  COM 201  /dev/ttyACM0\n"
     "      USB 0483:5740, \"STMicroelectronics STM32 Virtual ComPort\", serial 3677385A3231, driver cdc_acm, "
     "by-id usb-STMicroelectronics_STM32_Virtual_ComPort_3677385A3231-if00\n"
     "      you may open it (mode 0660, group dialout)\n"
     "Services:\n"
     "  brltty: not installed\n"
     "  ModemManager: running (process 640); unit ModemManager.service\n"
     "Problems found: 1\n"
     "1. ModemManager is running and probes these devices as modems, which holds them for a few seconds "
     "after they appear and sends them modem commands:\n"
     "   COM 201 (/dev/ttyACM0): USB 0483:5740 \"STMicroelectronics STM32 Virtual ComPort\"\n"
     "   Fix:\n"
     "     echo 'ATTRS{idVendor}==\"0483\", ATTRS{idProduct}==\"5740\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo "
     "tee -a /etc/udev/rules.d/99-kalvo-modemmanager.rules\n"
     "     sudo udevadm control --reload-rules\n"
     "   Then unplug the device and plug it in again. Without a mobile-broadband modem, 'sudo systemctl "
     "disable --now ModemManager.service' does it for good.\n"},
    {"HealthySetup",
     [](FakeSystem& fake) {
         fake.Groups("alice");
         fake.Adapter(kCh340);
         fake.Adapter(kStmAcm);
         fake.Uart("ttyS0", 4, 0660);
         fake.Uart("ttyS1", 0, 0660);  // no UART behind it: not listed
         // brltty installed, its udev start masked; ModemManager installed, stopped; the ACM ignored.
         fake.File("/lib/udev/rules.d/85-brltty.rules", kBrlttyRules);
         fake.File("/lib/systemd/system/brltty-udev.service", "[Unit]\n");
         fake.Mask("/etc/systemd/system/brltty-udev.service");
         fake.Mask("/etc/systemd/system/brltty.service");
         fake.File("/lib/systemd/system/ModemManager.service", "[Unit]\n");
         fake.File("/etc/udev/rules.d/99-kalvo-modemmanager.rules",
                   "ATTRS{idVendor}==\"0483\", ATTRS{idProduct}==\"5740\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n");
         fake.Process(640, "ModemManager");
     },
     true, 0,
     "Serial devices:\n"
     "  COM 1  /dev/ttyS0\n"
     "      driver serial8250\n"
     "      you may open it (mode 0660, group dialout)\n"
     "  COM 101  /dev/ttyUSB0  (also COM 5 by your link)\n"
     "      USB 1a86:7523 (CH340), \"USB Serial\", driver ch341-uart, by-id usb-1a86_USB_Serial-if00-port0\n"
     "      you may open it (mode 0660, group dialout)\n"
     "  COM 201  /dev/ttyACM0\n"
     "      USB 0483:5740, \"STMicroelectronics STM32 Virtual ComPort\", serial 3677385A3231, driver cdc_acm, "
     "by-id usb-STMicroelectronics_STM32_Virtual_ComPort_3677385A3231-if00\n"
     "      you may open it (mode 0660, group dialout)\n"
     "Your port links:\n"
     "  COM 5  LINKS/com5 -> ROOT/dev/ttyUSB0\n"
     "Services:\n"
     "  brltty: not running; udev rules /lib/udev/rules.d/85-brltty.rules\n"
     "  ModemManager: running (process 640); unit ModemManager.service\n"
     "Note: brltty is installed but does not start for USB devices.\n"
     "No problems found.\n"},
    {"AdapterWithoutDriver",
     [](FakeSystem& fake) {
         fake.Groups("alice");
         FakeSystem::Usb bare = kCh340;
         bare.tty = "";
         bare.ifaceDriver = "";
         fake.Adapter(bare);
     },
     true, 1,
     "Serial devices:\n"
     "  none\n"
     "USB serial adapters without a serial device:\n"
     "  USB 1a86:7523 (CH340) \"USB Serial\", no driver\n"
     "Services:\n"
     "  brltty: not installed\n"
     "  ModemManager: not installed\n"
     "Problems found: 1\n"
     "1. USB 1a86:7523 (CH340) \"USB Serial\" is plugged in but has no serial device: its driver is not "
     "loaded.\n"
     "   Fix:\n"
     "     sudo modprobe ch341\n"
     "   Then unplug the adapter and plug it in again; 'sudo dmesg | tail -n 20' shows what the kernel saw.\n"},
    {"PortHeldByAnotherProgram",
     [](FakeSystem& fake) {
         fake.Groups("alice");
         fake.Adapter(kCh340);
         fake.Process(4321, "minicom");
         fake.RawLink("/proc/4321/fd/0", "/dev/pts/1");
         fake.RawLink("/proc/4321/fd/3", "/dev/ttyUSB0");
         fake.Folder("/proc/1/fd");  // not ours to look into: nothing there
     },
     true, 1,
     "Serial devices:\n"
     "  COM 101  /dev/ttyUSB0\n"
     "      USB 1a86:7523 (CH340), \"USB Serial\", driver ch341-uart, by-id usb-1a86_USB_Serial-if00-port0\n"
     "      you may open it (mode 0660, group dialout)\n"
     "Your port links:\n"
     "  COM 6  LINKS/com6 -> /dev/serial/by-id/usb-FTDI_FT232R_A10KX3-if00-port0 (gone)\n"
     "Services:\n"
     "  brltty: not installed\n"
     "  ModemManager: not installed\n"
     "Note: Your link COM 6 leads to /dev/serial/by-id/usb-FTDI_FT232R_A10KX3-if00-port0, which is not there: "
     "the device is unplugged or has another name now.\n"
     "Problems found: 1\n"
     "1. COM 101 (/dev/ttyUSB0) is open in another program, and a port serves one program at a time: minicom "
     "(process 4321).\n"
     "   Fix:\n"
     "     kill 4321\n"
     "   Or close the program yourself.\n"},
    {"NoSerialDevices", [](FakeSystem& fake) { fake.Groups("alice"); }, true, 1,
     "Serial devices:\n"
     "  none\n"
     "Services:\n"
     "  brltty: not installed\n"
     "  ModemManager: not installed\n"
     "Problems found: 1\n"
     "1. No serial device found. Plug the dosimeter's cable in; if it still does not appear, see what the "
     "kernel said when it was plugged in:\n"
     "   Fix:\n"
     "     sudo dmesg | tail -n 20\n"},
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class DoctorReportTest : public testing::TestWithParam<DoctorCase> {};

TEST_P(DoctorReportTest, PrintsTheFindingsAndTheirFixes) {
    const DoctorCase& c = GetParam();
    FakeSystem fake;
    c.build(fake);
    test::TempFolder links;
    if (std::string(c.name) == "HealthySetup")
        std::filesystem::create_symlink(fake.Real("/dev/ttyUSB0"), links.File("com5"));
    if (std::string(c.name) == "PortHeldByAnotherProgram")
        std::filesystem::create_symlink("/dev/serial/by-id/usb-FTDI_FT232R_A10KX3-if00-port0", links.File("com6"));
    UserAccount alice{"alice", 4242, {c.member ? fake.DialoutGid() : fake.DialoutGid() + 1}};
    DoctorReport report = Examine(SystemTree(fake.Root()), alice, links.Path());
    std::ostringstream out;
    EXPECT_EQ(PrintDoctorReport(report, out), c.status);
    std::string text = Replace(Replace(out.str(), links.Path(), "LINKS"), fake.Root(), "ROOT");
    EXPECT_EQ(text, c.report);
}

INSTANTIATE_TEST_SUITE_P(FakeMachines, DoctorReportTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<DoctorCase>& param) { return std::string(param.param.name); });

TEST(DoctorInRussian, TextsInRussianCommandsAndFactsAsTheyAre) {
    FakeSystem fake;
    fake.Groups("");
    fake.Adapter(kCh340);
    fake.Process(640, "ModemManager");
    test::TempFolder links;
    UserAccount alice{"alice", 4242, {fake.DialoutGid() + 1}};
    DoctorReport report = Examine(SystemTree(fake.Root()), alice, links.Path(), InterfaceLanguage::Russian);
    std::ostringstream out;
    EXPECT_EQ(PrintDoctorReport(report, out), 1);
    EXPECT_EQ(out.str(),
              "Последовательные порты:\n"
              "  COM 101  /dev/ttyUSB0\n"
              "      USB 1a86:7523 (CH340), \"USB Serial\", driver ch341-uart, by-id usb-1a86_USB_Serial-if00-port0\n"
              "      вам нельзя его открыть (режим 0660, группа dialout; вы не в группе)\n"
              "Службы:\n"
              "  brltty: не установлен\n"
              "  ModemManager: запущен (процесс 640)\n"
              "Найдено проблем: 1\n"
              "1. Вам нельзя открыть эти порты: они принадлежат группе dialout, а alice в неё не входит.\n"
              "   COM 101 (/dev/ttyUSB0)\n"
              "   Исправление:\n"
              "     sudo usermod -aG dialout alice\n"
              "   Затем выйдите из системы и войдите снова: группы читаются при входе.\n");
}

TEST(DoctorAccess, OwnerGroupOtherAndRoot) {
    const std::vector<GroupEntry> groups{{"dialout", 20, {"carol"}}, {"uucp", 14, {}}};
    struct Row {
        NodeInfo node;
        UserAccount user;
        AccessVerdict verdict;
        const char* group;
    } rows[] = {
        {{0660, 0, 20}, {"alice", 1000, {1000, 20}}, AccessVerdict::Allowed, "dialout"},
        {{0660, 0, 14}, {"alice", 1000, {1000}}, AccessVerdict::JoinGroup, "uucp"},  // Arch names it uucp
        {{0660, 0, 20}, {"carol", 1001, {1001}}, AccessVerdict::LoginAgain, "dialout"},
        {{0600, 0, 20}, {"alice", 1000, {1000, 20}}, AccessVerdict::ModeTooStrict, "dialout"},
        {{0600, 1000, 20}, {"alice", 1000, {1000}}, AccessVerdict::Allowed, "dialout"},
        {{0666, 0, 20}, {"alice", 1000, {1000}}, AccessVerdict::Allowed, "dialout"},
        {{0600, 0, 0}, {"root", 0, {0}}, AccessVerdict::Allowed, "0"},
        {{0640, 0, 99}, {"alice", 1000, {1000, 99}}, AccessVerdict::ModeTooStrict, "99"},  // group may only read
    };
    for (const Row& row : rows) {
        AccessCheck check = CheckAccess(row.node, row.user, groups);
        EXPECT_EQ(check.verdict, row.verdict) << row.user.name << " mode " << row.node.mode;
        EXPECT_EQ(check.group, row.group);
    }
}

}  // namespace
}  // namespace kalvo
