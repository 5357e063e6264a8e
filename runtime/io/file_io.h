// File and directory services behind file!'s actions, over POSIX calls.
// Paths arrive as local UTF-8 paths (file::to_local_path). The services report
// failure by their result (false, none, negative); raising language errors is
// the caller's part, except for the decoding errors of text read from files.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>
#include <ctime>
#include <optional>

namespace kiv::file_io {

// Open modes, combined as flags.
inline constexpr int mode_read = 1, mode_write = 2, mode_append = 4, mode_seek = 8;
// With mode_read: opening a FIFO does not wait for a writer.
inline constexpr int mode_nonblocking = 16;

// Opens path: read mode an existing file; otherwise for writing, created when
// missing, emptied unless append or seek is asked. -1 on failure.
int open_file(const char* path, int mode);
// Size in bytes of an open file, -1 on failure.
std::int64_t file_size(int handle);
void close_file(int handle);

// The size in bytes of the file path names, opened for reading (0 for a
// device or pipe); -1 when it cannot be opened or names a directory.
std::int64_t content_size(const char* path);
// True when the path names an existing file or directory.
bool exists_q(const char* path);
// Makes one directory level; true on success.
bool create_directory(const char* path);
// True when a path text (UTF-8) names a directory by its form: it ends in
// "/", or its last component is "." or "..".
bool dir_q(const char* path);
// Removes the directory (dir) or the file; true on success.
bool remove(const char* path, bool dir);
// Renames old_path to new_path; true on success.
bool rename_file(const char* old_path, const char* new_path);
// Last modification time; none when missing, or when a path ending in "/"
// names a plain file.
std::optional<std::timespec> modified_time(const char* path);

// Splits a string at its line feeds into a block of strings; a last line
// without a line feed is kept when not empty.
void split_lines(const Cell& text, Cell& out);

// Reads a file into out: a string! (UTF-8, CR LF and lone CR read as LF), or
// with lines a block! of one string! per line. part < 0: no limit; seek < 0:
// from the start; a seek past the end or part 0 gives an empty value. False
// (out untouched) when the file cannot be opened or read. Raises access
// invalid-utf8 on text that is not UTF-8, internal no-memory above 2 GB.
bool read_file(const char* path, std::int32_t part, std::int32_t seek, bool lines, Cell& out);
// Reads a file's bytes, unchanged, into out, a binary!; part and seek as for
// read_file. False (out untouched) when the file cannot be opened or read.
bool read_file_binary(const char* path, std::int32_t part, std::int32_t seek, Cell& out);
// Lists a directory into out, a block! of file! names sorted by their bytes,
// directories with a trailing "/", "." and ".." left out. False when the
// directory cannot be read.
bool read_dir(const char* path, Cell& out);
// Writes bytes to path (null: standard output) at seek (< 0: from the start,
// the file emptied first) or at the end with append. Returns the bytes
// written, -1 when the file cannot be opened, -2 when writing fails.
std::int64_t write_file(const char* path, const std::uint8_t* bytes, std::int64_t count,
                        std::int32_t seek, bool append);

}  // namespace kiv::file_io
