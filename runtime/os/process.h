// The process's global record: the command line, the tracked heap and the
// outermost catch frame of the runtime thread. Start-up fills it; the
// evaluator reads the root frame to tell an uncaught error from one that a
// C++ caller will handle.
#pragma once

#include "runtime/core/runtime_error.h"
#include "runtime/core/tracked_heap.h"

#include <cstdint>

namespace kiv::runtime {

// The process's global record.
struct ProcessRecord {
    std::int32_t argc;
    char** argv;                    // UTF-8 strings, array and strings on the tracked heap
    const void* boot_data;          // the stored boot image (null when the program holds text)
    TrackedHeapList* tracked_heap;
    CatchFrame* root_frame;         // the runtime thread's outermost catch frame
};
ProcessRecord& process();

}  // namespace kiv::runtime
