// The text-mode host. It follows the console engine's rules for what is
// printed (errors as reports, results after the result prefix, nothing for
// unset!) and differs in one point: a script whose error escapes, or that
// cannot run at all, ends the program with status 1 rather than 0.
#include "console/host.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kiv::host {

namespace {

constexpr std::uint32_t escape_char = 27;  // the terminal appends it when the user presses Escape

// Prints UTF-8 text through the print hooks, as print and prin do.
void print_text(std::string_view utf8, bool new_line) { embed::print(utf8, new_line); }

// An error's report, as print shows it. The error was caught just now, so
// its saved frame position still names the calls it left.
void print_error(const Cell& error, bool extra_line) {
    std::string report = embed::error_report(error);
    if (extra_line) report += " \n";  // print [error lf]
    print_text(report, true);
}

// A string field of system/console, or the fallback.
std::string console_text(const char* field, const char* fallback) { return embed::field_text(field, fallback); }

// Number of characters in UTF-8 text.
std::int32_t count_chars(std::string_view utf8) {
    std::int32_t n = 0;
    for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}
// Byte length of the first count characters of UTF-8 text.
std::size_t chars_to_bytes(std::string_view utf8, std::int32_t count) {
    std::size_t at = 0;
    for (; at < utf8.size(); ++at)
        if ((static_cast<unsigned char>(utf8[at]) & 0xC0) != 0x80 && count-- == 0) break;
    return at;
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
    std::string shown = result.is(TypeId::float_) ? embed::form(result, limit + 5)
                                                  : embed::mold(result, {.limit = limit + 5});
    if (count_chars(shown) > limit) {
        const auto prompt = static_cast<std::int32_t>(console_text("console/prompt", ">> ").size());
        shown.resize(chars_to_bytes(shown, std::max(0, limit - prompt)));
        shown += "...";
    }
    print_text(console_text("console/result", "==") + " " + shown, true);
}

// Loads and evaluates the gathered input and prints its outcome.
void do_command(std::string_view input) {
    const embed::Result code = embed::load(input);
    if (!code.ok) {
        print_error(code.value, false);
        return;
    }
    if (embed::length(code.value) == 0) return;
    embed::Root keep(code.value);
    const embed::Result result = embed::eval(code.value);
    if (!result.ok) {
        print_error(result.value, true);
        return;
    }
    if (result.value.is(TypeId::unset)) return;
    embed::Root keep_result(result.value);
    print_result(result.value);
}

// The raw text of the script's own arguments, each quoted when it holds blanks.
std::string joined_arguments(int from) {
    std::string text;
    for (int i = from; i < embed::argument_count(); ++i) {
        const std::string_view arg = embed::argument(i);
        if (!text.empty()) text += ' ';
        if (arg.find_first_of(" \t") != std::string_view::npos) text.append("\"").append(arg).append("\"");
        else text.append(arg);
    }
    return text;
}

// system/options/args (a block of the script's arguments), system/script/args
// (their raw text) and system/options/script.
void record_arguments(const embed::CommandLine& command) {
    if (embed::field("options") == nullptr) return;  // no system object to record them in
    if (command.script == 0) return;  // none, as the system object starts
    const int first = command.script + 1;
    const int count = embed::argument_count();
    const Cell args = embed::make_block(count > first ? count - first : 1);
    embed::Root keep(args);
    for (int i = first; i < count; ++i) embed::append(args, embed::text(embed::argument(i)));
    embed::set_field("options/args", args);
    embed::set_field("script/args", embed::text(joined_arguments(first)));
    embed::set_field("options/script", embed::text(embed::argument(command.script)));
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// --- Text-mode services ---------------------------------------------------------

// Length of the UTF-8 sequence that starts text at i, or 0 when the bytes
// there do not form one (a stray continuation byte, a cut or overlong
// sequence, a surrogate, a code point past U+10FFFF).
std::size_t utf8_sequence(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (lead >= 0xC2 && lead < 0xE0) n = 2, cp = lead & 0x1F;
    else if (lead >= 0xE0 && lead < 0xF0) n = 3, cp = lead & 0x0F;
    else if (lead >= 0xF0 && lead < 0xF5) n = 4, cp = lead & 0x07;
    else return 0;
    if (i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return n;
}

// The line as valid UTF-8: each byte that starts no character becomes U+FFFD.
std::string valid_utf8(std::string_view line) {
    std::string text;
    text.reserve(line.size());
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t n = utf8_sequence(line, i);
        if (n == 0) {
            text += "\xEF\xBF\xBD";
            ++i;
        } else {
            text.append(line.substr(i, n));
            i += n;
        }
    }
    return text;
}

// Switches the terminal's echo off while in scope (hidden input); nothing
// when standard input is not a terminal.
class EchoOff {
public:
    explicit EchoOff(bool hide) {
        if (!hide || ::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (!active_) return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
        print_text("", true);  // the Enter that ended the line was not echoed either
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios saved_{};
    bool active_ = false;
};

bool input_ended = false;  // standard input has given its end once

// read-console-line prompt hide?: prints the prompt, reads one line (without
// its line end). None at the end of the input; false when asked again after it.
void read_console_line(Cell* args) {
    print_text(embed::to_utf8(args[0]), false);
    embed::flush_output();
    const bool hide = args[1].is(TypeId::logic) && args[1].logic_value() != 0;
    std::string line;
    bool got = false;
    {
        const EchoOff quiet(hide);
        got = static_cast<bool>(std::getline(std::cin, line));
    }
    if (!got) {
        if (input_ended) args[0] = embed::logic(false);
        else args[0].reset(TypeId::none);
        input_ended = true;
        return;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    args[0] = embed::text(valid_utf8(line));
}

// console-title text: the title of the terminal window, when standard
// output is a terminal.
void console_title(Cell* args) {
    if (::isatty(STDOUT_FILENO) == 1) {
        const std::string title = embed::to_utf8(args[0]);
        embed::flush_output();
        std::fprintf(stdout, "\033]0;%s\007", title.c_str());
        std::fflush(stdout);
    }
    args[0].reset(TypeId::unset);
}

}  // namespace

void add_routines() {
    embed::add_routine("read-console-line", read_console_line);
    embed::add_routine("console-title", console_title);
}

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

// The script's bytes as UTF-8 text. A UTF-16 script (little- or big-endian)
// is known by its byte-order mark and re-encoded; a UTF-8 mark is dropped.
// Units that do not form a character (a lone surrogate, a last odd byte)
// become U+FFFD, so that the lexer reports what follows as it would.
std::string script_text(const std::string& bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) return bytes.substr(3);
    if (bytes.size() < 2) return bytes;
    const bool little = byte(0) == 0xFF && byte(1) == 0xFE;
    const bool big = byte(0) == 0xFE && byte(1) == 0xFF;
    if (!little && !big) return bytes;
    const auto unit = [&](std::size_t i) -> std::uint32_t {
        return little ? byte(i) | byte(i + 1) << 8 : byte(i) << 8 | byte(i + 1);
    };
    std::string text;
    text.reserve(bytes.size());
    const auto put = [&](std::uint32_t cp) {
        if (cp < 0x80) {
            text += static_cast<char>(cp);
        } else if (cp < 0x800) {
            text += static_cast<char>(0xC0 | cp >> 6);
            text += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            text += static_cast<char>(0xE0 | cp >> 12);
            text += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | cp >> 18);
            text += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    constexpr std::uint32_t replacement = 0xFFFD;
    std::size_t i = 2;
    for (; i + 1 < bytes.size(); i += 2) {
        const std::uint32_t u = unit(i);
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                put(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        put(u >= 0xD800 && u < 0xE000 ? replacement : u);
    }
    if (i < bytes.size()) put(replacement);
    return text;
}

int run_script(std::string_view text) {
    const std::size_t at = find_header(text);
    if (at == std::string_view::npos) {
        print_text("*** Error: Kiv header not found!", true);
        return 1;
    }
    const embed::Result loaded = embed::load(text.substr(at));
    if (!loaded.ok) {
        print_error(loaded.value, false);
        return 1;
    }
    const Cell& code = loaded.value;
    embed::Root keep(code);
    const bool headed = embed::length(code) >= 2 && embed::pick(code, 0).is(TypeId::word) &&
                        embed::word_name(embed::pick(code, 0)) == "Kiv" &&
                        embed::pick(code, 1).is(TypeId::block);
    if (!headed) {
        const bool system_code = text.find("Kiv/System") != std::string_view::npos;
        print_text(system_code ? "*** Error: contains Kiv/System code which requires compilation!"
                               : "*** Error: not a Kiv program!",
                   true);
        return 1;
    }
    // The preprocessor rewrites the script (header included) in place; its
    // errors print their report and halt, thrown to the console's name.
    const embed::Result call = embed::load("catch/name [expand-directives quote] 'console");
    if (!call.ok) {
        print_error(call.value, false);
        return 1;
    }
    embed::Root keep_call(call.value);
    embed::append(embed::pick(call.value, 1), code);
    const embed::Result expanded = embed::eval(call.value);
    if (!expanded.ok) {
        print_error(expanded.value, false);
        return 1;
    }
    if (expanded.value.is(TypeId::word) && embed::word_name(expanded.value) == "halt-request") {
        print_text("(halted)", true);
        return 1;
    }
    const Cell body = embed::skip(code, 2);
    embed::Root keep_body(body);
    const embed::Result result = embed::eval(body);
    if (!result.ok) {
        print_error(result.value, false);
        return 1;
    }
    return 0;
}

int run_repl(bool banner) {
    if (banner) {
        const Cell* version = embed::field("version");
        const std::string v = version != nullptr ? embed::form(*version) : "0.1.0";
        print_text("--== Kiv " + v + " ==-- \nType HELP for starting information. \n", true);
    }
    std::string buffer;
    std::string cue;  // the continuation prompt while input is unfinished
    std::string line;
    for (;;) {
        const std::string prompt = cue.empty() ? console_text("console/prompt", ">> ") : cue;
        print_text(prompt, false);
        embed::flush_output();
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

int launch(const embed::CommandLine& command) {
    embed::print_to_standard_output();
    record_arguments(command);
    if (command.script == 0) return run_repl(true);
    const char* path = embed::argument(command.script);
    std::string text;
    if (!embed::read_file(path, text)) {
        std::fprintf(stderr, "kiv: cannot read script %s: %s\n", path, std::strerror(errno));
        return 1;  // nothing ran: a failure, not the console's start without a script
    }
    const int status = run_script(script_text(text));
    if (command.catch_) return run_repl(false);
    return status;
}

}  // namespace kiv::host
