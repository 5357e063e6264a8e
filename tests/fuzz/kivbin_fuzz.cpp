// libFuzzer target: any bytes given to the Kivbin reader decode or raise a
// language error (kb-invalid-record, invalid-data, no-codec, or not-done for
// records still to come). A crash, hang or out-of-bounds read is a fault.
#include "runtime/io/kivbin.h"

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/raise.h"
#include "runtime/startup/embed.h"

#include <cstdlib>
#include <cstring>

// Inputs between two collections (the values of each input are garbage after it).
constexpr int inputs_per_collection = 64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = [] {
        kiv::embed::boot({.library = false});
        return true;
    }();
    (void)ready;
    static int inputs = 0;
    if (++inputs % inputs_per_collection == 0) kiv::collector::collect();
    kiv::Cell target{};
    kiv::block::make_at(target, 4);
    kiv::embed::Root keep(target);
    try {
        kiv::kivbin::decode(data, size, target, nullptr);
    } catch (const kiv::LanguageError& e) {
        if (std::strcmp(e.id, "kb-invalid-record") != 0 && std::strcmp(e.id, "invalid-data") != 0 &&
            std::strcmp(e.id, "no-codec") != 0 && std::strcmp(e.id, "not-done") != 0)
            std::abort();
    }
    return 0;
}
