// The `kiv` program: hands the process over to the runtime with the
// text-mode host and the console's Kiv sources.
#include "console/host.h"
#include "gui/backend/gui.h"

int main(int argc, char** argv) {
    kiv::host::add_routines();
    kiv::gui::add_routines();
    return kiv::embed::run_program(argc, argv, kiv::host::text_console());
}
