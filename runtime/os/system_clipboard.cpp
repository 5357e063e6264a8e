#include "runtime/os/system_clipboard.h"

#include "runtime/os/platform.h"

#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#ifdef KIV_GTK
#include <gtk/gtk.h>
#endif

namespace kiv::system_clipboard {

namespace {

// A clipboard call tries this often before it gives up, with a short sleep
// and a turn of the event loop between tries so another owner can let go.
constexpr int attempts = 3;

// The clipboard without a display: the last content written.
Content local_content;

#ifdef KIV_GTK

// GTK is opened with dlopen rather than linked: linking it would load some
// seventy shared libraries at every start of the program, clipboard or not.
#define KIV_GTK_FUNCTIONS(X)                                                                         \
    X(gtk_disable_setlocale) X(gtk_init_check) X(gtk_clipboard_get)                                  \
    X(gtk_clipboard_wait_for_targets) X(gtk_targets_include_text) X(gtk_targets_include_uri)         \
    X(gtk_clipboard_wait_for_text) X(gtk_clipboard_wait_for_contents) X(gtk_clipboard_set_text)      \
    X(gtk_clipboard_set_with_data) X(gtk_clipboard_set_can_store) X(gtk_clipboard_store)             \
    X(gtk_selection_data_get_data) X(gtk_selection_data_get_length) X(gtk_selection_data_get_target) \
    X(gtk_selection_data_set) X(gtk_selection_data_free) X(gdk_atom_intern) X(g_free)                \
    X(g_filename_from_uri) X(g_filename_to_uri) X(g_main_context_iteration) X(gdk_display_get_default)

struct Gtk {
#define KIV_GTK_POINTER(name) decltype(&::name) name = nullptr;
    KIV_GTK_FUNCTIONS(KIV_GTK_POINTER)
#undef KIV_GTK_POINTER
    GtkClipboard* clipboard = nullptr;
};

Gtk gtk;

enum class Backend { untried, desktop, local };
Backend backend = Backend::untried;

bool has_display() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

bool start_gtk() {
    void* library = ::dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return false;
    bool complete = true;
#define KIV_GTK_LOAD(name)                                                        \
    gtk.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
    complete = complete && gtk.name != nullptr;
    KIV_GTK_FUNCTIONS(KIV_GTK_LOAD)
#undef KIV_GTK_LOAD
    if (!complete) return false;  // the library stays loaded: GTK cannot be unloaded safely
    // the GUI's toolkit may have started GTK already (a warning, were it asked again)
    if (gtk.gdk_display_get_default() != nullptr) {
        gtk.clipboard = gtk.gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
        return gtk.clipboard != nullptr;
    }
    gtk.gtk_disable_setlocale();   // the runtime's number formats rely on the C locale
    // No window is ever shown: the accessibility bridge would only connect to
    // its bus (a wait when there is none, and buffers that live on). The
    // switch is taken back at once so that programs started later keep theirs.
    const bool bridge_set = std::getenv("NO_AT_BRIDGE") != nullptr;
    if (!bridge_set) ::setenv("NO_AT_BRIDGE", "1", 1);
    const bool started = gtk.gtk_init_check(nullptr, nullptr) != FALSE;
    if (!bridge_set) ::unsetenv("NO_AT_BRIDGE");
    if (!started) return false;
    gtk.clipboard = gtk.gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    return gtk.clipboard != nullptr;
}

bool use_desktop() {
    if (backend == Backend::untried) backend = has_display() && start_gtk() ? Backend::desktop : Backend::local;
    return backend == Backend::desktop;
}

// Lets GTK answer the requests that wait in its queue (other programs asking
// for what this process offers), a bounded number of them.
void pump() {
    for (int i = 0; i < 100 && gtk.g_main_context_iteration(nullptr, FALSE); ++i) {}
}

void pause_between_attempts() {
    platform::sleep(0.001);
    pump();
}

// What this process offers while it owns the clipboard, served on request.
std::vector<std::uint8_t> offered;

void serve(GtkClipboard*, GtkSelectionData* data, guint, gpointer) {
    static const guchar nothing = 0;  // an empty offer still answers with data, of length 0
    gtk.gtk_selection_data_set(data, gtk.gtk_selection_data_get_target(data), 8,
                               offered.empty() ? &nothing : offered.data(), static_cast<gint>(offered.size()));
}

void forget(GtkClipboard*, gpointer) {}  // offered is replaced by the next write

// The image formats read, in order of preference.
constexpr const char* image_types[] = {"image/png", "image/jpeg", "image/gif", "image/bmp"};

// Appends the local files of a text/uri-list (lines ending in CR LF, "#"
// starting a comment); other URIs are left out.
void read_uri_list(const std::string& list, std::vector<std::string>& files) {
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find('\n', start);
        if (end == std::string::npos) end = list.size();
        std::string line = list.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        gchar* path = gtk.g_filename_from_uri(line.c_str(), nullptr, nullptr);
        if (path == nullptr) continue;  // not a local file
        files.emplace_back(path);
        gtk.g_free(path);
    }
}

// One attempt at reading; false when an offered format could not be fetched.
bool read_desktop(Content& out) {
    GdkAtom* targets = nullptr;
    gint count = 0;
    out = Content{};
    if (!gtk.gtk_clipboard_wait_for_targets(gtk.clipboard, &targets, &count)) return true;  // nobody owns it
    bool fetched = true;
    if (gtk.gtk_targets_include_text(targets, count)) {
        gchar* text = gtk.gtk_clipboard_wait_for_text(gtk.clipboard);
        if (text != nullptr) {
            out.kind = Content::Kind::text;
            out.text = text;
            gtk.g_free(text);
        }
        fetched = text != nullptr;
    } else if (gtk.gtk_targets_include_uri(targets, count)) {
        // Read as bytes rather than through GTK's URI reader, which answers
        // nothing for an empty list.
        GtkSelectionData* data =
            gtk.gtk_clipboard_wait_for_contents(gtk.clipboard, gtk.gdk_atom_intern("text/uri-list", FALSE));
        fetched = data != nullptr;
        if (data != nullptr) {
            out.kind = Content::Kind::files;
            const guchar* bytes = gtk.gtk_selection_data_get_data(data);
            const gint length = gtk.gtk_selection_data_get_length(data);
            if (bytes != nullptr && length > 0) read_uri_list(std::string(bytes, bytes + length), out.files);
            gtk.gtk_selection_data_free(data);
        }
    } else {
        for (const char* type : image_types) {
            const GdkAtom atom = gtk.gdk_atom_intern(type, FALSE);
            bool offered_type = false;
            for (gint i = 0; i < count; ++i) offered_type = offered_type || targets[i] == atom;
            if (!offered_type) continue;
            GtkSelectionData* data = gtk.gtk_clipboard_wait_for_contents(gtk.clipboard, atom);
            fetched = data != nullptr;
            if (data == nullptr) break;
            const guchar* bytes = gtk.gtk_selection_data_get_data(data);
            const gint length = gtk.gtk_selection_data_get_length(data);
            if (bytes != nullptr && length > 0) {
                out.kind = Content::Kind::image;
                out.image.assign(bytes, bytes + length);
            }
            gtk.gtk_selection_data_free(data);
            break;
        }
    }
    gtk.g_free(targets);
    return fetched;
}

// One attempt at taking the clipboard with the prepared offer of one type.
bool offer_desktop(const char* type) {
    GtkTargetEntry entry{const_cast<gchar*>(type), 0, 0};
    // No type: an entry list of length 0 takes the clipboard with nothing in it.
    return gtk.gtk_clipboard_set_with_data(gtk.clipboard, &entry, type[0] == '\0' ? 0 : 1, serve, forget,
                                           nullptr) != FALSE;
}

// Hands a copy of the content to the desktop's clipboard manager, when one
// runs: this process answers requests only while it is in a clipboard call,
// and what it owns would vanish with it.
void hand_over() {
    gtk.gtk_clipboard_set_can_store(gtk.clipboard, nullptr, 0);
    gtk.gtk_clipboard_store(gtk.clipboard);
}

bool write_desktop(const Content& content) {
    const char* type = "";
    offered.clear();
    switch (content.kind) {
        case Content::Kind::none: break;
        case Content::Kind::text:
            gtk.gtk_clipboard_set_text(gtk.clipboard, content.text.data(), static_cast<gint>(content.text.size()));
            hand_over();
            return true;
        case Content::Kind::files: {
            type = "text/uri-list";
            for (const std::string& path : content.files) {
                gchar* uri = gtk.g_filename_to_uri(path.c_str(), nullptr, nullptr);
                if (uri == nullptr) return false;  // a relative path has no URI
                offered.insert(offered.end(), uri, uri + std::strlen(uri));
                offered.push_back('\r');
                offered.push_back('\n');
                gtk.g_free(uri);
            }
            break;
        }
        case Content::Kind::image:
            type = "image/png";
            offered = content.image;
            break;
    }
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0) pause_between_attempts();
        if (offer_desktop(type)) {
            if (content.kind != Content::Kind::none) hand_over();
            return true;
        }
    }
    return false;
}

#else

bool use_desktop() { return false; }

#endif

}  // namespace

std::optional<Content> read() {
#ifdef KIV_GTK
    if (use_desktop()) {
        Content out;
        for (int attempt = 0; attempt < attempts; ++attempt) {
            if (attempt > 0) pause_between_attempts();
            else pump();
            if (read_desktop(out)) return out;
        }
        return std::nullopt;
    }
#endif
    return local_content;
}

bool write(const Content& content) {
#ifdef KIV_GTK
    if (use_desktop()) return write_desktop(content);
#endif
    local_content = content;
    return true;
}

bool desktop_q() { return use_desktop(); }

}  // namespace kiv::system_clipboard
