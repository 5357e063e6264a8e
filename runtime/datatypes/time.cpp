// time!: conversions, the h:mm:ss text, field access and float arithmetic on
// the seconds. Every result that is stored as a time! is finite: an infinite
// or NaN outcome raises an error instead of making a time that cannot be shown.
#include "runtime/datatypes/time.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/text/dtoa.h"
#include "runtime/io/lexer.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace kiv::time {

namespace {

// The cell that a path get hands back: always a scalar, copied by the caller.
Cell path_result{};

Cell word_cell(const char* name) {
    Cell c{};
    word::make_kind_at(TypeId::word, name, c);
    return c;
}

[[noreturn]] void bad_to_arg(const Cell& value) {
    const Cell type = datatype::of(TypeId::time);
    runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type, &value);
}

[[noreturn]] void not_related(TypeId t, const char* action) {
    const Cell type = datatype::of(t);
    const Cell word = word_cell(action);
    runtime::raise_error(ErrorCategory::script, "not-related", &type, &word);
}

[[noreturn]] void invalid_type(const Cell& value) {
    const Cell type = datatype::of(value.type());
    runtime::raise_error(ErrorCategory::script, "invalid-type", &type);
}

[[noreturn]] void overflow() { runtime::raise_error(ErrorCategory::math, "overflow"); }

// A time that cannot be shown is out of range: no infinite or NaN times.
double checked(double seconds) {
    if (!std::isfinite(seconds)) overflow();
    return seconds;
}

bool is_word_of(const Cell& w, words::Sym known) {
    return symbol::resolve_alias(w.word_symbol()) == symbol::resolve_alias(words::id(known));
}

// h:mm:ss from a block of one to three numbers; only the first may be negative.
double from_block(Cell& spec) {
    const std::int32_t n = block::count_from_head(spec);
    if (n < 1 || n > 3) bad_to_arg(spec);
    const Cell* item = block::head_cell(spec);
    double parts[3] = {0.0, 0.0, 0.0};
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell& c = item[i];
        if (c.is(TypeId::integer)) parts[i] = c.int_value();
        else if (i == 2 && c.is(TypeId::float_) && std::isfinite(c.f64())) parts[i] = c.f64();
        else bad_to_arg(spec);
        if (i > 0 && parts[i] < 0) bad_to_arg(spec);
    }
    const double magnitude =
        std::fabs(parts[0]) * seconds_per_hour + parts[1] * seconds_per_minute + parts[2];
    return parts[0] < 0 ? -magnitude : magnitude;
}

// The first value that the text from its head loads to, which must be a time.
double from_text(Cell& spec) {
    const std::string utf8 = string::utf8_of(spec);
    Cell loaded{};
    if (!lexer::scan_first_value(utf8.data(), static_cast<std::int32_t>(utf8.size()), loaded) ||
        !loaded.is(TypeId::time))
        bad_to_arg(spec);
    return loaded.f64();
}

// Appends a NUL-terminated ASCII text; returns its length.
std::int32_t append(NodeId out, const char* text) {
    string::append_nul_text(out, text);
    return static_cast<std::int32_t>(std::strlen(text));
}

// Field number of a path or pick element: 1-3 or a field word; 0 otherwise.
std::int32_t element_field(const Cell& element, const Cell& value) {
    if (element.is(TypeId::integer)) {
        const std::int32_t i = element.int_value();
        return i >= 1 && i <= 3 ? i : 0;
    }
    if (word::is_any_word(element.type())) return field_number(element, value);
    return 0;
}

// The time's operand: integer!, float!, percent! or time!; anything else
// (char! included, as for float! times) is an invalid type.
double operand(const Cell& value) {
    switch (value.type()) {
    case TypeId::integer: return value.int_value();
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time: return value.f64();
    default: invalid_type(value);
    }
}

enum class MathOp { add, subtract, multiply, divide, remainder };

// Hands the operation to the other operand's type with the operands swapped
// (time + date, time op pair); false when that type has no handler.
bool swapped(Cell* value1, Cell* value2, Action a) {
    using Binary = handler::Binary;
    Binary h = nullptr;
    switch (a) {
    case Action::add: h = registry::handler<Action::add>(value2->type()); break;
    case Action::subtract: h = registry::handler<Action::subtract>(value2->type()); break;
    case Action::multiply: h = registry::handler<Action::multiply>(value2->type()); break;
    case Action::divide: h = registry::handler<Action::divide>(value2->type()); break;
    case Action::remainder: h = registry::handler<Action::remainder>(value2->type()); break;
    default: break;
    }
    if (h == nullptr) return false;
    Cell other = *value2;
    Cell number = *value1;
    *value1 = *h(&other, &number);
    return true;
}

Cell* math(Cell* value1, Cell* value2, MathOp op) {
    const double b = operand(*value2);
    const double a = value1->f64();
    double r = 0.0;
    switch (op) {
    case MathOp::add: r = a + b; break;
    case MathOp::subtract: r = a - b; break;
    case MathOp::multiply: r = a * b; break;
    case MathOp::divide:
    case MathOp::remainder:
        if (b == 0.0) runtime::raise_error(ErrorCategory::math, "zero-divide");
        r = op == MathOp::divide ? a / b : std::fmod(a, b);
        break;
    }
    const TypeId result = op == MathOp::divide && value2->is(TypeId::time) ? TypeId::float_
                                                                           : TypeId::time;
    checked(r);
    value1->set_type(result);
    value1->set_f64(r);
    return value1;
}

bool is_point_like(TypeId t) {
    return t == TypeId::pair || t == TypeId::point2d || t == TypeId::point3d;
}

// Whole seconds of the minute, nudged so that 2.9999999 counts as 3.
std::int64_t whole_seconds(double seconds) {
    const double nudged = seconds >= 0 ? seconds + zero_threshold : seconds - zero_threshold;
    return static_cast<std::int64_t>(std::fmod(nudged, seconds_per_minute));
}

}  // namespace

Cell* make_in(const Cell& blk, double seconds) {
    Cell* cell = buffer::append_cell(blk.series_node());
    cell->reset(TypeId::time);
    cell->set_f64(seconds);
    return cell;
}

std::int32_t get_hours(double seconds) {
    const double h = std::trunc(seconds / seconds_per_hour);
    if (h >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (h <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(h);
}

std::int32_t get_minutes(double seconds) {
    return static_cast<std::int32_t>(
        std::floor(std::fmod(std::fabs(seconds), seconds_per_hour) / seconds_per_minute));
}

void get_field(double seconds, std::int32_t f, Cell& out) {
    switch (f) {
    case hour: {
        const double h = std::trunc(seconds / seconds_per_hour);
        if (!(h < 2147483648.0 && h >= -2147483648.0)) overflow();  // no integer! holds it
        out.reset(TypeId::integer);
        out.set_int(static_cast<std::int32_t>(h));
        break;
    }
    case minute:
        out.reset(TypeId::integer);
        out.set_int(get_minutes(seconds));
        break;
    default:
        out.reset(TypeId::float_);
        out.set_f64(std::fmod(seconds, seconds_per_minute));
        break;
    }
}

std::int32_t field_number(const Cell& word, const Cell& value) {
    if (is_word_of(word, words::Sym::hour)) return hour;
    if (is_word_of(word, words::Sym::minute)) return minute;
    if (is_word_of(word, words::Sym::second)) return second;
    if (value.is(TypeId::time)) runtime::raise_error(ErrorCategory::script, "cannot-use", &word);
    return -1;
}

std::int32_t form_hms(NodeId out, double seconds, std::int32_t part) {
    if (!std::isfinite(seconds)) return part - append(out, dtoa::form_float(seconds, 6, false));
    std::int32_t n = 0;
    if (seconds < 0) {
        n += append(out, "-");
        seconds = -seconds;
    }
    double hours = std::floor(seconds / seconds_per_hour);
    double minutes = std::floor(std::fmod(seconds, seconds_per_hour) / seconds_per_minute);
    const double s = std::fmod(seconds, seconds_per_minute);
    std::string sec = "00";
    if (s >= zero_threshold) {
        sec = dtoa::form_float(s, 6, false);
        if (sec == "60") {  // 59.99995 and up round to a whole minute: carry it
            sec = "00";
            if (++minutes == 60) {
                minutes = 0;
                ++hours;
            }
        } else if (sec.size() == 1 || sec[1] == '.') {
            sec.insert(0, "0");
        }
    }
    char hm[48];
    std::snprintf(hm, sizeof hm, "%.0f:%02d:", hours, static_cast<int>(minutes));
    n += append(out, hm);
    n += append(out, sec.c_str());
    return part - n;
}

Cell* to(Cell* proto, Cell* spec, TypeId) {
    double seconds = 0.0;
    switch (spec->type()) {
    case TypeId::time: seconds = spec->f64(); break;
    case TypeId::integer: seconds = spec->int_value(); break;
    case TypeId::float_:
    case TypeId::percent:
        seconds = spec->f64();
        if (!std::isfinite(seconds)) runtime::raise_error(ErrorCategory::script, "out-of-range", spec);
        break;
    case TypeId::block:
    case TypeId::paren:
    case TypeId::hash: seconds = from_block(*spec); break;
    default:
        if (!is_any_string_type(spec->type())) bad_to_arg(*spec);
        seconds = from_text(*spec);
        break;
    }
    proto->reset(TypeId::time);
    proto->set_f64(seconds);
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    return form_hms(out, value->f64(), part);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell*, std::int32_t part,
                  std::int32_t) {
    return form_hms(out, value->f64(), part);
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    const std::int32_t f = element_field(*element, *value);
    if (f <= 0) runtime::raise_error(ErrorCategory::script, "invalid-path", element);
    const double seconds = value->f64();
    if (new_value == nullptr) {
        get_field(seconds, f, path_result);
        return &path_result;
    }
    // Negative times change their magnitude's field, so that reading the
    // field back gives what was set.
    const double sign = seconds < 0 ? -1.0 : 1.0;
    const double magnitude = std::fabs(seconds);
    double result = seconds;
    switch (f) {
    case hour:
        if (!new_value->is(TypeId::integer))
            runtime::raise_error(ErrorCategory::script, "invalid-arg", new_value);
        result = seconds - (std::trunc(seconds / seconds_per_hour) - new_value->int_value()) *
                               seconds_per_hour;
        break;
    case minute:
        if (!new_value->is(TypeId::integer))
            runtime::raise_error(ErrorCategory::script, "invalid-arg", new_value);
        result = sign * (magnitude - (get_minutes(seconds) - new_value->int_value()) *
                                         seconds_per_minute);
        break;
    default: {
        double s = 0.0;
        if (new_value->is(TypeId::integer)) s = new_value->int_value();
        else if (new_value->is(TypeId::float_)) s = new_value->f64();
        else runtime::raise_error(ErrorCategory::script, "invalid-arg", new_value);
        result = seconds - (std::fmod(seconds, seconds_per_minute) - s);
        break;
    }
    }
    value->set_f64(checked(result));
    if (step.owner) ownership::report_cell_change(step.parent, value);
    return new_value;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if ((op == CompareOp::strict_equal || op == CompareOp::same || op == CompareOp::find) &&
        !value2->is(TypeId::time))
        return 1;
    double b = 0.0;
    switch (value2->type()) {
    case TypeId::integer: b = value2->int_value(); break;
    case TypeId::float_:
    case TypeId::percent:
    case TypeId::time: b = value2->f64(); break;
    default: return not_comparable;
    }
    const double a = value1->f64();
    switch (op) {
    case CompareOp::equal:
    case CompareOp::not_equal: return float_::near_equal(a, b) ? 0 : 1;
    case CompareOp::strict_equal: return a == b ? 0 : 1;
    case CompareOp::same: return std::memcmp(&a, &b, sizeof a) == 0 ? 0 : 1;
    default:
        if (std::isnan(a) || std::isnan(b)) {
            if (op == CompareOp::lesser || op == CompareOp::lesser_or_equal) return 1;
            if (op == CompareOp::greater || op == CompareOp::greater_or_equal) return -1;
            return 0;
        }
        return (a > b) - (a < b);
    }
}

Cell* absolute(Cell* value) {
    value->set_f64(std::fabs(value->f64()));
    return value;
}

Cell* add(Cell* value1, Cell* value2) {
    if ((value2->is(TypeId::date) || is_point_like(value2->type())) &&
        swapped(value1, value2, Action::add))
        return value1;
    return math(value1, value2, MathOp::add);
}

Cell* divide(Cell* value1, Cell* value2) {
    if (is_point_like(value2->type()) && swapped(value1, value2, Action::divide)) return value1;
    return math(value1, value2, MathOp::divide);
}

Cell* multiply(Cell* value1, Cell* value2) {
    if (value2->is(TypeId::time)) not_related(TypeId::time, "multiply");
    if (is_point_like(value2->type()) && swapped(value1, value2, Action::multiply)) return value1;
    return math(value1, value2, MathOp::multiply);
}

Cell* negate(Cell* value) {
    value->set_f64(0.0 - value->f64());
    return value;
}

Cell* remainder(Cell* value1, Cell* value2) {
    if (is_point_like(value2->type()) && swapped(value1, value2, Action::remainder)) return value1;
    return math(value1, value2, MathOp::remainder);
}

Cell* round(Cell* n, const RoundRefinements& how) {
    double step = 1.0;
    if (how.scale != nullptr) {
        switch (how.scale->type()) {
        case TypeId::money: not_related(TypeId::money, "round");
        case TypeId::integer: step = std::fabs(static_cast<double>(how.scale->int_value())); break;
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: step = std::fabs(how.scale->f64()); break;
        default: runtime::raise_error(ErrorCategory::script, "invalid-arg", how.scale);
        }
    }
    const double v = n->f64();
    const double inverse = 1.0 / step;
    // A zero or unusable scale, or one below the value's precision, changes nothing.
    if (!(step > 0.0) || !std::isfinite(step) || !std::isfinite(inverse) ||
        std::fabs(v) * 0x1p-53 > step)
        return n;
    const double x = step >= 1.0 ? v / step : v * inverse;
    double r = 0.0;
    if (how.down) {
        r = std::trunc(x);
    } else if (how.floor) {
        r = std::floor(x);
    } else if (how.ceiling) {
        r = std::ceil(x);
    } else {
        const double m = std::fabs(x);
        const double low = std::floor(m);
        double rm = 0.0;
        if (m > low + 0.5) rm = low + 1.0;
        else if (m < low + 0.5) rm = low;
        else if (how.even) rm = std::fmod(m, 2.0) < 1.0 ? low : low + 1.0;
        else if (how.half_down) rm = low;
        else if (how.half_ceiling) rm = x < 0 ? low : low + 1.0;
        else rm = low + 1.0;
        r = x < 0 ? -rm : rm;
    }
    const double result = step >= 1.0 ? r * step : r / inverse;
    n->set_type(TypeId::time);
    n->set_f64(checked(result));
    return n;
}

Cell* subtract(Cell* value1, Cell* value2) {
    if (value2->is(TypeId::date)) not_related(TypeId::time, "subtract");
    if (is_point_like(value2->type()) && swapped(value1, value2, Action::subtract)) return value1;
    return math(value1, value2, MathOp::subtract);
}

std::int32_t even_q(Cell* value) { return whole_seconds(value->f64()) % 2 == 0 ? 1 : 0; }

std::int32_t odd_q(Cell* value) { return whole_seconds(value->f64()) % 2 != 0 ? 1 : 0; }

Cell* pick(Cell* value, Cell* index) {
    // An unknown word is out of range here, not cannot-use as in a path.
    const std::int32_t f = word::is_any_word(index->type()) ? field_number(*index, none::value)
                                                            : element_field(*index, *value);
    if (f <= 0) runtime::raise_error(ErrorCategory::script, "out-of-range", index);
    get_field(value->f64(), f, *value);
    return value;
}

void init() {
    static constexpr registry::Registration r{
        TypeId::time, registry::table({
            {Action::make, to},
            {Action::to, to},
            {Action::form, form},
            {Action::mold, mold},
            {Action::eval_path, eval_path},
            {Action::compare, compare},
            {Action::absolute, absolute},
            {Action::add, add},
            {Action::divide, divide},
            {Action::multiply, multiply},
            {Action::negate, negate},
            {Action::power, registry::refuse},
            {Action::remainder, remainder},
            {Action::round, round},
            {Action::subtract, subtract},
            {Action::even_q, even_q},
            {Action::odd_q, odd_q},
            {Action::pick, pick},  // ORDER ACTIONS
        })};
    registry::register_type(r);
}

}  // namespace kiv::time
