// The common dialogs: request-file and request-dir on GTK's file chooser.
// The program's half reads the routines' arguments and builds the file!
// values; the chooser itself runs in the toolkit module, which the program
// finds by name, modal until the user answers.
#pragma once

#include <cstdint>

namespace kiv::dialogs {

// What the chooser is asked for. Texts are UTF-8 (paths local), null when
// not given.
struct Request {
    const char* title = nullptr;
    const char* folder = nullptr;         // the folder shown first
    const char* name = nullptr;           // the name filled in (or selected)
    const char* const* filters = nullptr; // description, patterns ("*.txt;*.kiv"), ...
    std::int32_t filter_pairs = 0;
    bool save = false;
    bool multi = false;
    bool directory = false;               // choose a folder
};

// Called once for each chosen path, in the order the chooser gives them.
using Found = void (*)(void* context, const char* path);

// Runs the chooser; false when it was cancelled (found is not called):
//   bool kiv_gui_request_file(const Request* request, Found found, void* context)
inline constexpr const char* entry = "kiv_gui_request_file";
using Entry = bool (*)(const Request* request, Found found, void* context);

// Enters request-file and request-dir in the routine table.
void add_routines();

}  // namespace kiv::dialogs
