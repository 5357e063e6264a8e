// File and directory services over POSIX descriptors. Reads take the whole
// content into memory first (devices and pipes, whose size reads 0, by
// chunks to their end), then apply seek and part, so no read depends on a
// size the file system may not know.
#include "runtime/io/file_io.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kiv::file_io {

namespace {

// The largest content a text value may take in.
constexpr std::int64_t max_content = 0x7FFFFFF0;

[[noreturn]] void too_large() { runtime::raise_error(ErrorCategory::internal, "no-memory"); }

// Reads up to count bytes (count < 0: to the end) at the current position
// into out. False on a read error.
bool read_bytes(int fd, std::int64_t count, std::vector<std::uint8_t>& out) {
    std::uint8_t chunk[65536];
    while (count != 0) {
        const std::size_t want = count < 0 ? sizeof chunk
                                           : static_cast<std::size_t>(std::min<std::int64_t>(count, sizeof chunk));
        const ssize_t got = ::read(fd, chunk, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) break;
        if (static_cast<std::int64_t>(out.size()) + got > max_content) too_large();
        out.insert(out.end(), chunk, chunk + got);
        if (count > 0) count -= got;
    }
    return true;
}

// A truncated sequence at the end of a text is invalid UTF-8 like any other.
[[noreturn]] void raise_invalid_utf8(const std::uint8_t* p, std::int32_t n) {
    const std::int32_t size = std::min(n, 4);
    const NodeId node = memory::alloc_bytes(size);
    SeriesBuffer* buf = memory::buffer(node);
    std::memcpy(buf->head, p, static_cast<std::size_t>(size));
    buf->tail = buf->head + size;
    Cell arg{};
    arg.reset(TypeId::binary);
    arg.set_series_node(node);
    runtime::raise_error(ErrorCategory::access, "invalid-utf8", &arg);
}

// Decodes bytes as one string! into out; a sequence cut by a /part limit is
// dropped, one cut by the end of the file is an error.
void decode_text(const std::vector<std::uint8_t>& bytes, bool cut, Cell& out) {
    Cell text{};
    const auto size = static_cast<std::int32_t>(bytes.size());
    if (size == 0) {
        string::make_at(text, 1);
    } else {
        std::int32_t left = 0;
        const NodeId node = unicode::load_utf8(bytes.data(), size, 0, &left, true);
        if (left > 0 && !cut) raise_invalid_utf8(bytes.data() + size - left, left);
        text.reset(TypeId::string);
        text.set_series_node(node);
    }
    text.set_type(TypeId::string);
    out = text;
}

}  // namespace

void split_lines(const Cell& text, Cell& out) {
    const std::int32_t length = string::length_from_start(text);
    std::vector<std::pair<std::int32_t, std::int32_t>> lines;
    std::int32_t start = 0;
    for (std::int32_t i = 0; i < length; ++i) {
        if (string::get_char_at_index(text, i) != '\n') continue;
        lines.emplace_back(start, i - start);
        start = i + 1;
    }
    if (start < length) lines.emplace_back(start, length - start);
    Cell blk{};
    block::make_at(blk, static_cast<std::int32_t>(lines.size()));
    for (const auto& [from, count] : lines) {
        Cell line{};
        string::make_at_unit(line, std::max(count, 1), memory::buffer(text.series_node())->unit());
        Cell source = text;
        source.set_series_head(from);  // concatenate copies from the head
        string::concatenate(line, source, count, 0, true, string::ConcatMode::append);
        block::append_copy(blk, line);
    }
    out = blk;
}

namespace {

// Appends a file name's bytes as code points: UTF-8 where it is, else byte by byte.
void append_name(NodeId out, const std::string& name) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(name.data());
    const std::uint8_t* end = p + name.size();
    while (p < end) {
        std::int32_t cp = -1;
        const std::uint8_t* next = unicode::decode_utf8_char(p, end, &cp);
        if (cp < 0) {
            string::append_char(out, *p++);
        } else {
            string::append_char(out, static_cast<std::uint32_t>(cp));
            p = next;
        }
    }
}

}  // namespace

int open_file(const char* path, int mode) {
    int flags = O_CLOEXEC;
    if ((mode & mode_read) != 0) {
        flags |= O_RDONLY;
        if ((mode & mode_nonblocking) != 0) flags |= O_NONBLOCK;
    } else {
        flags |= O_WRONLY | O_CREAT;
        if ((mode & (mode_append | mode_seek)) == 0) flags |= O_TRUNC;
        if ((mode & mode_append) != 0) flags |= O_APPEND;
    }
    int fd;
    do fd = ::open(path, flags, 0666); while (fd < 0 && errno == EINTR);
    return fd < 0 ? -1 : fd;
}

std::int64_t file_size(int handle) {
    struct stat st{};
    if (::fstat(handle, &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : 0;
}

void close_file(int handle) { ::close(handle); }

std::int64_t content_size(const char* path) {
    const int fd = open_file(path, mode_read | mode_nonblocking);
    if (fd < 0) return -1;
    struct stat st{};
    const bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close_file(fd);
    if (!ok) return -1;
    return S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : 0;
}

bool exists_q(const char* path) {
    struct stat st{};
    return ::stat(path, &st) == 0;
}

bool create_directory(const char* path) { return ::mkdir(path, 0777) == 0; }

bool dir_q(const char* path) {
    const std::string_view p(path);
    if (p.empty()) return false;
    if (p.back() == '/') return true;
    const std::size_t slash = p.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? p : p.substr(slash + 1);
    return last == "." || last == "..";
}

bool remove(const char* path, bool dir) { return (dir ? ::rmdir(path) : ::unlink(path)) == 0; }

bool rename_file(const char* old_path, const char* new_path) {
    return ::rename(old_path, new_path) == 0;
}

std::optional<std::timespec> modified_time(const char* path) {
    struct stat st{};
    if (::stat(path, &st) != 0) return std::nullopt;  // also a "file/" naming a plain file
    return st.st_mtim;
}

namespace {

// The bytes of a regular file from seek (-1: the start), at most part of them
// (-1: all); false when it cannot be opened or read.
bool read_file_raw(const char* path, std::int32_t part, std::int32_t seek, std::vector<std::uint8_t>& bytes) {
    const int fd = open_file(path, mode_read);
    if (fd < 0) return false;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close_file(fd);
        return false;
    }
    bool ok = true;
    const std::int64_t size = file_size(fd);
    if (size > 0) {  // a regular file: seek, then read what part allows
        std::int64_t want = size;
        if (seek >= 0) {
            want = seek >= size ? 0 : size - seek;
            if (want > 0 && ::lseek(fd, seek, SEEK_SET) < 0) ok = false;
        }
        if (part >= 0 && part < want) want = part;
        if (want > max_content) {
            close_file(fd);
            too_large();
        }
        if (ok && want > 0) ok = read_bytes(fd, want, bytes);
    } else {  // size unknown: read to the end (or what part needs), then cut
        const std::int64_t need = part >= 0 ? std::int64_t{part} + std::max(seek, 0) : -1;
        ok = read_bytes(fd, need, bytes);
        if (seek > 0) bytes.erase(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(seek)));
        if (part >= 0 && static_cast<std::size_t>(part) < bytes.size()) bytes.resize(static_cast<std::size_t>(part));
    }
    close_file(fd);
    return ok;
}

}  // namespace

bool read_file(const char* path, std::int32_t part, std::int32_t seek, bool lines, Cell& out) {
    std::vector<std::uint8_t> bytes;
    if (!read_file_raw(path, part, seek, bytes)) return false;
    Cell text;
    decode_text(bytes, part >= 0, text);
    if (lines) split_lines(text, out);
    else out = text;
    return true;
}

bool read_file_binary(const char* path, std::int32_t part, std::int32_t seek, Cell& out) {
    std::vector<std::uint8_t> bytes;
    if (!read_file_raw(path, part, seek, bytes)) return false;
    const auto n = static_cast<std::int32_t>(bytes.size());
    const NodeId node = memory::alloc_series(std::max(n, 1), 1, 0);
    SeriesBuffer* buf = memory::buffer(node);
    if (n > 0) std::memcpy(buf->head, bytes.data(), bytes.size());
    buf->tail = buf->head + n;
    out = Cell{};
    out.reset(TypeId::binary);
    out.set_series_node(node);
    return true;
}

bool read_dir(const char* path, Cell& out) {
    DIR* dir = ::opendir(path);
    if (dir == nullptr) return false;
    std::vector<std::string> names;
    std::string base(path);
    if (!base.empty() && base.back() != '/') base += '/';
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool is_dir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st{};
            is_dir = ::stat((base + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        names.push_back(is_dir ? name + "/" : name);
    }
    const bool failed = errno != 0;
    ::closedir(dir);
    if (failed) return false;
    std::sort(names.begin(), names.end());
    Cell blk{};
    block::make_at(blk, static_cast<std::int32_t>(names.size()));
    for (const std::string& name : names) {
        Cell file{};
        string::make_at(file, static_cast<std::int32_t>(name.size()));
        append_name(file.series_node(), name);
        file.set_type(TypeId::file);
        block::append_copy(blk, file);
    }
    out = blk;
    return true;
}

std::int64_t write_file(const char* path, const std::uint8_t* bytes, std::int64_t count,
                        std::int32_t seek, bool append) {
    int fd = 1;
    if (path != nullptr) {
        int mode = mode_write;
        if (append) mode |= mode_append;
        if (seek >= 0) mode |= mode_seek;
        fd = open_file(path, mode);
        if (fd < 0) return -1;
        if (seek > 0 && !append && ::lseek(fd, seek, SEEK_SET) < 0) {
            close_file(fd);
            return -2;
        }
    }
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, static_cast<std::size_t>(count - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        done += n;
    }
    bool ok = done == count;
    if (path != nullptr && ::close(fd) != 0) ok = false;  // delayed write errors show here
    return ok ? done : -2;
}

}  // namespace kiv::file_io
