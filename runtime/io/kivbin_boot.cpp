// The boot image goes through the stream reader like any other stream; what
// differs is the collector, held off so that nothing built is moved or freed
// half-made, and the report of a damaged stream: there is no one to catch an
// error yet, so the process ends.
#include "runtime/io/kivbin_boot.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/io/kivbin.h"
#include "runtime/os/platform.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kiv::kivbin {
namespace {

constexpr int damaged_status = 254;

[[noreturn]] void damaged(const char* message) {
    platform::flush();
    std::fprintf(stderr, "%s\n", message);
    runtime::exit_cleanup();
    std::exit(damaged_status);
}

}  // namespace

std::int32_t load_boot_data(std::span<const std::uint8_t> data) {
    if (data.size() < 8 || std::memcmp(data.data(), "KIVBIN", 6) != 0) damaged("Error: Not a Kivbin file!");
    const bool was_enabled = collector::enabled();
    collector::set_enabled(false);
    std::int32_t base = 0;
    try {
        base = decode_boot(data.data(), data.size(), block::root());
    } catch (const LanguageError& e) {
        collector::set_enabled(was_enabled);
        // With the magic right, invalid-data says the body would not
        // decompress (or is too short to hold its counts).
        if (std::strcmp(e.id, "invalid-data") == 0) damaged("Error: Kivbin compressed data corrupted!");
        throw;
    }
    collector::set_enabled(was_enabled);
    return base;
}

}  // namespace kiv::kivbin
