#pragma once
// kalvo-cli --upload: at exit the run's report log is appended to the device's report file on
// the update server, with the same folders, attempts and log lines as the window's shutdown.
#include <ostream>

#include "app/context.h"

namespace kalvo {

// False, with the reason on `err`, when no server is set or the report did not get there.
bool UploadRunReport(AppContext& context, std::ostream& err);

}  // namespace kalvo
