// Text faces: field (a one-line entry: Enter and Tab type nothing, U+25CF
// stands for each character of a password), area (a multi-line text view
// that scrolls; Ctrl+A selects everything) and text (a label). Typing makes
// `change` (the face's text read back first); moving the selection with a
// key or the mouse makes `select`, the face's `selected` the pair of the
// first and last character chosen (1-based), none when nothing is.
#include "gui/backend/gtk/faces.h"

#include "gui/backend/text/font.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"

#include <algorithm>

namespace kiv::gtk_faces {

namespace {

constexpr gunichar password_char = 0x25CF;

GtkTextBuffer* buffer_of(std::int32_t widget) {
    GtkWidget* view = inner(widget);
    return view != nullptr && GTK_IS_TEXT_VIEW(view) ? gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)) : nullptr;
}

// The selection as character offsets, start < end; false when empty.
bool selection_of(std::int32_t widget, int& start, int& end) {
    GtkWidget* w = inner(widget);
    start = end = 0;
    if (w == nullptr) return false;
    if (GTK_IS_ENTRY(w)) return gtk_editable_get_selection_bounds(GTK_EDITABLE(w), &start, &end) && start != end;
    GtkTextBuffer* b = buffer_of(widget);
    GtkTextIter s, e;
    if (b == nullptr || !gtk_text_buffer_get_selection_bounds(b, &s, &e)) return false;
    start = gtk_text_iter_get_offset(&s);
    end = gtk_text_iter_get_offset(&e);
    return start != end;
}

// The face's `selected` shown: a pair! of two character indexes (either
// order, 1-based, inclusive) selects them; anything else selects nothing.
void select_from_face(std::int32_t widget, const Cell& face) {
    const Cell* sel = widgets::facet(face, Facet::selected);
    int start = 0, end = 0;
    if (sel != nullptr && sel->is(TypeId::pair)) {
        const int a = sel->pair_x(), b = sel->pair_y();
        start = std::max(std::min(a, b) - 1, 0);
        end = std::max(std::max(a, b), 0);
    }
    GtkWidget* w = inner(widget);
    if (GTK_IS_ENTRY(w)) {
        gtk_editable_select_region(GTK_EDITABLE(w), start, end);
    } else if (GtkTextBuffer* b = buffer_of(widget)) {
        GtkTextIter s, e;
        gtk_text_buffer_get_iter_at_offset(b, &s, start);
        gtk_text_buffer_get_iter_at_offset(b, &e, end);
        gtk_text_buffer_select_range(b, &s, &e);
    }
}

// The selection into the face's `selected`, then a select event.
gboolean on_selection_moved(GtkWidget* w, GdkEvent*, gpointer) {
    const std::int32_t widget = widget_of(w);
    Cell face{};
    if (widget == 0 || !widgets::face_of(widget, face)) return FALSE;
    int start = 0, end = 0;
    Cell sel{};
    if (selection_of(widget, start, end)) pair::make_at(sel, start + 1, end);
    else none::make_at(sel);
    set_facet(face, Facet::selected, sel);
    send(widget, event::Type::select);
    return FALSE;
}

void on_changed(GtkWidget* w, gpointer) { send(widget_of(w), event::Type::change, 0xFFFF); }

void on_buffer_changed(GtkTextBuffer*, gpointer view) { on_changed(GTK_WIDGET(view), nullptr); }

gboolean on_focus_in(GtkWidget* w, GdkEventFocus*, gpointer) {
    const std::int32_t widget = widget_of(w);
    Cell face{};
    if (widget == 0 || !widgets::face_of(widget, face)) return FALSE;
    note_focus(widget);
    {
        const Quiet quiet;
        select_from_face(widget, face);
    }
    send(widget, event::Type::focus);
    return FALSE;
}

gboolean on_focus_out(GtkWidget* w, GdkEventFocus*, gpointer) {
    send(widget_of(w), event::Type::unfocus);
    return FALSE;
}

// A one-line field types no Enter and no Tab: their key events went to the
// face already, and the focus moves only when the engine moves it.
gboolean on_field_key(GtkWidget*, GdkEventKey* key, gpointer) {
    switch (key->keyval) {
    case GDK_KEY_Return: case GDK_KEY_KP_Enter: case GDK_KEY_ISO_Enter:
    case GDK_KEY_Tab: case GDK_KEY_ISO_Left_Tab: case GDK_KEY_KP_Tab:
        return TRUE;
    default:
        return FALSE;
    }
}

void connect_edit_events(GtkWidget* w) {
    g_signal_connect(w, "focus-in-event", G_CALLBACK(on_focus_in), nullptr);
    g_signal_connect(w, "focus-out-event", G_CALLBACK(on_focus_out), nullptr);
    g_signal_connect_after(w, "key-release-event", G_CALLBACK(on_selection_moved), nullptr);
    g_signal_connect_after(w, "button-release-event", G_CALLBACK(on_selection_moved), nullptr);
}

// A new edit takes a selection only when its face has one.
bool has_selection(const Cell& face) {
    const Cell* sel = widgets::facet(face, Facet::selected);
    return sel != nullptr && !sel->is(TypeId::none);
}

float align_of(text::Align a) { return a == text::Align::start ? 0.0f : a == text::Align::middle ? 0.5f : 1.0f; }

text::Para para_of_face(const Cell& face) {
    const Cell* type = widgets::facet(face, Facet::type);
    const Cell* para = widgets::facet(face, Facet::para);
    return text::para_of(para != nullptr && para->is(TypeId::object) ? para : nullptr,
                         type != nullptr ? *type : Cell::fresh(TypeId::none));
}

// --- Factories ----------------------------------------------------------------------

GtkWidget* make_field(std::int32_t, const toolkit::WidgetSpec& spec, const Cell&) {
    GtkWidget* e = gtk_entry_new();
    gtk_entry_set_width_chars(GTK_ENTRY(e), 0);
    gtk_entry_set_has_frame(GTK_ENTRY(e), (spec.face_flags & widgets::face_flag::no_border) == 0);
    gtk_entry_set_invisible_char(GTK_ENTRY(e), password_char);
    g_signal_connect(e, "changed", G_CALLBACK(on_changed), nullptr);
    g_signal_connect(e, "key-press-event", G_CALLBACK(on_field_key), nullptr);
    connect_edit_events(e);
    return e;
}

GtkWidget* make_area(std::int32_t, const toolkit::WidgetSpec& spec, const Cell&) {
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    if ((spec.face_flags & widgets::face_flag::no_border) == 0)
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    GtkWidget* view = gtk_text_view_new();
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    gtk_widget_show(view);
    g_object_set_data(G_OBJECT(scrolled), inner_key, view);
    g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), "changed", G_CALLBACK(on_buffer_changed), view);
    connect_edit_events(view);
    return scrolled;
}

GtkWidget* make_text(std::int32_t, const toolkit::WidgetSpec&, const Cell&) {
    GtkWidget* box = gtk_event_box_new();
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(box), FALSE);
    gtk_widget_add_events(box, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK |
                                   GDK_LEAVE_NOTIFY_MASK | GDK_SCROLL_MASK);
    GtkWidget* label = gtk_label_new(nullptr);
    gtk_container_add(GTK_CONTAINER(box), label);
    gtk_widget_show(label);
    g_object_set_data(G_OBJECT(box), inner_key, label);
    return box;
}

// --- Facets -------------------------------------------------------------------------

constexpr std::uint32_t style_bits = widgets::change_bit(Facet::color) | widgets::change_bit(Facet::font);
constexpr std::uint32_t para_bits = widgets::change_bit(Facet::para) | widgets::change_bit(Facet::type);

void apply_field(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    auto* e = GTK_ENTRY(native(widget));
    const auto changed = [bits](Facet f) { return (bits & widgets::change_bit(f)) != 0; };
    if (changed(Facet::text)) {
        const std::string text = text_of(face);
        if (text != gtk_entry_get_text(e)) gtk_entry_set_text(e, text.c_str());
    }
    if ((bits & para_bits) != 0) gtk_entry_set_alignment(e, align_of(para_of_face(face).horizontal));
    if (changed(Facet::selected) && (bits != all_facets || has_selection(face))) select_from_face(widget, face);
    if (changed(Facet::flags)) {
        const bool password = (widgets::get(widget)->face_flags & widgets::face_flag::password) != 0;
        gtk_entry_set_visibility(e, password ? FALSE : TRUE);
        if (bits != all_facets) gtk_widget_grab_focus(GTK_WIDGET(e));
    }
    if ((bits & style_bits) != 0) set_widget_colours(GTK_WIDGET(e), face);
}

bool field_text(std::int32_t widget, std::int32_t, std::string& out) {
    out = gtk_entry_get_text(GTK_ENTRY(native(widget)));
    return true;
}

void apply_area(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    GtkWidget* view = inner(widget);
    GtkTextBuffer* b = buffer_of(widget);
    if (view == nullptr || b == nullptr) return;
    const auto changed = [bits](Facet f) { return (bits & widgets::change_bit(f)) != 0; };
    if (changed(Facet::text)) {
        GtkTextIter s, e;
        gtk_text_buffer_get_bounds(b, &s, &e);
        gchar* shown = gtk_text_buffer_get_text(b, &s, &e, TRUE);
        const std::string text = text_of(face);
        if (text != shown) gtk_text_buffer_set_text(b, text.c_str(), static_cast<gint>(text.size()));
        g_free(shown);
    }
    if ((bits & para_bits) != 0) {
        const text::Para para = para_of_face(face);
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), para.wrap ? GTK_WRAP_WORD_CHAR : GTK_WRAP_NONE);
        gtk_text_view_set_justification(GTK_TEXT_VIEW(view), para.horizontal == text::Align::start    ? GTK_JUSTIFY_LEFT
                                                             : para.horizontal == text::Align::middle ? GTK_JUSTIFY_CENTER
                                                                                                      : GTK_JUSTIFY_RIGHT);
    }
    if (changed(Facet::selected) && (bits != all_facets || has_selection(face))) select_from_face(widget, face);
    if ((bits & style_bits) != 0) set_widget_colours(view, face);
}

bool area_text(std::int32_t widget, std::int32_t, std::string& out) {
    GtkTextBuffer* b = buffer_of(widget);
    if (b == nullptr) return false;
    GtkTextIter s, e;
    gtk_text_buffer_get_bounds(b, &s, &e);
    gchar* text = gtk_text_buffer_get_text(b, &s, &e, TRUE);
    out = text;
    g_free(text);
    return true;
}

void apply_text(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    auto* label = GTK_LABEL(inner(widget));
    if ((bits & widgets::change_bit(Facet::text)) != 0) gtk_label_set_text(label, text_of(face).c_str());
    if ((bits & para_bits) != 0) {
        const text::Para para = para_of_face(face);
        gtk_label_set_xalign(label, align_of(para.horizontal));
        gtk_label_set_yalign(label, align_of(para.vertical));
        gtk_label_set_line_wrap(label, para.wrap ? TRUE : FALSE);
        gtk_label_set_line_wrap_mode(label, PANGO_WRAP_WORD_CHAR);
        gtk_label_set_ellipsize(label, para.wrap ? PANGO_ELLIPSIZE_NONE : PANGO_ELLIPSIZE_END);
        gtk_label_set_justify(label, para.horizontal == text::Align::start    ? GTK_JUSTIFY_LEFT
                                     : para.horizontal == text::Align::middle ? GTK_JUSTIFY_CENTER
                                                                              : GTK_JUSTIFY_RIGHT);
    }
    if ((bits & style_bits) != 0) set_widget_colours(GTK_WIDGET(label), face);
}

bool label_text(std::int32_t widget, std::int32_t, std::string& out) {
    out = gtk_label_get_text(GTK_LABEL(inner(widget)));
    return true;
}

}  // namespace

const Kind field_kind{make_field, apply_field, field_text};
const Kind area_kind{make_area, apply_area, area_text};
const Kind text_kind{make_text, apply_text, label_text};

}  // namespace kiv::gtk_faces
