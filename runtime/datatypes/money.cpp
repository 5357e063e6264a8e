// money!: the packed digits are unpacked into one unsigned integer counting
// units of the fifth fraction digit (below 10^22, so 74 bits), the maths is
// done on that integer and its sign, and the digits are packed again. Every
// result is exact or raises: overflow and underflow are type-limit errors.
#include "runtime/datatypes/money.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/text/dtoa.h"
#include "runtime/io/lexer.h"
#include "runtime/core/random.h"
#include "runtime/core/raise.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace kiv::money {

namespace {

// An amount in units of 0.00001, below 10^22.
__extension__ typedef unsigned __int128 Units;

constexpr Units units_per_whole = 100000;  // one whole unit of currency

constexpr std::array<Units, 29> make_powers() {
    std::array<Units, 29> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i) p[i] = p[i - 1] * 10;
    return p;
}
constexpr std::array<Units, 29> powers = make_powers();  // 10^0 .. 10^28
constexpr Units limit = powers[digit_count];                // 10^22: first amount that does not fit
constexpr int work_digits = 28;                             // room of a product

struct Amount {
    Units units = 0;
    bool negative = false;
    std::uint32_t currency = 0;
};

// The cell that a path get hands back: always a scalar, copied by the caller.
Cell path_result{};

Cell word_cell(const char* name) {
    Cell c{};
    word::make_kind_at(TypeId::word, name, c);
    return c;
}

[[noreturn]] void type_limit(TypeId t = TypeId::money) {
    const Cell type = datatype::of(t);
    runtime::raise_error(ErrorCategory::script, "type-limit", &type);
}

[[noreturn]] void invalid_type(const Cell& value) {
    const Cell type = datatype::of(value.type());
    runtime::raise_error(ErrorCategory::script, "invalid-type", &type);
}

[[noreturn]] void bad_make_arg(const Cell& value) {
    const Cell type = datatype::of(TypeId::money);
    runtime::raise_error(ErrorCategory::script, "bad-make-arg", &type, &value);
}

[[noreturn]] void bad_to_arg(const Cell& value) {
    const Cell type = datatype::of(TypeId::money);
    runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type, &value);
}

[[noreturn]] void wrong_denom(const Cell& a, const Cell& b) {
    runtime::raise_error(ErrorCategory::script, "wrong-denom", &a, &b);
}

// --- Packing ---------------------------------------------------------------------

// A digit byte holds two digits; it is read and written as one number 0-99.
// The first five bytes (digits 1-10) and the last six (digits 11-22) each fit
// 64 bits, so only the join and the split touch 128-bit arithmetic.
constexpr std::uint64_t ten_to_12 = 1000000000000ull;
constexpr int high_bytes = 5;

constexpr std::array<std::uint8_t, 256> make_byte_values() {
    std::array<std::uint8_t, 256> v{};
    for (int b = 0; b < 256; ++b) v[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>((b >> 4) * 10 + (b & 0xF));
    return v;
}
constexpr std::array<std::uint8_t, 100> make_bytes_of() {
    std::array<std::uint8_t, 100> v{};
    for (int n = 0; n < 100; ++n) v[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>((n / 10) << 4 | n % 10);
    return v;
}
constexpr std::array<std::uint8_t, 256> byte_values = make_byte_values();
constexpr std::array<std::uint8_t, 100> bytes_of = make_bytes_of();

Units units_of(const Cell& c) {
    const std::uint8_t* d = c.money_digits();
    std::uint64_t high = 0;  // digits 1-10
    std::uint64_t low = 0;   // digits 11-22
    for (int i = 0; i < high_bytes; ++i) high = high * 100 + byte_values[d[i]];
    for (int i = high_bytes; i < Cell::money_digit_bytes; ++i) low = low * 100 + byte_values[d[i]];
    return static_cast<Units>(high) * ten_to_12 + low;
}

Amount amount_of(const Cell& c) {
    return Amount{units_of(c), c.money_negative(), c.money_currency()};
}

bool zero_digits(const Cell& c) {
    const std::uint8_t* d = c.money_digits();
    for (int i = 0; i < Cell::money_digit_bytes; ++i)
        if (d[i] != 0) return false;
    return true;
}

void pack(Units u, std::uint8_t (&bytes)[Cell::money_digit_bytes]) {
    // u / 10^12 as (u / 2^12) / 5^12: the first quotient fits 64 bits (u is
    // below 2^74), so no 128-bit division is needed.
    std::uint64_t high = static_cast<std::uint64_t>(u >> 12) / 244140625u;
    std::uint64_t low = static_cast<std::uint64_t>(u - static_cast<Units>(high) * ten_to_12);
    for (int i = Cell::money_digit_bytes - 1; i >= high_bytes; --i) {
        bytes[i] = bytes_of[low % 100];
        low /= 100;
    }
    for (int i = high_bytes - 1; i >= 0; --i) {
        bytes[i] = bytes_of[high % 100];
        high /= 100;
    }
}

// Makes cell a money! of the amount (callers keep units below 10^22).
void store(Cell& cell, const Amount& a) {
    std::uint8_t bytes[Cell::money_digit_bytes] = {};
    pack(a.units, bytes);
    cell.reset(TypeId::money);
    cell.set_money_negative(a.negative && a.units != 0);
    cell.set_money_currency(a.currency);
    cell.set_money_digits(bytes);
}

// Significant decimal digits of u, at least 1.
int digits_of(Units u) {
    int n = 1;
    while (n < static_cast<int>(powers.size()) && u >= powers[static_cast<std::size_t>(n)]) ++n;
    return n;
}

Units from_int(std::int32_t v) {
    const std::int64_t wide = v;
    return static_cast<Units>(wide < 0 ? -wide : wide) * units_per_whole;
}

// A float's amount truncated toward zero; inexact is set when digits were
// dropped. The float is finite and below 1e17 in magnitude. Its digits are
// those of its shortest text, so 0.3 is exactly $0.3.
Units from_double(double v, bool& inexact) {
    inexact = false;
    const double m = std::fabs(v);
    if (m == 0.0) return 0;
    int point = 0, sign = 0, count = 0;
    const char* digits = dtoa::to_digits(m, 0, point, sign, count, false);
    Units u = 0;
    for (int i = 0; i < count; ++i) {
        const int exponent = point - 1 - i + fraction_digits;  // power of ten in units
        const auto d = static_cast<Units>(digits[i] - '0');
        if (exponent >= 0 && exponent < digit_count) u += d * powers[static_cast<std::size_t>(exponent)];
        else if (d != 0) inexact = true;
    }
    return u;
}

Amount float_amount(const Cell& value, double v, bool strict) {
    if (!std::isfinite(v)) bad_make_arg(value);
    const double m = std::fabs(v);
    if ((m != 0.0 && m < 1e-5) || m >= 1e17) bad_make_arg(value);
    bool inexact = false;
    const Units u = from_double(v, inexact);
    if (strict && inexact) bad_make_arg(value);
    return Amount{u, v < 0, 0};
}

// An arithmetic operand as an amount; invalid-type for other types.
Amount operand(const Cell& value) {
    switch (value.type()) {
    case TypeId::money: return amount_of(value);
    case TypeId::integer: return Amount{from_int(value.int_value()), value.int_value() < 0, 0};
    case TypeId::float_:
    case TypeId::percent: return float_amount(value, value.f64(), false);
    default: invalid_type(value);
    }
}

bool compatible(std::uint32_t a, std::uint32_t b, bool strict) {
    return a == b || (!strict && (a == 0 || b == 0));
}

// --- Arithmetic on amounts ------------------------------------------------------

Amount sum(const Amount& a, const Amount& b) {
    Amount r{0, a.negative, 0};
    if (a.negative == b.negative || a.units == 0 || b.units == 0) {
        if (a.units == 0) r.negative = b.negative;
        r.units = a.units + b.units;
        if (r.units >= limit) type_limit();
    } else if (a.units >= b.units) {
        r.units = a.units - b.units;
    } else {
        r.units = b.units - a.units;
        r.negative = b.negative;
    }
    return r;
}

Amount product(const Amount& a, const Amount& b) {
    Amount r{0, a.negative != b.negative, 0};
    if (a.units == 0 || b.units == 0) return Amount{};
    const Units small = powers[work_digits / 2];  // two such operands always fit
    if ((a.units >= small || b.units >= small) && digits_of(a.units) + digits_of(b.units) > work_digits)
        type_limit();
    r.units = a.units * b.units / units_per_whole;  // the extra fraction digits are cut
    if (r.units >= limit || r.units == 0) type_limit();
    return r;
}

// Quotient (five fraction digits, truncated) or remainder (the dividend's sign).
Amount quotient(const Amount& a, const Amount& b, bool remainder) {
    if (b.units == 0) runtime::raise_error(ErrorCategory::math, "zero-divide");
    if (a.units == 0) return Amount{};
    if (remainder) return Amount{a.units % b.units, a.negative, 0};
    if (digits_of(a.units) - digits_of(b.units) + 6 > digit_count) type_limit();
    Amount r{a.units * units_per_whole / b.units, a.negative != b.negative, 0};
    if (r.units >= limit || r.units == 0) type_limit();
    return r;
}

// -1, 0 or 1 for two signed amounts (a zero counts as zero, whatever its flag).
std::int32_t order(const Amount& a, const Amount& b) {
    const int sa = a.units == 0 ? 0 : a.negative ? -1 : 1;
    const int sb = b.units == 0 ? 0 : b.negative ? -1 : 1;
    if (sa != sb || sa == 0) return (sa > sb) - (sa < sb);
    const int magnitude = (a.units > b.units) - (a.units < b.units);
    return sa > 0 ? magnitude : -magnitude;
}

// --- Currencies ---------------------------------------------------------------------

// The currency list block, or null before the system object has one.
const Cell* currency_list() {
    const Cell* list = system_object::field("locale/currencies/list");
    return list != nullptr && list->is(TypeId::block) ? list : nullptr;
}

bool same_code(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y && !(x < 128 && y < 128 && std::tolower(x) == std::tolower(y))) return false;
    }
    return true;
}

// The list's word of a currency index, or null.
const Cell* currency_cell(std::uint32_t index) {
    if (index == 0) return nullptr;
    const Cell* list = currency_list();
    if (list == nullptr) return nullptr;
    const std::int32_t at = block::clamped_head(*list) + static_cast<std::int32_t>(index) - 1;
    if (at >= block::length_of(*list)) return nullptr;
    const Cell* c = block::get_cell(*list, at);
    return word::is_any_word(c->type()) ? c : nullptr;
}

// Sort order of two currency indexes: none first, then by the words' spelling.
std::int32_t currency_order(std::uint32_t a, std::uint32_t b) {
    if (a == b) return 0;
    if (a == 0) return -1;
    if (b == 0) return 1;
    const Cell* wa = currency_cell(a);
    const Cell* wb = currency_cell(b);
    if (wa != nullptr && wb != nullptr) {
        const std::int32_t c =
            symbol::compare_names(wa->word_symbol(), wb->word_symbol(), CompareOp::sort);
        if (c != 0) return c < 0 ? -1 : 1;
    }
    return a < b ? -1 : 1;
}

// --- Text ----------------------------------------------------------------------------

// Fraction digits form and mold show: system/options/money-digits, else 2.
std::int32_t shown_digits(bool all) {
    if (all) return fraction_digits;
    const Cell* option = system_object::field("options/money-digits");
    const std::int32_t n = option != nullptr && option->is(TypeId::integer) ? option->int_value() : 2;
    return n > fraction_digits ? fraction_digits : n;
}

std::int32_t write(const Cell& value, NodeId out, std::int32_t part, bool grouped, bool all) {
    const Units u = units_of(value);
    const Cell currency = [&] {
        const Cell* w = currency_cell(value.money_currency());
        return w != nullptr ? *w : none::value;
    }();
    const std::int32_t digits_shown = shown_digits(all);
    std::int32_t written = 0;
    if (u != 0 && value.money_negative()) {
        string::append_nul_text(out, "-");
        ++written;
    }
    if (currency.type() != TypeId::none) {
        word::append_name(currency.word_symbol(), out, 0);
        written += 3;
    }
    char text[64];
    std::size_t n = 0;
    text[n++] = '$';
    const auto whole = static_cast<std::uint64_t>(u / units_per_whole);
    const auto fraction = static_cast<std::uint32_t>(u % units_per_whole);
    const std::string digits = std::to_string(whole);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const std::size_t left = digits.size() - i;  // digits from here to the units
        if (grouped && i > 0 && left % 3 == 0) text[n++] = '\'';
        text[n++] = digits[i];
    }
    if (digits_shown >= 1) {
        char five[8];
        std::snprintf(five, sizeof five, "%05u", fraction);
        text[n++] = '.';
        for (std::int32_t i = 0; i < digits_shown; ++i) text[n++] = five[i];
    }
    text[n] = '\0';
    string::append_nul_text(out, text);
    return part - written - static_cast<std::int32_t>(n);
}

// --- Paths --------------------------------------------------------------------------------

bool is_word_of(const Cell& w, words::Sym known) {
    return symbol::resolve_alias(w.word_symbol()) == symbol::resolve_alias(words::id(known));
}

// 1 (code) or 2 (amount) for a path or pick element; 0 otherwise.
std::int32_t field_of(const Cell& element) {
    if (element.is(TypeId::integer)) {
        const std::int32_t i = element.int_value();
        return i == 1 || i == 2 ? i : 0;
    }
    if (word::is_any_word(element.type())) {
        if (is_word_of(element, words::Sym::code)) return 1;
        if (is_word_of(element, words::Sym::amount)) return 2;
    }
    return 0;
}

void get_field(const Cell& value, std::int32_t f, Cell& out) {
    if (f == 1) {
        Cell w{};
        currency_word(value, w);
        out = w;
    } else {
        out = value;
        out.set_money_currency(0);
        out.set_new_line(false);
    }
}

// A money! from a block: [currency? amount fraction?].
void from_block(Cell& spec, Cell& out) {
    const std::int32_t n = block::count_from_head(spec);
    if (n < 1 || n > 3) bad_make_arg(spec);
    const Cell* item = block::head_cell(spec);
    std::int32_t i = 0;
    std::uint32_t currency = 0;
    if (item[0].is(TypeId::word)) {
        const std::int32_t index = currency_index(item[0].word_symbol());
        if (index < 0) bad_make_arg(item[0]);
        currency = static_cast<std::uint32_t>(index);
        if (++i == n) bad_make_arg(item[0]);  // a currency alone
    }
    Amount a;
    const Cell& amount = item[i];
    if (amount.is(TypeId::integer)) a = operand(amount);
    else if (amount.is(TypeId::float_)) a = float_amount(amount, amount.f64(), true);
    else bad_make_arg(amount);
    if (++i < n) {
        const Cell& fraction = item[i];
        if (!amount.is(TypeId::integer) || !fraction.is(TypeId::integer) ||
            fraction.int_value() < 0 || fraction.int_value() > 99999)
            bad_make_arg(fraction);
        // the fraction goes with the amount's sign: [-12 50] is -12.0005
        a.units += static_cast<Units>(fraction.int_value());
        if (++i < n) bad_make_arg(item[i]);
    }
    a.currency = currency;
    store(out, a);
}

// A money! from the text of a string-like value, or bad-to-arg.
void from_text(Cell& spec, Cell& out) {
    const std::int32_t count = string::length_from_head(spec);
    const std::uint32_t unit = memory::buffer(spec.series_node())->unit();
    Cell result{};
    if (count < 0 || !lexer::string_to_money(string::head_pointer(spec), count, unit, result))
        bad_to_arg(spec);
    out = result;
}

bool is_text_type(TypeId t) { return is_any_string_type(t); }

}  // namespace

// --- Cells and conversions ----------------------------------------------------------

void make_at(Cell& cell, bool negative, std::uint32_t currency,
             const std::uint8_t (&digits)[Cell::money_digit_bytes]) {
    cell.reset(TypeId::money);
    cell.set_money_currency(currency);
    cell.set_money_digits(digits);
    cell.set_money_negative(negative && !zero_digits(cell));
}

bool make_from_text(Cell& out, bool negative, std::uint32_t currency, std::string_view whole,
                    std::string_view fraction) {
    Units u = 0;
    int significant = 0;
    for (const char c : whole) {
        if (c == '\'') continue;
        if (c < '0' || c > '9') return false;
        if (significant == 0 && c == '0') continue;
        if (++significant > integer_digits) return false;
        u = u * 10 + static_cast<Units>(c - '0');
    }
    u *= units_per_whole;
    int taken = 0;
    for (const char c : fraction) {
        if (c == '\'') continue;
        if (c < '0' || c > '9') return false;
        if (taken == fraction_digits) continue;  // past the fifth: dropped
        u += static_cast<Units>(c - '0') * powers[static_cast<std::size_t>(fraction_digits - 1 - taken)];
        ++taken;
    }
    store(out, Amount{u, negative, currency});
    return true;
}

void from_integer(Cell& out, std::int32_t value) {
    store(out, Amount{from_int(value), value < 0, 0});
}

std::int32_t to_integer(const Cell& value) {
    const Units whole = units_of(value) / units_per_whole;
    const bool negative = value.money_negative();
    if (whole > (negative ? Units{2147483648u} : Units{2147483647u})) type_limit(TypeId::integer);
    const auto w = static_cast<std::int64_t>(whole);
    return static_cast<std::int32_t>(negative ? -w : w);
}

void from_float(Cell& out, double value, bool strict) {
    Cell f{};
    float_::make_at(f, value);
    store(out, float_amount(f, value, strict));
}

double to_float(const Cell& value) {
    const Units u = units_of(value);
    if (u == 0) return 0.0;
    char text[48];
    const int n = std::snprintf(text, sizeof text, "%llu.%05u",
                                static_cast<unsigned long long>(u / units_per_whole),
                                static_cast<unsigned>(u % units_per_whole));
    int rest = 0;
    const double d = dtoa::strtod(text, text + n, 0, rest);
    return value.money_negative() ? -d : d;
}

std::int32_t sign_of(const Cell& value) {
    if (zero_digits(value)) return 0;
    return value.money_negative() ? -1 : 1;
}

std::int32_t currency_index(std::string_view code) {
    const Cell* list = currency_list();
    if (list == nullptr) return -1;
    const std::int32_t head = block::clamped_head(*list);
    const std::int32_t length = block::length_of(*list);
    for (std::int32_t i = head; i < length && i - head < 255; ++i) {
        const Cell* c = block::get_cell(*list, i);
        if (word::is_any_word(c->type()) && same_code(symbol::name(c->word_symbol()), code))
            return i - head + 1;
    }
    return -1;
}

std::int32_t currency_index(symbol::SymbolId sym) {
    const std::string name(symbol::name(sym));
    return currency_index(std::string_view(name));
}

void currency_word(const Cell& value, Cell& out) {
    const Cell* w = currency_cell(value.money_currency());
    if (w == nullptr) {
        none::make_at(out);
        return;
    }
    out = *w;
    out.set_type(TypeId::word);
    out.set_new_line(false);
}

Cell* math_op(Cell* left, Cell* right, float_::MathOp op) {
    const bool left_money = left->is(TypeId::money);
    const bool right_money = right->is(TypeId::money);
    if (op == float_::MathOp::multiply && left_money && right_money) invalid_type(*left);
    if ((op == float_::MathOp::divide || op == float_::MathOp::remainder) && !left_money && right_money)
        invalid_type(*left);
    if (op > float_::MathOp::remainder) invalid_type(left_money ? *right : *left);
    const Amount a = operand(*left);
    const Amount b = operand(*right);
    if (!compatible(a.currency, b.currency, false)) wrong_denom(*left, *right);
    Amount r;
    switch (op) {
    case float_::MathOp::add: r = sum(a, b); break;
    case float_::MathOp::subtract: r = sum(a, Amount{b.units, !b.negative, 0}); break;
    case float_::MathOp::multiply: r = product(a, b); break;
    case float_::MathOp::divide: r = quotient(a, b, false); break;
    default: r = quotient(a, b, true); break;
    }
    r.currency = b.currency != 0 ? b.currency : a.currency;
    store(*left, r);
    if (op == float_::MathOp::divide && left_money && right_money)
        float_::make_at(*left, to_float(*left));
    return left;
}

// --- Handlers -----------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId type) {
    switch (spec->type()) {
    case TypeId::word: {
        const std::int32_t index = currency_index(spec->word_symbol());
        if (index < 0) bad_make_arg(*spec);
        store(*proto, Amount{0, false, static_cast<std::uint32_t>(index)});
        return proto;
    }
    case TypeId::block:
        from_block(*spec, *proto);
        return proto;
    default:
        return to(proto, spec, type);
    }
}

Cell* random(Cell* value, const RandomRefinements& how) {
    if (how.seed) {
        const std::uint32_t s = value->payload_word(1) ^ value->payload_word(2) ^
                                value->payload_word(3) ^
                                (value->money_negative() ? Cell::money_sign_flag : 0u);
        random::seed(s);
        value->reset(TypeId::unset);
        return value;
    }
    // Redraw the digits from the left: each at most the value's digit (a draw
    // equal to it is kept only rarely), and once one falls below, the rest
    // are free.
    std::uint8_t digits[digit_count];
    Units u = units_of(*value);
    for (int p = digit_count - 1; p >= 0; --p) {
        digits[p] = static_cast<std::uint8_t>(u % 10);
        u /= 10;
    }
    int p = 0;
    while (p < digit_count && digits[p] == 0) ++p;
    bool below = false;
    for (; p < digit_count; ++p) {
        if (below) {
            digits[p] = static_cast<std::uint8_t>(random::draw(how.secure) % 10);
            continue;
        }
        const std::uint32_t current = digits[p];
        std::uint32_t d = 0;
        while (true) {
            d = random::draw(how.secure) % (current + 1);
            if (d != current) break;
            if (random::draw(how.secure) % 1000 == random::draw(how.secure) % 1000) break;
        }
        digits[p] = static_cast<std::uint8_t>(d);
        below = d < current;
    }
    Units r = 0;
    for (const std::uint8_t d : digits) r = r * 10 + d;
    store(*value, Amount{r, value->money_negative(), value->money_currency()});
    return value;
}

Cell* to(Cell* proto, Cell* spec, TypeId) {
    const TypeId t = spec->type();
    switch (t) {
    case TypeId::money: *proto = *spec; break;
    case TypeId::integer: from_integer(*proto, spec->int_value()); break;
    case TypeId::float_:
    case TypeId::percent: store(*proto, float_amount(*spec, spec->f64(), true)); break;
    default:
        if (!is_text_type(t)) bad_to_arg(*spec);
        from_text(*spec, *proto);
    }
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    return write(*value, out, part, true, false);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell*, std::int32_t part,
                  std::int32_t) {
    return write(*value, out, part, false, options.all);
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    const Cell path = step.path != nullptr ? *step.path : *value;
    if (new_value != nullptr)
        runtime::raise_error(ErrorCategory::script, "bad-path-set", &path, element);
    const std::int32_t f = field_of(*element);
    if (f == 0) runtime::raise_error(ErrorCategory::script, "invalid-path", &path, element);
    get_field(*value, f, path_result);
    return &path_result;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    const TypeId t = value2->type();
    if ((op == CompareOp::strict_equal || op == CompareOp::same || op == CompareOp::find) &&
        t != TypeId::money)
        return 1;
    const Amount a = amount_of(*value1);
    std::int32_t answer = 0;
    switch (t) {
    case TypeId::money: {
        const Amount b = amount_of(*value2);
        switch (op) {
        case CompareOp::lesser:
        case CompareOp::lesser_or_equal:
        case CompareOp::greater:
        case CompareOp::greater_or_equal:
            if (!compatible(a.currency, b.currency, false)) wrong_denom(*value1, *value2);
            break;
        case CompareOp::sort:
        case CompareOp::case_sort: {
            const std::int32_t c = currency_order(a.currency, b.currency);
            if (c != 0) return c;
            break;
        }
        case CompareOp::strict_equal:
        case CompareOp::same:
        case CompareOp::parse_strict:
            if (!compatible(a.currency, b.currency, true)) return 1;
            break;
        case CompareOp::find:
            if (!compatible(a.currency, b.currency, b.currency != 0)) return 1;
            break;
        default:
            if (!compatible(a.currency, b.currency, false)) return 1;
            break;
        }
        answer = order(a, b);
        break;
    }
    case TypeId::integer:
        answer = order(a, Amount{from_int(value2->int_value()), value2->int_value() < 0, 0});
        break;
    case TypeId::float_: {
        const double f = value2->f64();
        if (std::isnan(f)) {  // no order with NaN: every ordering question answers false
            if (op == CompareOp::lesser || op == CompareOp::lesser_or_equal) return 1;
            if (op == CompareOp::greater || op == CompareOp::greater_or_equal) return -1;
            return 1;
        }
        if (std::fabs(f) >= 1e17) {
            answer = f > 0 ? -1 : 1;
            break;
        }
        // A float between two amounts: compared with its truncation, a tie
        // broken by the part that was cut off.
        bool inexact = false;
        const Amount b{from_double(f, inexact), f < 0, 0};
        answer = order(a, b);
        if (answer == 0 && inexact) answer = f > 0 ? -1 : 1;
        break;
    }
    default:
        return not_comparable;
    }
    if (is_equality(op) || op == CompareOp::parse_strict || op == CompareOp::parse_equal)
        return answer != 0 ? 1 : 0;
    return answer;
}

Cell* absolute(Cell* value) {
    value->set_money_negative(false);
    return value;
}

Cell* add(Cell* value1, Cell* value2) { return money::math_op(value1, value2, float_::MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return money::math_op(value1, value2, float_::MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) {
    return money::math_op(value1, value2, float_::MathOp::multiply);
}

Cell* negate(Cell* value) {
    value->set_money_negative(!value->money_negative() && !zero_digits(*value));
    return value;
}

Cell* remainder(Cell* value1, Cell* value2) {
    return money::math_op(value1, value2, float_::MathOp::remainder);
}

Cell* round(Cell* n, const RoundRefinements& how) {
    const Amount v = amount_of(*n);
    if (v.units == 0) return n;
    Units scale = units_per_whole;
    if (how.scale != nullptr) {
        const Cell& s = *how.scale;
        switch (s.type()) {
        case TypeId::money: scale = units_of(s); break;
        case TypeId::integer: scale = from_int(s.int_value()); break;
        case TypeId::float_: scale = float_amount(s, s.f64(), true).units; break;
        default: {
            const Cell type = datatype::of(s.type());
            const Cell fn = word_cell("round");
            runtime::raise_error(ErrorCategory::script, "not-related", &type, &fn);
        }
        }
    }
    if (scale == 0) return n;
    const Units m = v.units;
    const Units r = m % scale;
    if (r == 0) return n;  // already a multiple
    const Units down = m - r;
    const Units up = m + (scale - r);
    const bool positive = !v.negative;
    const bool tie = 2 * r == scale;
    const bool nearest_up = r >= scale - r;  // ties away from zero
    bool go_up = false;
    if (how.down) go_up = false;
    else if (how.floor) go_up = !positive;
    else if (how.ceiling) go_up = positive;
    else if (tie && how.even) go_up = (m / scale) % 2 != 0;
    else if (tie && how.half_down) go_up = false;
    else if (tie && how.half_ceiling) go_up = positive;
    else go_up = nearest_up;
    if (go_up && up >= limit) type_limit();
    store(*n, Amount{go_up ? up : down, v.negative, v.currency});
    return n;
}

Cell* subtract(Cell* value1, Cell* value2) {
    return money::math_op(value1, value2, float_::MathOp::subtract);
}

// The units digit is digit 17: the high nibble of byte 8.
std::int32_t even_q(Cell* value) { return (value->money_digits()[8] >> 4) % 2 == 0 ? 1 : 0; }
std::int32_t odd_q(Cell* value) { return (value->money_digits()[8] >> 4) % 2 != 0 ? 1 : 0; }

Cell* pick(Cell* value, Cell* index) {
    const std::int32_t f = field_of(*index);
    if (f == 0) runtime::raise_error(ErrorCategory::script, "out-of-range", index);
    const Cell v = *value;
    get_field(v, f, *value);
    return value;
}

std::int32_t compare_with_float(double left, Cell* money, CompareOp op) {
    Cell f{};
    float_::make_at(f, left);
    Cell m = *money;
    CompareOp turned = op;
    switch (op) {
    case CompareOp::lesser: turned = CompareOp::greater; break;
    case CompareOp::lesser_or_equal: turned = CompareOp::greater_or_equal; break;
    case CompareOp::greater: turned = CompareOp::lesser; break;
    case CompareOp::greater_or_equal: turned = CompareOp::lesser_or_equal; break;
    default: break;
    }
    const std::int32_t c = compare(&m, &f, turned);
    if (c == not_comparable || is_equality(op) || op == CompareOp::parse_strict ||
        op == CompareOp::parse_equal)
        return c;
    return -c;
}

void init() {
    static constexpr registry::Registration r{
        TypeId::money, registry::table({
            {Action::make, make},
            {Action::random, random},
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
            {Action::remainder, remainder},
            {Action::round, round},
            {Action::subtract, subtract},
            {Action::even_q, even_q},
            {Action::odd_q, odd_q},
            {Action::pick, pick},  // ORDER ACTIONS
        })};
    registry::register_type(r);
    float_::set_math_route(TypeId::money, math_op);
}

}  // namespace kiv::money
