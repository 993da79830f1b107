#include "devsim/device_model.h"

namespace kalvo::devsim {

SimOptions SimOptions::ForModel(Model model) {
    SimOptions options;
    options.model = model;
    if (model == Model::R520) {
        // KALVO 51T ORA on a revision 4 board with a 256-byte page CPU.
        options.revision = 4;
        options.variant = 1;
        options.cpuCode = 5;
        options.mainVersion = 0x0C03;
        options.flashSize = 0x20000;
    }
    return options;
}

std::string_view ModelName(Model model) { return model == Model::R630 ? "r630" : "r520"; }

}  // namespace kalvo::devsim
