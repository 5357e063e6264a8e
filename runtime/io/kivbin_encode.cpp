// Kivbin writers. One walk serves both encodings: each record is written by
// the same code, which asks `compact_` only where the two layouts differ.
// Reference paths: every value has a position in its container (buffer index,
// not head-relative); the level stack holds the positions of the containers
// around the value being written, so stack + position is its path from the
// reader's target block. The first time a tracked identity (series node,
// context node) is met its path is recorded; later meetings write the path.
#include "runtime/io/kivbin_encode.h"

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/kivbin.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace kiv::kivbin {
namespace {

constexpr std::uint8_t prefix_new_line = 0xC0, prefix_reference = 0xC1, prefix_definition = 0xC4;
constexpr std::uint8_t value_copy = 0xFF;
// The index a boot image gives `self` bound to an object (the object itself,
// at no index of its context); -1 asks the reader to look the word up.
constexpr std::int32_t self_index = -2;
constexpr std::uint8_t value_true = 0xC2, value_false = 0xC3;
constexpr std::uint8_t tag_f = 0x40;
// Fixed header bits.
constexpr std::uint32_t fixed_new_line = 1u << 31, fixed_by_reference = 1u << 19, fixed_bound = 1u << 25,
                        fixed_negative = 1u << 22, fixed_complemented = 1u << 23, fixed_handlers = 1u << 24;
constexpr std::uint32_t fixed_reference = 255;

[[noreturn]] void no_codec(TypeId t) {
    Cell type{};
    datatype::make_at(t, type);
    runtime::raise_error(ErrorCategory::access, "no-codec", &type);
}

// A block-like cell over node, head 0 (to walk a buffer the payload names).
Cell block_over(NodeId node) {
    Cell b = Cell::fresh(TypeId::block);
    b.set_series_node(node);
    return b;
}

class Encoder {
public:
    explicit Encoder(bool compact, bool boot = false) : compact_(compact), boot_(boot) {}

    void top(const Cell& v) {
        write(v);
        ++roots_;
    }

    // --- The boot image ---------------------------------------------------------
    // A root value whose context words may name by root index: the record of
    // an object without its values (a shell, filled by definitions later) or
    // of a function in full.
    void root_owner(const Cell& owner) {
        const NodeId ctx = owner.is(TypeId::object) ? owner.object_context() : owner.own_context();
        root_of_.emplace(ctx, static_cast<std::int32_t>(roots_));
        if (owner.is(TypeId::object)) {
            remember(ctx);
            object_fields(owner, false, false);
            ++position_;
            ++roots_;
        } else {
            top(owner);
        }
    }
    // The root index of the owner of ctx, or -1.
    std::int32_t root_of(NodeId ctx) const {
        const auto it = root_of_.find(ctx);
        return it == root_of_.end() ? -1 : it->second;
    }
    // A definition: word set to the value of root value `root` when it is 0
    // or more, else to value written in place (a value no path may name).
    void definition(const Cell& word, std::int32_t root, const Cell& value) {
        byte(prefix_definition);
        word_record(word, false);
        if (root < 0) {
            record(value, false);
            return;
        }
        byte(value_copy);
        path({root});
    }

    std::vector<std::uint8_t> finish() const {
        // version 1 marks the boot image (evaluated values), 2 the codec's streams
        std::vector<std::uint8_t> out = {'K', 'I', 'V', 'B', 'I', 'N', static_cast<std::uint8_t>(boot_ ? 1 : 2), 0};
        const bool symbols = !names_.empty();
        out[7] = static_cast<std::uint8_t>((compact_ ? flag_compact : 0) | (symbols ? flag_symbols : 0));
        // The string area: names ended by NUL, in the fixed form padded to 8.
        std::vector<std::uint8_t> area;
        std::vector<std::uint32_t> offsets;
        for (const std::string& n : names_) {
            offsets.push_back(static_cast<std::uint32_t>(area.size()));
            area.insert(area.end(), n.begin(), n.end());
            area.push_back(0);
            if (!compact_) area.resize((area.size() + 7) & ~std::size_t{7}, 0);
        }
        auto number = [&](std::size_t n) {
            if (compact_) put_varint(out, static_cast<std::uint32_t>(n));
            else put_word(out, static_cast<std::uint32_t>(n));
        };
        number(roots_);
        number(payload_.size());
        if (symbols) {
            number(names_.size());
            number(area.size());
            for (const std::uint32_t o : offsets) put_word(out, o);
            out.insert(out.end(), area.begin(), area.end());
        }
        out.insert(out.end(), payload_.begin(), payload_.end());
        return out;
    }

private:
    bool compact_;
    bool boot_;  // the boot image: owners' words by root index, routines by name
    std::unordered_map<NodeId, std::int32_t> root_of_;  // owner context -> root index
    std::vector<std::uint8_t> payload_;
    std::size_t roots_ = 0;
    std::vector<std::string> names_;
    std::unordered_map<symbol::SymbolId, std::uint32_t> symbol_index_;
    std::vector<std::int32_t> levels_;  // positions of the enclosing containers
    std::int32_t position_ = 0;         // of the next value in the current container
    std::unordered_map<NodeId, std::vector<std::int32_t>> paths_;

    // --- Bytes --------------------------------------------------------------------
    static void put_word(std::vector<std::uint8_t>& out, std::uint32_t w) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    }
    static void put_varint(std::vector<std::uint8_t>& out, std::uint32_t v) {
        do {
            out.push_back(static_cast<std::uint8_t>((v & 0x7F) | (v > 0x7F ? 0x80 : 0)));
            v >>= 7;
        } while (v != 0);
    }
    void byte(std::uint8_t b) { payload_.push_back(b); }
    void word(std::uint32_t w) { put_word(payload_, w); }
    void varint(std::uint32_t v) { put_varint(payload_, v); }
    void zigzag(std::int32_t n) {
        varint((static_cast<std::uint32_t>(n) << 1) ^ static_cast<std::uint32_t>(n >> 31));
    }
    void bytes(const std::uint8_t* p, std::size_t n) { payload_.insert(payload_.end(), p, p + n); }
    void pad4() { payload_.resize((payload_.size() + 3) & ~std::size_t{3}, 0); }
    // A count, index or head: a varint or a 32-bit word.
    void field(std::uint32_t v) {
        if (compact_) varint(v);
        else word(v);
    }
    // A signed index: zigzag or a 32-bit word.
    void signed_field(std::int32_t v) {
        if (compact_) zigzag(v);
        else word(static_cast<std::uint32_t>(v));
    }
    // The record's start: the compact tag byte (type id, F flag) or the fixed
    // header word (type id, new-line marker, extra bits).
    void tag(TypeId t, bool f, std::uint32_t fixed_extra, bool new_line) {
        if (compact_) {
            byte(static_cast<std::uint8_t>(static_cast<std::uint32_t>(t) | (f ? tag_f : 0)));
        } else {
            word(static_cast<std::uint32_t>(t) | fixed_extra | (new_line ? fixed_new_line : 0));
        }
    }

    void symbol_ref(symbol::SymbolId sym) {
        auto [it, added] = symbol_index_.try_emplace(sym, static_cast<std::uint32_t>(names_.size()));
        if (added) names_.emplace_back(symbol::name(sym));
        field(it->second);
    }

    // --- Levels and references -------------------------------------------------
    void open_level() {
        if (levels_.size() >= static_cast<std::size_t>(max_depth))
            runtime::raise_error(ErrorCategory::internal, "too-deep");
        levels_.push_back(position_);
        position_ = 0;
    }
    void close_level() {
        position_ = levels_.back();
        levels_.pop_back();
    }
    // The path of the value being written: the enclosing positions, then its own.
    std::vector<std::int32_t> current_path() const {
        std::vector<std::int32_t> p = levels_;
        p.push_back(position_);
        return p;
    }
    const std::vector<std::int32_t>* known(NodeId identity) const {
        const auto it = paths_.find(identity);
        return it == paths_.end() ? nullptr : &it->second;
    }
    void remember(NodeId identity) { paths_.emplace(identity, current_path()); }
    void path(const std::vector<std::int32_t>& p) {
        if (!compact_) word(fixed_reference);
        field(static_cast<std::uint32_t>(p.size()));
        for (const std::int32_t i : p) field(static_cast<std::uint32_t>(i));
    }

    // --- Values -------------------------------------------------------------------
    void write(const Cell& v) {
        const bool nl = v.new_line();
        if (nl && compact_) byte(prefix_new_line);
        record(v, nl);
        ++position_;
    }

    void record(const Cell& v, bool nl) {
        const TypeId t = v.type();
        switch (t) {
        case TypeId::unset:
        case TypeId::none: tag(t, false, 0, nl); return;
        case TypeId::logic:
            if (compact_) {
                byte(v.logic_value() != 0 ? value_true : value_false);
            } else {
                tag(t, false, 0, nl);
                word(v.logic_value() != 0 ? 1 : 0);
            }
            return;
        case TypeId::datatype:
            tag(t, false, 0, nl);
            field(static_cast<std::uint32_t>(v.datatype_id()));
            return;
        case TypeId::integer: {
            const std::int32_t n = v.int_value();
            if (compact_ && n >= 0 && n <= 63) {
                byte(static_cast<std::uint8_t>(0x80 + n));
                return;
            }
            tag(t, false, 0, nl);
            signed_field(n);
            return;
        }
        case TypeId::char_:
            tag(t, false, 0, nl);
            field(v.char_value());
            return;
        case TypeId::pair:
            tag(t, false, 0, nl);
            signed_field(v.pair_x());
            signed_field(v.pair_y());
            return;
        case TypeId::point2d:
        case TypeId::point3d:
            tag(t, false, 0, nl);
            for (int i = 0; i < (t == TypeId::point2d ? 2 : 3); ++i) {
                const float c = v.point_coord(i);
                std::uint32_t bits;
                std::memcpy(&bits, &c, sizeof bits);
                word(bits);
            }
            return;
        case TypeId::float_:
        case TypeId::time:
        case TypeId::percent: number(v, nl); return;
        case TypeId::date: {
            const bool has_time = v.date_has_time();
            tag(t, compact_ && has_time, 0, nl);
            word(v.date_word());
            if (compact_) {
                if (has_time) {
                    word(v.f64_low());
                    word(v.f64_high());
                }
            } else {
                word(v.f64_high());
                word(v.f64_low());
            }
            return;
        }
        case TypeId::typeset: {
            std::uint8_t mask[12];
            for (int i = 0; i < 3; ++i)
                for (int k = 0; k < 4; ++k) mask[4 * i + k] = static_cast<std::uint8_t>(v.typeset_mask(i) >> (8 * k));
            tag(t, false, 0, nl);
            if (compact_) {
                std::size_t n = 12;
                while (n > 0 && mask[n - 1] == 0) --n;
                byte(static_cast<std::uint8_t>(n));
                bytes(mask, n);
            } else {
                bytes(mask, 12);
            }
            return;
        }
        case TypeId::tuple: {
            const std::uint32_t n = v.tuple_length();
            if (compact_) {
                tag(t, n != 3, 0, nl);
                if (n != 3) byte(static_cast<std::uint8_t>(n));
                bytes(v.tuple_bytes(), n);
            } else {
                tag(t, false, (n & 0xF) << 8, nl);
                bytes(v.tuple_bytes(), 12);
            }
            return;
        }
        case TypeId::money:
            tag(t, v.money_negative(), v.money_negative() ? fixed_negative : 0, nl);
            byte(static_cast<std::uint8_t>(v.money_currency()));
            bytes(v.money_digits(), Cell::money_digit_bytes);
            return;
        case TypeId::issue:
            tag(t, false, 0, nl);
            symbol_ref(v.word_symbol());
            return;
        case TypeId::word:
        case TypeId::set_word:
        case TypeId::lit_word:
        case TypeId::get_word:
        case TypeId::refinement: word_record(v, nl); return;
        case TypeId::string:
        case TypeId::file:
        case TypeId::url:
        case TypeId::tag:
        case TypeId::email:
        case TypeId::ref:
        case TypeId::binary:
        case TypeId::vector:
        case TypeId::bitset:
        case TypeId::image:
        case TypeId::block:
        case TypeId::paren:
        case TypeId::path:
        case TypeId::lit_path:
        case TypeId::set_path:
        case TypeId::get_path:
        case TypeId::hash:
        case TypeId::map: series(v, nl); return;
        case TypeId::object: object(v, nl, t); return;
        case TypeId::function: function(v, nl); return;
        case TypeId::native:
        case TypeId::action: native(v, nl); return;
        case TypeId::routine: routine(v, nl); return;
        case TypeId::op: op(v, nl); return;
        case TypeId::error: error(v, nl); return;
        default: no_codec(t);  // triple!, handle!, port!, event! and the internal types
        }
    }

    // float!, percent!, time!: a small whole number (percent!: hundredths) as
    // zigzag with F set, anything else as the raw float64.
    void number(const Cell& v, bool nl) {
        const TypeId t = v.type();
        const double d = v.f64();
        if (compact_) {
            std::int32_t n = 0;
            bool whole = false;
            if (t == TypeId::percent) {
                if (d >= -21474836.0 && d <= 21474836.0) {
                    n = static_cast<std::int32_t>(d * 100 + (d < 0 ? -0.5 : 0.5));
                    whole = static_cast<double>(n) / 100 == d && !(d == 0 && std::signbit(d));
                }
            } else if (d >= -2147483000.0 && d <= 2147483000.0) {
                n = static_cast<std::int32_t>(d);
                whole = static_cast<double>(n) == d && !(d == 0 && std::signbit(d));
            }
            tag(t, whole, 0, nl);
            if (whole) {
                zigzag(n);
            } else {
                word(v.f64_low());
                word(v.f64_high());
            }
            return;
        }
        while (payload_.size() % 8 != 0) word(0);  // fillers: the record starts 8-aligned
        tag(t, false, 0, nl);
        word(v.f64_high());
        word(v.f64_low());
    }

    // The series types. Identity: the buffer's node (an image! without pixels
    // has none and is always written in full).
    void series(const Cell& v, bool nl) {
        const TypeId t = v.type();
        const NodeId node = v.series_node();
        const SeriesBuffer* buf = node != 0 ? memory::buffer(node) : nullptr;
        const std::uint32_t unit = buf != nullptr ? std::max<std::uint32_t>(buf->unit(), 1) : 1;
        const std::int32_t units = buf != nullptr ? buf->used_bytes() / static_cast<std::int32_t>(unit) : 0;
        const bool has_head = t != TypeId::map && t != TypeId::bitset;
        const std::int32_t head = has_head ? std::clamp(v.series_head(), 0, units) : 0;
        bool f = has_head && head != 0;
        std::uint32_t extra = 0;
        if (t == TypeId::bitset) {
            f = bitset::complemented(buf);
            extra = f ? fixed_complemented : 0;
        } else if (is_any_string_type(t) || t == TypeId::vector) {
            extra = unit << 8;
        }
        if (node != 0) {
            if (const auto* p = known(node)) {
                if (compact_) byte(prefix_reference);
                tag(t, compact_ && f, extra | fixed_by_reference, nl);
                if (has_head && (!compact_ || f)) field(static_cast<std::uint32_t>(head));
                path(*p);
                return;
            }
            remember(node);
        }
        tag(t, compact_ && f, extra, nl);
        if (has_head && (!compact_ || f)) field(static_cast<std::uint32_t>(head));
        const std::uint8_t* data = buf != nullptr ? buf->head : nullptr;
        if (is_any_string_type(t)) {
            const auto n = static_cast<std::uint32_t>(units);
            if (compact_) {
                // the count shares its varint with the unit width: 2^30 units at most
                if (n > 0x3FFFFFFFu) runtime::raise_error(ErrorCategory::script, "too-long");
                varint(n << 2 | (unit == 1 ? 0 : unit == 2 ? 1 : 2));
            } else {
                word(n);
            }
            bytes(data, static_cast<std::size_t>(n) * unit);
            if (!compact_) pad4();
            return;
        }
        switch (t) {
        case TypeId::binary:
        case TypeId::bitset:
            field(static_cast<std::uint32_t>(units));
            bytes(data, static_cast<std::size_t>(units));
            if (!compact_) pad4();
            return;
        case TypeId::vector: {
            const auto element = static_cast<std::uint32_t>(vector::element_type(v));
            if (compact_) {
                const std::uint32_t code = unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3;
                byte(static_cast<std::uint8_t>(code | element << 2));
                varint(static_cast<std::uint32_t>(units));
            } else {
                word(static_cast<std::uint32_t>(units));
                word(element);
            }
            bytes(data, static_cast<std::size_t>(units) * unit);
            if (!compact_) pad4();
            return;
        }
        case TypeId::image: {
            const auto w = static_cast<std::uint32_t>(image::width_of(v));
            const auto h = static_cast<std::uint32_t>(image::height_of(v));
            if (compact_) {
                varint(w);
                varint(h);
            } else {
                word(w | h << 16);
            }
            const std::uint32_t* px = image::pixels(v);
            for (std::size_t i = 0, n = static_cast<std::size_t>(w) * h; i < n; ++i) word(px != nullptr ? px[i] : 0);
            return;
        }
        case TypeId::map: {
            // Removed entries (value type 0) are left out; positions count
            // the cells written, which is the reader's block.
            const Cell blk = block_over(map::block_of(v));
            const std::int32_t n = block::length_of(blk);
            std::int32_t live = 0;
            for (std::int32_t i = 0; i + 1 < n; i += 2)
                if (!block::first_cell(blk)[i + 1].is(TypeId::no_type)) live += 2;
            field(static_cast<std::uint32_t>(live));
            open_level();
            for (std::int32_t i = 0; i + 1 < n; i += 2) {
                const Cell key = block::first_cell(blk)[i];
                const Cell value = block::first_cell(blk)[i + 1];
                if (value.is(TypeId::no_type)) continue;
                write(key);
                write(value);
            }
            close_level();
            return;
        }
        default:  // the block-like series
            cells(v, units);
        }
    }

    // A count and the cells of a block buffer, one level down.
    void cells(const Cell& blk, std::int32_t n) {
        field(static_cast<std::uint32_t>(n));
        open_level();
        for (std::int32_t i = 0; i < n; ++i) write(block::first_cell(blk)[i]);  // re-read: nothing moves
        close_level();
    }

    // A plain block record of a spec or body block (no head, not tracked).
    void plain_block(NodeId node, bool nl) {
        const Cell blk = block_over(node);
        tag(TypeId::block, false, 0, nl);
        if (!compact_) field(0);
        cells(blk, block::length_of(blk));
    }

    // --- Contexts -----------------------------------------------------------------
    // The owner of a context when it is an object or a function (else null).
    static const Cell* owner_value(NodeId ctx) {
        if (ctx == 0 || ctx == context::global()) return nullptr;
        const Cell* o = context::owner(ctx);
        const TypeId t = o->type();
        return t == TypeId::object || t == TypeId::function ? o : nullptr;
    }

    void word_record(const Cell& v, bool nl) {
        const TypeId t = v.type();
        const NodeId ctx = v.word_context();
        const Cell* owner = owner_value(ctx);
        if (owner == nullptr) {  // unbound, global, or a context of no value: the reader binds it globally
            tag(t, false, 0, nl);
            symbol_ref(v.word_symbol());
            if (!compact_) word(0xFFFFFFFFu);  // no index
            return;
        }
        if (boot_) {  // the context of a root value, named by its index
            const std::int32_t root = root_of(ctx);
            if (root < 0 || !compact_) no_codec(owner->type());
            tag(t, true, 0, nl);
            symbol_ref(v.word_symbol());
            varint(static_cast<std::uint32_t>(root));
            zigzag(v.word_index() < 0 ? self_index : v.word_index());
            return;
        }
        if (const auto* p = known(ctx)) {
            if (compact_) byte(prefix_reference);
            tag(t, true, fixed_bound | fixed_by_reference, nl);
            symbol_ref(v.word_symbol());
            signed_field(v.word_index());
            path(*p);
            return;
        }
        const Cell own = *owner;  // a copy: the walk below reads other cells
        tag(t, true, fixed_bound, nl);
        symbol_ref(v.word_symbol());
        signed_field(v.word_index());
        remember(ctx);
        if (own.is(TypeId::function)) {
            open_level();
            function_fields(own, nl, true);
            close_level();
        } else {
            object(own, false, TypeId::object, true);
        }
    }

    // A context! record (tag included): flags, words, then the values when
    // they live in the heap; each value one position of the current level.
    void context_record(NodeId ctx, bool with_values = true) {
        const Cell c = *context::context_cell(ctx);
        const std::int32_t n = context::word_count(ctx);
        const bool stack = c.context_on_stack();
        const bool values = !stack && with_values;
        const std::uint32_t kind = c.context_kind();
        if (compact_) {
            tag(TypeId::context, false, 0, false);
            byte(static_cast<std::uint8_t>(kind | (stack ? 4 : 0) | (c.context_has_self() ? 8 : 0) |
                                           (values ? 16 : 0)));
        } else {
            word(static_cast<std::uint32_t>(TypeId::context) | kind << 26 | (c.context_has_self() ? 1u << 28 : 0) |
                 (stack ? 1u << 29 : 0) | (values ? 1u << 30 : 0));
        }
        field(static_cast<std::uint32_t>(n));
        for (std::int32_t i = 0; i < n; ++i) symbol_ref(context::word_at(ctx, i)->word_symbol());
        if (values)
            for (std::int32_t i = 0; i < n; ++i) write(*context::value_at(ctx, i));
    }

    // object!: identity the context. inline_owner: the record of a word's
    // binding, whose level and identity the word has opened already.
    void object(const Cell& v, bool nl, TypeId t, bool inline_owner = false) {
        const NodeId ctx = v.object_context();
        if (boot_ && ctx == context::global()) {  // the global context as an object: found through a global word
            byte(prefix_reference);
            tag(t, false, 0, nl);
            path({0, 0});
            return;
        }
        if (!inline_owner) {
            if (const auto* p = known(ctx)) {
                if (compact_) byte(prefix_reference);
                tag(t, false, fixed_by_reference, nl);
                path(*p);
                return;
            }
            if (boot_) no_codec(t);  // every object is a root value of the boot image
            remember(ctx);
        }
        object_fields(v, nl, true);
    }
    // The object record from its tag on, with the values or without.
    void object_fields(const Cell& v, bool nl, bool with_values) {
        const NodeId ctx = v.object_context();
        std::int32_t handler[2] = {-1, -1};
        const bool handlers = v.object_handlers() != 0;
        if (handlers) {
            const Cell rec = block_over(v.object_handlers());
            for (int i = 0; i < 2 && i < block::length_of(rec); ++i) {
                const std::uint32_t fld = block::first_cell(rec)[i].handler_field();
                handler[i] = fld == Cell::handler_no_field ? -1 : static_cast<std::int32_t>(fld);
            }
        }
        tag(TypeId::object, handlers, handlers ? fixed_handlers : 0, nl);
        signed_field(static_cast<std::int32_t>(v.object_class()));
        if (handlers) {
            signed_field(handler[0]);
            signed_field(handler[1]);
        }
        open_level();
        context_record(ctx, with_values);
        close_level();
    }

    // function!: identity the context; the spec is position 0, the body 1.
    void function(const Cell& v, bool nl) {
        const NodeId ctx = v.own_context();
        if (const auto* p = known(ctx)) {
            if (compact_) byte(prefix_reference);
            tag(TypeId::function, false, fixed_by_reference, nl);
            path(*p);
            return;
        }
        if (boot_ && root_of(ctx) < 0) no_codec(TypeId::function);  // written before as a root value
        remember(ctx);
        open_level();
        function_fields(v, nl, false);
        close_level();
    }

    // The function record from its tag on (the level is open).
    void function_fields(const Cell& v, bool nl, bool as_owner) {
        const Cell* body = function::extra_cell(v, function::extra_body);
        if (!body->is(TypeId::block) || !function::extra_cell(v, function::extra_code)->is(TypeId::unset))
            no_codec(TypeId::function);  // native code cannot be written
        const NodeId body_node = body->series_node();
        const NodeId spec_node = v.code_spec();
        tag(TypeId::function, false, 0, as_owner ? false : nl);
        field(static_cast<std::uint32_t>(block::length_of(block_over(spec_node))));
        field(static_cast<std::uint32_t>(block::length_of(block_over(body_node))));
        context_record(v.own_context());
        write_tracked_block(spec_node);
        write_tracked_block(body_node);
    }

    // A block given by its node, tracked like any series (spec and body).
    void write_tracked_block(NodeId node) { write(block_over(node)); }

    // native!, action!: written in full; the spec's values are the positions
    // inside it, as the reader walks a path through a native. A spec met
    // before is a reference; one met first here is known by the native's path
    // only once written (the reader reads it aside, out of reach of paths).
    void native(const Cell& v, bool nl) {
        tag(v.type(), false, 0, nl);
        field(v.code_entry());
        code_spec(v.code_spec());
    }
    // routine!: the same, with its id in the routine table for the slot.
    void routine(const Cell& v, bool nl) {
        const Cell* code = function::extra_cell(v, function::extra_code);
        if (!code->is(TypeId::integer)) no_codec(TypeId::routine);
        tag(TypeId::routine, false, 0, nl);
        if (boot_) {  // the table's ids are the process's own: the name stands for the entry
            const routine::Entry* entry = routine::entry(code->int_value());
            if (entry == nullptr) no_codec(TypeId::routine);
            symbol_ref(symbol::make_from_utf8(entry->name, static_cast<std::int32_t>(std::strlen(entry->name))));
        } else {
            field(static_cast<std::uint32_t>(code->int_value()));
        }
        code_spec(v.code_spec());
    }
    void code_spec(NodeId spec) {
        if (const auto* p = known(spec)) {
            if (compact_) byte(prefix_reference);
            tag(TypeId::block, false, fixed_by_reference, false);
            if (!compact_) field(0);
            path(*p);
            return;
        }
        plain_spec(spec);
        remember(spec);
    }
    void plain_spec(NodeId spec) {
        const Cell blk = block_over(spec);
        tag(TypeId::block, false, 0, false);
        if (!compact_) field(0);
        cells(blk, block::length_of(blk));
    }

    // op!: the record of its source value, which takes the op!'s position.
    void op(const Cell& v, bool nl) {
        const TypeId source = v.op_source();
        tag(TypeId::op, false, static_cast<std::uint32_t>(source) << 16, nl);
        Cell src = v;
        src.set_bare_type(source);
        record(src, false);
    }

    // error!: the code, then arg1 to stack as positions 0 to 5.
    void error(const Cell& v, bool nl) {
        const NodeId ctx = v.object_context();
        remember(ctx);  // rewritten in full each time, but paths may point into it
        tag(TypeId::error, false, 0, nl);
        const Cell code = *error::field(v, error::Field::code);
        field(code.is(TypeId::integer) ? static_cast<std::uint32_t>(code.int_value()) : 0);
        open_level();
        for (auto f = static_cast<std::int32_t>(error::Field::arg1); f <= static_cast<std::int32_t>(error::Field::stack); ++f)
            write(*error::field(v, static_cast<error::Field>(f)));
        close_level();
    }
};

// What the boot image holds besides the global words: every object and
// function that the global context reaches (through values, specs, bodies
// and the contexts of bound words). Objects come in the order met; each
// function comes after the functions its record names (as values, or as
// the contexts of its words), so that every record names earlier ones only.
class BootPlan {
public:
    std::vector<Cell> objects, functions;

    void reach(const Cell& from) {
        pending_.push_back(from);
        while (!pending_.empty()) {
            const Cell v = pending_.back();
            pending_.pop_back();
            visit(v);
        }
    }

    // Sorts the functions so that each follows those it needs.
    void order() {
        std::vector<Cell> sorted;
        std::unordered_map<NodeId, int> state;  // 1 being placed, 2 placed
        std::unordered_map<NodeId, Cell> by_context;
        for (const Cell& f : functions) by_context.emplace(f.own_context(), f);
        auto place = [&](auto&& self, const Cell& f) -> void {
            int& s = state[f.own_context()];
            if (s == 2) return;
            if (s == 1) runtime::raise_error(ErrorCategory::internal, "no-cycle");  // functions naming each other
            s = 1;
            for (const NodeId need : needs(f))
                if (need != f.own_context()) self(self, by_context.at(need));
            state[f.own_context()] = 2;
            sorted.push_back(f);
        };
        for (const Cell& f : functions) place(place, f);
        functions = std::move(sorted);
    }

private:
    std::vector<Cell> pending_;
    std::unordered_set<NodeId> seen_;

    void cells_of(NodeId node) {
        if (node == 0 || !seen_.insert(node).second) return;
        const Cell blk = block_over(node);
        const std::int32_t n = block::length_of(blk);
        for (std::int32_t i = n - 1; i >= 0; --i) pending_.push_back(block::first_cell(blk)[i]);
    }

    void visit(const Cell& v) {
        const TypeId t = v.type();
        if (is_any_block_type(t)) return cells_of(v.series_node());
        if (word::is_any_word(t)) {
            if (const Cell* owner = owner_of(v.word_context())) pending_.push_back(*owner);
            return;
        }
        switch (t) {
        case TypeId::map: cells_of(map::block_of(v)); return;
        case TypeId::object: {
            const NodeId ctx = v.object_context();
            if (ctx == context::global() || !seen_.insert(ctx).second) return;
            objects.push_back(v);
            for (std::int32_t i = context::word_count(ctx) - 1; i >= 0; --i)
                pending_.push_back(*context::value_at(ctx, i));
            return;
        }
        case TypeId::error:
            for (auto f = static_cast<std::int32_t>(error::Field::arg1); f < error::field_count; ++f)
                pending_.push_back(*error::field(v, static_cast<error::Field>(f)));
            return;
        case TypeId::op: {
            Cell source = v;
            source.set_bare_type(v.op_source());
            source.set_new_line(false);
            pending_.push_back(source);
            return;
        }
        case TypeId::function: {
            if (!seen_.insert(v.own_context()).second) return;
            Cell f = *context::owner(v.own_context());
            if (!f.is(TypeId::function)) f = v;
            f.set_new_line(false);
            functions.push_back(f);
            cells_of(v.code_spec());
            pending_.push_back(*function::extra_cell(v, function::extra_body));
            return;
        }
        case TypeId::native:
        case TypeId::action:
        case TypeId::routine: cells_of(v.code_spec()); return;
        default: return;
        }
    }

    // The owner of a word's context when it is an object or a function.
    static const Cell* owner_of(NodeId ctx) {
        if (ctx == 0 || ctx == context::global()) return nullptr;
        const Cell* o = context::owner(ctx);
        return o->is(TypeId::object) || o->is(TypeId::function) ? o : nullptr;
    }

    // The contexts of the functions that f's record names: function values
    // and words' contexts in its spec and body, through blocks, maps, errors
    // and ops, not through objects (written apart) nor other functions.
    static std::vector<NodeId> needs(const Cell& f) {
        std::vector<NodeId> out;
        std::unordered_set<NodeId> seen;
        std::vector<Cell> todo{block_over(f.code_spec()), *function::extra_cell(f, function::extra_body)};
        while (!todo.empty()) {
            const Cell v = todo.back();
            todo.pop_back();
            const TypeId t = v.type();
            NodeId node = 0;
            if (is_any_block_type(t)) node = v.series_node();
            else if (t == TypeId::map) node = map::block_of(v);
            if (node != 0) {
                if (!seen.insert(node).second) continue;
                const Cell blk = block_over(node);
                for (std::int32_t i = 0; i < block::length_of(blk); ++i) todo.push_back(block::first_cell(blk)[i]);
            } else if (word::is_any_word(t)) {
                if (const Cell* owner = owner_of(v.word_context()); owner != nullptr && owner->is(TypeId::function))
                    out.push_back(v.word_context());
            } else if (t == TypeId::function || (t == TypeId::op && v.op_source() == TypeId::function)) {
                out.push_back(v.own_context());
            } else if (t == TypeId::error) {
                for (auto e = static_cast<std::int32_t>(error::Field::arg1); e < error::field_count; ++e)
                    todo.push_back(*error::field(v, static_cast<error::Field>(e)));
            }
        }
        return out;
    }
};

// True for the values a definition may carry in place: none holds a series,
// context or function that a later path could name.
bool written_in_place(TypeId t) {
    switch (t) {
    case TypeId::none:
    case TypeId::logic:
    case TypeId::datatype:
    case TypeId::integer:
    case TypeId::char_:
    case TypeId::pair:
    case TypeId::point2d:
    case TypeId::point3d:
    case TypeId::float_:
    case TypeId::time:
    case TypeId::percent:
    case TypeId::date:
    case TypeId::typeset:
    case TypeId::tuple:
    case TypeId::money:
    case TypeId::issue: return true;
    default: return word::is_any_word(t);
    }
}

}  // namespace

std::vector<std::uint8_t> encode_boot() {
    const NodeId global = context::global();
    const std::int32_t n = context::word_count(global);
    Cell words{};  // root value 0: the global words in their order
    block::make_at(words, n);
    for (std::int32_t i = 0; i < n; ++i) {
        Cell w = *context::word_at(global, i);
        w.set_type(TypeId::word);
        w.set_new_line(false);
        block::append_copy(words, w);
    }
    BootPlan plan;
    for (std::int32_t i = 0; i < n; ++i) plan.reach(*context::value_at(global, i));
    plan.order();

    Encoder e(true, true);
    e.top(words);
    for (const Cell& o : plan.objects) e.root_owner(o);
    for (const Cell& f : plan.functions) e.root_owner(f);
    // The values of the definitions that paths may name are root values too.
    struct Definition {
        Cell word;
        std::int32_t root;
        Cell value;
    };
    std::vector<Definition> definitions;
    std::int32_t next_root = 1 + static_cast<std::int32_t>(plan.objects.size() + plan.functions.size());
    auto define = [&](const Cell& word, const Cell& value) {
        const TypeId t = value.type();
        if (t == TypeId::unset) return;  // as a new word is
        Cell v = value;
        v.set_new_line(false);
        std::int32_t root = -1;
        if (t == TypeId::object) root = e.root_of(value.object_context());
        else if (t == TypeId::function) root = e.root_of(value.own_context());
        else if (!written_in_place(t)) {
            e.top(v);
            root = next_root++;
        }
        definitions.push_back({word, root, v});
    };
    for (const Cell& o : plan.objects) {
        const NodeId ctx = o.object_context();
        for (std::int32_t i = 0; i < context::word_count(ctx); ++i) {
            Cell w = *context::word_at(ctx, i);
            w.set_type(TypeId::word);
            w.set_new_line(false);
            w.set_word_context(ctx);
            w.set_word_index(i);
            define(w, *context::value_at(ctx, i));
        }
    }
    for (std::int32_t i = 0; i < n; ++i) define(*block::get_cell(words, i), *context::value_at(global, i));
    for (const Definition& d : definitions) e.definition(d.word, d.root, d.value);
    return e.finish();
}

std::vector<std::uint8_t> encode(const Cell& value, const EncodeOptions& options) {
    Encoder e(options.compact);
    if (options.spread && is_any_block_type(value.type())) {
        const Cell blk = value;
        const std::int32_t n = block::length_of(blk);
        for (std::int32_t i = std::clamp(blk.series_head(), 0, n); i < n; ++i) e.top(block::first_cell(blk)[i]);
    } else {
        e.top(value);
    }
    return e.finish();
}

void encode_to_binary(const Cell& value, bool compact, Cell& out) {
    const std::vector<std::uint8_t> bytes = encode(value, {.compact = compact});
    if (bytes.size() > static_cast<std::size_t>(binary::max_bytes))
        runtime::raise_error(ErrorCategory::internal, "no-memory");
    binary::make_from_bytes(out, bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

}  // namespace kiv::kivbin
