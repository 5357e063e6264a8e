// The embedding interface: what a host (the `kiv` program, a test, a
// benchmark driver) needs to start the runtime, give its language-level code
// services and exchange values with it. Only standard headers: a value is an
// opaque handle, text crosses as UTF-8. Every call is made on the thread the
// runtime runs on, while it runs.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace kiv::embed {

// --- Values -------------------------------------------------------------------

class Access;

// A value of the runtime, held for the host: the value and what it refers to
// stay alive while a handle to it exists. A default handle holds none.
class Value {
public:
    Value() = default;
    Value(const Value& other);
    Value(Value&& other) noexcept : slot_(other.slot_) { other.slot_ = 0; }
    Value& operator=(Value other) noexcept {
        std::swap(slot_, other.slot_);
        return *this;
    }
    ~Value();

private:
    friend class Access;
    std::uint32_t slot_ = 0;  // the runtime's table of held values, 0 for none
};

// A string! of UTF-8 text; bytes that form no character become U+FFFD.
Value text(std::string_view utf8);
Value logic(bool value);
Value pair(std::int32_t x, std::int32_t y);
// The value of a routine that gives nothing to show.
Value unset();

// The text of a string-like value; for others, as print shows them.
std::string form(const Value& value);
// The value as the console shows a result; with all, in the serialised form
// (constructors for every value).
std::string mold(const Value& value, bool all = false);
// False for none, false and unset; true for every other value.
bool truthy(const Value& value);
// An error's report as print shows it, its stack trace filled in first (so
// ask for it while the frames it left are still described); "" for a value
// that is not an error!.
std::string error_report(const Value& error);

// --- Loading and evaluating ------------------------------------------------------

// What loading or evaluating gave: the value, or the error! that ended it
// (none when none could be built).
struct Result {
    bool ok = false;
    Value value;
};
// Loads UTF-8 text into a new block! of its values; a syntax error comes
// back as the error!.
Result load(std::string_view utf8);
// Evaluates code (a block) under a barrier: an escaping error, break, return
// or throw becomes the error!.
Result eval(const Value& code);
// Loads the text, then evaluates it.
Result eval_text(std::string_view utf8);

// --- The system object ---------------------------------------------------------

// The field reached from system by a path of field names ("console/prompt");
// none when a step is missing.
Value field(std::string_view path);
// Stores value at the path; false when the path reaches no field.
bool set_field(std::string_view path, const Value& value);

// --- Output -------------------------------------------------------------------

// Makes print and prin write to standard output (UTF-8, LF for new lines).
void print_to_standard_output();
// Undoes print_to_standard_output (the GUI console shows what is printed).
void stop_printing_to_standard_output();
// Prints UTF-8 text as print (new_line) or prin does.
void print(std::string_view utf8, bool new_line);
// Writes out what standard output holds back.
void flush_output();

// --- Routines -----------------------------------------------------------------

// The arguments of a call of a host's routine, in its spec's order.
class Args {
public:
    // The text of argument index, as form gives it.
    std::string text(int index) const;
    // truthy of argument index.
    bool flag(int index) const;

private:
    friend class Access;
    explicit Args(void* cells) : cells_(cells) {}
    void* cells_;
};
// A host's routine: reads its arguments and returns its result.
using Routine = Value (*)(const Args& args);
// Gives the routine that the host's sources make with `make-routine 'name
// spec` its code. Call it before the runtime starts.
void add_routine(const char* name, Routine routine);

// --- Starting -------------------------------------------------------------------

// What the command line asks for: kiv [--cli] [--catch] [--] [script [args...]].
// While an argument starts with "--" and the one before it is not exactly
// "--", it is an option; unknown ones are skipped. The next argument is the
// script, the rest are its own.
struct CommandLine {
    bool cli = false;        // --cli given
    bool catch_ = false;     // --catch: stay in the console after the script
    int script = 0;          // index of the script in argv, 0 for none
    bool text_mode = false;  // --cli, or no display to open
};

// A host program: its language-level sources, made into an image at build
// time by make_boot_image --host and evaluated after the library's (they
// define system/console), and what it sets up once they have run, before the
// console starts.
struct Host {
    std::span<const std::uint8_t> image;
    void (*prepare)(const CommandLine& command) = nullptr;
};
// The whole program, on the runtime thread (with its own large stack): reads
// the command line and the script it names (a script that cannot be read is
// reported on standard error: status 1), starts the runtime with the host's
// sources, records the command line in the system object, prepares the host
// and runs the console (system/console/launch): the script, then the loop.
// Returns the exit status: 0, or 254 when the console itself fails (the
// error's report goes to standard error); quit ends the process itself.
int run_program(int argc, char** argv, const Host& host);
// Makes run_program's console call the function at path (from the system
// object's context, as "gui-console-ctx/launch") with the script's bytes,
// its name and the --catch flag, instead of system/console/launch. Call it
// from the host's prepare.
void set_launch(std::string_view path);

// What boot builds for a host that runs no program (a test, a benchmark).
struct BootOptions {
    // Finish the library's start (the datatype and native words, the
    // library functions, the system object: the top level evaluated, or its
    // values taken from an image of evaluated values, then what reads the
    // environment); the collector runs from then on. Without it the runtime
    // has its tables, words and decoded boot data (an image of evaluated
    // values has set the library's words; from sources they are all unset)
    // and the collector stays off.
    bool library = true;
};
// Boots the runtime on the calling thread. A fault in the boot data ends the
// process with a report.
void boot(const BootOptions& options = {});
// Releases the runtime's memory; no handle may outlive it.
void shutdown();

}  // namespace kiv::embed
