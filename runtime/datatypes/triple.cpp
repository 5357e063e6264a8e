// triple!: its one text, "make triple! [a b c]", for form and mold alike.
#include "runtime/datatypes/triple.h"

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

#include <string>

namespace kiv::triple {

namespace {

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    std::string t = "make triple! [";
    for (int i = 0; i < 3; ++i) {
        if (i > 0) t += ' ';
        t += integer::to_decimal(value->triple_at(i));
    }
    t += ']';
    string::append_nul_text(out, t.c_str());
    return part - static_cast<std::int32_t>(t.size());
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part, std::int32_t) {
    return form(value, out, arg, part);
}

}  // namespace

void init() {
    static constexpr registry::Registration r{TypeId::triple, registry::table({
                                                  {Action::form, form},
                                                  {Action::mold, mold},  // ORDER ACTIONS
                                              })};
    registry::register_type(r);
}

}  // namespace kiv::triple
