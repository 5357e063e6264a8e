// Shared by the GoogleTest suites that need a booted runtime: the one boot
// (through the embedding interface, as the console boots), values loaded or
// evaluated from text, and the one mold and form the suites compare results
// with.
#pragma once

#include "runtime/core/collector.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/callback.h"
#include "runtime/startup/boot.h"
#include "runtime/startup/embed.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

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

// The values of UTF-8 text in a new block! (not rooted); a syntax error
// fails the test.
inline Cell load(std::string_view text) {
    Cell block{};
    Cell error{};
    if (!callback::guarded([&] { boot::load_text(block, text); }, error))
        ADD_FAILURE() << text << ": " << boot::report(error);
    return block;
}
// The value of UTF-8 text evaluated (not rooted); an error fails the test.
inline Cell eval(std::string_view text) {
    const Cell code = load(text);
    collector::Root keep(code);
    Cell value{};
    if (!boot::try_eval(code, value)) ADD_FAILURE() << text << ": " << boot::report(value);
    return value;
}

// The mold of value in UTF-8, made by its type's handler, by default as the
// console molds. limit is the budget the handler gets (-1:
// none), indent the depth it starts at; left, when given, receives the budget
// the handler leaves.
inline std::string mold(const Cell& value, MoldOptions how = {}, std::int32_t limit = -1,
                        std::int32_t* left = nullptr, std::int32_t indent = 0) {
    const auto handler = registry::handler<Action::mold>(value.type());
    if (handler == nullptr) {
        ADD_FAILURE() << "type " << static_cast<int>(value.type()) << " has no mold";
        return {};
    }
    Cell out{};
    string::make_at(out, 64);
    collector::Root keep(out);
    Cell v = value;
    const std::int32_t budget = handler(&v, out.series_node(), how, nullptr, limit < 0 ? 0x7FFFFFFF : limit, indent);
    if (left != nullptr) *left = budget;
    return string::utf8_of(out);
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
    collector::Root keep(out);
    Cell v = value;
    const std::int32_t budget = handler(&v, out.series_node(), nullptr, limit < 0 ? 0x7FFFFFFF : limit);
    if (left != nullptr) *left = budget;
    return string::utf8_of(out);
}

}  // namespace kiv::test
