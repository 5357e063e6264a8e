// The output, text, encoding and conversion natives whose datatypes exist:
// print, prin, uppercase, lowercase, transcode, as, new-line, new-line?.
#pragma once

#include <cstdint>

namespace kiv::natives_output {

// Stores the natives in the natives table (at their fixed indexes).
void init();

// Whether the last print or prin ended its text with a new line (last-lf?).
bool last_line_feed();

}  // namespace kiv::natives_output
