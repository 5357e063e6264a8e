// Catch frames, thrown values, the fatal runtime-error report and the fault
// handlers that turn processor faults (signals) into runtime errors.
#include "runtime/core/runtime_error.h"

#include "runtime/core/tracked_heap.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ucontext.h>
#include <unistd.h>

namespace kiv::runtime {

namespace {

CatchFrame* chain = nullptr;       // innermost catch frame of the runtime thread
std::uint32_t value_in_flight = 0;
std::atomic<bool> reporting{false};  // a fault inside the report ends at once

// ORDER RUNTIME-ERRORS: codes are positions; gaps read "unknown error code!".
struct ErrorEntry {
    int code;
    const char* message;
};
constexpr ErrorEntry error_table[] = {
    {1, "access violation"}, {2, "invalid alignment"}, {3, "breakpoint"}, {4, "single step"},
    {5, "bounds exceeded"}, {6, "float denormal operan"}, {7, "float divide by zero"},
    {8, "float inexact result"}, {9, "float invalid operation"}, {10, "float overflow"},
    {11, "float stack check"}, {12, "float underflow"}, {13, "integer divide by zero"},
    {14, "integer overflow"}, {15, "privileged instruction"}, {16, "invalid virtual address"},
    {17, "illegal instruction"}, {18, "non-continuable exception"},
    {19, "stack error or overflow"}, {20, "invalid disposition"}, {21, "guard page"},
    {22, "invalid handle"}, {23, "illegal operand"}, {24, "illegal addressing mode"},
    {25, "illegal trap"}, {26, "coprocessor error"}, {27, "non-existent physical address"},
    {28, "object specific hardware error"}, {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"}, {31, "privileged register"},
    {32, "segmentation fault"}, {33, "FPU error"}, {34, "Bus error"},
    {94, "out of memory"}, {95, "no CATCH for THROW"}, {98, "assertion failed"},
    {99, "unknown error"}, {100, "no value matched in CASE"},
    {101, "no value matched in SWITCH"},
};

// The report is built without allocating and written with write(2), so that
// the fault handler can use it too.
struct ReportText {
    char bytes[256];
    std::size_t length = 0;

    void add(const char* s) {
        while (*s && length < sizeof bytes) bytes[length++] = *s++;
    }
    void add_decimal(int n) {
        char digits[16];
        int count = 0;
        unsigned magnitude = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
        do { digits[count++] = static_cast<char>('0' + magnitude % 10); magnitude /= 10; } while (magnitude);
        if (n < 0) add("-");
        while (count > 0 && length < sizeof bytes) bytes[length++] = digits[--count];
    }
    void add_hex(std::uint32_t n) {  // eight upper-case digits, as "%08X" gives
        char digits[8];
        int count = 0;
        do { digits[count++] = "0123456789ABCDEF"[n & 0xF]; n >>= 4; } while (count < 8);
        while (count > 0 && length < sizeof bytes) bytes[length++] = digits[--count];
    }
};

void write_report(int code, std::uintptr_t address) {
    ReportText text;
    text.add("*** Runtime Error ");
    text.add_decimal(code);
    text.add(": ");
    text.add(runtime_error_message(code));
    text.add("\n*** at: ");
    text.add_hex(static_cast<std::uint32_t>(address));  // the low half of a 64-bit address
    text.add("h\n");
    const char* p = text.bytes;
    std::size_t left = text.length;
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) break;  // nothing more can be said
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// --- Fault handling ------------------------------------------------------

// Signal to runtime error, by the signal's si_code. The codes keep the meaning
// the table gives them on other systems: an invalid memory access is an
// access violation whatever its cause, a fault within the guard area below a
// thread's stack is a stack overflow.
//   SIGSEGV  SEGV_MAPERR, SEGV_ACCERR  1 access violation
//            near the stack limit      19 stack error or overflow
//            any other (sent, kernel)  32 segmentation fault
//   SIGBUS   BUS_ADRALN  2 invalid alignment      BUS_ADRERR 27 non-existent physical address
//            BUS_OBJERR 28 object specific hardware error
//            BUS_MCEERR_AR 29, BUS_MCEERR_AO 30 (hardware memory error)
//            any other   34 Bus error
//   SIGFPE   FPE_INTDIV 13  FPE_INTOVF 14  FPE_FLTDIV 7  FPE_FLTOVF 10
//            FPE_FLTUND 12  FPE_FLTRES 8   FPE_FLTINV 9  FPE_FLTSUB 5
//            any other  33 FPU error
//   SIGILL   ILL_ILLOPC 17  ILL_ILLOPN 23  ILL_ILLADR 24  ILL_ILLTRP 25
//            ILL_PRVOPC 15  ILL_PRVREG 31  ILL_COPROC 26  ILL_BADSTK 19
//            any other  17 illegal instruction

thread_local const char* stack_low = nullptr;
thread_local const char* stack_high = nullptr;
constexpr std::size_t stack_guard_reach = 1 << 20;  // faults this far below the limit

int map_signal(int signal, const siginfo_t* info) {
    const int code = info->si_code;
    switch (signal) {
    case SIGSEGV: {
        if (code != SEGV_MAPERR && code != SEGV_ACCERR) return 32;
        const char* at = static_cast<const char*>(info->si_addr);
        if (stack_low && at < stack_low + 4096 && at + stack_guard_reach >= stack_low) return 19;
        return 1;
    }
    case SIGBUS:
        switch (code) {
        case BUS_ADRALN: return 2;
        case BUS_ADRERR: return 27;
        case BUS_OBJERR: return 28;
#ifdef BUS_MCEERR_AR
        case BUS_MCEERR_AR: return 29;
        case BUS_MCEERR_AO: return 30;
#endif
        default: return 34;
        }
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        case FPE_FLTSUB: return 5;
        default: return 33;
        }
    case SIGILL:
        switch (code) {
        case ILL_ILLOPN: return 23;
        case ILL_ILLADR: return 24;
        case ILL_ILLTRP: return 25;
        case ILL_PRVOPC: return 15;
        case ILL_PRVREG: return 31;
        case ILL_COPROC: return 26;
        case ILL_BADSTK: return 19;
        default: return 17;
        }
    default:
        return error_unknown;
    }
}

// The faulting instruction's address.
std::uintptr_t fault_address(const void* context) {
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

// Runs on the alternate stack. Only async-signal-safe calls: the report is
// written with write(2) and the process leaves with _exit; the tracked heap is
// not freed here (the heap may be what faulted), the system takes it back.
void on_fault(int signal, siginfo_t* info, void* context) {
    const int code = map_signal(signal, info);
    if (!reporting.exchange(true)) write_report(code, fault_address(context));
    ::_exit(code);
}

constexpr std::size_t signal_stack_size = 64 * 1024;

}  // namespace

// --- Catch frames ----------------------------------------------------------

CatchScope::CatchScope(std::uint32_t level) : frame_{level, chain} { chain = &frame_; }
CatchScope::~CatchScope() { chain = frame_.previous; }

CatchFrame* catch_chain() { return chain; }
std::uint32_t thrown_value() { return value_in_flight; }
void clear_thrown() { value_in_flight = 0; }

void throw_value(std::uint32_t value) {
    if (value == 0) report_runtime_error(error_unknown, KIV_CALLER_ADDRESS());  // 0 means "nothing thrown"
    CatchFrame* frame = chain;
    while (frame && frame->level < value) frame = frame->previous;
    if (!frame) uncaught_throw();  // unwinding would only reach std::terminate
    value_in_flight = value;
    throw Thrown{value};
}

void unwind_to_catch() { throw_value(value_in_flight); }

[[gnu::noinline]] void uncaught_throw() {
    report_runtime_error(error_no_catch, reinterpret_cast<std::uintptr_t>(&uncaught_throw));
}

// --- Report and exit -------------------------------------------------------

const char* runtime_error_message(int code) {
    for (const ErrorEntry& entry : error_table)
        if (entry.code == code) return entry.message;
    return "unknown error code!";
}

void exit_cleanup() { free_tracked_heap(); }

namespace {
ReportBox report_box = nullptr;
}  // namespace

void set_report_box(ReportBox box) { report_box = box; }

void show_in_report_box(const char* text) {
    const ReportBox box = report_box;
    report_box = nullptr;  // a box that fails does not show twice
    if (box != nullptr) box("Kiv", text);
}

void report_runtime_error(int code, std::uintptr_t address) {
    if (reporting.exchange(true)) ::_exit(code);  // failed while reporting
    if (code != 0) {
        std::fflush(stdout);  // what was printed before the fault comes first
        write_report(code, address);
        if (report_box != nullptr) {
            ReportText text;
            text.add("*** Runtime Error ");
            text.add_decimal(code);
            text.add(": ");
            text.add(runtime_error_message(code));
            text.length = std::min(text.length, sizeof text.bytes - 1);
            text.bytes[text.length] = '\0';
            show_in_report_box(text.bytes);
        }
    }
    exit_cleanup();
    std::exit(code);
}

namespace {

// The calling thread's alternate signal stack, given back when the thread ends.
struct SignalStack {
    char* memory = nullptr;
    ~SignalStack() {
        if (!memory) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        std::free(memory);
    }
};
thread_local SignalStack signal_stack;

}  // namespace

void install_signal_stack() {
    if (signal_stack.memory) return;
    char* memory = static_cast<char*>(std::malloc(signal_stack_size));
    if (!memory) return;  // faults are then reported only while the stack lasts
    stack_t alt{};
    alt.ss_sp = memory;
    alt.ss_size = signal_stack_size;
    if (::sigaltstack(&alt, nullptr) != 0) {
        std::free(memory);
        return;
    }
    signal_stack.memory = memory;
}

void install_fault_handlers() {
    struct sigaction action{};
    action.sa_sigaction = on_fault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) ::sigaction(signal, &action, nullptr);
    install_signal_stack();
}

void set_stack_limits(const void* low, const void* high) {
    stack_low = static_cast<const char*>(low);
    stack_high = static_cast<const char*>(high);
}

}  // namespace kiv::runtime
