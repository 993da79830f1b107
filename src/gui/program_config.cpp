#include "gui/program_config.h"

#include <QDir>

#include "platform/config_file.h"

namespace kalvo {

namespace {
constexpr const char* kVerifyKey = "firmware/verify_after_writing";
}  // namespace

// The same file the core reads its entries from (update server, CA file).
QString ProgramConfig::FilePath() {
    const std::string path = ConfigFilePath();
    return path.empty() ? QDir::homePath() + "/.config/kalvo/kalvo.conf" : QString::fromStdString(path);
}

ProgramConfig::ProgramConfig() : settings_(FilePath(), QSettings::IniFormat) {}

// On unless the user turned it off: a damaged image must not pass for an update.
bool ProgramConfig::VerifyAfterWriting() const { return settings_.value(kVerifyKey, true).toBool(); }

void ProgramConfig::SetVerifyAfterWriting(bool verify) {
    settings_.setValue(kVerifyKey, verify);
    settings_.sync();
}

}  // namespace kalvo
