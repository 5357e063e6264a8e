// The font requester: GTK's font chooser in the toolkit module, which the
// program's half of the back end finds by name (the toolkit started).
#pragma once

#include <cstdint>

namespace kiv::font_chooser {

// The font the dialog starts from, and the one chosen.
struct Font {
    char name[256] = {};   // family, UTF-8
    std::int32_t points = 0;
    bool bold = false;
    bool italic = false;
};

// Shows the chooser (only fixed-pitch families with mono) starting from
// start; true with the chosen font in chosen when the user confirms:
//   bool kiv_gui_choose_font(const Font* start, bool mono, Font* chosen)
inline constexpr const char* entry = "kiv_gui_choose_font";
using Entry = bool (*)(const Font* start, bool mono, Font* chosen);

}  // namespace kiv::font_chooser
