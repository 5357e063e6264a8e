#include "runtime/core/assert.h"

#include "runtime/core/runtime_error.h"

#include <cstdio>

namespace kiv {

// The failed check is named first, then the fatal report ends the process
// with runtime error 98 ("assertion failed").
[[noreturn]] [[gnu::noinline]] void assert_failed(const char* file, int line, const char* why) {
    std::fflush(stdout);
    std::fprintf(stderr, "*** Internal check failed: %s (%s:%d)\n", why, file, line);
    runtime::report_runtime_error(runtime::error_assertion, KIV_CALLER_ADDRESS());
}

}  // namespace kiv
