// The camera face on GTK: its picture (painted with the face, the frame
// scaled to fit and centred, bars at the sides or above and below), and the
// post through which the streaming thread has the GUI thread take a frame.
#include "gui/backend/camera_gtk.h"

#include "gui/backend/camera.h"
#include "gui/backend/widgets.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

namespace kiv::camera_gtk {

namespace {

struct Area {
    cairo_t* cr;
    double width, height;
};

void paint_frame(void* context, const std::uint32_t* pixels, std::int32_t width, std::int32_t height) {
    const auto* a = static_cast<const Area*>(context);
    cairo_surface_t* frame = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(pixels)), CAIRO_FORMAT_RGB24, width, height,
        width * 4);
    const double scale = std::min(a->width / width, a->height / height);
    cairo_save(a->cr);
    cairo_translate(a->cr, std::floor((a->width - width * scale) / 2), std::floor((a->height - height * scale) / 2));
    cairo_scale(a->cr, scale, scale);
    cairo_set_source_surface(a->cr, frame, 0, 0);
    cairo_paint(a->cr);
    cairo_restore(a->cr);
    cairo_surface_destroy(frame);
}

// On the GUI thread: a frame may be ready, and the picture is new.
gboolean on_posted(gpointer data) {
    const std::int32_t widget = GPOINTER_TO_INT(data);
    camera::take_frame(widget);
    if (const widgets::Widget* w = widgets::get(widget); w != nullptr && w->native != nullptr)
        gtk_widget_queue_draw(static_cast<GtkWidget*>(w->native));
    return G_SOURCE_REMOVE;
}

}  // namespace

void paint(cairo_t* cr, std::int32_t widget, double width, double height) {
    if (width <= 0 || height <= 0) return;
    Area area{cr, width, height};
    camera::with_preview(widget, paint_frame, &area);
}

}  // namespace kiv::camera_gtk

extern "C" void kiv_gui_camera_post(std::int32_t widget) {
    g_idle_add(kiv::camera_gtk::on_posted, GINT_TO_POINTER(widget));  // GLib's queue takes sources from any thread
}
