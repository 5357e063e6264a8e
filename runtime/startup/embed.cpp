// The embedding interface over the runtime's modules. A handle is a slot in
// a table of held values that the collector marks; each call here is a thin,
// checked path into the module that owns the work: start-up boots, boot's
// barrier evaluates, the actions form and mold, the system object holds the
// fields.
#include "runtime/startup/embed.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/unset.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/callback.h"
#include "runtime/core/memory.h"
#include "runtime/core/output_hooks.h"
#include "runtime/os/platform.h"
#include "runtime/startup/boot.h"
#include "runtime/startup/startup.h"
#include "runtime/text/unicode.h"

#include <deque>
#include <vector>

namespace kiv::embed {

namespace {

// The held values: slot n is held[n - 1]; freed slots are reused. Never
// destroyed, so that a handle in static storage may outlive everything else.
struct Held {
    std::vector<Cell> cells;
    std::vector<std::uint32_t> free;
};
Held& held() {
    static Held* table = new Held;
    return *table;
}

void mark_held() {
    const std::vector<Cell>& cells = held().cells;
    collector::mark_cells(cells.data(), cells.data() + cells.size());
}

// Every printed text goes to standard output.
void standard_output_hook(const Cell* text, bool new_line) {
    Cell value = *text;
    const std::uint8_t* head = string::head_pointer(value);
    const std::uint8_t* tail = string::tail_pointer(value);
    const std::uint32_t unit = memory::buffer(value.series_node())->unit();
    platform::write_text(head, static_cast<std::size_t>(tail - head), static_cast<int>(unit), new_line);
}

// A new string! of UTF-8 text: each byte that starts no character becomes
// U+FFFD.
Cell text_cell(std::string_view utf8) {
    Cell value;
    string::make_at(value, static_cast<std::int32_t>(utf8.size()));
    const auto* p = reinterpret_cast<const std::uint8_t*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        std::int32_t cp = 0;
        const std::uint8_t* next = unicode::decode_utf8_char(p, end, &cp);
        if (cp < 0) next = p + 1;
        string::append_char(value.series_node(), cp < 0 ? 0xFFFD : static_cast<std::uint32_t>(cp));
        p = next;
    }
    return value;
}

bool is_truthy(const Cell& value) {
    return !value.is(TypeId::none) && !value.is(TypeId::unset) && !(value.is(TypeId::logic) && value.logic_value() == 0);
}

std::deque<Routine>& routines() {
    static std::deque<Routine> table;  // the routine table keeps pointers to them
    return table;
}

}  // namespace

// The bridge between handles and cells.
class Access {
public:
    static Value hold(const Cell& cell) {
        static const bool marked = (collector::add_mark_callback(mark_held), true);
        (void)marked;
        Held& table = held();
        Value value;
        if (table.free.empty()) {
            table.cells.push_back(cell);
            value.slot_ = static_cast<std::uint32_t>(table.cells.size());
        } else {
            value.slot_ = table.free.back();
            table.free.pop_back();
            table.cells[value.slot_ - 1] = cell;
        }
        return value;
    }
    static Cell cell(const Value& value) {
        return value.slot_ == 0 ? none::value : held().cells[value.slot_ - 1];
    }
    static void release(Value& value) {
        if (value.slot_ == 0) return;
        Held& table = held();
        table.cells[value.slot_ - 1] = none::value;
        table.free.push_back(value.slot_);
        value.slot_ = 0;
    }
    static void call(Cell* args, const void* data) {
        const Args given(args);
        args[0] = cell((*static_cast<const Routine*>(data))(given));
    }
    static Cell* cells(const Args& args) { return static_cast<Cell*>(args.cells_); }
};

// --- Values -------------------------------------------------------------------

Value::Value(const Value& other) : slot_(0) {
    if (other.slot_ != 0) *this = Access::hold(Access::cell(other));
}

Value::~Value() { Access::release(*this); }

Value text(std::string_view utf8) { return Access::hold(text_cell(utf8)); }

Value logic(bool value) {
    Cell cell;
    logic::make_at(cell, value);
    return Access::hold(cell);
}

Value pair(std::int32_t x, std::int32_t y) {
    Cell cell;
    cell.reset(TypeId::pair);
    cell.set_pair(x, y);
    return Access::hold(cell);
}

Value unset() {
    Cell cell;
    unset::make_at(cell);
    return Access::hold(cell);
}

std::string form(const Value& value) { return boot::formed(Access::cell(value)); }

std::string mold(const Value& value, bool all) {
    Cell out;
    string::make_at(out, 64);
    collector::Root keep(out);
    Cell v = Access::cell(value);
    actions::mold_to(&v, out.series_node(), {.all = all}, -1);
    return string::utf8_of(out);
}

bool truthy(const Value& value) { return is_truthy(Access::cell(value)); }

std::string error_report(const Value& error) {
    const Cell cell = Access::cell(error);
    return cell.is(TypeId::error) ? boot::report(cell) : std::string();
}

// --- Loading and evaluating ------------------------------------------------------

Result load(std::string_view utf8) {
    Cell value;
    Cell error;
    if (!callback::guarded([&] { boot::load_text(value, utf8); }, error)) return {false, Access::hold(error)};
    return {true, Access::hold(value)};
}

Result eval(const Value& code) {
    Cell value;
    const bool ok = boot::try_eval(Access::cell(code), value);
    return {ok, Access::hold(value)};
}

Result eval_text(std::string_view utf8) {
    const Result loaded = load(utf8);
    return loaded.ok ? eval(loaded.value) : loaded;
}

// --- The system object ---------------------------------------------------------

Value field(std::string_view path) {
    const Cell* value = system_object::get() == nullptr ? nullptr : system_object::field(path);
    return value == nullptr ? Value() : Access::hold(*value);
}

bool set_field(std::string_view path, const Value& value) {
    return system_object::get() != nullptr && system_object::set_field(path, Access::cell(value));
}

// --- Output -------------------------------------------------------------------

void print_to_standard_output() { output_hooks::register_(standard_output_hook, nullptr); }

void stop_printing_to_standard_output() { output_hooks::unregister(standard_output_hook, nullptr); }

void print(std::string_view utf8, bool new_line) {
    const Cell value = text_cell(utf8);
    collector::Root keep(value);
    output_hooks::call_print_hooks(&keep.cell(), new_line);
}

void flush_output() { platform::flush(); }

// --- Routines -----------------------------------------------------------------

std::string Args::text(int index) const { return boot::formed(Access::cells(*this)[index]); }

bool Args::flag(int index) const { return is_truthy(Access::cells(*this)[index]); }

void add_routine(const char* name, Routine routine) {
    routines().push_back(routine);
    routine::add_host(name, Access::call, &routines().back());
}

// --- Starting -------------------------------------------------------------------

int run_program(int argc, char** argv, const Host& host) { return runtime::main(argc, argv, host); }

void set_launch(std::string_view path) { runtime::set_launch_path(path); }

void boot(const BootOptions& options) { runtime::boot(options.library); }

void shutdown() {
    held().cells.clear();
    held().free.clear();
    runtime::shutdown();
}

}  // namespace kiv::embed
