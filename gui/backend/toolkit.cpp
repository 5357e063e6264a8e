#include "gui/backend/toolkit.h"

#include "runtime/datatypes/string.h"
#include "runtime/core/raise.h"
#include "runtime/startup/startup.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

namespace kiv::toolkit {

namespace {

// The folder the program was started from, with its final "/".
std::string program_folder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "./";
    const std::string exe(path, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

// The module's table, or null when it is missing or incomplete.
const Toolkit* open_module() {
    if (!runtime::display_available()) return nullptr;
    auto* entry = reinterpret_cast<const Toolkit* (*)()>(module_symbol("kiv_gui_toolkit"));
    return entry != nullptr ? entry() : nullptr;
}

}  // namespace

void* module_symbol(const char* name) {
#ifdef KIV_GTK_MODULE
    // Opened once; the library stays loaded: GTK cannot be unloaded.
    static void* library = ::dlopen((program_folder() + KIV_GTK_MODULE).c_str(), RTLD_NOW | RTLD_LOCAL);
    return library != nullptr ? ::dlsym(library, name) : nullptr;
#else
    (void)name;
    return nullptr;
#endif
}

void* module_function(const char* name) {
    void* found = module_symbol(name);
    if (found == nullptr) {
        Cell module{};
        string::make_at(module, 16);
        string::append_nul_text(module.series_node(), "kiv-gtk.so");
        runtime::raise_error(ErrorCategory::access, "cannot-open", &module);
    }
    return found;
}

bool recording() {
    static const bool chosen = [] {
        const char* choice = std::getenv("KIV_GUI");
        return choice != nullptr && std::strcmp(choice, "record") == 0;
    }();
    return chosen;
}

const Toolkit* get() {
    static bool tried = false;
    static const Toolkit* chosen = nullptr;
    if (tried) return chosen;
    tried = true;
    const Toolkit* candidate = recording() ? &recorder() : open_module();
    if (candidate != nullptr && candidate->start()) chosen = candidate;
    return chosen;
}

}  // namespace kiv::toolkit
