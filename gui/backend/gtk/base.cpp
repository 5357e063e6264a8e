// Drawn faces: panel, base and rich-text. Each is an event box without a
// window of its own (so that it paints into its window's surface, and a
// translucent colour lets what is behind show through) holding the GtkFixed
// of its children. Its paint session paints the face's colour, its image
// and its text (a rich-text face's with its styles), then its draw block; a
// base or rich-text face without one gets a `drawing` event, whose actor
// draws through draw-face on the same Cairo context. Input methods reach a
// focused base face as `ime` events.
#include "gui/backend/gtk/faces.h"

#include "gui/backend/camera_gtk.h"
#include "gui/backend/draw/draw.h"
#include "gui/backend/message_loop.h"
#include "gui/backend/text/face_box.h"
#include "gui/backend/text/font.h"
#include "gui/backend/units.h"
#include "runtime/core/collector.h"
#include "runtime/core/runtime_error.h"
#include "runtime/evaluator/callback.h"

#include <algorithm>
#include <memory>

namespace kiv::gtk_faces {

namespace {

// The paint session open now: draw-face draws on its context.
struct Session {
    std::int32_t widget = 0;
    cairo_t* cr = nullptr;
};
Session session;
bool painting = false;

constexpr GdkEventMask input_events = static_cast<GdkEventMask>(
    GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
    GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_ENTER_NOTIFY_MASK | GDK_SCROLL_MASK |
    GDK_SMOOTH_SCROLL_MASK | GDK_FOCUS_CHANGE_MASK);

// Runs a draw block on cr; its faults are reported and end only the block.
void run_block(cairo_t* cr, const Cell& commands) {
    Cell error{};
    callback::guarded([&] { draw::draw_on_cairo(cr, commands, draw::OnError::print); }, error);
}

gboolean on_draw(GtkWidget* w, cairo_t* cr, gpointer) {
    const std::int32_t widget = widget_of(w);
    Cell face{};
    if (widget == 0 || !widgets::face_of(widget, face)) return FALSE;
    paint_face(widget, face, cr, gtk_widget_get_allocated_width(w), gtk_widget_get_allocated_height(w));
    return FALSE;  // the children are drawn after
}

// --- Input methods ----------------------------------------------------------------

// A focused base face takes its keys through an input method: composed text
// arrives as `ime` events (the key events still reach it first).
const char* const im_key = "kiv-im";

void on_commit(GtkIMContext*, const gchar* text, gpointer data) {
    const std::int32_t widget = GPOINTER_TO_INT(data);
    if (widgets::get(widget) == nullptr || text == nullptr) return;
    // each character of the composed text: an ime event carrying it
    for (const gchar* p = text; *p != '\0'; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        event::Message m{};
        m.widget = widget;
        m.kind = event::Message::Kind::text;
        m.code = c;
        message_loop::make_event(m, 0, event::Type::ime);
    }
}

const char* const composing_key = "kiv-composing";

void on_preedit(GtkIMContext* im, gpointer data, bool started) {
    (void)im;
    g_object_set_data(G_OBJECT(data), composing_key, GINT_TO_POINTER(started ? 1 : 0));
}
void on_preedit_start(GtkIMContext* im, gpointer data) { on_preedit(im, data, true); }
void on_preedit_end(GtkIMContext* im, gpointer data) { on_preedit(im, data, false); }

// Keys that type a character are the face's key events already; the input
// method sees the others (dead keys, compose sequences) and what comes
// while it composes.
gboolean on_im_key(GtkWidget* w, GdkEventKey* key, gpointer) {
    auto* im = static_cast<GtkIMContext*>(g_object_get_data(G_OBJECT(w), im_key));
    if (im == nullptr) return FALSE;
    const bool composing = g_object_get_data(G_OBJECT(w), composing_key) != nullptr;
    if (!composing && gdk_keyval_to_unicode(key->keyval) != 0) return FALSE;
    return gtk_im_context_filter_keypress(im, key);
}

gboolean on_im_focus_in(GtkWidget* w, GdkEventFocus*, gpointer) {
    if (auto* im = static_cast<GtkIMContext*>(g_object_get_data(G_OBJECT(w), im_key))) gtk_im_context_focus_in(im);
    return FALSE;
}

gboolean on_im_focus_out(GtkWidget* w, GdkEventFocus*, gpointer) {
    if (auto* im = static_cast<GtkIMContext*>(g_object_get_data(G_OBJECT(w), im_key))) gtk_im_context_focus_out(im);
    return FALSE;
}

void on_realize(GtkWidget* w, gpointer) {
    if (auto* im = static_cast<GtkIMContext*>(g_object_get_data(G_OBJECT(w), im_key)))
        gtk_im_context_set_client_window(im, gtk_widget_get_window(w));
}

void on_unrealize(GtkWidget* w, gpointer) {
    if (auto* im = static_cast<GtkIMContext*>(g_object_get_data(G_OBJECT(w), im_key)))
        gtk_im_context_set_client_window(im, nullptr);
}

void add_input_method(GtkWidget* box, std::int32_t widget) {
    GtkIMContext* im = gtk_im_multicontext_new();
    g_object_set_data_full(G_OBJECT(box), im_key, im, g_object_unref);
    g_signal_connect(im, "commit", G_CALLBACK(on_commit), GINT_TO_POINTER(widget));
    g_signal_connect(im, "preedit-start", G_CALLBACK(on_preedit_start), box);
    g_signal_connect(im, "preedit-end", G_CALLBACK(on_preedit_end), box);
    g_signal_connect(box, "key-press-event", G_CALLBACK(on_im_key), nullptr);
    g_signal_connect(box, "key-release-event", G_CALLBACK(on_im_key), nullptr);
    g_signal_connect(box, "focus-in-event", G_CALLBACK(on_im_focus_in), nullptr);
    g_signal_connect(box, "focus-out-event", G_CALLBACK(on_im_focus_out), nullptr);
    g_signal_connect(box, "realize", G_CALLBACK(on_realize), nullptr);
    g_signal_connect(box, "unrealize", G_CALLBACK(on_unrealize), nullptr);
}

// --- Scroll bars of scrollable faces -------------------------------------------------

// A face made with the scrollable flag has a bar at its right edge and one
// at its bottom; the language moves them (update-scroller): the user's
// scrolling reaches it as `scroll` events (the key the kind of step, picked
// the position the thumb was dragged to) and moves nothing by itself.
const char* const vertical_key = "kiv-vertical-bar";
const char* const horizontal_key = "kiv-horizontal-bar";

GtkWidget* bar_of(std::int32_t widget, bool vertical) {
    GtkWidget* w = native(widget);
    return w != nullptr ? static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(w), vertical ? vertical_key : horizontal_key))
                        : nullptr;
}

gboolean on_bar_moved(GtkRange* range, GtkScrollType scroll, gdouble value, gpointer vertical) {
    const std::int32_t widget = widget_of(GTK_WIDGET(range));
    if (widget == 0) return TRUE;
    std::int32_t code = -1;
    switch (scroll) {
    case GTK_SCROLL_STEP_BACKWARD: case GTK_SCROLL_STEP_UP: case GTK_SCROLL_STEP_LEFT: code = 0; break;
    case GTK_SCROLL_STEP_FORWARD: case GTK_SCROLL_STEP_DOWN: case GTK_SCROLL_STEP_RIGHT: code = 1; break;
    case GTK_SCROLL_PAGE_BACKWARD: case GTK_SCROLL_PAGE_UP: case GTK_SCROLL_PAGE_LEFT: code = 2; break;
    case GTK_SCROLL_PAGE_FORWARD: case GTK_SCROLL_PAGE_DOWN: case GTK_SCROLL_PAGE_RIGHT: code = 3; break;
    case GTK_SCROLL_JUMP: code = 5; break;
    default: return TRUE;
    }
    GtkAdjustment* a = gtk_range_get_adjustment(range);
    const double top = gtk_adjustment_get_upper(a) - gtk_adjustment_get_page_size(a);
    const auto position = static_cast<std::int32_t>(std::clamp(value, gtk_adjustment_get_lower(a), std::max(top, 1.0)));
    event::Message m{};
    m.widget = widget;
    m.kind = event::Message::Kind::scroll;
    m.delta = code;
    m.vertical = vertical != nullptr;
    message_loop::make_event(m, static_cast<std::uint32_t>(position) & 0xFFFF, event::Type::scroll);
    return TRUE;  // the bar moves when the language says so
}

constexpr int bar_width = 12;

// The bars along the right and bottom edges of the face's size.
void place_bars(std::int32_t widget) {
    GtkWidget* fixed = container(widget);
    int w = 0, h = 0;
    face_size(widget, w, h);
    if (GtkWidget* v = bar_of(widget, true)) {
        gtk_fixed_move(GTK_FIXED(fixed), v, std::max(0, w - bar_width), 0);
        gtk_widget_set_size_request(v, bar_width, std::max(0, h - bar_width));
    }
    if (GtkWidget* b = bar_of(widget, false)) {
        gtk_fixed_move(GTK_FIXED(fixed), b, 0, std::max(0, h - bar_width));
        gtk_widget_set_size_request(b, std::max(0, w - bar_width), bar_width);
    }
}

void add_bars(GtkWidget* box, GtkWidget* fixed) {
    for (const bool vertical : {true, false}) {
        GtkWidget* bar = gtk_scrollbar_new(vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL,
                                           gtk_adjustment_new(1, 1, 2, 1, 1, 1));
        g_signal_connect(bar, "change-value", G_CALLBACK(on_bar_moved), vertical ? box : nullptr);
        gtk_fixed_put(GTK_FIXED(fixed), bar, 0, 0);
        gtk_widget_show(bar);
        g_object_set_data(G_OBJECT(box), vertical ? vertical_key : horizontal_key, bar);
    }
}

// --- The factory --------------------------------------------------------------------

GtkWidget* make_drawn(std::int32_t widget, const toolkit::WidgetSpec& spec, const Cell&) {
    GtkWidget* box = gtk_event_box_new();
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(box), FALSE);
    gtk_widget_add_events(box, input_events);
    GtkWidget* fixed = fixed_new();
    gtk_container_add(GTK_CONTAINER(box), fixed);
    gtk_widget_show(fixed);
    g_object_set_data(G_OBJECT(box), fixed_key, fixed);
    g_signal_connect(box, "draw", G_CALLBACK(on_draw), nullptr);
    if ((spec.face_flags & widgets::face_flag::scrollable) != 0) add_bars(box, fixed);
    if (spec.type != FaceType::panel) {
        gtk_widget_set_can_focus(box, TRUE);
        connect_focus(box);
        if (spec.type == FaceType::base) add_input_method(box, widget);
    }
    return box;
}

// Drawn faces show their facets in their paint: any change repaints them.
// Their scroll bars follow their size.
void apply_drawn(std::int32_t widget, const Cell&, std::uint32_t bits) {
    if ((bits & widgets::change_bit(Facet::size)) != 0) place_bars(widget);
}

bool drawn_text(std::int32_t widget, std::int32_t, std::string& out) {
    Cell face{};
    if (!widgets::face_of(widget, face)) return false;
    out = text_of(face);
    return true;
}

}  // namespace

void scroll_bar(std::int32_t widget, const toolkit::ScrollBar& bar) {
    GtkWidget* w = bar_of(widget, bar.vertical);
    if (w == nullptr) return;
    GtkAdjustment* a = gtk_range_get_adjustment(GTK_RANGE(w));
    const double lower = bar.minimum;
    const double upper = std::max<double>(bar.maximum + 1, lower + 1);
    if (bar.kind == 4) {
        gtk_widget_set_visible(w, bar.visible);
    } else if (bar.kind == 0) {
        gtk_adjustment_set_value(a, std::clamp<double>(bar.position, lower, upper));
    } else {
        gtk_adjustment_configure(a, gtk_adjustment_get_value(a), lower, upper, 1, std::max(1, bar.page),
                                 std::clamp<double>(bar.page, 1, upper - lower));
    }
}

void face_size(std::int32_t widget, int& width, int& height) {
    Cell face{};
    std::int32_t x = 0, y = 0;
    units::pixels_of(widgets::face_of(widget, face) ? widgets::facet(face, Facet::size) : nullptr, x, y);
    width = std::max(to_units(x), 0);
    height = std::max(to_units(y), 0);
}

// The face itself under its drawing: its image stretched to its size, then
// (but for a window) its text laid out in its font and para.
void paint_content(std::int32_t widget, const Cell& face, cairo_t* cr, double width, double height) {
    const Cell* image = widgets::facet(face, Facet::image);
    if (image != nullptr && image->is(TypeId::image)) {
        if (GdkPixbuf* pixbuf = pixbuf_of(*image)) {
            const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
            cairo_save(cr);
            cairo_scale(cr, width / w, height / h);
            gdk_cairo_set_source_pixbuf(cr, pixbuf, 0, 0);
            cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);  // edges stay opaque
            cairo_paint(cr);
            cairo_restore(cr);
            g_object_unref(pixbuf);
        }
    }
    const Cell* text = widgets::facet(face, Facet::text);
    if (widgets::get(widget)->type == FaceType::window || text == nullptr || !text->is(TypeId::string)) return;
    Cell error{};
    callback::guarded([&] {
        text::StyleFault fault;
        std::unique_ptr<text::TextBox> made;
        text::TextBox* box = nullptr;
        if (widgets::get(widget)->type == FaceType::rich_text) {
            box = text::kept_box(face, fault);
        } else {
            text::FaceBox laid = text::layout_face(face);
            made = std::move(laid.box);
            box = made.get();
        }
        if (box == nullptr) return;
        const text::FontSpec font = text::font_spec(widgets::facet(face, Facet::font));
        box->paint(cr, {0, 0}, font.has_colour ? font.colour : 0);
    }, error);
}

void paint_face(std::int32_t widget, const Cell& face, cairo_t* cr, int width, int height) {
    if (painting || widgets::get(widget) == nullptr) return;  // a paint asked for inside a paint draws nothing
    painting = true;
    const collector::Root keep(face);
    cairo_save(cr);
    // draw blocks are in logical units; cr is in the toolkit's
    const double factor = units::dpi_factor() / scale();
    cairo_scale(cr, factor, factor);
    std::uint32_t colour = 0;
    if (colour_of(face, colour)) {
        text::set_colour(cr, colour);
        cairo_rectangle(cr, 0, 0, width / factor, height / factor);
        cairo_fill(cr);
    }
    const FaceType type = widgets::get(widget)->type;
    if (type == FaceType::camera) camera_gtk::paint(cr, widget, width / factor, height / factor);  // its stream
    else paint_content(widget, face, cr, width / factor, height / factor);
    const Cell* draw_facet = widgets::facet(face, Facet::draw);
    if (draw_facet != nullptr && draw_facet->is(TypeId::block)) {
        run_block(cr, *draw_facet);
    } else if (type == FaceType::base || type == FaceType::rich_text || type == FaceType::camera) {
        // drawn by the language: draw-face draws on this context while the event lasts
        const Session saved = session;
        session = Session{widget, cr};
        event::Message m{};
        m.widget = widget;
        message_loop::make_event(m, 0, event::Type::drawing);
        session = saved;
        runtime::clear_thrown();
    }
    cairo_restore(cr);
    painting = false;
}

void draw_on_session(std::int32_t widget, const Cell& commands) {
    if (session.widget != widget || session.cr == nullptr) return;
    // draw-face is called inside the paint: the guard is the session's
    const bool was = painting;
    run_block(session.cr, commands);
    painting = was;
}

const Kind panel_kind{make_drawn, apply_drawn, drawn_text};
const Kind base_kind{make_drawn, apply_drawn, drawn_text};

}  // namespace kiv::gtk_faces
