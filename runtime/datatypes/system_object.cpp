// The system object's place in the root block and the walk down its fields.
#include "runtime/datatypes/system_object.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

#include <string>

namespace kiv::system_object {
namespace {

std::int32_t root_index = -1;  // root-block position of the system object, -1 before it

}  // namespace

void set(const Cell& value) {
    root_index = block::count_from_head(block::root());
    block::append_copy(block::root(), value);
    // system/words: the global context seen as an object, so that code whose
    // own words shadow a global one can still reach it (system/words/all).
    // Class -1 marks it as no made object's class.
    Cell words{};
    words.reset(TypeId::object);
    words.set_object(context::global(), static_cast<std::uint32_t>(-1), 0);
    *context::owner(context::global()) = words;
    set_field("words", words);
    // options/path starts as the process's directory, which it then drives
    const std::string dir = file::current_directory();
    Cell path{};
    string::make_at(path, static_cast<std::int32_t>(dir.size()));
    string::append_utf8(path.series_node(), dir.data(), static_cast<std::int32_t>(dir.size()));
    path.set_type(TypeId::file);
    set_field("options/path", path);
}

const Cell* get() {
    if (root_index < 0) return nullptr;
    return block::get_cell(block::root(), root_index);
}

Cell* field(std::string_view path) {
    const Cell* at = get();
    if (at == nullptr) return nullptr;
    Cell* value = nullptr;
    Cell current = *at;
    while (!path.empty()) {
        if (!current.is(TypeId::object)) return nullptr;
        const std::size_t slash = path.find('/');
        const std::string_view step = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        const NodeId ctx = current.object_context();
        const std::int32_t index = context::find_symbol(ctx, symbol::make(step), true);
        if (index < 0) return nullptr;
        value = context::value_at(ctx, index);
        current = *value;
    }
    return value;
}

bool set_field(std::string_view path, const Cell& value) {
    Cell* at = field(path);
    if (at == nullptr) return false;
    *at = value;
    return true;
}

}  // namespace kiv::system_object
