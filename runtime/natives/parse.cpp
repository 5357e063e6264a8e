// The parse native: reads its arguments and refinements and hands the run to
// the engine (parse.h). A /part position of another series is an error here,
// before any rule runs.
#include "runtime/evaluator/natives.h"

#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/parse.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cstdint>

namespace kiv::natives {

namespace {

// parse input rules /case /part limit /trace callback
void parse_native(bool check, const std::int32_t* refinements) {
    const Cell input = *stack::arg(0);
    const Cell rules = *stack::arg(1);
    if (check) {
        if (!parse::is_input(input.type()))
            runtime::raise_error(ErrorCategory::script, "invalid-arg", &input);
        if (!rules.is(TypeId::block)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &rules);
    }
    namespace ref = refine::parse;
    const bool case_ = used(refinements, ref::case_);
    const std::int32_t head = std::max(input.series_head(), 0);
    std::int32_t limit = -1;
    if (used(refinements, ref::part)) {
        const Cell part = *stack::arg(refinements[ref::part]);
        if (part.is(TypeId::integer)) {
            limit = static_cast<std::int32_t>(std::clamp<std::int64_t>(
                static_cast<std::int64_t>(head) + part.int_value(), 0, INT32_MAX));
        } else if (part.type() == input.type() && part.series_node() == input.series_node()) {
            limit = std::max(part.series_head(), 0);
        } else {
            const Cell name = words::refinement(words::Ref::part);
            runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &name, &part);
        }
        if (limit - head < 1) {
            Cell whole = input;
            logic::make_at(*stack::arg(0), series::get_length(whole, false) == 0);
            stack::keep_first();
            return;
        }
    }
    const Cell* callback = used(refinements, ref::trace) ? stack::arg(refinements[ref::trace]) : nullptr;
    const Cell fn = callback != nullptr ? *callback : none::value;
    Cell result;
    parse::run(result, input, rules, case_, limit, fn.is(TypeId::function) ? &fn : nullptr);
    stack::set_result_only(result);
}

}  // namespace

void register_parse() { set(Native::parse, parse_native); }

}  // namespace kiv::natives
