// function! and routine!: a spec block, a context holding one word per
// argument, refinement and local (its values live on the argument stack during
// a call), and a 5-cell extra block with the body and any native code. The
// spec checker and the local collection of `function` live here; calling the
// values is the interpreter's business. Routines wrap C++ functions.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>
#include <string_view>

namespace kiv::function {

// Cells of the extra block (word 3). Unused cells read unset!.
inline constexpr std::int32_t extra_cells = 5;
inline constexpr std::int32_t extra_body = 0;    // block! body, or none
inline constexpr std::int32_t extra_code = 2;    // integer! routine-table id, or unset
inline constexpr std::int32_t extra_op = 3;      // the function behind an op! made from it
inline constexpr std::int32_t extra_code2 = 4;   // integer! second code id, or unset

// Registers function! (type 24, parent context!).
void init();

// Checks the spec from its head; returns the header flags its attribute
// block asks for (trace, no-trace). Raises script error bad-func-def with the
// offending cell, dup-vars for a word named twice, invalid-type-spec for a
// bad type block entry.
std::uint32_t validate_spec(const Cell& spec);
// The trace flags of a spec that validate_spec has accepted, read from its
// attribute block alone (the types it names need not have values yet).
std::uint32_t trace_flags(const Cell& spec);
// For `function`: adds the body's set-words and loop words not already in the
// spec after /local (added when missing); /extern and its words are cut from
// the spec. spec must be a copy the caller owns. collected becomes the block
// of the words found. Raises bad-func-extern for a stray cell with /extern.
void collect_locals(Cell& spec, const Cell& body, Cell& collected);
// Makes out a function!: the spec (copied when its head is not 0), a deep
// copy of body (or none when body is null), the context ctx or, when 0, a new
// one made from the spec and bound into the body; code and code2 are
// routine-table ids or 0. Returns the context node. out must not lie in a
// series buffer.
NodeId make_at(Cell& out, const Cell& spec, const Cell* body, NodeId ctx, std::int32_t code,
               std::int32_t code2, std::uint32_t flags);
// Makes out a copy of the function! fn for the object context outer: fn's
// body cloned deeply and bound to outer (`self` included), then to the
// copy's own context, made from fn's spec; the spec and the trace flags are
// shared, native code ids are not. A function without a body raises script
// error bad-func-def with fn. out must not lie in a series buffer.
void rebind_at(Cell& out, const Cell& fn, NodeId outer);
// 1 for /local plus the word! cells after it, from start in the spec; with
// flag, -1 when the spec has no /local (0 without flag).
std::int32_t count_locals(NodeId spec, std::int32_t start, bool flag);
// Address of cell index of fn's extra block (valid until the next allocation).
Cell* extra_cell(const Cell& fn, std::int32_t index);

// make function!: a block of a spec block and a body block; else script
// error bad-func-def with the argument.
Cell* make(Cell* proto, Cell* spec, TypeId type);
// reflect: spec, body (shared), words (a new block of bound words); anything
// else raises internal error not-done.
Cell* reflect(Cell* value, Cell* field);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// "func " spec body, or "func " spec " none" without a body.
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// Same type only: equality and sort kinds order the extra blocks; else -2.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);

}  // namespace kiv::function

namespace kiv::routine {

// Native code behind a routine! (or a function! with compiled code): reads
// its arguments from args, one cell per context word in spec order, and
// leaves its result in args[0].
using Code = void (*)(Cell* args);
// The same for a host's code (embed.h): also given the datum it was entered with.
using HostCode = void (*)(Cell* args, const void* data);
// One entry of the routine table: code, or host code with its datum.
struct Entry {
    const char* name;
    Code code;
    HostCode host = nullptr;
    const void* data = nullptr;

    void call(Cell* args) const {
        if (host != nullptr) host(args, data);
        else code(args);
    }
};
// Enters code in the routine table under name, the word its library source
// gives it (`quit-return: make-routine 'quit-return [status]`); returns its
// id (1-based), kept as an integer! in the value's extra block. A name entered
// twice keeps its first code and id.
std::int32_t add(const char* name, Code code);
std::int32_t add_host(const char* name, HostCode code, const void* data);
// The id of the routine entered under name, or 0.
std::int32_t find(std::string_view name);
// The entry of id, or null when id names no entry.
const Entry* entry(std::int32_t id);

// Registers routine! (type 29, parent function!).
void init();
// Makes out a routine!: a context from the spec (not bound), the body shared
// (or none), code ids code and code2, header bit 15 with flag and the arity
// (word! cells of the spec) in bits 25-29. out must not lie in a series buffer.
void make_at(Cell& out, const Cell& spec, const Cell* body, std::int32_t code,
             std::int32_t code2, bool flag);
// The arity kept in the header.
inline std::int32_t get_arity(const Cell& value) {
    return static_cast<std::int32_t>(value.routine_arity());
}

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// "routine " spec body.
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);

}  // namespace kiv::routine
