// call: runs another program through runtime/os/launch.h. The values of the
// refinements become the request's streams (a string! fed as UTF-8, a
// binary! as its bytes, a file! by path), and what the child wrote is
// appended to the string! (decoded from UTF-8) or binary! targets.
#include "runtime/evaluator/natives.h"

#include "runtime/core/buffer.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/stack.h"
#include "runtime/os/launch.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <cstring>
#include <string>

namespace kiv::natives {
namespace {

[[noreturn]] void invalid_arg(const Cell& v) { runtime::raise_error(ErrorCategory::script, "invalid-arg", &v); }

// The bytes of a binary! from its head.
std::string bytes_of(const Cell& bin) {
    const SeriesBuffer* buf = memory::buffer(bin.series_node());
    const std::uint8_t* from = buf->head + bin.series_head();
    if (from >= buf->tail) return {};
    return std::string(reinterpret_cast<const char*>(from), static_cast<std::size_t>(buf->tail - from));
}

// A file! target's local path; a NUL or an empty path is refused by to_local_path.
std::string path_of(Cell& file) { return file::to_local_path(file); }

// Appends captured bytes to a string! (as UTF-8, an invalid byte becoming
// U+FFFD) or a binary! at its tail.
void append_captured(Cell& target, const std::string& bytes) {
    if (bytes.empty()) return;
    if (bytes.size() > 0x7FFFFFF0u) runtime::raise_error(ErrorCategory::internal, "no-memory");
    const auto n = static_cast<std::int32_t>(bytes.size());
    if (target.is(TypeId::binary)) {
        std::uint8_t* at = buffer::grow_tail(target.series_node(), n);
        std::memcpy(at, bytes.data(), bytes.size());
        return;
    }
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::uint8_t* end = p + bytes.size();
    const std::uint8_t* q = p;
    for (std::uint64_t w; end - q >= 8; q += 8) {  // ASCII runs, eight bytes at a time
        std::memcpy(&w, q, 8);
        if ((w & 0x8080808080808080u) != 0) break;
    }
    while (q < end && *q < 0x80) ++q;
    if (q == end && memory::buffer(target.series_node())->unit() == 1) {  // the bytes are the units
        std::uint8_t* at = buffer::grow_tail(target.series_node(), n);
        std::memcpy(at, p, bytes.size());
        return;
    }
    bool valid = true;
    while (q < end && valid) {
        if (*q < 0x80) {
            ++q;
            continue;
        }
        std::int32_t cp = -1;
        q = unicode::decode_utf8_char(q, end, &cp);
        valid = cp >= 0;
    }
    if (!valid) {
        string::append_utf8(target.series_node(), bytes.data(), n);
        return;
    }
    Cell text{};
    text.reset(TypeId::string);
    text.set_series_node(unicode::utf8_to_string(p, n));
    string::concatenate(target, text, -1, 0, false, string::ConcatMode::append);
}

bool is_stream_type(const Cell& v) {
    return v.is(TypeId::string) || v.is(TypeId::file) || v.is(TypeId::binary);
}

void set_sink(Cell* target, launch::Sink& sink) {
    if (target == nullptr) return;
    if (!is_stream_type(*target)) invalid_arg(*target);
    if (target->is(TypeId::file)) {
        sink.kind = launch::Sink::Kind::file;
        sink.path = path_of(*target);
    } else {
        sink.kind = launch::Sink::Kind::capture;
    }
}

// call cmd /wait /show /console /shell /input in /output out /error err
void call(bool, const std::int32_t* r) {
    namespace ref = refine::call;
    Cell& command = *stack::arg(0);
    if (!command.is(TypeId::string) && !command.is(TypeId::file)) invalid_arg(command);
    Cell* in = used(r, ref::input) ? stack::arg(r[ref::input]) : nullptr;
    Cell* out = used(r, ref::output) ? stack::arg(r[ref::output]) : nullptr;
    Cell* err = used(r, ref::error) ? stack::arg(r[ref::error]) : nullptr;
    if (used(r, ref::console)) runtime::raise_error(ErrorCategory::internal, "not-done");
    if (string::length_from_head(command) <= 0) {
        command.reset(TypeId::integer);
        command.set_int(0);
        return;
    }
    launch::Request request;
    request.command = command.is(TypeId::file) ? path_of(command) : string::utf8_of(command);
    if (request.command.find('\0') != std::string::npos) invalid_arg(command);
    request.program = command.is(TypeId::file);
    request.wait = used(r, ref::wait);
    request.shell = used(r, ref::shell);
    std::string input;
    if (in != nullptr) {
        if (!is_stream_type(*in)) invalid_arg(*in);
        if (in->is(TypeId::file)) {
            request.input.kind = launch::Source::Kind::file;
            request.input.path = path_of(*in);
        } else {
            input = in->is(TypeId::binary) ? bytes_of(*in) : string::utf8_of(*in);
            request.input.kind = launch::Source::Kind::bytes;
            request.input.data = reinterpret_cast<const std::uint8_t*>(input.data());
            request.input.size = input.size();
        }
    }
    set_sink(out, request.output);
    set_sink(err, request.error);
    const std::int64_t result = launch::run(request);
    if (out != nullptr && !out->is(TypeId::file)) append_captured(*out, request.output.captured);
    if (err != nullptr && !err->is(TypeId::file)) append_captured(*err, request.error.captured);
    stack::keep_first();
    command.reset(TypeId::integer);
    command.set_int(static_cast<std::int32_t>(result));
}

}  // namespace

void register_process() { set(Native::call, call); }

}  // namespace kiv::natives
