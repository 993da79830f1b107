#include "gui/program_config.h"

#include <QDir>

namespace kalvo {

namespace {
constexpr const char* kVerifyKey = "firmware/verify_after_writing";
}  // namespace

QString ProgramConfig::FilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QDir::homePath() + "/.config";
    return base + "/kalvo/kalvo.conf";
}

ProgramConfig::ProgramConfig() : settings_(FilePath(), QSettings::IniFormat) {}

bool ProgramConfig::VerifyAfterWriting() const { return settings_.value(kVerifyKey, false).toBool(); }

void ProgramConfig::SetVerifyAfterWriting(bool verify) {
    settings_.setValue(kVerifyKey, verify);
    settings_.sync();
}

}  // namespace kalvo
