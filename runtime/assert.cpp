#include "runtime/assert.h"

#include <cstdio>
#include <cstdlib>

namespace kiv {

[[noreturn]] void assert_failed(const char* file, int line, const char* why) {
    std::fprintf(stderr, "*** Internal check failed: %s (%s:%d)\n", why, file, line);
    std::abort();
}

}  // namespace kiv
