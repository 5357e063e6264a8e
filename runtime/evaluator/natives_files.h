// The percent-coding and local-path natives (dehex, enhex, to-local-file) and
// the file routines of the library (exists?, create-dir).
#pragma once

namespace kiv::natives_files {

// Stores the natives in the natives table at their fixed indexes and enters
// the routines for the boot sources (call before boot::load).
void init();

}  // namespace kiv::natives_files
