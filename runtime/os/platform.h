// The runtime's thin layer over the operating system: standard output in
// UTF-8, virtual memory for the memory manager, time and date, sleep, the
// environment and the current directory. Everything runs on the runtime thread.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace kiv::platform {

// Thrown values (catch levels) of a failed system memory call; the memory
// manager turns them into the internal error no-memory.
inline constexpr std::uint32_t thrown_os_alloc_failed = 0x7FFFFFF7;
inline constexpr std::uint32_t thrown_os_free_failed = 0x7FFFFFF6;

// Process set-up: the output buffers and the terminal check. Idempotent.
void init_process();

// --- Virtual memory -------------------------------------------------------

// Size of one page of the system.
std::size_t page_size();
// Reserved and committed read-write memory of size bytes (read-write-execute
// with the flag), zero-filled. Throws thrown_os_alloc_failed on failure.
void* os_alloc(std::size_t size, bool executable = false);
// Releases a block from os_alloc of that size. Throws thrown_os_free_failed.
void os_free(void* address, std::size_t size);
// Address space of size bytes, not yet usable; nullptr when refused.
void* reserve(std::size_t size);
// Makes [address, address + size) of a reservation usable (read-write,
// zero-filled on first touch); false when refused.
bool commit(void* address, std::size_t size);
// Returns committed pages to the system; the range stays reserved.
bool decommit(void* address, std::size_t size);
// Gives a whole reservation back.
bool release(void* address, std::size_t size);

// --- Standard output --------------------------------------------------------

// True when standard output is a terminal (escape sequences then reach it
// unchanged and the terminal interprets them).
bool stdout_is_terminal();
// Writes a NUL-terminated byte string as it is (UTF-8), then feeds the
// low-level output hooks.
void print_nul_text(const char* text);
void print_int(std::int32_t value);           // "%i"
void print_int64(std::int64_t value);         // "%lli"
void print_byte_hex(std::uint8_t value);      // "%02X"
void print_hex(std::uint32_t value);          // "%08X"
void print_hex64(std::uint64_t value);        // "%08llX": at least eight digits
void print_float64(double value);             // "%.16g"
void print_float32(float value);              // "%.7g"
// Writes length bytes of text made of units of 1, 2 (UTF-16 code units, one
// code point each) or 4 bytes (code points) as UTF-8, in batches of at most
// 1,024 bytes; with new_line an LF follows.
void write_text(const void* text, std::size_t length, int unit, bool new_line);
// Writes any batched output (the writer never keeps bytes between calls, so
// this only flushes the C library's own streams).
void flush();

// --- Diagnostic print -------------------------------------------------------
// The runtime's own messages (start-up failures, debugging dumps) as typed
// argument lists, straight to standard output: never through the language's
// print hooks.

// One typed argument of the diagnostic print.
struct PrintArg {
    enum class Kind : std::uint8_t { logic = 1, integer, character, float32, float64, text, pointer };
    Kind kind;
    union {
        bool logic;
        std::int64_t integer;  // printed as "%lli"
        char character;
        float float32;         // "%.7g"
        double float64;        // "%.16g"
        const char* text;      // NUL-terminated
        const void* pointer;   // at least eight upper-case hexadecimal digits
    };

    PrintArg(bool v) : kind(Kind::logic), logic(v) {}
    PrintArg(char v) : kind(Kind::character), character(v) {}
    template <std::integral T>
        requires(!std::same_as<T, bool> && !std::same_as<T, char>)
    PrintArg(T v) : kind(Kind::integer), integer(static_cast<std::int64_t>(v)) {}
    PrintArg(float v) : kind(Kind::float32), float32(v) {}
    PrintArg(double v) : kind(Kind::float64), float64(v) {}
    PrintArg(const char* v) : kind(Kind::text), text(v) {}
    PrintArg(const void* v) : kind(Kind::pointer), pointer(v) {}
};

// Prints each argument in order; spaced puts one space between two entries
// unless the first ends in a space, tab, CR or LF. Then flushes.
void print_args(std::initializer_list<PrintArg> args, bool spaced);
void print(std::initializer_list<PrintArg> args);
void print_line(std::initializer_list<PrintArg> args);
void print_char(char c);

// --- Time -----------------------------------------------------------------

// Seconds since midnight UTC; with precise, fractions of a second too.
double now_time(bool precise);
// Today's date packed like date! values: year << 17 | month << 12 | day << 7
// | zone; zone in bits 0-6 as (hours << 2 | quarter hours), a negative hour
// count stored as (magnitude & 0xF) | 0x10. With utc, UTC and zone 0.
std::uint32_t now_date(bool utc);
// Packs a zone offset in minutes east of UTC into the 7-bit zone field.
std::uint32_t pack_zone(int minutes_east);
// Sleeps seconds (at least 1 ms; fractions of a millisecond truncated).
void sleep(double seconds);

// --- Environment and current directory ------------------------------------

// The variable's value; false when it is absent.
bool get_env(const std::string& name, std::string& value);
// Sets the variable, or removes it when value is nullptr; false on failure.
bool set_env(const std::string& name, const std::string* value);
// Every variable as (name, value), each entry split at the first "=" after
// its first character.
std::vector<std::pair<std::string, std::string>> environment();
// The current directory (UTF-8, no trailing slash except for the root).
std::string get_current_dir();
// Changes the current directory; false on failure.
bool set_current_dir(const std::string& path);

}  // namespace kiv::platform
