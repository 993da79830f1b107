#pragma once
// The program's own settings, kept apart from the two stored window options: an INI file,
// $XDG_CONFIG_HOME/kalvo/kalvo.conf (else ~/.config/kalvo/kalvo.conf); on Windows
// %APPDATA%\kalvo\kalvo.conf. Read only; a missing or
// unreadable file is the same as an empty one.
//
// Format: "key = value" lines; "[section]" headers; lines starting with '#' or ';' are comments.
// A value may be written in double quotes to keep leading or trailing blanks. Keys before any
// section and those under [General] (where QSettings puts them) are top-level keys.
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kalvo {

std::string ConfigFilePath();

class ConfigFile {
public:
    static ConfigFile Load(const std::string& path);
    static ConfigFile Parse(std::string_view text);

    // A top-level key, or "section/key".
    std::optional<std::string> Value(std::string_view key) const;

private:
    std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace kalvo
