// event!: the event record, the message stack, make from a spec block, the
// field readers shared by paths and pick, form, mold and compare. The words
// the readers give (types, special keys, flags) are made at their first use.
#include "runtime/datatypes/event.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/raise.h"

#include <array>
#include <vector>

namespace kiv::event {

namespace {

// --- Words ---------------------------------------------------------------------

// ORDER EVENT-TYPES
constexpr std::array<const char*, type_count> type_names{
    "down", "up", "mid-down", "mid-up", "alt-down", "alt-up", "aux-down", "aux-up", "click", "dbl-click",
    "wheel", "over", "key", "key-down", "key-up", "ime", "focus", "unfocus", "enter", "zoom",
    "pan", "rotate", "two-tap", "press-tap", "select", "change", "menu", "close", "move", "resize",
    "moving", "resizing", "time", "drawing", "scroll", "minimize", "maximize", "restore",
};
// ORDER SPECIAL-KEYS
constexpr std::array<const char*, 34> special_names{
    "page-up", "page-down", "end", "home", "left", "up", "right", "down", "insert", "delete",
    "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12",
    "left-shift", "right-shift", "left-control", "right-control", "caps-lock", "num-lock",
    "left-alt", "right-alt", "left-command", "right-command", "scroll-lock", "pause",
};
// The flags a `flags` block reports, in its order; make also takes command.
struct FlagName {
    const char* name;
    std::uint32_t bit;
};
constexpr std::array<FlagName, 9> flag_names{{
    {"away", flag::away}, {"down", flag::down}, {"mid-down", flag::mid_down}, {"alt-down", flag::alt_down},
    {"aux-down", flag::aux_down}, {"control", flag::control}, {"shift", flag::shift}, {"alt", flag::alt},
    {"command", flag::command},
}};
constexpr std::array<const char*, 5> scroll_vertical{"up", "down", "page-up", "page-down", "track"};
constexpr std::array<const char*, 5> scroll_horizontal{"left", "right", "page-left", "page-right", "track"};

// The fields, numbered as pick takes them.
enum class Field : std::int32_t {
    type = 1, face, window, offset, key, picked, flags, away_q, down_q, mid_down_q, alt_down_q,
    aux_down_q, ctrl_q, shift_q, orientation,
};
constexpr words::Sym field_words[] = {
    words::Sym::type, words::Sym::face, words::Sym::window, words::Sym::offset, words::Sym::key,
    words::Sym::picked, words::Sym::flags, words::Sym::away_q, words::Sym::down_q, words::Sym::mid_down_q,
    words::Sym::alt_down_q, words::Sym::aux_down_q, words::Sym::ctrl_q, words::Sym::shift_q,
    words::Sym::orientation,
};
constexpr std::int32_t field_count = 15;

symbol::SymbolId canonical(const char* name) { return symbol::resolve_alias(symbol::make(name)); }

// The symbols of the names above, made once, alias-resolved.
struct Symbols {
    std::array<symbol::SymbolId, type_count> types{};
    std::array<symbol::SymbolId, special_names.size()> specials{};
    std::array<symbol::SymbolId, flag_names.size()> flags{};
    std::array<symbol::SymbolId, 5> vertical{};
    std::array<symbol::SymbolId, 5> horizontal{};
    symbol::SymbolId end = 0, wheel = 0, vertical_word = 0, horizontal_word = 0;
};

const Symbols& symbols() {
    static Symbols s;
    static bool made = false;
    if (made) return s;
    for (std::size_t i = 0; i < type_names.size(); ++i) s.types[i] = canonical(type_names[i]);
    for (std::size_t i = 0; i < special_names.size(); ++i) s.specials[i] = canonical(special_names[i]);
    for (std::size_t i = 0; i < flag_names.size(); ++i) s.flags[i] = canonical(flag_names[i].name);
    for (std::size_t i = 0; i < 5; ++i) {
        s.vertical[i] = canonical(scroll_vertical[i]);
        s.horizontal[i] = canonical(scroll_horizontal[i]);
    }
    s.end = canonical("end");
    s.wheel = canonical("wheel");
    s.vertical_word = canonical("vertical");
    s.horizontal_word = canonical("horizontal");
    made = true;
    return s;
}

// The type number a word names, or 0.
std::int32_t type_of_word(const Cell& word) {
    const symbol::SymbolId s = symbol::resolve_alias(word.word_symbol());
    const auto& types = symbols().types;
    for (std::size_t i = 0; i < types.size(); ++i)
        if (types[i] == s) return static_cast<std::int32_t>(i + 1);
    return 0;
}

// The field number of a word, or 0.
std::int32_t field_of_word(const Cell& word) {
    const symbol::SymbolId s = symbol::resolve_alias(word.word_symbol());
    for (std::int32_t i = 0; i < field_count; ++i)
        if (symbol::resolve_alias(words::id(field_words[i])) == s) return i + 1;
    return 0;
}

void word_at(Cell& out, symbol::SymbolId s) { word::make_at(s, out); }

// --- The message stack and the record --------------------------------------------

std::vector<Message> messages;  // nested dispatches, innermost last

Cell event_record = Cell::fresh(TypeId::event);
const Services* services = nullptr;

// Scratch cell the path reader returns (the evaluator copies it at once).
Cell path_result{};

// The flags block every `flags` read refills, kept in the root block.
Cell flags_block{};

const Cell& shared_flags_block() {
    if (!flags_block.is(TypeId::block)) flags_block = *block::make_in(&block::root(), 8);
    return flags_block;
}

// --- Field readers -----------------------------------------------------------------

double dpi_factor() {
    const double f = services != nullptr ? services->dpi_factor() : 1.0;
    return f > 0.0 ? f : 1.0;
}

void read_face(const Cell& event, bool window, Cell& out) {
    none::make_at(out);
    if (event.event_made()) {
        if (const Cell* v = made_value(event, window ? 1 : 0)) out = *v;
        return;
    }
    const Message* m = message_of(event);
    if (m == nullptr || services == nullptr) return;
    if (!(window ? services->window : services->face)(m->widget, out)) none::make_at(out);
}

bool has_position(Type t) {
    return (t >= Type::down && t <= Type::over) || t == Type::key || t == Type::key_down || t == Type::key_up ||
           (t >= Type::move && t <= Type::resizing) || t == Type::menu;  // a menu's: where it was opened
}

void read_offset(const Cell& event, Cell& out) {
    if (event.event_made()) {
        if (const Cell* v = made_value(event, 2)) out = *v;
        else pair::make_at(out, 0, 0);
        return;
    }
    none::make_at(out);
    const Message* m = message_of(event);
    if (m == nullptr || !has_position(static_cast<Type>(event.event_type()))) return;
    const double f = dpi_factor();
    point::make_at(out, static_cast<float>(m->x / f), static_cast<float>(m->y / f));
}

void read_key(const Cell& event, Cell& out) {
    none::make_at(out);
    const std::uint32_t flags = event.event_flags();
    if (event.event_made()) {
        if ((flags & flag::key_mask) != 0) char_::make_at(out, flags & flag::key_mask);
        return;
    }
    const Message* m = message_of(event);
    const auto type = static_cast<Type>(event.event_type());
    switch (type) {
    case Type::wheel:
        word_at(out, symbols().wheel);
        return;
    case Type::key:
    case Type::key_down:
    case Type::key_up:
    case Type::ime: {
        const Special special = m != nullptr ? m->special : Special::none;
        if (special == Special::none) {
            // a character outside the basic plane fills the word: it carries no flags
            const std::uint32_t code = (type == Type::key || type == Type::ime) && flags >= 0x10000 && flags <= char_::max_code_point
                                           ? flags : flags & flag::key_mask;
            char_::make_at(out, code);
        } else if (special != Special::other) {
            word_at(out, symbols().specials[static_cast<std::size_t>(special)]);
        } else if (type != Type::key) {
            char_::make_at(out, flags & flag::key_mask);
        }
        return;
    }
    case Type::scroll: {
        if (m == nullptr) return;
        const auto& names = m->vertical ? symbols().vertical : symbols().horizontal;
        const bool known = m->delta >= 0 && m->delta <= 5 && m->delta != 4;
        word_at(out, known ? names[static_cast<std::size_t>(m->delta == 5 ? 4 : m->delta)] : symbols().end);
        return;
    }
    default:
        return;
    }
}

void read_picked(const Cell& event, Cell& out) {
    if (event.event_made()) {
        if (const Cell* v = made_value(event, 3)) out = *v;
        else integer::make_at(out, 0);
        return;
    }
    const Message* m = message_of(event);
    switch (static_cast<Type>(event.event_type())) {
    case Type::wheel:
        if (m == nullptr) none::make_at(out);
        else float_::make_at(out, wheel_notches(m->delta));
        return;
    case Type::down:
    case Type::mid_down:
    case Type::alt_down:
    case Type::aux_down:
    case Type::dbl_click:
        none::make_at(out);  // no list item lies under the point
        return;
    case Type::menu: {
        // The picked item's word by its symbol id, whole in the message while it
        // is handled (the flags keep its low 16 bits); none for an item without one.
        const std::uint32_t low = event.event_flags() & flag::key_mask;
        const std::uint32_t id = m != nullptr ? m->code : low;
        const bool no_word = m != nullptr ? id == 0xFFFFFFFFu : low == flag::key_mask;
        if (no_word || id == 0 || id > static_cast<std::uint32_t>(symbol::count())) none::make_at(out);
        else word_at(out, id);
        return;
    }
    default:
        integer::make_at(out, static_cast<std::int16_t>(event.event_flags() & flag::key_mask));
        return;
    }
}

void read_flags(const Cell& event, Cell& out) {
    Cell blk = shared_flags_block();
    block::clear_from_head(blk);
    const std::uint32_t flags = event.event_flags();
    const auto& names = symbols().flags;
    for (std::size_t i = 0; i + 1 < flag_names.size(); ++i)  // command is never reported
        if ((flags & flag_names[i].bit) != 0) word::make_in(names[i], blk);
    out = blk;
}

void read_field(const Cell& event, Field field, Cell& out) {
    const std::uint32_t flags = event.event_flags();
    const auto bit = [&](std::uint32_t b) { logic::make_at(out, (flags & b) != 0); };
    switch (field) {
    case Field::type: {
        const std::int32_t t = event.event_type();
        if (t >= 1 && t <= type_count) word_at(out, symbols().types[static_cast<std::size_t>(t - 1)]);
        else none::make_at(out);
        return;
    }
    case Field::face: read_face(event, false, out); return;
    case Field::window: read_face(event, true, out); return;
    case Field::offset: read_offset(event, out); return;
    case Field::key: read_key(event, out); return;
    case Field::picked: read_picked(event, out); return;
    case Field::flags: read_flags(event, out); return;
    case Field::away_q: bit(flag::away); return;
    case Field::down_q: bit(flag::down); return;
    case Field::mid_down_q: bit(flag::mid_down); return;
    case Field::alt_down_q: bit(flag::alt_down); return;
    case Field::aux_down_q: bit(flag::aux_down); return;
    case Field::ctrl_q: bit(flag::control); return;
    case Field::shift_q: bit(flag::shift); return;
    case Field::orientation: {
        const Message* m = message_of(event);
        if (m != nullptr && event.event_type() == static_cast<std::int32_t>(Type::scroll))
            word_at(out, m->vertical ? symbols().vertical_word : symbols().horizontal_word);
        else none::make_at(out);
        return;
    }
    }
}

// --- Handlers ----------------------------------------------------------------------

// The value a spec entry stands for: a bound word's (or get-word's) value.
Cell spec_value(const Cell& v) {
    if ((v.is(TypeId::word) || v.is(TypeId::get_word)) && v.word_context() != 0) {
        if (const Cell* cell = context::get_word_cell(v)) return *cell;
    }
    return v;
}

// make event! spec: the set-words type, face, window, offset, key, flags
// and picked, each followed by its value; other entries are skipped.
Cell* make(Cell* proto, Cell* spec, TypeId) {
    std::int32_t type = 0;
    std::uint32_t flags = 0;
    Cell face = none::value, window = none::value, offset{}, picked{};
    pair::make_at(offset, 0, 0);
    integer::make_at(picked, 0);
    bool has_block = false;
    if (spec->is(TypeId::block)) {
        const Cell blk = *spec;
        const std::int32_t n = block::count_from_head(blk);
        for (std::int32_t i = 0; i + 1 < n; ++i) {
            const Cell name = *block::get_cell(blk, blk.series_head() + i);
            if (!name.is(TypeId::set_word)) continue;
            const Cell value = spec_value(*block::get_cell(blk, blk.series_head() + i + 1));
            const symbol::SymbolId s = symbol::resolve_alias(name.word_symbol());
            const auto is = [&](words::Sym w) { return s == symbol::resolve_alias(words::id(w)); };
            if (is(words::Sym::type) && (value.is(TypeId::word) || value.is(TypeId::lit_word))) {
                type = type_of_word(value);
                if (type == 0) runtime::raise_error(ErrorCategory::script, "not-event-type", &value);
            } else if (is(words::Sym::face) && value.is(TypeId::object)) {
                face = value;
                has_block = true;
            } else if (is(words::Sym::window) && value.is(TypeId::object)) {
                window = value;
                has_block = true;
            } else if (is(words::Sym::offset) && (value.is(TypeId::pair) || value.is(TypeId::point2d))) {
                offset = value;
                has_block = true;
            } else if (is(words::Sym::key) && value.is(TypeId::char_)) {
                flags |= value.char_value() & flag::key_mask;
            } else if (is(words::Sym::flags) && value.is(TypeId::block)) {
                const std::int32_t m = block::count_from_head(value);
                for (std::int32_t k = 0; k < m; ++k) {
                    const Cell* w = block::get_cell(value, value.series_head() + k);
                    if (!word::is_any_word(w->type())) continue;
                    const symbol::SymbolId ws = symbol::resolve_alias(w->word_symbol());
                    for (std::size_t f = 0; f < flag_names.size(); ++f)
                        if (symbols().flags[f] == ws) flags |= flag_names[f].bit;
                }
            } else if (is(words::Sym::picked) && value.is(TypeId::integer)) {
                picked = value;
                has_block = true;
            }
        }
    }
    std::uint32_t source = 0;
    if (has_block) {
        Cell blk{};
        block::make_at(blk, 4);
        block::append_copy(blk, face);
        block::append_copy(blk, window);
        block::append_copy(blk, offset);
        block::append_copy(blk, picked);
        source = blk.series_node();
    }
    proto->set_event(true, has_block, type, source, flags);
    return proto;
}

std::int32_t form(Cell*, NodeId out, Cell*, std::int32_t part) {
    string::append_nul_text(out, "event");
    return part - 5;
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part, std::int32_t) {
    return form(value, out, arg, part);
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    const Cell e = *element;
    const std::int32_t field = word::is_any_word(e.type()) ? field_of_word(e) : 0;
    if (new_value == nullptr) {
        if (field == 0) {
            const Cell path = step.path != nullptr ? *step.path : e;
            runtime::raise_error(ErrorCategory::script, "invalid-path", &path, &e);
        }
        read_field(*value, static_cast<Field>(field), path_result);
        return &path_result;
    }
    const Cell v = *new_value;
    if (field == static_cast<std::int32_t>(Field::type) && word::is_any_word(v.type())) {
        const std::int32_t type = type_of_word(v);
        if (type == 0) runtime::raise_error(ErrorCategory::script, "not-event-type", &v);
        value->set_event_type(type);
        return new_value;
    }
    const Cell path = step.path != nullptr ? *step.path : e;
    runtime::raise_error(ErrorCategory::script, "bad-path-set", &path, &v);
}

std::int32_t compare(Cell*, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::event) || !is_equality(op)) return not_comparable;
    return 0;  // any two events are equal
}

Cell* pick(Cell* value, Cell* index) {
    std::int32_t field = 0;
    if (word::is_any_word(index->type())) {
        field = field_of_word(*index);
        if (field == 0) {
            const Cell w = *index;
            const Cell v = *value;
            runtime::raise_error(ErrorCategory::script, "cannot-use", &w, &v);
        }
    } else if (index->is(TypeId::integer) && index->int_value() >= 1 && index->int_value() <= field_count) {
        field = index->int_value();
    } else {
        runtime::raise_error(ErrorCategory::script, "out-of-range", index);
    }
    Cell out{};
    read_field(*value, static_cast<Field>(field), out);
    *value = out;
    return value;
}

constexpr registry::Registration registration{TypeId::event,
    registry::table({
        {Action::make,      make},
        {Action::form,      form},
        {Action::mold,      mold},
        {Action::eval_path, eval_path},
        {Action::compare,   compare},
        {Action::pick,      pick},  // ORDER ACTIONS
    })};

}  // namespace

void install(const Services* s) { services = s; }

const Cell* made_value(const Cell& event, std::int32_t index) {
    if (!event.event_made() || !event.event_has_block()) return nullptr;
    Cell blk{};
    blk.reset(TypeId::block);
    blk.set_series_node(event.event_source());
    if (index < 0 || block::length_of(blk) <= index) return nullptr;
    return block::get_cell(blk, index);
}

Dispatching::Dispatching(const Message& message) {
    messages.push_back(message);
    source_ = static_cast<std::uint32_t>(messages.size());
}

Dispatching::~Dispatching() { messages.pop_back(); }

const Message* message_of(const Cell& event) {
    if (event.event_made()) return nullptr;
    const std::uint32_t source = event.event_source();
    if (source == 0 || source > messages.size()) return nullptr;
    return &messages[source - 1];
}

Cell& record() { return event_record; }

void fill(const Dispatching& message, Type type, std::uint32_t flags) {
    event_record.set_event(false, false, static_cast<std::int32_t>(type), message.source(), flags);
}

double wheel_notches(std::int32_t delta) {
    std::int32_t d = static_cast<std::int16_t>(delta);
    if (d < -24000) d += 30720;
    else if (d > 24000) d -= 30720;
    return d / 120.0;
}

void init() { registry::register_type(registration); }

}  // namespace kiv::event
