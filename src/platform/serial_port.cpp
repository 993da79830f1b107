// Platform-independent parts of the serial port: port numbers and the port list.
#include <algorithm>
#include <cctype>

#include "platform/serial_port.h"

namespace kalvo {

int ParsePortNumber(const std::string& text) {
    int i = static_cast<int>(text.size()) - 1;
    while (i >= 0 && !std::isdigit(static_cast<unsigned char>(text[static_cast<std::size_t>(i)]))) --i;
    long value = 0;
    long scale = 1;
    while (i >= 0 && std::isdigit(static_cast<unsigned char>(text[static_cast<std::size_t>(i)]))) {
        if (scale <= 100000000) value += (text[static_cast<std::size_t>(i)] - '0') * scale;
        scale *= 10;
        if (scale > 1000000000) scale = 1000000000;
        --i;
    }
    return static_cast<int>(value);
}

void CompactPortList(PortListEntry* entries, int& count) {
    int out = 0;
    for (int i = 0; i < count; ++i) {
        if (entries[i].port == kEmptyPortEntry) continue;
        PortListEntry entry{entries[i].port, entries[i].state == 0 ? 0 : 1};
        for (int j = i + 1; j < count; ++j)
            if (entries[j].port == entry.port) entries[j].port = kEmptyPortEntry;
        entries[out++] = entry;
    }
    count = out;
}

std::string PortListText(const PortListEntry* entries, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i) text += ',';
        text += std::to_string(entries[i].port);
    }
    return text;
}

void PortListFromSerialComm(const std::vector<std::string>& values, PortListEntry* entries, int& count,
                            const std::function<bool(const std::string& name)>& canOpen) {
    int taken = std::min(count, static_cast<int>(values.size()));
    for (int k = 0; k < taken; ++k) {
        const std::string& data = values[static_cast<std::size_t>(k)];
        bool com = data.size() >= 3;
        for (std::size_t i = 0; com && i < 3; ++i)
            com = std::toupper(static_cast<unsigned char>(data[i])) == "COM"[i];
        if (!com) continue;
        std::int32_t state = canOpen ? (canOpen(data) ? 0 : 1) : 255;
        entries[k] = {ParsePortNumber(data), state};
    }
    count = std::max(taken, 0);
}

void SerialPort::Log(const std::string& line) const {
    if (log_) log_(line);
}

bool SerialPort::ProbePort(int number) const {
    std::optional<std::string> path = directory_.PathOf(number);
    return path && CanOpen(*path);
}

}  // namespace kalvo
