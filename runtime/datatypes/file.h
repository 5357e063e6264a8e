// file! (type 8, a child of url!): the "%" mold, local paths and the file
// actions read, write, delete, query and rename over runtime/io/file_io. Paths
// are POSIX: "/" stays "/", there are no drives. Every failure of the file
// system reaches the language as access error cannot-open with the file.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kiv::file {

// Appends to the text of out the local form of the file from its head; with
// full a relative path gets the current directory (ending in "/") in front.
void to_local_path_into(Cell& file, NodeId out, bool full);
// The local path of the file as UTF-8 bytes for the system calls. Raises
// access cannot-open with the file when it holds a NUL or no character.
std::string to_local_path(Cell& file);
// The same, or nothing for a file that holds a NUL or no character: no file
// has such a name.
std::optional<std::string> local_path(Cell& file);
// The process's current directory, ending in "/". Raises access cannot-open
// when the system cannot tell it.
std::string current_directory();

// Registers file! (after url!).
void init();

// Handlers of file!.
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
Cell* delete_(Cell* value);
Cell* query(Cell* value);
Cell* read(Cell* source, const ReadRefinements& how);
Cell* rename(Cell* value, Cell* new_name);
Cell* write(Cell* destination, Cell* data, const WriteRefinements& how);

}  // namespace kiv::file
