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

constexpr registry::Inherit inherit = registry::inherit;

constexpr registry::Registration registration{TypeId::ref, registry::table({
        {Action::make,      inherit},
        {Action::reflect,   inherit},
        {Action::to,        inherit},
        {Action::form,      inherit},
        {Action::mold,      mold},
        {Action::eval_path, inherit},
        {Action::compare,   inherit},
        {Action::at,        inherit},
        {Action::back,      inherit},
        {Action::change,    inherit},
        {Action::clear,     inherit},
        {Action::copy,      inherit},
        {Action::find,      inherit},
        {Action::head,      inherit},
        {Action::head_q,    inherit},
        {Action::index_q,   inherit},
        {Action::insert,    inherit},
        {Action::length_q,  inherit},
        {Action::move,      inherit},
        {Action::next,      inherit},
        {Action::pick,      inherit},
        {Action::poke,      inherit},
        {Action::remove,    inherit},
        {Action::reverse,   inherit},
        {Action::select,    inherit},
        {Action::skip,      inherit},
        {Action::swap,      inherit},
        {Action::tail,      inherit},
        {Action::tail_q,    inherit},
        {Action::take,      inherit},
        {Action::modify,    inherit},  // ORDER ACTIONS
    })};

}  // namespace

void init() { registry::register_type(registration); }

}  // namespace kiv::ref
