// logic!: conversions, the truth tests, and the logic operators, which take a
// logic! second argument only.
#include "runtime/datatypes/logic.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/core/random.h"
#include "runtime/core/raise.h"

namespace kiv::logic {

namespace {

// Raises expect-arg for the operator named op when value2 is not a logic!.
void check_second(const char* op, Cell* value2) {
    if (value2->is(TypeId::logic)) return;
    Cell fn{};
    word::make_at(symbol::make(op), fn);
    Cell type{};
    type.reset(TypeId::datatype);
    type.set_datatype_id(value2->type());
    runtime::raise_error(ErrorCategory::script, "expect-arg", &fn, &type, value2);
}

}  // namespace

Cell* make_in(const Cell& blk, bool v) {
    Cell* cell = buffer::append_cell(blk.series_node());
    make_at(*cell, v);
    return cell;
}

bool true_value_q(const Cell& cell, bool check) {
    if (check && cell.is(TypeId::unset)) runtime::raise_error(ErrorCategory::script, "no-value", &cell);
    return !false_result_q(cell);
}

bool true_result_q(const Cell& result) {
    if (result.is(TypeId::unset)) runtime::raise_error(ErrorCategory::script, "no-return");
    return !false_result_q(result);
}

Cell* make(Cell* proto, Cell* spec, TypeId type) {
    switch (spec->type()) {
    case TypeId::integer:
        make_at(*proto, spec->int_value() != 0);
        return proto;
    case TypeId::float_:
    case TypeId::percent:
        make_at(*proto, spec->f64() != 0.0);  // NaN compares unequal: true
        return proto;
    default:
        return to(proto, spec, type);
    }
}

Cell* random(Cell* value, const RandomRefinements& how) {
    if (how.seed) {
        random::seed(value->logic_value());
        value->reset(TypeId::unset);
        return value;
    }
    make_at(*value, static_cast<std::int32_t>(random::draw(how.secure)) > 1073741823);
    return value;
}

Cell* to(Cell* proto, Cell* spec, TypeId) {
    if (spec->is(TypeId::logic)) make_at(*proto, spec->logic_value() == 1);
    else make_at(*proto, !spec->is(TypeId::none));
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    const bool v = value->logic_value() == 1;
    string::append_nul_text(out, v ? "true" : "false");
    return part - (v ? 4 : 5);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg, std::int32_t part,
                  std::int32_t) {
    if (!options.all) return form(value, out, arg, part);
    const bool v = value->logic_value() == 1;
    string::append_nul_text(out, v ? "#(true)" : "#(false)");
    return part - (v ? 7 : 8);
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::logic)) return not_comparable;
    if (!is_equality(op) && op != CompareOp::sort && op != CompareOp::case_sort)
        return not_comparable;
    return static_cast<std::int32_t>(value1->logic_value()) -
           static_cast<std::int32_t>(value2->logic_value());
}

Cell* and_(Cell* value1, Cell* value2) {
    check_second("and~", value2);
    value1->set_logic((value1->logic_value() & value2->logic_value()) != 0);
    return value1;
}

Cell* complement(Cell* value) {
    value->set_logic(value->logic_value() != 1);
    return value;
}

Cell* or_(Cell* value1, Cell* value2) {
    check_second("or~", value2);
    value1->set_logic((value1->logic_value() | value2->logic_value()) != 0);
    return value1;
}

Cell* xor_(Cell* value1, Cell* value2) {
    check_second("xor~", value2);
    value1->set_logic((value1->logic_value() ^ value2->logic_value()) != 0);
    return value1;
}

void init() {
    static constexpr registry::Registration r{TypeId::logic, registry::table({
                                                  {Action::make, make},
                                                  {Action::random, random},
                                                  {Action::to, to},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::compare, compare},
                                                  {Action::and_, and_},
                                                  {Action::complement, complement},
                                                  {Action::or_, or_},
                                                  {Action::xor_, xor_},
                                              })};
    registry::register_type(r);
}

}  // namespace kiv::logic
