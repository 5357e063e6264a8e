// file!: the "%" mold, local paths, and the file actions over file_io. A
// file's text is its local path as it is ("/" separates, no drive letters);
// its UTF-8 form goes to the system calls, and a NUL in it is refused rather
// than cutting the path short.
#include "runtime/datatypes/file.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/url.h"
#include "runtime/evaluator/services.h"
#include "runtime/io/file_io.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace kiv::file {

namespace {

[[noreturn]] void cannot_open(const Cell& file) {
    runtime::raise_error(ErrorCategory::access, "cannot-open", &file);
}

[[noreturn]] void not_done() { runtime::raise_error(ErrorCategory::internal, "not-done"); }

// The integer of a /part or /seek argument; -1 when not given.
std::int32_t int_arg(const Cell* arg) {
    if (arg == nullptr || arg->is(TypeId::none)) return -1;
    if (!arg->is(TypeId::integer) && !arg->is(TypeId::float_))
        runtime::raise_error(ErrorCategory::script, "invalid-arg", arg);
    return integer::from_number(*arg);
}

// The UTF-8 of a text's first limit units from its head (limit < 0: all).
void append_utf8(Cell& text, std::int32_t limit, std::string& out) {
    std::int32_t n = string::length_from_head(text);
    if (limit >= 0 && limit < n) n = limit;
    const std::uint8_t* p = string::head_pointer(text);
    const std::uint32_t unit = memory::buffer(text.series_node())->unit();
    std::uint8_t bytes[4];
    for (std::int32_t i = 0; i < n; ++i) {
        const int size = unicode::encode_utf8_char(string::get_char(p + i * unit, unit), bytes);
        out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
    }
}

// The UTF-8 of a value written to a file: a text as it is, any other value formed.
void append_value_utf8(const Cell& value, std::int32_t limit, std::string& out) {
    Cell v = value;
    if (is_any_string_type(v.type())) {
        append_utf8(v, limit, out);
        return;
    }
    if (v.is(TypeId::binary)) {  // bytes go out as they are, not as their text
        const SeriesBuffer* buf = memory::buffer(v.series_node());
        const std::uint8_t* from = buf->head + v.series_head();
        std::int64_t n = from < buf->tail ? buf->tail - from : 0;
        if (limit >= 0 && limit < n) n = limit;
        out.append(reinterpret_cast<const char*>(from), static_cast<std::size_t>(n));
        return;
    }
    Cell formed{};
    string::make_at(formed, 16);
    collector::Root hold(formed);
    actions::form_to(&v, hold.cell().series_node(), -1);
    append_utf8(hold.cell(), limit, out);
}

}  // namespace

std::string current_directory() {
    std::vector<char> buf(256);
    while (::getcwd(buf.data(), buf.size()) == nullptr) {
        if (errno != ERANGE || buf.size() > (1u << 20)) {
            Cell none_cell = none::value;
            cannot_open(none_cell);
        }
        buf.resize(buf.size() * 2);
    }
    std::string dir(buf.data());
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

void to_local_path_into(Cell& file, NodeId out, bool full) {
    const bool absolute = string::length_from_head(file) > 0 &&
                          string::get_char(string::head_pointer(file),
                                           memory::buffer(file.series_node())->unit()) == '/';
    if (full && !absolute) {
        const std::string dir = current_directory();
        string::append_utf8(out, dir.data(), static_cast<std::int32_t>(dir.size()));
    }
    Cell target{};
    target.reset(TypeId::string);
    target.set_series_node(out);
    string::concatenate(target, file, -1, 0, false, string::ConcatMode::append);
}

std::optional<std::string> local_path(Cell& file) {
    std::string path;
    append_utf8(file, -1, path);
    if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
    return path;
}

std::string to_local_path(Cell& file) {
    std::optional<std::string> path = local_path(file);
    if (!path) cannot_open(file);
    return std::move(*path);
}

// --- Handlers, in action order ----------------------------------------------------------

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part,
                  std::int32_t) {
    const Cell v = *value;
    Cell text = v;
    const std::int32_t length = string::length_from_head(text);
    const std::int32_t span = arg != nullptr ? std::clamp(part, 0, length) : length;
    const std::int32_t head = text.series_head();
    string::append_char(out, '%');
    if (length == 0) {
        string::append_nul_text(out, "\"\"");
        return part - span - 1;
    }
    bool quoted = false;
    for (std::int32_t i = head; i < head + span && !quoted; ++i) {
        const std::uint32_t c = string::get_char_at_index(v, i);
        quoted = c < 127 && !url::kept_q(static_cast<std::uint8_t>(c), url::Encoding::url);
    }
    if (quoted) string::append_char(out, '"');
    for (std::int32_t i = head; i < head + span; ++i) {
        const std::uint32_t c = string::get_char_at_index(v, i);
        if (quoted && (c < 32 || c == '"' || c == '^' || c == 127))
            char_::append_escaped(out, c, false);  // so that the mold loads back as the same file
        else
            string::append_char(out, c);
    }
    if (quoted) string::append_char(out, '"');
    return part - span - 1;
}

// delete, query and rename answer false or none for a name no file can have.
Cell* delete_(Cell* value) {
    const std::optional<std::string> path = local_path(*value);
    logic::make_at(*value, path && file_io::remove(path->c_str(), file_io::dir_q(path->c_str())));
    return value;
}

// query: the last modification time as a UTC date! to the millisecond, or none.
Cell* query(Cell* value) {
    const std::optional<std::string> path = local_path(*value);
    const std::optional<std::timespec> when =
        path ? file_io::modified_time(path->c_str()) : std::nullopt;
    std::tm utc{};
    if (!when || ::gmtime_r(&when->tv_sec, &utc) == nullptr) {
        none::make_at(*value);
        return value;
    }
    date::make_at_from_parts(*value, utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                             utc.tm_min, std::min(utc.tm_sec, 59),
                             static_cast<std::int32_t>(when->tv_nsec / 1000000) * 1000000);
    return value;
}

Cell* read(Cell* source, const ReadRefinements& how) {
    if (how.as != nullptr || (how.binary && how.lines)) not_done();  // codecs come later
    const std::int32_t limit = int_arg(how.part);
    const std::int32_t offset = int_arg(how.seek);
    const Cell file = *source;
    const std::string path = to_local_path(*source);
    Cell result{};
    const bool ok = file_io::dir_q(path.c_str())
                        ? file_io::read_dir(path.c_str(), result)
                        : how.binary ? file_io::read_file_binary(path.c_str(), limit, offset, result)
                                     : file_io::read_file(path.c_str(), limit, offset, how.lines, result);
    if (!ok) cannot_open(file);
    *source = result;
    return source;
}

Cell* rename(Cell* value, Cell* new_name) {
    if (!new_name->is(TypeId::file)) runtime::raise_error(ErrorCategory::script, "invalid-arg", new_name);
    const std::optional<std::string> from = local_path(*value);
    const std::optional<std::string> to = local_path(*new_name);
    logic::make_at(*value, from && to && file_io::rename_file(from->c_str(), to->c_str()));
    return value;
}

Cell* write(Cell* destination, Cell* data, const WriteRefinements& how) {
    if (how.allow != nullptr || how.as != nullptr) not_done();
    if (how.part != nullptr && !how.part->is(TypeId::integer))
        runtime::raise_error(ErrorCategory::script, "invalid-arg", how.part);
    const std::int32_t limit = how.part != nullptr ? how.part->int_value() : -1;
    const std::int32_t offset = int_arg(how.seek);
    const Cell file = *destination;
    const std::string path = to_local_path(*destination);
    if (limit < 0 && how.part != nullptr) {  // a negative part writes nothing
        unset::make_at(*destination);
        return destination;
    }
    std::string bytes;
    const Cell value = *data;
    if (how.lines && value.is(TypeId::block)) {
        const std::int32_t count = block::count_from_head(value);
        for (std::int32_t i = 0; i < count; ++i) {
            append_value_utf8(*block::get_cell(value, value.series_head() + i), -1, bytes);
            bytes += '\n';
        }
    } else {
        append_value_utf8(value, limit, bytes);
        if (how.lines) bytes += '\n';
    }
    const std::int64_t written =
        file_io::write_file(path.c_str(), reinterpret_cast<const std::uint8_t*>(bytes.data()),
                            static_cast<std::int64_t>(bytes.size()), offset, how.append);
    if (written == -1) cannot_open(file);
    if (written < 0) runtime::raise_error(ErrorCategory::access, "cannot-write", &file);
    unset::make_at(*destination);
    return destination;
}

// --- Registration -----------------------------------------------------------------------

namespace {

constexpr registry::Registration registration{TypeId::file, registry::table({
        {Action::mold,      mold},
        {Action::delete_,   delete_},
        {Action::open,      registry::refuse},
        {Action::query,     query},
        {Action::read,      read},
        {Action::rename,    rename},
        {Action::write,     write},  // ORDER ACTIONS
    })};

}  // namespace

void init() { registry::register_type(registration); }

}  // namespace kiv::file
