// The runtime's typed diagnostic print and its small arithmetic routines.
#include "runtime/diagnostic.h"

#include "runtime/platform.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

namespace kiv::runtime {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Prints one entry; returns its last character, or 0 when it has none.
char print_entry(const PrintArg& arg) {
    switch (arg.kind) {
    case PrintArg::Kind::logic:
        platform::print_nul_text(arg.logic ? "true" : "false");
        return 0;
    case PrintArg::Kind::integer:
        platform::print_int64(arg.integer);
        return 0;
    case PrintArg::Kind::character:
        print_char(arg.character);
        return arg.character;
    case PrintArg::Kind::float32:
        platform::print_float32(arg.float32);
        return 0;
    case PrintArg::Kind::float64:
        platform::print_float64(arg.float64);
        return 0;
    case PrintArg::Kind::text: {
        const char* text = arg.text ? arg.text : "";
        platform::print_nul_text(text);
        const std::size_t length = std::strlen(text);
        return length ? text[length - 1] : 0;
    }
    case PrintArg::Kind::pointer:
        platform::print_hex64(reinterpret_cast<std::uintptr_t>(arg.pointer));
        return 0;
    }
    return 0;
}

}  // namespace

void print_args(std::initializer_list<PrintArg> args, bool spaced) {
    std::size_t left = args.size();
    for (const PrintArg& arg : args) {
        const char last = print_entry(arg);
        if (spaced && --left > 0 && !is_blank(last)) platform::print_nul_text(" ");
    }
    platform::flush();
}

void print(std::initializer_list<PrintArg> args) { print_args(args, false); }

void print_line(std::initializer_list<PrintArg> args) {
    print_args(args, false);
    platform::print_nul_text("\n");
}

void print_char(char c) {
    const char text[2] = {c, 0};
    platform::print_nul_text(text);  // the byte as it is
}

double degrees_to_radians(double angle, std::int32_t mode) {
    double x = std::fmod(angle, 360.0);
    if (x > 180.0 || x < -180.0) x += x < 0 ? 360.0 : -360.0;
    if (x > 90.0 || x < -90.0) {
        if (mode == 0) x += x < 0 ? 180.0 : -180.0;  // the tangent's period
        else if (mode == 2) x = x >= 0 ? 180.0 - x : -180.0 - x;  // the sine's symmetry
    }
    return x * std::numbers::pi / 180.0;
}

bool nul_text_equal_q(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

}  // namespace kiv::runtime
