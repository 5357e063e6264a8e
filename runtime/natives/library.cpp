// Library routines over runtime services: quiet assignment (no change
// notification), bit shifts, the process's current directory, the operating
// system's description, colour and address tuples, UTF-8 counting, the
// argument stack and trace state, the clipboard, standard output, the float
// text options and the collector's counters. Each checks its arguments
// itself, since routine callers may pass anything.
#include "runtime/evaluator/natives.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/stack.h"
#include "runtime/evaluator/tracing.h"
#include "runtime/io/clipboard.h"
#include "runtime/io/file_io.h"
#include "runtime/core/memory.h"
#include "runtime/os/platform.h"
#include "runtime/core/raise.h"
#include "runtime/os/system_info.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace kiv::natives {

namespace {

bool truthy(const Cell& v) {
    return !v.is(TypeId::none) && !(v.is(TypeId::logic) && v.logic_value() == 0);
}

// set-quiet word value: stores value in the word's slot, with no change
// notification; the result is the value.
void set_quiet(Cell* args) {
    if (!word::is_any_word(args[0].type()) || args[0].is(TypeId::refinement))
        expect_arg("set-quiet", args[0], "word");
    *context::get_word_cell(args[0]) = args[1];
    args[0] = args[1];
}

// set-slot-quiet series value: overwrites the series' current cell, with no
// ownership notification; a series at its tail is left as it is.
void set_slot_quiet(Cell* args) {
    const Cell series = args[0];
    if (!is_any_block_type(series.type()) || series.is(TypeId::hash))
        expect_arg("set-slot-quiet", series, "series");
    if (block::count_from_head(series) > 0)
        *block::get_cell(series, series.series_head()) = args[1];
}

// set-current-dir path: makes path the process's current directory.
void set_current_dir(Cell* args) {
    if (!args[0].is(TypeId::file)) expect_arg("set-current-dir", args[0], "path");
    if (!platform::set_current_dir(file::to_local_path(args[0])))
        runtime::raise_error(ErrorCategory::access, "cannot-open", &args[0]);
}

// system/options/float/on-change* word old new: pretty? drives the float text.
void float_on_change(Cell* args) {
    if (!args[0].is(TypeId::word) && !args[0].is(TypeId::set_word)) return;
    if (symbol::name(args[0].word_symbol()) != "pretty?") return;
    const Cell* full = system_object::field("options/float/full?");
    float_::set_options(truthy(args[2]), full != nullptr && truthy(*full));
}

void gc_active_q(Cell* args) { logic::make_at(args[0], collector::enabled()); }

void integer_result(Cell* args, std::uint64_t n) {
    args[0].reset(TypeId::integer);
    args[0].set_int(static_cast<std::int32_t>(n & 0x7FFFFFFF));  // wraps rather than turns negative
}

void gc_series_cycles(Cell* args) { integer_result(args, collector::state.cycles); }
void gc_nodes_cycles(Cell* args) { integer_result(args, collector::state.node_cycles); }

// The integer argument of a routine, checked.
std::int32_t int_arg(const char* routine, const Cell& value, const char* argument) {
    if (!value.is(TypeId::integer)) expect_arg(routine, value, argument);
    return value.int_value();
}

void set_int(Cell& out, std::int32_t v) {
    out.reset(TypeId::integer);
    out.set_int(v);
}

// shift-right, shift-left, shift-logical data bits: as the shift native.
enum class Shift { right, left, logical };
template <Shift kind>
void shift_routine(Cell* args) {
    static constexpr const char* names[] = {"shift-right", "shift-left", "shift-logical"};
    const char* name = names[static_cast<int>(kind)];
    const std::int32_t value = int_arg(name, args[0], "data");
    const std::int32_t bits = std::max(int_arg(name, args[1], "bits"), 0);
    const auto u = static_cast<std::uint32_t>(value);
    std::int32_t result;
    if (kind == Shift::left) result = bits > 31 ? 0 : static_cast<std::int32_t>(u << bits);
    else if (kind == Shift::logical) result = bits > 31 ? 0 : static_cast<std::int32_t>(u >> bits);
    else result = bits > 31 ? (value < 0 ? -1 : 0) : value >> bits;
    set_int(args[0], result);
}

void last_lf_q(Cell* args) { logic::make_at(args[0], last_line_feed()); }

void get_current_dir(Cell* args) {
    const std::string dir = file::current_directory();
    Cell text{};
    string::make_at(text, static_cast<std::int32_t>(dir.size()) + 1);
    string::append_utf8(text.series_node(), dir.data(), static_cast<std::int32_t>(dir.size()));
    args[0] = text;
}

// os-info: an object of name, arch, version and build.
void os_info(Cell* args) {
    const system_info::OsInfo info = system_info::os_info();
    Cell spec{};
    block::make_at(spec, 8);
    collector::Root keep(spec);
    Cell v{};
    const auto field = [&](const char* name, const Cell& value) {
        Cell w{};
        word::make_kind_at(TypeId::set_word, name, w);
        block::append_copy(keep.cell(), w);
        block::append_copy(keep.cell(), value);
    };
    string::make_at(v, static_cast<std::int32_t>(info.name.size()) + 1);
    string::append_utf8(v.series_node(), info.name.data(), static_cast<std::int32_t>(info.name.size()));
    field("name", v);
    word::make_kind_at(TypeId::word, info.arch.c_str(), v);
    field("arch", v);
    std::uint8_t bytes[12] = {info.version[0], info.version[1], info.version[2]};
    v.reset(TypeId::tuple);
    v.set_tuple(bytes, 3);
    field("version", v);
    set_int(v, info.build);
    field("build", v);
    args[0] = object::push_from_spec(nullptr, keep.cell(), true);
}

// as-color, as-ipv4, as-rgba: a tuple of the components; a negative one is
// refused. as-color reduces each modulo 256; the others combine the four
// into one 32-bit word, a carry moving into the next byte.
void make_tuple(Cell& out, const std::uint8_t* parts, std::uint32_t length) {
    std::uint8_t bytes[12] = {};
    std::copy(parts, parts + length, bytes);
    out.reset(TypeId::tuple);
    out.set_tuple(bytes, length);
}

template <int N>
void components(const char* routine, Cell* args, std::int64_t (&out)[N]) {
    static constexpr const char* names[2][4] = {{"r", "g", "b", "a"}, {"a", "b", "c", "d"}};
    const int set = std::string_view(routine) == "as-ipv4" ? 1 : 0;
    for (int i = 0; i < N; ++i) out[i] = int_arg(routine, args[i], names[set][i]);
    for (int i = 0; i < N; ++i)
        if (out[i] < 0) runtime::raise_error(ErrorCategory::script, "invalid-arg", &args[i]);
}

void as_color(Cell* args) {
    std::int64_t c[3];
    components("as-color", args, c);
    const std::uint8_t parts[3] = {static_cast<std::uint8_t>(c[0] % 256), static_cast<std::uint8_t>(c[1] % 256),
                                   static_cast<std::uint8_t>(c[2] % 256)};
    make_tuple(args[0], parts, 3);
}

void four_bytes(const char* routine, Cell* args) {
    std::int64_t c[4];
    components(routine, args, c);
    const std::uint32_t word = static_cast<std::uint32_t>(c[0]) + (static_cast<std::uint32_t>(c[1]) << 8) +
                               (static_cast<std::uint32_t>(c[2]) << 16) + (static_cast<std::uint32_t>(c[3]) << 24);
    const std::uint8_t parts[4] = {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                                   static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
    make_tuple(args[0], parts, 4);
}

void as_ipv4(Cell* args) { four_bytes("as-ipv4", args); }
void as_rgba(Cell* args) { four_bytes("as-rgba", args); }

// count-chars start pos: the UTF-8 characters that start between the two
// indexes, both taken in start's buffer.
void count_chars(Cell* args) {
    if (!args[0].is(TypeId::binary)) expect_arg("count-chars", args[0], "start");
    if (!args[1].is(TypeId::binary)) expect_arg("count-chars", args[1], "pos");
    const SeriesBuffer* buf = memory::buffer(args[0].series_node());
    const std::int64_t length = buf->tail - buf->head;
    const std::int64_t from = std::clamp<std::int64_t>(args[0].series_head(), 0, length);
    const std::int64_t to = std::clamp<std::int64_t>(args[1].series_head(), 0, length);
    std::int32_t n = 0;
    for (const std::uint8_t *p = buf->head + from, *end = buf->head + to; p < end; ++n) {
        std::int32_t cp = 0;
        p = unicode::decode_utf8_char(p, end, &cp);
    }
    set_int(args[0], n);
}

// decode-utf16 bytes big-endian?: the text of UTF-16 bytes from their head;
// units that form no character become U+FFFD.
void decode_utf16(Cell* args) {
    if (!args[0].is(TypeId::binary)) expect_arg("decode-utf16", args[0], "bytes");
    const bool big_endian = args[1].is(TypeId::logic) && args[1].logic_value() != 0;
    const SeriesBuffer* buf = memory::buffer(args[0].series_node());
    const std::int64_t length = buf->tail - buf->head;
    const std::int64_t from = std::clamp<std::int64_t>(args[0].series_head(), 0, length);
    const NodeId text = unicode::utf16_to_string(buf->head + from, static_cast<std::int32_t>(length - from), big_endian);
    args[0].reset(TypeId::string);
    args[0].set_series_node(text);
}

// The argument stack: its size, one of its cells, and the current base.
void stack_size_q(Cell* args) {
    set_int(args[0], static_cast<std::int32_t>(stack::index_of(stack::top())));
}

void pick_stack(Cell* args) {
    const std::int32_t i = int_arg("pick-stack", args[0], "idx");
    const std::int64_t size = stack::index_of(stack::top());
    if (i > 0 && i < size) args[0] = *stack::cell_at(static_cast<std::uint32_t>(i - 1));
    else none::make_at(args[0]);
}

void frame_index_q(Cell* args) { set_int(args[0], static_cast<std::int32_t>(stack::index_of(stack::base()))); }

// collect-calls blk: the words of the named calls, the latest first.
void collect_calls(Cell* args) {
    if (!args[0].is(TypeId::block)) expect_arg("collect-calls", args[0], "blk");
    const Cell blk = args[0];
    for (const stack::Frame* f = stack::top_frame(); f != nullptr && f >= stack::bottom_frame(); --f) {
        if (stack::unnamed_frame(*f)) continue;
        block::append_copy(blk, stack::frame_word(*f));
    }
}

void tracing_q(Cell* args) { logic::make_at(args[0], tracing::state.on); }

// set-tracing on?: tracing on, where a tracer is installed and is not the one
// running, or off.
void set_tracing(Cell* args) {
    tracing::state.on = truthy(args[0]) && tracing::available();
    logic::make_at(args[0], tracing::state.on);
}

// read-clipboard: the clipboard's content, none when empty, false when it
// cannot be reached. write-clipboard data: true when the clipboard took it.
void read_clipboard(Cell* args) { clipboard::read(args[0]); }
void write_clipboard(Cell* args) { logic::make_at(args[0], clipboard::write(args[0])); }

// write-stdout data: a text as UTF-8, a binary as its bytes, any other value formed.
void write_stdout(Cell* args) {
    const Cell data = args[0];
    std::string bytes;
    if (data.is(TypeId::binary)) {
        const SeriesBuffer* buf = memory::buffer(data.series_node());
        const std::uint8_t* from = buf->head + data.series_head();
        if (from < buf->tail) bytes.assign(reinterpret_cast<const char*>(from), static_cast<std::size_t>(buf->tail - from));
    } else {
        Cell text{};
        if (is_any_string_type(data.type())) {
            text = data;
        } else {
            string::make_at(text, 16);
            Cell v = data;
            actions::form_to(&v, text.series_node(), -1);
        }
        bytes += string::utf8_of(text);
    }
    platform::flush();
    file_io::write_file(nullptr, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                        static_cast<std::int64_t>(bytes.size()), -1, false);
}

}  // namespace

void register_library() {
    routine::add("set-quiet", set_quiet);
    routine::add("set-slot-quiet", set_slot_quiet);
    routine::add("set-current-dir", set_current_dir);
    routine::add("float-on-change*", float_on_change);
    routine::add("gc-active?", gc_active_q);
    routine::add("gc-series-cycles", gc_series_cycles);
    routine::add("gc-nodes-cycles", gc_nodes_cycles);
    routine::add("shift-right", shift_routine<Shift::right>);
    routine::add("shift-left", shift_routine<Shift::left>);
    routine::add("shift-logical", shift_routine<Shift::logical>);
    routine::add("last-lf?", last_lf_q);
    routine::add("get-current-dir", get_current_dir);
    routine::add("os-info", os_info);
    routine::add("as-color", as_color);
    routine::add("as-ipv4", as_ipv4);
    routine::add("as-rgba", as_rgba);
    routine::add("count-chars", count_chars);
    routine::add("decode-utf16", decode_utf16);
    routine::add("stack-size?", stack_size_q);
    routine::add("pick-stack", pick_stack);
    routine::add("frame-index?", frame_index_q);
    routine::add("collect-calls", collect_calls);
    routine::add("tracing?", tracing_q);
    routine::add("read-clipboard", read_clipboard);
    routine::add("write-clipboard", write_clipboard);
    routine::add("set-tracing", set_tracing);
    routine::add("write-stdout", write_stdout);
}

}  // namespace kiv::natives
