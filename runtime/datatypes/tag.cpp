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

constexpr registry::Inherit inherit = registry::inherit;

constexpr registry::Registration registration{TypeId::tag, registry::table({
        {Action::make,      inherit},
        {Action::reflect,   inherit},
        {Action::to,        inherit},
        {Action::form,      form},
        {Action::mold,      mold},
        {Action::eval_path, inherit},
        {Action::compare,   inherit},
        {Action::append,    inherit},
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
        {Action::put,       inherit},
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

}  // namespace kiv::tag
