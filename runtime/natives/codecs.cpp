// enbase, debase and checksum: byte codecs and checksums over the bytes of a
// binary! (from its head) or the UTF-8 of a string. The codecs and digests
// are plain byte routines of the core (base_n.h, checksums.h, digests.h);
// these natives check their arguments, size the results and wrap them.
#include "runtime/evaluator/natives.h"

#include "runtime/codecs/base_n.h"
#include "runtime/codecs/checksums.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/codecs/digests.h"
#include "runtime/evaluator/stack.h"
#include "runtime/io/file_io.h"
#include "runtime/core/output_hooks.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kiv::natives {

namespace {

[[noreturn]] void invalid_arg(const Cell& value) {
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &value);
}

// The bytes of a binary! from its head, or a text's UTF-8 (copied: allocations
// may move a buffer, and the text must become bytes anyway).
struct Bytes {
    std::vector<std::uint8_t> text;
    const Cell* bin = nullptr;
    const std::uint8_t* data() const {
        if (bin == nullptr) return text.data();
        const SeriesBuffer* b = memory::buffer(bin->series_node());
        return b->head + std::clamp(bin->series_head(), 0, b->used_bytes());
    }
    std::int64_t size() const {
        if (bin == nullptr) return static_cast<std::int64_t>(text.size());
        const SeriesBuffer* b = memory::buffer(bin->series_node());
        return b->used_bytes() - std::clamp(bin->series_head(), 0, b->used_bytes());
    }
};

Bytes bytes_of(const Cell& arg) {
    Bytes out;
    if (arg.is(TypeId::binary)) {
        out.bin = &arg;
        return out;
    }
    if (!is_any_string_type(arg.type())) invalid_arg(arg);
    const SeriesBuffer* b = memory::buffer(arg.series_node());
    const std::uint32_t unit = b->unit();
    const std::int32_t units = b->used_bytes() / static_cast<std::int32_t>(unit);
    const std::int32_t head = std::clamp(arg.series_head(), 0, units);
    out.text.resize(static_cast<std::size_t>(units - head) * (unit == 1 ? 2 : unit == 2 ? 3 : 4));
    const std::int32_t n = unicode::encode_units_utf8(b->head + static_cast<std::size_t>(head) * unit, units - head,
                                                      unit, out.text.data(), false);
    out.text.resize(static_cast<std::size_t>(n));
    return out;
}

// The /base argument (64 without it), checked.
std::int32_t base_of(const std::int32_t* refinements, std::int32_t position) {
    if (!used(refinements, position)) return 64;
    const Cell& b = *stack::arg(refinements[position]);
    if (!b.is(TypeId::integer) || !base_n::known_base(b.int_value())) invalid_arg(b);
    return b.int_value();
}

void enbase(bool, const std::int32_t* refinements) {
    const std::int32_t base = base_of(refinements, refine::enbase::base);
    const Bytes in = bytes_of(*stack::arg(0));
    const std::int64_t room = base_n::encoded_size(base, in.size());
    if (room > binary::max_bytes) runtime::raise_error(ErrorCategory::script, "too-long");
    Cell result{};
    string::make_at(result, static_cast<std::int32_t>(room));  // 1-byte units: the text is ASCII
    SeriesBuffer* out = memory::buffer(result.series_node());
    const std::int64_t n = base_n::encode(base, in.data(), in.size(), reinterpret_cast<char*>(out->head));
    out->tail = out->head + n;
    stack::set_result_only(result);
}

void debase(bool, const std::int32_t* refinements) {
    const std::int32_t base = base_of(refinements, refine::debase::base);
    const Cell text = *stack::arg(0);
    if (!is_any_string_type(text.type())) invalid_arg(text);
    const SeriesBuffer* b = memory::buffer(text.series_node());
    const std::uint32_t unit = b->unit();
    const std::int32_t units = b->used_bytes() / static_cast<std::int32_t>(unit);
    const std::int32_t head = std::clamp(text.series_head(), 0, units);
    Cell result{};
    binary::make_at(result, static_cast<std::int32_t>(base_n::decoded_room(base, units - head)));
    b = memory::buffer(text.series_node());  // the allocation may have moved it
    SeriesBuffer* out = memory::buffer(result.series_node());
    const std::int64_t n = base_n::decode(base, b->head + static_cast<std::size_t>(head) * unit, units - head, unit,
                                          out->head);
    if (n < 0) {
        stack::set_result_only(Cell::fresh(TypeId::none));
        return;
    }
    out->tail = out->head + n;
    stack::set_result_only(result);
}

// The checksum method words, made at start-up.
enum class Method { tcp, crc32, md5, sha1, sha256, sha384, sha512, adler32, hash };
constexpr const char* method_names[] = {"tcp", "crc32", "md5", "sha1", "sha256", "sha384", "sha512", "adler32", "hash"};
symbol::SymbolId method_words[std::size(method_names)] = {};

Method method_of(const Cell& arg) {
    if (word::is_any_word(arg.type())) {
        const symbol::SymbolId id = symbol::resolve_alias(arg.word_symbol());
        for (std::size_t i = 0; i < std::size(method_words); ++i)
            if (method_words[i] == id) return static_cast<Method>(i);
    }
    invalid_arg(arg);
}

bool plain_checksum(Method m) { return m == Method::tcp || m == Method::crc32 || m == Method::adler32; }

// Prints one line through the print hooks.
void print_line(const char* text) {
    Cell line{};
    string::make_at(line, 64);
    collector::Root hold(line);
    string::append_nul_text(hold.cell().series_node(), text);
    output_hooks::call_print_hooks(&hold.cell(), true);
}

[[noreturn]] void bad_with(const Cell& spec) {
    const Cell ref = words::refinement(words::Ref::with);
    runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref, &spec);
}

void set_bytes(const std::vector<std::uint8_t>& bytes) {
    Cell result{};
    binary::make_from_bytes(result, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    stack::set_result_only(result);
}

void set_integer(std::uint32_t v) {
    Cell result{};
    result.reset(TypeId::integer);
    result.set_int(static_cast<std::int32_t>(v));
    stack::set_result_only(result);
}

void checksum(bool, const std::int32_t* refinements) {
    Cell data = *stack::arg(0);
    const Method method = method_of(*stack::arg(1));
    const Cell* spec = used(refinements, refine::checksum::with) ? stack::arg(refinements[refine::checksum::with])
                                                                   : nullptr;
    Cell read{};
    collector::Root hold(read);
    if (data.is(TypeId::file)) {  // a file is checksummed as its bytes
        const std::string path = file::to_local_path(data);
        if (!file_io::read_file_binary(path.c_str(), -1, -1, hold.cell()))
            runtime::raise_error(ErrorCategory::access, "cannot-open", &data);
        data = hold.cell();
    }
    const Bytes in = bytes_of(data);
    if (plain_checksum(method)) {
        if (spec != nullptr) bad_with(*spec);
        const std::size_t n = static_cast<std::size_t>(in.size());
        set_integer(method == Method::crc32 ? checksums::crc32(in.data(), n)
                    : method == Method::tcp ? checksums::tcp(in.data(), n)
                                            : checksums::adler32(in.data(), n));
        return;
    }
    if (spec != nullptr && spec->is(TypeId::integer)) {  // a hash-table size: no algorithm yet
        print_line("** /hash support not yet implemented; algorithm TBD.");
        set_integer(0);
        return;
    }
    if (method == Method::hash) {
        if (spec != nullptr) print_line("The selected algorithm doesn't support HMAC calculation");
        bad_with(spec != nullptr ? *spec : *stack::arg(1));
    }
    const auto code = static_cast<digests::Method>(static_cast<std::int32_t>(method));  // md5 ... sha512 share codes
    if (spec == nullptr) {
        set_bytes(digests::digest(in.data(), in.size(), code));
        return;
    }
    if (!spec->is(TypeId::binary) && !is_any_string_type(spec->type())) bad_with(*spec);
    const Bytes key = bytes_of(*spec);
    set_bytes(digests::hmac(in.data(), in.size(), key.data(), key.size(), code));
}

}  // namespace

void register_codecs() {
    for (std::size_t i = 0; i < std::size(method_names); ++i)
        method_words[i] = symbol::resolve_alias(symbol::make(method_names[i]));
    set(Native::enbase, enbase);
    set(Native::debase, debase);
    set(Native::checksum, checksum);
}

}  // namespace kiv::natives
