// The faces' widgets on GTK, inside the toolkit module: one factory per
// face type, which makes the native widget and connects its signals, and
// one applier, which loads facets into it (all of them when it is made, the
// changed ones later). Widgets live in their parent's GtkFixed at the face's
// offset and size; drawn faces (window, panel, base, rich-text) paint their
// colour and draw block themselves.
#pragma once

#include "gui/backend/gtk/native.h"
#include "gui/backend/toolkit.h"
#include "gui/backend/widgets.h"
#include "runtime/datatypes/event.h"

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

namespace kiv::gtk_faces {

using widgets::Facet;
using widgets::FaceType;

inline constexpr const char* widget_key = "kiv-widget";
// The widget inside the face's own one that does the work (a label inside
// an event box, a tab strip inside a panel), when there is one.
inline constexpr const char* inner_key = "kiv-inner";
// The GtkFixed that holds a container face's children.
inline constexpr const char* fixed_key = "kiv-fixed";

// A new container for faces: children get exactly the size asked for them.
GtkWidget* fixed_new();

// Every change bit: a new widget takes all its facets.
inline constexpr std::uint32_t all_facets = 0xFFFFFFFF;

// Device pixels per GTK unit.
int scale();
// Pixels in GTK units.
int to_units(std::int32_t pixels);
std::int32_t to_pixels(int units);

GtkWidget* inner(std::int32_t widget);
// The GtkFixed that holds the widget's children, or null.
GtkWidget* container(std::int32_t widget);
// Marks w as the native widget of widget (events find the face through it).
void tag(GtkWidget* w, std::int32_t widget);

// Facet readers. A face's facet may hold any value: each reader takes what
// it understands and gives its default otherwise.
std::string text_of(const Cell& face);
bool logic_of(const Cell& face, Facet f, bool otherwise);
// The face's colour as r | g << 8 | b << 16 | t << 24; false when it is no tuple.
bool colour_of(const Cell& face, std::uint32_t& packed);
// An integer! facet, or otherwise.
std::int64_t integer_of(const Cell& face, Facet f, std::int64_t otherwise);
// A float!, percent! or integer! clamped to 0..1; -1 for other values.
double ratio_facet(const Cell& face, Facet f);
// Sets a facet without telling the face (the widget changed it).
void set_facet(const Cell& face, Facet f, const Cell& value);
// The face's `options` value of a key (a set-word or word key), or null.
const Cell* option_of(const Cell& face, const char* key);

// A widget's own event (click, change, focus ...): answers 1 (done) or 0 (stop).
int send(std::int32_t widget, event::Type type, std::uint32_t flags = 0);
// The same while our own updates are quiet: an event the program's change
// itself makes.
int send_always(std::int32_t widget, event::Type type, std::uint32_t flags = 0);
// The face's window's `selected` := the face of widget (the last focused).
void note_focus(std::int32_t widget);

// w tells its face's focus (focus, unfocus) and, taking it, becomes its
// window's `selected`.
void connect_focus(GtkWidget* w);

// Signals that our own updates raise make no events while this lives.
class Quiet {
public:
    Quiet();
    ~Quiet();
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;
};
bool quiet();

// What a face type's widget does.
struct Kind {
    // Makes the native widget (not yet placed nor shown); null when it cannot.
    GtkWidget* (*make)(std::int32_t widget, const toolkit::WidgetSpec& spec, const Cell& face);
    // Loads the facets of bits that belong to the type (text, data,
    // selected, flags, image, colour ...); the generic ones (offset, size,
    // enabled?, visible?) are the caller's.
    void (*apply)(std::int32_t widget, const Cell& face, std::uint32_t bits);
    // The text the widget shows (index -1) or of its entry index; false when none.
    bool (*text)(std::int32_t widget, std::int32_t index, std::string& out);
};
const Kind& kind_of(FaceType type);

// The kinds, by family.
extern const Kind window_kind, panel_kind, group_box_kind, tab_panel_kind;
extern const Kind base_kind;
extern const Kind button_kind, toggle_kind, check_kind, radio_kind;
extern const Kind field_kind, area_kind, text_kind;
extern const Kind list_kind, drop_kind;
extern const Kind progress_kind, slider_kind, scroller_kind, calendar_kind;

// Drawn faces: paints the face's colour, then its draw block (a base face
// without one gets a `drawing` event, draw-face drawing on cr); a rich-text
// face its text-box. Errors of the block are reported and end the block.
void paint_face(std::int32_t widget, const Cell& face, cairo_t* cr, int width, int height);
// draw-face: commands on the paint session open for widget.
void draw_on_session(std::int32_t widget, const Cell& commands);
// The size a face asked for, in GTK units (its widget's allocation may lag).
void face_size(std::int32_t widget, int& width, int& height);

// A panel made in a tab panel covers its display area: its offset and size
// are set to it.
void fit_page(std::int32_t parent, const Cell& face, toolkit::WidgetSpec& spec);

// Window services.
void show_window(std::int32_t widget);
void apply_window(std::int32_t widget, const Cell& face, std::uint32_t bits);

// The style sheet that lets widgets take their face's size (loaded once).
void load_style_sheet();
// A widget's own colours (background; text colour from its font), through a
// style provider of its own.
void set_widget_colours(GtkWidget* w, const Cell& face);

// The toolkit table's entries for widgets (toolkit.h says what each does).
bool make_widget(std::int32_t widget, const toolkit::WidgetSpec& spec, const Cell& face);
void update(std::int32_t widget, const Cell& face, std::uint32_t bits);
void change_list(std::int32_t widget, const Cell& face, const Cell& series, const Cell& action, std::int32_t index,
                 std::int32_t part);
void scroll_bar(std::int32_t widget, const toolkit::ScrollBar& bar);
void destroy(std::int32_t widget);
void show(std::int32_t widget);
std::int32_t read_text(std::int32_t widget, std::int32_t index, char* out, std::int32_t capacity);
bool to_image(std::int32_t widget, const Cell& face, Cell& out);

// An image!'s pixels as a new pixbuf (null for an image without pixels).
GdkPixbuf* pixbuf_of(const Cell& image);
// The mouse cursor over the face's widget, from its `options` (`cursor`: a
// word or an image!).
void set_cursor(std::int32_t widget, const Cell& face);
// The cursor of the face under the pointer shown on the window it moves in.
void show_cursor(std::int32_t widget, GdkWindow* window);

// Live native widgets (made and not yet destroyed): the tests count them.
std::int32_t live_natives();
void count_native(GtkWidget* w, std::int32_t widget);

}  // namespace kiv::gtk_faces
