// The desktop's caret blink time for the console's caret, from GtkSettings.
// Part of the toolkit module; the program finds it by name.
#include <gtk/gtk.h>

#include <cstdint>

// The milliseconds between two flips of the caret (half of GTK's blink
// cycle); -1 when the desktop has blinking switched off.
extern "C" std::int32_t kiv_caret_blink_time() {
    GtkSettings* settings = gtk_settings_get_default();
    if (settings == nullptr) return 600;
    gboolean blink = TRUE;
    gint cycle = 1200;
    g_object_get(settings, "gtk-cursor-blink", &blink, "gtk-cursor-blink-time", &cycle, nullptr);
    if (!blink) return -1;
    return cycle / 2;
}
