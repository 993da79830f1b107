#pragma once
// The --version text every executable prints, in the usual GNU form.
#include <string>
#include <string_view>

#include "i18n/captions.h"

namespace kalvo {

inline std::string GnuVersionText(std::string_view program) {
    return std::string(program) + " (Kalvo Explorer) " + ProgramVersionText() +
           "\n"
           "Copyright (C) 2026 the Kalvo Explorer developers.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

}  // namespace kalvo
