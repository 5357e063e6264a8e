// The file and folder requesters on GTK's file chooser dialog, modal until
// answered and owned by the window that has the focus.
#include "gui/backend/dialogs.h"

#include <gtk/gtk.h>

#include <string>

namespace {

// The top-level window the user is working in, or null.
GtkWindow* active_window() {
    GtkWindow* active = nullptr;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l != nullptr && active == nullptr; l = l->next)
        if (gtk_window_is_active(GTK_WINDOW(l->data))) active = GTK_WINDOW(l->data);
    g_list_free(all);
    return active;
}

// A filter of a description and its patterns, separated by ";". "*.*" is
// every file, as it is on the desktops the patterns come from.
void add_filter(GtkFileChooser* chooser, const char* description, const char* patterns) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, description);
    const std::string all = patterns;
    std::size_t from = 0;
    while (from <= all.size()) {
        std::size_t to = all.find(';', from);
        if (to == std::string::npos) to = all.size();
        std::string pattern = all.substr(from, to - from);
        const std::size_t first = pattern.find_first_not_of(' ');
        pattern = first == std::string::npos ? "" : pattern.substr(first, pattern.find_last_not_of(' ') - first + 1);
        if (pattern == "*.*") pattern = "*";
        if (!pattern.empty()) gtk_file_filter_add_pattern(filter, pattern.c_str());
        from = to + 1;
    }
    gtk_file_chooser_add_filter(chooser, filter);
}

}  // namespace

extern "C" bool kiv_gui_request_file(const kiv::dialogs::Request* request, kiv::dialogs::Found found, void* context) {
    const GtkFileChooserAction action = request->directory ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                        : request->save    ? GTK_FILE_CHOOSER_ACTION_SAVE
                                                           : GTK_FILE_CHOOSER_ACTION_OPEN;
    const char* title = request->title != nullptr ? request->title
                        : request->directory      ? "Select Folder"
                        : request->save           ? "Save As"
                                                  : "Open";
    const char* accept = request->save ? "_Save" : request->directory ? "_Select" : "_Open";
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title, active_window(), action, "_Cancel", GTK_RESPONSE_CANCEL,
                                                    accept, GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);  // Return chooses
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    if (request->multi && action == GTK_FILE_CHOOSER_ACTION_OPEN) gtk_file_chooser_set_select_multiple(chooser, TRUE);
    if (request->save) gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    for (std::int32_t i = 0; i < request->filter_pairs; ++i)
        add_filter(chooser, request->filters[2 * i], request->filters[2 * i + 1]);
    if (request->folder != nullptr) gtk_file_chooser_set_current_folder(chooser, request->folder);
    if (request->name != nullptr) {
        if (request->save) {
            gtk_file_chooser_set_current_name(chooser, request->name);
        } else if (request->folder != nullptr) {
            const std::string whole = std::string(request->folder) + (request->folder[1] != '\0' ? "/" : "") + request->name;
            gtk_file_chooser_select_filename(chooser, whole.c_str());
        }
    }
    const bool accepted = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
    if (accepted) {
        GSList* names = gtk_file_chooser_get_filenames(chooser);
        for (GSList* n = names; n != nullptr; n = n->next) found(context, static_cast<const char*>(n->data));
        g_slist_free_full(names, g_free);
    }
    gtk_widget_destroy(dialog);
    gdk_display_sync(gdk_display_get_default());  // gone from the screen before this returns
    return accepted;
}
