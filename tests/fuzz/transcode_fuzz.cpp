// libFuzzer target: any bytes given to the lexer load, or raise a syntax
// error (or not-done for datatypes still to come); scanning-only runs never
// raise. A crash, hang or out-of-bounds read is a fault.
#include "runtime/io/lexer.h"

#include "runtime/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/words.h"
#include "runtime/memory.h"
#include "runtime/raise.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = [] {
        kiv::memory::init();
        kiv::case_folding::init();
        kiv::hashtable::init();
        kiv::block::init_root();
        kiv::registry::init();
        kiv::registry::register_all();
        kiv::symbol::init_table();
        kiv::context::init_global();
        kiv::registry::init_type_words();
        kiv::words::init();
        kiv::lexer::init();
        return true;
    }();
    (void)ready;
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
