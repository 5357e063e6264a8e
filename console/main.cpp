// The `kiv` program: installs the text-mode host as the console and hands the
// process over to the runtime's start-up.
#include "console/host.h"
#include "runtime/startup/startup.h"

int main(int argc, char** argv) {
    kiv::runtime::console_hook = kiv::host::launch;
    return kiv::runtime::main(argc, argv);
}
