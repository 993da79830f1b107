#pragma once
// kalvo-cli --upload: at exit the run's report log is appended to the device's report file on
// the update server, with the same folders, attempts and log lines as the window's shutdown.
#include <ostream>

#include "app/context.h"

namespace kalvo {

// Before anything is connected: false, with what is wrong on `err`, when the configured server
// address is not one (a server that is not set at all is said at exit, after the command ran).
bool CheckUploadServer(const AppContext& context, std::ostream& err);

// False, with the reason on `err`, when no server is set or the report did not get there. Then,
// with `keepReport`, the report file stays in its temporary folder and `err` names it.
bool UploadRunReport(AppContext& context, bool keepReport, std::ostream& err);

}  // namespace kalvo
