// Names found in the ports folder and under /dev, and the port-number texts of the window.
// Input: a name (up to the first NUL), then port-list entries of 8 bytes each from there on.
// Checks: a name maps to a COM number only when it is exactly that number's own name, so the
// list and the opening of a number agree; the port list compacts to unique, valid entries; the
// whole input, cut at NULs, read as the registry's serial-port values gives one entry per value
// taken, a number only for values beginning with "COM".
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/port_directory.h"
#include "platform/serial_port.h"

using kalvo::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kalvo;
    const char* text = reinterpret_cast<const char*>(data);
    std::size_t nameLength = ::strnlen(text, size);
    std::string name(text, nameLength);

    if (std::optional<int> number = PortDirectory::LinkNumber(name)) {
        Check(*number > 0);
        Check(PortDirectory::LinkName(*number) == name);
    }
    if (std::optional<int> number = PortDirectory::SystemPortNumber(name)) {
        std::optional<std::string> device = PortDirectory::SystemDeviceName(*number);
        Check(device && *device == name);
    }

    int parsed = ParsePortNumber(name);
    Check(parsed >= 0 && parsed <= 999999999);
    // The window's "COM n" texts read back as n.
    Check(ParsePortNumber("COM" + std::to_string(parsed)) == parsed);

    // Compaction is quadratic; 64 entries show all it does and keep each run short.
    std::vector<PortListEntry> entries;
    for (std::size_t at = nameLength + 1; at + 8 <= size && entries.size() < 64; at += 8) {
        PortListEntry entry;
        std::memcpy(&entry.port, data + at, 4);
        std::memcpy(&entry.state, data + at + 4, 4);
        entries.push_back(entry);
    }
    std::vector<PortListEntry> original = entries;
    int count = static_cast<int>(entries.size());
    CompactPortList(entries.data(), count);
    Check(count >= 0 && count <= static_cast<int>(original.size()));
    std::set<std::int32_t> seen;
    for (int i = 0; i < count; ++i) {
        Check(entries[static_cast<std::size_t>(i)].port != kEmptyPortEntry);
        Check(entries[static_cast<std::size_t>(i)].state == 0 || entries[static_cast<std::size_t>(i)].state == 1);
        Check(seen.insert(entries[static_cast<std::size_t>(i)].port).second);
    }
    for (const PortListEntry& entry : original)
        Check(entry.port == kEmptyPortEntry || seen.count(entry.port) == 1);
    std::string list = PortListText(entries.data(), count);
    Check(count == 0 ? list.empty() : static_cast<int>(std::count(list.begin(), list.end(), ',')) == count - 1);

    std::vector<std::string> values;
    for (std::size_t at = 0; at < size && values.size() < 64;) {
        std::size_t length = ::strnlen(text + at, size - at);
        values.emplace_back(text + at, length);
        at += length + 1;
    }
    const int capacity = size > 0 ? data[0] % 70 : 0;
    std::vector<PortListEntry> listed(static_cast<std::size_t>(capacity));
    int taken = capacity;
    PortListFromSerialComm(values, listed.data(), taken);
    Check(taken == std::min(capacity, static_cast<int>(values.size())));
    for (int k = 0; k < taken; ++k) {
        const std::string& value = values[static_cast<std::size_t>(k)];
        const PortListEntry& entry = listed[static_cast<std::size_t>(k)];
        bool com = value.size() >= 3 && (value[0] == 'C' || value[0] == 'c') && (value[1] == 'O' || value[1] == 'o') &&
                   (value[2] == 'M' || value[2] == 'm');
        Check(entry.state == 255);
        Check(com ? entry.port == ParsePortNumber(value) : entry.port == kEmptyPortEntry);
    }
    return 0;
}
