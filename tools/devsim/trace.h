#pragma once
// Traffic trace for tests and for people: one line per request ("> ch1 01 00 ..."), per answer
// ("< ch1 41 00 ...") and per notable event ("! ..."). Each line goes out with one write, so a
// reader that follows the file while the simulator runs never sees half a line.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kalvo::devsim {

class Trace {
public:
    Trace() = default;  // traces nothing
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // "-" traces to standard error. False (with errno) when the file cannot be created.
    bool Open(const std::string& path);
    bool Enabled() const { return fd_ >= 0; }

    void Request(int channel, std::span<const std::uint8_t> payload);
    void Answer(int channel, std::span<const std::uint8_t> payload);
    void Note(std::string_view text);
    // A line as it is, for logs other than the traffic trace.
    void Line(std::string_view text);

private:
    void WriteLine(std::string line);

    int fd_ = -1;
    bool ownsFd_ = false;
};

// "01 00 56": upper-case, one space between bytes.
std::string HexBytes(std::span<const std::uint8_t> bytes);

}  // namespace kalvo::devsim
