// What the module's windows need of their menu bars.
#pragma once

#include <cstdint>

namespace kiv::menus_gtk {

// The height (GTK units) the menu bar of the window widget adds above its
// faces; 0 when it has none.
std::int32_t bar_height(std::int32_t window);

}  // namespace kiv::menus_gtk
