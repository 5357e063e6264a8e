// time!: a duration or time of day held as float64 seconds (words 2-3),
// negative values allowed, shown as h:mm:ss with fractional seconds. Also the
// hour/minute/second helpers and the h:mm:ss text that date! reuses for its
// time of day. Arithmetic keeps results finite: an overflow raises an error.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::time {

inline constexpr double seconds_per_hour = 3600.0;
inline constexpr double seconds_per_minute = 60.0;
// A seconds part below this counts as zero in the text.
inline constexpr double zero_threshold = 1e-6;

// Field numbers of the path and pick words hour, minute and second.
enum Field : std::int32_t { hour = 1, minute = 2, second = 3 };

// Sets the cell to time! (flags kept) holding the seconds.
inline void make_at(Cell& cell, double seconds) {
    cell.set_type(TypeId::time);
    cell.clear_payload();
    cell.set_f64(seconds);
}
// Appends a new time! to the block value; returns the new cell.
Cell* make_in(const Cell& blk, double seconds);
// The seconds of a time! cell.
inline double get(const Cell& cell) { return cell.f64(); }

// Whole hours, truncated toward zero (saturates outside the 32-bit range).
std::int32_t get_hours(double seconds);
// floor((|seconds| mod 3600) / 60).
std::int32_t get_minutes(double seconds);
// Sets out to field f of the seconds: integer! hours or minutes, or float!
// seconds (seconds mod 60, sign kept).
void get_field(double seconds, std::int32_t f, Cell& out);
// 1, 2 or 3 for the words hour, minute, second. Another word raises script
// error cannot-use when value is a time!, and gives -1 otherwise.
std::int32_t field_number(const Cell& word, const Cell& value);
// Appends the h:mm:ss text of the seconds to the string of node out ("-" first
// for negative times); returns part less the characters appended.
std::int32_t form_hms(NodeId out, double seconds, std::int32_t part);

// Registers time! (type 43, after float!, its parent).
void init();

// Handlers, in action order. make and to: from time!, integer!, float!,
// percent! (seconds), a block of [h m s] or a text holding a time; else
// script error bad-to-arg. A non-finite number raises script out-of-range.
Cell* to(Cell* proto, Cell* spec, TypeId type);
std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
// Path step: element hour/minute/second or 1-3; gets the field, or sets it
// when new_value is not null (the value cell is changed in place).
Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step);
// Float comparison of the seconds with a time!, integer!, float! or percent!.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op);
Cell* absolute(Cell* value);
// add, subtract, multiply, divide, remainder: with integer!, float!, percent!
// or time! (multiply rejects time!, divide by a time! gives a float! ratio).
Cell* add(Cell* value1, Cell* value2);
Cell* divide(Cell* value1, Cell* value2);
Cell* multiply(Cell* value1, Cell* value2);
Cell* negate(Cell* value);
Cell* remainder(Cell* value1, Cell* value2);
// round: as float! round (scale a number or a time!); the result is a time!.
Cell* round(Cell* n, const RoundRefinements& how);
Cell* subtract(Cell* value1, Cell* value2);
// even?, odd? of the whole seconds part (seconds mod 60).
std::int32_t even_q(Cell* value);
std::int32_t odd_q(Cell* value);
// pick with 1-3 or hour/minute/second; else script error out-of-range.
Cell* pick(Cell* value, Cell* index);

}  // namespace kiv::time
