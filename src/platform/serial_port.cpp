// Platform-independent parts of the serial port: port numbers and the port list.
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

void SerialPort::Log(const std::string& line) const {
    if (log_) log_(line);
}

bool SerialPort::ProbePort(int number) const {
    std::optional<std::string> path = directory_.PathOf(number);
    return path && CanOpen(*path);
}

void SerialPort::EnumeratePorts(PortListEntry* entries, int& count, bool checkBusy) const {
    std::vector<PortPath> ports = directory_.List();
    int written = 0;
    for (const PortPath& port : ports) {
        if (written >= count) break;
        std::int32_t state = checkBusy ? (CanOpen(port.path) ? 0 : 1) : 255;
        entries[written++] = {port.number, state};
    }
    count = written;
}

}  // namespace kalvo
