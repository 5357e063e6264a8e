// load-csv: comma-separated text to rows, a flat block, records or columns, in
// one walk. The walk keeps the matching rules the reader has always had:
// the quote character and a delimiter match without regard to case where
// they open or separate a field, the characters a plain field may hold are
// compared exactly, a line that does not end where it should ends the rows
// read (unless it is the first, which is then read on its own), and every
// line must have as many fields as the first.
#include "runtime/evaluator/natives.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/block_actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kiv::natives {
namespace {

using stack::arg;

std::uint32_t fold(std::uint32_t c) { return case_folding::fold_char(c, true); }

Cell datatype_of(TypeId t) {
    Cell c{};
    datatype::make_at(t, c);
    return c;
}

Cell text_of(const std::string& utf8) {
    Cell text{};
    string::make_at(text, static_cast<std::int32_t>(utf8.size()));
    string::append_utf8(text.series_node(), utf8.data(), static_cast<std::int32_t>(utf8.size()));
    return text;
}

// A user error value with the message (returned, not raised).
Cell error_value(const std::string& message) {
    Cell proto = datatype_of(TypeId::error);
    Cell text = text_of(message);
    return *error::make(&proto, &text, TypeId::error);
}

// The column name after name: A to B, Z to AA, AZ to BA.
Cell next_column_name(const Cell& name) {
    std::vector<std::uint32_t> cps;
    const SeriesBuffer* b = memory::buffer(name.series_node());
    const std::int32_t n = b->used_bytes() / static_cast<std::int32_t>(b->unit());
    for (std::int32_t i = std::clamp(name.series_head(), 0, n); i < n; ++i)
        cps.push_back(string::get_char(b->head + static_cast<std::size_t>(i) * b->unit(), b->unit()));
    std::size_t pos = cps.size();
    for (;;) {
        if (pos == 0) {
            cps.insert(cps.begin(), 'A');
            break;
        }
        --pos;
        if (cps[pos] != 'Z') {
            ++cps[pos];
            break;
        }
        cps[pos] = 'A';
    }
    Cell out{};
    string::make_at(out, static_cast<std::int32_t>(cps.size()));
    for (const std::uint32_t c : cps) string::append_char(out.series_node(), c);
    return out;
}

// The characters of a delimiter: a char!, a string! from its head, or a
// comma when there is none.
std::vector<std::uint32_t> delimiter_chars(const Cell* delimiter) {
    if (delimiter == nullptr) return {','};
    if (delimiter->is(TypeId::char_)) return {delimiter->char_value()};
    std::vector<std::uint32_t> chars;
    const SeriesBuffer* d = memory::buffer(delimiter->series_node());
    const std::int32_t n = d->used_bytes() / static_cast<std::int32_t>(d->unit());
    for (std::int32_t i = std::clamp(delimiter->series_head(), 0, n); i < n; ++i)
        chars.push_back(string::get_char(d->head + static_cast<std::size_t>(i) * d->unit(), d->unit()));
    return chars;
}

struct Options {
    bool header = false, as_columns = false, as_records = false, flat = false, trim = false;
    const Cell* delimiter = nullptr;  // char! or string!; a comma without /with
    std::uint32_t quote = '"';
};

class Reader {
public:
    Reader(const Cell& data, const Options& o) : o_(o) {
        const SeriesBuffer* b = memory::buffer(data.series_node());
        unit_ = b->unit();
        data_ = b->head;
        length_ = b->used_bytes() / static_cast<std::int32_t>(unit_);
        start_ = std::clamp(data.series_head(), 0, length_);
        delimiter_ = delimiter_chars(o.delimiter);
        for (std::uint32_t& c : delimiter_folded_ = delimiter_) c = fold(c);
        for (int c = 0; c < 256; ++c) plain_[c] = c != '\n' && c != '\r';
        for (const std::uint32_t c : delimiter_)
            if (c < 256) plain_[c] = false;
    }

    // The result of load-csv; an error value for lines of unequal length.
    // Nothing here evaluates, so no collection runs before the result is
    // returned: the blocks and texts made on the way need no roots.
    Cell read() {
        block::make_at(output_, length_ - start_ >= 80 ? (length_ - start_) / 80 : 1);
        block::make_at(line_, 20);
        block::make_at(names_, 1);
        block::append_copy(names_, text_of("A"));

        std::int32_t p = start_;
        if (o_.header) {  // opt [values newline (names: copy line) init]
            std::int32_t q = values(p);
            if (const std::int32_t r = newline(q); r >= 0) {
                block::clone(names_, line_, false, false);
                p = r;
            }
            if (p == 0 || p == length_) {
                const Cell message = text_of("CSV data are too small to use /HEADER refinement");
                runtime::raise_error(ErrorCategory::user, "message", &message);
            }
        }
        clear_line();
        const std::int32_t rows_start = p;
        std::int32_t done = 0;  // lines added
        for (;;) {  // some line-rule
            if (p == length_) break;
            const std::int32_t q = values(p);
            std::int32_t r = newline(q);
            if (r < 0 && q == length_) r = q;
            if (r < 0) break;
            if (!add_line()) return error_value("Data are not aligned");
            ++done;
            if (r == p) break;
            p = r;
        }
        if (done == 0 && rows_start != length_) {  // the first line failed: init values add-line
            clear_line();
            values(rows_start);
            if (!add_line()) return error_value("Data are not aligned");
        }
        if (!o_.as_columns) return output_;

        if (longest_ > block::length_of(names_)) names_ = default_names(longest_);
        Cell columns{};
        map::make_at(columns, nullptr, 8);
        const std::int32_t rows = block::length_of(output_);
        for (std::int32_t k = 0; k < block::length_of(names_); ++k) {
            Cell column{};
            block::make_at(column, rows);
            for (std::int32_t i = 0; i < rows; ++i) {
                const Cell row = *block::get_cell(output_, i);
                if (k < block::length_of(row)) block::append_copy(column, *block::get_cell(row, k));
                else block::append_copy(column, none::value);
            }
            map::set(columns, *block::get_cell(names_, k), column, false);
        }
        return columns;
    }

private:
    std::uint32_t at(std::int32_t i) const {
        return unit_ == 1 ? data_[i] : string::get_char(data_ + static_cast<std::size_t>(i) * unit_, unit_);
    }
    bool plain(std::uint32_t c) const {
        if (c < 256) return plain_[c];
        for (const std::uint32_t d : delimiter_)
            if (c == d) return false;
        return true;
    }

    std::int32_t newline(std::int32_t p) const {
        if (p < length_ && at(p) == '\r') return p + 1 < length_ && at(p + 1) == '\n' ? p + 2 : p + 1;
        if (p < length_ && at(p) == '\n') return p + 1;
        return -1;
    }
    // The position after a delimiter at p, or -1.
    std::int32_t delimiter(std::int32_t p) const {
        const std::int32_t n = static_cast<std::int32_t>(delimiter_folded_.size());
        if (p + n > length_) return -1;
        for (std::int32_t k = 0; k < n; ++k)
            if (fold(at(p + k)) != delimiter_folded_[static_cast<std::size_t>(k)]) return -1;
        return p + n;
    }

    // A field at p into value_; the position after it. A quoted field needs
    // its closing quote, else the field is read plainly.
    std::int32_t field(std::int32_t p) {
        value_.clear();
        if (p < length_ && fold(at(p)) == fold(o_.quote)) {
            std::int32_t i = p + 1;
            for (;;) {
                if (i < length_ && at(i) != o_.quote) {
                    value_.push_back(at(i++));
                } else if (i + 1 < length_ && fold(at(i + 1)) == fold(o_.quote)) {
                    value_.push_back(o_.quote);  // two quotes stand for one
                    i += 2;
                } else {
                    break;
                }
            }
            if (i < length_ && fold(at(i)) == fold(o_.quote)) return i + 1;
            value_.clear();
        }
        std::int32_t i = p;
        while (i < length_ && plain(at(i))) value_.push_back(at(i++));
        return i;
    }

    // any [field delimiter add-value] field add-value
    std::int32_t values(std::int32_t p) {
        for (;;) {
            const std::int32_t q = field(p);
            const std::int32_t r = delimiter(q);
            if (r < 0) break;
            add_value();
            const bool moved = r != p;
            p = r;
            if (!moved) break;
        }
        p = field(p);
        add_value();
        return p;
    }

    void add_value() {
        std::uint32_t widest = 0;
        for (const std::uint32_t c : value_) widest = std::max(widest, c);
        Cell text{};
        string::make_at_unit(text, static_cast<std::int32_t>(value_.size()), widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1);
        SeriesBuffer* b = memory::buffer(text.series_node());
        const std::uint32_t unit = b->unit();
        std::uint8_t* w = b->head;
        for (const std::uint32_t c : value_) {
            if (unit == 1) *w = static_cast<std::uint8_t>(c);
            else if (unit == 2) { const auto u = static_cast<std::uint16_t>(c); std::memcpy(w, &u, 2); }
            else std::memcpy(w, &c, 4);
            w += unit;
        }
        b->tail = w;
        if (o_.trim) {
            text = *registry::handler<Action::trim>(TypeId::string)(&text, TrimRefinements{});
            const SeriesBuffer* t = memory::buffer(text.series_node());
            const std::int32_t n = t->used_bytes() / static_cast<std::int32_t>(t->unit());
            const std::int32_t h = std::clamp(text.series_head(), 0, n);
            if (n - h >= 2 && string::get_char(t->head + static_cast<std::size_t>(h) * t->unit(), t->unit()) == o_.quote &&
                string::get_char(t->head + static_cast<std::size_t>(n - 1) * t->unit(), t->unit()) == o_.quote) {
                string::remove_at(text, h, 1);
                string::remove_at(text, n - 2, 1);
            }
        }
        block::append_copy(line_, text);
    }

    void clear_line() { block::set_tail(line_, 0); }

    Cell default_names(std::int32_t n) {
        Cell names{};
        block::make_at(names, std::max(1, std::min(n, 1000)));
        Cell name = text_of("A");
        block::append_copy(names, name);
        for (std::int32_t i = 1; i < n; ++i) block::append_copy(names, name = next_column_name(name));
        return names;
    }

    // The line's fields become a row (a record, or loose fields with /flat);
    // false when the count differs from the first line's.
    bool add_line() {
        const std::int32_t n = block::length_of(line_);
        if (longest_ == 0) longest_ = n;
        if (longest_ != n) return false;
        if (o_.as_records) {
            while (longest_ > block::length_of(names_))
                block::append_copy(names_, next_column_name(*block::get_cell(names_, block::length_of(names_) - 1)));
            Cell record{};
            map::make_at(record, nullptr, 2 * n);
            for (std::int32_t i = 0; i < n; ++i)
                map::set(record, *block::get_cell(names_, i), *block::get_cell(line_, i), false);
            block::append_copy(output_, record);
        } else if (o_.flat) {
            block::append_cells(output_, line_);
        } else {
            Cell row{};
            block::clone(row, line_, false, false);
            block::append_copy(output_, row);
        }
        clear_line();
        return true;
    }

    Options o_;
    const std::uint8_t* data_;  // the text does not change or move while it is read
    std::uint32_t unit_;
    std::int32_t length_;
    std::int32_t start_;
    std::vector<std::uint32_t> delimiter_, delimiter_folded_;
    bool plain_[256];
    std::vector<std::uint32_t> value_;
    Cell output_{}, line_{}, names_{};
    std::int32_t longest_ = 0;
};

// --- Writing -----------------------------------------------------------------------

// to-csv's text. Each value is formed; the quote character, matched without
// regard to case as replace matches it, is written twice; the field goes in
// quotes when it held one, or holds a space, a line feed, the quote character
// or a character of the delimiter (these matched exactly, as a charset is).
// Misaligned data comes back as an error value; data of the wrong shape
// raises the error the writer's steps have always raised.
class Writer {
public:
    Writer(const Cell* delimiter, std::uint32_t quote, const Cell& out, const Cell& scratch)
        : quote_(quote), out_(out), scratch_(scratch) {
        if (delimiter != nullptr) {
            delimiter_ = *delimiter;
        } else {
            delimiter_.reset(TypeId::char_);
            delimiter_.set_char(',');
        }
        quotable_ = delimiter_chars(delimiter);
        quotable_.insert(quotable_.end(), {quote, ' ', '\n'});
    }

    // The text of data, or an error value.
    Cell write(const Cell& data, const Cell* size) {
        if (data.is(TypeId::map) || data.is(TypeId::object)) return columns(data);
        if (size != nullptr) return flat(data, size->int_value());
        const std::int32_t n = block::count_from_head(data);
        const Cell first = n > 0 ? *block::get_cell(data, data.series_head()) : none::value;
        bool keyed = first.is(TypeId::map) || first.is(TypeId::object);
        if (!first.is(TypeId::block) && !keyed) {  // one record
            const Cell records[] = {data};
            return blocks(records, 1);
        }
        std::vector<Cell> records;
        for (std::int32_t i = 0; i < n; ++i) {
            records.push_back(*block::get_cell(data, data.series_head() + i));
            if (records.back().type() != first.type()) keyed = false;
        }
        return keyed ? keyed_records(records) : blocks(records.data(), n);
    }

private:
    static constexpr const char* misaligned = "Data are not aligned";

    // Records of blocks, each as long as the first.
    Cell blocks(const Cell* records, std::int32_t n) {
        const std::int32_t length = length_of(records[0]);
        for (std::int32_t i = 0; i < n; ++i) {
            if (length_of(records[i]) != length) return error_value(misaligned);
            record(records[i]);
        }
        return out_;
    }

    // A flat block of records of size values each.
    Cell flat(const Cell& data, std::int32_t size) {
        Cell d = data;
        const std::int32_t n = actions::length_q(&d);
        if (size < 1 || n % size != 0) return error_value(misaligned);
        std::vector<Cell> values;
        for (std::int32_t i = 0; i < n; i += size) {
            values.clear();
            for (std::int32_t k = 0; k < size; ++k)
                values.push_back(*block::get_cell(data, data.series_head() + i + k));
            line(values);
        }
        return out_;
    }

    // A map or object of columns: a line of the keys, then a line for each
    // position of the columns, which must all be as long as the first.
    Cell columns(const Cell& data) {
        const Cell keys = words_of(data);
        std::vector<Cell> fields;
        const std::int32_t n = block::count_from_head(keys);
        for (std::int32_t i = 0; i < n; ++i) fields.push_back(*block::get_cell(keys, keys.series_head() + i));
        line(fields);
        std::vector<Cell> columns;
        for (const Cell& key : fields) columns.push_back(select(data, key));
        const std::int32_t length = columns.empty() ? 0 : length_of(columns[0]);
        for (const Cell& column : columns)
            if (length_of(column) != length) return error_value(misaligned);
        if (length < 0) expect_arg("repeat", none::value, "value");
        Cell index{};
        index.reset(TypeId::integer);
        for (std::int32_t i = 1; i <= length; ++i) {
            index.set_int(i);
            fields.clear();
            for (const Cell& column : columns) {
                Cell c = column, at = index;   // the handler leaves its result in c
                fields.push_back(*actions::lookup<Action::pick>(c)(&c, &at));
            }
            line(fields);
        }
        return out_;
    }

    // Maps or objects: a line of every key (each record's keys in turn add
    // the keys that it or the keys so far lack), then a line of each
    // record's values, empty where it has none or false.
    Cell keyed_records(const std::vector<Cell>& records) {
        Cell keys = words_of(records[0]);
        for (const Cell& r : records) {
            Cell more = keys;
            Cell words = words_of(r);
            block::set_operation(&more, &words, false, nullptr, block::SetOp::difference);
            block::append_cells(keys, more);
        }
        std::vector<Cell> fields;
        const std::int32_t n = block::count_from_head(keys);
        for (std::int32_t i = 0; i < n; ++i) fields.push_back(*block::get_cell(keys, keys.series_head() + i));
        line(fields);
        const Cell empty = text_of("");
        std::vector<Cell> values;
        for (const Cell& r : records) {
            values.clear();
            for (const Cell& key : fields) {
                const Cell v = r.is(TypeId::object) ? *object::get_word_field(r, key) : select(r, key);
                values.push_back(v.is(TypeId::none) || (v.is(TypeId::logic) && v.logic_value() == 0) ? empty : v);
            }
            line(values);
        }
        return out_;
    }

    // A record must be a block; its values from its head make one line.
    void record(const Cell& r) {
        if (!r.is(TypeId::block)) expect_arg("to-csv-line", r, "data");
        std::vector<Cell> values;
        const std::int32_t n = block::count_from_head(r);
        for (std::int32_t i = 0; i < n; ++i) values.push_back(*block::get_cell(r, r.series_head() + i));
        line(values);
    }

    // The fields with the delimiter between them and a line feed after; no
    // values at all write the missing first one, none.
    void line(const std::vector<Cell>& values) {
        if (values.empty()) field(none::value);
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0) delimiter();
            field(values[i]);
        }
        string::append_char(out_.series_node(), '\n');
    }

    void delimiter() {
        if (delimiter_.is(TypeId::char_)) return string::append_char(out_.series_node(), delimiter_.char_value());
        string::concatenate(out_, delimiter_, -1, 0, false, string::ConcatMode::append);
    }

    void field(const Cell& value) {
        string::reset(scratch_);
        Cell v = value;
        actions::form_to(&v, scratch_.series_node(), -1);
        const SeriesBuffer* b = memory::buffer(scratch_.series_node());
        const std::uint32_t unit = b->unit();
        const std::int32_t n = b->used_bytes() / static_cast<std::int32_t>(unit);
        const std::uint32_t quote = fold(quote_);
        bool quoted = false;
        for (std::int32_t i = 0; i < n && !quoted; ++i) {
            const std::uint32_t c = string::get_char(b->head + static_cast<std::size_t>(i) * unit, unit);
            quoted = fold(c) == quote || std::find(quotable_.begin(), quotable_.end(), c) != quotable_.end();
        }
        if (!quoted) return piece(0, n);
        string::append_char(out_.series_node(), quote_);
        std::int32_t from = 0;
        for (std::int32_t i = 0; i < n; ++i) {
            const std::uint32_t c = string::get_char(memory::buffer(scratch_.series_node())->head + static_cast<std::size_t>(i) * unit, unit);
            if (fold(c) != quote) continue;
            piece(from, i);
            string::append_char(out_.series_node(), quote_);
            string::append_char(out_.series_node(), quote_);
            from = i + 1;
        }
        piece(from, n);
        string::append_char(out_.series_node(), quote_);
    }

    // Units [from, to) of the formed value, appended to the text.
    void piece(std::int32_t from, std::int32_t to) {
        if (to <= from) return;
        Cell part = scratch_;
        part.set_series_head(from);
        string::concatenate(out_, part, to - from, 0, false, string::ConcatMode::append);
    }

    static Cell words_of(const Cell& v) {
        Cell value = v;
        Cell field{};
        word::make_at(words::id(words::Sym::words), field);
        return *registry::handler<Action::reflect>(v.type())(&value, &field);
    }
    static Cell select(const Cell& series, const Cell& key) {
        Cell s = series, k = key;
        return *actions::lookup<Action::select>(s)(&s, &k, FindRefinements{});
    }
    // length? of v (-1 for none); a value without a length raises as length? does.
    static std::int32_t length_of(const Cell& v) {
        if (registry::handler_slot(v.type(), Action::length_q) == nullptr) expect_arg("length?", v, "series");
        Cell c = v;
        return actions::length_q(&c);
    }

    std::uint32_t quote_;
    Cell delimiter_{};
    std::vector<std::uint32_t> quotable_;
    Cell out_, scratch_;
};

void to_csv(bool check, const std::int32_t* r) {
    namespace ref = refine::to_csv;
    const Cell data = *arg(0);
    const Cell* delimiter = used(r, ref::with) ? arg(r[ref::with]) : nullptr;
    const Cell* size = used(r, ref::skip) ? arg(r[ref::skip]) : nullptr;
    const Cell* quote = used(r, ref::quote) ? arg(r[ref::quote]) : nullptr;
    if (check) {
        if (!data.is(TypeId::block) && !data.is(TypeId::map) && !data.is(TypeId::object))
            expect_arg("to-csv", data, "data");
        if (delimiter != nullptr && !delimiter->is(TypeId::char_) && !delimiter->is(TypeId::string))
            expect_arg("to-csv", *delimiter, "delimiter");
        if (size != nullptr && !size->is(TypeId::integer)) expect_arg("to-csv", *size, "size");
        if (quote != nullptr && !quote->is(TypeId::char_)) expect_arg("to-csv", *quote, "qt-char");
    }
    Cell text{};
    string::make_at(text, 1000);
    const Cell out = *stack::push(text);
    string::make_at(text, 64);
    const Cell scratch = *stack::push(text);
    Writer writer(delimiter, quote != nullptr ? quote->char_value() : '"', out, scratch);
    const Cell result = writer.write(data, size);
    stack::set_result_only(result);
}

void load_csv(bool, const std::int32_t* r) {
    namespace ref = refine::load_csv;
    Options o;
    o.header = used(r, ref::header);
    o.as_columns = used(r, ref::as_columns);
    o.as_records = used(r, ref::as_records);
    o.flat = used(r, ref::flat);
    o.trim = used(r, ref::trim);
    if (used(r, ref::with)) o.delimiter = arg(r[ref::with]);
    if (used(r, ref::quote)) o.quote = arg(r[ref::quote])->char_value();
    const struct { bool a, b; const char* names; } conflicts[] = {
        {o.as_columns, o.as_records, "as-columns and /as-records"}, {o.flat, o.as_columns, "flat and /as-columns"},
        {o.flat, o.as_records, "flat and /as-records"}, {o.flat, o.header, "flat and /header"}};
    for (const auto& c : conflicts)
        if (c.a && c.b)
            return stack::set_result_only(error_value(std::string("Cannot use /") + c.names + " refinements together"));
    if (o.header && !o.as_records) o.as_columns = true;
    const Cell data = *arg(0);
    Reader reader(data, o);
    stack::set_result_only(reader.read());
}

}  // namespace

void register_csv() {
    set(Native::load_csv, load_csv);
    set(Native::to_csv, to_csv);
}

}  // namespace kiv::natives
