// The value cell: every language value is one 16-byte cell, a header word and
// three payload words. Only this header knows the bit layout; every module
// reads and writes cells through the accessors below.
//
//   header:  31  30  29 ............................ 8  7 ......... 0
//           [ . ][NL][ type-specific flags            ][  type id   ]
//   NL: new-line marker, a line break stands before this value.
//   payload: words 1-3, laid out per type. A reference to a series, context
//   or other runtime object is a 32-bit node id, never a pointer.
#pragma once

#include <cstdint>
#include <cstring>

namespace kiv {

// Type ids are part of the binary value format: never renumber.
enum class TypeId : std::uint8_t {
    no_type = 0,
    datatype = 1, unset, none, logic, block, paren, string, file, url, char_,
    integer, float_, symbol, context, word, set_word, lit_word, get_word,
    refinement, issue, native, action, op, function, path, lit_path, set_path,
    get_path, routine, bitset, triple, object, typeset, error, vector, hash,
    pair, percent, tuple, map, binary, series, time, tag, email, handle, date,
    port, money, ref, point2d, point3d, image, event,
};
inline constexpr int type_count = 55;  // ids 0-54

// any-block!: the series whose units are value cells.
constexpr bool is_any_block_type(TypeId t) {
    return t == TypeId::block || t == TypeId::paren || t == TypeId::hash || t == TypeId::path ||
           t == TypeId::lit_path || t == TypeId::set_path || t == TypeId::get_path;
}
// any-string!: the text series (1-, 2- or 4-byte code units).
constexpr bool is_any_string_type(TypeId t) {
    return t == TypeId::string || t == TypeId::file || t == TypeId::url || t == TypeId::tag ||
           t == TypeId::email || t == TypeId::ref;
}

struct Cell {
    std::uint32_t header;
    std::uint32_t data1;
    std::uint32_t data2;
    std::uint32_t data3;

    static constexpr std::uint32_t type_mask = 0xFF;
    static constexpr std::uint32_t new_line_flag = 0x40000000;

    TypeId type() const { return static_cast<TypeId>(header & type_mask); }
    bool is(TypeId t) const { return type() == t; }
    // Replaces the type id, keeping the flag bits.
    void set_type(TypeId t) { header = (header & ~type_mask) | static_cast<std::uint32_t>(t); }
    // Makes the cell a fresh value of type t: no flags, zero payload.
    void reset(TypeId t) { header = static_cast<std::uint32_t>(t); data1 = data2 = data3 = 0; }
    bool new_line() const { return (header & new_line_flag) != 0; }
    void set_new_line(bool on) { header = on ? (header | new_line_flag) : (header & ~new_line_flag); }

    // Series payload (any-block, text, binary!, vector!, image!): word 1 the
    // head index in units (signed, may lie past a shortened tail), word 2 the
    // buffer's node, word 3 type-specific (hash! index, vector! type; else 0).
    std::int32_t series_head() const { return static_cast<std::int32_t>(data1); }
    void set_series_head(std::int32_t h) { data1 = static_cast<std::uint32_t>(h); }
    std::uint32_t series_node() const { return data2; }
    void set_series_node(std::uint32_t n) { data2 = n; }
    std::uint32_t series_extra() const { return data3; }
    void set_series_extra(std::uint32_t x) { data3 = x; }

    // integer! keeps its signed value, char! its code point, in word 2
    // (words 1 and 3 unused). set_int leaves the header as it is.
    std::int32_t int_value() const { return static_cast<std::int32_t>(data2); }
    void set_int(std::int32_t v) { data2 = static_cast<std::uint32_t>(v); }
    std::uint32_t char_value() const { return data2; }

    // A 64-bit payload (float!, time!, ...) lives in words 2-3.
    double f64() const { double d; std::memcpy(&d, &data2, sizeof d); return d; }
    void set_f64(double d) { std::memcpy(&data2, &d, sizeof d); }

    // pair! keeps x in word 2 and y in word 3 (signed).
    std::int32_t pair_x() const { return static_cast<std::int32_t>(data2); }
    std::int32_t pair_y() const { return static_cast<std::int32_t>(data3); }
    void set_pair(std::int32_t x, std::int32_t y) {
        data2 = static_cast<std::uint32_t>(x);
        data3 = static_cast<std::uint32_t>(y);
    }

    // Scalar payload: datatype! keeps its type id, logic! 0 or 1 in word 1.
    TypeId datatype_id() const { return static_cast<TypeId>(data1 & type_mask); }
    std::uint32_t logic_value() const { return data1; }

    // Word payload (the five word types and issue!):
    //   word 1: context node (0: none)  word 2: symbol id  word 3: index, -1 unbound
    std::uint32_t word_context() const { return data1; }
    std::uint32_t word_symbol() const { return data2; }
    std::int32_t word_index() const { return static_cast<std::int32_t>(data3); }
    void set_word(std::uint32_t context, std::uint32_t symbol, std::int32_t index) {
        data1 = context;
        data2 = symbol;
        data3 = static_cast<std::uint32_t>(index);
    }
    void set_word_context(std::uint32_t context) { data1 = context; }
    void set_word_index(std::int32_t index) { data3 = static_cast<std::uint32_t>(index); }
    // Word-list entry of an object context whose value was set.
    static constexpr std::uint32_t word_set_flag = 0x2000;

    // symbol! payload:
    //   word 1: alias id, -1 when this spelling is canonical
    //   word 2: node of the name string! (0 until asked for)
    //   word 3: node of the UTF-8 spelling (bytes, NUL after the tail)
    std::int32_t symbol_alias() const { return static_cast<std::int32_t>(data1); }
    std::uint32_t symbol_name_string() const { return data2; }
    std::uint32_t symbol_utf8() const { return data3; }

    //   context! header:  31 .. 25  24  23  22  21 .. 13  12 11  10 .. 8  7 ..... 0
    //                    [        ][SF][  ][ST][        ][ kind ][      ][ type id ]
    //   SF: has a self (objects); ST: values live on the argument stack;
    //   kind: 0 plain, 1 function, 2 object.
    //   word 1: node of the word list (kind-2 hash table)
    //   word 2: heap context: node of the values block;
    //           stack context: 1 + argument-stack index of value 0 during a call, else 0
    static constexpr std::uint32_t context_stack_flag = 0x00400000;
    static constexpr std::uint32_t context_self_flag = 0x01000000;
    // Bit 16: the object owns the series held in its fields (ownership).
    static constexpr std::uint32_t context_owning_flag = 0x00010000;
    static constexpr int context_kind_shift = 11;
    std::uint32_t context_kind() const { return (header >> context_kind_shift) & 3; }
    bool context_on_stack() const { return (header & context_stack_flag) != 0; }
    bool context_has_self() const { return (header & context_self_flag) != 0; }
    std::uint32_t context_words() const { return data1; }
    std::uint32_t context_values() const { return data2; }

    // Object payload (object!, error!, port!): word 1 the fields' context
    // node, word 2 the class id, word 3 the change-handler record (0: none).
    std::uint32_t object_context() const { return data1; }
    std::uint32_t object_class() const { return data2; }
    std::uint32_t object_handlers() const { return data3; }
    void set_object(std::uint32_t context, std::uint32_t class_id, std::uint32_t handlers) {
        data1 = context;
        data2 = class_id;
        data3 = handlers;
    }

    // Code payload (native!, action!, op!, function!, routine!):
    //   word 1: native!/action! 1-based table slot; function!/routine! context node
    //   word 2: node of the spec block   word 3: node of the extra block
    //   op! header bits 16-23: the type of the value it was made from.
    //   function! header bit 9: no-trace, bit 10: trace.
    //   routine! header bit 15: maker's flag; bits 25-29: arity.
    std::uint32_t code_entry() const { return data1; }
    std::uint32_t code_spec() const { return data2; }
    std::uint32_t code_extra() const { return data3; }
    void set_code(std::uint32_t entry, std::uint32_t spec, std::uint32_t extra) {
        data1 = entry;
        data2 = spec;
        data3 = extra;
    }
    static constexpr int op_source_shift = 16;
    TypeId op_source() const { return static_cast<TypeId>((header >> op_source_shift) & 0xFF); }
    static constexpr std::uint32_t function_no_trace_flag = 0x200;
    static constexpr std::uint32_t function_trace_flag = 0x400;
    static constexpr std::uint32_t routine_flag = 0x8000;
    static constexpr int routine_arity_shift = 25;
    std::uint32_t routine_arity() const { return (header >> routine_arity_shift) & 0x1F; }

    // typeset! payload: a 96-bit mask in words 1-3. Read as 12 bytes in memory
    // order (word 1's low byte first), type id t is bit 0x80 >> (t & 7) of
    // byte t >> 3, high bit first as in bitset!.
    //   word 1:  [byte 3][byte 2][byte 1][byte 0]   byte 0: ids 0-7, 0x80 = id 0
    static constexpr std::uint32_t typeset_bit(int t) {
        return 1u << (8 * ((t >> 3) & 3) + 7 - (t & 7));
    }
    std::uint32_t& typeset_word(int t) { return t < 32 ? data1 : t < 64 ? data2 : data3; }
    std::uint32_t typeset_word(int t) const { return t < 32 ? data1 : t < 64 ? data2 : data3; }
    bool typeset_has(int t) const { return (typeset_word(t) & typeset_bit(t)) != 0; }
    void typeset_set(int t) { typeset_word(t) |= typeset_bit(t); }
    // Argument-cache typesets (interpreter): header bits 20-21 the argument's
    // kind, bits 8-19 the index of its word in the function's spec.
    std::uint32_t typeset_arg_kind() const { return (header >> 20) & 3; }
    std::uint32_t typeset_arg_spec_index() const { return (header >> 8) & 0xFFF; }
    void set_typeset_arg(std::uint32_t kind, std::uint32_t spec_index) {
        header = (header & ~0x003FFF00u) | ((kind & 3) << 20) | ((spec_index & 0xFFF) << 8);
    }
};
static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");

}  // namespace kiv
