// The toolkit module on GTK 3: opened by the program at the first GUI use
// (text mode never loads it). GTK's main context is the loop the runtime
// turns; what GTK reports comes back into the runtime through its exported
// functions.
#include "gui/backend/toolkit.h"

#include <cstdlib>

#include <gtk/gtk.h>

namespace kiv::gtk_toolkit {

namespace {

bool start() {
    gtk_disable_setlocale();  // the runtime's number formats rely on the C locale
    return gtk_init_check(nullptr, nullptr) != FALSE;
}

bool iterate(bool wait) { return g_main_context_iteration(nullptr, wait ? TRUE : FALSE) != FALSE; }

void wake() { g_main_context_wakeup(nullptr); }

constexpr toolkit::Toolkit table{"gtk", start, iterate, wake};

}  // namespace

}  // namespace kiv::gtk_toolkit

extern "C" const kiv::toolkit::Toolkit* kiv_gui_toolkit() { return &kiv::gtk_toolkit::table; }
