#include "runtime/raise.h"

#include <initializer_list>

namespace kiv::runtime {

[[noreturn]] void raise_error(ErrorCategory category, const char* id,
                              const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    LanguageError e;
    e.category = category;
    e.id = id;
    e.arg_count = 0;
    for (const Cell* arg : {arg1, arg2, arg3}) {
        if (!arg) break;
        e.args[e.arg_count++] = *arg;
    }
    throw e;
}

}  // namespace kiv::runtime
