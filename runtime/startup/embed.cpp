// The embedding interface over the runtime's modules. Each call here is a
// thin, checked path into the module that owns the work: start-up boots,
// boot's barrier evaluates, the actions form and mold, the system object
// holds the fields.
#include "runtime/startup/embed.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/callback.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/process.h"
#include "runtime/startup/boot.h"
#include "runtime/unicode.h"

namespace kiv::embed {

namespace {

// Every printed text goes to standard output.
void standard_output_hook(const Cell* text, bool new_line) {
    Cell value = *text;
    const std::uint8_t* head = string::head_pointer(value);
    const std::uint8_t* tail = string::tail_pointer(value);
    const std::uint32_t unit = memory::buffer(value.series_node())->unit();
    platform::write_text(head, static_cast<std::size_t>(tail - head), static_cast<int>(unit), new_line);
}

// A new, rooted string! to write into.
struct Scratch {
    Cell text{};
    Root keep;
    explicit Scratch(std::int32_t capacity) : keep(made(text, capacity)) {}
    static const Cell& made(Cell& text, std::int32_t capacity) {
        string::make_at(text, capacity);
        return text;
    }
};

}  // namespace

// --- Booting ------------------------------------------------------------------

void boot(const BootOptions& options) {
    runtime::init();
    if (!options.library) return;
    words::make_runtime_words();
    words::recording = false;
    boot::run_top_level();
    collector::set_enabled(true);
}

void shutdown() { runtime::shutdown(); }

int run_program(int argc, char** argv, Console console, std::span<const std::uint8_t> host_image) {
    runtime::console_hook = console;
    boot::set_host_image(host_image);
    return runtime::main(argc, argv);
}

void add_routine(const char* name, RoutineCode code) { routine::add(name, code); }

int argument_count() { return runtime::process().argc; }

bool read_file(const char* path, std::string& text) { return runtime::read_script(path, text); }

const char* argument(int index) {
    const runtime::ProcessRecord& record = runtime::process();
    return index >= 0 && index < record.argc ? record.argv[index] : nullptr;
}

// --- Loading and evaluating ------------------------------------------------------

Result load(std::string_view utf8) {
    Result result;
    Cell error;
    result.ok = callback::guarded([&] { boot::load_text(result.value, utf8); }, error);
    if (!result.ok) result.value = error;
    return result;
}

Result eval(const Cell& code) {
    Result result;
    result.ok = boot::try_eval(code, result.value);
    return result;
}

Result eval_text(std::string_view utf8) {
    const Result loaded = load(utf8);
    if (!loaded.ok) return loaded;
    Root keep(loaded.value);
    return eval(loaded.value);
}

// --- Values as text ------------------------------------------------------------------

std::string form(const Cell& value, std::int32_t limit) {
    Scratch out(64);
    Cell v = value;
    actions::form_to(&v, out.text.series_node(), limit);
    return to_utf8(out.text);
}

std::string mold(const Cell& value, const MoldOptions& options) {
    Scratch out(64);
    Cell v = value;
    actions::mold_to(&v, out.text.series_node(),
                     {.only = options.only, .all = options.all, .flat = options.flat}, options.limit);
    return to_utf8(out.text);
}

std::string to_utf8(const Cell& text) {
    Cell value = text;
    std::int32_t length = -1;
    const std::uint8_t* bytes = unicode::to_utf8(value, &length);
    return {reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length)};
}

Cell text(std::string_view utf8) {
    Cell value;
    value.reset(TypeId::string);
    value.set_series_node(unicode::utf8_to_string(reinterpret_cast<const std::uint8_t*>(utf8.data()),
                                                  static_cast<std::int32_t>(utf8.size())));
    return value;
}

Cell logic(bool value) {
    Cell cell;
    logic::make_at(cell, value);
    return cell;
}

std::string error_report(const Cell& error) {
    Root keep(error);
    error::fill_stack_trace(keep.cell());
    return form(keep.cell());
}

// --- Series ----------------------------------------------------------------------

std::int32_t length(const Cell& series) { return block::count_from_head(series); }

Cell pick(const Cell& block, std::int32_t index) {
    if (index < 0 || index >= block::count_from_head(block)) return none::value;
    return *block::get_cell(block, index);
}

Cell skip(const Cell& series, std::int32_t count) {
    Cell moved = series;
    moved.set_series_head(series.series_head() + count);
    return moved;
}

Cell make_block(std::int32_t capacity) {
    Cell value;
    block::make_at(value, capacity);
    return value;
}

void append(const Cell& block, const Cell& value) { block::append_copy(block, value); }

std::string word_name(const Cell& word) {
    if (!word::is_any_word(word.type())) return {};
    return std::string(symbol::name(word.word_symbol()));
}

// --- The system object ---------------------------------------------------------

const Cell* field(std::string_view path) {
    return system_object::get() == nullptr ? nullptr : system_object::field(path);
}

std::string field_text(std::string_view path, std::string_view fallback) {
    const Cell* value = field(path);
    if (value != nullptr && value->is(TypeId::string)) return to_utf8(*value);
    return std::string(fallback);
}

bool set_field(std::string_view path, const Cell& value) {
    return system_object::get() != nullptr && system_object::set_field(path, value);
}

// --- Output -------------------------------------------------------------------

void add_print_hook(PrintHook hook) { output_hooks::register_(hook, nullptr); }
void remove_print_hook(PrintHook hook) { output_hooks::unregister(hook, nullptr); }
void print_to_standard_output() { add_print_hook(standard_output_hook); }

void print(std::string_view utf8, bool new_line) {
    const Cell value = text(utf8);
    output_hooks::call_print_hooks(&value, new_line);
}

void flush_output() { platform::flush(); }

}  // namespace kiv::embed
