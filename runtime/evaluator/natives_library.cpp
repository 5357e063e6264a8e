// Library routines that the system object's change handlers stand on: quiet
// assignment (no change notification), the process's current directory, the
// float text options and the collector's counters. Each checks its arguments
// itself, since routine callers may pass anything.
#include "runtime/evaluator/natives.h"

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/raise.h"

#include <string>

namespace kiv::natives {

namespace {

// Script error expect-arg: routine does not allow value's type for argument.
[[noreturn]] void expect_arg(const char* routine, const Cell& value, const char* argument) {
    Cell name{};
    word::make_kind_at(TypeId::word, routine, name);
    Cell type{};
    datatype::make_at(value.type(), type);
    Cell arg{};
    word::make_kind_at(TypeId::word, argument, arg);
    runtime::raise_error(ErrorCategory::script, "expect-arg", &name, &type, &arg);
}

bool truthy(const Cell& v) {
    return !v.is(TypeId::none) && !(v.is(TypeId::logic) && v.logic_value() == 0);
}

// set-quiet word value: stores value in the word's slot, with no change
// notification; the result is the value.
void set_quiet(Cell* args) {
    if (!word::is_any_word(args[0].type()) || args[0].is(TypeId::refinement))
        expect_arg("set-quiet", args[0], "word");
    *context::get_word_cell(args[0]) = args[1];
    args[0] = args[1];
}

// set-slot-quiet series value: overwrites the series' current cell, with no
// ownership notification; a series at its tail is left as it is.
void set_slot_quiet(Cell* args) {
    const Cell series = args[0];
    if (!is_any_block_type(series.type()) || series.is(TypeId::hash))
        expect_arg("set-slot-quiet", series, "series");
    if (block::count_from_head(series) > 0)
        *block::get_cell(series, series.series_head()) = args[1];
}

// set-current-dir path: makes path the process's current directory.
void set_current_dir(Cell* args) {
    if (!args[0].is(TypeId::file)) expect_arg("set-current-dir", args[0], "path");
    if (!platform::set_current_dir(file::to_local_path(args[0])))
        runtime::raise_error(ErrorCategory::access, "cannot-open", &args[0]);
}

// system/options/float/on-change* word old new: pretty? drives the float text.
void float_on_change(Cell* args) {
    if (!args[0].is(TypeId::word) && !args[0].is(TypeId::set_word)) return;
    if (symbol::name(args[0].word_symbol()) != "pretty?") return;
    const Cell* full = system_object::field("options/float/full?");
    float_::set_options(truthy(args[2]), full != nullptr && truthy(*full));
}

void gc_active_q(Cell* args) { logic::make_at(args[0], collector::enabled()); }

void integer_result(Cell* args, std::uint64_t n) {
    args[0].reset(TypeId::integer);
    args[0].set_int(static_cast<std::int32_t>(n & 0x7FFFFFFF));  // wraps rather than turns negative
}

void gc_series_cycles(Cell* args) { integer_result(args, collector::state.cycles); }
void gc_nodes_cycles(Cell* args) { integer_result(args, collector::state.node_cycles); }

}  // namespace

void register_library() {
    routine::add("set-quiet", set_quiet);
    routine::add("set-slot-quiet", set_slot_quiet);
    routine::add("set-current-dir", set_current_dir);
    routine::add("float-on-change*", float_on_change);
    routine::add("gc-active?", gc_active_q);
    routine::add("gc-series-cycles", gc_series_cycles);
    routine::add("gc-nodes-cycles", gc_nodes_cycles);
}

}  // namespace kiv::natives
