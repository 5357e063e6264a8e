// Text kernels of the library: split, rejoin and the one-pass replace/all of
// texts. They do in one walk what the library once did value by value, with
// the same results; the text work itself is string_actions' (split,
// replace_all).
#include "runtime/evaluator/natives.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/stack.h"

namespace kiv::natives {
namespace {

using stack::arg;

bool series_type_q(TypeId t) {
    return is_any_block_type(t) || is_any_string_type(t) || t == TypeId::binary || t == TypeId::image ||
           t == TypeId::vector;
}

void split(bool check, const std::int32_t*) {
    const Cell series = *arg(0);
    const Cell delimiter = *arg(1);
    if (check) {
        if (!is_any_string_type(series.type())) expect_arg("split", series, "series");
        if (!delimiter.is(TypeId::string) && !delimiter.is(TypeId::char_) && !delimiter.is(TypeId::bitset))
            expect_arg("split", delimiter, "dlm");
    }
    Cell out{};
    string::split(series, delimiter, out);
    stack::set_result_only(out);
}

// rejoin: the reduced values joined onto a copy of the first when it is a
// series, else onto its form; an empty block comes back as it is.
void rejoin(bool check, const std::int32_t*) {
    if (check && !arg(0)->is(TypeId::block)) expect_arg("rejoin", *arg(0), "block");
    Cell* values = reduce_block(*arg(0));
    const std::int32_t n = block::count_from_head(*values);
    if (n <= 0) return stack::set_result_only(*values);
    Cell first = *block::first_cell(*values);
    if (series_type_q(first.type()) && !is_any_string_type(first.type())) {
        Cell* target = stack::push(first);
        *target = *actions::lookup<Action::copy>(first)(target, nullptr, false, nullptr);
        Cell* rest = stack::push(*values);
        rest->set_series_head(1);
        return stack::set_result_only(*actions::lookup<Action::append>(*target)(target, rest, -1, false, 1));
    }
    Cell* target = stack::push(first);
    if (is_any_string_type(first.type())) {
        *target = *actions::lookup<Action::copy>(first)(target, nullptr, false, nullptr);
    } else {
        string::make_at(*target, 16);
        actions::form_to(&first, target->series_node(), -1);
    }
    const NodeId out = target->series_node();
    for (std::int32_t i = 1; i < n; ++i) {
        Cell v = *block::get_cell(*values, i);
        actions::form_to(&v, out, -1);
    }
    stack::set_result_only(*target);
}

// replace-all* series pattern value case?: replace/all of a text pattern in a
// text by a value that is not a function; false when the text has an owner
// (the library then changes it match by match, so the owner hears of each).
void replace_all(Cell* args) {
    if (!is_any_string_type(args[0].type())) expect_arg("replace-all*", args[0], "series");
    if (!is_any_string_type(args[1].type())) expect_arg("replace-all*", args[1], "pattern");
    Cell series = args[0];
    const bool done = string::replace_all(series, args[1], args[2], !args[3].is(TypeId::none) &&
                                                                        !(args[3].is(TypeId::logic) && args[3].logic_value() == 0));
    logic::make_at(args[0], done);
}

}  // namespace

void register_text() {
    set(Native::split, split);
    set(Native::rejoin, rejoin);
    routine::add("replace-all*", replace_all);
}

}  // namespace kiv::natives
