// url!: percent coding over the UTF-8 form of a text, the encoded mold, urls
// built from blocks and path steps joined with "/". A text's UTF-8 bytes are
// copied out before anything is appended, so no buffer pointer outlives an
// allocation.
#include "runtime/datatypes/url.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/services.h"
#include "runtime/io/http_request.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <array>
#include <string_view>

namespace kiv::url {

namespace {

// Bit 0: kept by the unreserved set, bit 1: kept by the url set.
constexpr std::array<std::uint8_t, 128> keep_table = [] {
    std::array<std::uint8_t, 128> t{};
    for (int c = 'A'; c <= 'Z'; ++c) t[static_cast<std::size_t>(c)] = 3;
    for (int c = 'a'; c <= 'z'; ++c) t[static_cast<std::size_t>(c)] = 3;
    for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = 3;
    for (const char c : std::string_view("-._~")) t[static_cast<std::size_t>(c)] = 3;
    for (const char c : std::string_view("!#$&'()*+,/:=?@")) t[static_cast<std::size_t>(c)] = 2;
    return t;
}();

int hex_value(std::uint8_t b) {
    if (b >= '0' && b <= '9') return b - '0';
    if (b >= 'A' && b <= 'F') return b - 'A' + 10;
    if (b >= 'a' && b <= 'f') return b - 'a' + 10;
    return -1;
}

// A new empty text, held for the collector while the caller works.
struct NewText {
    Cell cell{};
    collector::Root root;
    NewText(std::int32_t room, std::uint32_t unit) : root(made(cell, room, unit)) {}
    NodeId node() const { return root.cell().series_node(); }
    Cell& value() { return root.cell(); }
    static const Cell& made(Cell& c, std::int32_t room, std::uint32_t unit) {
        string::make_at_unit(c, room, unit);
        return c;
    }
};

void form_into(const Cell& value, NodeId out) {
    Cell v = value;
    actions::form_to(&v, out, -1);
}

// The url of a block: scheme "://" host, then ":" port when the third value
// is an integer!, then the remaining values joined by "/" ("#" before an issue!).
void build_from_block(const Cell& spec, Cell& result) {
    const std::int32_t count = block::count_from_head(spec);
    if (count <= 0) {
        const Cell type = datatype::of(TypeId::url);
        runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type, &spec);
    }
    NewText text(32, 1);
    const std::int32_t head = spec.series_head();
    auto value = [&](std::int32_t i) { return *block::get_cell(spec, head + i); };
    form_into(value(0), text.node());
    string::append_nul_text(text.node(), "://");
    std::int32_t i = 1;
    if (i < count) form_into(value(i++), text.node());
    if (i < count && value(i).is(TypeId::integer)) {
        string::append_char(text.node(), ':');
        form_into(value(i++), text.node());
    }
    if (i < count) {
        string::append_char(text.node(), '/');
        form_into(value(i++), text.node());
        for (; i < count; ++i) {
            string::append_char(text.node(), value(i).is(TypeId::issue) ? '#' : '/');
            form_into(value(i), text.node());
        }
    }
    result = text.value();
    result.set_type(TypeId::url);
}

[[noreturn]] void not_done() { runtime::raise_error(ErrorCategory::internal, "not-done"); }

}  // namespace

std::string utf8_of(Cell& text) {
    std::string out;
    const std::int32_t n = string::length_from_head(text);
    const std::uint8_t* p = string::head_pointer(text);
    const std::uint32_t unit = memory::buffer(text.series_node())->unit();
    out.reserve(static_cast<std::size_t>(n));
    std::uint8_t bytes[4];
    for (std::int32_t i = 0; i < n; ++i) {
        const int size = unicode::encode_utf8_char(string::get_char(p + i * unit, unit), bytes);
        out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
    }
    return out;
}

bool kept_q(std::uint8_t byte, Encoding mode) {
    if (byte >= 128) return false;
    return (keep_table[byte] & (mode == Encoding::unreserved ? 1 : 2)) != 0;
}

bool hex_pair(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t* out) {
    if (end - p < 3 || p[0] != '%') return false;
    const int high = hex_value(p[1]);
    const int low = hex_value(p[2]);
    if (high < 0 || low < 0) return false;
    *out = static_cast<std::uint8_t>(high * 16 + low);
    return true;
}

int encode_byte(std::uint8_t byte, Encoding mode, char out[3]) {
    if (kept_q(byte, mode)) {
        out[0] = static_cast<char>(byte);
        return 1;
    }
    const char* hex = string::byte_to_hex(byte);
    out[0] = '%';
    out[1] = hex[0];
    out[2] = hex[1];
    return 3;
}

std::vector<std::uint32_t> decode_bytes(const std::uint8_t* p, std::int32_t n) {
    std::vector<std::uint32_t> out;
    out.reserve(static_cast<std::size_t>(n));
    const std::uint8_t* const end = p + n;
    while (p < end) {
        std::uint8_t byte = 0;
        if (hex_pair(p, end, &byte)) {
            const int size = unicode::utf8_lead_size(byte);
            if (size == 0) {  // not a lead byte: the byte itself
                out.push_back(byte);
                p += 3;
                continue;
            }
            std::uint8_t seq[4] = {byte};
            int got = 1;
            while (got < size && hex_pair(p + 3 * got, end, &seq[got])) ++got;
            if (got == size) {
                std::int32_t cp = -1;
                unicode::decode_utf8_char(seq, seq + size, &cp);
                out.push_back(cp < 0 ? 0xFFFE : static_cast<std::uint32_t>(cp));
                p += 3 * size;
                continue;
            }
        }
        std::int32_t cp = -1;  // the raw text, one sequence
        const std::uint8_t* next = unicode::decode_utf8_char(p, end, &cp);
        if (cp < 0) {
            out.push_back(*p++);  // not UTF-8: the byte stands for itself
        } else {
            out.push_back(static_cast<std::uint32_t>(cp));
            p = next;
        }
    }
    return out;
}

void decode_bytes_into(const std::uint8_t* p, std::int32_t n, NodeId out) {
    for (const std::uint32_t cp : decode_bytes(p, n)) string::append_char(out, cp);
}

void decode_into(Cell& text, NodeId out) {
    const std::string bytes = utf8_of(text);
    decode_bytes_into(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                      static_cast<std::int32_t>(bytes.size()), out);
}

void encode_into(Cell& text, NodeId out, Encoding mode) {
    const std::string bytes = utf8_of(text);
    char coded[3];
    for (const char b : bytes) {
        const int n = encode_byte(static_cast<std::uint8_t>(b), mode, coded);
        for (int i = 0; i < n; ++i) string::append_char(out, static_cast<std::uint8_t>(coded[i]));
    }
}

// --- Handlers, in action order ----------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId type) {
    if (spec->is(TypeId::block) || spec->is(TypeId::paren) || spec->is(TypeId::hash))
        return to(proto, spec, type);
    return string::make(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, TypeId type) {
    if (type == TypeId::url &&
        (spec->is(TypeId::block) || spec->is(TypeId::paren) || spec->is(TypeId::hash))) {
        Cell result;
        build_from_block(*spec, result);
        *proto = result;
        return proto;
    }
    return string::to(proto, spec, type);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part,
                  std::int32_t) {
    const std::string bytes = utf8_of(*value);
    char coded[3];
    std::int32_t appended = 0;
    for (const char b : bytes) {
        const int n = encode_byte(static_cast<std::uint8_t>(b), Encoding::url, coded);
        for (int i = 0; i < n; ++i) {
            if (arg != nullptr && appended >= part) return part - appended;
            string::append_char(out, static_cast<std::uint8_t>(coded[i]));
            ++appended;
        }
    }
    return part - appended;
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    if (new_value != nullptr) {
        const Cell path = step.path != nullptr ? *step.path : *value;
        runtime::raise_error(ErrorCategory::script, "bad-path-set", &path, element);
    }
    Cell base = *value;
    Cell part = *element;
    if (part.is(TypeId::get_word)) word::get_value(part, part);
    const std::uint32_t unit = memory::buffer(base.series_node())->unit();
    NewText form(16, unit);
    form_into(part, form.node());
    const std::int32_t base_length = string::length_from_head(base);
    const bool base_slash =
        base_length > 0 && string::get_char_at_index(base, base.series_head() + base_length - 1) == '/';
    const bool form_slash =
        string::length_from_head(form.value()) > 0 && string::get_char_at_index(form.value(), 0) == '/';
    NewText joined(base_length + string::length_from_head(form.value()) + 1, unit);
    Cell& result = joined.value();
    string::concatenate(result, base, base_slash && form_slash ? base_length - 1 : base_length, 0,
                        false, string::ConcatMode::append);
    if (!base_slash && !form_slash) string::append_char(joined.node(), '/');
    string::concatenate(result, form.value(), -1, 0, false, string::ConcatMode::append);
    result.set_type(value->type());
    *value = result;
    return value;
}

Cell* open(Cell* url, const OpenRefinements& how) {
    Cell port{};
    port::open_url(*url, &how, port);
    *url = port;
    return url;
}

namespace {

// True when the url's text starts with "http" (so https too), any case.
bool http_q(Cell& value) {
    if (string::length_from_head(value) < 4) return false;
    for (std::int32_t i = 0; i < 4; ++i) {
        const std::uint32_t c = string::get_char_at_index(value, value.series_head() + i);
        if ((c | 0x20) != static_cast<std::uint32_t>("http"[i])) return false;
    }
    return true;
}

[[noreturn]] void no_connect(const Cell& value) {
    runtime::raise_error(ErrorCategory::access, "no-connect", &value);
}

[[noreturn]] void invalid_arg(const Cell& value) {
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &value);
}

bool body_type_q(const Cell& value) {
    return value.is(TypeId::none) || value.is(TypeId::block) || value.is(TypeId::string) ||
           value.is(TypeId::binary);
}

}  // namespace

// Other schemes read through a port of their scheme.
Cell* read(Cell* source, const ReadRefinements& how) {
    if (!http_q(*source)) {
        Cell port{};
        port::open_url(*source, nullptr, port);
        *source = port;
        return port::read(source, how);
    }
    if (how.part != nullptr || how.seek != nullptr || how.as != nullptr) not_done();
    Cell result{};
    if (!http_request::request(*source, symbol::make("get"), nullptr, nullptr,
                               {how.binary, how.lines, how.info}, result)) {
        no_connect(*source);
    }
    *source = result;
    return source;
}

// The data is the body of a post, or a block [method headers body] whose
// headers and body may each be left out (an empty block is a get).
Cell* write(Cell* destination, Cell* data, const WriteRefinements& how) {
    if (!http_q(*destination)) {
        Cell port{};
        port::open_url(*destination, nullptr, port);
        *destination = port;
        return port::write(destination, data, how);
    }
    if (how.part != nullptr || how.seek != nullptr || how.allow != nullptr ||
        how.as != nullptr) {
        not_done();
    }
    symbol::SymbolId method = symbol::make("post");
    // copies: the cells of the data block may move while the request is made
    Cell header_block{};
    Cell body_value = *data;
    const Cell* headers = nullptr;
    const Cell* body = &body_value;
    if (data->is(TypeId::block)) {
        body = nullptr;
        const std::int32_t count = block::count_from_head(*data);
        const std::int32_t head = data->series_head();
        std::int32_t i = 0;
        if (count > 0) {
            const Cell* first = block::get_cell(*data, head);
            if (!first->is(TypeId::word)) invalid_arg(*first);
            method = symbol::resolve_alias(first->word_symbol());
            i = 1;
        } else {
            method = symbol::make("get");
        }
        if (i < count && block::get_cell(*data, head + i)->is(TypeId::block)) {
            header_block = *block::get_cell(*data, head + i++);
            headers = &header_block;
        }
        if (i < count) {
            body_value = *block::get_cell(*data, head + i++);
            body = &body_value;
        }
        if (i < count) invalid_arg(*block::get_cell(*data, head + i));
    }
    if (body != nullptr && !body_type_q(*body)) invalid_arg(*body);
    Cell result{};
    if (!http_request::request(*destination, method, headers, body,
                               {how.binary, how.lines, how.info}, result)) {
        no_connect(*destination);
    }
    *destination = result;
    return destination;
}

// --- Registration -----------------------------------------------------------------------

namespace {

constexpr registry::Registration registration{TypeId::url, registry::table({
        {Action::make,      make},
        {Action::random,    registry::refuse},
        {Action::reflect,   registry::refuse},
        {Action::to,        to},
        {Action::mold,      mold},
        {Action::eval_path, eval_path},
        {Action::sort,      registry::refuse},
        {Action::trim,      registry::refuse},
        {Action::open,      open},
        {Action::read,      read},
        {Action::write,     write},  // ORDER ACTIONS
    })};

}  // namespace

void init() { registry::register_type(registration); }

}  // namespace kiv::url
