// Kivbin stream reader. The stream is copied (or decompressed) into a buffer
// of the reader's own first, since the records' values are allocated while it
// reads and a binary! source may move. Every container is appended to its
// parent before its contents are read, so a collection during the read sees
// the whole partial tree from the target block. One walk reads both
// encodings, as one walk writes them: each type's record is read by the same
// code, which asks `fixed_` only where the two layouts differ.
#include "runtime/io/kivbin.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/codecs/lz77.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace kiv::kivbin {
namespace {

constexpr std::size_t header_size = 8;
constexpr std::uint8_t prefix_new_line = 0xC0, prefix_reference = 0xC1, prefix_definition = 0xC4;
constexpr std::uint8_t value_true = 0xC2, value_false = 0xC3, value_copy = 0xFF;
constexpr std::uint32_t max_path = 65536;
constexpr std::int32_t self_index = -2;  // a boot image's `self` bound to an object
constexpr std::uint32_t fixed_filler = 0, fixed_reference = 255;
// Fixed header bits: new-line marker, by reference, bound word, money sign.
constexpr std::uint32_t fixed_new_line = 1u << 31, fixed_by_reference = 1u << 19, fixed_bound = 1u << 25,
                        fixed_negative = 1u << 22, fixed_complemented = 1u << 23, fixed_handlers = 1u << 24;

class Reader {
public:
    Reader(std::span<const std::uint8_t> body, const Cell& target, bool boot)
        : body_(body), target_(target), boot_(boot), root_base_(block::length_of(target)) {}

    void read_body(bool symbols, bool fixed) {
        fixed_ = fixed;
        end_ = body_.size();
        if (fixed && end_ < 8) runtime::raise_error(ErrorCategory::script, "invalid-data");
        field();  // root count: the records decide how many values there are
        const std::int32_t payload = field();
        if (symbols) {
            const std::size_t count_at = at_;
            const std::int32_t n = field();
            const std::int32_t area = field();
            const std::size_t left = end_ - at_;
            if (static_cast<std::size_t>(n) > left / 4) fail(count_at);
            if (static_cast<std::size_t>(area) > left - static_cast<std::size_t>(n) * 4) fail(count_at);
            offsets_ = at_;
            symbol_count_ = static_cast<std::uint32_t>(n);
            at_ += static_cast<std::size_t>(n) * 4;
            area_ = at_;
            area_size_ = static_cast<std::uint32_t>(area);
            if (area > 0 && body_[area_ + area_size_ - 1] != 0) fail(area_ + area_size_ - 1);
            at_ += area_size_;
            symbol_ids_.assign(symbol_count_, 0);
        }
        if (static_cast<std::size_t>(payload) > end_ - at_) fail(at_);
        end_ = at_ + static_cast<std::size_t>(payload);
        while (at_ < end_) {
            record(target_, 0);
        }
        if (boot_) finish_boot();
    }

    std::int32_t root_base() const { return root_base_; }

private:
    std::span<const std::uint8_t> body_;  // after the header (decompressed)
    const Cell& target_;
    // The boot image: definitions, words bound by root index, paths counted
    // from the root base, routines by name, objects keeping their class.
    bool boot_;
    std::int32_t root_base_;             // values the target held before
    std::vector<Cell> handler_objects_;  // objects whose change handlers wait for their fields
    std::int32_t highest_class_ = 0;
    std::size_t at_ = 0, end_ = 0;
    std::size_t offsets_ = 0, area_ = 0;
    std::uint32_t symbol_count_ = 0, area_size_ = 0;
    std::vector<symbol::SymbolId> symbol_ids_;  // 0 until first used
    std::vector<std::int32_t> global_index_;    // by symbol id: its global word's index, -1 until looked up
    std::vector<Cell> global_words_;            // by symbol index: its global word!, made at first use
    bool fixed_ = false;                         // 32-bit words instead of varints
    NodeId slot_node_ = 0;                       // the next value goes to this block's
    std::int32_t slot_index_ = 0;                // cell slot_index_ instead of its tail
    // A map! being read is a block until its last value: the references to
    // it from inside wait here (its node, where they stand) to become the map.
    struct MapReference {
        NodeId map;
        Cell into;
        std::int32_t index;
    };
    std::vector<NodeId> open_maps_;
    std::vector<MapReference> map_references_;

    // The position is reported 1-based and counted from the magic.
    [[noreturn]] void fail(std::size_t at) const {
        Cell position{};
        integer::make_at(position, static_cast<std::int32_t>(std::min<std::size_t>(at + header_size + 1, INT32_MAX)));
        runtime::raise_error(ErrorCategory::script, "kb-invalid-record", &position);
    }

    // Runs a maker that may raise (a spec check, the index of a hash!); its
    // error becomes the record's error at at.
    template <class Maker>
    void guarded(std::size_t at, Maker&& make) const {
        bool failed = false;
        {
            stack::ErrorCatchScope scope;  // the stacks stay as they are
            try {
                make();
            } catch (const LanguageError&) {
                failed = true;
            }
        }
        if (failed) fail(at);
    }

    std::uint8_t byte() {
        if (at_ >= end_) fail(at_);
        return body_[at_++];
    }
    std::uint32_t raw32() {
        if (end_ - at_ < 4) fail(at_);
        std::uint32_t v;
        std::memcpy(&v, body_.data() + at_, 4);  // little-endian host
        at_ += 4;
        return v;
    }
    // Unsigned LEB128 of at most 5 bytes in a 32-bit word.
    std::uint32_t varint() {
        std::uint32_t v = 0;
        for (int i = 0; i < 5; ++i) {
            const std::uint8_t b = byte();
            if (i == 4 && (b & 0xF0) != 0) fail(at_ - 1);
            v |= static_cast<std::uint32_t>(b & 0x7F) << (7 * i);
            if ((b & 0x80) == 0) return v;
        }
        fail(at_ - 1);
    }
    std::int32_t zigzag() {
        const std::uint32_t u = varint();
        return static_cast<std::int32_t>((u >> 1) ^ (0u - (u & 1)));
    }
    // A count, length or index: a varint that must not read as negative.
    std::int32_t count() {
        const std::size_t start = at_;
        const auto v = static_cast<std::int32_t>(varint());
        if (v < 0) fail(start);
        return v;
    }

    // The fields of the body's encoding: a varint (zigzag when signed) or a
    // 32-bit word. field() is a count or index, which must not read as negative.
    std::int32_t field() {
        if (!fixed_) return count();
        const std::size_t start = at_;
        const auto v = static_cast<std::int32_t>(raw32());
        if (v < 0) fail(start);
        return v;
    }
    std::int32_t signed_field() { return fixed_ ? static_cast<std::int32_t>(raw32()) : zigzag(); }
    std::uint32_t unsigned_field() { return fixed_ ? raw32() : varint(); }
    // A count of records to come: no more than the bytes left (the words
    // left in the fixed encoding), as each takes one at least.
    std::int32_t record_count() {
        const std::size_t start = at_;
        const std::int32_t n = field();
        if (static_cast<std::size_t>(n) > (end_ - at_) >> (fixed_ ? 2 : 0)) fail(start);
        return n;
    }
    // A float64 in two words: the low half first in the compact encoding,
    // the high half first in the fixed one.
    double float64() {
        const std::uint64_t first = raw32(), second = raw32();
        const std::uint64_t bits = fixed_ ? first << 32 | second : second << 32 | first;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    // The bytes a run of data takes: the fixed encoding pads it to a word.
    std::size_t padded(std::size_t bytes) const { return fixed_ ? (bytes + 3) & ~std::size_t{3} : bytes; }
    // Fails at the cursor unless n bytes are left.
    void need(std::size_t n) const {
        if (end_ - at_ < n) fail(at_);
    }

    symbol::SymbolId symbol_ref() {
        const std::size_t start = at_;
        return symbol_at(unsigned_field(), start);
    }
    // The symbol of index i in the table (read at start).
    symbol::SymbolId symbol_at(std::uint32_t i, std::size_t start) {
        if (i >= symbol_count_) fail(start);
        if (symbol_ids_[i] == 0) {
            std::uint32_t offset;
            std::memcpy(&offset, body_.data() + offsets_ + 4 * static_cast<std::size_t>(i), 4);
            if (offset >= area_size_) fail(start);
            const char* name = reinterpret_cast<const char*>(body_.data() + area_ + offset);
            std::size_t n = 0;  // up to the NUL (the area ends with one)
            if (boot_ && i + 1 < symbol_count_) {  // the program's own image: the next name follows
                std::uint32_t next;
                std::memcpy(&next, body_.data() + offsets_ + 4 * (static_cast<std::size_t>(i) + 1), 4);
                n = next > offset && next <= area_size_ ? next - offset - 1 : 0;
            }
            if (n == 0 || name[n] != 0) n = std::strlen(name);
            if (n == 0) fail(start);
            symbol_ids_[i] = symbol::make_from_utf8(name, static_cast<std::int32_t>(n));
        }
        return symbol_ids_[i];
    }

    // Makes v a word! of sym bound in the global context. Each symbol's index
    // there is looked up once per stream: a stream names the same words over
    // and over, and nothing leaves the global context while it is read.
    void global_word(symbol::SymbolId sym, Cell& v) {
        if (sym >= global_index_.size()) global_index_.resize(sym + 256, -1);
        std::int32_t& index = global_index_[sym];
        if (index < 0) {
            word::make_at(sym, v);
            index = v.word_index();
            return;
        }
        v.reset(TypeId::word);
        v.set_word(context::global(), sym, index);
    }

    // The value a reference path names, walking from the target block.
    Cell path_value() {
        const std::size_t start = at_;
        if (fixed_ && (raw32() & 0xFF) != fixed_reference) fail(start);
        const std::uint32_t n = unsigned_field();
        if (n < 1 || n > max_path || n > (end_ - at_) / (fixed_ ? 4 : 1)) fail(start);
        Cell value = target_;
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::size_t index_at = at_;
            std::uint32_t i = unsigned_field();
            if (k == 0 && boot_) i += static_cast<std::uint32_t>(root_base_);  // a root value
            value = step(value, i, index_at);
        }
        return value;
    }

    // One step of a path: value i inside a container, context or function.
    Cell step(const Cell& value, std::uint32_t i, std::size_t at) const {
        const TypeId t = value.type();
        if (is_any_block_type(t)) return cell_of(block_over(value.series_node()), i, at);
        switch (t) {
        case TypeId::map: return cell_of(block_over(map::block_of(value)), i, at);
        case TypeId::object: return context_value(value.object_context(), i, at);
        case TypeId::error: {
            const std::uint32_t first = static_cast<std::uint32_t>(error::Field::arg1);
            if (i >= static_cast<std::uint32_t>(error::field_count) - first) fail(at);
            return context_value(value.object_context(), first + i, at);
        }
        case TypeId::word:
        case TypeId::set_word:
        case TypeId::lit_word:
        case TypeId::get_word:
        case TypeId::refinement: {
            const NodeId ctx = value.word_context();
            if (ctx == 0) fail(at);
            if (context::context_cell(ctx)->context_on_stack()) {  // its function stands for it
                const Cell fn = *context::owner(ctx);
                if (!fn.is(TypeId::function)) fail(at);
                return step(fn, i, at);
            }
            return context_value(ctx, i, at);
        }
        case TypeId::native:
        case TypeId::action:
        case TypeId::routine: return cell_of(block_over(value.code_spec()), i, at);
        case TypeId::function:
        case TypeId::op: {
            if (i == 0) return block_over(value.code_spec());
            const bool has_body = t == TypeId::function || value.op_source() == TypeId::function;
            if (i != 1 || !has_body) fail(at);
            const Cell body = *function::extra_cell(value, function::extra_body);
            if (!body.is(TypeId::block)) fail(at);
            return body;
        }
        default: fail(at);
        }
    }

    static Cell block_over(NodeId node) {
        Cell b = Cell::fresh(TypeId::block);
        b.set_series_node(node);
        return b;
    }
    Cell cell_of(const Cell& blk, std::uint32_t i, std::size_t at) const {
        if (i >= static_cast<std::uint32_t>(block::length_of(blk))) fail(at);
        return block::first_cell(blk)[i];
    }
    Cell context_value(NodeId ctx, std::uint32_t i, std::size_t at) const {
        if (i >= static_cast<std::uint32_t>(context::word_count(ctx))) fail(at);
        const Cell* v = context::value_at(ctx, static_cast<std::int32_t>(i));
        if (v == nullptr) fail(at);
        return *v;
    }

    // Adds a value to the container being filled and answers its index there:
    // appended, or stored into the slot set aside for it (a context's value).
    std::int32_t append(const Cell& into, Cell value, bool new_line) {
        value.set_new_line(new_line);
        if (slot_node_ != 0 && into.series_node() == slot_node_) {
            slot_node_ = 0;
            *block::get_cell(into, slot_index_) = value;
            return slot_index_;
        }
        block::append_copy(into, value);
        return block::length_of(into) - 1;
    }
    // Replaces the cell at index of into, keeping its new-line marker.
    static void replace(const Cell& into, std::int32_t index, Cell value) {
        Cell* slot = block::get_cell(into, index);
        value.set_new_line(slot->new_line());
        *slot = value;
    }

    // What a record's header says: its type, the markers before it and the
    // type's flag (the compact tag's F bit, or the fixed header's bit for
    // that type); word is the fixed header, 0 in the compact encoding.
    // Small enough to pass by value, in registers.
    struct Header {
        TypeId type = TypeId::no_type;
        bool new_line = false, reference = false, flag = false, definition = false;
        std::uint32_t word = 0;
        std::size_t at = 0;
    };

    // The header bit that carries a type's flag in the fixed encoding.
    static std::uint32_t fixed_flag(TypeId t) {
        if (word::is_any_word(t)) return fixed_bound;
        switch (t) {
        case TypeId::money: return fixed_negative;
        case TypeId::bitset: return fixed_complemented;
        case TypeId::object: return fixed_handlers;
        default: return 0;
        }
    }

    // Reads a record's header into h. False when the header was the whole
    // record (a one-byte value, a copy of an earlier value), appended to into.
    bool header(const Cell& into, Header& h) {
        if (fixed_) return fixed_header(into, h);
        std::uint8_t b;
        for (;;) {
            b = byte();
            if (b == prefix_new_line) h.new_line = true;
            else if (b == prefix_reference) h.reference = true;
            else if (b == prefix_definition && boot_ && &into == &target_) h.definition = true;
            else if (b == prefix_definition) fail(at_ - 1);  // definitions belong to the boot image's top level
            else break;
        }
        h.at = at_ - 1;
        if (b >= 0x80) {  // the one-byte values
            if (h.reference || h.definition) fail(h.at);
            Cell v{};
            if (b <= 0xBF) integer::make_at(v, b & 0x3F);
            else if (b == value_true || b == value_false) logic::make_at(v, b == value_true);
            else if (b == value_copy) v = path_value();
            else fail(h.at);
            append(into, v, h.new_line);
            return false;
        }
        std::uint32_t id = b & 0x3F;
        h.flag = (b & 0x40) != 0;
        if (id == 0x3F) id = varint();
        if (id == 0 || id >= static_cast<std::uint32_t>(type_count)) fail(h.at);
        h.type = static_cast<TypeId>(id);
        if (h.definition && !word::is_any_word(h.type)) fail(h.at);
        return true;
    }

    // The header of the fixed encoding: one word (after any filler words).
    bool fixed_header(const Cell& into, Header& h) {
        h.at = at_;
        h.word = raw32();
        while ((h.word & 0xFF) == fixed_filler) {  // alignment before a float: not a value
            h.at = at_;
            h.word = raw32();
        }
        const std::uint32_t id = h.word & 0xFF;
        h.new_line = (h.word & fixed_new_line) != 0;
        if (id == fixed_reference) {
            at_ = h.at;
            append(into, path_value(), h.new_line);
            return false;
        }
        if (id >= static_cast<std::uint32_t>(type_count)) fail(h.at);
        h.type = static_cast<TypeId>(id);
        // an op! keeps its source type in bits 16-23
        h.reference = h.type != TypeId::op && (h.word & fixed_by_reference) != 0;
        h.flag = (h.word & fixed_flag(h.type)) != 0;
        return true;
    }

    // A series record's head: always there in the fixed encoding, in the
    // compact one when the flag says so.
    std::int32_t head(Header h) { return fixed_ || h.flag ? field() : 0; }

    // One record: the header, then what its type holds.
    void record(const Cell& into, int depth) {
        if (depth > max_depth) fail(at_);
        Header h;
        if (!header(into, h)) return;
        const TypeId t = h.type;
        if (h.reference && series_type(t)) {
            shared(into, t, has_head(t) ? head(h) : 0, h.new_line);
            return;
        }
        if (h.reference) {
            if (t == TypeId::object || t == TypeId::function) {
                owner_reference(into, t, h.new_line, h.at);
                return;
            }
            if (!word::is_any_word(t) || !h.flag) fail(h.at);
        }
        Cell v{};
        switch (t) {
        case TypeId::unset: unset::make_at(v); break;
        case TypeId::none: none::make_at(v); break;
        case TypeId::logic:
            if (!fixed_) fail(h.at);  // only the one-byte forms
            logic::make_at(v, raw32() != 0);
            break;
        case TypeId::datatype: {
            const std::size_t at = at_;
            const std::uint32_t type = unsigned_field();
            if (type == 0 || type >= static_cast<std::uint32_t>(type_count)) fail(at);
            datatype::make_at(static_cast<TypeId>(type), v);
            break;
        }
        case TypeId::integer: integer::make_at(v, signed_field()); break;
        case TypeId::char_: {
            const std::size_t at = at_;
            const std::uint32_t cp = unsigned_field();
            if (cp > 0x10FFFF) fail(at);
            char_::make_at(v, cp);
            break;
        }
        case TypeId::float_:
        case TypeId::percent:
        case TypeId::time: {
            double d;
            if (!fixed_ && h.flag) {  // a whole number (of hundredths for a percent!)
                d = zigzag();
                if (t == TypeId::percent) d /= 100;
            } else {
                d = float64();
            }
            if (t == TypeId::float_) float_::make_at(v, d);
            else if (t == TypeId::percent) percent::make_at(v, d);
            else time::make_at(v, d);
            break;
        }
        case TypeId::date: {
            const std::size_t at = at_;
            const std::uint32_t packed = raw32();
            if (!fixed_ && ((packed & Cell::date_time_flag) != 0) != h.flag) fail(at);  // the flag and the data disagree
            const double seconds = fixed_ || h.flag ? float64() : 0.0;
            if (!date::make_from_packed(v, packed, seconds)) fail(at);
            break;
        }
        case TypeId::pair: {
            const std::int32_t x = signed_field();
            v.reset(TypeId::pair);
            v.set_pair(x, signed_field());
            break;
        }
        case TypeId::point2d:
        case TypeId::point3d:
            v.reset(t);
            for (int i = 0; i < (t == TypeId::point2d ? 2 : 3); ++i) {
                const std::uint32_t bits = raw32();
                float c;
                std::memcpy(&c, &bits, sizeof c);
                v.set_point_coord(i, c);
            }
            break;
        case TypeId::tuple: {
            if (fixed_) need(12);  // the fixed form holds the bytes in three words
            const std::size_t count_at = fixed_ ? h.at : at_;
            const std::uint32_t n = fixed_ ? (h.word >> 8) & 0xF : h.flag ? byte() : 3;
            if (n < 3 || n > 12) fail(count_at);  // a tuple! holds 3 to 12 components
            std::uint8_t bytes[12] = {};
            for (std::uint32_t i = 0; i < (fixed_ ? 12 : n); ++i) bytes[i] = byte();
            v.reset(TypeId::tuple);
            v.set_tuple(bytes, n);
            break;
        }
        case TypeId::money: {
            if (fixed_) need(12);  // the currency and the digits in three words
            const std::uint32_t currency = byte();
            std::uint8_t digits[Cell::money_digit_bytes];
            for (std::uint8_t& d : digits) {
                d = byte();
                if ((d >> 4) > 9 || (d & 15) > 9) fail(at_ - 1);  // packed decimal digits
            }
            money::make_at(v, h.flag, currency, digits);
            break;
        }
        case TypeId::typeset: {
            std::uint32_t w[3] = {};
            if (fixed_) {
                for (std::uint32_t& word : w) word = raw32();
            } else {
                const std::size_t at = at_;
                const std::uint32_t n = byte();
                if (n > 12) fail(at);
                std::uint8_t mask[12] = {};
                for (std::uint32_t i = 0; i < n; ++i) mask[i] = byte();
                std::memcpy(w, mask, sizeof w);  // the mask in memory order
            }
            v.reset(TypeId::typeset);
            v.set_typeset_mask(w[0], w[1], w[2]);
            break;
        }
        case TypeId::issue: issue::make_at(symbol::name(symbol_ref()).data(), v); break;
        case TypeId::word:
        case TypeId::set_word:
        case TypeId::lit_word:
        case TypeId::get_word:
        case TypeId::refinement: {
            const symbol::SymbolId sym = symbol_ref();
            if (boot_ && h.flag && !h.reference) {
                root_word(sym, v, t);
            } else {
                global_word(sym, v);
                v.set_type(t);
            }
            if (h.definition) {
                define(v);
                return;
            }
            if (boot_ && h.flag && !h.reference) break;
            if (h.flag) {
                bound_word(into, v, h.reference, h.new_line, depth);
                return;
            }
            if (fixed_) raw32();  // the word index, which only a bound word uses
            break;
        }
        case TypeId::string:
        case TypeId::file:
        case TypeId::url:
        case TypeId::tag:
        case TypeId::email:
        case TypeId::ref:
        case TypeId::binary:
        case TypeId::block:
        case TypeId::paren:
        case TypeId::path:
        case TypeId::lit_path:
        case TypeId::set_path:
        case TypeId::get_path:
        case TypeId::hash: series(into, h, depth); return;
        case TypeId::bitset: {
            const std::size_t count_at = at_;
            const std::int32_t n = field();
            const std::size_t run = padded(static_cast<std::size_t>(n));
            if (run > end_ - at_) fail(count_at);
            bits(v, n, h.flag);
            at_ += run - static_cast<std::size_t>(n);
            break;
        }
        case TypeId::vector: vector_record(v, h); break;
        case TypeId::image: image_record(into, h); return;
        case TypeId::map: {
            const std::size_t count_at = at_;
            const std::int32_t n = record_count();
            if (n % 2 != 0) fail(count_at);
            entries(into, n, h.new_line, depth, count_at);
            return;
        }
        case TypeId::triple:
        case TypeId::handle:
        case TypeId::port:
        case TypeId::event: {
            Cell type{};
            datatype::make_at(t, type);
            runtime::raise_error(ErrorCategory::access, "no-codec", &type);
        }
        case TypeId::context:
            if (!fixed_ && h.flag) fail(h.at);
            context_record(into, h.word, h.new_line, depth);
            return;
        case TypeId::object: object_record(into, h.flag, h.new_line, depth); return;
        case TypeId::function: function_record(into, h.new_line, depth, nullptr); return;
        case TypeId::native:
        case TypeId::action:
        case TypeId::routine: native_record(into, t, h.new_line, depth); return;
        case TypeId::op: {
            // the fixed header names the source type, the compact record only holds it
            const auto source = fixed_ ? static_cast<TypeId>((h.word >> 16) & 0xFF) : TypeId::no_type;
            if (fixed_ && source == TypeId::no_type) fail(h.at);
            op_record(into, source, h.new_line, depth, h.at);
            return;
        }
        case TypeId::error: error_record(into, h.new_line, depth); return;
        default: fail(h.at);  // no_type, symbol!, series! and the like have no record
        }
        append(into, v, h.new_line);
    }

    // A block or text record after its header: the head, the count (with
    // the unit size of a text), the values.
    void series(const Cell& into, Header h, int depth) {
        const TypeId t = h.type;
        const std::size_t head_at = at_;
        const std::int32_t first = head(h);
        const std::size_t count_at = at_;
        if (is_any_block_type(t)) {
            const std::int32_t n = record_count();
            if (first > n) fail(head_at);
            Cell v{};
            block::make_at(v, boot_ ? std::max(n, 1) : room_for(n));  // the program's own image: its counts hold
            if (t != TypeId::hash) v.set_type(t);  // a hash! gets its index once filled
            v.set_series_head(first);
            const std::int32_t index = append(into, v, h.new_line);  // reachable before its contents are made
            if (boot_) boot_cells(v, n, depth + 1);
            else
                for (std::int32_t i = 0; i < n; ++i) record(v, depth + 1);
            finish_block(into, index, v, t, head_at);
            return;
        }
        std::uint32_t unit = 1;
        std::int32_t n;
        if (!fixed_ && t != TypeId::binary) {  // the unit size in the count's low bits
            const std::uint32_t code = varint();
            if ((code & 3) == 3) fail(count_at);
            unit = 1u << (code & 3);
            n = static_cast<std::int32_t>(code >> 2);
        } else {
            n = field();
            if (fixed_ && t != TypeId::binary) unit = (h.word >> 8) & 0xFF;
            if (unit != 1 && unit != 2 && unit != 4) fail(h.at);
        }
        const std::size_t bytes = static_cast<std::size_t>(n) * unit;
        const std::size_t run = padded(bytes);
        if (run > end_ - at_) fail(count_at);
        if (first > n) fail(head_at);
        fill_text(into, t, unit, n, first, h.new_line);
        at_ += run - bytes;
    }

    // The n values of a boot image's block, most of them words (of the global
    // context, or bound by root index) and small integers: those are read
    // here and written straight into the block (made with room for n), the
    // rest as any record.
    void boot_cells(const Cell& blk, std::int32_t n, int depth) {
        const NodeId node = blk.series_node();
        for (std::int32_t i = 0; i < n; ++i) {
            std::size_t p = at_;
            if (p >= end_) fail(p);
            std::uint8_t b = body_[p];
            bool new_line = false;
            if (b == prefix_new_line && p + 1 < end_) {
                new_line = true;
                b = body_[++p];
            }
            Cell v;
            if (b >= 0x80 && b <= 0xBF) {
                integer::make_at(v, b & 0x3F);
                at_ = p + 1;
            } else if (const auto t = static_cast<TypeId>(b); b < 0x40 && word::is_any_word(t)) {
                at_ = p + 1;
                v = global_word_at(unsigned_field(), p);
                v.set_type(t);
            } else if (const auto bt = static_cast<TypeId>(b & 0x3F);
                       b >= 0x40 && b < 0x7F && word::is_any_word(bt)) {  // a word bound by root index
                at_ = p + 1;
                root_word(symbol_ref(), v, bt);
            } else if (const auto s = static_cast<TypeId>(b & 0x3F);
                       b < 0x80 && s != TypeId::hash && (is_any_block_type(s) || is_any_string_type(s))) {
                Header h;  // a block or text: no prefix but the new line
                h.type = s;
                h.flag = (b & 0x40) != 0;
                h.new_line = new_line;
                h.at = p;
                at_ = p + 1;
                series(blk, h, depth);
                continue;
            } else {
                record(blk, depth);
                continue;
            }
            v.set_new_line(new_line);
            SeriesBuffer* buf = memory::buffer(node);
            if (buf->tail + sizeof(Cell) <= buf->data_end()) {
                std::memcpy(buf->tail, &v, sizeof(Cell));
                buf->tail += sizeof(Cell);
            } else {
                block::append_copy(blk, v);
            }
        }
    }

    // The word! of the global context that symbol index i of the stream
    // names, made once per index.
    Cell global_word_at(std::uint32_t i, std::size_t at) {
        if (i >= symbol_count_) fail(at + 1);
        if (i >= global_words_.size()) global_words_.resize(symbol_count_, Cell{});
        Cell& w = global_words_[i];
        if (w.is(TypeId::no_type)) global_word(symbol_at(i, at + 1), w);
        return w;
    }

    // An image! record after its header: the head, the size, the pixels.
    void image_record(const Cell& into, Header h) {
        const std::size_t head_at = at_;
        const std::int32_t first = head(h);
        const std::size_t size_at = at_;
        std::int32_t w, ht;
        if (fixed_) {
            const std::uint32_t size = raw32();  // width in the low half
            w = static_cast<std::int32_t>(size & 0xFFFF);
            ht = static_cast<std::int32_t>(size >> 16);
        } else {
            w = count();
            ht = count();
        }
        if (w > image::max_side || ht > image::max_side) fail(size_at);
        pixels(into, w, ht, first, head_at, size_at, h.new_line);
    }

    // A vector! record after its header into v: the head, the element type
    // and width, the count, the data (the fixed form gives the count first
    // and the width in the header).
    void vector_record(Cell& v, Header h) {
        const std::int32_t first = head(h);
        std::size_t form_at = at_, count_at = at_;
        std::int32_t n = 0;
        std::uint32_t element, width;
        if (fixed_) {
            n = field();
            element = raw32();
            width = (h.word >> 8) & 0xFF;
            form_at = h.at;
        } else {
            const std::uint8_t form = byte();
            element = form >> 2;
            width = 1u << (form & 3);
        }
        if (element > 0xFF || !vector_form(static_cast<TypeId>(element), width)) fail(form_at);
        if (!fixed_) {
            count_at = at_;
            n = count();
        }
        const std::size_t bytes = static_cast<std::size_t>(n) * width;
        const std::size_t run = padded(bytes);
        if (run > end_ - at_ || first > n) fail(count_at);
        vector_data(v, static_cast<TypeId>(element), width, n, first);
        at_ += run - bytes;
    }

    // Makes a text or binary of n units from the bytes at the cursor and appends it.
    void fill_text(const Cell& into, TypeId t, std::uint32_t unit, std::int32_t n, std::int32_t head, bool new_line) {
        Cell v{};
        if (t == TypeId::binary) {
            binary::make_at(v, n);
        } else {
            string::make_at_unit(v, n, unit);
            v.set_type(t);
        }
        SeriesBuffer* buf = memory::buffer(v.series_node());
        const std::size_t bytes = static_cast<std::size_t>(n) * unit;
        if (unit == 4) {
            for (std::size_t k = 0; k < bytes; k += 4) {
                std::uint32_t cp;
                std::memcpy(&cp, body_.data() + at_ + k, 4);
                if (cp > 0x10FFFF) fail(at_ + k);
            }
        }
        if (bytes > 0) std::memcpy(buf->head, body_.data() + at_, bytes);
        buf->tail = buf->head + bytes;
        at_ += bytes;
        v.set_series_head(head);
        append(into, v, new_line);
    }

    // Makes v a bitset! of the n bytes at the cursor (n already checked).
    void bits(Cell& v, std::int32_t n, bool complemented) {
        bitset::make_at(v, n, complemented);
        if (n > 0) std::memcpy(memory::buffer(v.series_node())->head, body_.data() + at_, static_cast<std::size_t>(n));
        at_ += static_cast<std::size_t>(n);
    }

    // True for the element types and widths a vector! holds.
    static bool vector_form(TypeId element, std::uint32_t width) {
        switch (element) {
        case TypeId::char_:
        case TypeId::integer: return width == 1 || width == 2 || width == 4;
        case TypeId::float_: return width == 4 || width == 8;
        case TypeId::percent: return width == 8;
        default: return false;
        }
    }

    void vector_data(Cell& v, TypeId element, std::uint32_t width, std::int32_t n, std::int32_t head) {
        const std::size_t bytes = static_cast<std::size_t>(n) * width;
        if (element == TypeId::char_ && width == 4) {
            for (std::size_t k = 0; k < bytes; k += 4) {
                std::uint32_t cp;
                std::memcpy(&cp, body_.data() + at_ + k, 4);
                if (cp > 0x10FFFF) fail(at_ + k);
            }
        }
        vector::make_at(v, n, element, width);
        SeriesBuffer* buf = memory::buffer(v.series_node());
        if (bytes > 0) std::memcpy(buf->head, body_.data() + at_, bytes);
        buf->tail = buf->head + bytes;
        at_ += bytes;
        v.set_series_head(head);
    }

    // The types whose records may stand for an earlier series by reference.
    static bool series_type(TypeId t) {
        return is_any_block_type(t) || is_any_string_type(t) || t == TypeId::binary || t == TypeId::vector ||
               t == TypeId::bitset || t == TypeId::image || t == TypeId::map;
    }

    // --- Contexts, objects, functions --------------------------------------------
    // The index in into where the next record's value lands.
    std::int32_t next_index(const Cell& into) const {
        return slot_node_ != 0 && into.series_node() == slot_node_ ? slot_index_ : block::length_of(into);
    }
    // Decodes one record into cell index of blk (a context's values, an
    // error's fields, a function's extra block).
    void record_into_slot(const Cell& blk, std::int32_t index, int depth) {
        slot_node_ = blk.series_node();
        slot_index_ = index;
        record(blk, depth);
        if (slot_node_ != 0) fail(at_);  // every record leaves one value
    }

    struct ContextHead {
        std::uint32_t kind = 0;
        bool stack = false, self = false, values = false;
        std::int32_t count = 0;
        std::size_t at = 0;
    };
    // A context! record's flags and word count; the tag or header word is
    // read here unless given (fixed header, or compact tag already read).
    ContextHead context_head(bool tag_read, std::uint32_t fixed_header) {
        ContextHead h;
        h.at = at_;
        if (fixed_) {
            const std::uint32_t w = tag_read ? fixed_header : raw32();
            if ((w & 0xFF) != static_cast<std::uint32_t>(TypeId::context)) fail(h.at);
            h.kind = (w >> 26) & 3;
            h.self = (w >> 28) & 1;
            h.stack = (w >> 29) & 1;
            h.values = (w >> 30) & 1;
        } else {
            if (!tag_read && byte() != static_cast<std::uint8_t>(TypeId::context)) fail(h.at);
            const std::uint8_t flags = byte();
            h.kind = flags & 3;
            h.stack = (flags & 4) != 0;
            h.self = (flags & 8) != 0;
            h.values = (flags & 16) != 0;
        }
        if (h.kind == 3) fail(h.at);
        const std::size_t count_at = at_;
        h.count = field();
        if (static_cast<std::size_t>(h.count) > end_ - at_) fail(count_at);
        return h;
    }
    // A new context of the record's words (each once).
    NodeId make_context(const ContextHead& h) {
        const NodeId ctx = context::make(h.count, h.stack, h.self, static_cast<context::Kind>(h.kind));
        collector::Root keep(ctx);
        for (std::int32_t i = 0; i < h.count; ++i) {
            const std::size_t at = at_;
            const symbol::SymbolId sym = symbol_ref();
            if (boot_) {  // the program's own image: its words were checked when it was made
                context::append_new_symbol(ctx, sym);
                continue;
            }
            std::int32_t position = 0;
            if (context::find_or_add_symbol(ctx, sym, true, position) >= 0) fail(at);  // a word named twice
        }
        return ctx;
    }
    // The values of a heap context, when the record carries them.
    void context_values(NodeId ctx, const ContextHead& h, int depth) {
        if (!h.values || h.stack) return;
        const Cell values = block_over(context::context_cell(ctx)->context_values());
        for (std::int32_t i = 0; i < h.count; ++i) record_into_slot(values, i, depth + 1);
    }
    // An object! cell over ctx, class id -1, stored as the context's owner.
    static Cell object_over(NodeId ctx) {
        Cell obj = Cell::fresh(TypeId::object);
        obj.set_object(ctx, 0xFFFFFFFFu, 0);
        *context::owner(ctx) = obj;
        return obj;
    }

    // context!: an object of class -1 over a new context.
    void context_record(const Cell& into, std::uint32_t fixed_header, bool new_line, int depth) {
        const ContextHead h = context_head(true, fixed_header);
        if (h.stack) fail(h.at);  // an object's values live in the heap
        const NodeId ctx = make_context(h);
        append(into, object_over(ctx), new_line);
        context_values(ctx, h, depth);
    }

    // The fields of an object! record before its values: class id, handler
    // indices, the context's words. The object is not placed anywhere yet.
    Cell object_start(bool handlers, ContextHead& h) {
        const std::int32_t class_id = signed_field();  // a decoded object has a class of its own
        if (handlers) {
            signed_field();  // the handler fields are found again by name
            signed_field();
        }
        h = context_head(false, 0);
        if (h.stack) fail(h.at);
        Cell obj = object_over(make_context(h));
        if (boot_) {  // the boot image's objects keep their classes
            obj.set_object_class(static_cast<std::uint32_t>(class_id));
            highest_class_ = std::max(highest_class_, class_id);
            if (handlers) {  // filled once the fields are set; copies share it
                Cell rec{};
                block::make_at_filled(rec, 2, false);
                obj.set_object_handlers(rec.series_node());
            }
            *context::owner(obj.object_context()) = obj;
        }
        return obj;
    }
    // After the values: the change handlers the record says the object has.
    Cell object_finish(Cell obj, bool handlers, std::size_t at) {
        if (!handlers) return obj;
        if (boot_) {  // the fields come later, in definitions
            handler_objects_.push_back(obj);
            return obj;
        }
        const NodeId ctx = obj.object_context();
        for (const words::Word w : {words::Word::on_change_star, words::Word::on_deep_change_star}) {
            const std::int32_t i = context::find_symbol(ctx, words::word(w).word_symbol(), true);
            if (i < 0) continue;
            const TypeId t = context::value_at(ctx, i)->type();
            if (t != TypeId::function && t != TypeId::routine) fail(at);
        }
        guarded(at, [&] { object::install_change_handlers(obj); });
        return obj;
    }
    void object_record(const Cell& into, bool handlers, bool new_line, int depth) {
        const std::size_t at = at_;
        ContextHead h;
        const Cell obj = object_start(handlers, h);
        const std::int32_t index = append(into, obj, new_line);
        context_values(obj.object_context(), h, depth);
        replace(into, index, object_finish(obj, handlers, at));
    }

    // function!: sizes, the context's words, then the spec and body blocks.
    // The function is placed (or the word bound to it, for a word's binding)
    // before its blocks are read, so that their words can name it.
    void function_record(const Cell& into, bool new_line, int depth, Cell* bound_word) {
        const std::size_t at = at_;
        field();  // the sizes of spec and body: the records count their values
        field();
        const ContextHead h = context_head(false, 0);
        if (!h.stack || h.kind != static_cast<std::uint32_t>(context::Kind::function)) fail(h.at);
        const NodeId ctx = make_context(h);
        collector::Root keep_ctx(ctx);
        Cell extra{};
        block::make_at_filled(extra, function::extra_cells, false);
        collector::Root keep_extra(extra);
        Cell placeholder{};
        block::make_at(placeholder, 1);
        Cell fn = Cell::fresh(TypeId::function);
        fn.set_code(ctx, placeholder.series_node(), extra.series_node());
        *context::owner(ctx) = fn;
        std::int32_t index = -1;
        if (bound_word != nullptr) {
            bind_word(*bound_word, ctx, at);
            append(into, *bound_word, new_line);
        } else {
            index = append(into, fn, new_line);
        }
        auto update = [&] {
            *context::owner(ctx) = fn;
            if (index >= 0) replace(into, index, fn);
        };
        const std::size_t spec_at = at_;
        record_into_slot(extra, 1, depth + 1);
        const Cell spec = *block::get_cell(extra, 1);
        if (!spec.is(TypeId::block) || spec.series_head() != 0) fail(spec_at);
        unset::make_at(*block::get_cell(extra, 1));
        fn.set_code(ctx, spec.series_node(), extra.series_node());
        update();
        std::uint32_t flags = 0;
        // the boot image's specs were checked when it was made, and the words
        // their type blocks name get their values only at its end
        guarded(spec_at, [&] { flags = boot_ ? function::trace_flags(spec) : function::validate_spec(spec); });
        if (!boot_ && !words_match(ctx, spec)) fail(spec_at);  // the boot image is the program's own
        const std::size_t body_at = at_;
        record_into_slot(extra, function::extra_body, depth + 1);
        if (!block::get_cell(extra, function::extra_body)->is(TypeId::block)) fail(body_at);
        fn.add_function_trace_flags(flags);
        update();
    }
    // True when ctx holds exactly the words a function of the spec gets.
    static bool words_match(NodeId ctx, const Cell& spec) {
        const NodeId expected = context::make_from_block(spec, true, false, context::Kind::function);
        collector::Root keep(expected);
        const std::int32_t n = context::word_count(expected);
        if (n != context::word_count(ctx)) return false;
        for (std::int32_t i = 0; i < n; ++i)
            if (symbol::resolve_alias(context::word_at(expected, i)->word_symbol()) !=
                symbol::resolve_alias(context::word_at(ctx, i)->word_symbol()))
                return false;
        return true;
    }

    // native!, action!, routine!: the table slot, then the spec block (read aside).
    void native_record(const Cell& into, TypeId t, bool new_line, int depth) {
        const std::size_t at = at_;
        const std::int32_t n = boot_ && t == TypeId::routine ? routine::find(symbol::name(symbol_ref())) : field();
        if (t == TypeId::routine ? routine::entry(n) == nullptr
                                 : n < 1 || n > (t == TypeId::action ? action_count : natives::native_count))
            fail(at);
        Cell aside{};
        block::make_at(aside, 1);
        collector::Root keep(aside);
        const std::size_t spec_at = at_;
        record(aside, depth + 1);
        const Cell spec = *block::get_cell(aside, 0);
        if (!spec.is(TypeId::block)) fail(spec_at);
        Cell v{};
        if (t == TypeId::routine) routine::make_at(v, spec, nullptr, n, 0, false);
        else native::make_at(v, t, spec, n);
        append(into, v, new_line);
    }

    // op!: the record of its source value, decoded in place and turned into
    // the op!. source is the fixed header's source type (no_type: any).
    void op_record(const Cell& into, TypeId source, bool new_line, int depth, std::size_t at) {
        const std::int32_t index = next_index(into);
        record(into, depth + 1);
        Cell v = *block::get_cell(into, index);
        const TypeId t = v.type();
        if (t != TypeId::native && t != TypeId::action && t != TypeId::function && t != TypeId::routine)
            fail(at);
        if (source != TypeId::no_type && source != t) fail(at);
        if (!op::valid_spec_q(block_over(v.code_spec()))) fail(at);
        if (t == TypeId::function || t == TypeId::routine) *function::extra_cell(v, function::extra_op) = v;
        v.set_op(t);
        v.set_new_line(new_line);
        *block::get_cell(into, index) = v;
    }

    // error!: the code, then its fields from arg1 to stack.
    void error_record(const Cell& into, bool new_line, int depth) {
        const std::size_t at = at_;
        const std::int32_t code = field();
        std::int32_t category = 0, position = 0;
        if (!error::decode(code, category, position)) fail(at);
        const Cell category_word = error::category_word(category);
        const Cell id_word = error::id_word(category, position);
        Cell e{};
        guarded(at, [&] { error::build(e, category_word, id_word); });
        append(into, e, new_line);
        const Cell fields = block_over(context::context_cell(e.object_context())->context_values());
        const auto first = static_cast<std::int32_t>(error::Field::arg1);
        for (std::int32_t f = first; f <= static_cast<std::int32_t>(error::Field::stack); ++f)
            record_into_slot(fields, f, depth + 1);
    }

    // A word of the boot image bound by root index: the context of root value
    // c, at index i (-1: its symbol's index there; -2: `self`, which stands
    // for the object and has no index).
    void root_word(symbol::SymbolId sym, Cell& v, TypeId t) {
        const std::size_t at = at_;
        const std::uint32_t c = varint();
        const std::int32_t i = zigzag();
        if (c >= static_cast<std::uint32_t>(block::length_of(target_) - root_base_)) fail(at);
        const Cell root = *block::get_cell(target_, root_base_ + static_cast<std::int32_t>(c));
        NodeId ctx = 0;
        if (root.is(TypeId::object)) ctx = root.object_context();
        else if (root.is(TypeId::function)) ctx = root.own_context();
        else if (word::is_any_word(root.type())) ctx = root.word_context();
        if (ctx == 0) fail(at);
        v = Cell::fresh(t);
        v.set_word(ctx, sym, i == self_index ? -1 : i);
        if (i != self_index) bind_word(v, ctx, at);
    }

    // A definition: the value of the next record goes into the word's slot;
    // neither stays in the target block.
    void define(const Cell& w) {
        const std::size_t at = at_;
        const std::int32_t length = block::length_of(target_);
        record(target_, 1);
        if (block::length_of(target_) != length + 1) fail(at);
        const Cell value = *block::get_cell(target_, length);
        block::set_tail(target_, length);
        const NodeId ctx = w.word_context();
        if (ctx == context::global()) {
            Cell word = w;
            word::set_value(word, value);
            return;
        }
        Cell* slot = context::value_at(ctx, w.word_index());
        if (slot == nullptr) fail(at);
        *slot = value;
        slot->set_new_line(false);
    }

    // After the last record: the change handlers, now that the fields hold
    // them, and the class ids to come after the image's.
    void finish_boot() {
        for (Cell& obj : handler_objects_) {
            const NodeId ctx = obj.object_context();
            for (const words::Word w : {words::Word::on_change_star, words::Word::on_deep_change_star}) {
                const std::int32_t i = context::find_symbol(ctx, words::word(w).word_symbol(), true);
                if (i < 0) continue;
                const TypeId t = context::value_at(ctx, i)->type();
                if (t != TypeId::function && t != TypeId::routine) fail(at_);
            }
            object::fill_change_handlers(obj);
        }
        object::reserve_class_ids(highest_class_);
    }

    // A bound word: its index, then the context's owner by reference or in
    // full (an object! or function! that is made but placed nowhere else).
    void bound_word(const Cell& into, Cell w, bool reference, bool new_line, int depth) {
        const std::size_t at = at_;
        w.set_word_index(signed_field());
        if (reference) {
            const std::size_t path_at = at_;
            const Cell found = path_value();
            NodeId ctx = 0;
            switch (found.type()) {
            case TypeId::object: ctx = found.object_context(); break;
            case TypeId::function: ctx = found.own_context(); break;
            case TypeId::op:
                if (found.op_source() == TypeId::function) ctx = found.own_context();
                break;
            case TypeId::word:
            case TypeId::set_word:
            case TypeId::lit_word:
            case TypeId::get_word:
            case TypeId::refinement: ctx = found.word_context(); break;
            default: break;
            }
            if (ctx == 0) fail(path_at);
            bind_word(w, ctx, at);
            append(into, w, new_line);
            return;
        }
        const std::size_t owner_at = at_;
        std::uint32_t type, f;
        if (fixed_) {
            const std::uint32_t header = raw32();
            type = header & 0xFF;
            f = header & fixed_handlers;
        } else {
            const std::uint8_t b = byte();
            type = b & 0x3F;
            f = b & 0x40;
        }
        if (type == static_cast<std::uint32_t>(TypeId::object)) {
            ContextHead h;
            const Cell obj = object_start(f != 0, h);
            bind_word(w, obj.object_context(), at);
            append(into, w, new_line);
            context_values(obj.object_context(), h, depth);
            object_finish(obj, f != 0, owner_at);
        } else if (type == static_cast<std::uint32_t>(TypeId::function) && f == 0) {
            function_record(into, new_line, depth, &w);
        } else {
            fail(owner_at);
        }
    }
    // An object! or function! by reference: the one that owns the context of
    // the value the path names (an op! made from a function gives it back).
    void owner_reference(const Cell& into, TypeId t, bool new_line, std::size_t at) {
        const std::size_t path_at = at_;
        Cell found = path_value();
        NodeId ctx = 0;
        if (word::is_any_word(found.type())) ctx = found.word_context();
        else if (found.is(TypeId::object)) ctx = found.object_context();
        else if (found.is(TypeId::function) || (found.is(TypeId::op) && found.op_source() == TypeId::function))
            ctx = found.own_context();
        if (ctx == 0) fail(path_at);
        Cell owner = *context::owner(ctx);
        if (boot_ && ctx == context::global() && t == TypeId::object && !owner.is(t)) {
            owner = object_over(ctx);  // the global context seen as an object, of no class
        }
        if (!owner.is(t)) fail(at);
        append(into, owner, new_line);
    }

    // Binds w to ctx at its index; -1 looks its symbol up there in the boot
    // image, and is an object's `self` in a codec stream.
    void bind_word(Cell& w, NodeId ctx, std::size_t at) const {
        std::int32_t i = w.word_index();
        if (i == -1 && !boot_ && context::owner(ctx)->is(TypeId::object)) {
            w.set_word_context(ctx);  // `self` in a codec stream: the object itself, at no index
            return;
        }
        if (i == -1) i = context::find_symbol(ctx, w.word_symbol(), true);
        if (i < 0 || i >= context::word_count(ctx)) fail(at);
        w.set_word_context(ctx);
        w.set_word_index(i);
    }

    // The first room of a container of n values. A count is only a claim
    // until its records are read: containers nested inside each other are
    // all open at once, so each takes at most a little room up front and
    // grows as its values come.
    static std::int32_t room_for(std::int32_t n) { return std::clamp(n, 1, 256); }

    // True for the series records that carry a head.
    static bool has_head(TypeId t) { return t != TypeId::map && t != TypeId::bitset; }

    // The buffer kind of a value found by a path: a record may share the
    // buffer only with a value of the same kind, so that no series is read
    // with another unit than it was made with.
    enum class Kind { none, cells, text, bytes, vector, bits, pixels, map };
    static Kind kind_of(TypeId t) {
        if (is_any_block_type(t)) return Kind::cells;
        if (is_any_string_type(t)) return Kind::text;
        switch (t) {
        case TypeId::binary: return Kind::bytes;
        case TypeId::vector: return Kind::vector;
        case TypeId::bitset: return Kind::bits;
        case TypeId::image: return Kind::pixels;
        case TypeId::map: return Kind::map;
        default: return Kind::none;
        }
    }

    // A series record by reference: a copy of the value its path names, with
    // the record's type and head.
    void shared(const Cell& into, TypeId t, std::int32_t head, bool new_line) {
        const std::size_t path_at = at_;
        Cell v = path_value();
        Kind found = kind_of(v.type());
        const TypeId ft = v.type();
        if (t == TypeId::map && ft == TypeId::block &&
            std::find(open_maps_.begin(), open_maps_.end(), v.series_node()) != open_maps_.end()) {
            const std::int32_t index = append(into, v, new_line);
            map_references_.push_back({v.series_node(), into, index});
            return;
        }
        if (ft == TypeId::native || ft == TypeId::action || ft == TypeId::function || ft == TypeId::op ||
            ft == TypeId::routine) {
            // a function value stands for its spec block
            const NodeId spec = v.code_spec();
            v = Cell::fresh(TypeId::block);
            v.set_series_node(spec);
            found = Kind::cells;
        } else if (ft == TypeId::map && kind_of(t) == Kind::cells) {
            const NodeId entries = map::block_of(v);
            v = Cell::fresh(TypeId::block);
            v.set_series_node(entries);
            found = Kind::cells;
        }
        if (found == Kind::none || found != kind_of(t)) fail(path_at);
        // The head is not checked against the length: a container referred to
        // from inside itself is not filled yet, and heads past a tail are values.
        if (found == Kind::cells) v.set_series_extra(0);  // no hash! index: a block's word 3 is 0
        v.set_bare_type(t);
        if (found != Kind::map && found != Kind::bits) v.set_series_head(head);
        if (t == TypeId::hash) {
            Cell h{};
            const Cell b = v;
            guarded(path_at, [&] { hash::make_at(h, b); });
            v = h;
        }
        append(into, v, new_line);
    }

    // Gives a filled hash! its index (the block was appended as block!).
    void finish_block(const Cell& into, std::int32_t index, const Cell& blk, TypeId t, std::size_t at) const {
        if (t != TypeId::hash) return;
        Cell h{};
        guarded(at, [&] { hash::make_at(h, blk); });  // values that cannot be compared raise
        replace(into, index, h);
    }

    // An image! of w x h pixels from the bytes at the cursor.
    void pixels(const Cell& into, std::int32_t w, std::int32_t h, std::int32_t head, std::size_t head_at,
                std::size_t size_at, bool new_line) {
        const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
        if (n > (end_ - at_) / 4) fail(size_at);
        if (static_cast<std::size_t>(head) > n) fail(head_at);
        Cell v{};
        image::make_at(v, w, h, 0);
        if (n > 0) std::memcpy(image::pixels(v), body_.data() + at_, n * 4);
        at_ += n * 4;
        v.set_series_head(head);
        append(into, v, new_line);
    }

    // A map! of n values (keys and values alternating), decoded into a block
    // that becomes the map once every key is known to be a key type.
    void entries(const Cell& into, std::int32_t n, bool new_line, int depth, std::size_t count_at) {
        Cell blk{};
        block::make_at(blk, room_for(n));
        const std::int32_t index = append(into, blk, new_line);
        open_maps_.push_back(blk.series_node());
        for (std::int32_t i = 0; i < n; ++i) {
            record(blk, depth + 1);
        }
        open_maps_.pop_back();
        for (std::int32_t i = 0; i < n; i += 2)
            if (!map::is_key_type(block::get_cell(blk, i)->type())) fail(count_at);
        Cell m{};
        guarded(count_at, [&] { map::make_at(m, &blk, 0); });
        replace(into, index, m);
        std::erase_if(map_references_, [&](const MapReference& r) {
            if (r.map != blk.series_node()) return false;
            replace(r.into, r.index, m);
            return true;
        });
    }
};

}  // namespace

namespace {

// The body of a stream, or invalid-data: decompressed into kept when the
// stream says so, else copied there, or with in_place seen where it lies (the
// program's own image, which nothing moves).
std::span<const std::uint8_t> body_of(const std::uint8_t* data, std::size_t length, const Cell* input,
                                      std::vector<std::uint8_t>& kept, bool in_place) {
    if (length < header_size || std::memcmp(data, "KIVBIN", 6) != 0)
        runtime::raise_error(ErrorCategory::script, "invalid-data", input);
    if (data[7] & flag_compressed) {
        if (!lz77::decompress(data + header_size, length - header_size, kept))
            runtime::raise_error(ErrorCategory::script, "invalid-data", input);
        return kept;
    }
    if (in_place) return {data + header_size, length - header_size};
    kept.assign(data + header_size, data + length);  // a binary's buffer may move while values are made
    return kept;
}

}  // namespace

std::int32_t symbol_count(const std::uint8_t* data, std::size_t length) {
    if (length < header_size || std::memcmp(data, "KIVBIN", 6) != 0) return 0;
    const std::uint8_t flags = data[7];
    if ((flags & flag_compressed) != 0 || (flags & flag_symbols) == 0) return 0;
    std::size_t at = header_size;
    // The third field of the body: after the root count and the payload size.
    std::uint32_t value = 0;
    for (int field = 0; field < 3; ++field) {
        value = 0;
        if ((flags & flag_compact) == 0) {
            if (length - at < 4) return 0;
            std::memcpy(&value, data + at, 4);
            at += 4;
            continue;
        }
        for (int shift = 0;; shift += 7) {
            if (at >= length || shift > 28) return 0;
            const std::uint8_t b = data[at++];
            value |= static_cast<std::uint32_t>(b & 0x7F) << shift;
            if ((b & 0x80) == 0) break;
        }
    }
    return value > INT32_MAX ? 0 : static_cast<std::int32_t>(value);
}

std::int32_t decode_boot(const std::uint8_t* data, std::size_t length, const Cell& target) {
    std::vector<std::uint8_t> kept;
    Reader reader(body_of(data, length, nullptr, kept, true), target, true);
    reader.read_body((data[7] & flag_symbols) != 0, (data[7] & flag_compact) == 0);
    return reader.root_base();
}

void decode(const std::uint8_t* data, std::size_t length, const Cell& target, const Cell* input) {
    std::vector<std::uint8_t> kept;
    Reader reader(body_of(data, length, input, kept, false), target, false);
    reader.read_body((data[7] & flag_symbols) != 0, (data[7] & flag_compact) == 0);
}

}  // namespace kiv::kivbin
