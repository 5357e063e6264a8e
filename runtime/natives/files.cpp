// dehex, enhex and to-local-file build a new string! from a text; exists? and
// create-dir are library routines over file_io. Each checks its argument
// itself, since native callers may pass anything.
#include "runtime/evaluator/natives.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/url.h"
#include "runtime/evaluator/stack.h"
#include "runtime/io/file_io.h"
#include "runtime/core/raise.h"

#include <optional>
#include <string>

namespace kiv::natives {

namespace {

// The text argument of a native, checked.
Cell& text_arg(Cell& arg) {
    if (!is_any_string_type(arg.type())) runtime::raise_error(ErrorCategory::script, "invalid-arg", &arg);
    return arg;
}

// Runs fill on a new string! and leaves it as the native's result.
template <typename Fill>
void result_text(std::int32_t room, Fill fill) {
    Cell text{};
    string::make_at(text, room);
    collector::Root hold(text);
    fill(hold.cell().series_node());
    *stack::arg(0) = hold.cell();
    stack::keep_first();
}

void dehex(bool, const std::int32_t*) {
    Cell& value = text_arg(*stack::arg(0));
    result_text(string::length_from_head(value), [&](NodeId out) { url::decode_into(value, out); });
}

void enhex(bool, const std::int32_t*) {
    Cell& value = text_arg(*stack::arg(0));
    const url::Encoding mode = value.is(TypeId::string) ? url::Encoding::unreserved : url::Encoding::url;
    result_text(string::length_from_head(value), [&](NodeId out) { url::encode_into(value, out, mode); });
}

void to_local_file(bool, const std::int32_t* refinements) {
    Cell& value = text_arg(*stack::arg(0));
    const bool full = used(refinements, refine::to_local_file::full);
    result_text(string::length_from_head(value),
                [&](NodeId out) { file::to_local_path_into(value, out, full); });
}

// size? file: the bytes of a file's content; none for a directory path, a
// file that cannot be opened (or named), or one whose size cannot be read.
void size_q(bool, const std::int32_t*) {
    Cell& file = *stack::arg(0);
    if (!file.is(TypeId::file)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &file);
    const std::optional<std::string> path = file::local_path(file);
    const std::int64_t size =
        !path || file_io::dir_q(path->c_str()) ? -1 : file_io::content_size(path->c_str());
    if (size < 0) {
        none::make_at(file);
    } else if (size > 2147483647) {
        float_::make_at(file, static_cast<double>(size));
    } else {
        file.reset(TypeId::integer);
        file.set_int(static_cast<std::int32_t>(size));
    }
}

// The routines' path argument: a file!, as a local path.
std::string routine_path(Cell& arg) {
    if (!arg.is(TypeId::file)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &arg);
    return file::to_local_path(arg);
}

void exists_q(Cell* args) {
    if (!args[0].is(TypeId::file)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &args[0]);
    const std::optional<std::string> path = file::local_path(args[0]);
    logic::make_at(args[0], path && file_io::exists_q(path->c_str()));
}

void create_dir(Cell* args) {
    const std::string path = routine_path(args[0]);
    if (!file_io::create_directory(path.c_str()))
        runtime::raise_error(ErrorCategory::access, "no-create", &args[0]);
}

}  // namespace

void register_files() {
    set(Native::dehex, dehex);
    set(Native::enhex, enhex);
    set(Native::to_local_file, to_local_file);
    set(Native::size_q, size_q);
    routine::add("exists?", exists_q);
    routine::add("create-dir", create_dir);
}

}  // namespace kiv::natives
