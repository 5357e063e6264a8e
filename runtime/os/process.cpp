#include "runtime/os/process.h"

namespace kiv::runtime {

ProcessRecord& process() {
    static ProcessRecord record{0, nullptr, nullptr, &tracked_heap(), nullptr};
    return record;
}

}  // namespace kiv::runtime
