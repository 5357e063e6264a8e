// Stand-in registrations for the datatypes not built yet. The texts follow
// the lexer's notation, so a molded value loads back as the same value.
#include "runtime/datatypes/pending.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"

#include <algorithm>
#include <string>

namespace kiv::pending {

namespace {

std::int32_t append_text(NodeId out, const std::string& text) {
    string::append_nul_text(out, text.c_str());
    return static_cast<std::int32_t>(text.size());
}

// The text of a value of type t, between the delimiters its notation adds.
std::int32_t text_of(Cell* value, NodeId out) {
    switch (value->type()) {
    default:  // no value of the type can be made yet: name it
        return append_text(out, std::string("#(") + registry::type_name(value->type()).name + ")");
    }
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    return part - text_of(value, out);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell*, std::int32_t part,
                  std::int32_t) {
    return part - text_of(value, out);
}

// Equal when of the same type with the same content; no order yet.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_equality(op)) return not_comparable;
    if (value1->type() != value2->type()) return 1;
    switch (value1->type()) {
    default:
        // the type is the same; a tuple's length is the one header field that counts
        return value1->tuple_length() == value2->tuple_length() &&
                       value1->same_payload(*value2) ? 0 : 1;
    }
}

constexpr registry::ActionTable actions = registry::table({
    {Action::form,    form},
    {Action::mold,    mold},
    {Action::compare, compare},
});

struct Pending {
    TypeId type;
    TypeId parent;
    const char* name;
};

}  // namespace

void init() {
    static constexpr Pending types[] = {
        {TypeId::event, TypeId::no_type, "event!"},
    };
    for (const Pending& p : types) {
        if (registry::type_name(p.type).name != nullptr) continue;  // its module has landed
        registry::register_type(registry::Registration{p.type, p.parent, p.name, actions});
    }
}

}  // namespace kiv::pending
