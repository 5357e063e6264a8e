// The toolkit under the GUI: the GTK module (kiv-gtk.so beside the program,
// opened with dlopen at the first GUI use) or the recording toolkit that
// tests select with KIV_GUI=record, which needs no display. The in-process
// half of the back end reaches windows only through this table and names
// them by their widget index; the module reaches the runtime through the
// program's exported kiv:: functions.
#pragma once

#include "gui/backend/widgets.h"
#include "runtime/core/cell.h"

#include <cstdint>

namespace kiv::toolkit {

// What start-up publishes of the desktop.
struct Metrics {
    double dpi_factor = 1.0;        // monitor scale times font DPI over 96
    std::int32_t dpi = 96;
    std::int32_t scroller_width = 16;
    std::int32_t scroller_height = 16;
    std::uint32_t text = 0x000000;  // colours packed r | g << 8 | b << 16
    std::uint32_t window = 0xFFFFFF;
    std::uint32_t panel = 0xF0F0F0;
    char font_name[64] = "Sans";
    double font_size = 10.0;        // points
    std::int32_t version_major = 0;
    std::int32_t version_minor = 0;
};

struct Screen {
    std::int32_t x, y, width, height;  // pixels
    double scale;
    std::int32_t id;                   // the same monitor keeps its id
};

// The widget to make for a face: its place in its parent (a window's on the
// screen) and size, in pixels.
struct WidgetSpec {
    std::int32_t x, y, width, height;
    std::uint32_t face_flags;
    widgets::FaceType type;
    std::int32_t parent;  // the parent's widget, 0 for a top-level window
};

// A scroll bar of a scrollable face, as its scroller object says: what
// changed (0 the position, 1 or 3 the page and range, 4 the visibility).
struct ScrollBar {
    bool vertical;
    std::int32_t kind;
    std::int32_t position, page, minimum, maximum;
    bool visible;
};

struct Toolkit {
    const char* name;
    // Opens the display and starts the toolkit; false when it cannot.
    bool (*start)();
    // One turn of the toolkit's loop: handles what is ready, after waiting
    // for something when wait is set. Answers whether something was handled;
    // false with wait means nothing can ever come (the blocking loop ends).
    bool (*iterate)(bool wait);
    // Makes a waiting iterate return: a message was posted.
    void (*wake)();
    void (*metrics)(Metrics& out);
    // Fills up to max screens; answers how many there are.
    std::int32_t (*screens)(Screen* out, std::int32_t max);
    // The id of the screen under the mouse pointer (0 when it cannot tell).
    std::int32_t (*pointer_screen)();
    // Makes the native widget of a face (its record made, its type known)
    // and loads its content from the facets; false when it cannot.
    bool (*make_widget)(std::int32_t widget, const WidgetSpec& spec, const Cell& face);
    void (*show)(std::int32_t widget);
    void (*destroy)(std::int32_t widget);
    void (*redraw)(std::int32_t widget);
    // Starts the widget's timer (interval_ms above 0) or stops it (0).
    void (*set_timer)(std::int32_t widget, std::int32_t interval_ms);
    // Minimizes (36), maximizes (37) or restores (38) a window.
    void (*window_state)(std::int32_t widget, std::int32_t state);
    void (*set_dark_mode)(bool dark);
    // Applies the facets whose change bits are set to the widget.
    void (*update)(std::int32_t widget, const Cell& face, std::uint32_t bits);
    // A list's `data` series changed in place: before a removal (remove,
    // take, clear: the values at index, part of them, are to go) or after
    // any other change; the widget's entries follow.
    void (*change_list)(std::int32_t widget, const Cell& face, const Cell& series, const Cell& action,
                        std::int32_t index, std::int32_t part);
    // Sets a scroll bar of a face made with the scrollable flag.
    void (*scroll_bar)(std::int32_t widget, const ScrollBar& bar);
    // The widget's text (index -1), or the text of its list entry index, as
    // UTF-8 into out (at most capacity bytes); answers its whole length, -1
    // when there is none.
    std::int32_t (*read_text)(std::int32_t widget, std::int32_t index, char* out, std::int32_t capacity);
    // Draws commands on the paint session of widget, when one is open.
    void (*draw_face)(std::int32_t widget, const Cell& commands);
    // The face's widget as an image! into out (its size in pixels); false
    // when it cannot be rendered.
    bool (*to_image)(std::int32_t widget, const Cell& face, Cell& out);
    // Shows an error dialog with caption and text, and waits for it.
    void (*error_box)(const char* caption, const char* text);
};

// The toolkit in use, started at the first call: the recording one when
// KIV_GUI is "record", else the module when a display opens; null when
// neither can be had (the answer is kept).
const Toolkit* get();
// True when the recording toolkit is in use.
bool recording();
// The recording toolkit.
const Toolkit& recorder();

// The module's function or table of that name, the module being opened at the
// first call without starting the toolkit (drawing on images needs no
// display); null when the module or the name is missing.
void* module_symbol(const char* name);
// The same for a function the program cannot go on without: the access error
// cannot-open when it is missing.
void* module_function(const char* name);

}  // namespace kiv::toolkit

// The module's one entry: its table, or null when it cannot serve.
extern "C" const kiv::toolkit::Toolkit* kiv_gui_toolkit();
