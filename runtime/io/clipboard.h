// The clipboard as values: text as string!, a list of files as a block of
// file!, an image as image! (kept on the clipboard as PNG). The clipboard
// itself, desktop or in-process, is runtime/system_clipboard.
#pragma once

#include "runtime/core/cell.h"

namespace kiv::clipboard {

// Sets result to the clipboard's content: a string!, a block of file! values,
// an image!, none when it is empty, or false when it cannot be reached.
void read(Cell& result);

// Puts a string!, a block of file! values or an image! on the clipboard; none!
// and an image without pixels only empty it. True on success, false when the
// clipboard cannot be taken. Raises script invalid-arg for any other value
// (a block holding anything but files included).
bool write(const Cell& value);

}  // namespace kiv::clipboard
