// Styles: the sheet that lets a native widget take the size its face gives
// (themes ask for minimum sizes and paddings larger than layouts plan for),
// and a widget's own colours and font from its face.
#include "gui/backend/gtk/faces.h"

#include "gui/backend/text/font.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/word.h"

#include <cstdio>
#include <string>

namespace kiv::gtk_faces {

namespace {

constexpr const char* sheet = R"css(
button, entry, spinbutton, combobox, combobox box, combobox button, progressbar, progressbar trough,
progressbar progress, scale, scale trough, scrollbar, scrollbar trough, notebook, notebook header,
notebook tabs, notebook tab, checkbutton, radiobutton, textview, treeview, frame, calendar, list, row,
label, scrolledwindow {
    min-width: 0;
    min-height: 0;
}
button, combobox button { padding: 1px 4px; }
entry { padding: 1px 3px; }
notebook tab { padding: 2px 6px; }
row { padding: 0 2px; }
progressbar trough, progressbar progress { min-width: 1px; min-height: 1px; }
scrollbar slider { min-width: 6px; min-height: 6px; }
scrollbar.vertical slider { min-height: 12px; }
scrollbar.horizontal slider { min-width: 12px; }
)css";

const char* const css_key = "kiv-css";

std::string rgba(std::uint32_t c) {
    char text[64];
    std::snprintf(text, sizeof text, "rgba(%u,%u,%u,%.3f)", c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF,
                  (255 - (c >> 24 & 0xFF)) / 255.0);
    return text;
}

// A CSS string literal of text: quotes and backslashes escaped, control
// characters left out.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out + '"';
}

}  // namespace

void load_style_sheet() {
    static bool loaded = false;
    GdkScreen* screen = gdk_screen_get_default();
    if (loaded || screen == nullptr) return;
    loaded = true;
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, sheet, -1, nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

void set_widget_colours(GtkWidget* w, const Cell& face) {
    if (w == nullptr) return;
    std::string rules;
    std::uint32_t colour = 0;
    if (colour_of(face, colour)) rules += "background-color: " + rgba(colour) + "; background-image: none;";
    const Cell* font = widgets::facet(face, Facet::font);
    if (font != nullptr && font->is(TypeId::object)) {
        const text::FontSpec spec = text::font_spec(font);
        if (spec.has_colour) rules += "color: " + rgba(spec.colour) + ";";
        if (!spec.name.empty()) rules += "font-family: " + quoted(spec.name) + ";";
        if (spec.points > 0) {
            char size[48];
            std::snprintf(size, sizeof size, "font-size: %.1fpt;", spec.points);
            rules += size;
        }
        rules += spec.bold ? "font-weight: bold;" : "font-weight: normal;";
        rules += spec.italic ? "font-style: italic;" : "font-style: normal;";
    }
    auto* provider = static_cast<GtkCssProvider*>(g_object_get_data(G_OBJECT(w), css_key));
    if (rules.empty() && provider == nullptr) return;
    if (provider == nullptr) {
        provider = gtk_css_provider_new();
        g_object_set_data_full(G_OBJECT(w), css_key, provider, g_object_unref);
        gtk_style_context_add_provider(gtk_widget_get_style_context(w), GTK_STYLE_PROVIDER(provider),
                                       GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
    }
    const std::string css = rules.empty() ? std::string() : "* {" + rules + "} text {" + rules + "}";
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
}

GdkPixbuf* pixbuf_of(const Cell& image) {
    const std::int32_t w = image::width_of(image), h = image::height_of(image);
    const std::uint32_t* pixels = image::pixels(image);
    if (pixels == nullptr || w <= 0 || h <= 0) return nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, w, h);
    if (pixbuf == nullptr) return nullptr;
    guchar* data = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (std::int32_t y = 0; y < h; ++y) {
        guchar* row = data + static_cast<std::ptrdiff_t>(y) * stride;
        for (std::int32_t x = 0; x < w; ++x) {
            const std::uint32_t p = pixels[static_cast<std::ptrdiff_t>(y) * w + x];  // 0xAARRGGBB, A the opacity
            row[4 * x] = static_cast<guchar>(p >> 16);
            row[4 * x + 1] = static_cast<guchar>(p >> 8);
            row[4 * x + 2] = static_cast<guchar>(p);
            row[4 * x + 3] = static_cast<guchar>(p >> 24);
        }
    }
    return pixbuf;
}

namespace {

const char* const cursor_key = "kiv-cursor";

// The cursor names of the `cursor` option's words.
const char* cursor_name(const Cell& word) {
    struct Name {
        const char* word;
        const char* cursor;
    };
    static constexpr Name names[] = {{"I-beam", "text"},        {"hand", "pointer"},       {"cross", "crosshair"},
                                     {"resize-ns", "ns-resize"}, {"resize-ew", "ew-resize"}, {"resize-we", "ew-resize"}};
    for (const Name& n : names)
        if (text::is_word(word, n.word)) return n.cursor;
    return "default";
}

}  // namespace

void set_cursor(std::int32_t widget, const Cell& face) {
    GtkWidget* w = native(widget);
    GdkDisplay* display = gdk_display_get_default();
    if (w == nullptr || display == nullptr) return;
    const Cell* choice = option_of(face, "cursor");
    GdkCursor* cursor = nullptr;
    if (choice != nullptr && choice->is(TypeId::image)) {
        if (GdkPixbuf* pixbuf = pixbuf_of(*choice)) {
            cursor = gdk_cursor_new_from_pixbuf(display, pixbuf, 0, 0);
            g_object_unref(pixbuf);
        }
    } else if (choice != nullptr && word::is_any_word(choice->type())) {
        cursor = gdk_cursor_new_from_name(display, cursor_name(*choice));
    }
    g_object_set_data_full(G_OBJECT(w), cursor_key, cursor, cursor != nullptr ? g_object_unref : nullptr);
}

void show_cursor(std::int32_t widget, GdkWindow* window) {
    static GdkWindow* last_window = nullptr;
    static GdkCursor* last_cursor = nullptr;
    GdkCursor* cursor = nullptr;
    for (std::int32_t w = widget; widgets::get(w) != nullptr && cursor == nullptr; w = widgets::get(w)->parent)
        if (GtkWidget* n = native(w)) cursor = static_cast<GdkCursor*>(g_object_get_data(G_OBJECT(n), cursor_key));
    if (window == last_window && cursor == last_cursor) return;
    // only windows of our own faces get our cursors (a text entry keeps its I-beam)
    if (cursor == nullptr && last_cursor == nullptr) return;
    last_window = window;
    last_cursor = cursor;
    gdk_window_set_cursor(window, cursor);
}

}  // namespace kiv::gtk_faces
