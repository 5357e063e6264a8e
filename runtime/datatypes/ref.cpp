// ref!: string! molded with a leading "@".
#include "runtime/datatypes/ref.h"

#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"

namespace kiv::ref {

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part,
                  std::int32_t) {
    string::append_char(out, '@');
    return string::form(value, out, arg, part - 1);
}

namespace {

constexpr registry::Registration registration{TypeId::ref, registry::table({
        {Action::random,    registry::refuse},
        {Action::mold,      mold},
        {Action::append,    registry::refuse},
        {Action::sort,      registry::refuse},
        {Action::trim,      registry::refuse},
    })};

}  // namespace

void init() { registry::register_type(registration); }

}  // namespace kiv::ref
