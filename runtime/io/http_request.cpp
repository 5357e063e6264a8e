#include "runtime/io/http_request.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/os/http_client.h"
#include "runtime/io/file_io.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>

namespace kiv::http_request {

namespace {


// The UTF-8 text of a value: a string's own text, any other value formed.
std::string text_of(const Cell& value) {
    if (value.is(TypeId::string)) {
        Cell v = value;
        return url::utf8_of(v);
    }
    Cell formed{};
    string::make_at(formed, 16);
    collector::Root hold(formed);
    Cell v = value;
    actions::form_to(&v, hold.cell().series_node(), -1);
    return url::utf8_of(hold.cell());
}

std::string bytes_of(const Cell& binary) {
    SeriesBuffer* buf = memory::buffer(binary.series_node());
    const std::uint8_t* from = buf->head + std::min<std::int64_t>(binary.series_head(), buf->used_bytes());
    return std::string(reinterpret_cast<const char*>(from), static_cast<std::size_t>(buf->tail - from));
}

// The url as it goes on the wire: the url set as it is (brackets too, for an
// IPv6 host), every other byte of its UTF-8 form percent-encoded.
std::string wire_url(const Cell& value) {
    const std::string text = text_of(value);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b == '[' || b == ']') {
            out += c;
            continue;
        }
        char encoded[3];
        out.append(encoded, static_cast<std::size_t>(url::encode_byte(b, url::Encoding::url, encoded)));
    }
    return out;
}

std::string method_name(symbol::SymbolId method) {
    std::string name(symbol::name(method));
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// Text that goes into the request's head as it is: a line break or NUL
// there would end the line and start another header (or the body).
const std::string& head_text(const std::string& text, const Cell& given) {
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        Cell arg = given;
        runtime::raise_error(ErrorCategory::script, "invalid-arg", &arg);
    }
    return text;
}

// A header name: a word's spelling, any other value formed.
std::string header_name(const Cell& name) {
    if (word::is_any_word(name.type()) && !name.is(TypeId::refinement)) {
        return std::string(symbol::name(name.word_symbol()));
    }
    return text_of(name);
}

// Appends the code points of UTF-8 text; a byte that is not UTF-8 stands for itself.
void append_text(NodeId out, const char* p, const char* end) {
    auto* q = reinterpret_cast<const std::uint8_t*>(p);
    const auto* stop = reinterpret_cast<const std::uint8_t*>(end);
    while (q < stop) {
        std::int32_t cp = -1;
        const std::uint8_t* next = unicode::decode_utf8_char(q, stop, &cp);
        if (cp < 0) {
            string::append_char(out, *q++);
        } else {
            string::append_char(out, static_cast<std::uint32_t>(cp));
            q = next;
        }
    }
}

void make_text(const char* p, const char* end, Cell& out) {
    Cell text{};
    string::make_at(text, static_cast<std::int32_t>(std::max<std::ptrdiff_t>(end - p, 1)));
    collector::Root hold(text);
    append_text(hold.cell().series_node(), p, end);
    out = hold.cell();
}

Cell new_binary(std::int32_t room) {
    Cell out{};
    out.reset(TypeId::binary);
    out.set_series_node(memory::alloc_series(std::max(room, 1), 1, 0));
    return out;
}

// Gathers a body straight into a binary! as it arrives. Errors raised while
// it grows wait until the transfer is over: they must not cross the client.
class BodyInSeries final : public http_client::BodySink {
public:
    BodyInSeries() : root_(new_binary(16)) {}
    bool begin(long long length) override {
        return guarded([&] {
            if (length > 0) root_.cell() = new_binary(static_cast<std::int32_t>(length));
        });
    }
    bool append(const char* bytes, std::size_t n) override {
        return guarded([&] {
            binary::append_bytes(root_.cell().series_node(), reinterpret_cast<const std::uint8_t*>(bytes),
                                 static_cast<std::int32_t>(n));
        });
    }
    const Cell& value() const { return root_.cell(); }
    // Raises what the growth raised, if anything.
    void rethrow() const {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    template <typename F>
    bool guarded(F&& f) {
        try {
            f();
            return true;
        } catch (...) {
            failure_ = std::current_exception();
            return false;
        }
    }
    collector::Root root_;
    std::exception_ptr failure_;
};

// The body value of the bytes of binary: itself, its text (UTF-8), or the
// lines of its text.
void make_body(const Cell& binary, Flags flags, Cell& out) {
    if (flags.binary) {
        out = binary;
        return;
    }
    SeriesBuffer* buf = memory::buffer(binary.series_node());
    const std::int32_t size = buf->used_bytes();
    Cell text{};
    if (size == 0) {
        string::make_at(text, 1);
    } else {
        std::int32_t left = 0;
        const NodeId node = unicode::load_utf8(buf->head, size, 0, &left, true);
        text.reset(TypeId::string);
        text.set_series_node(node);
    }
    text.set_type(TypeId::string);
    if (!flags.lines) {
        out = text;
        return;
    }
    collector::Root hold(text);
    file_io::split_lines(hold.cell(), out);
}

}  // namespace

void parse_headers(const std::string& text, Cell& out) {
    Cell m{};
    map::make_at(m, nullptr, 16);
    collector::Root map_hold(m);
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::size_t line_end = end;
        if (line_end > at && text[line_end - 1] == '\r') --line_end;
        const std::size_t colon = text.find(':', at);
        const std::size_t line_start = at;
        at = end + 1;
        if (colon == std::string::npos || colon >= line_end || colon == line_start) continue;
        std::size_t name_end = colon;
        while (name_end > line_start && (text[name_end - 1] == ' ' || text[name_end - 1] == '\t')) --name_end;
        std::size_t value_start = colon + 1;
        while (value_start < line_end && (text[value_start] == ' ' || text[value_start] == '\t')) ++value_start;
        std::size_t value_end = line_end;
        while (value_end > value_start && (text[value_end - 1] == ' ' || text[value_end - 1] == '\t')) --value_end;

        Cell key{};
        word::make_at(symbol::make_from_utf8(text.data() + line_start,
                                             static_cast<std::int32_t>(name_end - line_start)), key);
        collector::Root key_hold(key);
        Cell value{};
        make_text(text.data() + value_start, text.data() + value_end, value);
        collector::Root value_hold(value);
        const Cell& table = map_hold.cell();
        const std::int32_t found = map::find_key(table, key_hold.cell(), false);
        if (found < 0) {
            map::set(table, key_hold.cell(), value_hold.cell(), false);
            continue;
        }
        Cell blocks{};
        blocks.reset(TypeId::block);
        blocks.set_series_node(map::block_of(table));
        const Cell earlier = *block::get_cell(blocks, found + 1);
        if (earlier.is(TypeId::block)) {
            block::append_copy(earlier, value_hold.cell());
            continue;
        }
        Cell both{};
        block::make_at(both, 2);
        collector::Root both_hold(both);
        block::append_copy(both_hold.cell(), earlier);
        block::append_copy(both_hold.cell(), value_hold.cell());
        map::set(table, key_hold.cell(), both_hold.cell(), false);
    }
    out = map_hold.cell();
}

bool request(const Cell& url, symbol::SymbolId method, const Cell* headers, const Cell* body,
             Flags flags, Cell& out) {
    http_client::Request req;
    req.url = wire_url(url);
    req.method = method_name(method);
    if (headers == nullptr) {
        req.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                       {"Accept-Charset", "UTF-8"},
                       {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"}};
    } else {
        const std::int32_t count = block::count_from_head(*headers);
        for (std::int32_t i = 0; i + 1 < count; i += 2) {
            const Cell name = *block::get_cell(*headers, headers->series_head() + i);
            const Cell value = *block::get_cell(*headers, headers->series_head() + i + 1);
            req.headers.emplace_back(head_text(header_name(name), name), head_text(text_of(value), value));
        }
    }
    if (body != nullptr && !body->is(TypeId::none) && req.method != "GET" && req.method != "HEAD") {
        req.body = body->is(TypeId::binary) ? bytes_of(*body) : text_of(*body);
    }
    BodyInSeries sink;
    req.sink = &sink;
    const std::optional<http_client::Response> response = http_client::perform(req);
    sink.rethrow();
    if (!response) return false;

    if (!flags.info) {
        make_body(sink.value(), flags, out);
        return true;
    }
    Cell result{};
    block::make_at(result, 3);
    collector::Root hold(result);
    Cell status{};
    integer::make_at(status, static_cast<std::int32_t>(response->status));
    block::append_copy(hold.cell(), status);
    Cell fields{};
    parse_headers(response->header_text, fields);
    block::append_copy(hold.cell(), fields);
    Cell content{};
    make_body(sink.value(), flags, content);
    block::append_copy(hold.cell(), content);
    out = hold.cell();
    return true;
}

}  // namespace kiv::http_request
