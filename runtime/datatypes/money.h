// money!: an exact decimal amount with an optional currency. The cell holds 22
// packed decimal digits (17 whole, 5 fraction), a sign flag and the currency's
// 1-based position in system/locale/currencies/list (0: none). Arithmetic is
// exact integer arithmetic on the amount counted in units of the fifth
// fraction digit: no binary floating point touches an amount, and nothing
// allocates. Overflow and underflow raise script error type-limit.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/core/memory.h"

#include <cstdint>
#include <string_view>

namespace kiv::money {

inline constexpr int digit_count = 22;
inline constexpr int integer_digits = 17;
inline constexpr int fraction_digits = 5;

// --- Cells ------------------------------------------------------------------

// Makes cell a money! of the sign, currency index and 11 packed digit bytes.
// A zero amount is kept without its sign.
void make_at(Cell& cell, bool negative, std::uint32_t currency,
             const std::uint8_t (&digits)[Cell::money_digit_bytes]);

// Makes out a money! from decimal text: the whole-part digits and the
// fraction digits ("'" separators skipped), with the sign and currency index
// (0: none). Fraction digits past the fifth are dropped. False (out
// untouched) when a text holds anything but digits and separators, or the
// whole part has more than 17 significant digits.
bool make_from_text(Cell& out, bool negative, std::uint32_t currency, std::string_view whole,
                    std::string_view fraction);

// The money! of an integer (no currency).
void from_integer(Cell& out, std::int32_t value);
// The whole part of the amount, fraction dropped, with its sign; raises
// script error type-limit naming integer! when it does not fit 32 bits.
std::int32_t to_integer(const Cell& value);
// The money! of a float (no currency). Raises script error bad-make-arg
// naming money! and the float when it is infinite or NaN, non-zero below
// 1e-5 in magnitude, 1e17 or more, or (strict) has more than 5 fraction
// digits in its shortest decimal text; without strict they are dropped.
void from_float(Cell& out, double value, bool strict);
// The amount as the nearest float64.
double to_float(const Cell& value);

// -1, 0 or 1; 0 for any all-zero amount, whatever its sign flag.
std::int32_t sign_of(const Cell& value);

// --- Currencies ---------------------------------------------------------------

// 1-based position of a currency code in system/locale/currencies/list,
// compared without case; -1 when absent (or before the list exists).
std::int32_t currency_index(std::string_view code);
std::int32_t currency_index(symbol::SymbolId symbol);
// Sets out to the currency word of the value, or none.
void currency_word(const Cell& value, Cell& out);

// --- Maths ----------------------------------------------------------------------

// add, subtract, multiply, divide, remainder with money! on either side and
// integer!, float!, percent! or money! on the other; the result goes into
// left and left is returned (float! for money divided by money, else money!
// with the right's currency, or the left's when the right has none). Raises
// invalid-type (money times money, a number divided by money, another type),
// wrong-denom (two currencies), type-limit, math zero-divide. float! and
// integer! hand their money! right operands here.
Cell* math_op(Cell* left, Cell* right, float_::MathOp op);

// --- Handlers (action order) -----------------------------------------------------

// make: a currency word (zero amount), a block [currency amount fraction]
// or what to takes; bad-make-arg otherwise.
Cell* make(Cell* proto, Cell* spec, TypeId type);
// /seed seeds the generator from the value; else a random amount between
// zero and the value, with its sign and currency.
Cell* random(Cell* value, const RandomRefinements& how);
// to: from text (bad-to-arg when it does not read as money), integer!,
// float! and percent! (exactly, else bad-make-arg), money!.
Cell* to(Cell* proto, Cell* spec, TypeId type);
// Grouped by three with "'" and cut to system/options/money-digits (2)
// fraction digits, not rounded.
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// Not grouped; /all writes all five fraction digits.
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg, std::int32_t part,
                  std::int32_t indent);
// code (1): the currency word or none; amount (2): the amount without its
// currency. Setting raises bad-path-set; another element invalid-path.
Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step);
// With money!, integer! and float!; orderings across two currencies raise
// wrong-denom, equality across them is false.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
// The compare of a float64 on the left with a money! (float!'s compare hands
// it over): money!'s compare turned around.
std::int32_t compare_with_float(double left, Cell* money, CompareOp op);
Cell* absolute(Cell* value);
Cell* add(Cell* value1, Cell* value2);
Cell* divide(Cell* value1, Cell* value2);
Cell* multiply(Cell* value1, Cell* value2);
Cell* negate(Cell* value);
Cell* remainder(Cell* value1, Cell* value2);
// To a multiple of the scale (/to money!, integer! or float!; else
// not-related); ties away from zero unless a refinement says otherwise.
Cell* round(Cell* n, const RoundRefinements& how);
Cell* subtract(Cell* value1, Cell* value2);
// Of the units digit.
std::int32_t even_q(Cell* value);
std::int32_t odd_q(Cell* value);
// 1 or code, 2 or amount (as the path); else out-of-range.
Cell* pick(Cell* value, Cell* index);

// Registers money! (type 49, no parent) and installs its routes in float!.
void init();

}  // namespace kiv::money
