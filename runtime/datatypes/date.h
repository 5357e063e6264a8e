// date!: a calendar date with an optional time of day and zone. Word 1 packs
// the local date and zone (cell.h draws it); words 2-3 hold the UTC time of
// day in seconds counted from the local date's midnight, so that stored time
// + zone offset lies in [0, 86400) after every change. Day numbers count days
// of the proleptic Gregorian calendar (1-Jan-1970 is day 719468).
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::date {

// Field numbers of the path words and pick indexes (1-14).
enum Field : std::int32_t {
    date_only = 1, year, month, day, zone, time, hour, minute, second, weekday, yearday,
    timezone, week, isoweek,
};

// Day number of a date; month 1-12, the day may lie outside the month (it
// carries into the next or previous ones).
std::int64_t day_number(std::int64_t year, std::int32_t month, std::int64_t day);
// The calendar date of a day number.
void from_day_number(std::int64_t n, std::int32_t& year, std::int32_t& month, std::int32_t& day);
bool leap_year_q(std::int32_t year);
// Days in the month (February 29 only in leap years).
std::int32_t month_length(std::int32_t year, std::int32_t month);
// 1 (Monday) .. 7 (Sunday).
std::int32_t weekday_of(std::int64_t n);

// Makes cell a date of the local date and time of day (seconds) in a zone of
// zone_minutes east of UTC (-15:45 .. +15:45, whole quarters); without
// has_time the time is 0 and the zone is dropped. Raises script type-limit
// when the year leaves -16384..16383.
void make_at(Cell& cell, std::int32_t year, std::int32_t month, std::int32_t day,
             double local_seconds, std::int32_t zone_minutes, bool has_time);
// A UTC date with time from its parts (file dates).
void make_at_from_parts(Cell& cell, std::int32_t year, std::int32_t month, std::int32_t day,
                        std::int32_t hours, std::int32_t minutes, std::int32_t seconds,
                        std::int32_t nanoseconds);
// Makes cell the date of a packed date word (cell.h) and a stored time, as
// the binary value format keeps them; false, cell unchanged, when they are
// not a date this module could have made (bad month or day, a time off the
// invariant, a time or zone on a date without time).
bool make_from_packed(Cell& cell, std::uint32_t word, double time);
// The current date and time, in the C library's local zone (TZ is honoured)
// or in UTC; fractions of a second only when precise.
void now(Cell& cell, bool utc, bool precise);

// Sets out to field f (1-14) of the date (none for the zone or time of a date
// without time).
void get_field(const Cell& date, std::int32_t f, Cell& out);
// The time! between two dates: day difference × 86400 + stored time difference.
double difference(const Cell& date1, const Cell& date2);
// Seconds since 1-Jan-1970 UTC, the time rounded to whole seconds.
std::int64_t to_unix_seconds(const Cell& date);
// Adds an integer! (days) or time! (seconds) to the date in place, or with
// subtract takes it away; the maths route of integer! + date!.
Cell* add(Cell* value1, Cell* value2);
Cell* subtract(Cell* value1, Cell* value2);

// Registers date! (type 47, no parent).
void init();

}  // namespace kiv::date
