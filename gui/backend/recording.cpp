// The recording toolkit: no display and no widgets. The view routines print
// each call they get (toolkit::recording()), so the engine's tests read what
// it asked of the back end; this table answers as a desktop with one screen
// of 1920x1080 pixels would, and its loop has no source of messages but the
// posted ones.
#include "gui/backend/toolkit.h"

#include <cstring>

namespace kiv::toolkit {

namespace {

bool start() { return true; }
bool iterate(bool) { return false; }
void wake() {}

void metrics(Metrics& out) {
    out = Metrics{};
    out.version_major = 3;
    out.version_minor = 24;
}

std::int32_t screens(Screen* out, std::int32_t max) {
    if (max > 0) out[0] = Screen{0, 0, 1920, 1080, 1.0, 1};
    return 1;
}

std::int32_t pointer_screen() { return 1; }
bool make_widget(std::int32_t, const WidgetSpec&, const Cell&) { return true; }
void on_widget(std::int32_t) {}
void set_timer(std::int32_t, std::int32_t) {}
void window_state(std::int32_t, std::int32_t) {}
void set_dark_mode(bool) {}
void update(std::int32_t, const Cell&, std::uint32_t) {}
void change_list(std::int32_t, const Cell&, const Cell&, const Cell&, std::int32_t, std::int32_t) {}
void scroll_bar(std::int32_t, const ScrollBar&) {}
std::int32_t read_text(std::int32_t, std::int32_t, char*, std::int32_t) { return -1; }
void draw_face(std::int32_t, const Cell&) {}
bool to_image(std::int32_t, const Cell&, Cell&) { return false; }
void error_box(const char*, const char*) {}

constexpr Toolkit table{"record",   start,     iterate,    wake,      metrics,  screens,
                        pointer_screen, make_widget, on_widget, on_widget, on_widget, set_timer, window_state,
                        set_dark_mode, update, change_list, scroll_bar, read_text, draw_face, to_image, error_box};

}  // namespace

const Toolkit& recorder() { return table; }

}  // namespace kiv::toolkit
