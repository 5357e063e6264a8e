// integer!: the signed 32-bit integer, its cell helpers, its decimal text and
// its action handlers. Arithmetic never wraps: add, subtract and multiply that
// overflow, and divisions that are not exact, give float! results; the few
// operations without a float fallback raise math errors.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::integer {

// Registers integer! (type 11, no parent).
void init();

// --- Cell helpers ---------------------------------------------------------------

// The value of an integer! (or the code point of a char!) cell.
inline std::int32_t get(const Cell& cell) { return cell.int_value(); }
// Makes the cell an integer! holding v; the header's flag bits are kept.
inline void make_at(Cell& cell, std::int32_t v) {
    cell.set_type(TypeId::integer);
    cell.clear_payload();
    cell.set_int(v);
}
// Appends a new integer! to blk; returns the new cell.
Cell* make_in(const Cell& blk, std::int32_t v);

// -1, 0 or 1.
inline std::int32_t sign(std::int32_t v) { return (v > 0) - (v < 0); }
// The magnitude of v; -2147483648 raises math error overflow.
std::int32_t absolute_value(std::int32_t v);
// The integer of an integer!, or of a float! truncated toward zero; a float!
// outside the 32-bit range (or NaN) raises script out-of-range.
std::int32_t from_number(const Cell& value);
// True when the float! or percent! cell is NaN or outside the 32-bit range.
bool float_out_of_range_q(const Cell& cell);
// Decimal text of v, in a static buffer valid until the next call.
const char* to_decimal(std::int32_t v);

// Operation codes of do_math.
enum class MathOp : std::int32_t { add = 0, subtract, multiply, divide, remainder, or_, and_, xor_ };
// a op b. With a result cell, the cell receives the result: an integer!, or a
// float! when add, subtract or multiply overflow or a division is not exact.
// Returns the integer result (meaningless when the cell became a float!).
// Division and remainder by 0 raise math zero-divide, of -2147483648 by -1
// math overflow. Without a result cell a division truncates.
std::int32_t do_math(std::int32_t a, std::int32_t b, MathOp op, Cell* result);

// --- Action handlers, in action-slot order ------------------------------------

// make: from a logic! 1 or 0; anything else as to.
Cell* make(Cell* proto, Cell* spec, TypeId type);
// 0 stays 0; n > 0 gives 1..n, n < 0 gives n..-1; seed seeds and gives unset!.
Cell* random(Cell* value, const RandomRefinements& how);
// to integer! from integer!, char!, float!, percent!, time!, issue!, the text
// types, binary!; raises bad-to-arg, type-limit or invalid-data.
Cell* to(Cell* proto, Cell* spec, TypeId type);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// Against integer! and char! as numbers; float!, percent!, time! through
// float!'s compare; strict kinds against other types answer 1 (different).
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
Cell* absolute(Cell* value);
Cell* add(Cell* value1, Cell* value2);
Cell* divide(Cell* value1, Cell* value2);
Cell* multiply(Cell* value1, Cell* value2);
// 0 - value; -2147483648 raises math overflow.
Cell* negate(Cell* value);
// Exponent integer! or float! (else script expect-arg); overflow, a negative
// or a float exponent go through float!'s power.
Cell* power(Cell* value1, Cell* value2);
Cell* remainder(Cell* value1, Cell* value2);
// Rounds to a multiple of scale (default 1); see the refinements of round.
Cell* round(Cell* n, const RoundRefinements& how);
Cell* subtract(Cell* value1, Cell* value2);
std::int32_t even_q(Cell* value);
std::int32_t odd_q(Cell* value);
Cell* and_(Cell* value1, Cell* value2);
Cell* complement(Cell* value);
Cell* or_(Cell* value1, Cell* value2);
Cell* xor_(Cell* value1, Cell* value2);

}  // namespace kiv::integer
