// The text layer's entries in the toolkit module, which the program's half of
// the back end finds by name once the module is open. They never raise: a
// fault comes back as a value for the program to raise.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>

namespace kiv::text {

// Answers a text-box-metrics query about a rich-text face whose text is a
// string (its box laid out again when its handles block asks for it):
//   void kiv_gui_text_metrics(const Cell* face, const Cell* arg, std::int32_t query,
//                             Cell* result, Cell* fault)
// fault: none, or the face's style block at the value that is not of the
// dialect (result is then none).
inline constexpr const char* metrics_entry = "kiv_gui_text_metrics";
using MetricsEntry = void (*)(const Cell* face, const Cell* arg, std::int32_t query, Cell* result, Cell* fault);

// The size of text (a string!) as the face shows it, in its font: a drawn
// face (base, rich-text, window, panel) lays it out in its size and para,
// any other on one line per line of the text:
//   void kiv_gui_text_size(const Cell* face, const Cell* text, Cell* result)
inline constexpr const char* size_entry = "kiv_gui_text_size";
using SizeEntry = void (*)(const Cell* face, const Cell* text, Cell* result);

}  // namespace kiv::text
