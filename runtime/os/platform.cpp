// The platform layer on Linux: standard output, virtual memory, time, sleep,
// the environment and the current directory.
#include "runtime/os/platform.h"

#include "runtime/core/assert.h"
#include "runtime/core/output_hooks.h"
#include "runtime/core/runtime_error.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/mman.h>
#include <unistd.h>

extern char** environ;

namespace kiv::platform {

namespace {

constexpr std::size_t batch_size = 1024;       // bytes per write(2)
constexpr std::size_t batch_threshold = 1020;  // a character past this flushes

char batch[batch_size];
bool terminal = false;
bool initialised = false;

// Writes all of [p, p + n) to standard output; failures are ignored, as a
// reader that went away cannot be told anything.
void write_out(const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, p, n);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        p += written;
        n -= static_cast<std::size_t>(written);
    }
}

// Encodes one code point as UTF-8 at out; returns the byte count. Code points
// that are not characters (surrogates, beyond U+10FFFF) become U+FFFD.
std::size_t encode_utf8(std::uint32_t cp, char* out) {
    if (cp >= 0xD800 && (cp <= 0xDFFF || cp > 0x10FFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// Formats into a small buffer, writes it, and hands the digits to the hooks.
template <typename... Args>
void print_number(const char* format, Args... args) {
    char digits[64];
    const int length = std::snprintf(digits, sizeof digits, format, args...);
    if (length <= 0) return;
    write_out(digits, static_cast<std::size_t>(length));
    output_hooks::call_output_hooks(digits, length, 0);
}

}  // namespace

void init_process() {
    if (initialised) return;
    terminal = ::isatty(STDOUT_FILENO) == 1;
    initialised = true;
}

// --- Virtual memory ---------------------------------------------------------

std::size_t page_size() {
    static const std::size_t size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

void* os_alloc(std::size_t size, bool executable) {
    const int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* block = ::mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) runtime::throw_value(thrown_os_alloc_failed);
    return block;
}

void os_free(void* address, std::size_t size) {
    if (::munmap(address, size) != 0) runtime::throw_value(thrown_os_free_failed);
}

void* reserve(std::size_t size) {
    void* block = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

bool commit(void* address, std::size_t size) {
    return ::mprotect(address, size, PROT_READ | PROT_WRITE) == 0;
}

bool decommit(void* address, std::size_t size) {
    // A fresh inaccessible mapping in place drops the pages and their contents.
    void* block = ::mmap(address, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    return block != MAP_FAILED;
}

bool release(void* address, std::size_t size) { return ::munmap(address, size) == 0; }

// --- Standard output ------------------------------------------------------

bool stdout_is_terminal() {
    init_process();
    return terminal;
}

void print_nul_text(const char* text) {
    const std::size_t length = std::strlen(text);
    write_out(text, length);
    output_hooks::call_output_hooks(text, static_cast<std::int32_t>(length), 0);
}

void print_int(std::int32_t value) { print_number("%i", value); }
void print_int64(std::int64_t value) { print_number("%lli", static_cast<long long>(value)); }
void print_byte_hex(std::uint8_t value) { print_number("%02X", static_cast<unsigned>(value)); }
void print_hex(std::uint32_t value) { print_number("%08X", value); }
void print_hex64(std::uint64_t value) { print_number("%08llX", static_cast<unsigned long long>(value)); }
void print_float64(double value) { print_number("%.16g", value); }
void print_float32(float value) { print_number("%.7g", static_cast<double>(value)); }

void write_text(const void* text, std::size_t length, int unit, bool new_line) {
    if (unit != 1 && unit != 2 && unit != 4)
        runtime::report_runtime_error(runtime::error_no_switch, KIV_CALLER_ADDRESS());
    const auto* bytes = static_cast<const std::uint8_t*>(text);
    const std::size_t count = length / static_cast<std::size_t>(unit);
    std::size_t pending = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t cp;
        const std::uint8_t* u = bytes + i * static_cast<std::size_t>(unit);
        if (unit == 1) {
            cp = u[0];
        } else if (unit == 2) {
            cp = static_cast<std::uint32_t>(u[0] | u[1] << 8);
            // A surrogate pair is one character; a lone surrogate becomes U+FFFD.
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count) {
                const std::uint32_t low = static_cast<std::uint32_t>(u[2] | u[3] << 8);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        } else {
            std::memcpy(&cp, u, 4);
        }
        pending += encode_utf8(cp, batch + pending);
        if (pending > batch_threshold) {
            write_out(batch, pending);
            pending = 0;
        }
    }
    if (new_line) batch[pending++] = '\n';  // room is left: at most 1,020 pending here
    write_out(batch, pending);
}

void flush() { std::fflush(nullptr); }

// --- Time -------------------------------------------------------------------

double now_time(bool precise) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    double seconds = static_cast<double>(now.tv_sec % 86400);
    if (precise) seconds += static_cast<double>(now.tv_nsec / 100) / 1e7;  // 100 ns resolution
    return seconds;
}

std::uint32_t pack_zone(int minutes_east) {
    const int hours = minutes_east / 60;
    const std::uint32_t hour_bits = hours < 0 ? ((static_cast<std::uint32_t>(-hours) & 0xF) | 0x10)
                                              : static_cast<std::uint32_t>(hours);
    int minutes = minutes_east % 60;
    if (minutes < 0) minutes += 60;
    return (hour_bits << 2 | static_cast<std::uint32_t>(minutes / 15)) & 0x7F;
}

std::uint32_t now_date(bool utc) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    std::uint32_t zone = 0;
    if (utc) {
        ::gmtime_r(&now, &parts);
    } else {
        ::localtime_r(&now, &parts);
        zone = pack_zone(static_cast<int>(parts.tm_gmtoff / 60));
    }
    const auto year = static_cast<std::uint32_t>(parts.tm_year + 1900);
    const auto month = static_cast<std::uint32_t>(parts.tm_mon + 1);
    const auto day = static_cast<std::uint32_t>(parts.tm_mday);
    return year << 17 | month << 12 | day << 7 | zone;
}

void sleep(double seconds) {
    double ms = std::floor(seconds * 1000.0);
    if (!(ms >= 1.0)) ms = 1.0;  // also for NaN and negative times
    if (ms > 1e12) ms = 1e12;
    const auto whole = static_cast<long long>(ms);
    timespec left{static_cast<time_t>(whole / 1000), static_cast<long>(whole % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {}
}

// --- Environment and current directory --------------------------------------

bool get_env(const std::string& name, std::string& value) {
    const char* found = std::getenv(name.c_str());
    if (!found) return false;
    value = found;
    return true;
}

bool set_env(const std::string& name, const std::string* value) {
    if (name.empty() || name.find('=') != std::string::npos) return false;
    return (value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str())) == 0;
}

std::vector<std::pair<std::string, std::string>> environment() {
    std::vector<std::pair<std::string, std::string>> entries;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.empty() ? std::string::npos : text.find('=', 1);
        if (equals == std::string::npos) entries.emplace_back(text, std::string());
        else entries.emplace_back(text.substr(0, equals), text.substr(equals + 1));
    }
    return entries;
}

std::string get_current_dir() {
    std::string path(256, '\0');
    while (!::getcwd(path.data(), path.size())) {
        if (errno != ERANGE) return std::string();
        path.resize(path.size() * 2);
    }
    path.resize(std::strlen(path.c_str()));
    return path;
}

bool set_current_dir(const std::string& path) { return ::chdir(path.c_str()) == 0; }

// --- Diagnostic print -------------------------------------------------------

namespace {

bool is_blank(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Prints one entry; returns its last character, or 0 when it has none.
char print_entry(const PrintArg& arg) {
    switch (arg.kind) {
    case PrintArg::Kind::logic:
        print_nul_text(arg.logic ? "true" : "false");
        return 0;
    case PrintArg::Kind::integer:
        print_int64(arg.integer);
        return 0;
    case PrintArg::Kind::character:
        print_char(arg.character);
        return arg.character;
    case PrintArg::Kind::float32:
        print_float32(arg.float32);
        return 0;
    case PrintArg::Kind::float64:
        print_float64(arg.float64);
        return 0;
    case PrintArg::Kind::text: {
        const char* text = arg.text ? arg.text : "";
        print_nul_text(text);
        const std::size_t length = std::strlen(text);
        return length ? text[length - 1] : 0;
    }
    case PrintArg::Kind::pointer:
        print_hex64(reinterpret_cast<std::uintptr_t>(arg.pointer));
        return 0;
    }
    return 0;
}

}  // namespace

void print_args(std::initializer_list<PrintArg> args, bool spaced) {
    std::size_t left = args.size();
    for (const PrintArg& arg : args) {
        const char last = print_entry(arg);
        if (spaced && --left > 0 && !is_blank(last)) print_nul_text(" ");
    }
    flush();
}

void print(std::initializer_list<PrintArg> args) { print_args(args, false); }

void print_line(std::initializer_list<PrintArg> args) {
    print_args(args, false);
    print_nul_text("\n");
}

void print_char(char c) {
    const char text[2] = {c, 0};
    print_nul_text(text);  // the byte as it is
}

}  // namespace kiv::platform
