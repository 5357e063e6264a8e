// The console's pieces of the toolkit module: the desktop's caret blink time
// for its caret, from GtkSettings, and the repaint of its window done at once
// while a script runs. The program finds them by name.
#include "gui/backend/gtk/native.h"

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

// Draws the window that holds widget, now. Only its paint runs, never the
// loop: no key, click or timer is handled, so a script that prints is not
// re-entered by an actor of its own. The window is drawn whole, straight on
// its surface: the toolkit's queue of paints may be held back (a window the
// script itself has just shown is mapped by the server, but the toolkit
// learns so only from the loop). Its layout is brought up to date first. A
// paint asked for while a window is being painted (a draw block that prints)
// is left to the loop, as paints do not nest.
extern "C" void kiv_console_paint_now(std::int32_t widget) {
    if (GdkEvent* current = gtk_get_current_event()) {
        const bool painting = current->type == GDK_EXPOSE || current->type == GDK_DAMAGE;
        gdk_event_free(current);
        if (painting) return;
    }
    GtkWidget* w = kiv::gtk_faces::native(widget);
    if (w == nullptr || !gtk_widget_get_mapped(w)) return;
    GtkWidget* top = gtk_widget_get_toplevel(w);
    GdkWindow* window = gtk_widget_get_window(top);
    if (window == nullptr || !GTK_IS_WINDOW(top) || !gtk_widget_get_mapped(top)) return;
    gtk_container_check_resize(GTK_CONTAINER(top));
    const cairo_rectangle_int_t all{0, 0, gdk_window_get_width(window), gdk_window_get_height(window)};
    cairo_region_t* region = cairo_region_create_rectangle(&all);
    GdkDrawingContext* context = gdk_window_begin_draw_frame(window, region);
    gtk_widget_draw(top, gdk_drawing_context_get_cairo_context(context));
    gdk_window_end_draw_frame(window, context);
    cairo_region_destroy(region);
    gdk_display_flush(gdk_window_get_display(window));
}
