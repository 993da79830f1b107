// COM numbers on Windows: \\.\COMn, and the ports the registry lists.
#include "platform/port_directory.h"

#include <windows.h>

#include "platform/serial_port.h"
#include "platform/win32_text.h"

namespace kalvo {

PortDirectory::PortDirectory(std::string linksFolder, bool includeSystemPorts, std::string deviceFolder)
    : linksFolder_(std::move(linksFolder)),
      includeSystemPorts_(includeSystemPorts),
      deviceFolder_(std::move(deviceFolder)) {}

// Nothing to read: Windows keeps the list itself.
PortDirectory PortDirectory::FromEnvironment() { return PortDirectory({}, true, {}); }

std::optional<std::vector<std::string>> SerialCommValues() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    DWORD count = 0, longestName = 0, longestData = 0;
    std::vector<std::string> values;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName,
                           &longestData, nullptr, nullptr) == ERROR_SUCCESS) {
        std::wstring name(longestName + 1, L'\0');
        std::vector<BYTE> data(longestData + sizeof(wchar_t));
        for (DWORD k = 0; k < count; ++k) {
            DWORD nameLength = longestName + 1;
            DWORD dataLength = static_cast<DWORD>(data.size() - sizeof(wchar_t));
            DWORD type = 0;
            std::fill(data.begin(), data.end(), BYTE{0});
            LONG status = ::RegEnumValueW(key, k, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
            if (status == ERROR_NO_MORE_ITEMS) break;
            // A value that cannot be read keeps its place, empty, so the indexes stay the registry's.
            std::wstring text;
            if (status == ERROR_SUCCESS && type == REG_SZ) {
                text.assign(reinterpret_cast<const wchar_t*>(data.data()), dataLength / sizeof(wchar_t));
                while (!text.empty() && text.back() == L'\0') text.pop_back();
            }
            values.push_back(Narrow(text));
        }
    }
    ::RegCloseKey(key);
    return values;
}

std::vector<PortPath> PortDirectory::List() const {
    std::vector<PortPath> list;
    std::optional<std::vector<std::string>> values = SerialCommValues();
    if (!values) return list;
    std::vector<PortListEntry> entries(values->size());
    int count = static_cast<int>(entries.size());
    PortListFromSerialComm(*values, entries.data(), count);
    CompactPortList(entries.data(), count);
    for (int i = 0; i < count; ++i) {
        int number = entries[static_cast<std::size_t>(i)].port;
        if (number > 0) list.push_back({number, "\\\\.\\COM" + std::to_string(number)});
    }
    return list;
}

std::optional<std::string> PortDirectory::PathOf(int number) const {
    if (number <= 0) return std::nullopt;
    return "\\\\.\\COM" + std::to_string(number);
}

}  // namespace kalvo
