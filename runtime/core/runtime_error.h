// Native catch frames, thrown values and the fatal runtime-error report. A
// throw carries an unsigned value to the innermost catch frame whose level is
// at least that value; it travels as a C++ exception, so destructors run.
#pragma once

#include <cstdint>

namespace kiv::runtime {

// Thrown values in use (a frame catches a value <= its level, unsigned).
inline constexpr std::uint32_t thrown_error = 0x7FFFFFFF;      // language error
inline constexpr std::uint32_t thrown_break = 0x7FFFFFFE;
inline constexpr std::uint32_t thrown_continue = 0x7FFFFFFD;
inline constexpr std::uint32_t thrown_return = 0x7FFFFFFC;
inline constexpr std::uint32_t thrown_exit = 0x7FFFFFFB;
inline constexpr std::uint32_t thrown_throw = 0x7FFFFFFA;      // language `throw`
inline constexpr std::uint32_t thrown_power_overflow = 0x7FFFFFF9;
inline constexpr std::uint32_t catch_memory = 0x7FFFFFF8;      // memory manager's level
inline constexpr std::uint32_t thrown_lexer_abort = 10;
inline constexpr std::uint32_t catch_everything = 0xFFFFFFFF;  // the root frame

// Runtime error codes raised by name in the runtime.
inline constexpr int error_access_violation = 1;
inline constexpr int error_stack_overflow = 19;
inline constexpr int error_out_of_memory = 94;
inline constexpr int error_no_catch = 95;
inline constexpr int error_assertion = 98;
inline constexpr int error_unknown = 99;
inline constexpr int error_no_case = 100;
inline constexpr int error_no_switch = 101;

// The C++ exception that carries a thrown value between frames.
struct Thrown {
    std::uint32_t value;
};

// One catch frame: its level and the frame it hides. Frames form a chain on
// the native stack; the innermost is catch_chain().
struct CatchFrame {
    std::uint32_t level;
    CatchFrame* previous;
};

// Pushes a catch frame of the given level for its lifetime.
class CatchScope {
public:
    explicit CatchScope(std::uint32_t level);
    ~CatchScope();
    CatchScope(const CatchScope&) = delete;
    CatchScope& operator=(const CatchScope&) = delete;
    CatchFrame* frame() { return &frame_; }

private:
    CatchFrame frame_;
};

// Innermost catch frame, or nullptr.
CatchFrame* catch_chain();

// The value of the throw in flight (0 when none); cleared by whoever handles it.
std::uint32_t thrown_value();
void clear_thrown();

// Throws value (non-zero) to the innermost frame whose level is >= value. With
// no such frame the process ends with runtime error 95.
[[noreturn]] void throw_value(std::uint32_t value);
// Passes on the value in flight (thrown_value()) to the next catching frame.
[[noreturn]] void unwind_to_catch();
// Ends the process with runtime error 95 ("no CATCH for THROW").
[[noreturn]] void uncaught_throw();

// Runs body under a catch frame of the given level. Returns 0 when the body
// completes, else the value caught; it stays in thrown_value() until the
// caller handles it (clear_thrown) or passes it on (unwind_to_catch).
template <typename Body>
std::uint32_t catch_throws(std::uint32_t level, Body&& body) {
    CatchScope scope(level);
    try {
        body();
        return 0;
    } catch (const Thrown& thrown) {
        if (thrown.value > level) throw;  // not ours: an outer frame's
        return thrown.value;
    }
}

// The message of a runtime error code ("unknown error code!" when unlisted).
const char* runtime_error_message(int code);
// Writes "*** Runtime Error %d: %s\n*** at: %08Xh\n" to standard error (code
// 0 writes nothing), frees the tracked heap and ends the process with code.
[[noreturn]] void report_runtime_error(int code, std::uintptr_t address);
// Where the reports of fatal errors also show, besides standard error: the
// GUI installs its error box (caption, text) when it runs; none by default.
using ReportBox = void (*)(const char* caption, const char* text);
void set_report_box(ReportBox box);
// Shows text in the report box, when there is one.
void show_in_report_box(const char* text);
// Frees the tracked heap; the exit path's only clean-up.
void exit_cleanup();
// Installs the fault handlers for SIGSEGV, SIGBUS, SIGFPE and SIGILL (process
// wide) and an alternate signal stack for the calling thread.
void install_fault_handlers();
// Gives the calling thread its own alternate signal stack (each thread that
// may fault needs one; a stack overflow cannot be reported without it).
void install_signal_stack();
// Tells the fault handler where the calling thread's stack ends, so that a
// fault just below it is reported as a stack overflow.
void set_stack_limits(const void* low, const void* high);
// Address of the instruction after the call to the calling function.
#define KIV_CALLER_ADDRESS() reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))

}  // namespace kiv::runtime
