// The font requester on GTK's font chooser dialog, modal until answered.
#include "gui/backend/font_chooser.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstring>

extern "C" bool kiv_gui_choose_font(const kiv::font_chooser::Font* start, bool mono, kiv::font_chooser::Font* chosen) {
    // The dialog's list names Pango's types, which nothing may have registered yet.
    g_type_ensure(PANGO_TYPE_FONT_FAMILY);
    g_type_ensure(PANGO_TYPE_FONT_FACE);
    GtkWidget* dialog = gtk_font_chooser_dialog_new("Font", nullptr);
    GtkFontChooser* chooser = GTK_FONT_CHOOSER(dialog);
    PangoFontDescription* from = pango_font_description_new();
    pango_font_description_set_family(from, start->name);
    pango_font_description_set_size(from, std::clamp(start->points, 1, 2000) * PANGO_SCALE);
    pango_font_description_set_weight(from, start->bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(from, start->italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    gtk_font_chooser_set_font_desc(chooser, from);
    pango_font_description_free(from);
    if (mono)
        gtk_font_chooser_set_filter_func(
            chooser,
            [](const PangoFontFamily* family, const PangoFontFace*, gpointer) -> gboolean {
                return pango_font_family_is_monospace(const_cast<PangoFontFamily*>(family));
            },
            nullptr, nullptr);
    const bool confirmed = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK;
    if (confirmed) {
        PangoFontDescription* got = gtk_font_chooser_get_font_desc(chooser);
        const char* family = got != nullptr ? pango_font_description_get_family(got) : nullptr;
        std::strncpy(chosen->name, family != nullptr ? family : "", sizeof chosen->name - 1);
        chosen->points = got != nullptr ? pango_font_description_get_size(got) / PANGO_SCALE : 0;
        chosen->bold = got != nullptr && pango_font_description_get_weight(got) >= PANGO_WEIGHT_BOLD;
        chosen->italic = got != nullptr && pango_font_description_get_style(got) != PANGO_STYLE_NORMAL;
        if (got != nullptr) pango_font_description_free(got);
    }
    gtk_widget_destroy(dialog);
    gdk_display_sync(gdk_display_get_default());  // gone from the screen before this returns
    return confirmed;
}
