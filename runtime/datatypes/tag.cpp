// tag!: string! with "<" and ">" around its text in both form and mold.
#include "runtime/datatypes/tag.h"

#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"

namespace kiv::tag {

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part) {
    string::append_char(out, '<');
    part = string::form(value, out, arg, part - 1);
    string::append_char(out, '>');
    return part - 1;
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part,
                  std::int32_t) {
    return form(value, out, arg, part);
}

namespace {

constexpr registry::Registration registration{TypeId::tag, registry::table({
        {Action::random,    registry::refuse},
        {Action::form,      form},
        {Action::mold,      mold},
        {Action::sort,      registry::refuse},
        {Action::trim,      registry::refuse},
    })};

}  // namespace

void init() { registry::register_type(registration); }

}  // namespace kiv::tag
