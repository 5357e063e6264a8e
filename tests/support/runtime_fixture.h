// Shared by the GoogleTest suites that need a booted runtime: the one boot
// (through the embedding interface, as the console boots) and the text
// helpers the suites compare results with.
#pragma once

#include "runtime/startup/embed.h"

#include <gtest/gtest.h>

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

// The mold of value in UTF-8.
inline std::string mold(const Cell& value, const embed::MoldOptions& options = {}) {
    return embed::mold(value, options);
}
// The form of value in UTF-8.
inline std::string form(const Cell& value) { return embed::form(value); }

}  // namespace kiv::test
