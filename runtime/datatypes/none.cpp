// none!: the empty value; the series actions that accept it answer none.
#include "runtime/datatypes/none.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/string.h"

namespace kiv::none {

Cell* make_in(const Cell& blk) {
    Cell* cell = buffer::append_cell(blk.series_node());
    make_at(*cell);
    return cell;
}

Cell* to(Cell* proto, Cell*, TypeId) {
    make_at(*proto);
    return proto;
}

std::int32_t form(Cell*, NodeId out, Cell*, std::int32_t part) {
    string::append_nul_text(out, "none");
    return part - 4;
}

std::int32_t mold(Cell*, NodeId out, MoldOptions options, Cell*, std::int32_t part,
                  std::int32_t) {
    string::append_nul_text(out, options.all ? "#(none)" : "none");
    return part - (options.all ? 7 : 4);
}

std::int32_t compare(Cell*, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::none)) return not_comparable;
    return is_equality(op) || op == CompareOp::sort || op == CompareOp::case_sort ? 0
                                                                                  : not_comparable;
}

Cell* clear(Cell* v) {
    make_at(*v);
    return v;
}

Cell* find(Cell* series, Cell*, const FindRefinements&) { return clear(series); }

std::int32_t length_q(Cell*) { return -1; }

Cell* remove(Cell* v, Cell*, Cell*) { return clear(v); }

Cell* take(Cell* series, Cell*, bool, bool) { return clear(series); }

void init() {
    static constexpr registry::Registration r{TypeId::none, registry::table({
                                                  {Action::make, to},
                                                  {Action::to, to},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::compare, compare},
                                                  {Action::clear, clear},
                                                  {Action::find, find},
                                                  {Action::length_q, length_q},
                                                  {Action::remove, remove},
                                                  {Action::select, find},
                                                  {Action::take, take},
                                              })};
    registry::register_type(r);
}

}  // namespace kiv::none
