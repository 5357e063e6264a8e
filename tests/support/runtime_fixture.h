// Shared by the GoogleTest suites that need a booted runtime: the one boot
// (through the embedding interface, as the console boots) and the one mold
// and form the suites compare results with.
#pragma once

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/startup/embed.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace kiv::test {

// Boots the runtime once, before the program's first test, then runs the
// suite's own set-up (values the library would have made, when it is not run).
class Runtime : public ::testing::Environment {
public:
    Runtime(embed::BootOptions options, void (*then)()) : options_(options), then_(then) {}
    void SetUp() override {
        embed::boot(options_);
        if (then_ != nullptr) then_();
    }

private:
    embed::BootOptions options_;
    void (*then_)();
};

// Registers the boot; at namespace scope: `const auto* const env = test::boot_runtime();`.
// By default without the library: a suite builds the values it tests.
inline ::testing::Environment* boot_runtime(embed::BootOptions options = {.library = false},
                                            void (*then)() = nullptr) {
    return ::testing::AddGlobalTestEnvironment(new Runtime(options, then));
}

// How a test molds: by default as the console does. limit is the budget the
// handler gets (-1: none), indent the depth it starts at; left, when given,
// receives the budget the handler leaves.
struct Mold {
    bool only = false;
    bool all = false;
    bool flat = false;
    std::int32_t limit = -1;
    std::int32_t indent = 0;
    std::int32_t* left = nullptr;
};
// The mold of value in UTF-8, made by its type's handler.
inline std::string mold(const Cell& value, const Mold& how = {}) {
    const auto handler = registry::handler<Action::mold>(value.type());
    if (handler == nullptr) {
        ADD_FAILURE() << "type " << static_cast<int>(value.type()) << " has no mold";
        return {};
    }
    Cell out{};
    string::make_at(out, 64);
    embed::Root keep(out);
    Cell v = value;
    const std::int32_t left = handler(&v, out.series_node(), MoldOptions{how.only, how.all, how.flat},
                                      nullptr, how.limit < 0 ? 0x7FFFFFFF : how.limit, how.indent);
    if (how.left != nullptr) *how.left = left;
    return embed::to_utf8(out);
}
// The form of value in UTF-8 (limit as for mold).
inline std::string form(const Cell& value, std::int32_t limit = -1, std::int32_t* left = nullptr) {
    const auto handler = registry::handler<Action::form>(value.type());
    if (handler == nullptr) {
        ADD_FAILURE() << "type " << static_cast<int>(value.type()) << " has no form";
        return {};
    }
    Cell out{};
    string::make_at(out, 64);
    embed::Root keep(out);
    Cell v = value;
    const std::int32_t budget = handler(&v, out.series_node(), nullptr, limit < 0 ? 0x7FFFFFFF : limit);
    if (left != nullptr) *left = budget;
    return embed::to_utf8(out);
}

}  // namespace kiv::test
