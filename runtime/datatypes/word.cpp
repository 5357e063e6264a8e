// The word types: makers that bind in the global context, conversions, the
// five molds, comparison by symbol (case-insensitive through canonical ids)
// and index?. Word cells reference only their context and symbol.
#include "runtime/datatypes/word.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/words.h"
#include "runtime/io/lexer.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <string>

namespace kiv::word {

namespace {

[[noreturn]] void bad_to_arg(TypeId target, const Cell& value) {
    const Cell type = datatype::of(target);
    runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type, &value);
}

// The first value of text, scanned by the lexer; false when none scans.
bool scan_word_token(const std::string& text, Cell& out) {
    return lexer::scan_first_value(text.data(), static_cast<std::int32_t>(text.size()), out);
}

std::string utf8_of_text(Cell& text) {
    std::string utf8;
    const std::int32_t n = string::length_from_head(text);
    for (std::int32_t i = 0; i < n; ++i) {
        std::uint8_t buf[4];
        const int len = unicode::encode_utf8_char(
            string::get_char_at_index(text, text.series_head() + i), buf);
        utf8.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(len));
    }
    return utf8;
}

std::string utf8_of_char(std::uint32_t cp) {
    std::uint8_t buf[4];
    const int len = unicode::encode_utf8_char(cp, buf);
    return std::string(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(len));
}

}  // namespace

Cell* make_from_name(const char* name) {
    Cell w{};
    make_at(symbol::make(name), w);
    if (words::recording) return block::append_copy(block::root(), w);
    return context::find_or_add_global_word(w.word_symbol(), true, true);
}

void make_at(SymbolId sym, Cell& cell) {
    const Cell entry = *context::find_or_add_global_word(sym, true, false);
    cell.reset(TypeId::word);
    cell.set_word(context::global(), sym, entry.word_index());
}

Cell* make_in(SymbolId sym, const Cell& blk) {
    Cell w{};
    make_at(sym, w);
    return block::append_copy(blk, w);
}

void make_kind_at(TypeId t, const char* name, Cell& cell) {
    make_at(symbol::make(name), cell);
    cell.set_type(t);
}

Cell* find_in_context_or_global(NodeId ctx, SymbolId sym) {
    const std::int32_t index = context::find_symbol(ctx, sym, false);
    if (index >= 0) return context::word_at(ctx, index);
    return context::find_or_add_global_word(sym, true, false);
}

void get_value(const Cell& word, Cell& out) {
    const Cell* slot = context::get_word_cell(word);
    if (slot->is(TypeId::unset)) runtime::raise_error(ErrorCategory::script, "no-value", &word);
    out = *slot;
}

Cell* set_value(Cell& word, const Cell& value) {
    if (value.is(TypeId::unset)) runtime::raise_error(ErrorCategory::script, "need-value", &word);
    return context::set_word(word, value);
}

std::int32_t append_name(SymbolId sym, NodeId out, std::int32_t part) {
    const std::string name(symbol::name(sym));   // a copy: appending may allocate
    if (name.empty()) return part;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(name.data());
    string::append_utf8(out, name.data(), static_cast<std::int32_t>(name.size()));
    return part - unicode::count_utf8_chars(bytes, bytes + name.size());
}

void name_string(SymbolId sym, Cell& out) {
    const std::string name(symbol::name(sym));
    string::make_at(out, static_cast<std::int32_t>(name.size()));
    if (!name.empty())
        string::append_utf8(out.series_node(), name.data(), static_cast<std::int32_t>(name.size()));
}

Cell* to(Cell* proto, Cell* spec, TypeId type) {
    Cell result{};
    switch (spec->type()) {
    case TypeId::datatype:
        make_at(symbol::make(registry::type_name(spec->datatype_id()).name), result);
        break;
    case TypeId::logic:
        make_at(symbol::make(spec->logic_value() == 1 ? "true" : "false"), result);
        break;
    case TypeId::string:
    case TypeId::char_: {
        const std::string text =
            spec->is(TypeId::string) ? utf8_of_text(*spec) : utf8_of_char(spec->char_value());
        if (!scan_word_token(text, result) || !is_word_like(result.type()))
            runtime::raise_error(ErrorCategory::script, "invalid-chars", spec);
        break;
    }
    case TypeId::word: case TypeId::set_word: case TypeId::lit_word: case TypeId::get_word:
        result = *spec;
        break;
    case TypeId::refinement:
    case TypeId::issue: {
        const std::string text(symbol::name(spec->word_symbol()));
        if (!scan_word_token(text, result) || result.type() < TypeId::word ||
            result.type() > TypeId::get_word)
            bad_to_arg(type, *spec);
        result.set_type(TypeId::word);
        context::bind_word(context::global(), result);
        break;
    }
    default:
        bad_to_arg(type, *spec);
    }
    result.set_type(type);
    *proto = result;
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    return append_name(value->word_symbol(), out, part);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell*, std::int32_t part,
                  std::int32_t) {
    const SymbolId sym = value->word_symbol();
    switch (value->type()) {
    case TypeId::set_word: {
        part = append_name(sym, out, part);
        string::append_char(out, ':');
        return part - 1;
    }
    case TypeId::lit_word: string::append_char(out, '\''); break;
    case TypeId::get_word: string::append_char(out, ':'); break;
    case TypeId::refinement: string::append_char(out, '/'); break;
    default: return append_name(sym, out, part);
    }
    return append_name(sym, out, part - 1);
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    const TypeId t1 = value1->type(), t2 = value2->type();
    if ((t2 == TypeId::issue && t1 != TypeId::issue) || !is_word_like(t2)) return not_comparable;
    const SymbolId s1 = value1->word_symbol(), s2 = value2->word_symbol();
    const bool canonical_equal = symbol::resolve_alias(s1) == symbol::resolve_alias(s2);
    const bool word_and_lit = (t1 == TypeId::word && t2 == TypeId::lit_word) ||
                              (t1 == TypeId::lit_word && t2 == TypeId::word);
    switch (op) {
    case CompareOp::same:
        return s1 == s2 && value1->word_context() == value2->word_context() && t1 == t2 ? 0 : 1;
    case CompareOp::parse_strict:
        if (word_and_lit) return s1 == s2 ? 0 : 1;
        return t1 == t2 && s1 == s2 ? 0 : 1;
    case CompareOp::strict_equal:
        return t1 == t2 && s1 == s2 ? 0 : 1;
    case CompareOp::parse_equal:
        if (word_and_lit) return canonical_equal ? 0 : 1;
        return t1 == t2 && canonical_equal ? 0 : 1;
    case CompareOp::equal: case CompareOp::not_equal: case CompareOp::find:
        return canonical_equal ? 0 : 1;
    default:
        return symbol::compare_names(s1, s2, op);
    }
}

Cell* index_q(Cell* value) {
    const std::int32_t index = value->word_index();
    if (index < 0) {
        none::make_at(*value);
    } else {
        value->reset(TypeId::integer);
        value->set_int(index + 1);
    }
    return value;
}

void init() {
    static constexpr registry::Registration r{TypeId::word, registry::table({
                                                  {Action::make, to},
                                                  {Action::to, to},
                                                  {Action::form, form},
                                                  {Action::mold, mold},
                                                  {Action::compare, compare},
                                                  {Action::index_q, index_q},
                                              })};
    registry::register_type(r);
}

namespace {

// The four kinds that take everything from word! but their mold;
// refinement! has no index?.
consteval registry::ActionTable word_kind_table(bool with_index) {
    return with_index ? registry::table({
                            {Action::mold, mold},
                        })
                      : registry::table({
                            {Action::mold, mold},
                            {Action::index_q, registry::refuse},
                        });
}

}  // namespace

void init_lit_word() {
    static constexpr registry::Registration r{TypeId::lit_word, word_kind_table(true)};
    registry::register_type(r);
}

void init_set_word() {
    static constexpr registry::Registration r{TypeId::set_word, word_kind_table(true)};
    registry::register_type(r);
}

void init_get_word() {
    static constexpr registry::Registration r{TypeId::get_word, word_kind_table(true)};
    registry::register_type(r);
}

void init_refinement() {
    static constexpr registry::Registration r{TypeId::refinement, word_kind_table(false)};
    registry::register_type(r);
}

}  // namespace kiv::word
