#include "app/status_style.h"

namespace kalvo {

PanelAppearance StatusAppearance(int style) {
    switch (style) {
    case 1: return {Rgb{0, 128, 0}, Rgb{255, 255, 255}, true};
    case 2: return {Rgb{255, 0, 0}, Rgb{255, 255, 0}, true};
    case 3: return {Rgb{255, 255, 0}, Rgb{0, 0, 255}, true};
    default: return {};
    }
}

PanelAppearance ConnectionAppearance(ConnectionKind kind) {
    switch (kind) {
    case ConnectionKind::Ok: return {Rgb{0, 255, 0}, std::nullopt, false};
    case ConnectionKind::Err: return {Rgb{255, 0, 0}, std::nullopt, false};
    case ConnectionKind::Nok: return {Rgb{255, 255, 255}, std::nullopt, false};
    }
    return {};
}

}  // namespace kalvo
