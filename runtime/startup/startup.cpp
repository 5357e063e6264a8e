// Start-up: the process record, the command line, the runtime thread and the
// boot sequence. init() calls each module's start-up once, in an order where
// every module finds the ones it builds on already made.
#include "runtime/startup/startup.h"

#include "runtime/text/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/slot_pool.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/parse.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/externals.h"
#include "runtime/io/lexer.h"
#include "runtime/core/random.h"
#include "runtime/core/memory.h"
#include "runtime/core/output_hooks.h"
#include "runtime/os/platform.h"
#include "runtime/startup/boot.h"
#include "runtime/text/unicode.h"

#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <string_view>

namespace kiv::runtime {

namespace {

ProcessRecord& record = process();
const void* runtime_stack_base = nullptr;
const void* runtime_stack_limit = nullptr;

// --- Process set-up -----------------------------------------------------

// Default floating-point environment: every exception masked, round to nearest.
void reset_float_unit() { std::fesetenv(FE_DFL_ENV); }
void load_float_control() {
    std::feclearexcept(FE_ALL_EXCEPT);
    std::fesetround(FE_TONEAREST);
}

// Records the bounds of the calling thread's stack for the fault handler and
// the collector's stack walk.
void record_stack_bounds() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* low = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attr, &low, &size) == 0) {
        runtime_stack_limit = low;
        set_stack_limits(low, static_cast<char*>(low) + size);
    }
    pthread_attr_destroy(&attr);
}

// The fault handlers, the stack bounds and the arguments. Standard streams are
// the file descriptors 0-2 and need no set-up; writes to a closed pipe fail
// quietly rather than end the process.
void init_handlers(int argc, const char* const* argv) {
    record_stack_bounds();
    install_fault_handlers();
    std::signal(SIGPIPE, SIG_IGN);
    init_argv(argc, argv);
}

// The raw text of the arguments from the first on, each quoted when it
// holds blanks.
std::string joined_arguments(int from) {
    std::string text;
    for (int i = from; i < record.argc; ++i) {
        const std::string_view arg = record.argv[i];
        if (i > from) text += ' ';
        if (arg.find_first_of(" \t") != std::string_view::npos) text.append("\"").append(arg).append("\"");
        else text.append(arg);
    }
    return text;
}

// A new string! of UTF-8 text.
Cell utf8_text(std::string_view utf8) {
    Cell value;
    value.reset(TypeId::string);
    value.set_series_node(unicode::utf8_to_string(reinterpret_cast<const std::uint8_t*>(utf8.data()),
                                                  static_cast<std::int32_t>(utf8.size())));
    return value;
}

// The command line as scripts see it: system/options/args holds the
// script's own arguments (without a script, every argument but --catch) and
// system/script/args their raw text; both stay none without arguments.
void record_command_line(const CommandLine& command) {
    if (record.argc < 2) return;
    const int from = command.script != 0 ? command.script + 1 : 1;
    Cell args;
    block::make_at(args, record.argc - from);
    collector::Root keep(args);
    for (int i = from; i < record.argc; ++i) {
        if (command.script == 0 && std::strcmp(record.argv[i], "--catch") == 0) continue;
        block::append_copy(args, utf8_text(record.argv[i]));
    }
    system_object::set_field("options/args", args);
    system_object::set_field("script/args", utf8_text(joined_arguments(from)));
}

// The console's run: system/console/launch with the script's bytes and name
// (none without a script) and the --catch flag. Returns the exit status: 0,
// or 254 when an error escapes the console (nothing is left to report it).
std::string launch_path = "system/console/launch";

int run_console(const CommandLine& command, const std::string* script) {
    Cell code;
    boot::load_text(code, launch_path);
    collector::Root keep(code);
    if (script != nullptr) {
        Cell source;
        binary::make_from_bytes(source, reinterpret_cast<const std::uint8_t*>(script->data()),
                                static_cast<std::int32_t>(script->size()));
        block::append_copy(code, source);
        block::append_copy(code, utf8_text(record.argv[command.script]));
    } else {
        block::append_copy(code, none::value);
        block::append_copy(code, none::value);
    }
    Cell flag;
    logic::make_at(flag, command.catch_);
    block::append_copy(code, flag);
    Cell result;
    const bool ok = boot::try_eval(code, result);
    platform::flush();
    if (ok) return 0;
    const std::string report = result.is(TypeId::error) ? boot::report(result) : "*** Error: the console failed";
    std::fprintf(stderr, "%s\n", report.c_str());
    show_in_report_box(report.c_str());
    return 254;
}

struct Boot {
    int argc;
    const char* const* argv;
    const embed::Host* host;
};

// The runtime thread: the command line, the boot, the script, then the
// console.
int run_runtime(void* arg) {
    const Boot& boot = *static_cast<const Boot*>(arg);
    reset_float_unit();
    record.tracked_heap = &tracked_heap();
    init_handlers(boot.argc, boot.argv);
    load_float_control();
    CatchScope root(catch_everything);  // a fault or throw that nothing else catches ends here
    record.root_frame = root.frame();
    try {
        record.boot_data = boot::linked_data.image.empty() ? nullptr : boot::linked_data.image.data();
        runtime_stack_base = __builtin_frame_address(0);  // the collector's stack walk stops here
        const CommandLine command = parse_command_line(record.argc, record.argv, display_available());
        boot::set_host_image(boot.host->image);
        runtime::boot(true);
        std::string script;
        if (command.script != 0 && !read_script(record.argv[command.script], script)) {
            std::fprintf(stderr, "kiv: cannot read script %s: %s\n", record.argv[command.script], std::strerror(errno));
            exit_cleanup();
            return 1;
        }
        record_command_line(command);
        if (boot.host->prepare != nullptr) boot.host->prepare(command);
        const int status = run_console(command, command.script != 0 ? &script : nullptr);
        exit_cleanup();
        return status;
    } catch (const Thrown&) {
        uncaught_throw();
    } catch (...) {
        report_runtime_error(error_unknown, reinterpret_cast<std::uintptr_t>(&run_runtime));
    }
}

struct ThreadCall {
    int (*fn)(void*);
    void* arg;
    int result;
};

void* thread_entry(void* arg) {
    auto* call = static_cast<ThreadCall*>(arg);
    call->result = call->fn(call->arg);
    return nullptr;
}

}  // namespace

void set_launch_path(std::string_view path) { launch_path = path; }

bool read_script(const char* path, std::string& text) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    bool failed = std::ferror(file) != 0;
    if (!failed && text.size() > static_cast<std::size_t>(INT32_MAX)) {  // more than a binary! holds
        failed = true;
        errno = EFBIG;
    }
    const int saved = errno;
    std::fclose(file);
    errno = saved;
    return !failed;
}

const void* stack_base() { return runtime_stack_base; }
const void* stack_limit() { return runtime_stack_limit; }

bool display_available() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

CommandLine parse_command_line(int argc, const char* const* argv, bool has_display) {
    CommandLine command;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0 && (i == 1 || std::strcmp(argv[i - 1], "--") != 0); ++i) {
        if (std::strcmp(argv[i], "--cli") == 0) command.cli = true;
        else if (std::strcmp(argv[i], "--catch") == 0) command.catch_ = true;
        // any other option is skipped
    }
    command.script = i < argc ? i : 0;
    command.text_mode = command.cli || !has_display;
    return command;
}

void init_argv(int argc, const char* const* argv) {
    auto** copy = static_cast<char**>(alloc_tracked(static_cast<std::int32_t>(sizeof(char*)) * (argc + 1)));
    for (int i = 0; i < argc; ++i) {
        const auto size = static_cast<std::int32_t>(std::strlen(argv[i]) + 1);
        copy[i] = static_cast<char*>(alloc_tracked(size));
        std::memcpy(copy[i], argv[i], static_cast<std::size_t>(size));
    }
    copy[argc] = nullptr;
    record.argc = argc;
    record.argv = copy;
}

int run_on_thread(int (*fn)(void*), void* arg, std::size_t stack_size, std::size_t min_size) {
    ThreadCall call{fn, arg, 0};
    for (std::size_t size = stack_size; size >= min_size; size /= 2) {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) break;
        pthread_t thread;
        const bool made = pthread_attr_setstacksize(&attr, size) == 0 &&
                          pthread_create(&thread, &attr, thread_entry, &call) == 0;
        pthread_attr_destroy(&attr);
        if (made) {
            pthread_join(thread, nullptr);
            return call.result;
        }
    }
    return fn(arg);  // no thread to be had: the calling thread's stack must do
}

void init() {
    words::recording = true;  // words made while booting are also kept in the root block
    // Output and memory first: any later step may print or allocate.
    output_hooks::init();
    platform::init_process();
    random::init();  // each boot starts the same sequence
    memory::init();
    externals::init();
    // The type tables, then the datatypes (parents before children), then the
    // dispatch table that reads them.
    registry::init();
    registry::register_all();
    actions::init();
    block::init_root();
    stack::make_storage();
    // The global context and the symbol table are made once with room for
    // the names the boot image holds, the runtime's own and a script's first
    // ones: no index grows while the image is read.
    const std::int32_t named = boot::image_symbols();
    const std::int32_t room = named > 0 ? named + 512 : 4000;
    context::init_global(room);
    case_folding::init();
    hashtable::init();
    symbol::init_table(room);  // the symbol block and its word index
    // Words need the symbol table and the global context.
    registry::init_type_words();
    words::init();
    natives::init();
    natives::register_all();
    parse::init();
    ownership::init();
    stack::init();  // needs the stack storage and the runtime words
    lexer::init();
    boot::load();  // the boot image, decoded into the root block
    interpreter::init();
    slot_pool::init();
    collector::init();
}

void boot(bool library) {
    init();
    if (!library) return;
    words::make_runtime_words();
    words::recording = false;  // the boot's own words are all made
    // The library's sources are evaluated in order with the collector off;
    // it runs from then on.
    boot::run_top_level();
    collector::set_enabled(true);
}

void shutdown() {
    memory::free_all();
    free_tracked_heap();
}

int main(int argc, char** argv, const embed::Host& host) {
    Boot boot{argc, argv, &host};
    return run_on_thread(run_runtime, &boot, runtime_stack_size, runtime_stack_size / 16);
}

}  // namespace kiv::runtime
