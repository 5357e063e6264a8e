// float!: the 64-bit IEEE number (float64 in payload words 2-3), the one
// float-to-text routine shared by every type with a float component, and the
// mixed maths that integer!, time! and percent! route through `math_op`.
// percent! (percent.h) inherits every action here but form and mold.
// Ordinary arithmetic follows IEEE: x / 0.0 is an infinity, never an error.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::float_ {

// Operation codes of the mixed maths routines, one numbering for integer!,
// float!, time!, bitset!, typeset!, vector! and the other numeric modules.
enum class MathOp : std::int32_t {
    add = 0, subtract, multiply, divide, remainder,
    or_, and_, xor_,                              // the action stubs and~ or~ xor~
    unique, union_, intersect, exclude, difference,  // the set natives
};

// --- Options ----------------------------------------------------------------

// Sets the float options from system/options/float (pretty? and full?; full?
// is kept but nothing reads it yet). Both start false.
void set_options(bool pretty, bool full);
bool pretty_q();

// --- Text ---------------------------------------------------------------------

// Kinds of float text: what the value is and how it is written.
enum class TextKind : std::int32_t {
    float32 = 0,          // vector! float32 element
    float64 = 1,          // float! form, vector! float64 element
    float32_percent = 2,  // vector! float32 percent element, value already x 100
    percent = 3,          // percent!, value already x 100
    seconds = 4,          // time! seconds
    coordinate = 5,       // point2D!/point3D! coordinate
};
// Text of value in one shared 32-byte buffer, valid until the next call:
// callers append it at once. Infinities and NaN give "1.#INF", "-1.#INF",
// "1.#NaN"; float kinds end in ".0" when no point shows, percent kinds in "%".
const char* to_text(double value, TextKind kind);

// --- Cells --------------------------------------------------------------------

// Makes cell a float! of v (a fresh header).
inline void make_at(Cell& cell, double v) {
    cell.reset(TypeId::float_);
    cell.set_f64(v);
}
// Appends a float! of v to blk; returns the new cell.
Cell* make_in(const Cell& blk, double v);
// The float64 of a float!, percent! or time! cell.
inline double get(const Cell& cell) { return cell.f64(); }
// The float64 of an integer!, float! or percent! (for conversions); any other
// type raises script error bad-to-arg naming float! and the value.
double from_number(const Cell& value);

// --- Tests ----------------------------------------------------------------------

bool is_nan(double v);
bool is_nan_float32(float v);
// True for +infinity, -infinity and NaN.
bool is_not_finite(double v);
// Equal within 2.2e-16 absolute or 10 units in the last place; false on NaN.
bool near_equal(double a, double b);
bool near_equal_float32(float a, float b);
// Adds 0.49999999999999994 and truncates toward zero (pixel values).
std::int32_t round_to_integer(double v);

// --- Maths ----------------------------------------------------------------------

// The raw operation of every float-based maths routine: 0 sum .. 4 remainder
// (fmod, with IEEE answers for infinite and NaN divisors); other codes raise
// script error cannot-use.
double apply_op(double left, double right, MathOp op);

// Mixed maths on a left integer!, float!, percent! or time! and any right
// operand: the result replaces left (time! when exactly one side is time!,
// else percent! when left is percent!, else float!) and left is returned.
// Right operands of other modules go to their routes (below); a pair or point
// swaps places (subtract and divide raise not-related); an unsupported right
// operand raises script error invalid-type with its datatype.
Cell* math_op(Cell* left, Cell* right, MathOp op);

// The maths routine of another module that float! hands an operation to when
// that module's type is the right operand: tuple!, money! and vector! get
// (number, their value) unchanged; pair!, point2D! and point3D! get (their
// value, number) after the swap. A type with no route is refused.
using MathRoute = Cell* (*)(Cell* left, Cell* right, MathOp op);
void set_math_route(TypeId right_type, MathRoute route);

// --- Handlers (float! registration order) -----------------------------------------

// make and to (one handler) of float! and percent!: type is the target.
Cell* to(Cell* proto, Cell* spec, TypeId type);
Cell* random(Cell* value, const RandomRefinements& how);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
// The shortest text that reads back as the same float64, with ".0" when whole.
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// value1 is a float!, percent! or time! (integer! compare turns itself into a
// float! first); compares with integer!, float!, percent!, time! and money!.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
Cell* absolute(Cell* value);
Cell* add(Cell* value1, Cell* value2);
Cell* divide(Cell* value1, Cell* value2);
Cell* multiply(Cell* value1, Cell* value2);
Cell* negate(Cell* value);
// The exponent must be integer! or float! (else script error expect-arg);
// the result keeps the type of the number (integer! power calls this with
// its base turned into a float!).
Cell* power(Cell* number, Cell* exponent);
Cell* remainder(Cell* value1, Cell* value2);
// Rounds n (float!, percent! or time!); with a scale the result takes the
// scale's type. A money! scale raises not-related; an infinite result of a
// large scale raises math overflow.
Cell* round(Cell* n, const RoundRefinements& how);
Cell* subtract(Cell* value1, Cell* value2);
std::int32_t even_q(Cell* value);
std::int32_t odd_q(Cell* value);

// Registers float! (type 12, no parent).
void init();

}  // namespace kiv::float_
