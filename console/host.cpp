// The text-mode host: the services the console's language-level code needs
// in a terminal (printing to standard output, ask on standard input, the
// console size), then the console engine's launch, which runs the script
// named on the command line and the read-eval-print loop.
#include "console/host.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kiv::host {

namespace {

// Prints UTF-8 text through the print hooks, as print and prin do.
void print_text(std::string_view utf8, bool new_line) { embed::print(utf8, new_line); }

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

// --- Start-up ---------------------------------------------------------------------

// A positive number from an environment variable, else 0.
std::int32_t from_environment(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr) return 0;
    const long n = std::strtol(text, nullptr, 10);
    return n > 0 && n < 100000 ? static_cast<std::int32_t>(n) : 0;
}

// The console's size in characters and lines: the terminal's, else COLUMNS
// and LINES, else 80x24.
Cell console_size() {
    std::int32_t columns = 0;
    std::int32_t lines = 0;
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
        columns = size.ws_col;
        lines = size.ws_row;
    }
    if (columns <= 0) columns = from_environment("COLUMNS");
    if (lines <= 0) lines = from_environment("LINES");
    Cell pair;
    pair.reset(TypeId::pair);
    pair.set_pair(columns > 0 ? columns : 80, lines > 0 ? lines : 24);
    return pair;
}

// The raw text of the arguments from the first on, each quoted when it
// holds blanks.
std::string joined_arguments(int from) {
    std::string text;
    for (int i = from; i < embed::argument_count(); ++i) {
        const std::string_view arg = embed::argument(i);
        if (i > from) text += ' ';
        if (arg.find_first_of(" \t") != std::string_view::npos) text.append("\"").append(arg).append("\"");
        else text.append(arg);
    }
    return text;
}

// The command line as the console reads it: system/options/args holds every
// argument after the program's name, system/script/args their raw text
// (none when there is none). The console takes the options and the script
// out of both.
void record_arguments() {
    const int count = embed::argument_count();
    if (count < 2) return;  // none, as the system object starts
    const Cell args = embed::make_block(count - 1);
    embed::Root keep(args);
    for (int i = 1; i < count; ++i) embed::append(args, embed::text(embed::argument(i)));
    embed::set_field("options/args", args);
    embed::set_field("script/args", embed::text(joined_arguments(1)));
}

// A script that cannot be opened, or is a folder, is reported here with the
// system's reason: nothing runs.
bool readable(const char* path) {
    struct stat info{};
    if (::stat(path, &info) != 0) return false;
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return ::access(path, R_OK) == 0;
}

}  // namespace

void add_routines() {
    embed::add_routine("read-console-line", read_console_line);
    embed::add_routine("console-title", console_title);
}

int launch(const embed::CommandLine& command) {
    embed::print_to_standard_output();
    if (command.script != 0 && !readable(embed::argument(command.script))) {
        std::fprintf(stderr, "kiv: cannot read script %s: %s\n", embed::argument(command.script),
                     std::strerror(errno));
        return 1;
    }
    record_arguments();
    if (const embed::Result date = embed::load(KIV_BUILD_DATE); date.ok && embed::length(date.value) == 1)
        embed::set_field("build/date", embed::pick(date.value, 0));
    embed::set_field("console/size", console_size());
    embed::set_field("console/gui?", embed::logic(false));
    const embed::Result result = embed::eval_text("system/console/launch");
    embed::flush_output();
    if (!result.ok) {  // the console itself failed: nothing is left to report it
        std::fprintf(stderr, "%s\n", result.value.is(TypeId::error) ? embed::error_report(result.value).c_str()
                                                                    : "*** Error: the console failed");
        return 254;
    }
    return 0;
}

}  // namespace kiv::host
