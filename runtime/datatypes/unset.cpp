// unset!: no payload; forms as nothing, molds as "unset", equal only to unset.
#include "runtime/datatypes/unset.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/string.h"

namespace kiv::unset {

Cell* make_in(const Cell& blk) {
    Cell* cell = buffer::append_cell(blk.series_node());
    make_at(*cell);
    return cell;
}

Cell* to(Cell* proto, Cell*, TypeId) {
    make_at(*proto);
    return proto;
}

std::int32_t form(Cell*, NodeId, Cell*, std::int32_t part) { return part; }

std::int32_t mold(Cell*, NodeId out, MoldOptions options, Cell*, std::int32_t part,
                  std::int32_t) {
    string::append_nul_text(out, options.all ? "#(unset)" : "unset");
    return part - (options.all ? 8 : 5);
}

std::int32_t compare(Cell*, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::unset)) return not_comparable;
    // Two unset values are equal and sort together; they have no order.
    return is_equality(op) || op == CompareOp::sort || op == CompareOp::case_sort ? 0
                                                                                  : not_comparable;
}

void init() {
    static constexpr registry::Registration r{TypeId::unset, registry::table({
                                                  {Action::make, to},
                                                  {Action::to, to},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::compare, compare},
                                              })};
    registry::register_type(r);
}

}  // namespace kiv::unset
