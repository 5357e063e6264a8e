// The GUI console's routines: its output hooks, which hand every printed
// text to the terminal's vprint and, while a script runs, have the console
// repainted now and then; and the caret blink time of the desktop.
#include "gui/backend/console_routines.h"

#include "gui/backend/toolkit.h"
#include "gui/backend/widgets.h"
#include "runtime/core/collector.h"
#include "runtime/core/output_hooks.h"
#include "runtime/core/raise.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/callback.h"
#include "runtime/evaluator/stack.h"
#include "runtime/evaluator/tracing.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/startup/embed.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace kiv::console_routines {

namespace {

// The root block's cell that holds the output hook's string (unset until the
// first low-level output); -1 until add-gui-print made it.
std::int32_t buffer_index = -1;
// Set while the terminal handles a printed text: what its own code prints
// then (the recording toolkit's lines) is not fed back to it.
bool printing = false;

Cell word_named(const char* name) {
    Cell word{};
    word::make_at(symbol::make(name), word);
    return word;
}

// A field of the console context (none when there is no console), or of
// its terminal with in_terminal.
Cell console_field(const char* name, bool in_terminal) {
    Cell ctx{};
    word::get_value(word_named("gui-console-ctx"), ctx);
    if (!ctx.is(TypeId::object)) return none::value;
    if (!in_terminal) return *object::get_word_field(ctx, word_named(name));
    const Cell terminal = *object::get_word_field(ctx, word_named("terminal"));
    if (!terminal.is(TypeId::object)) return none::value;
    return *object::get_word_field(terminal, word_named(name));
}

// The terminal's vprint, looked up at every print: the console's code may
// replace it. None when the console has no terminal.
Cell find_vprint() { return console_field("vprint", true); }

// While a script runs, the loop that paints is not running: what it prints
// is drawn from here, this long after the last time at the soonest, and
// four times as long as that took (a slow display costs the script at most
// a fifth of its time).
constexpr std::chrono::milliseconds show_every{50};
std::chrono::steady_clock::time_point next_show{};

// Has the console show its output now when the last time is long enough ago:
// the terminal asks for its repaint (show-output) and the toolkit does it at
// once, for the console's window only. Nothing else of the toolkit's loop
// runs here: a key or click would run the console's or a script's actors
// inside the script that prints, and a paint is all that is wanted.
void show_output_if_due() {
    if (toolkit::recording()) return;
    const auto start = std::chrono::steady_clock::now();
    if (start < next_show) return;
    next_show = start + show_every;  // also when the terminal or the toolkit fails below
    // a console face without a widget (none made yet, or a script's own
    // terminal in text mode) has nothing to show, and starts no toolkit
    Cell console = console_field("console", false);
    if (!console.is(TypeId::object) || widgets::of_face(console) == 0 || toolkit::get() == nullptr) return;
    const Cell show = console_field("show-output", true);
    if (!show.is(TypeId::function)) return;
    const collector::Root keep(show);
    callback::call(show, nullptr, 0, word_named("show-output"));
    console = console_field("console", false);  // the face again: show-output may have changed anything
    const std::int32_t widget = console.is(TypeId::object) ? widgets::of_face(console) : 0;
    using PaintNow = void (*)(std::int32_t);
    static auto* paint_now = reinterpret_cast<PaintNow>(toolkit::module_symbol("kiv_console_paint_now"));
    if (widget != 0 && paint_now != nullptr) paint_now(widget);
    const auto end = std::chrono::steady_clock::now();
    next_show = end + std::max<std::chrono::steady_clock::duration>(show_every, 4 * (end - start));
}

// The print hook: print and prin hand their text here.
void print_hook(const Cell* text, bool new_line) {
    if (printing) return;
    // printing deep in a recursion fails here, before the terminal's code runs
    if (!stack::room_for(60, stack::last_value() + 80)) runtime::raise_error(ErrorCategory::internal, "stack-overflow");
    const Cell vprint = find_vprint();
    if (!vprint.is(TypeId::function)) return;
    const collector::Root keep_fn(vprint);
    Cell args[2];
    args[0] = *text;
    logic::make_at(args[1], new_line);
    const collector::Root keep_text(args[0]);
    const tracing::Scope quiet(false);  // the tracer does not trace the console's own output
    printing = true;
    struct Reset {
        ~Reset() { printing = false; }
    } reset;
    callback::call(vprint, args, 2, word_named("vprint"));
    show_output_if_due();
}

// The low-level output hook: the platform writer's text, decoded into the
// one string the hook keeps, then printed as print does.
void output_hook(const char* text, std::int32_t length, int) {
    if (printing || buffer_index < 0 || text == nullptr) return;
    if (length < 0) length = static_cast<std::int32_t>(std::strlen(text));
    Cell* slot = block::get_cell(block::root(), buffer_index);
    if (slot == nullptr) return;
    if (slot->is(TypeId::string)) {
        Cell buffer = *slot;
        string::reset(buffer);
        string::append_utf8(buffer.series_node(), text, length);
    } else {
        Cell buffer{};
        string::make_at(buffer, length);
        const collector::Root keep(buffer);
        string::append_utf8(buffer.series_node(), text, length);
        slot = block::get_cell(block::root(), buffer_index);  // the root block may have moved
        *slot = keep.cell();
    }
    const Cell buffer = *block::get_cell(block::root(), buffer_index);
    const collector::Root keep(buffer);
    print_hook(&keep.cell(), true);
}

// add-gui-print: the hooks, once; the buffer's cell at the root block's tail.
// In the GUI console proper (system/console/gui? set by the start-up) the
// window takes the place of standard output; a script run with --cli keeps
// both.
void add_gui_print(Cell* args) {
    if (buffer_index < 0) {
        buffer_index = block::length_of(block::root());
        block::append_copy(block::root(), unset::value);
        output_hooks::register_(print_hook, output_hook);
        const Cell* gui = system_object::field("console/gui?");
        if (gui != nullptr && gui->is(TypeId::logic) && gui->logic_value() != 0) embed::stop_printing_to_standard_output();
    }
    unset::make_at(args[0]);
}

// get-caret-blink-time: the time between two flips of the caret in
// milliseconds; negative when the desktop does not blink it.
void get_caret_blink_time(Cell* args) {
    std::int32_t ms = 600;  // GTK's default cycle of 1200 ms, half of it per flip
    if (!toolkit::recording()) {
        using BlinkTime = std::int32_t (*)();
        if (auto* fn = reinterpret_cast<BlinkTime>(toolkit::module_symbol("kiv_caret_blink_time"))) ms = fn();
    }
    integer::make_at(args[0], ms);
}

}  // namespace

void add_all() {
    routine::add("add-gui-print", add_gui_print);
    routine::add("get-caret-blink-time", get_caret_blink_time);
}

}  // namespace kiv::console_routines
