// Styles: the sheet that lets a native widget take the size its face gives
// (themes ask for minimum sizes and paddings larger than layouts plan for),
// and a widget's own colours and font from its face.
#include "gui/backend/gtk/faces.h"

#include "gui/backend/text/font.h"

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

}  // namespace kiv::gtk_faces
