// Lists: text-list (a list view), drop-list (a choice box) and drop-down
// (a choice box the user may type into). Their entries are the text values
// of `data` (a block, hash or map: other values take no entry); `selected`
// is the 1-based index of the chosen entry, -1 or none for no choice. A
// user's choice makes `select` (its index), then, unless the select was
// stopped, `change`; choosing the entry already chosen makes nothing.
#include "gui/backend/gtk/faces.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "gui/backend/text/font.h"

#include <algorithm>
#include <initializer_list>

#include <string>
#include <vector>

namespace kiv::gtk_faces {

namespace {

// The texts of a list's `data`, in order.
std::vector<std::string> entries_of(const Cell& face) {
    std::vector<std::string> out;
    const Cell* data = widgets::facet(face, Facet::data);
    if (data == nullptr) return out;
    if (data->is(TypeId::block) || data->is(TypeId::hash)) {
        const Cell blk = *data;
        const std::int32_t n = block::count_from_head(blk);
        out.reserve(static_cast<std::size_t>(n));
        for (std::int32_t i = 0; i < n; ++i) {
            const Cell* c = block::get_cell(blk, blk.series_head() + i);
            if (widgets::string_like(*c)) out.push_back(string::utf8_of(*c));
        }
    } else if (data->is(TypeId::map)) {
        const NodeId node = map::block_of(*data);
        for (std::int32_t i = 1; i < block::tail_of(node); i += 2) {
            const Cell* c = block::cell_at(node, i);
            if (widgets::string_like(*c)) out.push_back(string::utf8_of(*c));
        }
    }
    return out;
}

// `selected` as an index from 0, -1 for none; a value that chooses no
// entry (no integer, or one below 1) becomes -1 in the face.
int selected_index(const Cell& face) {
    const Cell* sel = widgets::facet(face, Facet::selected);
    if (sel == nullptr || !sel->is(TypeId::integer) || sel->int_value() < 1) {
        Cell none_chosen{};
        integer::make_at(none_chosen, -1);
        set_facet(face, Facet::selected, none_chosen);
        return -1;
    }
    return sel->int_value() >= 1 && sel->int_value() <= 0x7FFFFFFF ? static_cast<int>(sel->int_value() - 1) : -1;
}

// The user chose entry index (from 0): select, then change unless select
// was stopped; nothing when it is the entry chosen already.
void chosen(std::int32_t widget, int index) {
    Cell face{};
    if (quiet() || index < 0 || !widgets::face_of(widget, face)) return;
    if (integer_of(face, Facet::selected, -1) == index + 1) return;
    const int answer = send(widget, event::Type::select, static_cast<std::uint32_t>(index) & 0xFFFF);
    if (!widgets::face_of(widget, face) || integer_of(face, Facet::selected, -1) == index + 1) return;
    Cell now{};
    integer::make_at(now, index + 1);
    set_facet(face, Facet::selected, now);
    if (answer != 0) send(widget, event::Type::change);
}

std::string row_text(GtkTreeModel* model, int index) {
    GtkTreeIter it;
    if (index < 0 || !gtk_tree_model_iter_nth_child(model, &it, nullptr, index)) return {};
    gchar* text = nullptr;
    gtk_tree_model_get(model, &it, 0, &text, -1);
    std::string out = text != nullptr ? text : "";
    g_free(text);
    return out;
}

// --- text-list ----------------------------------------------------------------------

GtkTreeView* view_of(std::int32_t widget) { return GTK_TREE_VIEW(inner(widget)); }

void show_list_selection(std::int32_t widget, const Cell& face);

// Only the user chooses entries: a list view that selects its first row as
// it takes the focus is put back to its face's choice.
bool user_input = false;
gboolean on_input_starts(GtkWidget*, GdkEvent*, gpointer) {
    user_input = true;
    return FALSE;
}
gboolean on_input_ends(GtkWidget*, GdkEvent*, gpointer) {
    user_input = false;
    return FALSE;
}

void on_list_changed(GtkTreeSelection* selection, gpointer) {
    const std::int32_t widget = widget_of(GTK_WIDGET(gtk_tree_selection_get_tree_view(selection)));
    Cell face{};
    if (quiet() || widget == 0 || !widgets::face_of(widget, face)) return;
    if (!user_input) {
        const Quiet quiet;
        show_list_selection(widget, face);
        return;
    }
    GtkTreeModel* model = nullptr;
    GtkTreeIter it;
    if (!gtk_tree_selection_get_selected(selection, &model, &it)) return;
    GtkTreePath* path = gtk_tree_model_get_path(model, &it);
    const int index = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    chosen(widget_of(GTK_WIDGET(gtk_tree_selection_get_tree_view(selection))), index);
}

GtkWidget* make_list(std::int32_t, const toolkit::WidgetSpec& spec, const Cell&) {
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scrolled), 8);  // room for its rows, however small
    if ((spec.face_flags & widgets::face_flag::no_border) == 0)
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(view), FALSE);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(view), FALSE);
    GtkCellRenderer* cell = gtk_cell_renderer_text_new();
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, nullptr, cell, "text", 0, nullptr);
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    gtk_widget_show(view);
    g_object_set_data(G_OBJECT(scrolled), inner_key, view);
    g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), "changed", G_CALLBACK(on_list_changed), nullptr);
    connect_focus(view);
    for (const char* input : {"button-press-event", "key-press-event"}) {
        g_signal_connect(view, input, G_CALLBACK(on_input_starts), nullptr);
        g_signal_connect_after(view, input, G_CALLBACK(on_input_ends), nullptr);
    }
    return scrolled;
}

void show_list_selection(std::int32_t widget, const Cell& face) {
    GtkTreeView* view = view_of(widget);
    GtkTreeSelection* selection = gtk_tree_view_get_selection(view);
    const int index = selected_index(face);
    GtkTreeIter it;
    if (index >= 0 && gtk_tree_model_iter_nth_child(gtk_tree_view_get_model(view), &it, nullptr, index))
        gtk_tree_selection_select_iter(selection, &it);
    else
        gtk_tree_selection_unselect_all(selection);
}

void apply_list(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    GtkTreeView* view = view_of(widget);
    if ((bits & widgets::change_bit(Facet::data)) != 0) {
        GtkListStore* store = GTK_LIST_STORE(gtk_tree_view_get_model(view));
        g_object_ref(store);
        gtk_tree_view_set_model(view, nullptr);  // filled detached: no signal per row
        gtk_list_store_clear(store);
        for (const std::string& e : entries_of(face)) gtk_list_store_insert_with_values(store, nullptr, -1, 0, e.c_str(), -1);
        gtk_tree_view_set_model(view, GTK_TREE_MODEL(store));
        g_object_unref(store);
    }
    if ((bits & (widgets::change_bit(Facet::data) | widgets::change_bit(Facet::selected))) != 0)
        show_list_selection(widget, face);
    if ((bits & (widgets::change_bit(Facet::color) | widgets::change_bit(Facet::font))) != 0)
        set_widget_colours(GTK_WIDGET(view), face);
}

bool list_text(std::int32_t widget, std::int32_t index, std::string& out) {
    GtkTreeView* view = view_of(widget);
    if (index < 0) {
        GtkTreeModel* model = nullptr;
        GtkTreeIter it;
        if (!gtk_tree_selection_get_selected(gtk_tree_view_get_selection(view), &model, &it)) return false;
        GtkTreePath* path = gtk_tree_model_get_path(model, &it);
        index = gtk_tree_path_get_indices(path)[0];
        gtk_tree_path_free(path);
    }
    if (index >= gtk_tree_model_iter_n_children(gtk_tree_view_get_model(view), nullptr)) return false;
    out = row_text(gtk_tree_view_get_model(view), index);
    return true;
}

// --- drop-list and drop-down --------------------------------------------------------

GtkComboBox* combo_of(std::int32_t widget) { return GTK_COMBO_BOX(native(widget)); }

void on_combo_changed(GtkComboBox* combo, gpointer) {
    const std::int32_t widget = widget_of(GTK_WIDGET(combo));
    const int index = gtk_combo_box_get_active(combo);
    if (index >= 0) chosen(widget, index);
    else if (gtk_combo_box_get_has_entry(combo)) send(widget, event::Type::change, 0xFFFF);  // typed into
}

GtkWidget* make_drop(std::int32_t, const toolkit::WidgetSpec& spec, const Cell&) {
    const bool typed = spec.type == FaceType::drop_down;
    GtkWidget* combo = typed ? gtk_combo_box_text_new_with_entry() : gtk_combo_box_text_new();
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(combo));
    for (GList* c = cells; c != nullptr; c = c->next)
        if (GTK_IS_CELL_RENDERER_TEXT(c->data)) g_object_set(c->data, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
    g_list_free(cells);
    g_signal_connect(combo, "changed", G_CALLBACK(on_combo_changed), nullptr);
    GtkWidget* focused = typed ? gtk_bin_get_child(GTK_BIN(combo)) : combo;
    if (typed) gtk_entry_set_width_chars(GTK_ENTRY(focused), 0);
    connect_focus(focused);
    if (typed) g_object_set_data(G_OBJECT(combo), inner_key, focused);
    return combo;
}

void apply_drop(std::int32_t widget, const Cell& face, std::uint32_t bits) {
    GtkComboBox* combo = combo_of(widget);
    const bool typed = gtk_combo_box_get_has_entry(combo);
    const std::uint32_t data = widgets::change_bit(Facet::data);
    if ((bits & data) != 0) {
        const Cell* d = widgets::facet(face, Facet::data);
        if (d != nullptr && (d->is(TypeId::block) || d->is(TypeId::hash) || d->is(TypeId::map))) {
            gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(combo));
            for (const std::string& e : entries_of(face)) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), e.c_str());
        }
    }
    const Cell* caption = widgets::facet(face, Facet::text);
    const bool captioned = typed && caption != nullptr && caption->is(TypeId::string);
    if (captioned && (bits & (data | widgets::change_bit(Facet::text))) != 0) {
        GtkEntry* entry = GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo)));
        const std::string text = text_of(face);
        if (text != gtk_entry_get_text(entry)) gtk_entry_set_text(entry, text.c_str());
    } else if ((bits & (data | widgets::change_bit(Facet::selected))) != 0) {
        const Cell* sel = widgets::facet(face, Facet::selected);
        if (sel != nullptr && sel->is(TypeId::integer)) {
            const int index = selected_index(face);
            if (index < gtk_tree_model_iter_n_children(gtk_combo_box_get_model(combo), nullptr))
                gtk_combo_box_set_active(combo, index);
        } else if (!typed) {
            gtk_combo_box_set_active(combo, -1);
        }
    }
    if ((bits & (widgets::change_bit(Facet::color) | widgets::change_bit(Facet::font))) != 0)
        set_widget_colours(GTK_WIDGET(combo), face);
}

bool drop_text(std::int32_t widget, std::int32_t index, std::string& out) {
    GtkComboBox* combo = combo_of(widget);
    if (index >= 0) {
        if (index >= gtk_tree_model_iter_n_children(gtk_combo_box_get_model(combo), nullptr)) return false;
        out = row_text(gtk_combo_box_get_model(combo), index);
        return true;
    }
    if (gtk_combo_box_get_has_entry(combo)) {
        out = gtk_entry_get_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo))));
        return true;
    }
    const int active = gtk_combo_box_get_active(combo);
    if (active < 0) return false;
    out = row_text(gtk_combo_box_get_model(combo), active);
    return true;
}

// --- Entries changed in place ------------------------------------------------------

// The entries of a list widget or a choice box.
struct Rows {
    GtkListStore* store = nullptr;        // a list view's
    GtkComboBoxText* combo = nullptr;     // a choice box's

    int count() const {
        return gtk_tree_model_iter_n_children(store != nullptr ? GTK_TREE_MODEL(store)
                                                               : gtk_combo_box_get_model(GTK_COMBO_BOX(combo)),
                                              nullptr);
    }
    void insert(int at, const std::string& text) const {
        if (store != nullptr) gtk_list_store_insert_with_values(store, nullptr, at, 0, text.c_str(), -1);
        else gtk_combo_box_text_insert_text(combo, at, text.c_str());
    }
    void remove(int at) const {
        if (combo != nullptr) return gtk_combo_box_text_remove(combo, at);
        GtkTreeIter it;
        if (gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(store), &it, nullptr, at)) gtk_list_store_remove(store, &it);
    }
};

Rows rows_of(std::int32_t widget) {
    Rows rows;
    if (widgets::get(widget)->type == FaceType::text_list) rows.store = GTK_LIST_STORE(gtk_tree_view_get_model(view_of(widget)));
    else rows.combo = GTK_COMBO_BOX_TEXT(native(widget));
    return rows;
}

// The text values among the cells from..to (absolute indexes) of a block.
int texts_in(const Cell& blk, std::int32_t from, std::int32_t to) {
    int n = 0;
    for (std::int32_t i = std::max(from, 0); i < to; ++i)
        if (widgets::string_like(*block::get_cell(blk, i))) ++n;
    return n;
}

bool is_action(const Cell& action, std::initializer_list<const char*> names) {
    if (!word::is_any_word(action.type())) return false;
    for (const char* n : names)
        if (text::is_word(action, n)) return true;
    return false;
}

}  // namespace

void change_list(std::int32_t widget, const Cell& face, const Cell& series, const Cell& action, std::int32_t index,
                 std::int32_t part) {
    const widgets::Widget* w = widgets::get(widget);
    if (w == nullptr || w->native == nullptr) return;
    const Quiet quiet;
    const Cell* data = widgets::facet(face, Facet::data);
    const Rows rows = rows_of(widget);
    const auto whole = [&] {
        if (w->type == FaceType::text_list) apply_list(widget, face, widgets::change_bit(Facet::data));
        else apply_drop(widget, face, widgets::change_bit(Facet::data));
    };
    // the entries follow the change one by one when they showed the data before it
    const bool same = data != nullptr && (data->is(TypeId::block) || data->is(TypeId::hash)) &&
                      series.is(data->type()) && series.series_node() == data->series_node();
    if (!same || index < 0 || part < 0) return whole();
    const Cell d = *data;
    const std::int32_t head = d.series_head();
    const std::int32_t tail = head + block::count_from_head(d);
    const int total = texts_in(d, head, tail);
    const int at = texts_in(d, head, index);
    const std::int32_t end = std::min(index + part, tail);
    if (is_action(action, {"remove", "take", "clear"})) {
        const int going = texts_in(d, index, end);
        if (rows.count() != total || index < head) return whole();
        for (int k = 0; k < going; ++k) rows.remove(at);
    } else if (is_action(action, {"inserted", "appended"})) {
        if (rows.count() + texts_in(d, index, end) != total || index < head) return whole();
        int place = at;
        for (std::int32_t i = index; i < end; ++i) {
            const Cell* c = block::get_cell(d, i);
            if (widgets::string_like(*c)) rows.insert(place++, string::utf8_of(*c));
        }
    } else {
        return whole();
    }
    if (w->type == FaceType::text_list) show_list_selection(widget, face);
}

const Kind list_kind{make_list, apply_list, list_text};
const Kind drop_kind{make_drop, apply_drop, drop_text};

}  // namespace kiv::gtk_faces
