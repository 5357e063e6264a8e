// The container that places faces: a GtkFixed that gives each child the
// size asked for it (its face's size), even below what the child's theme
// would ask as a minimum, and asks no minimum room for itself.
#include "gui/backend/gtk/faces.h"

#include <algorithm>

namespace kiv::gtk_faces {

namespace {

struct KivFixed {
    GtkFixed parent;
};
struct KivFixedClass {
    GtkFixedClass parent_class;
};

G_DEFINE_TYPE(KivFixed, kiv_fixed, GTK_TYPE_FIXED)

void size_allocate(GtkWidget* widget, GtkAllocation* allocation) {
    gtk_widget_set_allocation(widget, allocation);
    const bool own_window = gtk_widget_get_has_window(widget);
    if (own_window && gtk_widget_get_realized(widget))
        gdk_window_move_resize(gtk_widget_get_window(widget), allocation->x, allocation->y, allocation->width,
                               allocation->height);
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c != nullptr; c = c->next) {
        auto* child = GTK_WIDGET(c->data);
        if (!gtk_widget_get_visible(child)) continue;
        GtkRequisition least{}, natural{};
        gtk_widget_get_preferred_size(child, &least, &natural);  // asked before every allocation
        gint x = 0, y = 0, width = -1, height = -1;
        gtk_container_child_get(GTK_CONTAINER(widget), child, "x", &x, "y", &y, nullptr);
        gtk_widget_get_size_request(child, &width, &height);
        GtkAllocation a{x, y, width >= 0 ? width : natural.width, height >= 0 ? height : natural.height};
        // a slider's knob, a scroll bar's arrows, a check's box, a tab strip, a
        // frame's title and a bar's trough cannot shrink
        if (GTK_IS_RANGE(child) || GTK_IS_SCROLLED_WINDOW(child) || GTK_IS_CHECK_BUTTON(child) ||
            GTK_IS_NOTEBOOK(child) || GTK_IS_FRAME(child) || GTK_IS_PROGRESS_BAR(child)) {
            a.width = std::max(a.width, least.width);
            a.height = std::max(a.height, least.height);
        }
        // nor can a widget's own frame (margin, border, padding)
        GtkStyleContext* style = gtk_widget_get_style_context(child);
        const GtkStateFlags state = gtk_style_context_get_state(style);
        GtkBorder margin{}, border{}, padding{};
        gtk_style_context_get_margin(style, state, &margin);
        gtk_style_context_get_border(style, state, &border);
        gtk_style_context_get_padding(style, state, &padding);
        a.width = std::max(a.width, margin.left + margin.right + border.left + border.right + padding.left + padding.right);
        a.height = std::max(a.height, margin.top + margin.bottom + border.top + border.bottom + padding.top + padding.bottom);
        if (!own_window) a.x += allocation->x, a.y += allocation->y;
        gtk_widget_size_allocate(child, &a);
    }
    g_list_free(children);
}

// The room the children's places and sizes cover; nothing at the least.
void preferred(GtkWidget* widget, bool horizontal, gint* minimum, gint* natural) {
    gint extent = 0;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c != nullptr; c = c->next) {
        auto* child = GTK_WIDGET(c->data);
        if (!gtk_widget_get_visible(child)) continue;
        gint x = 0, y = 0, width = -1, height = -1;
        gtk_container_child_get(GTK_CONTAINER(widget), child, "x", &x, "y", &y, nullptr);
        gtk_widget_get_size_request(child, &width, &height);
        extent = std::max(extent, horizontal ? x + std::max(width, 0) : y + std::max(height, 0));
    }
    g_list_free(children);
    *minimum = 0;
    *natural = extent;
}

void preferred_width(GtkWidget* widget, gint* minimum, gint* natural) { preferred(widget, true, minimum, natural); }
void preferred_height(GtkWidget* widget, gint* minimum, gint* natural) { preferred(widget, false, minimum, natural); }

void kiv_fixed_class_init(KivFixedClass* k) {
    GtkWidgetClass* w = GTK_WIDGET_CLASS(k);
    w->size_allocate = size_allocate;
    w->get_preferred_width = preferred_width;
    w->get_preferred_height = preferred_height;
}

void kiv_fixed_init(KivFixed*) {}

}  // namespace

GtkWidget* fixed_new() { return GTK_WIDGET(g_object_new(kiv_fixed_get_type(), nullptr)); }

}  // namespace kiv::gtk_faces
