#pragma once
// kalvo-cli archive: list the devices of the history archive, write a device's CSV, print the
// bars of a period, import a CSV file the program saved.
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "app/context.h"
#include "cli/console_ui_port.h"

namespace kalvo {

struct CliOptions;

// The words after "archive"; false with the reason on `err`.
bool ParseArchiveArguments(const std::vector<std::string_view>& args, CliOptions& options, std::ostream& err);

int RunArchive(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
               std::ostream& err);

// "YYYY-MM-DD hh:mm:ss" of device seconds (the form --at and --from take).
std::string ArchiveTimeText(std::uint32_t seconds);
// 123-45678: eight upper-case hexadecimal digits with "-" after the third, as the device's
// serial number is written.
bool IsSerialText(std::string_view text);

}  // namespace kalvo
