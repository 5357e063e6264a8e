// Tracing: raising events to the installed tracer. The tracer is called above
// the traced code's stack top and both stack tops are put back afterwards, so
// the traced code never sees it. A throw out of the tracer leaves tracing off.
#include "runtime/evaluator/tracing.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/callback.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"

namespace kiv::tracing {
namespace {

Cell* tracer_cell = nullptr;   // a fixed cell of its own: the root block's cells move
NodeId tracer_node = 0;

// The tracer's arguments: event, code, position, value, reference, stack span.
constexpr std::int32_t tracer_arguments = 6;

// The word of each event, in bit order (bit 0 first).
Cell event_word(std::uint32_t bit) {
    using words::Word;
    switch (static_cast<Event>(bit)) {
    case Event::init: return words::word(Word::init);
    case Event::end: return words::word(Word::end);
    case Event::prolog: return words::word(Word::prolog);
    case Event::epilog: return words::word(Word::epilog);
    case Event::enter: return words::word(Word::enter);
    case Event::exit: return words::word(Word::exit);
    case Event::open: return words::word(Word::open);
    case Event::return_: return words::word(Word::return_);
    case Event::fetch: return words::word(Word::fetch);
    case Event::push: return words::word(Word::push);
    case Event::set: return words::global(words::Global::set);
    case Event::call: return words::word(Word::call);
    case Event::error: return words::word(Word::error);
    case Event::throw_: return words::word(Word::throw_);
    case Event::catch_: return words::word(Word::catch_);
    case Event::expr: return words::word(Word::expr);
    }
    return none::value;
}

bool has_reference(Event e) {
    return e == Event::prolog || e == Event::epilog || e == Event::return_ || e == Event::set ||
           e == Event::call;
}

std::int32_t cells_of(NodeId node) {
    const SeriesBuffer* buf = memory::buffer(node);
    return static_cast<std::int32_t>((buf->tail - buf->head) / static_cast<std::ptrdiff_t>(sizeof(Cell)));
}

}  // namespace

void init() {
    Cell* c = block::make_fixed_in(nullptr, 1);
    tracer_node = c->series_node();
    tracer_cell = reinterpret_cast<Cell*>(memory::buffer(tracer_node)->head);
    *tracer_cell = none::value;
    state = State{};
}

Cell& tracer() { return *tracer_cell; }

void trace_event(Event e, NodeId code, std::int32_t pos, const Cell* reference, const Cell* value,
                 TypeId code_type) {
    if (!wanted(e) || !tracer_cell->is(TypeId::function)) return;
    const Cell fn = *tracer_cell;
    const std::uint32_t base_index = stack::index_of(stack::base());
    const std::uint32_t top_index = stack::index_of(stack::top());
    Cell args[tracer_arguments];
    args[0] = event_word(static_cast<std::uint32_t>(e));
    if (code != 0) {
        args[1].reset(code == state.typed_node ? state.typed_as : code_type);
        args[1].set_series_node(code);
    } else {
        args[1] = none::value;
    }
    args[2].reset(TypeId::integer);
    args[2].set_int(code != 0 && pos >= 0 && pos <= cells_of(code) ? pos : -1);
    args[3] = value != nullptr && !value->is(TypeId::unset) ? *value : none::value;
    args[4] = reference != nullptr && has_reference(e) ? *reference : none::value;
    args[5].reset(TypeId::pair);
    args[5].set_pair(static_cast<std::int32_t>(base_index), static_cast<std::int32_t>(top_index));

    struct Running {  // also when the tracer throws
        Running() { state.running = true; }
        ~Running() { state.running = false; }
    };
    state.on = false;  // stays off when the tracer throws
    {
        Running running;
        callback::call(fn, args, tracer_arguments, words::word(words::Word::interp_callback));
    }
    state.on = true;
}

std::uint32_t mask_of(const Cell& fn) {
    const Cell body = *function::extra_cell(fn, function::extra_body);
    if (!body.is(TypeId::block) || block::count_from_head(body) <= 0) return default_mask;
    Cell first = *block::get_cell(body, body.series_head());
    if (!first.is(TypeId::block) || block::count_from_head(first) <= 0) return default_mask;
    const Cell events = *block::get_cell(first, first.series_head());
    if (!events.is(TypeId::block)) return default_mask;
    std::uint32_t mask = 0;
    const std::int32_t n = block::count_from_head(events);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell w = *block::get_cell(events, events.series_head() + i);
        if (!w.is(TypeId::word)) continue;
        const symbol::SymbolId sym = symbol::resolve_alias(w.word_symbol());
        for (std::uint32_t bit = 1; bit <= static_cast<std::uint32_t>(Event::expr); bit <<= 1)
            if (symbol::resolve_alias(event_word(bit).word_symbol()) == sym) mask |= bit;
    }
    return mask;
}

bool install(const Cell& fn) {
    if (state.requested) return false;
    state.mask = mask_of(fn);
    *tracer_cell = fn;
    state.on = true;
    state.requested = true;
    trace_event(Event::init, 0, -1, nullptr, nullptr);
    return true;
}

void remove() {
    struct Clear {
        ~Clear() {
            *tracer_cell = none::value;
            state.on = false;
            state.requested = false;
        }
    } clear;
    trace_event(Event::end, 0, -1, nullptr, nullptr);
}

}  // namespace kiv::tracing
