#include "platform/config_file.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kalvo {

namespace {

std::string_view Trim(std::string_view text) {
    const char* blanks = " \t\r";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string ConfigFilePath() {
#ifdef _WIN32
    // %APPDATA%\kalvo\kalvo.conf: the roaming profile, beside other programs' settings.
    if (const char* appData = std::getenv("APPDATA"); appData && *appData)
        return std::string(appData) + "\\kalvo\\kalvo.conf";
    return {};
#endif
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/kalvo/kalvo.conf";
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.config/kalvo/kalvo.conf";
    return {};
}

ConfigFile ConfigFile::Load(const std::string& path) {
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return Parse(text.str());
}

ConfigFile ConfigFile::Parse(std::string_view text) {
    ConfigFile config;
    std::string section;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']') continue;
            section = Trim(line.substr(1, line.size() - 2));
            if (section == "General") section.clear();
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view key = Trim(line.substr(0, equals));
        std::string_view value = Trim(line.substr(equals + 1));
        if (key.empty()) continue;
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        std::string name = section.empty() ? std::string(key) : section + "/" + std::string(key);
        config.values_[name] = std::string(value);
    }
    return config;
}

std::optional<std::string> ConfigFile::Value(std::string_view key) const {
    auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

}  // namespace kalvo
