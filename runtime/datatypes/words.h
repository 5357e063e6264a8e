// The runtime's well-known words: made once at start-up, in a fixed order, so
// that native code compares symbol ids and reads or sets words without
// looking names up. Word cells are kept here (bound to the global context,
// which is a collector root), so they never move. The library's own runtime
// words are made by the library's start-up.
#pragma once

#include "generated/type_rows.h"
#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/evaluator/services.h"

#include <cstdint>

namespace kiv::words {

// Symbol ids, made by symbol::make in this order. ORDER WELL-KNOWN SYMBOLS
#define KIV_SYMBOLS(X)                                                                           \
    X(spec, "spec") X(body, "body") X(words, "words") X(class_, "class")                         \
    X(logic_type, "logic!") X(integer_type, "integer!") X(char_type, "char!")                    \
    X(float_type, "float!") X(percent_type, "percent!") X(any_type_type, "any-type!")            \
    X(exit, "exit") X(return_, "return")                                                         \
    X(windows, "Windows") X(syllable, "Syllable") X(macos, "macOS") X(linux, "Linux")            \
    X(netbsd, "NetBSD")                                                                          \
    X(repeat, "repeat") X(foreach, "foreach") X(map_each, "map-each")                            \
    X(remove_each, "remove-each")                                                                \
    X(any, "any") X(break_, "break") X(copy, "copy") X(end, "end") X(fail, "fail")               \
    X(into, "into") X(opt, "opt") X(not_, "not") X(quote, "quote") X(case_, "case")              \
    X(reject, "reject") X(set, "set") X(skip, "skip") X(some, "some") X(thru, "thru")            \
    X(to, "to") X(none, "none") X(bar, "|") X(minus, "-") X(if_, "if") X(remove, "remove")       \
    X(while_, "while") X(insert, "insert") X(only, "only") X(collect, "collect")                 \
    X(keep, "keep") X(pick, "pick") X(ahead, "ahead") X(after, "after")                          \
    X(x, "x") X(y, "y") X(z, "z")                                                                \
    X(self, "self") X(values, "values") X(owner, "owner") X(owned, "owned")                      \
    X(events_q, "events?")                                                                       \
    X(true_, "true") X(false_, "false") X(yes, "yes") X(no, "no") X(on, "on") X(off, "off")      \
    X(type, "type") X(face, "face") X(window, "window") X(offset, "offset") X(key, "key")        \
    X(flag, "flag") X(code, "code") X(picked, "picked") X(flags, "flags") X(away_q, "away?")     \
    X(ctrl_q, "ctrl?") X(shift_q, "shift?") X(down_q, "down?") X(mid_down_q, "mid-down?")        \
    X(alt_down_q, "alt-down?") X(aux_down_q, "aux-down?") X(orientation, "orientation")          \
    X(get, "get") X(put, "put") X(post, "post") X(head, "head") X(size, "size") X(rgb, "rgb")    \
    X(alpha, "alpha") X(argb, "argb")                                                            \
    X(date, "date") X(year, "year") X(month, "month") X(day, "day") X(zone, "zone")              \
    X(isoweek, "isoweek") X(week, "week") X(weekday, "weekday") X(yearday, "yearday")            \
    X(julian, "julian") X(time, "time") X(hour, "hour") X(minute, "minute")                      \
    X(second, "second") X(timezone, "timezone")                                                  \
    X(amount, "amount") X(user, "user") X(host, "host")                                          \
    X(system, "system") X(system_global, "system-global") X(stack, "stack") X(trace, "trace")    \
    X(no_trace, "no-trace")

// Global-context word cells of some of those symbols, made in this order
// (collect is asked twice and keeps one cell).
#define KIV_GLOBALS(X)                                                                           \
    X(windows) X(syllable) X(macos) X(linux) X(netbsd)                                           \
    X(to) X(thru) X(not_) X(remove) X(while_) X(collect) X(keep) X(ahead) X(bar) X(any)          \
    X(some) X(copy) X(opt) X(into) X(insert) X(if_) X(quote) X(set) X(case_)

// Word cells made by word::make_from_name in this order; end is a global-context
// word cell (context::add_global_symbol). throw gets two cells.
#define KIV_WORDS(X)                                                                             \
    X(at, "at") X(back, "back") X(find, "find") X(head, "head") X(head_q, "head?")               \
    X(index_q, "index?") X(length_q, "length?") X(next, "next") X(pick, "pick")                  \
    X(skip, "skip") X(select, "select") X(tail, "tail") X(tail_q, "tail?") X(change, "change")   \
    X(changed, "changed") X(clear, "clear") X(cleared, "cleared") X(set_path, "set-path")        \
    X(append, "append") X(appended, "appended") X(move, "move") X(moved, "moved")                \
    X(poke, "poke") X(poked, "poked") X(put, "put") X(put_ed, "put-ed") X(removed, "removed")    \
    X(random, "random") X(randomized, "randomized") X(reverse, "reverse")                        \
    X(reversed, "reversed") X(sort, "sort") X(sorted, "sorted") X(swap, "swap")                  \
    X(swaped, "swaped") X(take, "take") X(taken, "taken") X(trim, "trim")                        \
    X(trimmed, "trimmed") X(inserted, "inserted") X(uppercase, "uppercase")                      \
    X(lowercase, "lowercase") X(checksum, "checksum")                                            \
    X(push, "push") X(pop, "pop") X(fetch, "fetch") X(match, "match") X(iterate, "iterate")      \
    X(paren, "paren") X(anon, "<anon>") X(body, "<body>") X(not_found, "<not-found>")            \
    X(end, "end") X(add, "add") X(subtract, "subtract") X(divide, "divide")                      \
    X(on_parse_event, "on-parse-event") X(on_change_star, "on-change*")                          \
    X(on_deep_change_star, "on-deep-change*")                                                    \
    X(type, "type") X(id, "id") X(try_, "try") X(catch_, "catch") X(name, "name")                \
    X(multiply, "multiply")                                                                      \
    X(browse, "browse") X(open, "open") X(create, "create") X(close, "close")                    \
    X(delete_, "delete") X(modify, "modify") X(query, "query") X(read, "read")                   \
    X(rename, "rename") X(update, "update") X(write, "write")                                    \
    X(prescan, "prescan") X(scan, "scan") X(load, "load") X(error, "error")                      \
    X(comment, "comment")                                                                        \
    X(init, "init") X(exec, "exec") X(call, "call") X(return_, "return") X(enter, "enter")       \
    X(exit, "exit") X(prolog, "prolog") X(epilog, "epilog") X(throw_, "throw") X(expr, "expr")   \
    X(interp_callback, "<interp-callback>") X(lexer_callback, "<lexer-callback>")                \
    X(parse_callback, "<parse-callback>") X(compare_callback, "<compare-callback>")              \
    X(throw2, "throw")                                                                           \
    X(note, "note") X(syntax, "syntax") X(script, "script") X(math, "math")                      \
    X(access, "access") X(user, "user") X(internal, "internal")                                  \
    X(invalid_error, "invalid-error")                                                            \
    X(local, "local") X(applied, "<applied>")

// Refinements without context, in this order.
#define KIV_REFINEMENTS(X)                                                                       \
    X(local, "local") X(extern_, "extern") X(compare, "compare") X(part, "part")                 \
    X(skip, "skip") X(with, "with")

#define KIV_ENUM_NAME(id, ...) id,
#define KIV_ENUM_ID(id) id,
enum class Sym : std::uint16_t { KIV_SYMBOLS(KIV_ENUM_NAME) };
enum class Global : std::uint16_t { KIV_GLOBALS(KIV_ENUM_ID) };
enum class Word : std::uint16_t { KIV_WORDS(KIV_ENUM_NAME) };
enum class Ref : std::uint16_t { KIV_REFINEMENTS(KIV_ENUM_NAME) };
#undef KIV_ENUM_NAME
#undef KIV_ENUM_ID

// Runtime words of the library: one global-context word cell per name, made
// by make_runtime_words once runtime::init is done, in this order: the
// datatype names in id order (not the internal types: symbol!, context!,
// series!) with the action word make second, then none true false; the other 58 action
// names, random to write; the native names in table order. The list stops
// there: the library's routines and its own words come with its source.
enum class Constant : std::uint8_t { none, true_, false_ };
inline constexpr std::int32_t runtime_word_count = types::word_count + 1 + 3 + 58 + natives::native_count;

// While on, word::make_from_name, context::add_global_symbol and
// issue::make_from_name also append their cell to the root block (start-up).
inline bool recording = false;

// Makes every well-known word in the fixed order: symbols, global-context
// words, word cells, then the refinements and the issue. Needs the symbol
// table, the global context and the datatype names already entered.
void init();
void init_words();
void init_refinements();
void init_issue();

// Makes the runtime words of the library (see above); once, after init.
void make_runtime_words();
// The runtime word of a datatype's name (not symbol!, context!, series!).
Cell& type_word(TypeId t);
// The runtime word of an action (not the internal slots 7 to 9).
Cell& action_word(Action a);
// The runtime word of a native.
Cell& native_word(natives::Native n);
// The runtime word of none, true or false.
Cell& constant_word(Constant c);
// The runtime words in the order they were made (count runtime_word_count).
Cell& runtime_word(std::int32_t i);
// The name of a native (the word the library gives it).
const char* native_name(natives::Native n);

// The symbol id of a well-known symbol.
symbol::SymbolId id(Sym s);
// The global-context word cell of one of the symbols above.
Cell& global(Global g);
// A well-known word cell (bound in the global context).
Cell& word(Word w);
// A well-known refinement (no context).
Cell& refinement(Ref r);
// The issue #ooo that start-up makes and nothing reads.
Cell& issue_ooo();

}  // namespace kiv::words
