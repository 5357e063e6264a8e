// The `kiv` program: hands the process over to the runtime's start-up.
#include "runtime/startup.h"

int main(int argc, char** argv) { return kiv::runtime::main(argc, argv); }
