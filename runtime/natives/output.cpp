// The output, text and conversion natives. print and prin hand their text to
// the output hooks, which do all the writing; a block is reduced first, its
// values kept on the argument stack so that an error drops them with it.
#include "runtime/evaluator/natives.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/evaluator/tracing.h"
#include "runtime/io/lexer.h"
#include "runtime/core/memory.h"
#include "runtime/core/output_hooks.h"
#include "runtime/core/raise.h"

namespace kiv::natives {

namespace {

bool ended_with_line_feed = true;

// Index of the tail of a series value's buffer, in units.
std::int32_t tail_index(const Cell& series) {
    Cell from_start = series;
    from_start.set_series_head(0);
    return block::count_from_head(from_start);
}

// Reduces blk into a new block (print's join of formed values).
Cell reduce_block(const Cell& blk) {
    Cell* const start = stack::top();
    const NodeId code = blk.series_node();
    std::int32_t pos = blk.series_head();
    while (pos < tail_index(blk)) pos = interpreter::eval_next(code, pos, interpreter::to_tail, true);
    const auto count = static_cast<std::int32_t>(stack::top() - start);
    Cell reduced;
    block::make_at(reduced, count > 0 ? count : 1);
    for (std::int32_t i = 0; i < count; ++i) block::append_copy(reduced, start[i]);
    stack::set_top(start);
    return reduced;
}

// The body of print and prin.
void output(bool new_line) {
    Cell value = *stack::arg(0);
    if (value.is(TypeId::block)) value = reduce_block(value);
    Cell text;
    if (value.is(TypeId::string)) {
        text = value;
        string::head_pointer(text);  // clamps an index past the tail
    } else {
        string::make_at(text, 16);
        actions::form_to(&value, text.series_node(), -1);
    }
    *stack::arg(0) = text;  // kept on the stack while the hooks run
    output_hooks::call_print_hooks(&text, new_line);
    ended_with_line_feed = new_line;
    unset::make_at(*stack::arg(0));
    stack::keep_first();
}

void print(bool, const std::int32_t*) { output(true); }
void prin(bool, const std::int32_t*) { output(false); }

// uppercase and lowercase: a char! is changed, a text in place from its
// index up to the /part limit; the text's owner object is told.
void change_case(const std::int32_t* refinements, bool to_upper) {
    Cell* value = stack::arg(0);
    if (!value->is(TypeId::char_) && !is_any_string_type(value->type()))
        runtime::raise_error(ErrorCategory::script, "invalid-arg", value);
    const Cell* part = natives::used(refinements, 0) ? stack::arg(refinements[0]) : nullptr;
    string::change_case(*value, part, to_upper);
    stack::keep_first();
}

void uppercase(bool, const std::int32_t* refinements) { change_case(refinements, true); }
void lowercase(bool, const std::int32_t* refinements) { change_case(refinements, false); }

// The type a value stands for in `as`: a datatype!, else its own type.
TypeId target_type(const Cell& type) {
    return type.is(TypeId::datatype) ? static_cast<TypeId>(type.datatype_id()) : type.type();
}

// The family of types `as` converts within: 1 the lists and paths, 2 the
// text types, 0 none.
int as_family(TypeId t) {
    switch (t) {
    case TypeId::block: case TypeId::paren: case TypeId::path: case TypeId::lit_path:
    case TypeId::set_path: case TypeId::get_path:
        return 1;
    case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::tag:
    case TypeId::email: case TypeId::ref:
        return 2;
    default:
        return 0;
    }
}

void as(bool, const std::int32_t*) {
    const TypeId to = target_type(*stack::arg(0));
    Cell spec = *stack::arg(1);
    const int family = as_family(to);
    if (family == 0 || family != as_family(spec.type())) {
        Cell from;
        from.reset(TypeId::datatype);
        from.set_datatype_id(spec.type());
        Cell target;
        target.reset(TypeId::datatype);
        target.set_datatype_id(to);
        runtime::raise_error(ErrorCategory::script, "not-same-class", &from, &target);
    }
    spec.set_type(to);  // the same buffer, seen as the other type
    stack::set_result_only(spec);
}

void new_line(bool, const std::int32_t* refinements) {
    const Cell position = *stack::arg(0);
    const bool on = logic::true_value_q(*stack::arg(1), false);
    const bool all = used(refinements, refine::new_line::all);
    const bool skip = used(refinements, refine::new_line::skip);
    const std::int32_t head = position.series_head();
    const std::int32_t tail = tail_index(position);
    if (!all && !skip) {
        if (head < tail) block::get_cell(position, head)->set_new_line(on);
    } else {
        std::int32_t size = 1;
        if (skip) {
            const Cell* given = stack::arg(refinements[refine::new_line::skip]);
            size = given->int_value();
            if (size <= 0) runtime::raise_error(ErrorCategory::script, "out-of-range", given);
        }
        for (std::int32_t k = 0; head + k < tail; ++k)
            block::get_cell(position, head + k)->set_new_line((size == 1 || k % size == 0) == on);
    }
    stack::set_result_only(position);
}

void new_line_q(bool, const std::int32_t*) {
    const Cell position = *stack::arg(0);
    const std::int32_t head = position.series_head();
    const bool marked = head < tail_index(position) && block::get_cell(position, head)->new_line();
    Cell result;
    logic::make_at(result, marked);
    stack::set_result_only(result);
}

// transcode src /next /one /prescan /scan /part length /into dst /trace callback
void transcode(bool, const std::int32_t* refinements) {
    const Cell source = *stack::arg(0);
    lexer::TranscodeOptions options;
    namespace ref = refine::transcode;
    options.next = used(refinements, ref::next);
    options.one = used(refinements, ref::one);
    options.prescan = used(refinements, ref::prescan);
    options.scan = used(refinements, ref::scan);
    if (used(refinements, ref::part)) options.part = stack::arg(refinements[ref::part]);
    if (used(refinements, ref::into)) options.into = stack::arg(refinements[ref::into]);
    if (used(refinements, ref::trace)) options.trace = stack::arg(refinements[ref::trace]);
    Cell result;
    lexer::transcode(result, source, options);
    stack::set_result_only(result);
}

}  // namespace

bool last_line_feed() { return ended_with_line_feed; }

void register_output() {
    set(Native::print, print);
    set(Native::prin, prin);
    set(Native::uppercase, uppercase);
    set(Native::lowercase, lowercase);
    set(Native::new_line, new_line);
    set(Native::new_line_q, new_line_q);
    set(Native::as, as);
    set(Native::transcode, transcode);
}

}  // namespace kiv::natives
