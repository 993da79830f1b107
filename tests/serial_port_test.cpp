#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/serial_port.h"
#include "support/pty_peer.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

using test::Bytes;
using Lines = std::vector<std::string>;

// Counts received bytes; `closed` lets the test catch a handler running after Close.
class CountingPort : public SerialPort {
public:
    using SerialPort::SerialPort;
    ~CountingPort() override { Close(); }

    std::atomic<std::size_t> received{0};
    std::atomic<bool> closed{false};
    std::atomic<bool> lateCall{false};

protected:
    void OnReceive(std::size_t available) override {
        if (closed) lateCall = true;
        std::uint8_t buffer[1000];
        received += Read(buffer, std::min<std::size_t>(available, sizeof buffer));
    }
};

class SerialPortTest : public ::testing::Test {
protected:
    SerialPortTest() : directory(folder.Path(), false) {
        port.SetLogCallback([this](const std::string& line) {
            std::lock_guard lock(logMutex);
            log.push_back(line);
        });
    }
    Lines Log() {
        std::lock_guard lock(logMutex);
        return log;
    }

    // The port logs while it is destroyed, so it goes before the log.
    std::mutex logMutex;
    Lines log;
    test::TempFolder folder;
    PortDirectory directory;
    CountingPort port{directory};
};

TEST_F(SerialPortTest, OpenAndCloseWriteTheirLines) {
    test::PtyPeer peer(folder.Path(), 7);
    port.SetPortNumber(7);
    EXPECT_TRUE(port.Open(230400));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Close());  // nothing open: no line
    EXPECT_EQ(Log(), (Lines{"Open COM 7 : OK", "Close COM 7 : OK"}));
}

TEST_F(SerialPortTest, PortZeroAndMissingPorts) {
    port.SetPortNumber(0);
    EXPECT_FALSE(port.Open(230400));
    EXPECT_TRUE(Log().empty());

    port.SetPortNumber(9);
    EXPECT_FALSE(port.Open(230400));
    EXPECT_EQ(Log(), (Lines{"Open COM 9 : Error"}));
}

TEST_F(SerialPortTest, APortHeldElsewhereCannotBeOpened) {
    test::PtyPeer peer(folder.Path(), 3);
    CountingPort other(directory);
    other.SetPortNumber(3);
    ASSERT_TRUE(other.Open(230400));
    EXPECT_FALSE(port.CanOpen(peer.SlavePath()));
    port.SetPortNumber(3);
    EXPECT_FALSE(port.Open(230400));
    EXPECT_EQ(Log(), (Lines{"Open COM 3 : Error"}));
    other.Close();
    EXPECT_TRUE(port.CanOpen(peer.SlavePath()));
    EXPECT_TRUE(port.Open(230400));
}

TEST_F(SerialPortTest, OpeningAnotherPortClosesTheFirstUnderItsOwnNumber) {
    test::PtyPeer first(folder.Path(), 4);
    test::PtyPeer second(folder.Path(), 7);
    port.SetPortNumber(4);
    ASSERT_TRUE(port.Open(230400));
    port.SetPortNumber(7);
    ASSERT_TRUE(port.Open(230400));
    EXPECT_EQ(Log(), (Lines{"Open COM 4 : OK", "Close COM 4 : OK", "Open COM 7 : OK"}));
}

TEST_F(SerialPortTest, NotATerminalIsAnError) {
    std::ofstream(folder.File("plain")) << "x";
    std::filesystem::create_symlink(folder.File("plain"), folder.File("com5"));
    port.SetPortNumber(5);
    EXPECT_FALSE(port.Open(230400));
    EXPECT_EQ(Log(), (Lines{"Open COM 5 : Error"}));
}

TEST_F(SerialPortTest, BytesArriveBothWaysAndTheReaderStopsAtClose) {
    test::PtyPeer peer(folder.Path(), 2);
    port.SetPortNumber(2);
    ASSERT_TRUE(port.Open(230400));
    Bytes request{1, 2, 3, 0xC0, 0xFF};
    EXPECT_EQ(port.Write(request.data(), request.size()), request.size());
    std::uint8_t got[5] = {};
    std::size_t n = 0;
    while (n < sizeof got) {
        pollfd pfd{peer.MasterFd(), POLLIN, 0};
        ASSERT_GT(::poll(&pfd, 1, 2000), 0);
        n += static_cast<std::size_t>(::read(peer.MasterFd(), got + n, sizeof got - n));
    }
    EXPECT_EQ(Bytes(got, got + 5), request);

    // Keep the line busy while closing: no handler may run once Close has returned.
    for (int round = 0; round < 20; ++round) {
        peer.Write(Bytes(200, 0x55));
        ASSERT_TRUE(port.Close());
        port.closed = true;
        peer.Write(Bytes(200, 0x55));
        port.closed = false;
        ASSERT_TRUE(port.Open(230400));
    }
    port.Close();
    port.closed = true;
    EXPECT_FALSE(port.lateCall);
    EXPECT_EQ(port.Write(request.data(), request.size()), 0u);
}

TEST_F(SerialPortTest, AVanishedDeviceLeavesTheReaderIdleUntilClose) {
    auto peer = std::make_unique<test::PtyPeer>(folder.Path(), 6);
    port.SetPortNumber(6);
    ASSERT_TRUE(port.Open(230400));
    peer.reset();  // master gone: the port hangs up
    Bytes request{1, 2, 3};
    port.Write(request.data(), request.size());
    EXPECT_TRUE(port.Close());
}

TEST(PortList, NumbersAreParsedFromTheLastDigits) {
    EXPECT_EQ(ParsePortNumber("COM12"), 12);
    EXPECT_EQ(ParsePortNumber("com3"), 3);
    EXPECT_EQ(ParsePortNumber("COM7x"), 7);
    EXPECT_EQ(ParsePortNumber("COM"), 0);
    EXPECT_EQ(ParsePortNumber(""), 0);
}

TEST(PortList, CompactionDropsEmptiesAndRepeatsAndNormalisesStates) {
    PortListEntry entries[] = {{3, 255}, {255, 0}, {5, 1}, {3, 0}, {9, 0}, {5, 0}, {1000, 255}};
    int count = 7;
    CompactPortList(entries, count);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(entries[0].port, 3);
    EXPECT_EQ(entries[0].state, 1);
    EXPECT_EQ(entries[1].port, 5);
    EXPECT_EQ(entries[1].state, 1);
    EXPECT_EQ(entries[2].port, 9);
    EXPECT_EQ(entries[2].state, 0);
    EXPECT_EQ(entries[3].port, 1000);
    EXPECT_EQ(PortListText(entries, count), "3,5,9,1000");
    EXPECT_EQ(PortListText(entries, 0), "");
}

TEST(PortDirectory, LinksAndTheFixedNumbering) {
    test::TempFolder folder;
    test::PtyPeer a(folder.Path(), 12);
    test::PtyPeer b(folder.Path(), 4);
    std::filesystem::create_symlink("/nonexistent/tty", folder.File("com8"));  // stale
    std::ofstream(folder.File("notes.txt")) << "x";

    PortDirectory directory(folder.Path(), false);
    auto list = directory.List();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].number, 4);
    EXPECT_EQ(list[1].number, 12);
    EXPECT_EQ(list[1].path, folder.File("com12"));

    CountingPort port(directory);
    PortListEntry entries[3];
    int count = 1;  // capacity limits the list
    port.EnumeratePorts(entries, count, true);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(entries[0].port, 4);
    EXPECT_EQ(entries[0].state, 0);

    EXPECT_EQ(PortDirectory::SystemDeviceName(1), "ttyS0");
    EXPECT_EQ(PortDirectory::SystemDeviceName(101), "ttyUSB0");
    EXPECT_EQ(PortDirectory::SystemDeviceName(250), "ttyACM49");
    EXPECT_EQ(PortDirectory::SystemDeviceName(251), std::nullopt);
    EXPECT_EQ(PortDirectory::SystemPortNumber("ttyUSB3"), 104);
    EXPECT_EQ(PortDirectory::SystemPortNumber("ttyACM0"), 201);
    EXPECT_EQ(PortDirectory::SystemPortNumber("ttyACM50"), std::nullopt);
    EXPECT_EQ(PortDirectory::SystemPortNumber("ttyprintk"), std::nullopt);

    PortDirectory withSystem(folder.Path(), true, folder.Path());
    EXPECT_EQ(withSystem.PathOf(102), folder.Path() + "/ttyUSB1");
    EXPECT_EQ(withSystem.PathOf(12), folder.File("com12"));  // a link wins
    EXPECT_EQ(directory.PathOf(102), std::nullopt);
}

// A name is listed under a number only when it is that number's own name: "com07" or "ttyS01"
// were listed as COM 7 and COM 2 while opening those numbers looked for "com7" and "ttyS1".
TEST(PortDirectory, OnlyEachNumbersOwnNameCounts) {
    const std::pair<const char*, std::optional<int>> links[] = {
        {"com7", 7}, {"com250", 250}, {"com999999", 999999}, {"com07", std::nullopt}, {"com0", std::nullopt},
        {"com00", std::nullopt}, {"com", std::nullopt}, {"co", std::nullopt}, {"", std::nullopt},
        {"COM7", std::nullopt}, {"com7x", std::nullopt}, {"com+7", std::nullopt}, {"com-7", std::nullopt},
        {"com 7", std::nullopt}, {"com1000000", std::nullopt}, {"com\xD9\xA3", std::nullopt},
    };
    for (const auto& [name, number] : links) EXPECT_EQ(PortDirectory::LinkNumber(name), number) << name;

    const std::pair<const char*, std::optional<int>> devices[] = {
        {"ttyS0", 1}, {"ttyS99", 100}, {"ttyUSB0", 101}, {"ttyACM49", 250}, {"ttyS01", std::nullopt},
        {"ttyS00", std::nullopt}, {"ttyUSB007", std::nullopt}, {"ttyS100", std::nullopt}, {"ttyS", std::nullopt},
        {"ttyS+1", std::nullopt}, {"ttyS 1", std::nullopt}, {"ttyS1\xB9", std::nullopt}, {"ttyS\xB9", std::nullopt},
        {"ttyACM0000", std::nullopt},
    };
    for (const auto& [name, number] : devices) {
        EXPECT_EQ(PortDirectory::SystemPortNumber(name), number) << name;
        if (number) {
            EXPECT_EQ(PortDirectory::SystemDeviceName(*number), name);
        }
    }

    test::TempFolder folder;
    test::PtyPeer peer(folder.Path(), 3);
    std::filesystem::create_symlink(folder.File("com3"), folder.File("com03"));
    std::ofstream(folder.File("ttyUSB01")) << "x";
    std::ofstream(folder.File("ttyUSB2")) << "x";
    PortDirectory directory(folder.Path(), true, folder.Path());
    auto list = directory.List();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].number, 3);
    EXPECT_EQ(list[0].path, folder.File("com3"));
    EXPECT_EQ(list[1].number, 103);
    EXPECT_EQ(list[1].path, folder.Path() + "/ttyUSB2");
}

}  // namespace
}  // namespace kalvo
