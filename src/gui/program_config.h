#pragma once
// The program's own configuration file, $XDG_CONFIG_HOME/kalvo/kalvo.conf (INI), for what we
// add beyond the two stored options of the registry key (verify after writing, ...).
//
// User-interface thread only.
#include <QSettings>
#include <QString>

namespace kalvo {

class ProgramConfig {
public:
    // The file's place: $XDG_CONFIG_HOME/kalvo/kalvo.conf, else ~/.config/kalvo/kalvo.conf.
    static QString FilePath();

    ProgramConfig();

    bool VerifyAfterWriting() const;
    // Written at once; QSettings replaces the file through a temporary one.
    void SetVerifyAfterWriting(bool verify);

private:
    QSettings settings_;
};

}  // namespace kalvo
