// The text-mode host. It follows the console engine's rules for what is
// printed (errors as reports, results after the result prefix, nothing for
// unset!) and differs in one point: a script whose error escapes, or that
// cannot run at all, ends the program with status 1 rather than 0.
#include "console/host.h"

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/stack.h"
#include "runtime/output_hooks.h"
#include "runtime/platform.h"
#include "runtime/runtime_error.h"
#include "runtime/startup/boot.h"
#include "runtime/unicode.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kiv::host {

namespace {

constexpr std::uint32_t escape_char = 27;  // the terminal appends it when the user presses Escape

// Every printed text goes to standard output.
void print_hook(const Cell* text, bool new_line) {
    Cell value = *text;
    const std::uint8_t* head = string::head_pointer(value);
    const std::uint8_t* tail = string::tail_pointer(value);
    const std::uint32_t unit = memory::buffer(value.series_node())->unit();
    platform::write_text(head, static_cast<std::size_t>(tail - head), static_cast<int>(unit), new_line);
}

Cell make_text(std::string_view utf8) {
    Cell text;
    text.reset(TypeId::string);
    text.set_series_node(unicode::utf8_to_string(reinterpret_cast<const std::uint8_t*>(utf8.data()),
                                                 static_cast<std::int32_t>(utf8.size())));
    return text;
}

// Prints UTF-8 text through the print hooks, as print and prin do.
void print_text(std::string_view utf8, bool new_line) {
    const Cell text = make_text(utf8);
    output_hooks::call_print_hooks(&text, new_line);
}

// The UTF-8 of a string value, whole.
std::string utf8_of(const Cell& text) {
    Cell value = text;
    std::int32_t length = -1;
    const std::uint8_t* bytes = unicode::to_utf8(value, &length);
    return {reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length)};
}

// An error's report, as print shows it. The error was caught just now, so
// its saved frame position still names the calls it left.
void print_error(const Cell& error, bool extra_line) {
    Cell e = error;
    collector::Root keep(e);
    error::fill_stack_trace(keep.cell());
    Cell text;
    string::make_at(text, 64);
    collector::Root keep_text(text);
    actions::form_to(&keep.cell(), text.series_node(), -1);
    std::string report = utf8_of(text);
    if (extra_line) report += " \n";  // print [error lf]
    print_text(report, true);
}

// Loads text under a barrier: true with the block in out, false with the
// syntax error in out.
bool load_guarded(std::string_view text, Cell& out) {
    Cell error;
    if (boot::guarded([&] { boot::load_text(out, text); }, error)) return true;
    out = error;
    return false;
}

// A string field of system/console, or the fallback.
std::string console_text(const char* field, const char* fallback) {
    const Cell* value = system_object::field(field);
    if (value != nullptr && value->is(TypeId::string)) return utf8_of(*value);
    return fallback;
}

// Width of the console in characters: the terminal's, else COLUMNS, else 80.
std::int32_t console_width() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS")) {
        const long n = std::strtol(columns, nullptr, 10);
        if (n > 0 && n < 100000) return static_cast<std::int32_t>(n);
    }
    return 80;
}

// Prints a command's result: floats formed, other values molded, cut to the
// console's width with "..." and put after the result prefix.
void print_result(const Cell& result) {
    const std::int32_t limit = console_width() - 3;
    Cell text;
    string::make_at(text, 64);
    Cell value = result;
    if (value.is(TypeId::float_)) actions::form_to(&value, text.series_node(), limit + 5);
    else actions::mold_to(&value, text.series_node(), false, false, false, limit + 5);
    std::string shown = utf8_of(text);
    const std::int32_t chars = unicode::count_utf8_chars(
        reinterpret_cast<const std::uint8_t*>(shown.data()),
        reinterpret_cast<const std::uint8_t*>(shown.data() + shown.size()));
    if (chars > limit) {
        const auto prompt = static_cast<std::int32_t>(console_text("console/prompt", ">> ").size());
        const std::int32_t keep = std::max(0, limit - prompt);
        const auto* start = reinterpret_cast<const std::uint8_t*>(shown.data());
        const auto* cut = unicode::skip_utf8_chars(start, start + shown.size(), keep);
        shown.resize(static_cast<std::size_t>(cut - start));
        shown += "...";
    }
    print_text(console_text("console/result", "==") + " " + shown, true);
}

// Loads and evaluates the gathered input and prints its outcome.
void do_command(std::string_view input) {
    Cell code;
    if (!load_guarded(input, code)) {
        print_error(code, false);
        return;
    }
    if (block::count_from_head(code) == 0) return;
    collector::Root keep(code);
    Cell result;
    if (!boot::try_eval(code, result)) {
        print_error(result, true);
        return;
    }
    if (result.is(TypeId::unset)) return;
    collector::Root keep_result(result);
    print_result(result);
}

// The raw text of the script's own arguments, each quoted when it holds blanks.
std::string joined_arguments(int from) {
    const runtime::ProcessRecord& record = runtime::process();
    std::string text;
    for (int i = from; i < record.argc; ++i) {
        const std::string_view arg = record.argv[i];
        if (!text.empty()) text += ' ';
        if (arg.find_first_of(" \t") != std::string_view::npos) text.append("\"").append(arg).append("\"");
        else text.append(arg);
    }
    return text;
}

// system/options/args (a block of the script's arguments), system/script/args
// (their raw text) and system/options/script.
void record_arguments(const runtime::CommandLine& command) {
    if (system_object::get() == nullptr) return;
    const runtime::ProcessRecord& record = runtime::process();
    if (command.script == 0) return;  // none, as the system object starts
    const int first = command.script + 1;
    Cell args;
    block::make_at(args, record.argc > first ? record.argc - first : 1);
    collector::Root keep(args);
    for (int i = first; i < record.argc; ++i) block::append_copy(args, make_text(record.argv[i]));
    system_object::set_field("options/args", args);
    system_object::set_field("script/args", make_text(joined_arguments(first)));
    system_object::set_field("options/script", make_text(record.argv[command.script]));
}

bool read_file(const char* path, std::string& text) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    const bool failed = std::ferror(file) != 0;
    const int saved = errno;
    std::fclose(file);
    errno = saved;
    return !failed;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::size_t find_header(std::string_view text) {
    for (std::size_t at = text.find("Kiv"); at != std::string_view::npos; at = text.find("Kiv", at + 1)) {
        std::size_t i = at + 3;
        if (text.substr(i, 7) == "/System") i += 7;
        while (i < text.size() && is_blank(text[i])) ++i;
        if (i < text.size() && text[i] == '[') return at;
    }
    return std::string_view::npos;
}

InputState check_delimiters(std::string_view input, char& open) {
    std::string stack;  // the open delimiters, innermost last
    for (std::size_t i = 0; i < input.size(); ++i) {
        const char c = input[i];
        if (!stack.empty() && stack.back() == '{') {  // inside a braced string
            if (c == '^') ++i;
            else if (c == '{') stack.push_back('{');
            else if (c == '}') stack.pop_back();
            continue;
        }
        switch (c) {
        case ';':
            while (i < input.size() && input[i] != '\n') ++i;
            break;
        case '"':
            for (++i; i < input.size() && input[i] != '"'; ++i) {
                if (input[i] == '\n') return InputState::broken;  // a quoted string ends on its line
                if (input[i] == '^') ++i;
            }
            if (i >= input.size()) return InputState::broken;
            break;
        case '[': case '(': case '{':
            stack.push_back(c);
            break;
        case ']': case ')':
            if (stack.empty() || stack.back() != (c == ']' ? '[' : '(')) return InputState::broken;
            stack.pop_back();
            break;
        case '}':
            return InputState::broken;  // no braced string is open here
        default:
            break;
        }
    }
    if (stack.empty()) return InputState::complete;
    open = stack.back();
    return InputState::unfinished;
}

int run_script(std::string_view text) {
    const std::size_t at = find_header(text);
    if (at == std::string_view::npos) {
        print_text("*** Error: Kiv header not found!", true);
        return 1;
    }
    Cell code;
    if (!load_guarded(text.substr(at), code)) {
        print_error(code, false);
        return 1;
    }
    collector::Root keep(code);
    const bool headed = block::count_from_head(code) >= 2 &&
                        block::get_cell(code, 0)->is(TypeId::word) &&
                        symbol::name(block::get_cell(code, 0)->word_symbol()) == "Kiv" &&
                        block::get_cell(code, 1)->is(TypeId::block);
    if (!headed) {
        const bool system_code = text.find("Kiv/System") != std::string_view::npos;
        print_text(system_code ? "*** Error: contains Kiv/System code which requires compilation!"
                               : "*** Error: not a Kiv program!",
                   true);
        return 1;
    }
    Cell body = code;
    body.set_series_head(code.series_head() + 2);
    collector::Root keep_body(body);
    Cell result;
    if (!boot::try_eval(body, result)) {
        print_error(result, false);
        return 1;
    }
    return 0;
}

int run_repl(bool banner) {
    if (banner) {
        const Cell* version = system_object::field("version");
        std::string v = "0.1.0";
        if (version != nullptr) {
            Cell text;
            string::make_at(text, 16);
            Cell value = *version;
            actions::form_to(&value, text.series_node(), -1);
            v = utf8_of(text);
        }
        print_text("--== Kiv " + v + " ==-- \nType HELP for starting information. \n", true);
    }
    std::string buffer;
    std::string cue;  // the continuation prompt while input is unfinished
    std::string line;
    for (;;) {
        const std::string prompt = cue.empty() ? console_text("console/prompt", ">> ") : cue;
        print_text(prompt, false);
        platform::flush();
        if (!std::getline(std::cin, line)) {
            print_text("", true);
            return 0;
        }
        if (cue.empty() && line.empty()) continue;  // nothing to evaluate at the top level
        if (!line.empty() && static_cast<unsigned char>(line.back()) == escape_char) {
            cue.clear();
            buffer.clear();
            print_text("(escape)", true);
            continue;
        }
        cue.clear();
        buffer += line;
        buffer += '\n';
        char open = 0;
        if (check_delimiters(buffer, open) == InputState::unfinished) {
            cue = std::string(1, open) + "    ";
            continue;
        }
        do_command(buffer);
        buffer.clear();
    }
}

int launch(const runtime::CommandLine& command) {
    output_hooks::register_(print_hook, nullptr);
    record_arguments(command);
    if (command.script == 0) return run_repl(true);
    const char* path = runtime::process().argv[command.script];
    std::string text;
    if (!read_file(path, text)) {
        std::fprintf(stderr, "kiv: cannot read script %s: %s\n", path, std::strerror(errno));
        return 1;  // nothing ran: a failure, not the console's start without a script
    }
    const int status = run_script(text);
    if (command.catch_) return run_repl(false);
    return status;
}

}  // namespace kiv::host
