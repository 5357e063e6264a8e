// error!: error values, the catalogue they name and the error report. The
// catalogue is an object of ten category objects built once from its boot
// text; an error is a ten-field object context whose code always agrees with
// its type and id words when made here. Throwing and catching are the
// evaluator's; raise.cpp builds every runtime error through build().
#include "runtime/datatypes/error.h"

#include "runtime/core/assert.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/services.h"
#include "runtime/core/runtime_error.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace kiv::boot_text {
extern const std::string_view errors;  // library/errors.kiv, embedded by the build
}

namespace kiv::error {

namespace {

constexpr std::uint32_t error_class = 1;
constexpr std::int32_t arg_part_limit = 80;   // each message argument
constexpr std::int32_t near_part_limit = 40;  // near and files
constexpr std::int32_t stack_part_limit = 80; // the call trace (thousands of calls deep on overflow)

constexpr const char* field_names[field_count] = {
    "code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack", "files",
};  // ORDER ERROR-FIELDS
constexpr const char* category_names[] = {
    "throw", "note", "syntax", "script", "math", "access", "reserved1", "reserved2", "user",
    "internal",
};  // ORDER ERROR-CATEGORIES
constexpr std::int32_t categories = 10;

symbol::SymbolId field_symbols[field_count] = {};
Cell catalog_cell{};  // object! of the categories; a copy lives in the root block
bool loaded = false;

// --- Small value helpers ----------------------------------------------------------

Cell make_word(symbol::SymbolId sym, TypeId kind = TypeId::word) {
    Cell w{};
    word::make_at(sym, w);
    w.set_type(kind);
    return w;
}

Cell make_integer(std::int32_t n) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(n);
    return c;
}

Cell make_datatype(TypeId t) {
    Cell c{};
    c.reset(TypeId::datatype);
    c.set_datatype_id(t);
    return c;
}

Cell make_utf8_string(std::string_view text) {
    Cell s{};
    string::make_at(s, static_cast<std::int32_t>(text.size()));
    string::append_utf8(s.series_node(), text.data(), static_cast<std::int32_t>(text.size()));
    return s;
}

std::int32_t text_length(NodeId out) {
    Cell s{};
    s.reset(TypeId::string);
    s.set_series_node(out);
    return string::length_from_start(s);
}

// Appends ASCII text; returns the budget left.
std::int32_t append_text(NodeId out, std::string_view text, std::int32_t part) {
    string::append_utf8(out, text.data(), static_cast<std::int32_t>(text.size()));
    return part - static_cast<std::int32_t>(text.size());
}

// Form or mold of a type that has no handler yet (integer!, string!, words
// before their modules fill these slots in).
std::int32_t append_fallback(const Cell& v, NodeId out, bool mold, std::int32_t part) {
    const TypeId t = v.type();
    if (t == TypeId::integer) return append_text(out, std::to_string(v.int_value()), part);
    if (t == TypeId::none) return append_text(out, "none", part);
    if (t >= TypeId::word && t <= TypeId::refinement) {
        if (mold && t == TypeId::lit_word) part = append_text(out, "'", part);
        if (mold && t == TypeId::get_word) part = append_text(out, ":", part);
        if (mold && t == TypeId::refinement) part = append_text(out, "/", part);
        part = word::append_name(v.word_symbol(), out, part);
        if (mold && t == TypeId::set_word) part = append_text(out, ":", part);
        return part;
    }
    if (t == TypeId::string || t == TypeId::file || t == TypeId::url) {
        Cell target{};
        target.reset(TypeId::string);
        target.set_series_node(out);
        Cell src = v;
        const std::int32_t n = string::length_from_head(src);
        if (mold) part = append_text(out, "\"", part);
        string::concatenate(target, src, -1, 0, false, string::ConcatMode::append);
        part -= n;
        if (mold) part = append_text(out, "\"", part);
        return part;
    }
    const char* name = registry::type_name(t).name;
    return append_text(out, name ? name : "?", part);
}

std::int32_t form_value(const Cell& v, NodeId out, std::int32_t part) {
    Cell copy = v;
    if (auto h = registry::handler<Action::form>(v.type())) return h(&copy, out, nullptr, part);
    return append_fallback(v, out, false, part);
}

std::int32_t mold_value(const Cell& v, NodeId out, MoldOptions options, std::int32_t part,
                        std::int32_t indent, bool cut = false) {
    Cell copy = v;
    Cell limit{};  // with cut, a /part argument: nested blocks then stop at the budget
    limit.reset(TypeId::integer);  // instead of descending as deep as the value goes,
    limit.set_int(part);           // which raises too-deep past 1,000 levels
    if (auto h = registry::handler<Action::mold>(v.type()))
        return h(&copy, out, options, cut ? &limit : nullptr, part, indent);
    return append_fallback(v, out, true, part);
}

// Appends the form (or flat mold) of v cut to limit characters; returns the
// budget left.
std::int32_t append_limited(const Cell& v, NodeId out, bool mold, bool only, std::int32_t limit,
                            std::int32_t part) {
    const std::int32_t start = text_length(out);
    if (mold) mold_value(v, out, {.only = only, .flat = true}, limit, 0, true);
    else form_value(v, out, limit);
    std::int32_t added = text_length(out) - start;
    if (added > limit) {
        string::truncate_buffer(out, start + limit);
        added = limit;
    }
    return part - added;
}

// --- The catalogue reader ---------------------------------------------------------

// A reader of the catalogue file's own shape: set-words naming blocks of
// set-word / value pairs, whose values are integers, strings, words, or
// blocks of strings, words and get-words; ";" starts a comment. To be
// replaced by loading the boot text through the lexer.
class CatalogReader {
public:
    explicit CatalogReader(std::string_view text) : text_(text) {}

    // Builds the catalogue object; a malformed text is a fatal runtime error.
    Cell read() {
        const NodeId cat = context::make(categories, false, true, context::Kind::object);
        Cell result{};
        result.reset(TypeId::object);
        result.set_object(cat, 0, 0);
        *context::owner(cat) = result;
        for (std::int32_t index = 0; skip_blanks(); ++index) {
            const symbol::SymbolId name = expect_set_word();
            if (index >= categories || name != symbol::make(category_names[index]))
                fail("categories out of order");
            Cell category = read_category(index);
            std::int32_t position = 0;
            context::find_or_add_symbol(cat, name, false, position);
            *context::value_at(cat, position) = category;
        }
        if (context::word_count(cat) != categories) fail("categories missing");
        return result;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;

    [[noreturn]] void fail(const char* why) {
        std::fprintf(stderr, "*** Catalogue Error: line %d: %s\n", line_, why);
        runtime::report_runtime_error(runtime::error_unknown, 0);
    }

    // Skips blanks and comments; false at the end of the text.
    bool skip_blanks() {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '\n') ++line_;
            if (c == ';') {
                while (at_ < text_.size() && text_[at_] != '\n') ++at_;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++at_;
            } else {
                return true;
            }
        }
        return false;
    }

    static bool delimiter(char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '[' || c == ']' ||
               c == ';' || c == '"';
    }

    std::string_view name_token() {
        const std::size_t start = at_;
        while (at_ < text_.size() && !delimiter(text_[at_])) ++at_;
        return text_.substr(start, at_ - start);
    }

    symbol::SymbolId expect_set_word() {
        if (!skip_blanks()) fail("unexpected end of text");
        std::string_view name = name_token();
        if (name.size() < 2 || name.back() != ':') fail("set-word expected");
        return symbol::make(name.substr(0, name.size() - 1));
    }

    void expect(char c) {
        if (!skip_blanks() || text_[at_] != c) fail(c == '[' ? "[ expected" : "] expected");
        ++at_;
    }

    // One category block; fields code and type first.
    Cell read_category(std::int32_t index) {
        expect('[');
        const NodeId ctx = context::make(16, false, true, context::Kind::object);
        Cell object{};
        object.reset(TypeId::object);
        object.set_object(ctx, 0, 0);
        *context::owner(ctx) = object;
        for (std::int32_t position = 0; skip_blanks() && text_[at_] != ']'; ++position) {
            const symbol::SymbolId name = expect_set_word();
            Cell value = read_value(false);
            if (position == 0 && (name != field_symbols[0] || !value.is(TypeId::integer) ||
                                  value.int_value() != index * 100))
                fail("code expected, the category index times 100");
            if (position == 1 && (name != field_symbols[1] || !value.is(TypeId::string)))
                fail("type expected, the category's title");
            std::int32_t slot = 0;
            if (context::find_or_add_symbol(ctx, name, false, slot) >= 0) fail("id given twice");
            *context::value_at(ctx, slot) = value;
        }
        expect(']');
        if (context::word_count(ctx) < 2) fail("code and type missing");
        return object;
    }

    Cell read_value(bool in_block) {
        if (!skip_blanks()) fail("value expected");
        const char c = text_[at_];
        if (c == '"') return read_string();
        if (c == '[' && !in_block) {
            ++at_;
            Cell blk{};
            block::make_at(blk, 8);
            while (skip_blanks() && text_[at_] != ']') {
                Cell item = read_value(true);
                block::append_copy(blk, item);
            }
            expect(']');
            return blk;
        }
        std::string_view token = name_token();
        if (token.empty()) fail("value expected");
        if ((token[0] >= '0' && token[0] <= '9') || token[0] == '-') {
            std::int32_t n = 0;
            bool digits = token[0] != '-' || token.size() > 1;
            for (std::size_t i = token[0] == '-' ? 1 : 0; i < token.size(); ++i) {
                if (token[i] < '0' || token[i] > '9') digits = false;
                else n = n * 10 + (token[i] - '0');
            }
            if (digits) return make_integer(token[0] == '-' ? -n : n);
        }
        if (token[0] == ':' && token.size() > 1) return make_word(symbol::make(token.substr(1)), TypeId::get_word);
        if (token.back() == ':') fail("set-word where a value belongs");
        return make_word(symbol::make(token));
    }

    // A "..." string; ^/ is a line feed, ^- a tab, ^x the character x.
    Cell read_string() {
        ++at_;
        std::string text;
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (c == '\n') fail("line feed inside a string");
            if (c == '^' && at_ < text_.size()) {
                c = text_[at_++];
                c = c == '/' ? '\n' : c == '-' ? '\t' : c;
            }
            text += c;
        }
        if (at_ >= text_.size()) fail("string not closed");
        ++at_;
        return make_utf8_string(text);
    }
};

// The error in flight lives in the C++ exception, which no root sees.
void mark_last_error() { collector::mark_cell(runtime::last_error()); }

// --- Error values ---------------------------------------------------------------------

// A new error with every field none; its context's owner is the error.
Cell new_error() {
    const NodeId ctx = context::make(field_count, false, true, context::Kind::object);
    for (std::int32_t f = 0; f < field_count; ++f) {
        std::int32_t position = 0;
        context::find_or_add_symbol(ctx, field_symbols[f], false, position);
        KIV_ASSERT(position == f, "error fields keep their order");
        context::value_at(ctx, f)->reset(TypeId::none);
    }
    Cell e{};
    e.reset(TypeId::error);
    e.set_object(ctx, error_class, 0);
    *context::owner(ctx) = e;
    return e;
}

Cell& slot(const Cell& e, Field f) {
    return *context::value_at(e.object_context(), static_cast<std::int32_t>(f));
}

void set_near(const Cell& e) {
    const Cell& code = interpreter::current_code();
    if (!code.is(TypeId::unset)) slot(e, Field::near) = code;
}

// Evaluates a set-word spec block bound to the error's fields (make error!
// with a spec block); the caller's block keeps its bindings.
void eval_spec(const Cell& error, const Cell& spec) {
    Cell code{};
    block::clone(code, spec, true, false);
    collector::Root keep(code);
    context::bind_block(keep.cell(), error.object_context(), false);
    interpreter::run_block(keep.cell());
}

void set_entry(const Cell& e, std::int32_t category, std::int32_t position) {
    slot(e, Field::code) = make_integer(code_of(category, position));
    slot(e, Field::type) = category_word(category);
    slot(e, Field::id) = id_word(category, position);
}

[[noreturn]] void invalid_spec_field(Field f) {
    Cell name = make_word(field_symbols[static_cast<int>(f)]);
    runtime::raise_error(ErrorCategory::script, "invalid-spec-field", &name);
}

// Checks the type and id fields after a spec block set them; sets code.
void settle_entry(const Cell& e) {
    const Cell type = slot(e, Field::type);
    const std::int32_t category = type.is(TypeId::word) ? find_category(type.word_symbol()) : -1;
    if (category < 0) invalid_spec_field(Field::type);
    const Cell id = slot(e, Field::id);
    const std::int32_t position = id.is(TypeId::word) ? find_id(category, id.word_symbol()) : -1;
    if (position < 0) invalid_spec_field(Field::id);
    slot(e, Field::code) = make_integer(code_of(category, position));
}

// make error! from [category id].
void make_from_pair(Cell& out, const Cell* first, const Cell* end) {
    if (!first->is(TypeId::word) || find_category(first->word_symbol()) < 0)
        invalid_spec_field(Field::type);
    const std::int32_t category = find_category(first->word_symbol());
    if (first + 1 >= end) invalid_spec_field(Field::id);
    const Cell id = first[1];
    if (!id.is(TypeId::word)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &id);
    const std::int32_t position = find_id(category, id.word_symbol());
    if (position < 0) invalid_spec_field(Field::id);
    Cell e = new_error();
    set_entry(e, category, position);
    set_near(e);
    out = e;
}

void copy_args(const Cell& e, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    if (arg1) slot(e, Field::arg1) = *arg1;
    if (arg2) slot(e, Field::arg2) = *arg2;
    if (arg3) slot(e, Field::arg3) = *arg3;
}

// Rewrites a malformed error as internal invalid-error naming the culprit.
void make_invalid(const Cell& e, const Cell& culprit) {
    slot(e, Field::arg1) = culprit;
    slot(e, Field::type) = category_word(static_cast<std::int32_t>(ErrorCategory::internal));
    slot(e, Field::id) = id_word(static_cast<std::int32_t>(ErrorCategory::internal),
                                 find_id(static_cast<std::int32_t>(ErrorCategory::internal),
                                         "invalid-error"));
}

// The category object of the error's type word, or -1.
std::int32_t category_of(const Cell& e) {
    const Cell& type = slot(e, Field::type);
    return word::is_any_word(type.type()) ? find_category(type.word_symbol()) : -1;
}

}  // namespace

// --- The catalogue ----------------------------------------------------------------------

void load_catalog() {
    for (std::int32_t f = 0; f < field_count; ++f) field_symbols[f] = symbol::make(field_names[f]);
    CatalogReader reader(boot_text::errors);
    const Cell catalogue = reader.read();
    block::append_copy(block::root(), catalogue);  // keeps the catalogue alive
    install_catalog(catalogue);
}

void install_catalog(const Cell& catalogue) {
    for (std::int32_t f = 0; f < field_count; ++f) field_symbols[f] = symbol::make(field_names[f]);
    catalog_cell = catalogue;
    if (!loaded) collector::add_mark_callback(mark_last_error);
    loaded = true;
    static constexpr runtime::ErrorBuilder builder{
        [](Cell& out, ErrorCategory category, const char* id, const Cell* arg1,
           const Cell* arg2, const Cell* arg3) { build(out, category, id, arg1, arg2, arg3); },
        [](const Cell& e) { return find_category(type_symbol(e)); },
    };
    runtime::set_error_builder(&builder);
}

bool catalog_loaded() { return loaded; }
const Cell* catalog() { return loaded ? &catalog_cell : nullptr; }
std::int32_t category_count() { return categories; }

std::int32_t find_category(symbol::SymbolId sym) {
    if (!loaded) return -1;
    return context::find_symbol(catalog_cell.object_context(), sym, true);
}

NodeId category_context(std::int32_t category) {
    KIV_ASSERT(loaded && category >= 0 && category < categories, "a category of the catalogue");
    return context::value_at(catalog_cell.object_context(), category)->object_context();
}

std::int32_t find_id(std::int32_t category, symbol::SymbolId sym) {
    const std::int32_t position = context::find_symbol(category_context(category), sym, true);
    return position >= 2 ? position : -1;  // code and type are no ids
}

std::int32_t find_id(std::int32_t category, const char* id) {
    return find_id(category, symbol::make(id));
}

std::int32_t category_size(std::int32_t category) {
    return context::word_count(category_context(category));
}

bool decode(std::int32_t code, std::int32_t& category, std::int32_t& position) {
    if (code < 0 || code / 100 >= categories) return false;
    category = code / 100;
    position = code % 100 + 2;
    return position < category_size(category);
}

Cell category_word(std::int32_t category) {
    Cell w = *context::word_at(catalog_cell.object_context(), category);
    w.set_type(TypeId::word);
    return w;
}

Cell id_word(std::int32_t category, std::int32_t position) {
    Cell w = *context::word_at(category_context(category), position);
    w.set_type(TypeId::word);
    return w;
}

// --- Error values --------------------------------------------------------------------------

Cell* field(const Cell& error, Field f) { return &slot(error, f); }

void build(Cell& out, const Cell& category, const Cell& id, const Cell* arg1, const Cell* arg2,
           const Cell* arg3) {
    const Cell pair[2] = {category, id};
    Cell e{};
    make_from_pair(e, pair, pair + 2);
    copy_args(e, arg1, arg2, arg3);
    out = e;
}

void build(Cell& out, ErrorCategory category, const char* id, const Cell* arg1, const Cell* arg2,
           const Cell* arg3) {
    const auto index = static_cast<std::int32_t>(category);
    const std::int32_t position = find_id(index, id);
    if (position < 0) {  // a raiser naming an id the catalogue lacks
        Cell name = make_word(symbol::make(id));
        build(out, ErrorCategory::internal, "invalid-error", &name);
        return;
    }
    Cell e = new_error();
    set_entry(e, index, position);
    set_near(e);
    copy_args(e, arg1, arg2, arg3);
    out = e;
}

TypeId set_where_if_none(const Cell& error, const Cell& value) {
    Cell& where = slot(error, Field::where);
    if (!where.is(TypeId::none)) return where.type();
    where = value;
    return TypeId::none;
}

symbol::SymbolId type_symbol(const Cell& error) {
    const Cell& w = slot(error, Field::type);
    return word::is_any_word(w.type()) ? w.word_symbol() : 0;
}

symbol::SymbolId id_symbol(const Cell& error) {
    const Cell& w = slot(error, Field::id);
    return word::is_any_word(w.type()) ? w.word_symbol() : 0;
}

std::int32_t stack_trace_level() {
    const Cell* setting = system_object::field("state/stack-trace");
    return setting && setting->is(TypeId::integer) && setting->int_value() > 0
               ? setting->int_value()
               : 0;
}

std::int32_t report(const Cell& error, NodeId out, std::int32_t part) {
    part = append_text(out, "*** ", part);
    std::int32_t category = category_of(error);
    if (category < 0) {
        make_invalid(error, slot(error, Field::type));
        category = category_of(error);
    }
    const Cell id = slot(error, Field::id);
    std::int32_t position =
        word::is_any_word(id.type()) ? find_id(category, id.word_symbol()) : -1;
    if (position < 0) {
        make_invalid(error, id);
        category = category_of(error);
        position = find_id(category, id_symbol(error));
    }
    const NodeId ctx = category_context(category);
    Cell message = *context::value_at(ctx, position);
    if (message.is(TypeId::word)) {  // names the field that holds the message
        const std::int32_t f = context::find_symbol(error.object_context(), message.word_symbol(), true);
        message = f >= 0 ? slot(error, static_cast<Field>(f)) : none::value;
    }
    const Cell title = *context::value_at(ctx, 1);
    part = form_value(title, out, part);
    part = append_text(out, ": ", part);

    if (message.is(TypeId::string)) {
        part = form_value(message, out, part);
    } else if (message.is(TypeId::block)) {
        const bool formed = category == static_cast<std::int32_t>(ErrorCategory::syntax);
        const std::int32_t count = block::count_from_head(message);
        for (std::int32_t i = 0; i < count; ++i) {
            const Cell item = *block::get_cell(message, message.series_head() + i);
            if (item.is(TypeId::string)) {
                part = form_value(item, out, part);
            } else if (item.is(TypeId::word) || item.is(TypeId::get_word)) {
                const std::int32_t f =
                    context::find_symbol(error.object_context(), item.word_symbol(), true);
                if (f >= 0) {
                    const Cell value = slot(error, static_cast<Field>(f));
                    part = append_limited(value, out, !formed, false, arg_part_limit, part);
                }
            }
            if (i + 1 < count) part = append_text(out, " ", part);
        }
    } else {
        make_invalid(error, slot(error, Field::type));
    }

    part = append_text(out, "\n*** Where: ", part);
    const Cell where = slot(error, Field::where);
    if (where.is(TypeId::word)) part = word::append_name(where.word_symbol(), out, part);
    else if (where.is(TypeId::string)) part = form_value(where, out, part);
    else part = append_text(out, "???", part);

    part = append_text(out, "\n*** Near : ", part);
    part = append_limited(slot(error, Field::near), out, true, true, near_part_limit, part);

    if (const std::int32_t level = stack_trace_level(); level > 0) {
        // An empty trace (an error outside every named call) gets no line.
        const Cell stack = slot(error, Field::stack);
        const std::int32_t start = text_length(out);
        const std::int32_t before = part;
        if (stack.is(TypeId::integer)) {
            part = append_text(out, "\n*** Stack: ", part);
            part = stack::form_call_trace(level, stack.int_value(), out, part);
        } else if (stack.is(TypeId::block) && block::count_from_head(stack) > 0) {
            part = append_text(out, "\n*** Stack: ", part);
            part = form_value(stack, out, part);
        }
        if (text_length(out) == start + 12) {  // the header alone
            string::truncate_buffer(out, start);
            part = before;
        } else if (text_length(out) > start + 12 + stack_part_limit) {
            string::truncate_buffer(out, start + 12 + stack_part_limit);
            part = before - 12 - stack_part_limit;
        }
    }
    const Cell files = slot(error, Field::files);
    if (files.is(TypeId::block)) {
        part = append_text(out, "\n*** Files: ", part);
        part = append_limited(files, out, true, true, near_part_limit, part);
    }
    return part;
}

void fill_stack_trace(Cell& error) {
    if (!error.is(TypeId::error)) return;
    const Cell stack = slot(error, Field::stack);
    if (stack.is(TypeId::integer)) {
        const std::int32_t level = stack_trace_level();
        Cell trace{};
        block::make_at(trace, 20);
        collector::Root keep(trace);
        stack::collect_call_trace(level > 0 ? level : 1, trace, stack.int_value());
        slot(error, Field::stack) = trace;
    }
    const Cell* files = system_object::field("state/source-files");
    if (files && files->is(TypeId::block) && block::count_from_head(*files) > 0) {
        Cell copy{};
        block::clone(copy, *files, false, false);
        slot(error, Field::files) = copy;
    }
}

// --- Handlers ---------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId) {
    Cell e{};
    switch (spec->type()) {
    case TypeId::integer: {
        std::int32_t category = 0, position = 0;
        if (!decode(spec->int_value(), category, position))
            runtime::raise_error(ErrorCategory::script, "out-of-range", spec);
        e = new_error();
        set_entry(e, category, position);
        set_near(e);
        break;
    }
    case TypeId::block: {
        Cell blk = *spec;
        const Cell* first = block::head_cell(blk);
        const Cell* end = block::tail_cell(blk);
        if (first < end && first->is(TypeId::word)) {
            make_from_pair(e, first, end);
        } else if (first < end && first->is(TypeId::set_word)) {
            e = new_error();
            collector::Root keep(e);
            eval_spec(e, blk);
            settle_entry(e);
            set_near(e);
        } else {
            runtime::raise_error(ErrorCategory::internal, "invalid-error");
        }
        break;
    }
    case TypeId::string: {
        const Cell text = *spec;
        build(e, ErrorCategory::user, "message", &text);
        break;
    }
    default: {
        const Cell type = make_datatype(TypeId::error);
        runtime::raise_error(ErrorCategory::script, "bad-make-arg", &type, spec);
    }
    }
    *proto = e;
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell*, std::int32_t part) {
    return report(*value, out, part);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell*, std::int32_t part,
                  std::int32_t indent) {
    const Cell e = *value;
    if (!options.only) part = append_text(out, "make error! [", part);
    const std::int32_t count = context::word_count(e.object_context());
    for (std::int32_t f = 0; f < count && part > 0; ++f) {
        if (options.flat) {
            if (f > 0) part = append_text(out, " ", part);
        } else {
            if (!options.only || f > 0) part = append_text(out, "\n", part);
            if (!options.only) part = append_text(out, std::string(static_cast<std::size_t>(4 * (indent + 1)), ' '), part);
        }
        const Cell name = *context::word_at(e.object_context(), f);
        part = word::append_name(name.word_symbol(), out, part);
        part = append_text(out, ": ", part);
        const Cell v = *context::value_at(e.object_context(), f);
        if (v.is(TypeId::word)) part = append_text(out, "'", part);
        part = mold_value(v, out, {.flat = options.flat}, part, indent + 1);
    }
    if (!options.flat && !options.only) part = append_text(out, "\n", part);
    if (!options.flat && indent > 0) part = append_text(out, std::string(static_cast<std::size_t>(4 * indent), ' '), part);
    if (!options.only) part = append_text(out, "]", part);
    return part;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::error)) return not_comparable;
    if (value1->object_context() == value2->object_context()) return 0;
    if (op == CompareOp::same) return 1;
    if (is_equality(op)) {  // equal when every field is
        for (std::int32_t f = 0; f < field_count; ++f) {
            Cell a = slot(*value1, static_cast<Field>(f));
            Cell b = slot(*value2, static_cast<Field>(f));
            if (a.type() != b.type()) return 1;
            auto h = registry::handler<Action::compare>(a.type());
            if (h ? h(&a, &b, CompareOp::equal) != 0
                  : !a.same_payload(b))
                return 1;
        }
        return 0;
    }
    return slot(*value1, Field::code).int_value() - slot(*value2, Field::code).int_value();
}

namespace {
// make/form/mold/compare are error!'s own; reflect, eval-path, copy, find and
// select come from object!, which registers before error!; put and modify,
// which change an object's fields, are refused.
constexpr registry::Registration registration{TypeId::error, registry::table({
    {Action::make,    make},
    {Action::form,    form},
    {Action::mold,    mold},
    {Action::compare, compare},
    {Action::put,     registry::refuse},
    {Action::modify,  registry::refuse},
})};
}  // namespace

void init() { registry::register_type(registration); }

}  // namespace kiv::error
