// The datatype registry: the type-name table and the action-handler table
// (256 slots per type id, actions in slots 1-62). Each datatype module hands in
// one Registration built at compile time; the slots it does not list copy the
// parent's handler at registration, so parents register first. Dispatch
// belongs to the evaluator.
#pragma once

#include "generated/action_table.h"
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <variant>

namespace kiv {

// The Action enum and action_count come from the action list (action_table.h,
// generated from runtime/evaluator/actions.table).

// Operation codes of the compare handlers.
enum class CompareOp : std::int32_t {
    equal = 0, not_equal, strict_equal,
    lesser, lesser_or_equal, greater, greater_or_equal,
    sort,           // ordering, case-insensitive
    case_sort,      // ordering, case-sensitive
    same,           // identity
    parse_strict,   // 10: a word matches a lit-word of its symbol, else strict
    parse_equal,    // 11: a word matches a lit-word as equal, else same kind
    find,           // 12: equality of find, select, put and the set operations
};
// What a compare handler answers when the values cannot be compared.
inline constexpr std::int32_t not_comparable = -2;
// True for the codes that answer 0 / non-zero rather than an order.
constexpr bool is_equality(CompareOp op) {
    return op == CompareOp::equal || op == CompareOp::not_equal ||
           op == CompareOp::strict_equal || op == CompareOp::same || op == CompareOp::find;
}

// Extra context of one path step (slot 7).
struct PathStep {
    Cell* path = nullptr;           // the whole path, or null for a single step
    Cell* parent = nullptr;         // the value before the current one
    Cell* parent_element = nullptr; // the element that selected it
    std::int32_t index = 0;         // position of the element in the path
    bool pass_through = false;
    bool get = false;
    bool last = false;              // last element of the path
    bool owner = false;             // notify the owner when setting
};

// Refinements of find and select, in the actions' order (null/false: unused).
struct FindRefinements {
    Cell* part = nullptr;
    bool only = false, case_ = false, same = false, any = false;
    Cell* with = nullptr;
    Cell* skip = nullptr;
    bool last = false, reverse = false, tail = false, match = false;
};

// Refinements of random: seed seeds the generator with the value; secure
// draws from the system's secure source; only picks one element of a series.
struct RandomRefinements {
    bool seed = false, secure = false, only = false;
};

// Refinements of sort, in the action's order (null/false: unused); comparator
// is the /compare argument (a function! or a record's field number).
struct SortRefinements {
    bool case_ = false;
    Cell* skip = nullptr;
    Cell* comparator = nullptr;
    Cell* part = nullptr;
    bool all = false, reverse = false, stable = false;
};

// Refinements of round: scale is the /to argument (null: 1); the flags pick
// the rounding mode (none set: half away from zero).
struct RoundRefinements {
    Cell* scale = nullptr;
    bool even = false, down = false, half_down = false, floor = false, ceiling = false,
         half_ceiling = false;
};

// Refinements of trim, in the action's order (with: the /with argument or null).
struct TrimRefinements {
    bool head = false, tail = false, auto_ = false, lines = false, all = false;
    Cell* with = nullptr;
};

// Refinements of open, read and write, in the actions' order (null/false: unused).
struct OpenRefinements {
    bool new_ = false, read = false, write = false, seek = false;
    Cell* allow = nullptr;
};
struct ReadRefinements {
    Cell* part = nullptr;
    Cell* seek = nullptr;
    bool binary = false, lines = false, info = false;
    Cell* as = nullptr;
};
struct WriteRefinements {
    bool binary = false, lines = false, info = false, append = false;
    Cell* part = nullptr;
    Cell* seek = nullptr;
    Cell* allow = nullptr;
    Cell* as = nullptr;
};

// Refinements of mold. only: a block's cells without the outer brackets; all:
// every value in the syntax that loads back to it; flat: no new lines or
// indentation.
struct MoldOptions {
    bool only = false;
    bool all = false;
    bool flat = false;

    // The options for a value inside the one being molded: only applies to the
    // outermost value.
    constexpr MoldOptions nested() const { return {false, all, flat}; }
};

// Handler conventions. Arguments arrive as cell addresses; the first argument
// cell is the action's result slot, which a handler may overwrite, and a
// handler returning Cell* returns the cell that holds its result. A refinement
// argument that was not given is null; refinement flags are bools.
namespace handler {
using Make = Cell* (*)(Cell* proto, Cell* spec, TypeId type);    // make, to
using Random = Cell* (*)(Cell* value, const RandomRefinements& how);
// form: appends the value's text to the text buffer of node out; returns part
// minus the characters appended (below 0: budget spent, series walks stop).
using Form = std::int32_t (*)(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// mold: as form; indent counts the nesting for new lines.
using Mold = std::int32_t (*)(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                              std::int32_t part, std::int32_t indent);
using EvalPath = Cell* (*)(Cell* value, Cell* element, Cell* new_value, const PathStep& step);
// compare: for equality codes 0 when equal, non-zero otherwise; for ordering
// codes negative, 0 or positive; not_comparable when the values can't be.
using Compare = std::int32_t (*)(Cell* value1, Cell* value2, CompareOp op);
using Unary = Cell* (*)(Cell* value);
using Binary = Cell* (*)(Cell* value1, Cell* value2);
using Ternary = Cell* (*)(Cell* value1, Cell* value2, Cell* value3);  // move, poke, remove, reverse
using Measure = std::int32_t (*)(Cell* value);   // length? (-1: none), even?, odd? (0 or 1)
using Round = Cell* (*)(Cell* n, const RoundRefinements& how);
// append, insert, change: part -1 when not given, count 1 without /dup.
using Insert = Cell* (*)(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t count);
using Copy = Cell* (*)(Cell* value, Cell* part, bool deep, Cell* types);
using Find = Cell* (*)(Cell* series, Cell* value, const FindRefinements& refinements);  // find, select
using Put = Cell* (*)(Cell* value1, Cell* value2, Cell* value3, bool case_);  // put, modify
using Sort = Cell* (*)(Cell* series, const SortRefinements& how);
using Take = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using Trim = Cell* (*)(Cell* series, const TrimRefinements& how);
using Open = Cell* (*)(Cell* port, const OpenRefinements& how);
using Read = Cell* (*)(Cell* source, const ReadRefinements& how);
using Write = Cell* (*)(Cell* destination, Cell* data, const WriteRefinements& how);
}  // namespace handler

namespace registry {

// Marks a slot the type refuses although its parent fills it: the action
// raises for values of the type.
struct Refuse {};
inline constexpr Refuse refuse{};

// One action entry: not listed (monostate: the parent's handler, or none for a
// type without a parent), refused, or a handler. The alternatives after
// Refuse are the handler kinds, in this order.
using Entry = std::variant<std::monostate, Refuse, handler::Make, handler::Random,
                           handler::Form, handler::Mold, handler::EvalPath, handler::Compare,
                           handler::Unary, handler::Binary, handler::Ternary, handler::Measure,
                           handler::Round, handler::Insert, handler::Copy, handler::Find,
                           handler::Put, handler::Sort, handler::Take, handler::Trim,
                           handler::Open, handler::Read, handler::Write>;

// The handler type of an action slot, from the action list. ORDER ACTIONS
template <Action A> struct Slot;
#include "generated/action_slots.h"

namespace detail {
template <std::size_t... I>
consteval std::array<std::size_t, action_count + 1> slot_kinds(std::index_sequence<I...>) {
    // Entry kind (variant index) expected in each slot; slot 0 and 8 take none.
    std::array<std::size_t, action_count + 1> kinds{};
    ((kinds[I] = [] {
         constexpr auto a = static_cast<Action>(I);
         if constexpr (I == 0 || a == Action::reserved) {
             return std::size_t{0};
         } else {
             return Entry(typename Slot<a>::type{}).index();
         }
     }()), ...);
    return kinds;
}
inline constexpr auto slot_kinds_table = slot_kinds(std::make_index_sequence<action_count + 1>{});
// Called only when a table is malformed: not constexpr, so compilation fails here.
void table_error(const char* why);
}  // namespace detail

// The 62 entries of a registration, slot 1 at index 0.
using ActionTable = std::array<Entry, action_count>;

// One row of a module's table: an action and its handler (or refuse).
struct Row {
    Action action;
    Entry entry;
};

// Builds the 62 entries from the slots a module fills or refuses; a slot not
// listed takes the parent's handler at registration (none without a parent).
// Fails to compile when rows are out of action order, repeated, name slot 8,
// or give a handler of the wrong shape for the slot.
consteval ActionTable table(std::initializer_list<Row> rows) {
    ActionTable t{};
    int last = 0;
    for (const Row& r : rows) {
        const int slot = static_cast<int>(r.action);
        if (slot <= last) detail::table_error("action rows out of order or repeated");
        if (r.action == Action::reserved) detail::table_error("slot 8 takes no handler");
        if (r.entry.index() == 0) detail::table_error("an empty row: leave the slot out");
        if (r.entry.index() != 1 && r.entry.index() != detail::slot_kinds_table[slot])
            detail::table_error("handler shape does not match the action");
        t[static_cast<std::size_t>(slot - 1)] = r.entry;
        last = slot;
    }
    return t;
}

// What a datatype module registers: its id and its 62 action entries. Its
// name and parent come from runtime/types.table.
struct Registration {
    TypeId type;
    ActionTable actions;
};

// The record length (type, parent, name, one entry per action) of a module.
inline constexpr std::int32_t registration_entries = action_count + 3;

// Allocates the two tables and names every type of runtime/types.table;
// called once before any registration.
void init();
// Registers one type. entry_count is the record length the module declares;
// anything but registration_entries prints the datatype error lines and exits
// the process with status 0. Every slot not listed copies the parent's slot
// now; a type without a parent refuses nothing explicitly (start-up asserts).
void register_type(const Registration& r, std::int32_t entry_count = registration_entries);
// Calls the registering function of every type of runtime/types.table, each
// type after its ancestors.
void register_all();
// Attaches to each registered type the word of its full name, bound in the
// global context (needs the symbol table and the global context).
void init_type_words();

// Type-name table entry of a type.
struct TypeName {
    const char* name = nullptr;     // with the final "!"
    std::int32_t length = 0;        // without the final "!"
    Cell word{};                    // word! of the full name; no type until attached
};
// The entry of type t (name null for no_type).
const TypeName& type_name(TypeId t);
// The highest type id (0 before init).
int highest_type();

// Raw slot of the handler table (null: not supported). Use handler<A> below.
// Inline: every action call and every compare of a search reads one.
using ErasedHandler = void (*)();
namespace detail {
inline constexpr int slots_per_type = 256;  // slots past the actions are reserved
inline ErasedHandler* handlers = nullptr;   // filled by init and the registrations
}  // namespace detail
inline ErasedHandler handler_slot(TypeId t, Action a) {
    return detail::handlers[static_cast<int>(t) * detail::slots_per_type + static_cast<int>(a) - 1];
}

// The handler of action A for type t, typed for the slot, or null.
template <Action A>
typename Slot<A>::type handler(TypeId t) {
    return reinterpret_cast<typename Slot<A>::type>(handler_slot(t, A));
}

}  // namespace registry
}  // namespace kiv
