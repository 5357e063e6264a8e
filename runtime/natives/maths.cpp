// The maths natives: trigonometry (degrees unless /radians), logarithms,
// exp, square-root, NaN?, the 32-bit shift and to-hex, and the makers of
// pairs, points and money from their parts. Each computes in place
// in the result slot on integer!, float! and percent! arguments, with the C
// library's double-precision functions; domain errors give NaN or infinities.
#include "runtime/evaluator/natives.h"

#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/raise.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

namespace kiv::natives {
namespace {

constexpr double pi = std::numbers::pi;
constexpr double epsilon = 2.220446049250313e-16;  // float64 epsilon: smaller sines are 0

// The float64 of argument i: an integer! by value, a percent! by its bits (the
// fraction), a float! as it is. Other values raise expect-arg.
double number_arg(std::int32_t i, const char* fn, const char* arg) {
    const Cell& v = *stack::arg(i);
    switch (v.type()) {
    case TypeId::integer: return static_cast<double>(v.int_value());
    case TypeId::float_:
    case TypeId::percent: return v.f64();
    default: expect_arg(fn, v, arg);
    }
}

void set_float(double v) { float_::make_at(*stack::arg(0), v); }

// How an angle in degrees is folded before conversion.
enum class Fold { tangent = 0, cosine = 1, sine = 2 };

double degrees_to_radians(double x, Fold fold) {
    x = std::fmod(x, 360.0);
    if (x > 180.0 || x < -180.0) x += x >= 0.0 ? -360.0 : 360.0;
    if (x > 90.0 || x < -90.0) {
        if (fold == Fold::tangent) x += x >= 0.0 ? -180.0 : 180.0;
        else if (fold == Fold::sine) x = x >= 0.0 ? 180.0 - x : -180.0 - x;
    }
    return x * pi / 180.0;
}

double angle_arg(const char* fn, Fold fold, const std::int32_t* refinements) {
    const double x = number_arg(0, fn, "angle");
    static_assert(refine::sine::radians == refine::cosine::radians &&
                  refine::sine::radians == refine::tangent::radians);
    return used(refinements, refine::sine::radians) ? x : degrees_to_radians(x, fold);
}

double flush_tiny(double v) { return std::fabs(v) < epsilon ? 0.0 : v; }

void sine(bool, const std::int32_t* r) { set_float(flush_tiny(std::sin(angle_arg("sine", Fold::sine, r)))); }
void cosine(bool, const std::int32_t* r) {
    set_float(flush_tiny(std::cos(angle_arg("cosine", Fold::cosine, r))));
}

void tangent(bool, const std::int32_t* r) {
    const double x = angle_arg("tangent", Fold::tangent, r);
    if (x == pi / 2.0) set_float(HUGE_VAL);
    else if (x == pi / -2.0) set_float(-HUGE_VAL);
    else set_float(std::tan(x));
}

template <double (*fn)(double)>
void inverse_trig(const char* name, const std::int32_t* r) {
    static_assert(refine::arcsine::radians == refine::arccosine::radians &&
                  refine::arcsine::radians == refine::arctangent::radians);
    const double angle = fn(number_arg(0, name, "value"));
    set_float(used(r, refine::arcsine::radians) ? angle : angle * 180.0 / pi);
}
double c_asin(double x) { return std::asin(x); }
double c_acos(double x) { return std::acos(x); }
double c_atan(double x) { return std::atan(x); }
void arcsine(bool, const std::int32_t* r) { inverse_trig<c_asin>("arcsine", r); }
void arccosine(bool, const std::int32_t* r) { inverse_trig<c_acos>("arccosine", r); }
void arctangent(bool, const std::int32_t* r) { inverse_trig<c_atan>("arctangent", r); }

void arctangent2(bool, const std::int32_t* r) {
    const double angle = std::atan2(number_arg(0, "arctangent2", "y"), number_arg(1, "arctangent2", "x"));
    set_float(used(r, refine::arctangent2::radians) ? angle : angle * 180.0 / pi);
}

void nan_q(bool, const std::int32_t*) {
    const double v = number_arg(0, "NaN?", "value");
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    const bool nan = (bits & 0x7FF0000000000000ull) == 0x7FF0000000000000ull &&
                     (bits & 0x000FFFFFFFFFFFFFull) != 0;
    logic::make_at(*stack::arg(0), nan);
}

void log_2(bool, const std::int32_t*) { set_float(std::log(number_arg(0, "log-2", "value")) / 0.6931471805599453); }
void log_10(bool, const std::int32_t*) { set_float(std::log10(number_arg(0, "log-10", "value"))); }
void log_e(bool, const std::int32_t*) { set_float(std::log(number_arg(0, "log-e", "value"))); }
void exp(bool, const std::int32_t*) { set_float(std::pow(2.718281828459045, number_arg(0, "exp", "power"))); }
void square_root(bool, const std::int32_t*) { set_float(std::sqrt(number_arg(0, "square-root", "value"))); }

// The integer! of argument i; other values raise expect-arg.
std::int32_t integer_arg(std::int32_t i, const char* fn, const char* arg) {
    const Cell& v = *stack::arg(i);
    if (v.is(TypeId::integer)) return v.int_value();
    expect_arg(fn, v, arg);
}

// shift value bits /left /logical
void shift(bool, const std::int32_t* r) {
    const std::int32_t value = integer_arg(0, "shift", "data");
    std::int32_t bits = integer_arg(1, "shift", "bits");
    if (bits < 0) bits = 0;
    const auto u = static_cast<std::uint32_t>(value);
    std::int32_t result;
    if (used(r, refine::shift::left)) result = bits > 31 ? 0 : static_cast<std::int32_t>(u << bits);
    else if (used(r, refine::shift::logical)) result = bits > 31 ? 0 : static_cast<std::int32_t>(u >> bits);
    else if (bits > 31) result = value < 0 ? -1 : 0;
    else result = value >> bits;  // arithmetic in C++20
    Cell* out = stack::arg(0);
    out->reset(TypeId::integer);
    out->set_int(result);
}

// to-hex value /size length
void to_hex(bool, const std::int32_t* r) {
    const std::int32_t value = integer_arg(0, "to-hex", "value");
    std::int32_t length = 8;
    if (used(r, refine::to_hex::size)) {
        const Cell* len = stack::arg(r[refine::to_hex::size]);
        length = len->is(TypeId::integer) ? len->int_value() : 0;
        if (length <= 0) runtime::raise_error(ErrorCategory::script, "invalid-arg", len);
        if (length > 8) length = 8;
    }
    const char* digits = string::to_hex(value, false);
    issue::make_at(digits + (8 - length), *stack::arg(0));
}

// as-pair x y: integers as they are, floats truncated toward zero; a float
// that is no number raises invalid-arg.
std::int32_t pair_coordinate(std::int32_t i, const char* arg) {
    const Cell& v = *stack::arg(i);
    if (v.is(TypeId::integer)) return v.int_value();
    if (!v.is(TypeId::float_)) expect_arg("as-pair", v, arg);
    if (!std::isfinite(v.f64())) runtime::raise_error(ErrorCategory::script, "invalid-arg", &v);
    return pair::truncated(v.f64(), v);
}

void as_pair(bool, const std::int32_t*) {
    const std::int32_t x = pair_coordinate(0, "x");
    const std::int32_t y = pair_coordinate(1, "y");
    pair::make_at(*stack::arg(0), x, y);
}

// as-point2D and as-point3D: the coordinates as single-precision floats.
float point_coordinate(std::int32_t i, const char* fn, const char* arg) {
    const Cell& v = *stack::arg(i);
    if (v.is(TypeId::integer)) return static_cast<float>(v.int_value());
    if (!v.is(TypeId::float_)) expect_arg(fn, v, arg);
    return static_cast<float>(v.f64());
}

void as_point2d(bool, const std::int32_t*) {
    const float x = point_coordinate(0, "as-point2D", "x");
    const float y = point_coordinate(1, "as-point2D", "y");
    point::make_at(*stack::arg(0), x, y);
}

void as_point3d(bool, const std::int32_t*) {
    const float x = point_coordinate(0, "as-point3D", "x");
    const float y = point_coordinate(1, "as-point3D", "y");
    const float z = point_coordinate(2, "as-point3D", "z");
    point::make_at(*stack::arg(0), x, y, z);
}

// as-money currency amount: the amount (an integer exactly, a float cut to
// five decimals) in the currency; a code not in the currency list is bad-denom.
void as_money(bool, const std::int32_t*) {
    Cell* slot = stack::arg(0);
    const Cell code = *slot;
    const Cell amount = *stack::arg(1);
    const std::int32_t index = money::currency_index(code.word_symbol());
    if (index < 0) runtime::raise_error(ErrorCategory::script, "bad-denom", &code);
    if (amount.is(TypeId::integer)) money::from_integer(*slot, amount.int_value());
    else money::from_float(*slot, amount.f64(), false);
    slot->set_money_currency(static_cast<std::uint32_t>(index));
}

}  // namespace

void register_maths() {
    set(Native::shift, shift);
    set(Native::to_hex, to_hex);
    set(Native::sine, sine);
    set(Native::cosine, cosine);
    set(Native::tangent, tangent);
    set(Native::arcsine, arcsine);
    set(Native::arccosine, arccosine);
    set(Native::arctangent, arctangent);
    set(Native::arctangent2, arctangent2);
    set(Native::nan_q, nan_q);
    set(Native::log_2, log_2);
    set(Native::log_10, log_10);
    set(Native::log_e, log_e);
    set(Native::exp, exp);
    set(Native::square_root, square_root);
    set(Native::as_pair, as_pair);
    set(Native::as_point2d, as_point2d);
    set(Native::as_point3d, as_point3d);
    set(Native::as_money, as_money);
}

}  // namespace kiv::natives
