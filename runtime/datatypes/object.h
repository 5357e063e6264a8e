// object!: a context with an identity. The cell holds the context node, a
// class id (objects of one shape share it) and the node of the change-handler
// record (two pair!-tagged cells naming the on-change* and on-deep-change*
// fields), or 0. Cell 1 of the context (its owner cell) always holds the
// object itself: `self`. error! and port! share this payload and inherit.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::object {

// Registers object! (type 32, no parent) and installs the change hooks of
// context.h and ownership.h.
void init();

// A new class id (the process-wide counter plus 1; the first is 1).
std::int32_t new_class_id();
// Makes every class id to come higher than highest (the classes of objects
// a boot image brought).
void reserve_class_ids(std::int32_t highest);

// --- Field access --------------------------------------------------------------

// Index of the word's symbol (canonical lookup) in the object, -1 when absent.
std::int32_t find_word_index(const Cell& obj, const Cell& word);
// The field's value cell, or the shared none cell. Valid until the next allocation.
const Cell* get_word_field(const Cell& obj, const Cell& word);
// Number of fields.
std::int32_t count_words(const Cell& obj);
// True when field index of ctx holds an object! of the class id.
bool slot_holds_class_q(NodeId ctx, std::int32_t index, std::int32_t class_id);

// --- Making --------------------------------------------------------------------

// Turns cell into a new empty object with room for n words, class id 0, and
// stores it as its context's self.
void make_at(Cell& cell, std::int32_t n);
// Makes an object as `make object! spec` does: proto (an object!, or null)
// is copied, then the spec block's set-words become fields and the spec is
// evaluated in the new object. An object! spec adds its fields. Any other
// spec raises syntax error malconstruct. The result is not rooted: the caller
// roots it before anything else may collect.
Cell make_from_spec(const Cell* proto, const Cell& spec);
// `construct`: fields from the spec's set-words, each taking the value after
// its run of set-words, unevaluated; unless raw, true/yes/on, false/no/off and
// none become logic! and none! values. proto: an object! to start from, or null.
Cell push_from_spec(const Cell* proto, const Cell& spec, bool raw);
// Builds (or drops) the object's change-handler record from its fields and
// stores the object as self. Raises bad-field-set for a handler field that
// holds no function.
void install_change_handlers(Cell& obj);
// install_change_handlers into the two-cell record obj already holds (when
// it holds one), so that every copy of the object cell made before sees
// them: a boot image's objects are copied into their places before their
// fields are set.
void fill_change_handlers(Cell& obj);
// Copies the object: a new context with the same words (bound to it), the
// values copied shallow, or with deep every series value copied; function!
// fields are rebound to the copy. The class id is kept.
Cell copy(const Cell& obj, bool deep);

// The refinements of `set` that shape how values are stored.
struct SetOptions {
    bool any = false;   // accept unset!
    bool only = false;  // a block! or object! source is one value for every target
    bool some = false;  // skip none! source values
};

// The object branch of `set`: source a block! or object! (unless only) sets
// field by field, else every field takes the value. Fires on-change* for
// each field.
void set_fields(Cell& target, const Cell& source, SetOptions options);
// Sets field index of obj to value, firing on-change* (old, new) when the
// object has a handler record and the field is not a handler field.
void set_field(const Cell& obj, std::int32_t index, const Cell& value);

// --- Change notification ---------------------------------------------------------

// A field of owner was set to new_value (every set of an object's word comes
// here): fire_on_change, unless owner has no handler record or the field is a
// handler field.
void field_changed(const Cell& owner, const Cell& word, const Cell& old_value,
                   const Cell& new_value);
// Calls the object's on-change* with (word, old, new), when it has one.
// Raises invalid-obj-evt when the field does not hold a function!.
void fire_on_change(const Cell& obj, const Cell& word, const Cell& old_value,
                    const Cell& new_value);
// Calls the owner's on-deep-change* with (owner word target action new index
// part). Returns true when called. An owner without a record raises
// invalid-obj-evt.
bool fire_on_deep_change(const Cell& owner, const Cell& word, const Cell& target,
                         const Cell& action, const Cell& new_value, std::int32_t index,
                         std::int32_t part);

// --- Text --------------------------------------------------------------------------

// Appends the fields as mold prints them (word: value), without the
// surrounding "make object! [" and "]"; returns the part budget left.
std::int32_t mold_body(const Cell& obj, NodeId out, MoldOptions options,
                       std::int32_t part, std::int32_t indent);

}  // namespace kiv::object
