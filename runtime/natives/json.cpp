// load-json and to-json: JSON text to values and back in one walk each. The
// reader is a recursive descent over the text's units that keeps the same
// marks as a grammar would (the line count, the last line feed, the end of
// the last whole value or name) for its error value; the writer dispatches
// on the datatype. Depth is bounded: deep input raises parse-stack, a block
// that holds itself stack-overflow, as they did in library code.
#include "runtime/evaluator/natives.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/stack.h"
#include "runtime/io/lexer.h"
#include "runtime/core/raise.h"

#include <array>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace kiv::natives {
namespace {

using stack::arg;

// The parse engine's budget of rule cells, and what one open array or object
// took from it: deep input fails where it failed when the grammar read it.
constexpr std::int32_t depth_budget = 10000;
constexpr std::int32_t array_cost = 15;
constexpr std::int32_t object_cost = 18;

Cell datatype_of(TypeId t) {
    Cell c{};
    datatype::make_at(t, c);
    return c;
}

// A new string! of the code points.
Cell text_of(const std::uint32_t* cps, std::size_t n) {
    std::uint32_t widest = 0;
    for (std::size_t i = 0; i < n; ++i) widest = std::max(widest, cps[i]);
    const std::uint32_t unit = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
    Cell text{};
    string::make_at_unit(text, static_cast<std::int32_t>(n), unit);
    SeriesBuffer* b = memory::buffer(text.series_node());
    std::uint8_t* p = b->head;
    for (std::size_t i = 0; i < n; ++i, p += unit) {
        if (unit == 1) *p = static_cast<std::uint8_t>(cps[i]);
        else if (unit == 2) { const auto u = static_cast<std::uint16_t>(cps[i]); std::memcpy(p, &u, 2); }
        else std::memcpy(p, &cps[i], 4);
    }
    b->tail = p;
    return text;
}

// --- Reading ---------------------------------------------------------------------

class Reader {
public:
    explicit Reader(const Cell& input) : input_(input) {
        const SeriesBuffer* b = memory::buffer(input.series_node());
        unit_ = b->unit();
        data_ = b->head;
        length_ = b->used_bytes() / static_cast<std::int32_t>(unit_);
        pos_ = std::clamp(input.series_head(), 0, length_);
        mark_ = last_lf_ = pos_;
    }

    // The value of the whole text, or false (the marks say where it failed).
    bool read(Cell& out) { return value(out) && pos_ == length_; }

    // The error value load-json returns for text that is not JSON.
    Cell failure() {
        std::string message = "Invalid JSON string. Line: " + std::to_string(line_) +
                              " Index: " + std::to_string(mark_ + 1) +
                              " Column: " + std::to_string(mark_ - last_lf_) + " Near: ";
        Cell text{};
        string::make_at(text, 80);
        string::append_utf8(text.series_node(), message.data(), static_cast<std::int32_t>(message.size()));
        if (mark_ >= length_) {
            string::append_nul_text(text.series_node(), "<end of input>");
        } else {
            std::vector<std::uint32_t> near;
            for (std::int32_t i = mark_; i < length_ && i < mark_ + 40; ++i) near.push_back(at(i));
            Cell piece = text_of(near.data(), near.size());
            actions::mold_to(&piece, text.series_node(), MoldOptions{}, -1);
        }
        Cell proto = datatype_of(TypeId::error);
        return *error::make(&proto, &text, TypeId::error);
    }

private:
    std::uint32_t at(std::int32_t i) const {
        return unit_ == 1 ? data_[i] : string::get_char(data_ + static_cast<std::size_t>(i) * unit_, unit_);
    }
    bool next_is(std::uint32_t c) const { return pos_ < length_ && at(pos_) == c; }
    bool digit_at(std::int32_t i) const { return i < length_ && at(i) >= '0' && at(i) <= '9'; }

    void spaces() {
        while (pos_ < length_) {
            const std::uint32_t c = at(pos_);
            if (c == ' ' || c == '\t' || c == '\r') {
                ++pos_;
            } else if (c == '\n') {
                ++line_;
                mark_ = last_lf_ = ++pos_;
            } else {
                return;
            }
        }
    }

    bool literal(const char* word) {
        const std::int32_t n = static_cast<std::int32_t>(std::strlen(word));
        if (pos_ + n > length_) return false;
        for (std::int32_t i = 0; i < n; ++i)
            if (at(pos_ + i) != static_cast<std::uint8_t>(word[i])) return false;
        pos_ += n;
        return true;
    }

    // White space, one value, its end marked, white space.
    bool value(Cell& out) {
        spaces();
        bool read = false;
        switch (pos_ < length_ ? at(pos_) : 0) {  // the first unit tells which value can start here
        case 't': read = literal("true"); if (read) logic::make_at(out, true); break;
        case 'f': read = literal("false"); if (read) logic::make_at(out, false); break;
        case 'n': read = literal("null"); if (read) none::make_at(out); break;
        case '{': read = object(out); break;
        case '[': read = array(out); break;
        case '"': read = string_literal(out); break;
        default: read = number(out); break;
        }
        if (!read) return false;
        mark_ = pos_;
        spaces();
        return true;
    }

    void enter(std::int32_t cost) {
        depth_ += cost;
        if (depth_ > depth_budget) runtime::raise_error(ErrorCategory::script, "parse-stack");
    }

    bool array(Cell& out) {
        enter(array_cost);
        ++pos_;
        Cell blk{};
        block::make_at(blk, 4);
        Cell* held = stack::push(blk);
        spaces();
        if (!next_is(']')) {
            Cell v{};
            if (!value(v)) return false;
            block::append_copy(*held, v);
            while (separator()) {
                if (!value(v)) return false;
                block::append_copy(*held, v);
            }
        }
        if (!next_is(']')) return false;
        ++pos_;
        depth_ -= array_cost;
        out = *held;
        stack::pop(1);
        return true;
    }

    // White space, a comma and white space; nothing is taken without the comma.
    bool separator() {
        const std::int32_t at_start = pos_;
        spaces();
        if (next_is(',')) {
            ++pos_;
            spaces();
            return true;
        }
        pos_ = at_start;  // white space before a missing comma was counted already
        return false;
    }

    bool object(Cell& out) {
        enter(object_cost);
        ++pos_;
        Cell blk{};
        block::make_at(blk, 4);
        Cell* held = stack::push(blk);
        spaces();
        if (next_is('"')) {
            if (!property(*held)) return false;
            while (separator())
                if (!property(*held)) return false;
        }
        if (!next_is('}')) return false;
        ++pos_;
        depth_ -= object_cost;
        map::make_at(out, held, 0);  // the block is this reader's own: the map takes it as it is
        stack::pop(1);
        return true;
    }

    // A name, a colon and a value; the name becomes a word when it looks like one.
    bool property(const Cell& blk) {
        spaces();
        Cell name{};
        if (!next_is('"') || !string_literal(name)) return false;
        spaces();
        if (!next_is(':')) return false;
        mark_ = ++pos_;
        block::append_copy(blk, key_of(name));
        Cell v{};
        if (!value(v)) return false;
        block::append_copy(blk, v);
        return true;
    }

    // The ASCII characters a word may not hold.
    static constexpr auto non_word = [] {
        std::array<bool, 128> t{};
        for (const char* p = "/\\^,[](){}\"#%$@:;\n \t\r<>"; *p != 0; ++p) t[static_cast<std::size_t>(*p)] = true;
        return t;
    }();
    static bool word_char(std::uint32_t c) { return c != 0xA0 && (c > 127 || !non_word[c]); }

    // The key of a name: a word when the name reads as one, else the string.
    Cell key_of(const Cell& name) {
        Cell probe = name;
        const SeriesBuffer* b = memory::buffer(name.series_node());
        const std::int32_t n = b->used_bytes() / static_cast<std::int32_t>(b->unit());
        bool wordy = n > 0;
        bool ascii = b->unit() == 1;
        for (std::int32_t i = 0; wordy && i < n; ++i) {
            const std::uint32_t c = b->unit() == 1 ? b->head[i]
                                                   : string::get_char(b->head + static_cast<std::size_t>(i) * b->unit(), b->unit());
            wordy = word_char(c) && (i > 0 || ((c < '0' || c > '9') && c != '\''));
            ascii = ascii && c < 128;
        }
        if (!wordy) return name;
        // An ASCII name is its own UTF-8.
        const std::string text = ascii ? std::string(reinterpret_cast<const char*>(b->head), static_cast<std::size_t>(n))
                                       : string::utf8_of(name);
        const auto known = words_.find(text);
        if (known != words_.end()) return known->second;
        Cell proto = datatype_of(TypeId::word);
        const Cell w = *word::to(&proto, &probe, TypeId::word);  // raises for a name the lexer reads otherwise
        words_.emplace(text, w);
        return w;
    }

    bool hex4(std::int32_t from) const {
        if (from + 4 > length_) return false;
        for (std::int32_t i = from; i < from + 4; ++i) {
            const std::uint32_t c = at(i);
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
        }
        return true;
    }

    bool string_literal(Cell& out) {
        const std::int32_t start = ++pos_;
        bool escaped = false;
        while (pos_ < length_) {
            if (unit_ == 1) {  // a run of plain bytes at once
                while (pos_ < length_ && data_[pos_] >= 0x20 && data_[pos_] != '"' && data_[pos_] != '\\') ++pos_;
                if (pos_ >= length_) break;
            }
            const std::uint32_t c = at(pos_);
            if (c == '"') break;
            if (c < 0x20) return false;
            if (c == '\\') {
                escaped = true;
                if (pos_ + 1 >= length_) return false;
                const std::uint32_t e = at(pos_ + 1);
                if (e == 'u') {
                    if (!hex4(pos_ + 2)) return false;
                    pos_ += 6;
                } else if (e == '"' || e == 't' || e == '\\' || e == '/' || e == 'n' || e == 'r' || e == 'b' ||
                           e == 'f') {
                    pos_ += 2;
                } else {
                    return false;
                }
                continue;
            }
            ++pos_;
        }
        if (pos_ >= length_) return false;
        const std::int32_t end = pos_++;
        if (!escaped && unit_ == 1) {
            string::make_at_unit(out, end - start, 1);
            SeriesBuffer* b = memory::buffer(out.series_node());
            std::memcpy(b->head, data_ + start, static_cast<std::size_t>(end - start));
            b->tail = b->head + (end - start);
            return true;
        }
        out = unescape(start, end);
        return true;
    }

    std::uint32_t hex_value(std::int32_t i) const {
        std::uint32_t v = 0;
        for (std::int32_t k = i; k < i + 4; ++k) {
            const std::uint32_t c = at(k);
            v = v * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        return v;
    }

    // The text of a string body with its escapes decoded. A high surrogate
    // needs a low one after it, else invalid-data is raised with the body as
    // the decoding left it (the decoded part, then the rest as it was).
    Cell unescape(std::int32_t start, std::int32_t end) {
        std::vector<std::uint32_t> out;
        std::int32_t i = start;
        const auto broken = [&]() {
            std::vector<std::uint32_t> left = out;
            for (std::int32_t k = start + static_cast<std::int32_t>(out.size()); k < end; ++k) left.push_back(at(k));
            Cell text = text_of(left.data(), left.size());
            runtime::raise_error(ErrorCategory::script, "invalid-data", &text);
        };
        while (i < end) {
            std::uint32_t c = at(i++);
            if (c == '\\') {
                c = at(i++);
                switch (c) {
                case 'b': c = 0x08; break;
                case 'f': c = 0x0C; break;
                case 'n': c = '\n'; break;
                case 'r': c = '\r'; break;
                case 't': c = '\t'; break;
                case 'u': {
                    const std::uint32_t hi = hex_value(i);
                    i += 4;
                    c = hi;
                    if (hi >= 0xD800 && hi <= 0xDBFF) {
                        if (end - i < 6 || at(i) != '\\' || at(i + 1) != 'u') broken();
                        const std::uint32_t lo = hex_value(i + 2);
                        if (lo < 0xDC00 || lo > 0xDFFF) broken();
                        i += 6;
                        c = 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00);
                    }
                    break;
                }
                default: break;  // a quote, a backslash or a slash stands for itself
                }
            }
            out.push_back(c);
        }
        return text_of(out.data(), out.size());
    }

    // A number as JSON writes it, loaded as the lexer loads the same text.
    bool number(Cell& out) {
        const std::int32_t start = pos_;
        std::int32_t i = pos_;
        if (i < length_ && at(i) == '-') ++i;
        if (!digit_at(i)) return false;
        if (at(i) == '0') ++i;
        else while (digit_at(i)) ++i;
        bool whole = true;
        if (i < length_ && at(i) == '.' && digit_at(i + 1)) {
            whole = false;
            for (++i; digit_at(i);) ++i;
        }
        if (i < length_ && (at(i) == 'e' || at(i) == 'E')) {
            std::int32_t k = i + 1;
            if (k < length_ && (at(k) == '+' || at(k) == '-')) ++k;
            if (digit_at(k)) {
                whole = false;
                for (i = k; digit_at(i);) ++i;
            }
        }
        pos_ = i;
        const bool minus = at(start) == '-';
        if (whole && i - start - (minus ? 1 : 0) <= 9) {  // fits 32 bits: read here
            std::int32_t v = 0;
            for (std::int32_t k = start + (minus ? 1 : 0); k < i; ++k) v = v * 10 + static_cast<std::int32_t>(at(k) - '0');
            out.reset(TypeId::integer);
            out.set_int(minus ? -v : v);
            return true;
        }
        std::string text;
        for (std::int32_t k = start; k < i; ++k) text.push_back(static_cast<char>(at(k)));
        return lexer::scan_first_value(text.data(), static_cast<std::int32_t>(text.size()), out);
    }

    Cell input_;
    const std::uint8_t* data_;  // the input does not change or move while it is read
    std::uint32_t unit_;
    std::int32_t length_;
    std::int32_t pos_;
    std::int32_t mark_;
    std::int32_t last_lf_;
    std::int32_t line_ = 1;
    std::int32_t depth_ = 0;
    std::unordered_map<std::string, Cell> words_;  // names already made words
};

void load_json(bool check, const std::int32_t*) {
    if (check && !arg(0)->is(TypeId::string)) expect_arg("load-json", *arg(0), "input");
    Reader reader(*arg(0));
    Cell out{};
    if (!reader.read(out)) out = reader.failure();
    stack::set_result_only(out);
}

// --- Writing ---------------------------------------------------------------------

class Writer {
public:
    Writer(NodeId out, const Cell* indent, bool ascii) : out_(out), indent_(indent), ascii_(ascii) {}

    void value(const Cell& v) {
        if (++depth_ > max_depth) runtime::raise_error(ErrorCategory::internal, "stack-overflow");
        switch (v.type()) {
        case TypeId::none: string::append_nul_text(out_, "null"); break;
        case TypeId::logic: string::append_nul_text(out_, v.logic_value() ? "true" : "false"); break;
        case TypeId::integer: case TypeId::float_: form(v); break;
        case TypeId::percent: {
            Cell proto = datatype_of(TypeId::float_);
            Cell p = v;
            form(*registry::handler<Action::to>(TypeId::float_)(&proto, &p, TypeId::float_));
            break;
        }
        case TypeId::string: text(v); break;
        case TypeId::block: array(v); break;
        case TypeId::map: case TypeId::object: object(v); break;
        default: other(v); break;
        }
        --depth_;
    }

private:
    static constexpr std::int32_t max_depth = 2000;

    void form(const Cell& v) {
        Cell c = v;
        actions::form_to(&c, out_, -1);
    }
    void put(std::uint32_t c) { string::append_char(out_, c); }

    bool normal(std::uint32_t c) const {
        if (ascii_) return c >= 32 && c <= 127 && c != '"' && c != '\\';
        return c >= 32 && c != '"' && c != '\\';
    }

    void hex4(std::uint32_t v) {  // v below 0x10000
        static constexpr char digits[] = "0123456789ABCDEF";
        const char s[7] = {'\\', 'u', digits[(v >> 12) & 15], digits[(v >> 8) & 15], digits[(v >> 4) & 15],
                           digits[v & 15], '\0'};
        string::append_nul_text(out_, s);
    }

    void text(const Cell& s) {
        put('"');
        const SeriesBuffer* b = memory::buffer(s.series_node());
        const std::uint32_t unit = b->unit();
        const std::int32_t n = b->used_bytes() / static_cast<std::int32_t>(unit);
        std::int32_t i = std::clamp(s.series_head(), 0, n);
        while (i < n) {
            std::int32_t run = i;  // a run of normal characters goes in one piece
            const std::uint8_t* head = memory::buffer(s.series_node())->head;
            if (unit == 1) while (run < n && normal(head[run])) ++run;
            else while (run < n && normal(string::get_char(head + static_cast<std::size_t>(run) * unit, unit))) ++run;
            if (run > i) {
                Cell piece = s;
                piece.set_series_head(i);
                string::concatenate(piece_target(), piece, run - i, 0, false, string::ConcatMode::append);
                i = run;
                continue;
            }
            const std::uint32_t c = string::get_char(memory::buffer(s.series_node())->head + static_cast<std::size_t>(i) * unit, unit);
            ++i;
            switch (c) {
            case '"': string::append_nul_text(out_, "\\\""); break;
            case '\\': string::append_nul_text(out_, "\\\\"); break;
            case 0x08: string::append_nul_text(out_, "\\b"); break;
            case 0x0C: string::append_nul_text(out_, "\\f"); break;
            case '\n': string::append_nul_text(out_, "\\n"); break;
            case '\r': string::append_nul_text(out_, "\\r"); break;
            case '\t': string::append_nul_text(out_, "\\t"); break;
            default:
                if (c <= 0xFFFF) {
                    hex4(c);
                } else {
                    hex4(((c - 0x10000) >> 10) + 0xD800);
                    hex4(((c - 0x10000) & 1023) + 0xDC00);
                }
            }
        }
        put('"');
    }

    Cell& piece_target() {
        target_.reset(TypeId::string);
        target_.set_series_node(out_);
        target_.set_series_head(0);
        return target_;
    }

    void new_line_and_indent() {
        put('\n');
        for (std::int32_t i = 0; i < level_; ++i) indent_text();
    }
    void indent_text() {
        Cell piece = *indent_;
        string::concatenate(piece_target(), piece, -1, 0, false, string::ConcatMode::append);
    }

    void array(const Cell& blk) {
        const std::int32_t n = block::count_from_head(blk);
        if (n <= 0) return string::append_nul_text(out_, "[]");
        const Cell b = blk;
        const std::int32_t h = b.series_head();
        put('[');
        if (indent_ != nullptr) ++level_;
        for (std::int32_t i = 0; i < n && h + i < block::length_of(b); ++i) {
            if (i > 0) put(',');
            if (indent_ != nullptr) new_line_and_indent();
            value(*block::get_cell(b, h + i));
        }
        if (indent_ != nullptr) {
            --level_;
            new_line_and_indent();
        }
        put(']');
    }

    // The keys (words-of) and, in the same order, the values of a map or an object.
    void object(const Cell& m) {
        Cell keys = m;
        Cell field{};
        word::make_at(words::id(words::Sym::words), field);
        Cell* held = stack::push(*registry::handler<Action::reflect>(m.type())(&keys, &field));
        const std::int32_t n = block::count_from_head(*held);
        Cell* values = nullptr;
        if (m.is(TypeId::map)) {
            Cell vals = m;
            word::make_at(words::id(words::Sym::values), field);
            values = stack::push(*registry::handler<Action::reflect>(m.type())(&vals, &field));
        }
        if (n <= 0) {
            string::append_nul_text(out_, "{}");
        } else {
            put('{');
            if (indent_ != nullptr) ++level_;
            for (std::int32_t i = 0; i < n; ++i) {
                if (i > 0) put(',');
                if (indent_ != nullptr) new_line_and_indent();
                const Cell key = *block::get_cell(*held, i);
                Cell v{};
                if (values != nullptr) {
                    v = *block::get_cell(*values, i);
                } else {
                    const Cell* f = object::get_word_field(m, key);
                    if (f != nullptr) v = *f;
                    else v.reset(TypeId::unset);
                }
                if (key.is(TypeId::string)) {
                    text(key);
                } else {
                    Cell name{};
                    string::make_at(name, 16);
                    Cell k = key;
                    if (word::is_any_word(key.type())) actions::form_to(&k, name.series_node(), -1);
                    else actions::mold_to(&k, name.series_node(), MoldOptions{}, -1);
                    text(name);
                }
                if (indent_ != nullptr) string::append_nul_text(out_, ": ");
                else put(':');
                value(v);
            }
            if (indent_ != nullptr) {
                --level_;
                new_line_and_indent();
            }
            put('}');
        }
        stack::pop(values != nullptr ? 2 : 1);
    }

    // Any other datatype: an any-block as an array, an any-string as the
    // string of its form, anything else as the string of its mold.
    void other(const Cell& v) {
        Cell c = v;
        if (is_any_block_type(v.type())) {
            Cell proto = datatype_of(TypeId::block);
            Cell* held = stack::push(*registry::handler<Action::to>(TypeId::block)(&proto, &c, TypeId::block));
            value(*held);
            stack::pop(1);
            return;
        }
        Cell s{};
        string::make_at(s, 16);
        Cell* held = stack::push(s);
        if (is_any_string_type(v.type())) actions::form_to(&c, held->series_node(), -1);
        else actions::mold_to(&c, held->series_node(), MoldOptions{}, -1);
        text(*held);
        stack::pop(1);
    }

    NodeId out_;
    const Cell* indent_;
    bool ascii_;
    std::int32_t level_ = 0;
    std::int32_t depth_ = 0;
    Cell target_{};
};

void to_json(bool, const std::int32_t* refinements) {
    const Cell data = *arg(0);
    const Cell* indent = used(refinements, refine::to_json::pretty) ? arg(refinements[refine::to_json::pretty]) : nullptr;
    if (indent != nullptr && !indent->is(TypeId::string)) expect_arg("to-json", *indent, "indent");
    Cell result{};
    string::make_at(result, 4000);
    Cell* held = stack::push(result);
    Writer(held->series_node(), indent, used(refinements, refine::to_json::ascii)).value(data);
    stack::set_result_only(*held);
}

}  // namespace

void register_json() {
    set(Native::load_json, load_json);
    set(Native::to_json, to_json);
}

}  // namespace kiv::natives
