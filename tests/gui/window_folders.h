#pragma once
// Private option and runtime folders for a window under test, with the stored options given.
#include <QSettings>
#include <filesystem>
#include <optional>

#include "support/temp_folder.h"

namespace kalvo::test {

inline void PrepareWindowFolders(const TempFolder& folder, std::optional<int> language, std::optional<int> page) {
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(folder.File("config")));
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder.File("runtime")));
    // Downloads go into the archive in the data folder.
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(folder.File("data")));
    // A window that closes must not send its report to a server of the developer's.
    qunsetenv("KALVO_UPDATE_SERVER");
    std::filesystem::create_directories(folder.File("runtime"));
    // As a real runtime folder is; Qt ignores one that others may read.
    std::filesystem::permissions(folder.File("runtime"), std::filesystem::perms::owner_all);
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KALVO", "TRV8");
    settings.clear();
    if (language) settings.setValue("MANAGER/OPTIONS/LANGUAGE", *language);
    if (page) settings.setValue("MANAGER/OPTIONS/PAGENUM", *page);
}

}  // namespace kalvo::test
