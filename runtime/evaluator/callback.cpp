// Calls into language code from C++. The callee's frame sits above a cell of
// its own at the caller's top: what lies at the top may be a stale value of
// the caller's (one referring to a series collected since), which the
// collector must not find below the top while the callee runs.
#include "runtime/evaluator/callback.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"

#include <algorithm>
#include <exception>

namespace kiv::callback {

Cell call(const Cell& fn, const Cell* args, std::int32_t count, const Cell& name,
          std::uint32_t trace_mask, Cell* hand_back) {
    const stack::Mark mark;
    *stack::push_slot() = none::value;
    Cell* const base = stack::push_function_frame(&name, fn.code_entry());
    interpreter::push_slots(fn, args, count, name);
    interpreter::call_function(fn, context::global(), name, trace_mask);
    const Cell result = *base;
    if (hand_back != nullptr) {
        const std::int32_t slots = context::word_count(fn.code_entry());
        std::copy(base, base + std::min(count, slots), hand_back);
    }
    mark.restore();
    return result;
}

Outcome call_guarded(const Cell& fn, const Cell* args, std::int32_t count, const Cell& name) {
    Outcome out{false, Cell{}};
    out.ok = guarded([&] { out.value = call(fn, args, count, name); }, out.value);
    return out;
}

bool run_guarded(void (*body)(void*), void* context, Cell& error) {
    const stack::Mark mark;
    stack::push_barrier_frame(nullptr);
    try {
        body(context);
    } catch (const LanguageError& e) {
        error = e.error;
        if (!error.is(TypeId::error)) none::make_at(error);  // no error! could be built
        mark.restore();
        return false;
    } catch (const runtime::Thrown&) {  // a native catch frame's throw has no receiver here
        runtime::clear_thrown();
        none::make_at(error);
        mark.restore();
        return false;
    }
    mark.restore();
    return true;
}

}  // namespace kiv::callback
