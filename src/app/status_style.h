#pragma once
// How the bottom-bar panels look in each state. Colours left empty are the system's window
// face and text colours.
#include <cstdint>
#include <optional>

#include "device/connection_manager.h"
#include "platform/ui_port.h"

namespace kalvo {

struct Rgb {
    std::uint8_t red, green, blue;
    bool operator==(const Rgb&) const = default;
};

struct PanelAppearance {
    std::optional<Rgb> background;
    std::optional<Rgb> text;
    bool bold = false;
};

// Styles 0..3 of the status text; any other value is taken as 0.
PanelAppearance StatusAppearance(int style);
inline PanelAppearance StatusAppearance(StatusStyle style) { return StatusAppearance(static_cast<int>(style)); }

// The connection panel: lime for OK, red for ERR, white for NOK.
PanelAppearance ConnectionAppearance(ConnectionKind kind);

}  // namespace kalvo
