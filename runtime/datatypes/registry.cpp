// The datatype registry: fills the type-name table from runtime/types.table
// and the action-handler table from the modules' registrations, in
// parents-first order, and checks each record's length. Handlers are stored erased and read back typed by slot.
#include "runtime/datatypes/registry.h"

#include "generated/type_rows.h"
#include "runtime/core/assert.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/os/platform.h"
#include "runtime/core/tracked_heap.h"

#include <cstdlib>
#include <cstring>

namespace kiv {
#include "generated/type_modules.h"
}  // namespace kiv

namespace kiv::registry {

namespace detail {
void table_error(const char* why) { KIV_ASSERT(false, why); }
}  // namespace detail

namespace {

constexpr int table_ids = 57;       // room for ids 0-56
constexpr int slots_per_type = detail::slots_per_type;

TypeName* type_names = nullptr;
ErasedHandler*& handlers = detail::handlers;

ErasedHandler& slot_of(TypeId t, int slot) {
    return handlers[static_cast<int>(t) * slots_per_type + slot - 1];
}

// The erased form of a handler entry (null for not listed and refuse).
ErasedHandler erase(const Entry& e) {
    return std::visit(
        [](auto h) -> ErasedHandler {
            using H = decltype(h);
            if constexpr (std::is_same_v<H, std::monostate> || std::is_same_v<H, Refuse>) {
                return nullptr;
            } else {
                return reinterpret_cast<ErasedHandler>(h);
            }
        },
        e);
}

void attach_name_word(TypeId t) {
    TypeName& tn = type_names[static_cast<int>(t)];
    if (tn.name == nullptr) return;
    tn.word = *context::find_or_add_global_word(symbol::make(tn.name), true, false);
}

}  // namespace

void init() {
    const auto bytes = static_cast<std::int32_t>(sizeof(TypeName) * table_ids);
    type_names = static_cast<TypeName*>(runtime::alloc_tracked_zeroed(bytes));
    const auto handler_bytes =
        static_cast<std::int32_t>(sizeof(ErasedHandler) * table_ids * slots_per_type);
    handlers = static_cast<ErasedHandler*>(runtime::alloc_tracked_zeroed(handler_bytes));
    for (int id = 1; id < type_count; ++id) {
        const char* name = types::rows[static_cast<std::size_t>(id)].name;
        type_names[id].name = name;
        type_names[id].length = static_cast<std::int32_t>(std::strlen(name)) - 1;
    }
}

void register_type(const Registration& r, std::int32_t entry_count) {
    KIV_ASSERT(handlers != nullptr, "registry used before registry::init");
    const int id = static_cast<int>(r.type);
    KIV_ASSERT(id > 0 && id < type_count, "a type of runtime/types.table");
    if (entry_count - 3 != action_count) {
        platform::print_line({"*** Datatype Error: invalid actions count for type: ", id});
        platform::print_line({"*** Found: ", entry_count - 3});
        platform::print_line({"*** Expected: ", action_count});
        platform::flush();
        std::exit(0);
    }
    const TypeId parent = types::rows[static_cast<std::size_t>(id)].parent;
    for (int k = 1; k <= action_count; ++k) {
        const Entry& e = r.actions[static_cast<std::size_t>(k - 1)];
        KIV_ASSERT(parent != TypeId::no_type || !std::holds_alternative<Refuse>(e),
                   "a type without a parent has nothing to refuse");
        if (std::holds_alternative<std::monostate>(e) && parent != TypeId::no_type) {
            slot_of(r.type, k) = slot_of(parent, k);
        } else {
            slot_of(r.type, k) = erase(e);
        }
    }
}

void register_all() {
    for (auto* register_module : registration_order) register_module();
}

void init_type_words() {
    for (int id = 1; id < type_count; ++id) attach_name_word(static_cast<TypeId>(id));
}

const TypeName& type_name(TypeId t) {
    KIV_ASSERT(type_names != nullptr, "registry used before registry::init");
    return type_names[static_cast<int>(t)];
}

int highest_type() { return handlers != nullptr ? type_count - 1 : 0; }

}  // namespace kiv::registry
