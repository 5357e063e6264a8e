// The datatype registry: fills the type-name table and the action-handler
// table from the modules' registrations, in parents-first order, and checks
// each record's length. Handlers are stored erased and read back typed by slot.
#include "runtime/datatypes/registry.h"

#include "runtime/assert.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/pending.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/ref.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/platform.h"
#include "runtime/tracked_heap.h"

#include <cstdlib>
#include <cstring>

namespace kiv::registry {

namespace detail {
void table_error(const char* why) { KIV_ASSERT(false, why); }
}  // namespace detail

namespace {

constexpr int table_ids = 57;       // room for ids 0-56
constexpr int slots_per_type = 256; // slots 63-256 are reserved

TypeName* type_names = nullptr;
ErasedHandler* handlers = nullptr;
int highest = 0;

ErasedHandler& slot_of(TypeId t, int slot) {
    return handlers[static_cast<int>(t) * slots_per_type + slot - 1];
}

// The erased form of a handler entry (null for empty and inherit).
ErasedHandler erase(const Entry& e) {
    return std::visit(
        [](auto h) -> ErasedHandler {
            using H = decltype(h);
            if constexpr (std::is_same_v<H, std::monostate> || std::is_same_v<H, Inherit>) {
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
    highest = 0;
}

void register_type(const Registration& r, std::int32_t entry_count) {
    KIV_ASSERT(handlers != nullptr, "registry used before registry::init");
    const int id = static_cast<int>(r.type);
    KIV_ASSERT(id > 0 && id < table_ids, "type id outside the table");
    if (id > highest) highest = id;
    TypeName& tn = type_names[id];
    tn.name = r.name;
    tn.length = static_cast<std::int32_t>(std::strlen(r.name)) - 1;
    tn.word = Cell{};
    if (context::global() != 0) attach_name_word(r.type);  // a type registered after start-up

    if (entry_count - 3 != action_count) {
        platform::print_line({"*** Datatype Error: invalid actions count for type: ", id});
        platform::print_line({"*** Found: ", entry_count - 3});
        platform::print_line({"*** Expected: ", action_count});
        platform::flush();
        std::exit(0);
    }
    for (int k = 1; k <= action_count; ++k) {
        const Entry& e = r.actions[static_cast<std::size_t>(k - 1)];
        if (std::holds_alternative<Inherit>(e) && r.parent != TypeId::no_type) {
            slot_of(r.type, k) = slot_of(r.parent, k);
        } else {
            slot_of(r.type, k) = erase(e);
        }
    }
}

void register_all() {
    // Parents first: inheritance copies the parent's slots at registration.
    // Types of later modules take their place in this order as they arrive.
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();              // (series!)
    string::init();             // (series!)
    binary::init();             // (string!)
    integer::init();
    symbol::init();
    context::init();
    word::init();               // word! (symbol!)
    word::init_lit_word();      // (word!)
    word::init_set_word();      // (word!)
    word::init_get_word();      // (word!)
    word::init_refinement();    // (word!)
    char_::init();              // (integer!)
    native::init();
    action::init();             // (native!)
    op::init();                 // (native!)
    path::init();               // path! (block!), lit-, set-, get-path! (path!)
    function::init();           // (context!)
    routine::init();            // (function!)
    paren::init();              // (block!)
    issue::init();              // (word!)
    url::init();                // (string!)
    file::init();               // (url!)
    object::init();
    bitset::init();
    triple::init();
    float_::init();
    typeset::init();
    error::init();              // (object!)
    vector::init();             // (string!)
    map::init();
    hash::init();               // (block!)
    pair::init();
    percent::init();            // (float!)
    tuple::init();
    time::init();               // (float!)
    tag::init();                // (string!)
    email::init();              // (string!)
    handle::init();             // (integer!)
    date::init();
    port::init();               // (object!)
    money::init();
    ref::init();                // (string!)
    point::init();              // point2D!, point3D!
    image::init();              // (series!)
    // event! registers with the GUI.
    pending::init();            // a name and form, mold, equality for each of those not built yet
}

void init_type_words() {
    for (int id = 1; id <= highest; ++id) attach_name_word(static_cast<TypeId>(id));
}

const TypeName& type_name(TypeId t) {
    KIV_ASSERT(type_names != nullptr, "registry used before registry::init");
    return type_names[static_cast<int>(t)];
}

int highest_type() { return highest; }

ErasedHandler handler_slot(TypeId t, Action a) {
    return slot_of(t, static_cast<int>(a));
}

}  // namespace kiv::registry
