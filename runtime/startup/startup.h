// Program start-up: the process record, the command line, the runtime thread
// and the boot sequence that builds the runtime before the console runs.
#pragma once

#include "runtime/os/process.h"
#include "runtime/core/runtime_error.h"
#include "runtime/startup/embed.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kiv::runtime {

using CommandLine = embed::CommandLine;
// Reads the options before the script (embed::CommandLine).
CommandLine parse_command_line(int argc, const char* const* argv, bool has_display);
// True when DISPLAY or WAYLAND_DISPLAY is set.
bool display_available();

// Copies argv into the process record (UTF-8, on the tracked heap).
void init_argv(int argc, const char* const* argv);
// Reads the whole file at path into text; false (errno set) when it cannot.
bool read_script(const char* path, std::string& text);
// The function that the console's run calls with the script's bytes, its name
// and the --catch flag: the path system/console/launch unless a host chose
// another (the GUI console's).
void set_launch_path(std::string_view path);

// Stack reserved for the runtime thread: the deepest recursion the frame stack
// allows, with room to spare. Committed lazily by the system.
inline constexpr std::size_t runtime_stack_size = std::size_t{1} << 30;
// Runs fn(arg) on a new thread with a stack of at least min_size bytes (as
// close to stack_size as the system grants) and returns its result; with no
// thread to be had, runs it on the calling thread.
int run_on_thread(int (*fn)(void*), void* arg, std::size_t stack_size, std::size_t min_size);
// Stack bounds of the runtime thread (its base: the collector's walk stops there).
const void* stack_base();
const void* stack_limit();

// The boot sequence (runtime/init).
void init();
// The one boot: init, then, with library, the library's top level (and the
// host's sources after it), after which the collector runs.
void boot(bool library);
// Releases the memory manager's blocks, then the tracked heap (tests, tools).
void shutdown();

// The whole program (embed::run_program).
int main(int argc, char** argv, const embed::Host& host);

}  // namespace kiv::runtime
