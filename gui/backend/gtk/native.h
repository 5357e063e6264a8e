// What the module's other parts (menus, dialogs, the camera) reach of a
// face's native widgets. A window face is a GtkWindow holding a vertical
// GtkBox whose last child is the GtkFixed that places the window's faces;
// a menu bar goes at the start of that box.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

namespace kiv::gtk_faces {

// The face's own widget (what its parent places), or null.
GtkWidget* native(std::int32_t widget);
// The GtkWindow of the top-level window holding the widget, or null.
GtkWidget* gtk_window_of(std::int32_t widget);
// The window's vertical box (menu bar first, then the fixed), or null.
GtkWidget* window_box_of(std::int32_t widget);
// The GtkFixed that places the faces of the window holding the widget, or null.
GtkWidget* window_fixed_of(std::int32_t widget);
// The widget index of the face whose native widget holds w (w itself or one
// of its parents), 0 when none.
std::int32_t widget_of(GtkWidget* w);

}  // namespace kiv::gtk_faces
