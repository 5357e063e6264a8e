// Container faces drawn by the toolkit: group-box (a frame with its text as
// the title, the children over it) and tab-panel (a tab strip with one tab
// per title in `data`, over which the panels of its pane stand, only the
// one of the selected tab shown). A tab the user chooses makes `select`
// (the tab shown until now), which stop refuses, then `change` (the new
// tab); setting `selected` does the same.
#include "gui/backend/gtk/faces.h"

#include "gui/backend/units.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"

#include <algorithm>

namespace kiv::gtk_faces {

namespace {

// The toolkit's own widget behind the children: a frame, a tab strip.
const char* const back_key = "kiv-back";
// Events of a tab chosen by the program are made although updates are quiet.
bool choosing = false;

GtkWidget* back_of(std::int32_t widget) {
    GtkWidget* w = native(widget);
    return w != nullptr ? static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(w), back_key)) : nullptr;
}

// An event box holding a fixed (the children's) with back at 0x0 in it.
GtkWidget* holder(GtkWidget* back) {
    GtkWidget* box = gtk_event_box_new();
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(box), FALSE);
    gtk_widget_add_events(box, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                   GDK_LEAVE_NOTIFY_MASK | GDK_SCROLL_MASK);
    GtkWidget* fixed = fixed_new();
    gtk_container_add(GTK_CONTAINER(box), fixed);
    gtk_fixed_put(GTK_FIXED(fixed), back, 0, 0);
    gtk_widget_show(back);
    gtk_widget_show(fixed);
    g_object_set_data(G_OBJECT(box), fixed_key, fixed);
    g_object_set_data(G_OBJECT(box), back_key, back);
    return box;
}

void size_back(std::int32_t widget) {
    int w = 0, h = 0;
    face_size(widget, w, h);
    if (GtkWidget* back = back_of(widget)) gtk_widget_set_size_request(back, w, h);
}

// --- group-box ----------------------------------------------------------------------

GtkWidget* make_group_box(std::int32_t, const toolkit::WidgetSpec&, const Cell&) { return holder(gtk_frame_new(nullptr)); }

void apply_group_box(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    if ((bits & widgets::change_bit(Facet::size)) != 0) size_back(widget);
    if ((bits & widgets::change_bit(Facet::text)) != 0) {
        const std::string text = text_of(face);
        gtk_frame_set_label(GTK_FRAME(back_of(widget)), text.empty() ? nullptr : text.c_str());
    }
}

bool group_box_text(std::int32_t widget, std::int32_t, std::string& out) {
    const gchar* label = gtk_frame_get_label(GTK_FRAME(back_of(widget)));
    out = label != nullptr ? label : "";
    return true;
}

// --- tab-panel ----------------------------------------------------------------------

GtkNotebook* tabs_of(std::int32_t widget) {
    GtkWidget* back = back_of(widget);
    return back != nullptr ? GTK_NOTEBOOK(back) : nullptr;
}

// The height of a tab strip with its frame, measured once on a notebook
// of one empty page.
int strip_height() {
    static const int height = [] {
        GtkWidget* probe = gtk_notebook_new();
        g_object_ref_sink(probe);
        GtkWidget* page = gtk_fixed_new();
        gtk_widget_show(page);
        GtkWidget* label = gtk_label_new("Tab");
        gtk_widget_show(label);
        gtk_notebook_append_page(GTK_NOTEBOOK(probe), page, label);
        gtk_widget_show(probe);  // a hidden widget asks for no room
        gint natural = 0;
        gtk_widget_get_preferred_height(probe, nullptr, &natural);
        gtk_widget_destroy(probe);
        g_object_unref(probe);
        return std::max(natural, 1);
    }();
    return height;
}

// The area under the tab strip, in GTK units inside the tab panel.
GdkRectangle display_area(std::int32_t widget) {
    int w = 0, h = 0;
    face_size(widget, w, h);
    const int strip = strip_height() - 1;  // the frame's lower edge stays outside
    return GdkRectangle{1, strip, std::max(0, w - 2), std::max(0, h - strip - 1)};
}

// The pane's faces shown when they stand at the selected tab, hidden else.
void show_page(std::int32_t widget, const Cell& face) {
    const Cell* pane = widgets::facet(face, Facet::pane);
    if (pane == nullptr || !pane->is(TypeId::block)) return;
    const std::int64_t selected = integer_of(face, Facet::selected, 0);
    const Cell panes = *pane;
    const std::int32_t n = block::count_from_head(panes);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell page = *block::get_cell(panes, panes.series_head() + i);
        const std::int32_t page_widget = widgets::of_face(page);
        GtkWidget* w = native(page_widget);
        if (w == nullptr || widgets::get(page_widget)->parent != widget) continue;
        const bool shown = i + 1 == selected;
        Cell visible{};
        logic::make_at(visible, shown);
        set_facet(page, Facet::visible_q, visible);
        gtk_widget_set_visible(w, shown);
    }
}

// Each panel of the pane over the display area.
void fit_pages(std::int32_t widget, const Cell& face) {
    const Cell* pane = widgets::facet(face, Facet::pane);
    GtkWidget* fixed = container(widget);
    if (pane == nullptr || !pane->is(TypeId::block) || fixed == nullptr) return;
    const GdkRectangle area = display_area(widget);
    const Cell panes = *pane;
    const std::int32_t n = block::count_from_head(panes);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell page = *block::get_cell(panes, panes.series_head() + i);
        GtkWidget* w = native(widgets::of_face(page));
        if (w == nullptr || gtk_widget_get_parent(w) != fixed) continue;
        gtk_fixed_move(GTK_FIXED(fixed), w, area.x, area.y);
        gtk_widget_set_size_request(w, area.width, area.height);
        Cell at{}, size{};
        point::make_at(at, static_cast<float>(units::to_logical(to_pixels(area.x))),
                       static_cast<float>(units::to_logical(to_pixels(area.y))));
        point::make_at(size, static_cast<float>(units::to_logical(to_pixels(area.width))),
                       static_cast<float>(units::to_logical(to_pixels(area.height))));
        set_facet(page, Facet::offset, at);
        set_facet(page, Facet::size, size);
    }
    show_page(widget, face);
}

// Before the tab changes: select names the tab shown until now; stop keeps it.
void on_switching(GtkNotebook* tabs, GtkWidget*, guint, gpointer) {
    const std::int32_t widget = widget_of(GTK_WIDGET(tabs));
    if (widget == 0 || (quiet() && !choosing)) return;
    const auto current = static_cast<std::uint32_t>(gtk_notebook_get_current_page(tabs) + 1);
    if (send_always(widget, event::Type::select, current) == 0) g_signal_stop_emission_by_name(tabs, "switch-page");
}

// After it: the new tab's panel shown, `selected` its index, change.
void on_switched(GtkNotebook* tabs, GtkWidget*, guint page, gpointer) {
    const std::int32_t widget = widget_of(GTK_WIDGET(tabs));
    Cell face{};
    if (widget == 0 || !widgets::face_of(widget, face)) return;
    Cell index{};
    integer::make_at(index, static_cast<std::int32_t>(page) + 1);
    set_facet(face, Facet::selected, index);
    show_page(widget, face);
    if (!quiet() || choosing) send_always(widget, event::Type::change, page + 1);
}

GtkWidget* make_tab_panel(std::int32_t, const toolkit::WidgetSpec&, const Cell&) {
    GtkWidget* tabs = gtk_notebook_new();
    gtk_notebook_set_scrollable(GTK_NOTEBOOK(tabs), TRUE);
    g_signal_connect(tabs, "switch-page", G_CALLBACK(on_switching), nullptr);
    g_signal_connect_after(tabs, "switch-page", G_CALLBACK(on_switched), nullptr);
    return holder(tabs);
}

void select_tab(std::int32_t widget, const Cell& face, bool with_events) {
    GtkNotebook* tabs = tabs_of(widget);
    const std::int64_t selected = integer_of(face, Facet::selected, 0);
    if (selected < 1 || selected > gtk_notebook_get_n_pages(tabs)) return show_page(widget, face);
    if (gtk_notebook_get_current_page(tabs) == selected - 1) return show_page(widget, face);
    const bool was = choosing;
    choosing = with_events;
    gtk_notebook_set_current_page(tabs, static_cast<gint>(selected - 1));
    choosing = was;
}

void apply_tab_panel(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    GtkNotebook* tabs = tabs_of(widget);
    const bool made = bits == all_facets;
    const auto changed = [bits](Facet f) { return (bits & widgets::change_bit(f)) != 0; };
    if (changed(Facet::size)) size_back(widget);
    if (changed(Facet::data)) {
        const Cell keep_selected = [&] {
            const Cell* s = widgets::facet(face, Facet::selected);
            return s != nullptr ? *s : Cell::fresh(TypeId::none);
        }();
        while (gtk_notebook_get_n_pages(tabs) > 0) gtk_notebook_remove_page(tabs, -1);
        const Cell* data = widgets::facet(face, Facet::data);
        if (data != nullptr && data->is(TypeId::block)) {
            const Cell titles = *data;
            for (std::int32_t i = 0; i < block::count_from_head(titles); ++i) {
                const Cell* t = block::get_cell(titles, titles.series_head() + i);
                if (!widgets::string_like(*t)) continue;
                GtkWidget* page = gtk_fixed_new();
                gtk_widget_show(page);
                GtkWidget* label = gtk_label_new(string::utf8_of(*t).c_str());
                gtk_widget_show(label);
                gtk_notebook_append_page(tabs, page, label);
            }
        }
        // the rebuild chose tabs of its own: the face's choice stands; with none,
        // the first tab (the one the strip shows) is the selected one
        if (keep_selected.is(TypeId::integer) || gtk_notebook_get_n_pages(tabs) == 0) {
            set_facet(face, Facet::selected, keep_selected);
        } else {
            Cell first{};
            integer::make_at(first, 1);
            set_facet(face, Facet::selected, first);
        }
    }
    if (changed(Facet::data) || changed(Facet::selected)) select_tab(widget, face, !made && changed(Facet::selected));
    if (changed(Facet::size) || changed(Facet::offset) || changed(Facet::pane) || changed(Facet::data) ||
        changed(Facet::visible_q))
        fit_pages(widget, face);
}

bool tab_text(std::int32_t widget, std::int32_t index, std::string& out) {
    GtkNotebook* tabs = tabs_of(widget);
    if (index < 0) index = gtk_notebook_get_current_page(tabs);
    GtkWidget* page = gtk_notebook_get_nth_page(tabs, index);
    if (page == nullptr) return false;
    const gchar* label = gtk_notebook_get_tab_label_text(tabs, page);
    out = label != nullptr ? label : "";
    return true;
}

}  // namespace

void fit_page(std::int32_t parent, const Cell& face, toolkit::WidgetSpec& spec) {
    const widgets::Widget* p = widgets::get(parent);
    if (p == nullptr || p->type != FaceType::tab_panel || spec.type != FaceType::panel) return;
    const GdkRectangle area = display_area(parent);
    spec.x = to_pixels(area.x), spec.y = to_pixels(area.y);
    spec.width = to_pixels(area.width), spec.height = to_pixels(area.height);
    Cell at{}, size{};
    point::make_at(at, static_cast<float>(units::to_logical(spec.x)), static_cast<float>(units::to_logical(spec.y)));
    point::make_at(size, static_cast<float>(units::to_logical(spec.width)),
                   static_cast<float>(units::to_logical(spec.height)));
    set_facet(face, Facet::offset, at);
    set_facet(face, Facet::size, size);
}

const Kind group_box_kind{make_group_box, apply_group_box, group_box_text};
const Kind tab_panel_kind{make_tab_panel, apply_tab_panel, tab_text};

}  // namespace kiv::gtk_faces
