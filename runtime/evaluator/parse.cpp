// The parse engine: a loop over two states (fetch the next rule, complete the
// rule just tried) and a frame stack of rule blocks and pending keyword rules.
// Input positions are unit indexes into the input's buffer, re-checked against
// its tail at every read, since parens may change the series under a run.
#include "runtime/evaluator/parse.h"

#include "runtime/text/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/callback.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/evaluator/tracing.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kiv::parse {

namespace {

// --- Keywords ------------------------------------------------------------------

enum class Kw : std::uint8_t {
    none_ = 0,  // not a keyword
    any, break_, copy, end, fail, into, opt, not_, quote, case_, reject, set, skip, some,
    thru, to, none, bar, if_, remove, while_, insert, only, collect, keep, pick, ahead,
    after, change,
};

// Canonical symbol id -> keyword.
std::vector<Kw> keyword_table;

// Symbol id as written -> keyword + 1, or 0 while not yet resolved. Every rule
// word is asked for its keyword each time the engine passes it, and a loop
// passes the same words again and again; resolving the alias (a lookup in the
// symbol table) is done once per symbol instead. A symbol's alias never
// changes once the symbol exists, so the answers stay right.
std::vector<std::uint8_t> keyword_seen;

void add_keyword(symbol::SymbolId sym, Kw kw) {
    const symbol::SymbolId id = symbol::resolve_alias(sym);
    if (id >= keyword_table.size()) keyword_table.resize(id + 1, Kw::none_);
    keyword_table[id] = kw;
}

Kw resolve_keyword(symbol::SymbolId sym) {
    const symbol::SymbolId id = symbol::resolve_alias(sym);
    const Kw kw = id < keyword_table.size() ? keyword_table[id] : Kw::none_;
    if (sym >= keyword_seen.size()) keyword_seen.resize(sym + 64, 0);
    keyword_seen[sym] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(kw) + 1);
    return kw;
}

inline Kw keyword_of(const Cell& word) {
    const symbol::SymbolId sym = word.word_symbol();
    if (sym < keyword_seen.size() && keyword_seen[sym] != 0) return static_cast<Kw>(keyword_seen[sym] - 1);
    return resolve_keyword(sym);
}

Kw keyword_at(const Cell& cell) { return cell.is(TypeId::word) ? keyword_of(cell) : Kw::none_; }

// The value of a bound word, or unset for an unbound one.
Cell value_or_unset(const Cell& word) {
    if (word.word_context() == 0) {
        Cell u;
        u.reset(TypeId::unset);
        return u;
    }
    return *context::get_word_cell(word);
}

// --- Value kinds ---------------------------------------------------------------

bool is_block_kind(TypeId t) {
    return t == TypeId::block || t == TypeId::paren || t == TypeId::path || t == TypeId::lit_path ||
           t == TypeId::set_path || t == TypeId::get_path || t == TypeId::hash;
}
bool is_text_kind(TypeId t) {
    return t == TypeId::string || t == TypeId::file || t == TypeId::url || t == TypeId::tag ||
           t == TypeId::email || t == TypeId::ref;
}
bool is_series_kind(TypeId t) { return is_block_kind(t) || is_text_kind(t) || t == TypeId::binary; }

Cell at_index(const Cell& series, std::int32_t index) {
    Cell c = series;
    c.set_series_head(index);
    return c;
}

// The code point at unit i of a text buffer.
inline std::uint32_t unit_at(const SeriesBuffer* buf, std::int32_t i) {
    const std::uint8_t* p = buf->head;
    switch (buf->unit()) {
    case 1: return p[i];
    case 2: { std::uint16_t u; std::memcpy(&u, p + 2 * i, 2); return u; }
    default: { std::uint32_t u; std::memcpy(&u, p + 4 * i, 4); return u; }
    }
}
inline std::int32_t units_of(const SeriesBuffer* buf) {
    return static_cast<std::int32_t>((buf->tail - buf->head) / static_cast<std::ptrdiff_t>(buf->unit()));
}

// --- Run state -------------------------------------------------------------------

enum class Code : std::uint8_t {
    repeat, while_, to, thru, copy, set, not_, into, remove, collect, keep, ahead, change, case_,
};
enum class CollectKind : std::int32_t { plain, set, into, after };

// One entry of the frame stack: a rule block entered, or a keyword rule pending.
struct Frame {
    bool is_block = false;
    Code code = Code::repeat;
    Cell rules{};            // block: the rule block
    Cell word{};             // copy, set, case, collect set/into/after: the word
    Cell extra{};            // into: the outer input; collect: the collection or target
    std::int32_t prev_block = -1;  // block: index of the enclosing block frame
    std::int32_t resume = 0;       // block: rule position in the enclosing block after it
    std::int32_t pos = 0;          // block: the rule position while a nested block runs
    std::int32_t start = 0;        // input index when entered
    std::int32_t round_start = 0;  // input index when the current round began
    std::int32_t round_length = 0; // input length from round_start when it began
    std::uint64_t round_evals = 0; // evaluations done when it began
    std::int32_t min = 0, max = 0, count = 0;
    std::int32_t sub = 0;          // rule: position of the sub-rule
    std::int32_t end = 0;          // rule: position after the whole rule
    std::int32_t saved = 0;        // case: previous mode; into: outer part limit; keep: pick;
                                   // collect: CollectKind; change: only
};

struct Engine;
Engine* active = nullptr;          // innermost run; runs chain through outer
std::int32_t rule_cells = 0;       // cells on the rule stack, over every run
std::int32_t input_cells = 0;      // cells on the input stack, over every run
NodeId stack_block = 0;            // the callback's view of the rule stack

enum class State : std::uint8_t { fetch, complete, done };

// Frame stacks of finished runs, kept for their capacity: a short parse over a
// short input would otherwise spend more on growing its stack than on matching.
std::vector<std::vector<Frame>> spare_frames;

struct Engine {
    Engine* outer;
    std::int32_t saved_rule_cells, saved_input_cells;
    Cell input{};                  // current input series
    Cell rules{};                  // current rule block
    Cell callback{};               // function! or none
    Cell collected{};              // block of a top-level collect, or unset
    std::vector<Frame> frames;
    std::int32_t block = -1;       // index of the current block frame
    std::int32_t pos = 0;          // position of the current rule
    std::int32_t index = 0;        // current input index
    std::int32_t part_limit = -1;  // /part index of the current input, or -1
    std::uint64_t evals = 0;       // parens evaluated and callbacks made
    bool case_ = false;
    bool matched = false;
    State state = State::fetch;

    Engine() : outer(active), saved_rule_cells(rule_cells), saved_input_cells(input_cells) {
        active = this;
        ++input_cells;
        if (spare_frames.empty()) {
            frames.reserve(16);
        } else {
            frames = std::move(spare_frames.back());
            spare_frames.pop_back();
        }
    }
    ~Engine() {
        active = outer;
        rule_cells = saved_rule_cells;
        input_cells = saved_input_cells;
        if (frames.capacity() <= 256) {  // a stack grown by deep rules is let go
            frames.clear();
            spare_frames.push_back(std::move(frames));
        }
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // --- Input ---------------------------------------------------------------------
    bool block_input() const { return is_block_kind(input.type()); }
    std::int32_t tail() const {
        const SeriesBuffer* buf = memory::buffer(input.series_node());
        return buf->unit() == 1 ? buf->used_bytes() : buf->used_bytes() / static_cast<std::int32_t>(buf->unit());
    }
    std::int32_t limit() const {
        const std::int32_t t = tail();
        return part_limit >= 0 && part_limit < t ? part_limit : t;
    }
    std::int32_t length_from(std::int32_t i) const { return tail() - i; }
    // Keeps a /part limit on the same units after units were added or taken at at.
    void shift_limit(std::int32_t at, std::int32_t delta) {
        if (part_limit >= 0 && at <= part_limit) part_limit = std::max(at, part_limit + delta);
    }

    // A new series of the input's units [from, from + count); a hash! part is a block!.
    Cell copy_part(std::int32_t from, std::int32_t count) {
        Cell part;
        part.reset(input.is(TypeId::hash) ? TypeId::block : input.type());
        part.set_series_node(series::copy_units(input, from, std::max(count, 0)));
        return part;
    }

    // The input's value at i: a block's cell, a text's char!.
    Cell element_at(std::int32_t i) const {
        if (block_input()) return *block::get_cell(input, i);
        Cell c{};
        char_::make_at(c, unit_at(memory::buffer(input.series_node()), i));
        return c;
    }

    // --- Rules -----------------------------------------------------------------------
    // rules is held at its head: positions are cell indexes into its buffer.
    std::int32_t rules_tail() const {
        return memory::buffer(rules.series_node())->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
    }
    bool has_rule(std::int32_t p) const { return p < rules_tail(); }
    Cell rule_at(std::int32_t p) const {
        return reinterpret_cast<const Cell*>(memory::buffer(rules.series_node())->head)[p];
    }
    Cell rules_at(std::int32_t p) const { return at_index(rules, p); }

    [[noreturn]] void raise_rule(std::int32_t p) {
        const Cell where = rules_at(p);
        runtime::raise_error(ErrorCategory::script, "parse-rule", &where);
    }
    [[noreturn]] void raise_end(const Cell& keyword) {
        runtime::raise_error(ErrorCategory::script, "parse-end", &keyword);
    }

    // A word's value, for words standing for rules; unset raises parse-rule.
    Cell word_value(const Cell& word, std::int32_t p) {
        const Cell v = value_or_unset(word);
        if (v.is(TypeId::unset)) raise_rule(p);
        return v;
    }
    // True when cell is a word (or get-word) whose value is a position in the input.
    bool position_word(const Cell& cell, Cell& value) {
        if (!cell.is(TypeId::word) && !cell.is(TypeId::get_word)) return false;
        if (cell.is(TypeId::word) && keyword_of(cell) != Kw::none_) return false;
        value = value_or_unset(cell);
        return value.type() == input.type() && value.series_node() == input.series_node();
    }

    // Position after the one rule that starts at p (by syntax and the values
    // of position words); never recurses.
    std::int32_t extent(std::int32_t p) {
        std::int32_t extra = 0;
        for (;;) {
            if (!has_rule(p)) return p + extra;
            const Cell c = rule_at(p);
            if (c.is(TypeId::integer) || (c.is(TypeId::word) && keyword_of(c) == Kw::none_ &&
                                          value_or_unset(c).is(TypeId::integer))) {
                ++p;
                if (has_rule(p)) {
                    const Cell m = rule_at(p);
                    if (m.is(TypeId::integer) ||
                        (m.is(TypeId::word) && keyword_of(m) == Kw::none_ &&
                         value_or_unset(m).is(TypeId::integer)))
                        ++p;
                }
                continue;  // the counted rule follows
            }
            switch (keyword_at(c)) {
            case Kw::any: case Kw::some: case Kw::opt: case Kw::while_: case Kw::not_:
            case Kw::ahead: case Kw::to: case Kw::thru: case Kw::into:
                ++p;
                continue;
            case Kw::remove: {
                Cell v;
                if (has_rule(p + 1) && position_word(rule_at(p + 1), v)) return p + 2 + extra;
                ++p;
                continue;
            }
            case Kw::copy: case Kw::set: case Kw::case_:
                p += 2;
                continue;
            case Kw::keep:
                p += has_rule(p + 1) && keyword_at(rule_at(p + 1)) == Kw::pick ? 2 : 1;
                continue;
            case Kw::collect: {
                const Kw k = has_rule(p + 1) ? keyword_at(rule_at(p + 1)) : Kw::none_;
                p += k == Kw::set || k == Kw::into || k == Kw::after ? 3 : 1;
                continue;
            }
            case Kw::quote: case Kw::if_:
                return p + 2 + extra;
            case Kw::insert: {
                ++p;
                if (has_rule(p) && keyword_at(rule_at(p)) == Kw::only) ++p;
                Cell v;
                if (has_rule(p) && position_word(rule_at(p), v) && has_rule(p + 1)) ++p;
                return p + 1 + extra;
            }
            case Kw::change: {
                ++p;
                if (has_rule(p) && keyword_at(rule_at(p)) == Kw::only) ++p;
                Cell v;
                if (has_rule(p) && position_word(rule_at(p), v)) return p + 2 + extra;
                ++extra;  // the value after the rule
                continue;
            }
            default:
                return p + 1 + extra;
            }
        }
    }

    // --- Stack accounting and events -------------------------------------------------
    void take_rule_cells() {
        rule_cells += 3;
        if (rule_cells > stack_limit) runtime::raise_error(ErrorCategory::script, "parse-stack");
    }

    // Calls the callback with an event; false when it asks the run to stop.
    bool fire(words::Word event) { return !callback.is(TypeId::function) || call_back(event); }
    [[gnu::noinline]] bool call_back(words::Word event) {
        ++evals;
        Cell stack_view;
        stack_view.reset(TypeId::block);
        stack_view.set_series_node(stack_block);
        block::set_tail(stack_view, 0);
        for (const Frame& f : frames) {
            if (f.is_block) block::append_copy(stack_view, at_index(f.rules, f.pos));
            else {
                Cell n;
                n.reset(TypeId::integer);
                n.set_int(-static_cast<std::int32_t>(f.code) - 1);
                block::append_copy(stack_view, n);
            }
        }
        Cell args[5];
        args[0] = words::word(event);
        logic::make_at(args[1], matched);
        args[2] = rules_at(pos);
        args[3] = at_index(input, std::min(index, tail()));
        args[4] = stack_view;
        const Cell fn = callback;
        const Cell result = callback::call(fn, args, 5, words::word(words::Word::parse_callback),
                                           tracing::callback_parse);
        if (logic::false_result_q(result)) {
            state = State::done;
            return false;
        }
        return true;
    }

    // Evaluates a paren's code; returns its value.
    Cell eval_paren(const Cell& paren) {
        if (!fire(words::Word::paren)) return none::value;
        ++evals;
        Cell code = paren;
        code.set_type(TypeId::block);
        interpreter::eval_block(code, false);
        const Cell result = *(stack::top() - 1);
        stack::pop(1);
        return result;
    }

    // The value of an insert, change or keep argument: a paren evaluated, a
    // word's value (unset raises no-value), else the cell itself.
    Cell value_of(const Cell& cell) {
        if (cell.is(TypeId::paren)) return eval_paren(cell);
        if (cell.is(TypeId::word) || cell.is(TypeId::get_word)) {
            Cell v;
            word::get_value(cell, v);
            return v;
        }
        return cell;
    }

    void done(bool ok) {
        matched = ok;
        if (state != State::done) state = State::complete;
    }

    // --- Frames ----------------------------------------------------------------------
    void push_block(const Cell& blk, std::int32_t resume) {
        take_rule_cells();
        if (block >= 0) frames[static_cast<std::size_t>(block)].pos = pos;
        Frame& f = frames.emplace_back();
        f.is_block = true;
        f.rules = blk;
        f.prev_block = block;
        f.resume = resume;
        f.start = index;
        f.pos = std::max(blk.series_head(), 0);
        block = static_cast<std::int32_t>(frames.size()) - 1;
        rules = blk;
        rules.set_series_head(0);
        pos = f.pos;
        state = State::fetch;
        fire(words::Word::push);
    }

    void pop_block(bool ok) {
        const Frame& f = frames.back();
        if (!ok) index = f.start;
        matched = ok;
        if (!fire(words::Word::pop)) return;
        const std::int32_t prev = f.prev_block, resume = f.resume;
        frames.pop_back();
        rule_cells -= 3;
        if (prev < 0) {
            finish_run(ok);
            return;
        }
        block = prev;
        rules = frames[static_cast<std::size_t>(block)].rules;
        rules.set_series_head(0);
        pos = resume;
        done(ok);
    }

    Frame& push_rule(Code code, std::int32_t sub, std::int32_t end) {
        take_rule_cells();
        Frame& f = frames.emplace_back();
        f.code = code;
        f.start = f.round_start = index;
        f.round_length = length_from(index);
        f.round_evals = evals;
        f.sub = sub;
        f.end = end;
        pos = sub;
        state = State::fetch;
        return f;
    }

    // Undoes what a dropped keyword rule changed outside the frame stack.
    void discard(const Frame& f) {
        if (f.is_block) return;
        if (f.code == Code::case_) case_ = f.saved != 0;
        if (f.code == Code::into) {
            input = f.extra;
            part_limit = f.saved;
            index = f.start;
            --input_cells;
        }
    }

    void drop_rule() {
        frames.pop_back();
        rule_cells -= 3;
    }

    // --- The run -----------------------------------------------------------------------
    void finish_run(bool ok) {
        if (ok && index < limit()) ok = false;
        matched = ok;
        state = State::done;
        fire(words::Word::end);
        state = State::done;
    }

    void step() {
        if (state == State::fetch) fetch();
        else complete();
    }

    void fetch() {
        if (!has_rule(pos)) {
            pop_block(true);
            return;
        }
        const Cell c = rule_at(pos);
        if (!fire(words::Word::fetch)) return;
        if (c.is(TypeId::word)) {
            const Kw kw = keyword_of(c);
            if (kw != Kw::none_) {
                keyword(kw, c);
                return;
            }
            interpret(word_value(c, pos), pos + 1);
            return;
        }
        interpret(c, pos + 1);
    }

    void interpret(const Cell& v, std::int32_t after) {
        switch (v.type()) {
        case TypeId::block:
            push_block(v, after);
            return;
        case TypeId::paren:
            eval_paren(v);
            pos = after;
            done(true);
            return;
        case TypeId::set_word: {
            Cell w = v;
            word::set_value(w, at_index(input, std::min(index, tail())));
            pos = after;
            done(true);
            return;
        }
        case TypeId::get_word: {
            const Cell target = *context::get_word_cell(v);
            if (target.type() != input.type() || target.series_node() != input.series_node())
                runtime::raise_error(ErrorCategory::script, "parse-invalid-ref", &v);
            index = std::clamp(target.series_head(), 0, tail());
            pos = after;
            done(true);
            return;
        }
        case TypeId::integer:
            counts(v, after);
            return;
        case TypeId::datatype: case TypeId::typeset:
            pos = after;
            done(match_type(v, index));
            fire(words::Word::match);  // as for a literal
            return;
        case TypeId::path: case TypeId::set_path: case TypeId::get_path: case TypeId::unset:
            raise_rule(pos);
        default:
            pos = after;
            done(match_literal(v));
            fire(words::Word::match);
            return;
        }
    }

    // n rule, n m rule.
    void counts(const Cell& n, std::int32_t after) {
        const std::int32_t min = n.int_value();
        if (min < 0) runtime::raise_error(ErrorCategory::script, "out-of-range", &n);
        std::int32_t max = min;
        std::int32_t p = after;
        if (has_rule(p)) {
            const Cell m = rule_at(p);
            Cell mv = m;
            if (m.is(TypeId::word) && keyword_of(m) == Kw::none_) mv = value_or_unset(m);
            if (mv.is(TypeId::integer)) {
                max = mv.int_value();
                if (max < min) raise_rule(p);
                ++p;
            }
        }
        if (!has_rule(p)) raise_rule(pos);
        if (max == 0) {
            pos = extent(p);
            done(true);
            return;
        }
        repeat(Code::repeat, min, max, p);
    }

    // any, some, opt, while, counts: a direct scan for a literal sub-rule.
    void repeat(Code code, std::int32_t min, std::int32_t max, std::int32_t sub) {
        const std::int32_t end = extent(sub);
        if (code == Code::repeat && !callback.is(TypeId::function)) {
            Cell v = rule_at(sub);
            if (v.is(TypeId::word) && keyword_of(v) == Kw::none_) v = word_value(v, sub);
            if (scannable(v)) {
                std::int32_t count = 0;
                while ((max < 0 || count < max) && match_one(v, index)) ++count;
                pos = end;
                done(count >= min);
                return;
            }
        }
        Frame& f = push_rule(code, sub, end);
        f.min = min;
        f.max = max;
        fire(words::Word::push);
    }

    // A literal that one position-by-position match can stand for.
    bool scannable(const Cell& v) const {
        switch (v.type()) {
        case TypeId::char_: case TypeId::bitset: return !block_input();
        case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::email:
            return !block_input() && string::length_from_start(v) > v.series_head() &&
                   v.series_head() >= 0;
        case TypeId::datatype: case TypeId::typeset: return block_input();
        default: return false;
        }
    }

    // Matches one scannable value at i; advances index on success.
    bool match_one(const Cell& v, std::int32_t i) {
        if (v.is(TypeId::datatype) || v.is(TypeId::typeset)) return match_type(v, i);
        return match_text(v, i);
    }

    bool match_type(const Cell& v, std::int32_t i) {
        if (!block_input()) runtime::raise_error(ErrorCategory::script, "parse-unsupported");
        if (i >= limit()) return false;
        const TypeId t = block::get_cell(input, i)->type();
        const bool ok = v.is(TypeId::datatype) ? t == v.datatype_id()
                                               : v.typeset_has(static_cast<int>(t));
        if (ok) index = i + 1;
        return ok;
    }

    std::uint32_t fold(std::uint32_t cp) const { return case_ ? cp : case_folding::fold_char(cp, true); }

    // Text input: a char, bitset or text (any other value formed) at i.
    bool match_text(const Cell& v, std::int32_t i) {
        const std::int32_t lim = limit();
        const SeriesBuffer* in = memory::buffer(input.series_node());
        switch (v.type()) {
        case TypeId::char_:
            if (i >= lim || fold(unit_at(in, i)) != fold(v.char_value())) return false;
            index = i + 1;
            return true;
        case TypeId::bitset:
            if (i >= lim || !bitset::has(v, unit_at(in, i))) return false;
            index = i + 1;
            return true;
        default:
            break;
        }
        Cell text = v;
        if (!is_text_kind(v.type()) && !v.is(TypeId::binary)) {  // a binary matches by its bytes
            string::make_at(text, 16);
            Cell copy = v;
            actions::form_to(&copy, text.series_node(), -1);
            in = memory::buffer(input.series_node());
        }
        const SeriesBuffer* t = memory::buffer(text.series_node());
        const std::int32_t from = std::max(text.series_head(), 0);
        const std::int32_t n = units_of(t) - from;
        if (n <= 0) return true;  // the empty text matches anywhere
        if (n > lim - i) return false;
        for (std::int32_t k = 0; k < n; ++k)
            if (fold(unit_at(in, i + k)) != fold(unit_at(t, from + k))) return false;
        index = i + n + (v.is(TypeId::tag) ? 2 : 0);
        return true;
    }

    bool match_literal(const Cell& v) {
        if (!block_input()) return match_text(v, index);
        if (index >= limit()) return false;
        Cell in = *block::get_cell(input, index);
        Cell rule = v;
        const bool lit = v.is(TypeId::lit_word) || v.is(TypeId::lit_path);
        const CompareOp op = lit ? (case_ ? CompareOp::parse_strict : CompareOp::parse_equal)
                                 : (case_ ? CompareOp::strict_equal : CompareOp::equal);
        if (!actions::compare(&in, &rule, op)) return false;
        ++index;
        return true;
    }

    // to and thru with a literal: a direct search; -1 when it is not one.
    int search(const Cell& v, bool thru) {
        Cell lit = v;
        if (lit.is(TypeId::word)) {
            const Kw kw = keyword_of(lit);
            if (kw == Kw::end) {
                index = limit();
                return 1;
            }
            if (kw != Kw::none_) return -1;
            lit = value_or_unset(lit);
        }
        switch (lit.type()) {
        case TypeId::block: case TypeId::paren: case TypeId::word: case TypeId::set_word:
        case TypeId::get_word: case TypeId::integer: case TypeId::path: case TypeId::set_path:
        case TypeId::get_path: case TypeId::unset:
            return -1;
        case TypeId::datatype: case TypeId::typeset:
            if (!block_input()) return -1;  // raises in the general walk
            break;
        default:
            break;
        }
        const std::int32_t from = index;
        if (lit.is(TypeId::char_) && !block_input()) {
            const std::int32_t i = find_char(lit.char_value(), from, limit());
            if (i < 0) return 0;
            index = thru ? i + 1 : i;
            return 1;
        }
        for (std::int32_t i = from; i < limit(); ++i) {
            const bool ok = block_input() ? (lit.is(TypeId::datatype) || lit.is(TypeId::typeset)
                                                 ? match_type(lit, i)
                                                 : literal_at(lit, i))
                                          : match_text(lit, i);
            if (ok) {
                if (!thru) index = i;
                return 1;
            }
        }
        index = from;
        return 0;
    }
    // The first unit in [from, lim) of the text input equal to c under the
    // comparison mode, or -1.
    std::int32_t find_char(std::uint32_t c, std::int32_t from, std::int32_t lim) const {
        const SeriesBuffer* in = memory::buffer(input.series_node());
        const std::uint32_t want = fold(c);
        if (in->unit() == 1) {
            const std::uint8_t* p = in->head;
            if (case_ ? want > 0xFF : want >= 0x80 || (want >= 'A' && want <= 'Z')) {
                for (std::int32_t i = from; i < lim; ++i)
                    if (fold(p[i]) == want) return i;
                return -1;
            }
            // Only the unit itself matches: any unit when case counts, else an
            // ASCII unit other than a letter, since no other unit folds to it.
            const void* hit = from < lim ? std::memchr(p + from, static_cast<int>(want), static_cast<std::size_t>(lim - from)) : nullptr;
            return hit != nullptr ? static_cast<std::int32_t>(static_cast<const std::uint8_t*>(hit) - p) : -1;
        }
        for (std::int32_t i = from; i < lim; ++i)
            if (fold(unit_at(in, i)) == want) return i;
        return -1;
    }
    bool literal_at(const Cell& v, std::int32_t i) {
        const std::int32_t saved = index;
        index = i;
        if (match_literal(v)) return true;
        index = saved;
        return false;
    }

    // --- Keywords ------------------------------------------------------------------------
    void keyword(Kw kw, const Cell& word) {
        const std::int32_t n = pos + 1;
        switch (kw) {
        case Kw::skip:
            pos = n;
            if (index < limit()) {
                ++index;
                done(true);
            } else {
                done(false);
            }
            fire(words::Word::match);
            return;
        case Kw::end:
            pos = n;
            done(index >= limit());
            fire(words::Word::match);
            return;
        case Kw::none:
            pos = n;
            done(true);
            return;
        case Kw::fail:
            pos = n;
            done(false);
            return;
        case Kw::bar:
            if (!has_rule(n)) raise_end(word);
            pop_block(true);
            return;
        case Kw::any: case Kw::some: case Kw::opt: case Kw::while_:
            if (!has_rule(n)) raise_end(word);
            repeat(kw == Kw::while_ ? Code::while_ : Code::repeat, kw == Kw::some ? 1 : 0,
                   kw == Kw::opt ? 1 : -1, n);
            return;
        case Kw::to: case Kw::thru: {
            if (!has_rule(n)) raise_end(word);
            const std::int32_t end = extent(n);
            const int found = callback.is(TypeId::function) ? -1 : search(rule_at(n), kw == Kw::thru);
            if (found >= 0) {
                pos = end;
                done(found == 1);
                return;
            }
            push_rule(kw == Kw::to ? Code::to : Code::thru, n, end);
            fire(words::Word::push);
            return;
        }
        case Kw::not_: case Kw::ahead:
            if (!has_rule(n)) raise_end(word);
            push_rule(kw == Kw::not_ ? Code::not_ : Code::ahead, n, extent(n));
            fire(words::Word::push);
            return;
        case Kw::remove:
            remove(word, n);
            return;
        case Kw::into:
            into(word, n);
            return;
        case Kw::copy: case Kw::set: case Kw::case_: {
            if (!has_rule(n)) raise_end(word);
            const Cell target = rule_at(n);
            if (!word::is_any_word(target.type()) || target.is(TypeId::refinement)) raise_rule(n);
            if (!has_rule(n + 1)) raise_end(target);
            const bool mode = kw == Kw::case_ ? logic::true_result_q(*context::get_word_cell(target)) : false;
            Frame& f = push_rule(kw == Kw::copy ? Code::copy : kw == Kw::set ? Code::set : Code::case_,
                                 n + 1, extent(n + 1));
            f.word = target;
            if (kw == Kw::case_) {
                f.saved = case_ ? 1 : 0;
                case_ = mode;
            }
            fire(words::Word::push);
            return;
        }
        case Kw::quote:
            if (!has_rule(n)) raise_end(word);
            pos = n + 1;
            done(match_literal(rule_at(n)));
            fire(words::Word::match);
            return;
        case Kw::if_: {
            if (!has_rule(n)) raise_end(word);
            const Cell code = rule_at(n);
            if (!code.is(TypeId::paren)) raise_rule(n);
            const Cell result = eval_paren(code);
            pos = n + 1;
            done(!logic::false_result_q(result));
            return;
        }
        case Kw::collect:
            collect(word, n);
            return;
        case Kw::keep:
            keep(word, n);
            return;
        case Kw::insert:
            insert(word, n);
            return;
        case Kw::change:
            change(word, n);
            return;
        case Kw::break_: case Kw::reject:
            leave_repeat(kw == Kw::break_);
            return;
        default:  // only, pick, after out of place
            raise_rule(pos);
        }
    }

    void remove(const Cell& word, std::int32_t n) {
        if (!has_rule(n)) raise_end(word);
        Cell mark;
        if (position_word(rule_at(n), mark)) {
            const std::int32_t p = std::clamp(mark.series_head(), 0, tail());
            const std::int32_t from = std::min(p, index), to = std::max(p, index);
            remove_units(from, to - from);
            index = from;
            pos = n + 1;
            done(true);
            return;
        }
        push_rule(Code::remove, n, extent(n));
        fire(words::Word::push);
    }

    void remove_units(std::int32_t from, std::int32_t count) {
        if (count <= 0) return;
        Cell s = at_index(input, from);
        Cell part;
        part.reset(TypeId::integer);
        part.set_int(count);
        registry::handler<Action::remove>(s.type())(&s, &part, nullptr);
        shift_limit(from, -count);
    }

    void into(const Cell& word, std::int32_t n) {
        if (!has_rule(n)) raise_end(word);
        if (!block_input()) {
            const Cell t = datatype::of(input.type());
            runtime::raise_error(ErrorCategory::script, "parse-block", &t);
        }
        const std::int32_t end = extent(n);
        Cell inner{};
        if (index < limit()) inner = *block::get_cell(input, index);
        if (!is_series_kind(inner.type()) || inner.is(TypeId::binary)) {
            pos = end;
            done(false);
            return;
        }
        if (++input_cells > stack_limit) runtime::raise_error(ErrorCategory::script, "parse-stack");
        Frame& f = push_rule(Code::into, n, end);
        f.extra = input;
        f.saved = part_limit;
        input = inner;
        input.set_series_head(0);
        part_limit = -1;
        index = std::clamp(inner.series_head(), 0, tail());
        f.round_start = index;
        fire(words::Word::push);
    }

    std::int32_t innermost_collect() const {
        for (std::int32_t i = static_cast<std::int32_t>(frames.size()) - 1; i >= 0; --i) {
            const Frame& f = frames[static_cast<std::size_t>(i)];
            if (!f.is_block && f.code == Code::collect) return i;
        }
        return -1;
    }

    void collect(const Cell& word, std::int32_t n) {
        if (!has_rule(n)) raise_end(word);
        CollectKind kind = CollectKind::plain;
        Cell target{};
        Cell collection{};
        std::int32_t sub = n;
        const Kw k = keyword_at(rule_at(n));
        if (k == Kw::set || k == Kw::into || k == Kw::after) {
            if (!has_rule(n + 1)) raise_end(rule_at(n));
            target = rule_at(n + 1);
            if (!target.is(TypeId::word)) raise_rule(n + 1);
            if (!has_rule(n + 2)) raise_end(target);
            sub = n + 2;
            kind = k == Kw::set ? CollectKind::set : k == Kw::into ? CollectKind::into : CollectKind::after;
        }
        if (kind == CollectKind::into || kind == CollectKind::after) {
            Cell v;
            word::get_value(target, v);
            const bool fits = is_block_kind(v.type()) ||
                              (is_text_kind(v.type()) && !block_input()) ||
                              (v.is(TypeId::binary) && !block_input());
            if (!fits) runtime::raise_error(ErrorCategory::script, "parse-into-type", &v);
            if (v.series_node() == input.series_node())
                runtime::raise_error(ErrorCategory::script, "parse-into-bad", &v);
            collection = v;
        } else {
            block::make_at(collection, 4);
        }
        Frame& f = push_rule(Code::collect, sub, extent(sub));
        f.word = target;
        f.extra = collection;
        f.saved = static_cast<std::int32_t>(kind);
        fire(words::Word::push);
    }

    // Adds value to the collection of frame c; spread: a block's values one by one.
    void add_kept(std::int32_t c, const Cell& value, bool spread) {
        Frame& f = frames[static_cast<std::size_t>(c)];
        const auto kind = static_cast<CollectKind>(f.saved);
        Cell target = f.extra;
        Cell v = value;
        if (kind == CollectKind::plain || kind == CollectKind::set) {
            if (spread && is_block_kind(v.type())) block::append_cells(target, v);
            else block::append_copy(target, v);
            return;
        }
        if (kind == CollectKind::after) {
            registry::handler<Action::append>(target.type())(&target, &v, -1, !spread, 1);
            return;
        }
        const Cell* next = registry::handler<Action::insert>(target.type())(&target, &v, -1, !spread, 1);
        frames[static_cast<std::size_t>(c)].extra = *next;
    }

    void keep(const Cell& word, std::int32_t n) {
        if (!has_rule(n)) raise_end(word);
        if (innermost_collect() < 0) runtime::raise_error(ErrorCategory::script, "parse-keep");
        bool pick = false;
        if (keyword_at(rule_at(n)) == Kw::pick) {
            pick = true;
            ++n;
            if (!has_rule(n)) raise_end(rule_at(n - 1));
        }
        const Cell r = rule_at(n);
        if (r.is(TypeId::paren)) {
            const Cell v = eval_paren(r);
            const std::int32_t c = innermost_collect();
            if (c >= 0 && !v.is(TypeId::unset)) add_kept(c, v, pick);
            pos = n + 1;
            done(true);
            return;
        }
        Frame& f = push_rule(Code::keep, n, extent(n));
        f.saved = pick ? 1 : 0;
        fire(words::Word::push);
    }

    void insert(const Cell& word, std::int32_t n) {
        bool only = false;
        if (has_rule(n) && keyword_at(rule_at(n)) == Kw::only) {
            only = true;
            ++n;
        }
        if (!has_rule(n)) raise_end(word);
        std::int32_t at = index;
        Cell mark;
        if (has_rule(n + 1) && position_word(rule_at(n), mark)) {
            at = std::clamp(mark.series_head(), 0, tail());
            ++n;
        }
        const Cell value = value_of(rule_at(n));
        const std::int32_t before = tail();
        Cell s = at_index(input, std::min(at, before));
        Cell v = value;
        registry::handler<Action::insert>(s.type())(&s, &v, -1, only, 1);
        const std::int32_t added = tail() - before;
        if (at <= index) index += added;
        shift_limit(at, added);
        pos = n + 1;
        done(true);
    }

    // Replaces units [from, from + count) by value; index lands after the new content.
    void replace(std::int32_t from, std::int32_t count, const Cell& value, bool only) {
        const std::int32_t before = tail();
        Cell s = at_index(input, from);
        Cell v = value;
        const Cell* after = registry::handler<Action::change>(s.type())(&s, &v, count, only, 1);
        index = std::clamp(after->series_head(), 0, tail());
        shift_limit(from, tail() - before);
    }

    void change(const Cell& word, std::int32_t n) {
        bool only = false;
        if (has_rule(n) && keyword_at(rule_at(n)) == Kw::only) {
            only = true;
            ++n;
        }
        if (!has_rule(n)) raise_end(word);
        Cell mark;
        if (position_word(rule_at(n), mark)) {
            if (!has_rule(n + 1)) raise_end(rule_at(n));
            const Cell value = value_of(rule_at(n + 1));
            const std::int32_t p = std::clamp(mark.series_head(), 0, tail());
            const std::int32_t from = std::min(p, index), to = std::max(p, index);
            replace(from, to - from, value, only);
            pos = n + 2;
            done(true);
            return;
        }
        const std::int32_t value_pos = extent(n);
        if (!has_rule(value_pos)) raise_end(word);
        Frame& f = push_rule(Code::change, n, value_pos + 1);
        f.saved = only ? 1 : 0;
        fire(words::Word::push);
    }

    // break and reject: end the innermost repetition.
    void leave_repeat(bool counted) {
        std::int32_t r = static_cast<std::int32_t>(frames.size()) - 1;
        while (r >= 0 && (frames[static_cast<std::size_t>(r)].is_block ||
                          (frames[static_cast<std::size_t>(r)].code != Code::repeat &&
                           frames[static_cast<std::size_t>(r)].code != Code::while_)))
            --r;
        if (r < 0) {  // no repetition: the block ends instead
            pop_block(counted);
            return;
        }
        while (static_cast<std::int32_t>(frames.size()) - 1 > r) {
            const Frame f = frames.back();
            discard(f);
            frames.pop_back();
            rule_cells -= 3;
            if (f.is_block) {
                block = f.prev_block;
                rules = frames[static_cast<std::size_t>(block)].rules;
                rules.set_series_head(0);
            }
        }
        Frame& f = frames.back();
        if (counted) ++f.count;
        else index = f.round_start;
        const bool ok = f.count >= f.min;
        if (!ok) index = f.start;
        pos = f.end;
        drop_rule();
        done(ok);
    }

    // --- Completing a rule -----------------------------------------------------------------
    // Runs when the rule just tried has its answer in matched. For a block
    // frame that is one sequence step; for a keyword frame it is the keyword's
    // sub-rule, and finish_rule decides what the keyword makes of it.
    void complete() {
        Frame& f = frames.back();
        if (f.is_block) {
            if (matched) {
                state = State::fetch;
                return;
            }
            // The alternative failed: on to the next one, or the block fails.
            // Each alternative starts from the input the block was entered
            // with, whatever the failed one consumed before it failed.
            const std::int32_t t = rules_tail();
            for (std::int32_t p = pos; p < t; ++p) {
                const Cell c = rule_at(p);
                if (keyword_at(c) != Kw::bar) continue;
                if (p + 1 >= t) raise_end(c);
                index = f.start;
                pos = p + 1;
                state = State::fetch;
                return;
            }
            pop_block(false);
            return;
        }
        finish_rule(f);
    }

    // Every case that does not loop falls out to the common end: the frame is
    // dropped, a failure puts the input back where the keyword began (a
    // failed rule never consumes), and the rule after the keyword comes next.
    void finish_rule(Frame& f) {
        bool ok = matched;
        switch (f.code) {
        case Code::repeat: case Code::while_: {
            // A round that matched without consuming input would match again
            // for ever, so it ends the repetition. Consuming means the input
            // left after the index shrank: a round that only inserted (insert,
            // or change of an empty match) steps past its own new content but
            // leaves as much to read as before. A round that moved the input
            // back did so on purpose and goes on. while alone may go round in
            // place when a paren ran in the round: the paren can change what
            // the next round sees (that is what while is for).
            if (matched) ++f.count;
            const bool consumed = length_from(index) < f.round_length || index < f.round_start;
            const bool again = matched && (f.max < 0 || f.count < f.max) &&
                               (consumed || (f.code == Code::while_ && evals != f.round_evals));
            if (again) {
                f.round_start = index;
                f.round_length = length_from(index);
                f.round_evals = evals;
                pos = f.sub;
                state = State::fetch;
                fire(words::Word::iterate);
                return;
            }
            if (!matched) index = f.round_start;  // the failed round gives back its input
            ok = f.count >= f.min;
            break;
        }
        case Code::to: case Code::thru:
            // The general walk, for sub-rules no direct search can stand for:
            // try the sub-rule at each position in turn. to stops before the
            // match, thru after it.
            if (matched) {
                if (f.code == Code::to) index = f.round_start;
                break;
            }
            if (f.round_start < limit()) {
                index = ++f.round_start;
                pos = f.sub;
                state = State::fetch;
                return;
            }
            break;
        case Code::copy:
            if (matched) {
                Cell part = copy_part(f.start, index - f.start);
                word::set_value(f.word, part);
            }
            break;
        case Code::set:
            // The first value matched; a match that consumed nothing sets none.
            if (matched) {
                Cell v = none::value;
                if (index > f.start) v = element_at(f.start);
                context::set_word(f.word, v);
            }
            break;
        case Code::not_:  // neither answer consumes: not only looks
            ok = !matched;
            index = f.start;
            break;
        case Code::ahead:  // a look ahead: the answer stands, the input goes back
            index = f.start;
            break;
        case Code::into: {
            // The nested series counts only when its sub-rule consumed all of
            // it; the outer input is restored, then steps over that one value.
            const bool whole = matched && index >= tail();
            input = f.extra;
            part_limit = f.saved;
            --input_cells;
            ok = whole;
            index = whole ? f.start + 1 : f.start;
            break;
        }
        case Code::remove:
            if (matched) {
                remove_units(f.start, index - f.start);
                index = f.start;
            }
            break;
        case Code::collect: {
            // The frame goes first, so that innermost_collect finds the
            // enclosing collect, which receives this one's block as a value.
            // A top-level plain collect becomes the result of parse.
            const auto kind = static_cast<CollectKind>(f.saved);
            const Cell collection = f.extra;
            const Cell target = f.word;
            const Frame copy = f;
            drop_rule();
            if (kind == CollectKind::set) {
                Cell w = target;
                context::set_word(w, collection);
            } else if (kind == CollectKind::plain) {
                const std::int32_t enclosing = innermost_collect();
                if (enclosing >= 0) {
                    if (matched) add_kept(enclosing, collection, false);
                } else {
                    collected = collection;
                }
            }
            if (!ok) index = copy.start;
            pos = copy.end;
            done(ok);
            fire(words::Word::pop);
            return;
        }
        case Code::keep:
            // One value matched is kept as that value (a char for text input,
            // the cell for a block); a longer match as a copy of the span, or
            // with pick as its values one by one.
            if (matched && index > f.start) {
                const std::int32_t c = innermost_collect();
                Cell v;
                if (index - f.start == 1) {
                    add_kept(c, element_at(f.start), false);
                } else {
                    v = copy_part(f.start, index - f.start);
                    if (f.saved && !block_input()) {
                        for (std::int32_t i = f.start; i < index; ++i) {
                            add_kept(c, element_at(i), false);
                        }
                    } else {
                        add_kept(c, v, f.saved != 0);
                    }
                }
            }
            break;
        case Code::change:
            // The value is taken only after the match, so a paren giving it
            // runs once and only when there is something to change; the
            // frame is copied first because that paren may grow the stack.
            if (matched) {
                const Frame copy = f;
                const Cell value = value_of(rule_at(copy.end - 1));
                replace(copy.start, index - copy.start, value, copy.saved != 0);
                Frame& g = frames.back();
                pos = g.end;
                drop_rule();
                done(true);
                fire(words::Word::pop);
                return;
            }
            break;
        case Code::case_:  // the mode covered only the sub-rule: the run's own comes back
            case_ = f.saved != 0;
            break;
        }
        if (!ok) index = f.start;
        pos = f.end;
        drop_rule();
        done(ok);
        fire(words::Word::pop);
    }
};

// Marks what every active run holds.
void mark_runs() {
    for (Engine* e = active; e != nullptr; e = e->outer) {
        collector::mark_cell(e->input);
        collector::mark_cell(e->rules);
        collector::mark_cell(e->callback);
        collector::mark_cell(e->collected);
        for (const Frame& f : e->frames) {
            collector::mark_cell(f.rules);
            collector::mark_cell(f.word);
            collector::mark_cell(f.extra);
        }
    }
}

}  // namespace

void run(Cell& result, const Cell& input, const Cell& rules, bool case_, std::int32_t part_limit,
         const Cell* callback) {
    Engine e;
    e.input = input;
    e.input.set_series_head(0);
    e.index = std::clamp(input.series_head(), 0, e.tail());
    e.part_limit = part_limit;
    e.case_ = case_;
    e.callback = callback != nullptr ? *callback : none::value;
    e.collected.reset(TypeId::unset);
    e.push_block(rules, 0);
    while (e.state != State::done) e.step();
    if (e.collected.is(TypeId::block)) result = e.collected;
    else logic::make_at(result, e.matched);
}

bool is_input(TypeId t) { return is_block_kind(t) || is_text_kind(t); }

void init() {
    using words::Sym;
    keyword_table.clear();
    const std::pair<Sym, Kw> table[] = {
        {Sym::any, Kw::any}, {Sym::break_, Kw::break_}, {Sym::copy, Kw::copy}, {Sym::end, Kw::end},
        {Sym::fail, Kw::fail}, {Sym::into, Kw::into}, {Sym::opt, Kw::opt}, {Sym::not_, Kw::not_},
        {Sym::quote, Kw::quote}, {Sym::case_, Kw::case_}, {Sym::reject, Kw::reject},
        {Sym::set, Kw::set}, {Sym::skip, Kw::skip}, {Sym::some, Kw::some}, {Sym::thru, Kw::thru},
        {Sym::to, Kw::to}, {Sym::none, Kw::none}, {Sym::bar, Kw::bar}, {Sym::if_, Kw::if_},
        {Sym::remove, Kw::remove}, {Sym::while_, Kw::while_}, {Sym::insert, Kw::insert},
        {Sym::only, Kw::only}, {Sym::collect, Kw::collect}, {Sym::keep, Kw::keep},
        {Sym::pick, Kw::pick}, {Sym::ahead, Kw::ahead}, {Sym::after, Kw::after},
    };
    for (const auto& [sym, kw] : table) add_keyword(words::id(sym), kw);
    add_keyword(words::word(words::Word::change).word_symbol(), Kw::change);
    stack_block = block::make_in(nullptr, 100)->series_node();
    collector::add_mark_callback(mark_runs);
}

}  // namespace kiv::parse
