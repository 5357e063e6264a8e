// Buttons: button (click), toggle and check (change, their `data` the
// state: true, false, or none for a tri-state check's third state), radio
// (click when it becomes checked; the engine makes radios exclusive).
#include "gui/backend/gtk/faces.h"

#include "gui/backend/text/font.h"
#include "gui/backend/units.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"

namespace kiv::gtk_faces {

namespace {

// A check's state: 0 unchecked, 1 checked, 2 indeterminate.
const char* const state_key = "kiv-check-state";
// A radio's hidden partner: unchecking a radio checks it.
const char* const partner_key = "kiv-radio-partner";

// Enter does not press a button: its key events went to the face already
// (the engine turns Enter on a button into its click).
gboolean on_button_key(GtkWidget*, GdkEventKey* key, gpointer) {
    return key->keyval == GDK_KEY_Return || key->keyval == GDK_KEY_KP_Enter || key->keyval == GDK_KEY_ISO_Enter;
}

GtkWidget* label_button(GtkWidget* button) {
    gtk_button_set_label(GTK_BUTTON(button), "");
    g_signal_connect(button, "key-press-event", G_CALLBACK(on_button_key), nullptr);
    connect_focus(button);
    return button;
}

// The label the button made for its text (beside its image, when it has one).
GtkLabel* label_of(GtkWidget* w) {
    if (GTK_IS_LABEL(w)) return GTK_LABEL(w);
    if (!GTK_IS_CONTAINER(w)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(w));
    GtkLabel* found = nullptr;
    for (GList* c = children; c != nullptr && found == nullptr; c = c->next) found = label_of(GTK_WIDGET(c->data));
    g_list_free(children);
    return found;
}

GtkLabel* label_of(std::int32_t widget) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(native(widget)));
    return child != nullptr ? label_of(child) : nullptr;
}

void place_label(std::int32_t widget, const Cell& face);

void set_label(std::int32_t widget, const Cell& face) {
    gtk_button_set_label(GTK_BUTTON(native(widget)), text_of(face).c_str());
    place_label(widget, face);
}

bool button_text(std::int32_t widget, std::int32_t, std::string& out) {
    const gchar* label = gtk_button_get_label(GTK_BUTTON(native(widget)));
    out = label != nullptr ? label : "";
    return true;
}

// The state `data` asks for: true 1, false or none 0 (none is 2 for a
// tri-state check), any other value 1.
int state_of_data(const Cell& face, bool tri_state) {
    const Cell* data = widgets::facet(face, Facet::data);
    if (data == nullptr || data->is(TypeId::none)) return tri_state ? 2 : 0;
    if (data->is(TypeId::logic)) return data->logic_value() != 0 ? 1 : 0;
    return 1;
}

void data_of_state(std::int32_t widget, int state) {
    Cell face{};
    if (!widgets::face_of(widget, face)) return;
    Cell value{};
    if (state == 2) none::make_at(value);
    else logic::make_at(value, state == 1);
    set_facet(face, Facet::data, value);
}

void show_state(GtkWidget* w, int state) {
    const Quiet quiet;
    g_object_set_data(G_OBJECT(w), state_key, GINT_TO_POINTER(state));
    gtk_toggle_button_set_inconsistent(GTK_TOGGLE_BUTTON(w), state == 2);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), state != 0);
}

bool tri_state(std::int32_t widget) {
    const widgets::Widget* w = widgets::get(widget);
    return w != nullptr && w->type == FaceType::check && (w->face_flags & widgets::face_flag::tri_state) != 0;
}

// --- Signals ------------------------------------------------------------------------

void on_clicked(GtkButton* button, gpointer) { send(widget_of(GTK_WIDGET(button)), event::Type::click); }

// A toggle or check the user changed: the next state (a tri-state check
// cycles unchecked, checked, indeterminate), `data`, one change event.
void on_toggled(GtkToggleButton* button, gpointer) {
    if (quiet()) return;
    GtkWidget* w = GTK_WIDGET(button);
    const std::int32_t widget = widget_of(w);
    if (widget == 0) return;
    const int old = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(w), state_key));
    const int next = tri_state(widget) ? (old + 1) % 3 : (old == 0 ? 1 : 0);
    show_state(w, next);
    data_of_state(widget, next);
    send(widget, event::Type::change);
}

// A radio that became checked: `data` true and a click.
void on_radio_toggled(GtkToggleButton* button, gpointer) {
    if (quiet() || !gtk_toggle_button_get_active(button)) return;
    const std::int32_t widget = widget_of(GTK_WIDGET(button));
    if (widget == 0) return;
    data_of_state(widget, 1);
    send(widget, event::Type::click);
}

void on_radio_destroy(GtkWidget* w, gpointer) {
    if (auto* partner = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(w), partner_key))) {
        g_object_set_data(G_OBJECT(w), partner_key, nullptr);
        gtk_widget_destroy(partner);
        g_object_unref(partner);
    }
}

// --- Factories ----------------------------------------------------------------------

GtkWidget* make_button(std::int32_t, const toolkit::WidgetSpec&, const Cell&) {
    GtkWidget* b = label_button(gtk_button_new());
    g_signal_connect(b, "clicked", G_CALLBACK(on_clicked), nullptr);
    return b;
}

GtkWidget* make_toggle(std::int32_t, const toolkit::WidgetSpec&, const Cell&) {
    GtkWidget* b = label_button(gtk_toggle_button_new());
    g_signal_connect(b, "toggled", G_CALLBACK(on_toggled), nullptr);
    return b;
}

GtkWidget* make_check(std::int32_t, const toolkit::WidgetSpec&, const Cell&) {
    GtkWidget* b = label_button(gtk_check_button_new());
    g_signal_connect(b, "toggled", G_CALLBACK(on_toggled), nullptr);
    return b;
}

GtkWidget* make_radio(std::int32_t, const toolkit::WidgetSpec&, const Cell&) {
    GtkWidget* partner = gtk_radio_button_new(nullptr);
    g_object_ref_sink(partner);
    GtkWidget* b = label_button(gtk_radio_button_new_from_widget(GTK_RADIO_BUTTON(partner)));
    g_object_set_data(G_OBJECT(b), partner_key, partner);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(partner), TRUE);
    g_signal_connect(b, "toggled", G_CALLBACK(on_radio_toggled), nullptr);
    g_signal_connect(b, "destroy", G_CALLBACK(on_radio_destroy), nullptr);
    return b;
}

// --- Facets -------------------------------------------------------------------------

// The label placed by the face's para (a button centres it by default).
void place_label(std::int32_t widget, const Cell& face) {
    GtkLabel* label = label_of(widget);
    if (label == nullptr) return;
    const Cell* type = widgets::facet(face, Facet::type);
    const Cell* para = widgets::facet(face, Facet::para);
    const text::Para p = text::para_of(para != nullptr && para->is(TypeId::object) ? para : nullptr,
                                       type != nullptr ? *type : Cell::fresh(TypeId::none));
    const auto at = [](text::Align a) { return a == text::Align::start ? 0.0f : a == text::Align::middle ? 0.5f : 1.0f; };
    gtk_label_set_ellipsize(label, PANGO_ELLIPSIZE_END);
    // the button places its label (or its box of image and label) itself
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_button_set_alignment(GTK_BUTTON(native(widget)), at(p.horizontal), at(p.vertical));
    G_GNUC_END_IGNORE_DEPRECATIONS
}

// The button's image: an image!, or a block of an image and the size (a
// pair!) to show it at.
void set_image(std::int32_t widget, const Cell& face) {
    auto* button = GTK_BUTTON(native(widget));
    const Cell* facet = widgets::facet(face, Facet::image);
    Cell picture{};
    std::int32_t width = 0, height = 0;
    if (facet != nullptr && facet->is(TypeId::image)) {
        picture = *facet;
    } else if (facet != nullptr && facet->is(TypeId::block) && block::count_from_head(*facet) >= 1) {
        const Cell* first = block::get_cell(*facet, facet->series_head());
        if (first->is(TypeId::image)) picture = *first;
        if (block::count_from_head(*facet) >= 2) {
            const Cell* size = block::get_cell(*facet, facet->series_head() + 1);
            if (size->is(TypeId::pair)) width = units::to_pixels(size->pair_x()), height = units::to_pixels(size->pair_y());
        }
    }
    GdkPixbuf* pixbuf = picture.is(TypeId::image) ? pixbuf_of(picture) : nullptr;
    if (pixbuf == nullptr) {
        gtk_button_set_image(button, nullptr);
        return;
    }
    if (width > 0 && height > 0) {
        GdkPixbuf* scaled = gdk_pixbuf_scale_simple(pixbuf, to_units(width), to_units(height), GDK_INTERP_BILINEAR);
        g_object_unref(pixbuf);
        pixbuf = scaled;
    }
    gtk_button_set_image(button, gtk_image_new_from_pixbuf(pixbuf));
    gtk_button_set_always_show_image(button, TRUE);
    if (pixbuf != nullptr) g_object_unref(pixbuf);
    place_label(widget, face);
}

void apply_button(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    if ((bits & widgets::change_bit(Facet::text)) != 0) set_label(widget, face);
    if ((bits & (widgets::change_bit(Facet::para) | widgets::change_bit(Facet::type))) != 0) place_label(widget, face);
    if ((bits & widgets::change_bit(Facet::image)) != 0 && widgets::get(widget)->type != FaceType::check &&
        widgets::get(widget)->type != FaceType::radio)
        set_image(widget, face);
    if ((bits & (widgets::change_bit(Facet::color) | widgets::change_bit(Facet::font))) != 0)
        set_widget_colours(native(widget), face);
}

void apply_toggle(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    apply_button(widget, face, bits);
    if ((bits & (widgets::change_bit(Facet::data) | widgets::change_bit(Facet::flags))) != 0)
        show_state(native(widget), state_of_data(face, tri_state(widget)));
}

void apply_radio(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    apply_button(widget, face, bits);
    if ((bits & widgets::change_bit(Facet::data)) == 0) return;
    GtkWidget* w = native(widget);
    const int state = state_of_data(face, false);
    {
        const Quiet quiet;
        if (state == 1) {
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), TRUE);
        } else if (auto* partner = static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(w), partner_key))) {
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(partner), TRUE);
        }
    }
    // a radio the program unchecks tells its face (not when it is made)
    if (state != 1 && bits != all_facets) send_always(widget, event::Type::change);
}

}  // namespace

const Kind button_kind{make_button, apply_button, button_text};
const Kind toggle_kind{make_toggle, apply_toggle, button_text};
const Kind check_kind{make_check, apply_toggle, button_text};
const Kind radio_kind{make_radio, apply_radio, button_text};

}  // namespace kiv::gtk_faces
