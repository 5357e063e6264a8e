// Action dispatch: the spec table, the entries that turn refinement positions
// into the typed handler arguments of registry.h, and the comparison and form
// entries native code calls directly. Handlers are looked up by the first
// argument's type; a type without one raises expect-arg.
#include "runtime/evaluator/actions.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/raise.h"

#include <array>
#include <cstring>
#include <utility>

namespace kiv::actions {

namespace {

// The counts read from a spec: arguments, and per refinement its arguments.
struct Shape {
    std::int32_t arguments = 0;
    std::int32_t refinements = 0;
    std::array<std::int32_t, 12> refinement_arguments{};
};

constexpr Shape shape_of(const char* text) {
    Shape s;
    bool in_word = false;
    for (const char* p = text;; ++p) {
        const char c = *p;
        if (c == ' ' || c == '\0') {
            in_word = false;
            if (c == '\0') break;
            continue;
        }
        if (in_word) continue;
        in_word = true;
        if (c == '/') ++s.refinements;
        else if (s.refinements == 0) ++s.arguments;
        else ++s.refinement_arguments[static_cast<std::size_t>(s.refinements - 1)];
    }
    return s;
}

constexpr auto shapes = [] {
    std::array<Shape, action_count> out{};
    for (std::size_t i = 0; i < action_count; ++i) out[i] = shape_of(action_specs[i].arguments);
    return out;
}();

const Shape& shape(Action a) { return shapes[static_cast<std::size_t>(a) - 1]; }

// --- Argument helpers -------------------------------------------------------------

Cell* arg(std::int32_t i) { return stack::arg(i); }
// A refinement's first argument cell, or null when unused.
Cell* ref_arg(const std::int32_t* r, std::int32_t i) {
    return r && r[i] != unused ? stack::arg(r[i]) : nullptr;
}
bool ref_flag(const std::int32_t* r, std::int32_t i) { return r && r[i] != unused; }

// True when the call named none of A's refinements: the usual call, which
// the common kernels take straight, without their refinement records.
template <Action A>
bool plain_call(const std::int32_t* r) {
    constexpr std::int32_t n = shapes[static_cast<std::size_t>(A) - 1].refinements;
    if (r == nullptr) return true;
    std::int32_t all = unused;  // every bit set; a refinement given is at an offset >= 0
    for (std::int32_t i = 0; i < n; ++i) all &= r[i];
    return all == unused;
}

// Copies the handler's result cell into the result slot.
void finish(const Cell* result) {
    if (result && result != stack::base()) *stack::base() = *result;
}

Cell name_word(const char* name) {
    Cell w{};
    word::make_at(symbol::make(name), w);
    return w;
}

// The first argument's name of the action (the word expect-arg names).
Cell first_argument_word(Action a) {
    const char* text = spec(a).arguments;
    const char* end = std::strchr(text, ' ');
    char name[32] = {};
    const std::size_t n = end ? static_cast<std::size_t>(end - text) : std::strlen(text);
    std::memcpy(name, text, n < sizeof name - 1 ? n : sizeof name - 1);
    return name_word(name[0] ? name : "value");
}

[[noreturn]] void expect_arg(TypeId t, const Cell& argument) {
    const Cell where = stack::calling_function_word();
    Cell type{};
    datatype::make_at(t, type);
    runtime::raise_error(ErrorCategory::script, "expect-arg", &where, &type, &argument);
}

registry::ErasedHandler lookup_for(TypeId t, Action a) {
    registry::ErasedHandler h = registry::handler_slot(t, a);
    if (!h) expect_arg(t, first_argument_word(a));
    return h;
}

template <Action A>
typename registry::Slot<A>::type typed(TypeId t) {
    return reinterpret_cast<typename registry::Slot<A>::type>(lookup_for(t, A));
}

std::int32_t int_of(const Cell& c) { return c.is(TypeId::integer) ? c.int_value() : 0; }

// Types whose /part value may be given to append and insert.
bool series_like(const Cell& v) {
    switch (v.type()) {
    case TypeId::block: case TypeId::paren: case TypeId::path: case TypeId::lit_path:
    case TypeId::set_path: case TypeId::get_path: case TypeId::hash: case TypeId::string:
    case TypeId::file: case TypeId::url: case TypeId::tag: case TypeId::email: case TypeId::ref:
    case TypeId::binary: case TypeId::vector: case TypeId::image: case TypeId::map:
        return v.series_node() != 0;
    default:
        return false;
    }
}

// Units from the buffer's first unit to its tail.
std::int32_t series_length(const Cell& v) {
    const SeriesBuffer* buf = memory::buffer(v.series_node());
    return buf->used_bytes() / static_cast<std::int32_t>(buf->unit());
}
// Clamps v's head index to its tail; returns it.
std::int32_t clamp_head(Cell& v) {
    const std::int32_t len = series_length(v);
    if (v.series_head() > len) v.set_series_head(len);
    return v.series_head();
}

[[noreturn]] void invalid_part(const Cell& length) {
    const Cell part = name_word("part");
    runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &part, &length);
}

// The /part length of append and insert against value (moved back for a
// negative length). Returns false when nothing is to be inserted.
bool insert_part(Cell* value, const Cell& length, std::int32_t& part) {
    if (!series_like(*value)) runtime::raise_error(ErrorCategory::script, "invalid-part", &length);
    const std::int32_t head = clamp_head(*value);
    if (length.is(TypeId::integer)) {
        part = length.int_value();
    } else if (length.type() == value->type() && length.series_node() == value->series_node() &&
               !length.is(TypeId::port)) {
        Cell end = length;
        part = clamp_head(end) - head;
    } else {
        invalid_part(length);
    }
    if (part == 0 || (part < 0 && head == 0)) return false;
    if (part < 0) {
        const std::int32_t from = head + part < 0 ? 0 : head + part;
        part = head - from;
        value->set_series_head(from);
    }
    return true;
}

// The /dup count (1 without /dup); false when nothing is to be inserted.
bool dup_count(const std::int32_t* r, std::int32_t dup, std::int32_t& count) {
    count = 1;
    if (Cell* c = ref_arg(r, dup))  // a float! count past 32 bits is out-of-range, not 0
        count = c->is(TypeId::float_) ? integer::from_number(*c) : int_of(*c);
    return count > 0;
}

// append and insert share one entry, so their refinements must line up.
static_assert(refine::append::part == refine::insert::part &&
              refine::append::only == refine::insert::only &&
              refine::append::dup == refine::insert::dup);
// select's refinements are find's first nine.
static_assert(refine::select::part == refine::find::part && refine::select::only == refine::find::only &&
              refine::select::case_ == refine::find::case_ && refine::select::same == refine::find::same &&
              refine::select::any == refine::find::any && refine::select::with == refine::find::with &&
              refine::select::skip == refine::find::skip && refine::select::last == refine::find::last &&
              refine::select::reverse == refine::find::reverse);

FindRefinements find_refinements(const std::int32_t* r, bool find) {
    namespace ref = refine::find;
    FindRefinements f;
    f.part = ref_arg(r, ref::part);
    f.only = ref_flag(r, ref::only);
    f.case_ = ref_flag(r, ref::case_);
    f.same = ref_flag(r, ref::same);
    f.any = ref_flag(r, ref::any);
    f.with = ref_arg(r, ref::with);
    f.skip = ref_arg(r, ref::skip);
    f.last = ref_flag(r, ref::last);
    f.reverse = ref_flag(r, ref::reverse);
    if (find) {
        f.tail = ref_flag(r, ref::tail);
        f.match = ref_flag(r, ref::match);
    }
    return f;
}

// The index pick and poke give a series: an integer! of index_arg's value.
// Other types (time! fields, bitset! members, map! keys) read their own, and
// image! reads its own too: an integer! or a column x row pair!.
Cell position_index(TypeId t, const Cell& index) {
    if (!is_any_block_type(t) && !is_any_string_type(t) && t != TypeId::binary &&
        t != TypeId::vector)
        return index;
    Cell n{};
    n.reset(TypeId::integer);
    n.set_int(index_arg(index));
    return n;
}

// form and mold into a new string in the result slot; limit_cell is /part.
template <typename Call>
void text_entry(Cell* limit_cell, Call&& call) {
    std::int32_t limit = 0x7FFFFFFF;
    if (limit_cell) limit = int_of(*limit_cell);
    Cell out{};
    string::make_at(out, 16);
    Cell* held = stack::push(out);  // keeps the text reachable while the handler works
    if (limit > 0) {
        call(held->series_node(), limit_cell, limit);
        if (limit_cell) string::truncate_buffer(held->series_node(), limit);
    }
    *stack::base() = *held;
}

// --- The entries ---------------------------------------------------------------

template <Action A>
__attribute__((noinline)) void entry_of(const std::int32_t* r) {
    Cell* a0 = arg(0);
    const TypeId t = a0->type();
    if constexpr (A == Action::make || A == Action::to) {
        const TypeId target = t == TypeId::datatype ? a0->datatype_id() : t;
        finish(typed<A>(target)(a0, arg(1), target));
    } else if constexpr (A == Action::random) {
        namespace ref = refine::random;
        finish(typed<A>(t)(a0, RandomRefinements{.seed = ref_flag(r, ref::seed), .secure = ref_flag(r, ref::secure),
                                                 .only = ref_flag(r, ref::only)}));
    } else if constexpr (A == Action::form) {
        auto h = typed<A>(t);
        text_entry(ref_arg(r, refine::form::part),
                   [&](NodeId out, Cell* lim, std::int32_t n) { h(a0, out, lim, n); });
    } else if constexpr (A == Action::mold) {
        namespace ref = refine::mold;
        auto h = typed<A>(t);
        const MoldOptions options{.only = ref_flag(r, ref::only), .all = ref_flag(r, ref::all),
                                  .flat = ref_flag(r, ref::flat)};
        text_entry(ref_arg(r, ref::part), [&](NodeId out, Cell* lim, std::int32_t n) {
            h(a0, out, options, lim, n, 0);
        });
    } else if constexpr (A == Action::round) {
        namespace ref = refine::round;
        finish(typed<A>(t)(a0, RoundRefinements{
            .scale = ref_arg(r, ref::to), .even = ref_flag(r, ref::even), .down = ref_flag(r, ref::down),
            .half_down = ref_flag(r, ref::half_down), .floor = ref_flag(r, ref::floor),
            .ceiling = ref_flag(r, ref::ceiling), .half_ceiling = ref_flag(r, ref::half_ceiling)}));
    } else if constexpr (A == Action::even_q || A == Action::odd_q) {
        const std::int32_t v = typed<A>(t)(a0);
        a0->reset(TypeId::logic);
        a0->set_logic(v != 0);
    } else if constexpr (A == Action::length_q) {
        const std::int32_t n = typed<A>(t)(a0);
        if (n < 0) {
            a0->reset(TypeId::none);
        } else {
            a0->reset(TypeId::integer);
            a0->set_int(n);
        }
    } else if constexpr (A == Action::append || A == Action::insert) {
        namespace ref = refine::append;  // insert's are the same (asserted above)
        auto h = typed<A>(t);
        std::int32_t part = -1, count = 1;
        if (Cell* length = ref_arg(r, ref::part))
            if (!insert_part(arg(1), *length, part)) return;
        if (!dup_count(r, ref::dup, count)) return;
        finish(h(a0, arg(1), part, ref_flag(r, ref::only), count));
    } else if constexpr (A == Action::change) {
        auto h = typed<A>(t);
        std::int32_t part = -1, count = 1;
        namespace ref = refine::change;
        if (Cell* range = ref_arg(r, ref::part)) {
            const bool fixed = t == TypeId::port || t == TypeId::image;
            const std::int32_t head = fixed ? a0->series_head() : clamp_head(*a0);
            if (range->is(TypeId::integer)) {
                part = range->int_value();
            } else if (!fixed && range->type() == t && range->series_node() == a0->series_node()) {
                Cell end = *range;
                part = clamp_head(end) - head;
            } else {
                invalid_part(*range);
            }
            if (part < 0) {
                if (fixed) {
                    part = 0;
                } else {
                    const std::int32_t from = head + part < 0 ? 0 : head + part;
                    part = head - from;
                    a0->set_series_head(from);
                }
            }
        }
        if (!dup_count(r, ref::dup, count)) return;
        finish(h(a0, arg(1), part, ref_flag(r, ref::only), count));
    } else if constexpr (A == Action::copy) {
        namespace ref = refine::copy;
        auto h = typed<A>(t);
        Cell* kinds = ref_arg(r, ref::types);
        if (kinds && !kinds->is(TypeId::datatype) && !kinds->is(TypeId::typeset))
            expect_arg(kinds->type(), name_word("kind"));
        finish(h(a0, ref_arg(r, ref::part), ref_flag(r, ref::deep), kinds));
    } else if constexpr (A == Action::find || A == Action::select) {
        finish(typed<A>(t)(a0, arg(1), find_refinements(r, A == Action::find)));
    } else if constexpr (A == Action::move) {
        finish(typed<A>(t)(a0, arg(1), ref_arg(r, refine::move::part)));
    } else if constexpr (A == Action::pick) {
        auto h = typed<A>(t);
        Cell index = position_index(t, *arg(1));
        finish(h(a0, &index));
    } else if constexpr (A == Action::poke) {
        auto h = typed<A>(t);
        Cell index = position_index(t, *arg(1));
        finish(h(a0, &index, arg(2)));
    } else if constexpr (A == Action::put) {
        finish(typed<A>(t)(a0, arg(1), arg(2), ref_flag(r, refine::put::case_)));
    } else if constexpr (A == Action::modify) {
        finish(typed<A>(t)(a0, arg(1), arg(2), ref_flag(r, refine::modify::case_)));
    } else if constexpr (A == Action::remove) {
        finish(typed<A>(t)(a0, ref_arg(r, refine::remove::part), ref_arg(r, refine::remove::key)));
    } else if constexpr (A == Action::reverse) {
        finish(typed<A>(t)(a0, ref_arg(r, refine::reverse::part), ref_arg(r, refine::reverse::skip)));
    } else if constexpr (A == Action::sort) {
        namespace ref = refine::sort;
        finish(typed<A>(t)(a0, SortRefinements{
            .case_ = ref_flag(r, ref::case_), .skip = ref_arg(r, ref::skip), .comparator = ref_arg(r, ref::compare),
            .part = ref_arg(r, ref::part), .all = ref_flag(r, ref::all), .reverse = ref_flag(r, ref::reverse),
            .stable = ref_flag(r, ref::stable)}));
    } else if constexpr (A == Action::take) {
        namespace ref = refine::take;
        finish(typed<A>(t)(a0, ref_arg(r, ref::part), ref_flag(r, ref::deep), ref_flag(r, ref::last)));
    } else if constexpr (A == Action::trim) {
        namespace ref = refine::trim;
        finish(typed<A>(t)(a0, TrimRefinements{
            .head = ref_flag(r, ref::head), .tail = ref_flag(r, ref::tail), .auto_ = ref_flag(r, ref::auto_),
            .lines = ref_flag(r, ref::lines), .all = ref_flag(r, ref::all), .with = ref_arg(r, ref::with)}));
    } else if constexpr (A == Action::open) {
        namespace ref = refine::open;
        finish(typed<A>(t)(a0, OpenRefinements{
            .new_ = ref_flag(r, ref::new_), .read = ref_flag(r, ref::read), .write = ref_flag(r, ref::write),
            .seek = ref_flag(r, ref::seek), .allow = ref_arg(r, ref::allow)}));
    } else if constexpr (A == Action::read) {
        namespace ref = refine::read;
        finish(typed<A>(t)(a0, ReadRefinements{
            .part = ref_arg(r, ref::part), .seek = ref_arg(r, ref::seek), .binary = ref_flag(r, ref::binary),
            .lines = ref_flag(r, ref::lines), .info = ref_flag(r, ref::info), .as = ref_arg(r, ref::as)}));
    } else if constexpr (A == Action::write) {
        namespace ref = refine::write;
        finish(typed<A>(t)(a0, arg(1), WriteRefinements{
            .binary = ref_flag(r, ref::binary), .lines = ref_flag(r, ref::lines), .info = ref_flag(r, ref::info),
            .append = ref_flag(r, ref::append), .part = ref_arg(r, ref::part), .seek = ref_arg(r, ref::seek),
            .allow = ref_arg(r, ref::allow), .as = ref_arg(r, ref::as)}));
    } else if constexpr (std::is_same_v<typename registry::Slot<A>::type, handler::Binary>) {
        finish(typed<A>(t)(a0, arg(1)));
    } else {
        static_assert(std::is_same_v<typename registry::Slot<A>::type, handler::Unary>);
        finish(typed<A>(t)(a0));
    }
}

// The entry of the commonest calls: append of one value to a block, select
// and put on a map!, with no refinement named, go straight to their kernels;
// everything else (and append's growing of the block) to entry_of, whose
// general work stays out of the way of these few instructions.
template <Action A>
void direct_entry(const std::int32_t* r) {
    Cell* a0 = arg(0);
    const TypeId t = a0->type();
    if constexpr (A == Action::append) {
        if (t == TypeId::block && plain_call<A>(r) && block::append_in_room(*a0, *arg(1))) return;
    } else if constexpr (A == Action::select) {
        if (t == TypeId::map && plain_call<A>(r)) {
            map::select_plain(*a0, *arg(1));
            return;
        }
    } else if constexpr (A == Action::put) {
        if (t == TypeId::map) {
            map::put(a0, arg(1), arg(2), ref_flag(r, refine::put::case_));
            return;
        }
    }
    entry_of<A>(r);
}

template <std::size_t... I>
constexpr std::array<Entry, action_count> make_entries(std::index_sequence<I...>) {
    std::array<Entry, action_count> t{};
    ((t[I] = [] {
         constexpr auto a = static_cast<Action>(I + 1);
         if constexpr (a == Action::eval_path || a == Action::reserved || a == Action::compare) {
             return Entry{nullptr};
         } else if constexpr (a == Action::append || a == Action::select || a == Action::put) {
             return Entry{&direct_entry<a>};
         } else {
             return Entry{&entry_of<a>};
         }
     }()), ...);
    return t;
}

std::array<Entry, action_count> table{};  // the action table, filled by init

}  // namespace

const Spec& spec(Action a) { return action_specs[static_cast<std::size_t>(a) - 1]; }
std::int32_t argument_count(Action a) { return shape(a).arguments; }
std::int32_t refinement_count(Action a) { return shape(a).refinements; }
std::int32_t refinement_argument_count(Action a, std::int32_t r) {
    return shape(a).refinement_arguments[static_cast<std::size_t>(r)];
}

void init() { table = make_entries(std::make_index_sequence<action_count>{}); }

Entry entry(Action a) { return table[static_cast<std::size_t>(a) - 1]; }

registry::ErasedHandler lookup(const Cell& value, Action a) { return lookup_for(value.type(), a); }

bool compare(Cell* value1, Cell* value2, CompareOp op) {
    const std::int32_t order = typed<Action::compare>(value1->type())(value1, value2, op);
    if (order == not_comparable) {
        if (!is_equality(op) && op != CompareOp::parse_strict && op != CompareOp::parse_equal)
            runtime::raise_error(ErrorCategory::script, "invalid-compare", value1, value2);
        return op == CompareOp::not_equal;  // values that cannot be compared are never equal
    }
    switch (op) {
    case CompareOp::not_equal: return order != 0;
    case CompareOp::lesser: return order < 0;
    case CompareOp::lesser_or_equal: return order <= 0;
    case CompareOp::greater: return order > 0;
    case CompareOp::greater_or_equal: return order >= 0;
    case CompareOp::sort: case CompareOp::case_sort: return order < 0;
    default: return order == 0;  // the equality kinds
    }
}

std::int32_t compare_order(Cell* left, Cell* right, CompareOp op) {
    auto h = typed<Action::compare>(left->type());
    auto sign = [](std::int64_t d) { return static_cast<std::int32_t>((d > 0) - (d < 0)); };
    const bool same_kind = right->type() == left->type();  // the words below mean nothing across types
    switch (left->type()) {
    case TypeId::logic:
        if (!same_kind) return not_comparable;
        return static_cast<std::int32_t>(left->logic_value()) - static_cast<std::int32_t>(right->logic_value());
    case TypeId::native: case TypeId::action: case TypeId::op:  // word 1: the entry
        if (!same_kind) return not_comparable;
        return sign(static_cast<std::int64_t>(left->code_entry()) - static_cast<std::int64_t>(right->code_entry()));
    case TypeId::function: case TypeId::routine:  // word 3: the extra block
        if (!same_kind) return not_comparable;
        return sign(static_cast<std::int64_t>(left->code_extra()) - static_cast<std::int64_t>(right->code_extra()));
    default:
        return h(left, right, op);
    }
}

std::int32_t form_to(Cell* value, NodeId out, std::int32_t limit) {
    return typed<Action::form>(value->type())(value, out, nullptr, limit < 0 ? 0x7FFFFFFF : limit);
}

std::int32_t mold_to(Cell* value, NodeId out, MoldOptions options, std::int32_t limit) {
    return typed<Action::mold>(value->type())(value, out, options, nullptr,
                                              limit < 0 ? 0x7FFFFFFF : limit, 0);
}

Cell* eval_path_typed(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    auto h = registry::handler<Action::eval_path>(value->type());
    if (h) return h(value, element, new_value, step);
    Cell type{};
    datatype::make_at(value->type(), type);
    if (!step.path) runtime::raise_error(ErrorCategory::script, "bad-path-type2", element, &type);
    Cell cut{};
    block::clone(cut, *step.path, false, false);
    block::set_tail(cut, step.index + 1);
    runtime::raise_error(ErrorCategory::script, "bad-path-type", step.path, &type, &cut);
}

std::int32_t length_q(Cell* value) { return typed<Action::length_q>(value->type())(value); }

std::int32_t index_arg(const Cell& index) {
    switch (index.type()) {
    case TypeId::integer: return index.int_value();
    case TypeId::char_: return static_cast<std::int32_t>(index.char_value());
    case TypeId::logic: return index.logic_value() != 0 ? 1 : 2;
    default: return 0;
    }
}

}  // namespace kiv::actions
