// handle!: form, mold and compare of opaque machine values. The class only
// shows in mold/all; equality looks at the value alone.
#include "runtime/datatypes/handle.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace kiv::handle {

namespace {

// ORDER HANDLE-CLASSES
constexpr std::array<const char*, 6> class_names = {"null", "fd", "monitor", "window", "font",
                                                    "rich-text"};

std::int32_t append(NodeId out, const char* text) {
    string::append_nul_text(out, text);
    return static_cast<std::int32_t>(std::strlen(text));
}

}  // namespace

void make_at(Cell& cell, std::uint32_t value, Class class_id) {
    cell.reset(TypeId::handle);
    cell.set_handle(value, static_cast<std::uint32_t>(class_id));
}

Cell* make_in(const Cell& block, std::uint32_t value, Class class_id) {
    Cell c{};
    make_at(c, value, class_id);
    return block::append_copy(block, c);
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    char text[16];
    std::snprintf(text, sizeof text, "%08Xh", value->handle_value());
    return part - append(out, text);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg, std::int32_t part,
                  std::int32_t) {
    if (!options.all) return part - append(out, "handle!");
    part -= append(out, "#[handle! ");
    part = form(value, out, arg, part);
    const std::uint32_t c = value->handle_class();
    if (c > 0) {
        char name[16];
        if (c < class_names.size()) std::snprintf(name, sizeof name, " %s", class_names[c]);
        else std::snprintf(name, sizeof name, " %u", c);  // a class no name is known for
        part -= append(out, name);
    }
    return part - append(out, "]");
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp) {
    if (!value2->is(TypeId::handle)) return not_comparable;
    const auto a = static_cast<std::int32_t>(value1->handle_value());
    const auto b = static_cast<std::int32_t>(value2->handle_value());
    return a < b ? -1 : a > b ? 1 : 0;
}

namespace {

constexpr registry::Registration registration{TypeId::handle, registry::table({
        {Action::make,       registry::refuse},
        {Action::random,     registry::refuse},
        {Action::to,         registry::refuse},
        {Action::form,       form},
        {Action::mold,       mold},
        {Action::compare,    compare},
        {Action::absolute,   registry::refuse},
        {Action::add,        registry::refuse},
        {Action::divide,     registry::refuse},
        {Action::multiply,   registry::refuse},
        {Action::negate,     registry::refuse},
        {Action::power,      registry::refuse},
        {Action::remainder,  registry::refuse},
        {Action::round,      registry::refuse},
        {Action::subtract,   registry::refuse},
        {Action::even_q,     registry::refuse},
        {Action::odd_q,      registry::refuse},
        {Action::and_,       registry::refuse},
        {Action::complement, registry::refuse},
        {Action::or_,        registry::refuse},
        {Action::xor_,       registry::refuse},
    })};

}  // namespace

void init() { registry::register_type(registration); }

}  // namespace kiv::handle
