// libFuzzer target: any bytes given to the lexer load, or raise a syntax
// error (or not-done for datatypes still to come); scanning-only runs never
// raise. A crash, hang or out-of-bounds read is a fault.
#include "runtime/io/lexer.h"

#include "runtime/core/collector.h"
#include "runtime/core/raise.h"
#include "runtime/startup/embed.h"

#include <cstdlib>
#include <cstring>

// Inputs between two collections. The collector stays off without the
// library, and what each input loads is garbage once the input is done, so
// without these collections memory grows with every input.
constexpr int inputs_per_collection = 64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = [] {
        kiv::embed::boot({.library = false});  // the lexer needs the tables and words, not the library
        return true;
    }();
    (void)ready;
    static int inputs = 0;
    if (++inputs % inputs_per_collection == 0) kiv::collector::collect();  // no value of an earlier input is live
    const auto n = static_cast<std::int32_t>(size);
    try {
        kiv::Cell out{};
        kiv::lexer::scan(&out, data, n, {}, nullptr);
    } catch (const kiv::LanguageError& e) {
        if (e.category != kiv::ErrorCategory::syntax && std::strcmp(e.id, "not-done") != 0) std::abort();
    }
    kiv::lexer::ScanRequest check;
    check.store = false;
    check.one = true;
    kiv::Cell out{};
    kiv::lexer::scan(&out, data, n, check, nullptr);  // must not raise
    kiv::lexer::ScanRequest prescan;
    prescan.scan = false;
    kiv::lexer::scan(&out, data, n, prescan, nullptr);
    return 0;
}
