#pragma once
// What the device shows on its screen when the PC tells it to: the PC-connection text and the
// markup texts of the data-image write, kept in order for tests and, if asked, in a file.
#include <string>
#include <string_view>
#include <vector>

#include "devsim/trace.h"

namespace kalvo::devsim {

class ScreenLog {
public:
    // Lines go to the file as they come; false (with errno) when it cannot be created.
    bool Open(const std::string& path) { return file_.Open(path); }
    // kind: PC_CONNECTION or PC_PRINT.
    void Record(std::string_view kind, const std::string& text);
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    Trace file_;
    std::vector<std::string> lines_;
};

// Up to the first NUL; bytes outside printable ASCII as \xNN.
std::string ScreenText(std::span<const std::uint8_t> bytes);

}  // namespace kalvo::devsim
