// The toolkit under the GUI: the GTK module (kiv-gtk.so beside the program,
// opened with dlopen at the first GUI use) or the recording toolkit that
// tests select with KIV_GUI=record and that needs no display. The in-process
// half of the back end reaches windows only through this table; the module
// reaches the runtime through the program's exported kiv:: functions.
#pragma once

namespace kiv::toolkit {

struct Toolkit {
    const char* name;
    // Opens the display and starts the toolkit; false when it cannot.
    bool (*start)();
    // One turn of the toolkit's loop: handles what is ready, after waiting
    // for something when wait is set. True when something was handled.
    bool (*iterate)(bool wait);
    // Makes a waiting iterate return: a message was posted.
    void (*wake)();
};

// The toolkit in use, started at the first call: the recording one when
// KIV_GUI is "record", else the module when a display opens; null when
// neither can be had (the answer is kept).
const Toolkit* get();

// The module's function or table of that name, the module being opened at the
// first call without starting the toolkit (drawing on images needs no
// display); null when the module or the name is missing.
void* module_symbol(const char* name);

}  // namespace kiv::toolkit

// The module's one entry: its table, or null when it cannot serve.
extern "C" const kiv::toolkit::Toolkit* kiv_gui_toolkit();
