// The natives that steer evaluation: conditionals, selection and loops. Loops
// push a polling loop frame, so break, continue and return from an interpreted
// body reach them as a pending exit, without a C++ throw; a loop that finds an
// exit pending that is not its own returns at once (the stacks are unwound).
#include "runtime/evaluator/natives.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kiv::natives {
namespace {

using stack::arg;

// --- Helpers -----------------------------------------------------------------------

using block::cell_at;
using block::tail_of;

void return_none() { stack::set_result_only(none::value); }

inline bool is_block_type(TypeId t) {
    return t == TypeId::block || t == TypeId::paren || t == TypeId::hash || path::is_path_type(t);
}

// Series types forall walks.
bool forall_series_q(TypeId t) {
    switch (t) {
    case TypeId::block: case TypeId::paren: case TypeId::hash: case TypeId::path:
    case TypeId::lit_path: case TypeId::set_path: case TypeId::get_path: case TypeId::string:
    case TypeId::file: case TypeId::url: case TypeId::tag: case TypeId::email: case TypeId::ref:
    case TypeId::binary: case TypeId::vector: case TypeId::image:
        return true;
    default:
        return false;
    }
}

// True when the series has an element at its index. An image's length? is
// its pixel count wherever its position lies, so it asks for the tail.
bool has_element(const Cell& series) {
    if (is_block_type(series.type()))  // length? of cells, read in place
        return std::max(series.series_head(), 0) < tail_of(series.series_node());
    if (series.is(TypeId::image))
        return series.series_head() < image::width_of(series) * image::height_of(series);
    Cell s = series;
    return actions::length_q(&s) > 0;
}

// A loop count: integer! as it is, float! truncated toward zero (NaN: none).
std::int64_t loop_count(const Cell& count) {
    if (count.is(TypeId::float_)) {
        const double d = std::trunc(count.f64());
        if (!(d > 0)) return 0;
        return d >= 9.0e18 ? INT64_MAX : static_cast<std::int64_t>(d);
    }
    return count.int_value();
}

// --- Loop passes -----------------------------------------------------------------------

enum class Pass { done, broke, continued, left };

// Pushes the loop frame, named <body>, with an unset! result slot.
void push_loop() {
    stack::push_loop_frame(&words::word(words::Word::body));
    stack::set_poll_flag();
    stack::set_result_only(unset::value);
}

// One pass of body under the loop frame. done: the body's value is the frame's
// result; broke / continued: the unwinding set the result; left: an exit that
// is not the loop's is pending, the loop's frames are gone, return at once.
Pass run_pass(interpreter::LoopPasses& passes, const Cell& body) {
    stack::keep_first();
    const std::uint32_t r = passes.run(body);
    if (r == 0) {
        *stack::base() = *(stack::top() - 1);
        return Pass::done;
    }
    if (r == runtime::thrown_break) return Pass::broke;
    if (r == runtime::thrown_continue) return Pass::continued;
    return Pass::left;
}

// Pops the loop frame; its result becomes the native's.
void end_loop() {
    stack::keep_first();
    stack::return_result();
}

// --- Conditionals ------------------------------------------------------------------------

void if_(bool, const std::int32_t*) {
    if (logic::false_result_q(*arg(0))) return return_none();
    const Cell body = *arg(1);
    interpreter::eval_block_tail(body, true);
}

void unless(bool, const std::int32_t*) {
    if (!logic::false_result_q(*arg(0))) return return_none();
    const Cell body = *arg(1);
    interpreter::eval_block_tail(body, true);
}

void either(bool, const std::int32_t*) {
    const Cell body = logic::true_result_q(*arg(0)) ? *arg(1) : *arg(2);
    interpreter::eval_block_tail(body, true);
}

// any (hit_on_true) and all (!hit_on_true): one expression at a time. The
// block argument stays in its cell (it roots the code); the last value waits
// in the cell after it.
void any_all(bool hit_on_true) {
    const Cell blk = *arg(0);
    const NodeId code = blk.series_node();
    std::int32_t pos = blk.series_head();
    Cell* const base = stack::base();
    stack::set_top(base + 1);
    Cell* const last = stack::push(none::value);
    while (pos < tail_of(code)) {
        stack::set_top(base + 2);
        pos = interpreter::eval_next(code, pos, interpreter::to_tail, true);
        const Cell v = *(stack::top() - 1);
        const bool truthy = !logic::false_result_q(v);
        if (hit_on_true && truthy) return stack::set_result_only(v);
        if (!hit_on_true && !truthy) return return_none();
        *last = v;
    }
    if (hit_on_true) return return_none();
    stack::set_result_only(*last);  // all: the last value (none for an empty block)
}

void any(bool, const std::int32_t*) { any_all(true); }
void all(bool, const std::int32_t*) { any_all(false); }

// --- Selection ---------------------------------------------------------------------------

void switch_(bool, const std::int32_t* refinements) {
    const Cell value = *arg(0);
    const Cell cases = *arg(1);
    const NodeId code = cases.series_node();
    for (std::int32_t i = cases.series_head(); i < tail_of(code); ++i) {
        Cell c = *cell_at(code, i);
        if (c.type() != value.type()) continue;
        Cell v = value;
        if (!actions::compare(&c, &v, CompareOp::equal)) continue;
        for (std::int32_t j = i + 1; j < tail_of(code); ++j) {
            if (cell_at(code, j)->is(TypeId::block)) {
                const Cell body = *cell_at(code, j);
                return interpreter::eval_block_tail(body, true);
            }
        }
        break;  // a hit without a block after it: as no hit
    }
    if (!used(refinements, refine::switch_::default_)) return return_none();
    const Cell fallback = *arg(refinements[refine::switch_::default_]);
    interpreter::eval_block_tail(fallback, true);
}

void case_(bool, const std::int32_t* refinements) {
    const bool all_pairs = used(refinements, refine::case_::all);
    const Cell blk = *arg(0);
    const NodeId code = blk.series_node();
    std::int32_t pos = blk.series_head();
    if (pos >= tail_of(code)) return return_none();
    stack::push_call_frame(&words::word(words::Word::anon));
    stack::set_result_only(none::value);
    Cell* const result = stack::base();
    bool hit = false;
    while (pos < tail_of(code)) {
        hit = false;  // the flag of the current pair only
        stack::keep_first();
        pos = interpreter::eval_next(code, pos, interpreter::to_tail, true);
        if (pos >= tail_of(code)) {
            const Cell w = words::global(words::Global::case_);
            runtime::raise_error(ErrorCategory::script, "need-value", &w);
        }
        const Cell cond = *(stack::top() - 1);
        if (!logic::true_result_q(cond)) {
            ++pos;  // the body is skipped unevaluated
            continue;
        }
        hit = true;
        stack::keep_first();
        const Cell body = *cell_at(code, pos);
        if (body.is(TypeId::block)) {
            interpreter::eval_block(body, false);
            ++pos;
        } else {
            pos = interpreter::eval_next(code, pos, interpreter::to_tail, true);
        }
        *result = *(stack::top() - 1);
        if (!all_pairs) break;
    }
    if (!hit) *result = none::value;
    stack::keep_first();
    stack::return_result();
}

// --- Loops --------------------------------------------------------------------------------

void while_(bool, const std::int32_t*) {
    const Cell cond = *arg(0);
    const Cell body = *arg(1);
    push_loop();
    interpreter::LoopPasses passes;
    for (;;) {
        stack::keep_first();
        const std::uint32_t r = passes.run(cond);
        if (r == runtime::thrown_break || r == runtime::thrown_continue)
            runtime::raise_error(ErrorCategory::throw_, "while-cond");
        if (r != 0) return;
        if (!logic::true_result_q(*(stack::top() - 1))) break;
        const Pass p = run_pass(passes, body);
        if (p == Pass::left) return;
        if (p == Pass::broke) break;
    }
    stack::set_result_only(unset::value);  // while gives unset!, also after break/return
    end_loop();
}

void until(bool, const std::int32_t*) {
    const Cell body = *arg(0);
    push_loop();
    interpreter::LoopPasses passes;
    for (;;) {
        const Pass p = run_pass(passes, body);
        if (p == Pass::left) return;
        if (p == Pass::broke) break;
        if (p == Pass::continued) continue;  // continue skips the test
        if (logic::true_result_q(*stack::base())) break;
    }
    end_loop();
}

void loop(bool, const std::int32_t*) {
    const std::int64_t count = loop_count(*arg(0));
    if (count <= 0) return return_none();
    const Cell body = *arg(1);
    push_loop();
    interpreter::LoopPasses passes;
    for (std::int64_t i = 0; i < count; ++i) {
        const Pass p = run_pass(passes, body);
        if (p == Pass::left) return;
        if (p == Pass::broke) break;
    }
    end_loop();
}

void repeat(bool, const std::int32_t*) {
    std::int64_t count = loop_count(*arg(1));
    if (count <= 0) return return_none();
    if (count > INT32_MAX) count = INT32_MAX;  // the counter is an integer!
    Cell* const counter = arg(1);  // the count cell becomes the counter
    counter->reset(TypeId::integer);
    counter->set_int(1);
    const Cell word = *arg(0);
    const Cell body = *arg(2);
    push_loop();
    interpreter::LoopPasses passes;
    for (std::int64_t left = count; left > 0; --left) {
        Cell w = word;  // set in its own context: the body may reassign it freely
        context::set_word(w, *counter);
        const Pass p = run_pass(passes, body);
        if (p == Pass::left) return;
        if (p == Pass::broke) break;
        counter->set_int(counter->int_value() + 1);
    }
    end_loop();
}

void forever(bool, const std::int32_t*) {
    const Cell body = *arg(0);
    push_loop();
    interpreter::LoopPasses passes;
    for (;;) {
        const Pass p = run_pass(passes, body);
        if (p == Pass::left) return;
        if (p == Pass::broke) break;
    }
    end_loop();
}

// --- foreach and remove-each -------------------------------------------------------------

// The word argument of foreach and remove-each: its step, raising invalid-arg
// for an empty word block (only when empty_is_error).
std::int32_t word_step(const Cell& words_arg, bool empty_is_error) {
    if (!words_arg.is(TypeId::block)) return 1;
    const std::int32_t n = block::count_from_head(words_arg);
    if (n <= 0 && empty_is_error) runtime::raise_error(ErrorCategory::script, "invalid-arg", &words_arg);
    return n;
}

// Element i (0-based from the index) of series: the cell itself for block
// types, pick of position i + 1 for the others; none past the tail.
Cell element_at(const Cell& series, std::int32_t i) {
    if (is_block_type(series.type())) {
        const std::int32_t at = series.series_head() + i;
        const NodeId node = series.series_node();
        return at < tail_of(node) ? *cell_at(node, at) : none::value;
    }
    Cell s = series, index{};
    index.reset(TypeId::integer);
    index.set_int(i + 1);
    return *actions::lookup<Action::pick>(s)(&s, &index);
}

// Sets the words of one pass from series at its index (foreach points 4-5).
void set_pass_words(const Cell& series, const Cell& words_arg, std::int32_t n) {
    if (series.is(TypeId::map))  // a map! walks by entries, which it does not offer yet
        runtime::raise_error(ErrorCategory::internal, "not-done");
    if (!words_arg.is(TypeId::block)) {
        Cell w = words_arg;
        const Cell v = element_at(series, 0);
        context::set_word(w, v);
        return;
    }
    const NodeId wnode = words_arg.series_node();
    const std::int32_t whead = words_arg.series_head();
    const bool of_cells = is_block_type(series.type());
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell w = *cell_at(wnode, whead + i);
        const TypeId t = w.type();
        if (t != TypeId::word && t != TypeId::set_word && t != TypeId::get_word && t != TypeId::lit_word)
            runtime::raise_error(ErrorCategory::script, "invalid-arg", &w);
        if (of_cells && element_at(series, i).is(TypeId::unset))
            runtime::raise_error(ErrorCategory::script, "need-value", &w);
    }
    for (std::int32_t i = 0; i < n; ++i) {
        Cell w = *cell_at(wnode, whead + i);
        const Cell v = element_at(series, i);
        context::set_word(w, v);
    }
}

// foreach and remove-each share the walk: the private series two cells below
// the loop frame's base, the words one below.
void each(bool remove) {
    const Cell words_arg = *arg(0);
    const Cell series_arg = *arg(1);
    const Cell body = *arg(2);
    const std::int32_t n = word_step(words_arg, !remove);
    if (series_arg.is(TypeId::map) && !words_arg.is(TypeId::block))
        runtime::raise_error(ErrorCategory::script, "invalid-arg", &words_arg);
    stack::push(series_arg);
    stack::push(words_arg);
    Cell* const private_series = stack::top() - 2;
    push_loop();
    interpreter::LoopPasses passes;
    while (n > 0 && has_element(*private_series)) {
        set_pass_words(*private_series, words_arg, n);
        private_series->set_series_head(private_series->series_head() + n);
        const Pass p = run_pass(passes, body);
        if (p == Pass::left) return;
        if (p == Pass::broke) break;
        if (remove && p == Pass::done && !logic::false_result_q(*stack::base())) {
            Cell s = *private_series;
            s.set_series_head(s.series_head() - n);
            Cell part{};
            part.reset(TypeId::integer);
            part.set_int(n);
            const Cell kept = *stack::base();
            *private_series = *actions::lookup<Action::remove>(s)(&s, n == 1 ? nullptr : &part, nullptr);
            *stack::base() = kept;
        }
    }
    if (remove) stack::set_result_only(series_arg);
    end_loop();
}

// foreach over a map! walks its entries, not its cells: two words take the
// key and the value of each live entry; removed entries are skipped.
void each_entry() {
    const Cell words_arg = *arg(0);
    const Cell body = *arg(2);
    if (!words_arg.is(TypeId::block) || block::count_from_head(words_arg) != 2)
        runtime::raise_error(ErrorCategory::script, "invalid-arg", &words_arg);
    stack::push(*arg(1));
    stack::push(words_arg);
    Cell* const private_series = stack::top() - 2;
    push_loop();
    interpreter::LoopPasses passes;
    for (;;) {
        std::int32_t index = private_series->series_head();
        if (!map::set_words_from_entries(words_arg, *private_series, 2, index)) break;
        private_series->set_series_head(index);
        const Pass p = run_pass(passes, body);
        if (p == Pass::left) return;
        if (p == Pass::broke) break;
    }
    end_loop();
}

void foreach(bool, const std::int32_t*) {
    if (arg(1)->is(TypeId::map)) return each_entry();
    each(false);
}
void remove_each(bool, const std::int32_t*) { each(true); }

// --- forall -----------------------------------------------------------------------------

void forall(bool, const std::int32_t*) {
    Cell word = *arg(0);
    const Cell start = *context::get_word_cell(word);
    if (start.is(TypeId::unset)) runtime::raise_error(ErrorCategory::script, "no-value", &word);
    if (!forall_series_q(start.type())) {
        Cell fname, aname;
        word::make_kind_at(TypeId::word, "forall", fname);
        word::make_kind_at(TypeId::word, "word", aname);
        const Cell dt = datatype::of(start.type());
        runtime::raise_error(ErrorCategory::script, "expect-arg", &fname, &dt, &aname);
    }
    stack::push(start);  // the saved start keeps the series alive
    const Cell body = *arg(1);
    push_loop();
    interpreter::LoopPasses passes;
    for (;;) {
        if (!has_element(*context::get_word_cell(word))) break;
        const Pass p = run_pass(passes, body);
        if (p == Pass::left) return;
        if (p == Pass::broke) return end_loop();  // the word stays where it is
        Cell* now = context::get_word_cell(word);
        if (now->type() != start.type() || now->series_node() != start.series_node()) {
            const Cell changed = *now;
            runtime::raise_error(ErrorCategory::script, "bad-loop-series", &changed);
        }
        now->set_series_head(now->series_head() + 1);
    }
    context::set_word(word, start);
    end_loop();
}

}  // namespace

void register_control() {
    set(Native::if_, if_);
    set(Native::unless, unless);
    set(Native::either, either);
    set(Native::any, any);
    set(Native::all, all);
    set(Native::while_, while_);
    set(Native::until, until);
    set(Native::loop, loop);
    set(Native::repeat, repeat);
    set(Native::forever, forever);
    set(Native::foreach, foreach);
    set(Native::forall, forall);
    set(Native::remove_each, remove_each);
    set(Native::switch_, switch_);
    set(Native::case_, case_);
}

}  // namespace kiv::natives
