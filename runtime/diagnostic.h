// The runtime's own diagnostic print (start-up failures, debugging dumps) and
// a few arithmetic routines. Printing goes straight to standard output through
// the platform writer, never through the language's print hooks.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>

namespace kiv::runtime {

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

// Reduces an angle in degrees for the trigonometric natives and converts it to
// radians. Mode 0: tangent period; mode 2: sine symmetry; other: none.
double degrees_to_radians(double angle, std::int32_t mode);
// value rounded up to a multiple of the power-of-two alignment.
constexpr std::int64_t round_up(std::int64_t value, std::int64_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}
// (value + alignment) with the bits below the power-of-two alignment cleared.
constexpr std::int64_t next_multiple(std::int64_t value, std::int64_t alignment) {
    return (value + alignment) & ~(alignment - 1);
}
// Same length and the same bytes.
bool nul_text_equal_q(const char* a, const char* b);

}  // namespace kiv::runtime
