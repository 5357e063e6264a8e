// date!: day-number arithmetic, the fields read and set through paths and
// pick, the d-Mon-yyyy/h:mm:ss+hh:mm text, and the clock. Every change goes
// through a Value (day number, stored time, zone) that normalise() brings
// back to the invariant before store() packs it; a date without time keeps
// time 0 and zone 0. Dates whose year leaves -16384..16383 are an error.
#include "runtime/datatypes/date.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/random.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace kiv::date {

namespace {

constexpr double seconds_per_day = 86400.0;
constexpr std::int32_t min_year = -16384;
constexpr std::int32_t max_year = 16383;
constexpr std::int32_t max_zone_minutes = 15 * 60 + 45;

// The cell that a path get hands back: always a scalar, copied by the caller.
Cell path_result{};

constexpr std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) --q;
    return q;
}
constexpr std::int64_t floor_mod(std::int64_t a, std::int64_t b) { return a - floor_div(a, b) * b; }

// Days from the day-number origin to 1 March of year y (a March-based year).
// Floor division keeps years below 0 on the same calendar as the others.
constexpr std::int64_t march_year_start(std::int64_t y) {
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

[[noreturn]] void type_limit() {
    const Cell type = datatype::of(TypeId::date);
    runtime::raise_error(ErrorCategory::script, "type-limit", &type);
}

[[noreturn]] void invalid_arg(const Cell& value) {
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &value);
}

// Seconds east of UTC of a 7-bit zone field.
std::int32_t zone_seconds(std::uint32_t zone) {
    const auto s = static_cast<std::int32_t>(((zone >> 2) & 0xF) * 3600 + (zone & 3) * 900);
    return (zone & 0x40) != 0 ? -s : s;
}

// The zone field of an offset in minutes east (|minutes| at most 15:45),
// minutes rounded down to quarters; a zero offset never carries the sign.
std::uint32_t zone_bits(std::int32_t minutes) {
    const auto m = static_cast<std::uint32_t>(std::abs(minutes));
    std::uint32_t bits = (m / 60) << 2 | (m % 60) / 15;
    if (minutes < 0 && bits != 0) bits |= 0x40;
    return bits & 0x7F;
}

// The zone field of a time! offset: hours and minutes of the time taken
// modulo 16 hours; a negative time is west of UTC.
std::uint32_t zone_bits_of_time(double seconds) {
    const double s = std::fmod(seconds, 16 * 3600.0);
    const double magnitude = std::fabs(s);
    const auto hours = static_cast<std::int32_t>(magnitude / 3600.0);
    const auto minutes = static_cast<std::int32_t>(std::fmod(magnitude, 3600.0) / 60.0);
    const std::int32_t total = hours * 60 + minutes;
    return zone_bits(s < 0 ? -total : total);
}

// A date being changed: the local day number, the stored time and the zone.
struct Value {
    std::int64_t n = 0;
    double time = 0.0;
    std::uint32_t zone = 0;
    bool has_time = false;
};

Value unpack(const Cell& c) {
    return Value{day_number(c.date_year(), c.date_month(), c.date_day()), c.f64(), c.date_zone(),
                 c.date_has_time()};
}

// Carries whole days of the time into the day number, so that stored time
// + offset lies in [0, 86400). A date without time has time 0 and zone 0.
void normalise(Value& v) {
    if (!v.has_time) {
        v.time = 0.0;
        v.zone = 0;
        return;
    }
    const double offset = zone_seconds(v.zone);
    if (!std::isfinite(v.time)) type_limit();
    const double carry = std::floor((v.time + offset) / seconds_per_day);
    if (std::fabs(carry) > 1e9) type_limit();  // far outside the years a date holds
    v.n += static_cast<std::int64_t>(carry);
    v.time -= carry * seconds_per_day;
    if (v.time + offset < 0) {
        v.time += seconds_per_day;
        --v.n;
    } else if (v.time + offset >= seconds_per_day) {
        v.time -= seconds_per_day;
        ++v.n;
    }
}

// Day numbers of 1 March of the years around the range (March-based years).
constexpr std::int64_t first_day = march_year_start(min_year - 1) + 306;  // 1-Jan of min_year
constexpr std::int64_t last_day = march_year_start(max_year) + 305;       // 31-Dec of max_year

bool in_range(std::int64_t n) { return n >= first_day && n <= last_day; }

// Packs v into cell (date! type, the cell's flags kept).
void store(Cell& cell, const Value& v) {
    if (!in_range(v.n)) type_limit();
    std::int32_t y = 0, m = 0, d = 0;
    from_day_number(v.n, y, m, d);
    cell.set_type(TypeId::date);
    cell.set_date(y, m, d, v.has_time, v.has_time ? v.zone : 0);
    cell.set_f64(v.has_time ? v.time : 0.0);
}

double local_time(const Value& v) { return v.has_time ? v.time + zone_seconds(v.zone) : 0.0; }

// Sets the local time of day (seconds, may carry into other days).
void set_local_time(Value& v, double local) {
    v.has_time = true;
    v.time = local - zone_seconds(v.zone);
    normalise(v);
}

std::int64_t jan_1(std::int64_t n) {
    std::int32_t y = 0, m = 0, d = 0;
    from_day_number(n, y, m, d);
    return day_number(y, 1, 1);
}

// Monday of ISO week 1 of the year that starts on day j.
std::int64_t iso_week_1(std::int64_t j) {
    const std::int64_t b = floor_mod(j + 2, 7);  // 0 when 1 January is a Monday
    return b >= 4 ? j - b + 7 : j - b;
}

std::int32_t iso_week(std::int64_t n) {
    std::int32_t y = 0, m = 0, d = 0;
    from_day_number(n, y, m, d);
    const std::int64_t j = day_number(y, 1, 1);
    const std::int64_t monday = iso_week_1(j);
    if (n < monday) {  // the last week of the year before
        switch (floor_mod(j + 2, 7)) {
        case 4: return 53;                               // 1 January a Friday
        case 5: return leap_year_q(y - 1) ? 53 : 52;     // a Saturday
        default: return 52;                              // a Sunday
        }
    }
    if (n >= iso_week_1(day_number(static_cast<std::int64_t>(y) + 1, 1, 1))) return 1;
    return static_cast<std::int32_t>((n - monday) / 7 + 1);
}

// Week of the year, weeks starting on Sunday, week 1 holding 1 January.
std::int32_t week_of_year(std::int64_t n) {
    const std::int64_t j = jan_1(n);
    const std::int64_t e = floor_mod(j + 3, 7);
    const std::int64_t yd = n - j + 1;
    return yd > 7 - e ? static_cast<std::int32_t>((yd + e - 1) / 7 + 1) : 1;
}

// Year and month after month n counted from January of year y (n may lie
// outside 1-12: 0 is December of the year before, 14 February of the next).
void carry_month(std::int64_t& y, std::int64_t n, std::int32_t& month) {
    y += floor_div(n - 1, 12);
    month = static_cast<std::int32_t>(floor_mod(n - 1, 12) + 1);
}

// --- Fields -----------------------------------------------------------------

// Field number of a path or pick element: 1-14 or a field word; 0 otherwise.
std::int32_t element_field(const Cell& element) {
    if (element.is(TypeId::integer)) {
        const std::int32_t i = element.int_value();
        return i >= date_only && i <= isoweek ? i : 0;
    }
    if (!word::is_any_word(element.type())) return 0;
    const symbol::SymbolId id = symbol::resolve_alias(element.word_symbol());
    static constexpr struct { words::Sym sym; Field field; } names[] = {
        {words::Sym::date, date_only}, {words::Sym::year, year},       {words::Sym::month, month},
        {words::Sym::day, day},        {words::Sym::zone, zone},       {words::Sym::time, time},
        {words::Sym::hour, hour},      {words::Sym::minute, minute},   {words::Sym::second, second},
        {words::Sym::weekday, weekday}, {words::Sym::yearday, yearday}, {words::Sym::julian, yearday},
        {words::Sym::timezone, timezone}, {words::Sym::week, week},    {words::Sym::isoweek, isoweek},
    };
    static symbol::SymbolId ids[std::size(names)] = {};  // canonical ids, found once
    if (ids[0] == 0)
        for (std::size_t i = 0; i < std::size(names); ++i) ids[i] = symbol::resolve_alias(words::id(names[i].sym));
    for (std::size_t i = 0; i < std::size(names); ++i)
        if (ids[i] == id) return names[i].field;
    return 0;
}

std::int64_t int_arg(const Cell& value) {
    if (!value.is(TypeId::integer)) invalid_arg(value);
    return value.int_value();
}

// Changes field f of the date in cell to the new value; the cell is left
// as it was when an error is raised.
void set_field(Cell& cell, std::int32_t f, const Cell& nv) {
    Value v = unpack(cell);
    const std::int32_t y = cell.date_year();
    const std::int32_t m = cell.date_month();
    const std::int32_t d = cell.date_day();
    switch (f) {
    case date_only:
        if (!nv.is(TypeId::date)) invalid_arg(nv);
        v.n = day_number(nv.date_year(), nv.date_month(), nv.date_day());
        if (!v.has_time && nv.date_has_time()) v.zone = 0;
        v.has_time = nv.date_has_time();
        break;
    case year:
        v.n = day_number(int_arg(nv), m, d);
        break;
    case month: {
        std::int64_t new_year = y;
        std::int32_t new_month = 1;
        carry_month(new_year, int_arg(nv), new_month);
        v.n = day_number(new_year, new_month, d);
        break;
    }
    case day:
        v.n = day_number(y, m, 1) - 1 + int_arg(nv);
        break;
    case zone: {
        std::uint32_t bits = 0;
        if (nv.is(TypeId::integer)) bits = zone_bits(nv.int_value() % 16 * 60);
        else if (nv.is(TypeId::time)) bits = zone_bits_of_time(nv.f64());
        else invalid_arg(nv);
        const double local = local_time(v);  // the wall-clock time stays
        v.zone = bits;
        set_local_time(v, local);
        break;
    }
    case time:
        if (nv.is(TypeId::none)) {
            v.has_time = false;
        } else if (nv.is(TypeId::time)) {
            if (!v.has_time) v.zone = 0;
            set_local_time(v, nv.f64());
        } else {
            invalid_arg(nv);
        }
        break;
    case hour:
    case minute:
    case second: {
        // The local time's field changes, so that reading it back gives what was set.
        if (f == second ? !(nv.is(TypeId::integer) || nv.is(TypeId::float_)) : !nv.is(TypeId::integer))
            invalid_arg(nv);
        if (!v.has_time) v.zone = 0;
        Cell t{};
        time::make_at(t, local_time(v));
        Cell element{};
        element.reset(TypeId::integer);
        element.set_int(f - hour + time::hour);
        Cell value = nv;
        registry::handler<Action::eval_path>(TypeId::time)(&t, &element, &value, PathStep{});
        set_local_time(v, t.f64());
        break;
    }
    case weekday:
        v.n = v.n - (weekday_of(v.n) - 1) + (int_arg(nv) - 1);
        break;
    case yearday:
        v.n = jan_1(v.n) + int_arg(nv) - 1;
        break;
    case timezone: {
        std::uint32_t bits = 0;
        if (nv.is(TypeId::integer)) bits = zone_bits(nv.int_value() % 16 * 60);
        else if (nv.is(TypeId::time)) bits = zone_bits_of_time(nv.f64());
        else invalid_arg(nv);
        if (v.has_time) v.zone = bits;  // the same instant; a date without time has none
        break;
    }
    case week: {
        const std::int64_t k = int_arg(nv);
        const std::int64_t j = jan_1(v.n);
        v.n = k > 1 ? j + 7 * k - floor_mod(j + 3, 7) - 7 : j;
        break;
    }
    default: {  // isoweek
        const std::int64_t k = int_arg(nv);
        v.n = iso_week_1(jan_1(v.n)) + 7 * (k - 1);
        break;
    }
    }
    normalise(v);
    store(cell, v);
}

// --- Text -------------------------------------------------------------------

std::int32_t append(NodeId out, const std::string& text) {
    string::append_nul_text(out, text.c_str());
    return static_cast<std::int32_t>(text.size());
}

[[noreturn]] void invalid_months() { runtime::raise_error(ErrorCategory::script, "invalid-months"); }

// Appends the first three characters of the month's name from system/locale/months.
std::int32_t append_month(NodeId out, std::int32_t month) {
    Cell* months = system_object::field("locale/months");
    if (months == nullptr || !months->is(TypeId::block)) invalid_months();
    Cell list = *months;
    if (block::count_from_head(list) < month) invalid_months();
    Cell name = block::head_cell(list)[month - 1];
    if (!is_any_string_type(name.type())) invalid_months();
    const std::int32_t n = std::min(string::length_from_head(name), 3);
    const std::int32_t head = name.series_head();
    std::uint32_t chars[3] = {0, 0, 0};
    for (std::int32_t i = 0; i < n; ++i) chars[i] = string::get_char_at_index(name, head + i);
    for (std::int32_t i = 0; i < n; ++i) string::append_char(out, chars[i]);
    return n;
}

std::int32_t form_text(const Cell& value, NodeId out, std::int32_t part) {
    const std::int32_t y = value.date_year();
    const char* sep = y < 0 ? "/" : "-";
    std::int32_t n = append(out, std::to_string(value.date_day()) + sep);
    n += append_month(out, value.date_month());
    char year_text[16];
    const std::int32_t magnitude = std::abs(y);
    std::snprintf(year_text, sizeof year_text, magnitude < 100 ? "%s%04d" : "%s%d", y < 0 ? "-" : "",
                  magnitude);
    n += append(out, std::string(sep) + year_text);
    if (value.date_has_time()) {
        n += append(out, "/");
        // The text keeps six digits of the seconds: the last instants of a
        // day must not round up to 24:00, which would not load back.
        n += -(time::form_hms(out, std::fmin(local_time(unpack(value)), 86399.9999), 0));
        const std::uint32_t z = value.date_zone();
        if (z != 0) {
            char zone_text[16];
            std::snprintf(zone_text, sizeof zone_text, "%c%02u:%02u", (z & 0x40) != 0 ? '-' : '+',
                          (z >> 2) & 0xF, (z & 3) * 15);
            n += append(out, zone_text);
        }
    }
    return part - n;
}

// --- make and to --------------------------------------------------------------

enum class SpecError { make, to };

[[noreturn]] void bad_spec(SpecError kind, const Cell& spec) {
    const Cell type = datatype::of(TypeId::date);
    runtime::raise_error(ErrorCategory::script, kind == SpecError::make ? "bad-make-arg" : "bad-to-arg",
                         &type, &spec);
}

// A date from a block of day month year [time | hour minute second] [zone].
// Strict (make) rejects a date or time that normalising would change.
void from_block(Cell& out, Cell& spec, SpecError kind) {
    const std::int32_t count = block::count_from_head(spec);
    if (count < 3) bad_spec(kind, spec);
    const Cell* item = block::head_cell(spec);
    std::int64_t parts[3] = {0, 0, 0};
    std::int64_t hours = 0, minutes = 0, zone_hours = 0, zone_minutes = 0;
    double seconds = 0.0, clock = 0.0, zone_time = 0.0;
    bool fields_given = false, zone_given = false, zone_as_time = false;
    int state = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const Cell& c = item[i];
        const bool integer = c.is(TypeId::integer);
        const bool a_time = c.is(TypeId::time);
        const std::int64_t k = integer ? c.int_value() : 0;
        switch (state) {
        case 0: case 1: case 2:
            if (!integer) bad_spec(kind, spec);
            parts[state] = k;
            state += 1;
            break;
        case 3:
            if (integer) { hours = k; fields_given = true; state = 8; }
            else if (a_time) { clock = c.f64(); state = 4; }
            else bad_spec(kind, spec);
            break;
        case 4: case 10:
            zone_given = true;
            if (integer) { zone_hours = k; state = state == 4 ? 6 : 12; }
            else if (a_time) { zone_time = c.f64(); zone_as_time = true; state = state == 4 ? 5 : 11; }
            else bad_spec(kind, spec);
            break;
        case 6: case 12:
            if (!integer) bad_spec(kind, spec);
            zone_minutes = k;
            state += 1;
            break;
        case 8:
            if (!integer) bad_spec(kind, spec);
            minutes = k;
            state = 9;
            break;
        case 9:
            if (integer) seconds = static_cast<double>(k);
            else if (c.is(TypeId::float_) && std::isfinite(c.f64())) seconds = c.f64();
            else bad_spec(kind, spec);
            state = 10;
            break;
        default:  // 5, 7, 11, 13: complete
            bad_spec(kind, spec);
        }
    }
    std::int64_t day_part = parts[0], year_part = parts[2];
    if (parts[0] > 99 && parts[2] < parts[0]) std::swap(day_part, year_part);
    if (year_part < min_year || year_part > max_year) bad_spec(kind, spec);
    if (fields_given) clock = static_cast<double>(hours) * 3600 + static_cast<double>(minutes) * 60 + seconds;
    std::int32_t zone_offset = 0;  // minutes east
    if (zone_given) {
        if (zone_as_time) {
            const double magnitude = std::fabs(zone_time);
            if (magnitude >= 16 * 3600.0) bad_spec(kind, spec);
            const auto total = static_cast<std::int32_t>(std::floor(magnitude / 60.0));
            zone_offset = zone_time < 0 ? -total : total;
        } else {
            if (zone_hours < -15 || zone_hours > 15 || zone_minutes < 0 || zone_minutes > 59)
                bad_spec(kind, spec);
            const auto total = static_cast<std::int32_t>(std::llabs(zone_hours) * 60 + zone_minutes);
            zone_offset = zone_hours < 0 ? -total : total;
        }
    }
    std::int64_t y = year_part;
    std::int32_t month_ = 1;
    carry_month(y, parts[1], month_);
    Value v;
    v.n = day_number(y, month_, 1) - 1 + day_part;
    v.has_time = count > 3;
    v.time = clock;
    if (!std::isfinite(v.time) || std::fabs(v.time) > 1e12) bad_spec(kind, spec);
    normalise(v);
    if (!in_range(v.n)) bad_spec(kind, spec);
    if (kind == SpecError::make) {
        std::int32_t ny = 0, nm = 0, nd = 0;
        from_day_number(v.n, ny, nm, nd);
        const double h = std::trunc(clock / 3600.0);
        if (ny != year_part || nm != parts[1] || nd != day_part ||
            (v.has_time && (h < 0 || h > 23)) ||
            (fields_given && time::get_minutes(clock) != minutes))
            bad_spec(kind, spec);
    }
    if (v.has_time) {
        const double local = v.time;
        v.zone = zone_bits(zone_offset);
        v.time = local - zone_seconds(v.zone);
        normalise(v);
    }
    if (!in_range(v.n)) bad_spec(kind, spec);
    store(out, v);
}

Cell* make_or_to(Cell* proto, Cell* spec, SpecError kind) {
    switch (spec->type()) {
    case TypeId::date:
        *proto = *spec;
        proto->set_new_line(false);
        return proto;
    case TypeId::block:
    case TypeId::paren:
    case TypeId::hash: {
        Cell result{};
        from_block(result, *spec, kind);
        result.keep_only_flags(0);
        *proto = result;
        return proto;
    }
    case TypeId::integer:
        if (kind == SpecError::to) {  // seconds since 1-Jan-1970 UTC
            Value v;
            v.n = day_number(1970, 1, 1);
            v.time = spec->int_value();
            v.has_time = true;
            normalise(v);
            Cell result{};
            store(result, v);
            result.keep_only_flags(0);
            *proto = result;
            return proto;
        }
        [[fallthrough]];
    default:
        bad_spec(kind, *spec);
    }
}

// --- Handlers -------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId) { return make_or_to(proto, spec, SpecError::make); }

Cell* random(Cell* value, const RandomRefinements& how) {
    const Value v0 = unpack(*value);
    if (how.seed) {
        const double t = std::trunc(value->f64());
        const auto whole = std::isfinite(t) && std::fabs(t) < 4e9 ? static_cast<std::int64_t>(t) : 0;
        random::seed(value->date_word() + static_cast<std::uint32_t>(whole));
        value->reset(TypeId::unset);
        return value;
    }
    Value v = v0;
    const auto limit = static_cast<std::int32_t>(v.n);  // day numbers of dates fit 32 bits
    v.n = random::in_range(how.secure, limit) - 1;
    if (v.has_time) {
        v.zone = random::draw(how.secure) & 0x7F;
        const double r1 = random::draw(how.secure);
        double x = 0.0;
        if (how.secure) x = (random::draw(true) + r1 / 2147483647.0) * 3600.0 / 2147483648.0;
        else x = r1 / 2147483647.0 * 3600.0;
        const double local = std::fmin(std::floor(x) * 24.0, seconds_per_day - 24.0);
        v.time = local - zone_seconds(v.zone);
        normalise(v);
    }
    if (!in_range(v.n)) v.n = v0.n;  // a negative day count draws below the smallest year
    store(*value, v);
    return value;
}

Cell* to(Cell* proto, Cell* spec, TypeId) { return make_or_to(proto, spec, SpecError::to); }

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    return form_text(*value, out, part);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell*, std::int32_t part, std::int32_t) {
    return form_text(*value, out, part);
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    const std::int32_t f = element_field(*element);
    if (f == 0) {
        const Cell path = step.path != nullptr ? *step.path : *value;
        runtime::raise_error(ErrorCategory::script, "invalid-path", &path, element);
    }
    if (new_value == nullptr) {
        get_field(*value, f, path_result);
        return &path_result;
    }
    set_field(*value, f, *new_value);
    if (step.owner) ownership::report_cell_change(step.parent, value);
    return new_value;
}

// Dates compare as instants: day difference and stored time together, so that
// one moment written in two zones is one value.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::date)) return not_comparable;
    if (op == CompareOp::same)
        return value1->date_word() == value2->date_word() && value1->f64_low() == value2->f64_low() &&
                       value1->f64_high() == value2->f64_high() ? 0 : 1;
    const Value a = unpack(*value1);
    const Value b = unpack(*value2);
    const double t1 = a.time + static_cast<double>(a.n - b.n) * seconds_per_day;
    const double t2 = b.time;
    const bool equal = float_::near_equal(t1, t2);
    if (is_equality(op)) return equal ? 0 : 1;
    if (equal) return 0;
    return t1 < t2 ? -1 : 1;
}

Cell* pick(Cell* value, Cell* index) {
    const std::int32_t f = element_field(*index);
    if (f == 0) runtime::raise_error(ErrorCategory::script, "out-of-range", index);
    const Cell date = *value;
    get_field(date, f, *value);
    return value;
}

}  // namespace

// --- Calendar -----------------------------------------------------------------------

std::int64_t day_number(std::int64_t year, std::int32_t month, std::int64_t day) {
    const std::int64_t m = (month + 9) % 12;  // March is 0
    const std::int64_t y = year - m / 10;
    return march_year_start(y) + (306 * m + 5) / 10 + (day - 1);
}

void from_day_number(std::int64_t n, std::int32_t& year, std::int32_t& month, std::int32_t& day) {
    auto y = static_cast<std::int64_t>(std::floor((10000.0 * static_cast<double>(n) + 14780.0) / 3652425.0));
    std::int64_t r = n - march_year_start(y);
    if (r < 0) {
        --y;
        r = n - march_year_start(y);
    }
    const std::int64_t mi = (100 * r + 52) / 3060;
    month = static_cast<std::int32_t>((mi + 2) % 12 + 1);
    year = static_cast<std::int32_t>(y + (mi + 2) / 12);
    day = static_cast<std::int32_t>(r - (306 * mi + 5) / 10 + 1);
}

bool leap_year_q(std::int32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::int32_t month_length(std::int32_t year, std::int32_t month) {
    static constexpr std::int32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && leap_year_q(year)) return 29;
    return month >= 1 && month <= 12 ? days[month - 1] : 0;
}

std::int32_t weekday_of(std::int64_t n) { return static_cast<std::int32_t>(floor_mod(n + 2, 7) + 1); }

// --- Services -------------------------------------------------------------------------

void make_at(Cell& cell, std::int32_t year, std::int32_t month, std::int32_t day,
             double local_seconds, std::int32_t zone_minutes, bool has_time) {
    Value v;
    v.n = day_number(year, month, day);
    v.has_time = has_time;
    if (has_time) {
        if (zone_minutes > max_zone_minutes) zone_minutes = max_zone_minutes;
        if (zone_minutes < -max_zone_minutes) zone_minutes = -max_zone_minutes;
        v.zone = zone_bits(zone_minutes);
        v.time = local_seconds - zone_seconds(v.zone);
    }
    normalise(v);
    cell.reset(TypeId::date);
    store(cell, v);
}

void make_at_from_parts(Cell& cell, std::int32_t year, std::int32_t month, std::int32_t day,
                        std::int32_t hours, std::int32_t minutes, std::int32_t seconds,
                        std::int32_t nanoseconds) {
    const double t = hours * 3600.0 + minutes * 60.0 + seconds + nanoseconds * 1e-9;
    make_at(cell, year, month, day, t, 0, true);
}

bool make_from_packed(Cell& cell, std::uint32_t word, double time) {
    Cell c{};
    c.reset(TypeId::date);
    c.set_date(0, 1, 1, false, 0);
    c.set_date_word(word);
    const std::int32_t m = c.date_month();
    const std::int32_t d = c.date_day();
    if (m < 1 || m > 12 || d < 1 || d > month_length(c.date_year(), m)) return false;
    if (c.date_has_time()) {
        const double local = time + zone_seconds(c.date_zone());
        if (!(local >= 0.0 && local < seconds_per_day)) return false;  // also NaN
    } else if (time != 0.0 || c.date_zone() != 0) {
        return false;
    }
    c.set_f64(time);
    cell = c;
    return true;
}

void now(Cell& cell, bool utc, bool precise) {
    timespec clock{};
    ::clock_gettime(CLOCK_REALTIME, &clock);
    std::tm parts{};
    long offset = 0;
    if (utc) {
        ::gmtime_r(&clock.tv_sec, &parts);
    } else {
        ::tzset();  // TZ may have changed since the last call (set-env)
        ::localtime_r(&clock.tv_sec, &parts);
        offset = parts.tm_gmtoff;
    }
    double local = parts.tm_hour * 3600.0 + parts.tm_min * 60.0 + std::min(parts.tm_sec, 59);
    if (precise) local += static_cast<double>(clock.tv_nsec / 100) / 1e7;  // 100 ns steps
    make_at(cell, parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, local,
            static_cast<std::int32_t>(offset / 60), true);
}

void get_field(const Cell& date, std::int32_t f, Cell& out) {
    const Cell d = date;  // out may be date itself
    if (f == year || f == month || f == day) {
        out.reset(TypeId::integer);
        out.set_int(f == year ? d.date_year() : f == month ? d.date_month() : d.date_day());
        return;
    }
    const Value v = unpack(d);
    switch (f) {
    case date_only:
        out.reset(TypeId::date);
        out.set_date(d.date_year(), d.date_month(), d.date_day(), false, 0);
        out.set_f64(0.0);
        return;
    case zone:
    case timezone:
        if (!v.has_time) return none::make_at(out);
        return time::make_at(out, zone_seconds(v.zone));
    case time:
        if (!v.has_time) return none::make_at(out);
        return time::make_at(out, local_time(v));
    case second:
        out.reset(TypeId::float_);
        out.set_f64(std::fmod(local_time(v), 60.0));
        return;
    default:
        break;
    }
    std::int64_t r = 0;
    switch (f) {
    case hour: r = static_cast<std::int64_t>(local_time(v) / 3600.0); break;
    case minute: r = time::get_minutes(local_time(v)); break;
    case weekday: r = weekday_of(v.n); break;
    case yearday: r = v.n - jan_1(v.n) + 1; break;
    case week: r = week_of_year(v.n); break;
    default: r = iso_week(v.n); break;
    }
    out.reset(TypeId::integer);
    out.set_int(static_cast<std::int32_t>(r));
}

double difference(const Cell& date1, const Cell& date2) {
    const Value a = unpack(date1);
    const Value b = unpack(date2);
    return static_cast<double>(a.n - b.n) * seconds_per_day + (a.time - b.time);
}

std::int64_t to_unix_seconds(const Cell& date) {
    const Value v = unpack(date);
    return (v.n - day_number(1970, 1, 1)) * 86400 + static_cast<std::int64_t>(std::floor(v.time + 0.5));  // half up, also before midnight UTC
}

namespace {

[[noreturn]] void not_related(const char* action) {
    Cell word{};
    word::make_kind_at(TypeId::word, action, word);
    const Cell type = datatype::of(TypeId::date);
    runtime::raise_error(ErrorCategory::script, "not-related", &word, &type);
}

Cell* math(Cell* value1, Cell* value2, bool minus) {
    Value v = unpack(*value1);
    switch (value2->type()) {
    case TypeId::integer: {
        const std::int64_t days = value2->int_value();
        v.n += minus ? -days : days;
        store(*value1, v);  // the time is unchanged: nothing to carry
        return value1;
    }
    case TypeId::time: {
        const double seconds = value2->f64();
        if (!v.has_time) v.zone = 0;
        v.has_time = true;
        v.time += minus ? -seconds : seconds;
        break;
    }
    case TypeId::date: {
        if (!minus) not_related("add");
        Value diff;
        diff.n = v.n - day_number(value2->date_year(), value2->date_month(), value2->date_day());
        diff.time = v.time - value2->f64();
        diff.zone = v.zone;
        diff.has_time = true;
        normalise(diff);
        value1->reset(TypeId::integer);
        value1->set_int(static_cast<std::int32_t>(diff.n));
        return value1;
    }
    default: {
        const Cell type = datatype::of(value2->type());
        runtime::raise_error(ErrorCategory::script, "invalid-type", &type);
    }
    }
    normalise(v);
    store(*value1, v);
    return value1;
}

// A number's maths with a date, the date first: only add.
Cell* number_route(Cell* left, Cell* right, float_::MathOp op) {
    static constexpr const char* names[] = {"add", "subtract", "multiply", "divide", "remainder",
                                            "or~", "and~", "xor~"};
    const auto i = static_cast<std::size_t>(op);
    if (op != float_::MathOp::add) not_related(i < std::size(names) ? names[i] : "add");
    return math(left, right, false);
}

}  // namespace

Cell* add(Cell* value1, Cell* value2) { return math(value1, value2, false); }

Cell* subtract(Cell* value1, Cell* value2) { return math(value1, value2, true); }

void init() {
    static constexpr registry::Registration r{
        TypeId::date, registry::table({
            {Action::make, make},
            {Action::random, random},
            {Action::to, to},
            {Action::form, form},
            {Action::mold, mold},
            {Action::eval_path, eval_path},
            {Action::compare, compare},
            {Action::add, add},
            {Action::subtract, subtract},
            {Action::pick, pick},  // ORDER ACTIONS
        })};
    registry::register_type(r);
    float_::set_math_route(TypeId::date, number_route);
}

}  // namespace kiv::date
