// compress and decompress: binary! values through the deflate codec of the
// core, in its raw (deflate), zlib and gzip forms. Each size is learned from
// the codec (a counting pass, or the gzip trailer) before the output binary
// is made, with one more attempt when the codec asks for more room.
#include "runtime/evaluator/natives.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/codecs/deflate.h"
#include "runtime/evaluator/stack.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kiv::natives {

namespace {

using deflate::Status;
using Routine = Status (*)(std::uint8_t*, std::size_t&, const std::uint8_t*, std::size_t);

// The method words, made at start-up.
symbol::SymbolId zlib_word = 0, deflate_word = 0, gzip_word = 0;

enum class Method { zlib, deflate, gzip };

Method method_of(Cell& arg) {
    if (word::is_any_word(arg.type())) {
        const symbol::SymbolId id = symbol::resolve_alias(arg.word_symbol());
        if (id == zlib_word) return Method::zlib;
        if (id == deflate_word) return Method::deflate;
        if (id == gzip_word) return Method::gzip;
    }
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &arg);
}

// The input: a binary! from its head, or a string's UTF-8 (copied, so that
// allocations cannot move it). The binary's bytes are fetched at each use.
struct Input {
    Cell* cell;  // an argument cell, which the frame keeps
    std::vector<std::uint8_t> text;
    const std::uint8_t* bytes(std::size_t& size) const {
        if (cell == nullptr) {
            size = text.size();
            return text.data();
        }
        size = static_cast<std::size_t>(binary::length_from_head(*cell));
        return binary::head_pointer(*cell);
    }
};

Input input_of(Cell& arg, bool text_too) {
    if (arg.is(TypeId::binary)) return {&arg, {}};
    if (!text_too || !arg.is(TypeId::string)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &arg);
    const SeriesBuffer* buf = memory::buffer(arg.series_node());
    const std::uint32_t unit = buf->unit();
    const std::int32_t used = buf->used_bytes() / static_cast<std::int32_t>(unit);
    const std::int32_t head = std::clamp(arg.series_head(), 0, used);
    const std::int32_t count = used - head;
    Input in{nullptr, std::vector<std::uint8_t>(static_cast<std::size_t>(count) * (unit == 1 ? 2 : unit == 2 ? 3 : 4))};
    const std::int32_t n = unicode::encode_units_utf8(buf->head + static_cast<std::size_t>(head) * unit, count, unit,
                                                      in.text.data(), false);
    in.text.resize(static_cast<std::size_t>(n));
    return in;
}

// Runs the codec into a new binary of room bytes, then once more when it asks
// for more; leaves the binary as the native's result or raises invalid-data
// with the data argument.
void produce(Routine routine, const Input& input, std::size_t room) {
    Cell* data = stack::arg(0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (room > static_cast<std::size_t>(binary::max_bytes))
            runtime::raise_error(ErrorCategory::script, "too-long");
        Cell result{};
        binary::make_at(result, static_cast<std::int32_t>(room));
        collector::Root hold(result);
        const NodeId node = result.series_node();
        std::size_t length = 0;
        const std::uint8_t* in = input.bytes(length);  // after the allocation, which may move buffers
        SeriesBuffer* buf = memory::buffer(node);
        std::size_t size = room;
        const Status s = routine(buf->head, size, in, length);
        if (s == Status::ok) {
            buf->tail = buf->head + size;
            *stack::arg(0) = hold.cell();
            stack::keep_first();
            return;
        }
        if (s != Status::too_small) break;
        room = size;
    }
    runtime::raise_error(ErrorCategory::script, "invalid-data", data);
}

void compress(bool, const std::int32_t*) {
    const Method method = method_of(*stack::arg(1));
    const Input input = input_of(*stack::arg(0), true);
    std::size_t length = 0;
    input.bytes(length);
    const Routine routine = method == Method::zlib      ? deflate::zlib_compress
                            : method == Method::deflate ? deflate::compress
                                                        : deflate::gzip;
    produce(routine, input, length + 32);
}

void decompress(bool, const std::int32_t* refinements) {
    const Method method = method_of(*stack::arg(1));
    const Input input = input_of(*stack::arg(0), false);
    const Routine routine = method == Method::zlib      ? deflate::zlib_decompress
                            : method == Method::deflate ? deflate::inflate
                                                        : deflate::gunzip;
    std::size_t length = 0;
    const std::uint8_t* in = input.bytes(length);
    std::size_t room = 0;
    const Cell* n = used(refinements, refine::decompress::size) ? stack::arg(refinements[refine::decompress::size])
                                                                 : nullptr;
    if (n != nullptr && !n->is(TypeId::integer))
        runtime::raise_error(ErrorCategory::script, "invalid-arg", n);
    if (n != nullptr && method != Method::gzip && n->int_value() > 0 &&
        static_cast<std::size_t>(n->int_value()) > length) {
        // No data makes more than max_expansion bytes: a larger size only wastes memory.
        room = std::min<std::size_t>(static_cast<std::size_t>(n->int_value()), deflate::max_expansion(length));
    } else {
        const Status s = routine(nullptr, room, in, length);
        if (s != Status::ok && s != Status::too_small)
            runtime::raise_error(ErrorCategory::script, "invalid-data", stack::arg(0));
    }
    produce(routine, input, room);
}

}  // namespace

void register_compress() {
    zlib_word = symbol::resolve_alias(symbol::make("zlib"));
    deflate_word = symbol::resolve_alias(symbol::make("deflate"));
    gzip_word = symbol::resolve_alias(symbol::make("gzip"));
    set(Native::compress, compress);
    set(Native::decompress, decompress);
}

}  // namespace kiv::natives
