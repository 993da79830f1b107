#pragma once
// Every user-visible text is a Russian/English pair, picked when it is shown.
#include <optional>
#include <string>
#include <string_view>

namespace kalvo {

enum class InterfaceLanguage { Russian, English };

inline std::string PickText(InterfaceLanguage language, std::string_view russian, std::string_view english) {
    return std::string(language == InterfaceLanguage::Russian ? russian : english);
}

// "ru" / "en" as the command line spells them.
inline std::optional<InterfaceLanguage> ParseLanguage(std::string_view code) {
    if (code == "ru") return InterfaceLanguage::Russian;
    if (code == "en") return InterfaceLanguage::English;
    return std::nullopt;
}

}  // namespace kalvo
