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

// The type ids, generated from runtime/types.table: TypeId and type_count.
#include "generated/type_ids.h"

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
    // The same as a value, for constants.
    static constexpr Cell fresh(TypeId t) { return Cell{static_cast<std::uint32_t>(t), 0, 0, 0}; }
    bool new_line() const { return (header & new_line_flag) != 0; }
    void set_new_line(bool on) { header = on ? (header | new_line_flag) : (header & ~new_line_flag); }
    // Makes the type t with no flags, keeping the payload.
    void set_bare_type(TypeId t) { header = static_cast<std::uint32_t>(t); }
    // Takes other's type and flags, keeping this payload.
    void set_header_from(const Cell& other) { header = other.header; }
    // Clears every flag but those in keep; the type stays.
    void keep_only_flags(std::uint32_t keep) { header &= type_mask | keep; }
    // Zeroes the three payload words, keeping the header.
    void clear_payload() { data1 = data2 = data3 = 0; }

    // Payload word n (1-3) as raw bits, for code that treats every type alike
    // word by word: the collector's mark table, same?'s identity test, hashing.
    std::uint32_t payload_word(int n) const { return n == 1 ? data1 : n == 2 ? data2 : data3; }
    // The payload from word n (1-3) on, as raw bytes in memory order (hashing).
    const void* payload_bytes(int n) const { return n == 1 ? &data1 : n == 2 ? &data2 : &data3; }
    // True when all three payload words are bit-for-bit equal.
    bool same_payload(const Cell& other) const {
        return data1 == other.data1 && data2 == other.data2 && data3 == other.data3;
    }

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
    void set_char(std::uint32_t cp) { data2 = cp; }

    // A 64-bit payload (float!, time!, ...) lives in words 2-3.
    double f64() const { double d; std::memcpy(&d, &data2, sizeof d); return d; }
    void set_f64(double d) { std::memcpy(&data2, &d, sizeof d); }
    // The same 64 bits as two halves: word 2 the low, word 3 the high half.
    std::uint32_t f64_low() const { return data2; }
    std::uint32_t f64_high() const { return data3; }
    void set_f64_halves(std::uint32_t low, std::uint32_t high) {
        data2 = low;
        data3 = high;
    }

    // pair! keeps x in word 2 and y in word 3 (signed).
    std::int32_t pair_x() const { return static_cast<std::int32_t>(data2); }
    std::int32_t pair_y() const { return static_cast<std::int32_t>(data3); }
    void set_pair(std::int32_t x, std::int32_t y) {
        data2 = static_cast<std::uint32_t>(x);
        data3 = static_cast<std::uint32_t>(y);
    }

    // point2D! keeps x and y in words 1-2, point3D! x, y and z in words 1-3,
    // each an IEEE float32; word 3 of a point2D! is 0.
    float point_coord(int i) const {  // i: 0 x, 1 y, 2 z
        float f;
        std::memcpy(&f, i == 0 ? &data1 : i == 1 ? &data2 : &data3, sizeof f);
        return f;
    }
    void set_point_coord(int i, float f) {
        std::memcpy(i == 0 ? &data1 : i == 1 ? &data2 : &data3, &f, sizeof f);
    }

    // triple! keeps three signed 32-bit integers in words 1-3.
    std::int32_t triple_at(int i) const {  // i: 0-2
        return static_cast<std::int32_t>(i == 0 ? data1 : i == 1 ? data2 : data3);
    }
    void set_triple(std::int32_t a, std::int32_t b, std::int32_t c) {
        data1 = static_cast<std::uint32_t>(a);
        data2 = static_cast<std::uint32_t>(b);
        data3 = static_cast<std::uint32_t>(c);
    }

    // Scalar payload: datatype! keeps its type id, logic! 0 or 1 in word 1.
    TypeId datatype_id() const { return static_cast<TypeId>(data1 & type_mask); }
    void set_datatype_id(TypeId t) { data1 = static_cast<std::uint32_t>(t); }
    std::uint32_t logic_value() const { return data1; }
    void set_logic(bool v) { data1 = v ? 1 : 0; }
    static constexpr Cell logic_of(bool v) {
        return Cell{static_cast<std::uint32_t>(TypeId::logic), v ? 1u : 0u, 0, 0};
    }

    // tuple! keeps its length (3-12) in header bits 19-22 and its bytes in
    // words 1-3, in memory order (word 1's low byte first).
    //   header:  31 .. 23  22 .. 19  18 ...... 8  7 ..... 0
    //           [        ][ length ][           ][ type id ]
    static constexpr int tuple_length_shift = 19;
    std::uint32_t tuple_length() const { return (header >> tuple_length_shift) & 0xF; }
    const std::uint8_t* tuple_bytes() const { return reinterpret_cast<const std::uint8_t*>(&data1); }
    // Sets the length and copies the 12 bytes (the unused ones 0).
    void set_tuple(const std::uint8_t (&bytes)[12], std::uint32_t length) {
        header = (header & ~(0xFu << tuple_length_shift)) | ((length & 0xF) << tuple_length_shift);
        std::memcpy(&data1, bytes, 12);
    }

    // handle! payload: word 1 the class number (0 none), word 2 the machine
    // value (32 bits), word 3 always -1 (no external-table entry).
    std::uint32_t handle_class() const { return data1; }
    std::uint32_t handle_value() const { return data2; }
    void set_handle(std::uint32_t value, std::uint32_t class_id) {
        data1 = class_id;
        data2 = value;
        data3 = 0xFFFFFFFFu;
    }

    // date! word 1 packs the local date and zone; words 2-3 hold the time (f64).
    //   31 ........ 17  16  15 .. 12  11 .... 7  6   5 ..... 2  1 .. 0
    //  [ year, signed ][T ][ month  ][  day    ][W][ zone hours][ qtrs ]
    //   T: has a time of day; W: zone west of UTC; qtrs: zone quarter hours.
    //   Bits 0-6 are the zone field.
    static constexpr std::uint32_t date_time_flag = 0x10000;
    std::int32_t date_year() const { return static_cast<std::int32_t>(data1) >> 17; }
    std::int32_t date_month() const { return static_cast<std::int32_t>((data1 >> 12) & 0xF); }
    std::int32_t date_day() const { return static_cast<std::int32_t>((data1 >> 7) & 0x1F); }
    bool date_has_time() const { return (data1 & date_time_flag) != 0; }
    std::uint32_t date_zone() const { return data1 & 0x7F; }
    std::uint32_t date_word() const { return data1; }
    void set_date_word(std::uint32_t w) { data1 = w; }
    void set_date(std::int32_t year, std::int32_t month, std::int32_t day, bool has_time,
                  std::uint32_t zone) {
        data1 = static_cast<std::uint32_t>(year) << 17 | (has_time ? date_time_flag : 0) |
                (static_cast<std::uint32_t>(month) & 0xF) << 12 |
                (static_cast<std::uint32_t>(day) & 0x1F) << 7 | (zone & 0x7F);
    }

    // money! header bit 8: the amount is negative (also allowed on a zero).
    //   payload bytes in memory order (word 1's low byte first):
    //   byte 0: currency index, 0 none, else 1-based in the currency list
    //   bytes 1-11: 22 decimal digits, two per byte, high nibble first, most
    //   significant first; digits 1-17 the whole part, 18-22 the fraction.
    static constexpr std::uint32_t money_sign_flag = 0x100;
    static constexpr int money_digit_bytes = 11;
    bool money_negative() const { return (header & money_sign_flag) != 0; }
    void set_money_negative(bool on) { header = on ? (header | money_sign_flag) : (header & ~money_sign_flag); }
    std::uint32_t money_currency() const { return data1 & 0xFF; }
    void set_money_currency(std::uint32_t index) { data1 = (data1 & ~0xFFu) | (index & 0xFF); }
    // The 11 digit bytes.
    const std::uint8_t* money_digits() const { return reinterpret_cast<const std::uint8_t*>(&data1) + 1; }
    void set_money_digits(const std::uint8_t (&digits)[money_digit_bytes]) {
        std::memcpy(reinterpret_cast<std::uint8_t*>(&data1) + 1, digits, money_digit_bytes);
    }

    // event! payload: word 1 the event type, word 2 the message's index in
    // the GUI's message stack (window events) or the node of a 4-cell block
    // (events made by the language: header bit 12, the collector marks it),
    // word 3 the flag bits with the key code or item index in the low 16.
    // Header bit 13: made by the language (make event!).
    static constexpr std::uint32_t event_block_flag = 0x1000;
    static constexpr std::uint32_t event_made_flag = 0x2000;
    bool event_has_block() const { return (header & event_block_flag) != 0; }
    bool event_made() const { return (header & event_made_flag) != 0; }
    std::int32_t event_type() const { return static_cast<std::int32_t>(data1); }
    std::uint32_t event_source() const { return data2; }
    std::uint32_t event_flags() const { return data3; }
    void set_event(bool made, bool has_block, std::int32_t type, std::uint32_t source, std::uint32_t flags) {
        header = static_cast<std::uint32_t>(TypeId::event) | (made ? event_made_flag : 0) |
                 (has_block ? event_block_flag : 0);
        data1 = static_cast<std::uint32_t>(type);
        data2 = source;
        data3 = flags;
    }
    void set_event_type(std::int32_t type) { data1 = static_cast<std::uint32_t>(type); }

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
    void set_word_symbol(std::uint32_t symbol) { data2 = symbol; }
    void set_word_index(std::int32_t index) { data3 = static_cast<std::uint32_t>(index); }
    // Word-list entry of an object context whose value was set (bit 13).
    static constexpr std::uint32_t word_set_flag = 0x2000;
    bool field_changed() const { return (header & word_set_flag) != 0; }
    void set_field_changed(bool on) { header = on ? (header | word_set_flag) : (header & ~word_set_flag); }

    // symbol! payload:
    //   word 1: alias id, -1 when this spelling is canonical
    //   word 2: node of the name string! (0 until asked for)
    //   word 3: node of the UTF-8 spelling (bytes, NUL after the tail)
    std::int32_t symbol_alias() const { return static_cast<std::int32_t>(data1); }
    std::uint32_t symbol_name_string() const { return data2; }
    std::uint32_t symbol_utf8() const { return data3; }
    void set_symbol(std::int32_t alias, std::uint32_t name_string, std::uint32_t utf8) {
        data1 = static_cast<std::uint32_t>(alias);
        data2 = name_string;
        data3 = utf8;
    }
    void set_symbol_name_string(std::uint32_t node) { data2 = node; }

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
    bool context_owning() const { return (header & context_owning_flag) != 0; }
    void set_context_owning(bool on) {
        header = on ? (header | context_owning_flag) : (header & ~context_owning_flag);
    }
    std::uint32_t context_words() const { return data1; }
    std::uint32_t context_values() const { return data2; }
    // Sets kind, flags and payload of a cell just reset to context!.
    void set_context(std::uint32_t kind, bool on_stack, bool has_self, std::uint32_t words,
                     std::uint32_t values) {
        header |= kind << context_kind_shift;
        if (on_stack) header |= context_stack_flag;
        if (has_self) header |= context_self_flag;
        data1 = words;
        data2 = values;
    }
    // Stack context: argument-stack index of value 0 during a call, else -1.
    std::int32_t context_stack_index() const { return static_cast<std::int32_t>(data2) - 1; }
    void set_context_stack_index(std::int32_t index) { data2 = static_cast<std::uint32_t>(index + 1); }

    // The context a function!, routine! or object-like value owns: word 1 in
    // both the code and the object payload.
    std::uint32_t own_context() const { return data1; }
    void set_own_context(std::uint32_t context) { data1 = context; }

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
    void set_object_class(std::uint32_t class_id) { data2 = class_id; }
    void set_object_handlers(std::uint32_t handlers) { data3 = handlers; }

    // Change-handler record entry (a pair! cell, so the collector sees plain
    // data; one per handler in the block of object_handlers()):
    //   word 2:  31 .............. 16  15 ............. 0
    //           [ field index        ][ local count      ]   field 0xFFFF: none
    //   word 3: node of the handler's spec block (a new one: the handler was replaced)
    static constexpr std::uint32_t handler_no_field = 0xFFFF;
    std::uint32_t handler_field() const { return data2 >> 16; }
    std::uint32_t handler_spec() const { return data3; }
    void set_handler(std::uint32_t field, std::uint32_t locals, std::uint32_t spec) {
        data2 = (field << 16) | (locals & 0xFFFF);
        data3 = spec;
    }
    void set_handler_locals(std::uint32_t locals, std::uint32_t spec) {
        data2 = (data2 & 0xFFFF0000u) | (locals & 0xFFFF);
        data3 = spec;
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
    // Makes the cell an op! of source (flags cleared, payload kept).
    void set_op(TypeId source) {
        header = static_cast<std::uint32_t>(TypeId::op) |
                 static_cast<std::uint32_t>(source) << op_source_shift;
    }
    static constexpr std::uint32_t function_no_trace_flag = 0x200;
    static constexpr std::uint32_t function_trace_flag = 0x400;
    bool function_trace() const { return (header & function_trace_flag) != 0; }
    bool function_no_trace() const { return (header & function_no_trace_flag) != 0; }
    // Both trace bits as they are, to give to a copy.
    std::uint32_t function_trace_flags() const {
        return header & (function_trace_flag | function_no_trace_flag);
    }
    void add_function_trace_flags(std::uint32_t flags) {
        header |= flags & (function_trace_flag | function_no_trace_flag);
    }
    static constexpr std::uint32_t routine_flag = 0x8000;
    static constexpr int routine_arity_shift = 25;
    std::uint32_t routine_arity() const { return (header >> routine_arity_shift) & 0x1F; }
    bool routine_maker_flag() const { return (header & routine_flag) != 0; }
    // Sets the maker's flag and the arity of a cell just reset to routine!.
    void set_routine(bool flag, std::uint32_t arity) {
        if (flag) header |= routine_flag;
        header |= arity << routine_arity_shift;
    }

    // typeset! payload: a 96-bit mask in words 1-3. Read as 12 bytes in memory
    // order (word 1's low byte first), type id t is bit 0x80 >> (t & 7) of
    // byte t >> 3, high bit first as in bitset!.
    //   word 1:  [byte 3][byte 2][byte 1][byte 0]   byte 0: ids 0-7, 0x80 = id 0
    static constexpr std::uint32_t typeset_bit(int t) {
        return 1u << (8 * ((t >> 3) & 3) + 7 - (t & 7));
    }
    // Mask word i (0: ids 0-31, 1: ids 32-63, 2: ids 64-95).
    std::uint32_t typeset_mask(int i) const { return i == 0 ? data1 : i == 1 ? data2 : data3; }
    void set_typeset_mask(std::uint32_t w0, std::uint32_t w1, std::uint32_t w2) {
        data1 = w0;
        data2 = w1;
        data3 = w2;
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

    // Key cell of a keyed (pointer) table entry: an unset! whose word 1 is the key.
    std::uint32_t pointer_key() const { return data1; }
    void set_pointer_key(std::uint32_t key) { data1 = key; }

    // Lexer marker: a triple! cell on the lexer's value stack that stands for
    // a series opened and not yet closed.
    //   word 1: distance from the enclosing series' head to the marker (cells)
    //   word 2:  31 .............. 16  15 ............. 0
    //           [ comma count        ][ series type id   ]   commas: a point literal's
    //   word 3: byte offset of the opening delimiter in the input
    std::uint32_t marker_distance() const { return data1; }
    TypeId marker_series() const { return static_cast<TypeId>(data2 & 0xFF); }
    std::uint32_t marker_commas() const { return data2 >> 16; }
    std::uint32_t marker_offset() const { return data3; }
    void set_marker(std::uint32_t distance, TypeId series, std::uint32_t offset) {
        data1 = distance;
        data2 = static_cast<std::uint32_t>(series);
        data3 = offset;
    }
    void set_marker_series(TypeId series, std::uint32_t commas) {
        data2 = static_cast<std::uint32_t>(series) | (commas << 16);
    }
};
static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");

}  // namespace kiv
