// The natives that reach the process and the platform (now, wait, the
// environment, browse), the memory manager (stats, recycle) and the state of
// words (value?, unset, context?). The platform work goes through
// runtime/os/platform.h; browse hands its target to xdg-open.
#include "runtime/evaluator/natives.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/memory.h"
#include "runtime/os/platform.h"
#include "runtime/core/raise.h"
#include "runtime/core/tracked_heap.h"
#include "runtime/text/unicode.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace kiv::natives {
namespace {

// --- Helpers ------------------------------------------------------------------

void set_integer(Cell& out, std::int32_t v) {
    out.reset(TypeId::integer);
    out.set_int(v);
}

// The form of any value, as UTF-8.
std::string form_utf8(const Cell& value) {
    Cell text;
    string::make_at(text, 16);
    Cell v = value;
    actions::form_to(&v, text.series_node(), -1);
    return string::utf8_of(text);
}

void make_string(Cell& out, const std::string& utf8) {
    string::make_at(out, static_cast<std::int32_t>(utf8.size()) + 1);
    string::append_utf8(out.series_node(), utf8.data(), static_cast<std::int32_t>(utf8.size()));
}

// The name argument of the environment natives: a text, or a word's spelling.
std::string env_name(const Cell& name) {
    if (is_any_string_type(name.type())) return string::utf8_of(name);
    if (word::is_word_like(name.type())) return std::string(symbol::name(name.word_symbol()));
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &name);
}

// --- now ----------------------------------------------------------------------

// now /year /month /day /time /zone /date /weekday /yearday /precise /utc
void now(bool, const std::int32_t* r) {
    namespace ref = refine::now;
    int fields = 0;
    for (int i = ref::year; i <= ref::precise; ++i) fields += used(r, i) ? 1 : 0;
    if (fields >= 2 && !(used(r, ref::time) && used(r, ref::precise)))
        runtime::raise_error(ErrorCategory::script, "bad-refines");
    Cell& out = *stack::arg(0);
    Cell today{};
    date::now(today, used(r, ref::utc), used(r, ref::precise));
    static constexpr struct { int refinement; date::Field field; } fields_of[] = {
        {ref::year, date::year},   {ref::month, date::month},     {ref::day, date::day},
        {ref::zone, date::zone},   {ref::time, date::time},       {ref::weekday, date::weekday},
        {ref::yearday, date::yearday}, {ref::date, date::date_only},
    };
    for (const auto& e : fields_of)
        if (used(r, e.refinement)) return date::get_field(today, e.field, out);
    out = today;
}

// --- wait, environment, browse -----------------------------------------------------

// wait value /all
void wait(bool, const std::int32_t*) {
    const Cell v = *stack::arg(0);
    double seconds;
    switch (v.type()) {
    case TypeId::integer: seconds = v.int_value(); break;
    case TypeId::float_:
    case TypeId::time: seconds = v.f64(); break;
    default: runtime::raise_error(ErrorCategory::script, "invalid-arg", &v);
    }
    none::make_at(*stack::arg(0));
    if (!(seconds > 0.001)) seconds = 0.001;  // at least 1 ms, also for NaN and negatives
    if (seconds > 2147483.0) seconds = 2147483.0;  // the longest wait a 32-bit ms count allows
    platform::sleep(seconds);
}

// set-env name value
void set_env(bool, const std::int32_t*) {
    const std::string name = env_name(*stack::arg(0));
    const Cell value = *stack::arg(1);
    if (value.is(TypeId::none)) {
        platform::set_env(name, nullptr);
    } else {
        const std::string text = is_any_string_type(value.type()) ? string::utf8_of(value) : form_utf8(value);
        if (name.empty() || name.find('=') != std::string::npos || !platform::set_env(name, &text))
            runtime::raise_error(ErrorCategory::script, "invalid-arg", stack::arg(0));
    }
    *stack::arg(0) = value;
}

// get-env name
void get_env(bool, const std::int32_t*) {
    const std::string name = env_name(*stack::arg(0));
    std::string value;
    if (!platform::get_env(name, value) || value.empty()) none::make_at(*stack::arg(0));
    else make_string(*stack::arg(0), value);
}

// list-env: a block of name and value strings, one pair after another.
void list_env(bool, const std::int32_t*) {
    const auto vars = platform::environment();
    Cell result;
    block::make_at(result, static_cast<std::int32_t>(vars.size() * 2) + 1);
    for (const auto& [name, value] : vars) {
        Cell s;
        make_string(s, name);
        block::append_copy(result, s);
        make_string(s, value);
        block::append_copy(result, s);
    }
    *stack::arg(0) = result;
}

// browse url-or-file: xdg-open in a detached grandchild, so no zombie stays.
void browse(bool, const std::int32_t*) {
    const Cell& target = *stack::arg(0);
    if (!is_any_string_type(target.type())) runtime::raise_error(ErrorCategory::script, "invalid-arg", &target);
    Cell local = target;
    const std::string what = target.is(TypeId::file) ? file::to_local_path(local) : string::utf8_of(target);
    if (what.find('\0') != std::string::npos) runtime::raise_error(ErrorCategory::script, "invalid-arg", &target);
    platform::flush();
    const pid_t child = fork();
    if (child == 0) {
        if (fork() == 0) {
            execlp("xdg-open", "xdg-open", what.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        _exit(0);
    }
    if (child > 0) waitpid(child, nullptr, 0);
    unset::make_at(*stack::arg(0));
}

// --- stats and recycle --------------------------------------------------------------

// A figure: integer! up to 2147483647, else float!.
void set_figure(Cell& out, double v) {
    if (v > 2147483647.0) float_::make_at(out, v);
    else set_integer(out, static_cast<std::int32_t>(v));
}

// The memory manager's frames as numbers, read before any value is made.
struct FrameFigures {
    std::vector<memory::PoolUse> pools;
    std::vector<memory::Arena> arenas;
    std::vector<std::size_t> large;
    double heap = 0;  // the tracked heap's blocks, headers included
};

FrameFigures frame_figures() {
    FrameFigures f;
    f.pools = memory::pool_use();
    f.arenas = memory::arenas();
    for (const memory::LargeBlock& b : memory::large_blocks()) f.large.push_back(b.bytes);
    for (const runtime::TrackedBlock* b = runtime::tracked_heap().first; b != nullptr; b = b->next)
        f.heap += static_cast<double>(b->size) + sizeof(runtime::TrackedBlock);
    return f;
}

constexpr double node_bytes = sizeof(SeriesBuffer*);

// The bytes in use: nodes handed out, arena bytes up to each fill point, and
// the large blocks.
double memory_in_use() {
    const FrameFigures f = frame_figures();
    double total = 0;
    for (const memory::PoolUse& p : f.pools) total += p.used * node_bytes;
    for (const memory::Arena& a : f.arenas) total += static_cast<double>(a.free - a.base);
    for (std::size_t bytes : f.large) total += static_cast<double>(bytes);
    return total;
}

// A block of figures, each entry on a line of its own.
void append_entry(const Cell& list, std::initializer_list<double> figures) {
    Cell entry, n;
    block::make_at(entry, static_cast<std::int32_t>(figures.size()));
    entry.set_new_line(true);
    Cell* held = block::append_copy(list, entry);  // held by list before the next allocation
    const Cell e = *held;
    for (double v : figures) {
        set_figure(n, v);
        block::append_copy(e, n);
    }
}

// The five values of stats/info: the node pools [free used capacity] each,
// the series arenas [free used size] each, the large blocks' sizes, the bytes
// held by all of them and the tracked heap, and the tracked heap's bytes.
void memory_figures(Cell& result) {
    const FrameFigures f = frame_figures();
    double held = f.heap;
    block::make_at(result, 5);
    collector::Root keep(result);
    Cell list;
    block::make_at(list, static_cast<std::int32_t>(f.pools.size()) + 1);
    list = *block::append_copy(keep.cell(), list);
    for (const memory::PoolUse& p : f.pools) {
        append_entry(list, {static_cast<double>(p.capacity - p.used), static_cast<double>(p.used),
                            static_cast<double>(p.capacity)});
        held += p.capacity * node_bytes;
    }
    block::make_at(list, static_cast<std::int32_t>(f.arenas.size()) + 1);
    list = *block::append_copy(keep.cell(), list);
    for (const memory::Arena& a : f.arenas) {
        const double used = static_cast<double>(a.free - a.base);
        const double size = static_cast<double>(a.end - a.base);
        append_entry(list, {size - used, used, size});
        held += size;
    }
    block::make_at(list, static_cast<std::int32_t>(f.large.size()) + 1);
    list = *block::append_copy(keep.cell(), list);
    Cell n;
    for (std::size_t bytes : f.large) {
        set_figure(n, static_cast<double>(bytes));
        n.set_new_line(true);
        block::append_copy(list, n);
        held += static_cast<double>(bytes);
    }
    set_figure(n, held);
    block::append_copy(keep.cell(), n);
    set_figure(n, f.heap);
    block::append_copy(keep.cell(), n);
    result = keep.cell();
}

// stats /show /info
void stats(bool, const std::int32_t* r) {
    if (used(r, refine::stats::show)) {  // the library's show-memory-stats prints the figures
        Cell code, figures;
        block::make_at(code, 2);
        collector::Root keep(code);
        Cell name;
        word::make_kind_at(TypeId::word, "show-memory-stats", name);
        block::append_copy(keep.cell(), name);
        memory_figures(figures);
        block::append_copy(keep.cell(), figures);
        interpreter::eval_block(keep.cell(), false);
        stack::keep_first();
        unset::make_at(*stack::arg(0));
        return;
    }
    if (used(r, refine::stats::info)) {
        Cell result;
        memory_figures(result);
        *stack::arg(0) = result;
        return;
    }
    set_figure(*stack::arg(0), memory_in_use());
}

// recycle /on /off
void recycle(bool, const std::int32_t* r) {
    if (used(r, refine::recycle::on) || used(r, refine::recycle::off)) {
        collector::set_enabled(used(r, refine::recycle::on));  // /on wins when both are given
        unset::make_at(*stack::arg(0));
        return;
    }
    stack::keep_first();
    collector::collect();
    set_figure(*stack::arg(0), memory_in_use());
}

// --- Word state ------------------------------------------------------------------------

bool has_value(const Cell& v) {
    const TypeId t = v.type();
    if (t != TypeId::word && t != TypeId::lit_word && t != TypeId::set_word && t != TypeId::get_word)
        return !v.is(TypeId::unset);
    if (v.word_context() == 0 || v.word_index() < 0) return false;  // unbound: no value
    return !context::get_word_cell(v)->is(TypeId::unset);
}

void value_q(bool, const std::int32_t*) { logic::make_at(*stack::arg(0), has_value(*stack::arg(0))); }

void unset_word(Cell word) {
    if (word.word_context() == 0) {
        runtime::raise_error(ErrorCategory::script, "not-defined", &word);
    }
    Cell nothing;
    unset::make_at(nothing);
    context::set_word(word, nothing);
}

// unset word-or-block
void unset(bool, const std::int32_t*) {
    const Cell target = *stack::arg(0);
    if (target.is(TypeId::word)) {
        unset_word(target);
    } else if (target.is(TypeId::block)) {
        const std::int32_t first = target.series_head();
        const std::int32_t end = first + block::count_from_head(target);
        for (std::int32_t i = first; i < end; ++i) {
            const Cell element = *block::get_cell(target, i);  // re-read: setting may allocate
            if (element.is(TypeId::word)) unset_word(element);
        }
    } else {
        runtime::raise_error(ErrorCategory::script, "invalid-arg", &target);
    }
    unset::make_at(*stack::arg(0));
}

// context? word
void context_q(bool, const std::int32_t*) {
    const Cell w = *stack::arg(0);
    if (!word::is_any_word(w.type()) || w.word_context() == 0)
        runtime::raise_error(ErrorCategory::script, "not-in-context", &w);
    *stack::arg(0) = *context::owner(w.word_context());
}

// extend map spec /case
void extend(bool, const std::int32_t* r) {
    const Cell target = *stack::arg(0);
    const Cell spec = *stack::arg(1);
    if (target.is(TypeId::object)) runtime::raise_error(ErrorCategory::internal, "not-done");
    if (!target.is(TypeId::map)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &target);
    if (!spec.is(TypeId::block)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &spec);
    map::extend(target, spec, used(r, refine::extend::case_));
    stack::keep_first();
}

}  // namespace

void register_system() {
    set(Native::extend, extend);
    set(Native::stats, stats);
    set(Native::value_q, value_q);
    set(Native::wait, wait);
    set(Native::unset, unset);
    set(Native::context_q, context_q);
    set(Native::set_env, set_env);
    set(Native::get_env, get_env);
    set(Native::list_env, list_env);
    set(Native::now, now);
    set(Native::browse, browse);
    set(Native::recycle, recycle);
}

}  // namespace kiv::natives
