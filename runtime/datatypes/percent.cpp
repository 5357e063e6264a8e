// percent!: its own text (the fraction times 100, then "%"); every other
// action is float!'s, copied at registration.
#include "runtime/datatypes/percent.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/string.h"

#include <cstring>

namespace kiv::percent {

Cell* make_in(const Cell& blk, double v) {
    Cell* cell = buffer::append_cell(blk.series_node());
    make_at(*cell, v);
    return cell;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    const char* t = float_::to_text(value->f64() * 100.0, float_::TextKind::percent);
    string::append_nul_text(out, t);
    return part - static_cast<std::int32_t>(std::strlen(t));
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part,
                  std::int32_t) {
    return form(value, out, arg, part);
}

void init() {
    static constexpr registry::Registration r{TypeId::percent, registry::table({
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                              })};  // ORDER ACTIONS
    registry::register_type(r);
}

}  // namespace kiv::percent
