// The natives that make functions, evaluate code given as data, read and set
// words, build blocks by evaluation, bind words, call functions on argument
// lists, and leave code early. Exits unwind the stacks first (stack.h) and are
// handed over as pending exits where the interpreter polls; language errors
// travel as LanguageError, unwound to the `try` frame that receives them.
#include "runtime/evaluator/natives.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/evaluator/tracing.h"
#include "runtime/io/lexer.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace kiv::natives {
namespace {

using stack::arg;

// --- Helpers -----------------------------------------------------------------------

using block::cell_at;
using block::tail_of;

inline bool is_function_type(TypeId t) {
    return t == TypeId::native || t == TypeId::action || t == TypeId::function ||
           t == TypeId::routine || t == TypeId::op;
}
inline bool is_settable_word(TypeId t) {
    return t == TypeId::word || t == TypeId::set_word || t == TypeId::get_word || t == TypeId::lit_word;
}

// A block value with its index pulled back to its tail.
Cell clamped(const Cell& blk) {
    Cell c = blk;
    const std::int32_t tail = tail_of(c.series_node());
    if (c.series_head() > tail) c.set_series_head(tail);
    return c;
}

// --- Function makers -------------------------------------------------------------

// func's work once the spec is settled: validate, make, return the function.
void make_function(const Cell& spec_in, const Cell& body_in) {
    const Cell spec = clamped(spec_in);
    const Cell body = clamped(body_in);
    const std::uint32_t flags = function::validate_spec(spec);
    Cell fn{};
    function::make_at(fn, spec, &body, 0, 0, 0, flags);
    stack::set_result_only(fn);
}

void func(bool, const std::int32_t*) { make_function(*arg(0), *arg(1)); }

void function_(bool, const std::int32_t*) {
    const Cell body = clamped(*arg(1));
    Cell spec{};
    block::clone(spec, clamped(*arg(0)), false, false);
    stack::push(spec);  // kept on the stack while the locals are collected
    Cell collected{};
    function::collect_locals(*(stack::top() - 1), body, collected);
    spec = *(stack::top() - 1);
    make_function(spec, body);
}

void does(bool, const std::int32_t*) {
    Cell spec{};
    block::make_at(spec, 1);
    stack::push(spec);
    make_function(spec, *arg(0));
}

void has(bool, const std::int32_t*) {
    Cell spec{};
    block::clone(spec, clamped(*arg(0)), false, false);
    stack::push(spec);
    block::insert_value(*(stack::top() - 1), words::refinement(words::Ref::local), true, false);
    make_function(*(stack::top() - 1), *arg(1));
}

// --- do ----------------------------------------------------------------------------

// Removes the tracer `do/trace` installed, also when the evaluation leaves by a throw.
// An error the tracer raises at the end event passes on, unless an error is
// already on its way out: that one goes on and the tracer's is dropped.
class TracerScope {
public:
    explicit TracerScope(bool installed)
        : installed_(installed), unwinding_(std::uncaught_exceptions()) {}
    ~TracerScope() noexcept(false) {
        if (!installed_) return;
        if (std::uncaught_exceptions() == unwinding_) {
            tracing::remove();
            return;
        }
        // The error on its way out has set the stacks for its receiver: an
        // error of the tracer would reset them and replace its value there.
        const stack::Mark mark;
        const std::vector<Cell> cells(stack::base(), stack::top());
        try {
            tracing::remove();
        } catch (...) {
            mark.restore();
            std::copy(cells.begin(), cells.end(), stack::base());
        }
    }
    TracerScope(const TracerScope&) = delete;
    TracerScope& operator=(const TracerScope&) = delete;

private:
    bool installed_;
    int unwinding_;
};

// Calls a library function through a call written as text, whose `()`
// placeholders take values in order (each follows `quote`, so it arrives
// unevaluated). into_caller: its value becomes the native's result.
void call_library(std::string_view text, std::initializer_list<Cell> values, bool into_caller) {
    Cell call{};
    lexer::ScanRequest request;
    lexer::scan(&call, reinterpret_cast<const std::uint8_t*>(text.data()),
                static_cast<std::int32_t>(text.size()), request, nullptr);
    stack::push(call);
    const NodeId node = call.series_node();
    auto value = values.begin();
    for (std::int32_t i = call.series_head(); i < tail_of(node) && value != values.end(); ++i) {
        if (cell_at(node, i)->is(TypeId::paren)) *cell_at(node, i) = *value++;
    }
    interpreter::eval_block(call, into_caller);
}

void do_(bool, const std::int32_t* refinements) {
    namespace ref = refine::do_;
    Cell value = *arg(0);
    const bool expand = used(refinements, ref::expand);
    bool installed = false;
    if (used(refinements, ref::trace)) {
        const Cell tracer = *arg(refinements[ref::trace]);
        installed = tracing::install(tracer);
        if (installed) tracing::state.on = true;
    }
    TracerScope tracer_scope(installed);
    switch (value.type()) {
    case TypeId::string: {
        Cell loaded{};
        lexer::ScanRequest request;
        lexer::scan_string(&loaded, value, -1, request, nullptr);
        *arg(0) = loaded;  // kept in the argument cell while it runs
        value = loaded;
        [[fallthrough]];
    }
    case TypeId::block:
    case TypeId::paren:
    case TypeId::hash: {
        value = clamped(value);
        value.set_type(TypeId::block);
        if (expand) call_library("preprocessor/expand quote () none", {value}, false);
        if (used(refinements, ref::next)) {
            Cell position = *arg(refinements[ref::next]);
            const std::int32_t next = interpreter::do_next(value);
            Cell rest = value;
            rest.set_series_head(next);
            const Cell result = *stack::base();
            context::set_word(position, rest);
            stack::set_result_only(result);
            return;
        }
        if (installed) return interpreter::eval_block(value, true);  // exits raised past the tracer
        return interpreter::eval_block_tail(value, true);
    }
    case TypeId::path:
    case TypeId::lit_path:
    case TypeId::get_path:
        interpreter::eval_path(value, 0, 0, 0, {}, nullptr);
        return;
    case TypeId::error:
        runtime::raise_error_value(value);
    case TypeId::file:
    case TypeId::url:
        call_library("do-file quote () none quote ()",
                     {value, used(refinements, ref::args) ? *arg(refinements[ref::args]) : none::value},
                     true);
        return;
    default: {
        // One value as an expression: a word is fetched, a function called.
        Cell code{};
        block::make_at(code, 1);
        stack::push(code);
        block::append_copy(code, value);
        interpreter::eval_block(code, true);
        return;
    }
    }
}

// --- get and set ---------------------------------------------------------------------

void get(bool, const std::int32_t* refinements) {
    const Cell target = *arg(0);
    if (word::is_any_word(target.type())) {
        const Cell value = *context::get_word_cell(target);
        if (value.is(TypeId::unset) && !used(refinements, refine::get::any))
            runtime::raise_error(ErrorCategory::script, "no-value", &target);
        return stack::set_result_only(value);
    }
    if (path::is_path_type(target.type())) {
        interpreter::eval_path(target, 0, 0, 0, {.get = true}, nullptr);
        return;
    }
    // An object! gives the block of its values, as its reflect does.
    Cell field{};
    word::make_at(words::id(words::Sym::values), field);
    Cell* const result = arg(0);
    stack::set_result_only(*actions::lookup<Action::reflect>(*result)(result, &field));
}

// set of a block of words (inside a call frame, as the errors name it).
void set_words(const Cell& targets, const Cell& value, object::SetOptions options) {
    stack::push_call_frame(&words::word(words::Word::anon));
    const NodeId wnode = targets.series_node();
    const std::int32_t whead = targets.series_head();
    const bool spread = value.is(TypeId::block) && !options.only;
    auto value_at = [&](std::int32_t i) -> Cell {
        if (!spread) return value;
        const std::int32_t at = value.series_head() + i;
        return at < tail_of(value.series_node()) && at >= 0 ? *cell_at(value.series_node(), at)
                                                             : none::value;
    };
    for (std::int32_t i = 0; whead + i < tail_of(wnode); ++i) {
        const Cell w = *cell_at(wnode, whead + i);
        if (!is_settable_word(w.type())) runtime::raise_error(ErrorCategory::script, "invalid-arg", &w);
        if (!options.any && value_at(i).is(TypeId::unset))
            runtime::raise_error(ErrorCategory::script, "need-value", &w);
    }
    for (std::int32_t i = 0; whead + i < tail_of(wnode); ++i) {
        Cell w = *cell_at(wnode, whead + i);
        const Cell v = value_at(i);
        if (options.some && v.is(TypeId::none)) continue;
        context::set_word(w, v);
    }
    stack::pop_frame_reset();
}

// Named apart from the table's set().
void set_(bool, const std::int32_t* refinements) {
    namespace ref = refine::set;
    const Cell target = *arg(0);
    const Cell value = *arg(1);
    const object::SetOptions options{.any = used(refinements, ref::any),
                                     .only = used(refinements, ref::only),
                                     .some = used(refinements, ref::some)};
    if (word::is_any_word(target.type())) {
        if (!options.any && value.is(TypeId::unset))
            runtime::raise_error(ErrorCategory::script, "need-value", &target);
        Cell w = target;
        context::set_word(w, value);
    } else if (path::is_path_type(target.type())) {
        if (!options.any && value.is(TypeId::unset))
            runtime::raise_error(ErrorCategory::script, "need-value", &target);
        stack::push(target);      // the path stays rooted while it is walked
        *stack::base() = value;  // a set-mode path stores the result slot
        interpreter::eval_path(target, 0, 0, 0, {.set = true, .sub = true}, nullptr);
    } else if (target.is(TypeId::block)) {
        set_words(target, value, options);
    } else {  // object!: its fields, one by one or from a block or object
        if (!options.any && value.is(TypeId::unset))  // one value for every field: all would be unset
            runtime::raise_error(ErrorCategory::script, "need-value", &target);
        Cell obj = target;
        object::set_fields(obj, value, options);
    }
    stack::set_result_only(value);
}

// --- reduce and compose ---------------------------------------------------------------

// The output of reduce and compose: the /into block or a new one, kept on the
// argument stack so the collector sees it and its index can move there. An
// output at its tail is appended to (its index stays), else values are
// inserted at its index, which moves past each.
struct Output {
    Cell* cell;
    bool append;
};

Output make_output(const std::int32_t* refinements, std::int32_t into, std::int32_t n) {
    if (used(refinements, into)) {
        Cell* out = stack::push(*arg(refinements[into]));
        return {out, block::at_tail_q(*out)};
    }
    Cell out{};
    block::make_at(out, n < 1 ? 1 : n);
    return {stack::push(out), true};
}

void emit(const Output& out, const Cell& value) {
    if (out.append) block::append_copy(*out.cell, value);
    else block::insert_value(*out.cell, value, false, true);
}

// Emits the value of each expression of blk (from its head) to out.
void reduce_values(const Cell& blk, const Output& out) {
    stack::push_call_frame(&words::word(words::Word::body));
    const NodeId code = blk.series_node();
    std::int32_t pos = blk.series_head();
    while (pos < tail_of(code)) {
        stack::reset();
        pos = interpreter::eval_next(code, pos, interpreter::to_tail, true);
        Cell v = *(stack::top() - 1);
        v.set_new_line(false);
        emit(out, v);
    }
    stack::pop_frame_reset();
}

void reduce(bool, const std::int32_t* refinements) {
    const Cell value = *arg(0);
    const bool into = used(refinements, refine::reduce::into);
    if (!value.is(TypeId::block)) {
        if (is_function_type(value.type())) return stack::set_result_only(value);
        const Output out = into ? make_output(refinements, refine::reduce::into, 0) : Output{nullptr, true};
        Cell code{};
        block::make_at(code, 1);
        stack::push(code);
        block::append_copy(code, value);
        interpreter::eval_block(code, false);
        Cell result = *(stack::top() - 1);
        if (!into) return stack::set_result_only(result);
        result.set_new_line(false);
        emit(out, result);
        return stack::set_result_only(*out.cell);
    }
    const Cell blk = clamped(value);
    const Output out = make_output(refinements, refine::reduce::into, block::count_from_head(blk));
    reduce_values(blk, out);
    stack::set_result_only(*out.cell);
}

// Composes the cells of src from its index into out (see compose).
void compose_into(const Cell& src, const Output& out, bool deep, bool only) {
    const NodeId code = src.series_node();
    for (std::int32_t i = src.series_head(); i < tail_of(code); ++i) {
        const Cell c = *cell_at(code, i);
        if (c.is(TypeId::block) && deep) {
            const Output inner = make_output(nullptr, 0, block::count_from_head(c));
            compose_into(c, inner, true, only);
            Cell copy = *inner.cell;
            copy.set_new_line(c.new_line());
            stack::pop(1);
            emit(out, copy);
        } else if (c.is(TypeId::paren)) {
            if (block::count_from_head(c) <= 0) continue;  // an empty paren is dropped
            Cell* const top = stack::top();
            interpreter::eval_block(c, false);
            const Cell r = *(stack::top() - 1);
            stack::set_top(top);
            if (r.is(TypeId::unset)) continue;
            if (r.is(TypeId::block) && !only) {
                const NodeId rnode = r.series_node();
                for (std::int32_t j = r.series_head(); j < tail_of(rnode); ++j) {
                    const Cell e = *cell_at(rnode, j);
                    emit(out, e);
                }
            } else {
                emit(out, r);
            }
        } else {
            emit(out, c);
        }
    }
}

void compose(bool, const std::int32_t* refinements) {
    namespace ref = refine::compose;
    const Cell value = *arg(0);
    if (!value.is(TypeId::block)) {
        const Cell expected = datatype::of(TypeId::block);
        const Cell got = datatype::of(value.type());
        runtime::raise_error(ErrorCategory::script, "expect-val", &expected, &got);
    }
    const Cell blk = clamped(value);
    const Output out = make_output(refinements, ref::into, block::count_from_head(blk));
    compose_into(blk, out, used(refinements, ref::deep), used(refinements, ref::only));
    if (out.cell->is(TypeId::hash)) hash::reindex(*out.cell);  // the cells went in behind its index
    stack::set_result_only(*out.cell);
}

// --- bind and in ---------------------------------------------------------------------

// The context of an object!, error!, port!, function! or routine!; 0 for others.
NodeId context_of(const Cell& v) {
    switch (v.type()) {
    case TypeId::object:
    case TypeId::error:
    case TypeId::port:
        return v.object_context();
    case TypeId::function:
    case TypeId::routine:
        return v.code_entry();
    default:
        return 0;
    }
}

void bind(bool, const std::int32_t* refinements) {
    const Cell target = *arg(0);
    const Cell ctx_arg = *arg(1);
    const NodeId ctx = word::is_any_word(ctx_arg.type()) ? ctx_arg.word_context() : context_of(ctx_arg);
    if (ctx == 0) runtime::raise_error(ErrorCategory::script, "invalid-arg", &ctx_arg);
    if (word::is_any_word(target.type())) {
        Cell w = target;
        context::bind_word(ctx, w);
        return stack::set_result_only(w);
    }
    Cell blk = target;
    if (used(refinements, refine::bind::copy)) {
        Cell copy{};
        block::clone(copy, target, true, true);
        blk = *stack::push(copy);
    }
    context::bind_block(blk, ctx, ctx_arg.is(TypeId::object));
    stack::set_result_only(blk);
}

void in(bool, const std::int32_t*) {
    const Cell obj = *arg(0);
    Cell w = *arg(1);
    const NodeId ctx = context_of(obj);
    if (ctx == 0 || context::bind_word(ctx, w) < 0) return stack::set_result_only(none::value);
    if (w.is(TypeId::refinement)) w.set_type(TypeId::word);
    stack::set_result_only(w);
}

void construct(bool, const std::int32_t* refinements) {
    namespace ref = refine::construct;
    const Cell spec = clamped(*arg(0));
    const Cell* proto = used(refinements, ref::with) ? arg(refinements[ref::with]) : nullptr;
    const Cell obj = object::push_from_spec(proto, spec, used(refinements, ref::only));
    stack::set_result_only(obj);
}

// --- apply -----------------------------------------------------------------------------

void apply(bool, const std::int32_t* refinements) {
    // refinements: 0 /all, 1 /safer
    const Cell target = *arg(0);
    const Cell args = clamped(*arg(1));
    Cell fn = target;
    Cell name = words::word(words::Word::applied);
    const Cell* path = nullptr;
    if (word::is_any_word(target.type())) {
        name = target;
        name.set_type(TypeId::word);
        fn = *context::get_word_cell(target);
    } else if (path::is_path_type(target.type())) {
        const NodeId pnode = target.series_node();
        const std::int32_t head = target.series_head();
        if (head >= tail_of(pnode) || !cell_at(pnode, head)->is(TypeId::word))
            runtime::raise_error(ErrorCategory::script, "invalid-arg", &target);
        name = *cell_at(pnode, head);
        fn = *context::get_word_cell(name);
        path = arg(0);
    }
    if (!is_function_type(fn.type())) runtime::raise_error(ErrorCategory::script, "invalid-arg", &target);
    if (fn.is(TypeId::op)) {  // called as the value it was made from
        const TypeId source = fn.op_source();
        if (source == TypeId::function || source == TypeId::routine) fn = *function::extra_cell(fn, function::extra_op);
        else fn.set_type(source);
    }
    stack::push(fn);  // keeps it alive through the call
    std::uint32_t mode = used(refinements, refine::apply::all) ? interpreter::apply_positional
                                                               : interpreter::apply_named;
    if (used(refinements, refine::apply::safer)) mode |= interpreter::apply_one_value;
    interpreter::call_value(fn, args.series_node(), args.series_head(), interpreter::to_tail, false,
                            path, &name, nullptr, mode, false);
}

// --- try and catch -----------------------------------------------------------------------

void try_(bool, const std::int32_t* refinements) {
    const Cell body = *arg(0);
    const Cell& label = words::word(words::Word::try_);
    if (used(refinements, refine::try_::all)) stack::push_barrier_frame(&label);
    else stack::push_try_frame(&label);
    stack::set_poll_flag();  // exits that pass a plain try stay cheap
    stack::Frame* const frame = stack::top_frame();
    try {
        interpreter::eval_block_tail(body, true);
        if (interpreter::exit_pending() != 0) return;  // passes on: the stacks lie below us
    } catch (const LanguageError& e) {
        // The error's route left our frame on top with the error at its base;
        // an error thrown past the route (none installed) leaves more frames.
        stack::pop_above(frame);
        if (!e.error.is(TypeId::error)) throw;  // no error! to give: a fault of the raise path
        Cell err = e.error;
        collector::Root keep(err);
        if (used(refinements, refine::try_::keep)) error::fill_stack_trace(keep.cell());
        stack::set_result_only(keep.cell());
    }
    stack::keep_first();
    stack::return_result();
}

// True when the thrown name matches the /name argument of catch; a block
// holding other values than words raises invalid-refine-arg.
bool name_matches(const Cell& names, const Cell& thrown) {
    const int taken = stack::names_take(names, thrown);
    if (taken < 0) {
        Cell refinement_word;
        word::make_kind_at(TypeId::word, "name", refinement_word);
        runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &refinement_word, &names);
    }
    return taken == 1;
}

// A throw goes to the nearest catch that takes its name (stack::unwind_throw);
// those it passes, like the exits of other kinds, are passed on.
void catch_(bool, const std::int32_t* refinements) {
    const Cell body = *arg(0);
    const bool named = used(refinements, refine::catch_::name);
    stack::push_catch_frame(&words::word(words::Word::body), named ? arg(refinements[refine::catch_::name]) : nullptr);
    const stack::Frame* const own = stack::top_frame();
    stack::set_poll_flag();
    const std::uint32_t caught = runtime::catch_throws(runtime::thrown_throw, [&] {
        interpreter::eval_block_tail(body, true);
    });
    const std::uint32_t exit = caught != 0 ? caught : interpreter::exit_pending();
    if (exit != 0 && (exit != runtime::thrown_throw || stack::top_frame() != own)) {
        if (caught != 0) runtime::unwind_to_catch();  // not ours: pass it on
        return;                                       // pending: not ours
    }
    if (exit == runtime::thrown_throw) {
        if (caught != 0) runtime::clear_thrown();
        else interpreter::clear_exit();
        // The unwinding left the thrown value and its name at our frame's base.
        const Cell value = stack::base()[0];
        const Cell name = stack::base()[1];
        stack::pop_frame_reset();
        if (named) name_matches(*arg(refinements[refine::catch_::name]), name);  // names that are no words raise
        stack::clear_throw_start();  // received: the next error's where is its own
        stack::set_result_only(value);
        tracing::trace(tracing::Event::catch_, 0, -1, nullptr, &value);
        return;
    }
    stack::keep_first();
    stack::return_result();
}

// --- Exits --------------------------------------------------------------------------------

void break_(bool, const std::int32_t* refinements) {
    interpreter::hand_over_exit(stack::unwind_break(used(refinements, refine::break_::return_), false));
}

void continue_(bool, const std::int32_t*) {
    interpreter::hand_over_exit(stack::unwind_break(false, true));
}

void exit(bool, const std::int32_t*) { interpreter::hand_over_exit(stack::unwind_return(false)); }

void return_(bool, const std::int32_t*) { interpreter::hand_over_exit(stack::unwind_return(true)); }

void throw_(bool, const std::int32_t* refinements) {
    tracing::trace(tracing::Event::throw_, 0, -1, nullptr, arg(0));
    if (!used(refinements, refine::throw_::name)) *arg(1) = unset::value;  // an unnamed throw
    stack::set_top(arg(2));
    interpreter::hand_over_exit(stack::unwind_throw(runtime::thrown_throw));
}

}  // namespace

Cell* reduce_block(const Cell& blk) {
    Cell out{};
    block::make_at(out, block::count_from_head(blk));
    const Output o{stack::push(out), true};
    reduce_values(clamped(blk), o);
    return o.cell;
}

void register_eval() {
    set(Native::func, func);
    set(Native::function, function_);
    set(Native::does, does);
    set(Native::has, has);
    set(Native::do_, do_);
    set(Native::get, get);
    set(Native::set, set_);
    set(Native::reduce, reduce);
    set(Native::compose, compose);
    set(Native::bind, bind);
    set(Native::in, in);
    set(Native::construct, construct);
    set(Native::apply, apply);
    set(Native::try_, try_);
    set(Native::catch_, catch_);
    set(Native::break_, break_);
    set(Native::continue_, continue_);
    set(Native::exit, exit);
    set(Native::return_, return_);
    set(Native::throw_, throw_);
}

}  // namespace kiv::natives
