// The one way out for language errors: build the error! value, remember it
// for the collector and throw. Building may itself fail (memory exhausted):
// then the error leaves without a value rather than recursing.
#include "runtime/core/raise.h"

#include <initializer_list>

namespace kiv::runtime {

namespace {

Cell last{};
bool building = false;  // set while an error value is being made
ErrorRoute error_route = nullptr;
const ErrorBuilder* error_builder = nullptr;

[[noreturn]] void leave(LanguageError& e) {
    last = e.error;
    if (error_route && !building) error_route(e);  // does not return
    throw e;
}

class BuildingGuard {
public:
    BuildingGuard() { building = true; }
    ~BuildingGuard() { building = false; }
    BuildingGuard(const BuildingGuard&) = delete;
    BuildingGuard& operator=(const BuildingGuard&) = delete;
};

}  // namespace

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
    if (error_builder && !building) {
        BuildingGuard guard;
        try {
            error_builder->build(e.error, category, id, arg1, arg2, arg3);
        } catch (const LanguageError&) {
            e.error = Cell{};  // a raise while building: the error goes without its value
        }
    }
    leave(e);
}

[[noreturn]] void raise_error_value(const Cell& error) {
    LanguageError e;
    e.category = ErrorCategory::user;
    e.id = "";
    e.arg_count = 0;
    e.error = error;
    if (error.is(TypeId::error) && error_builder) {
        const std::int32_t category = error_builder->category_of(error);
        if (category >= 0) e.category = static_cast<ErrorCategory>(category);
    }
    leave(e);
}

const Cell& last_error() { return last; }

void set_error_route(ErrorRoute route) { error_route = route; }

void set_error_builder(const ErrorBuilder* builder) { error_builder = builder; }

}  // namespace kiv::runtime
