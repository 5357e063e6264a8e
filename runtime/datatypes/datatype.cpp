// datatype!: form and mold read the type-name table; values compare equal
// only to the same type.
#include "runtime/datatypes/datatype.h"

#include "runtime/core/assert.h"
#include "runtime/core/buffer.h"
#include "runtime/datatypes/string.h"
#include "runtime/core/raise.h"

#include <cstring>

namespace kiv::datatype {

Cell* make_in(const Cell& blk, TypeId t) {
    Cell* cell = buffer::append_cell(blk.series_node());
    make_at(t, *cell);
    return cell;
}

void raise_bad_make_arg(TypeId t, const Cell& value) {
    Cell dt{};
    make_at(t, dt);
    runtime::raise_error(ErrorCategory::script, "bad-make-arg", &dt, &value);
}

namespace {

const registry::TypeName& name_of(const Cell& value) {
    const registry::TypeName& tn = registry::type_name(value.datatype_id());
    KIV_ASSERT(tn.name != nullptr, "a datatype! names a registered type");
    return tn;
}

}  // namespace

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    const registry::TypeName& tn = name_of(*value);
    string::append_bytes(out, reinterpret_cast<const std::uint8_t*>(tn.name), tn.length);
    return part - tn.length;
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell*, std::int32_t part,
                  std::int32_t) {
    const registry::TypeName& tn = name_of(*value);
    if (options.all) string::append_nul_text(out, "#(");
    string::append_nul_text(out, tn.name);
    if (options.all) string::append_nul_text(out, ")");
    return part - (tn.length + 1) - (options.all ? 3 : 0);
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_equality(op)) return not_comparable;
    return value2->is(TypeId::datatype) && value2->datatype_id() == value1->datatype_id() ? 0 : 1;
}

void init() {
    static constexpr registry::Registration r{TypeId::datatype, registry::table({
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::compare, compare},
                                              })};
    registry::register_type(r);
}

}  // namespace kiv::datatype
