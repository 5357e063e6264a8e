// The datatypes whose modules are not built yet (date!, image!
// and the rest): each registers its name and a
// minimal handler set (form, mold, equality) so that values the lexer makes
// print and compare, and every other action raises expect-arg. A module that
// lands replaces its type's row in register_all.
#pragma once

namespace kiv::pending {

// Registers every type id without a module of its own (after their parents).
void init();

}  // namespace kiv::pending
