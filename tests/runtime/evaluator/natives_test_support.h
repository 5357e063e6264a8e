// Shared by the natives tests: boots the whole runtime and runs code loaded
// by the lexer under a barrier frame.
#pragma once

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/io/lexer.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv::test {

// Loads UTF-8 text into a block kept in the root block.
inline Cell load(const std::string& text) {
    Cell* kept = block::make_in(nullptr, 4);
    lexer::ScanRequest request;
    request.into = kept;
    lexer::scan(nullptr, reinterpret_cast<const std::uint8_t*>(text.data()),
                static_cast<std::int32_t>(text.size()), request, nullptr);
    return *kept;
}

// The whole runtime, library included: the natives as the program has them.
class NativesEnvironment : public Runtime {
public:
    NativesEnvironment() : Runtime({.library = true}, nullptr) {}
};

// Runs code under a barrier frame (as the console does); restores the stacks.
class NativesTest : public ::testing::Test {
protected:
    void SetUp() override {
        mark = stack::Mark();
        stack::push_barrier_frame(nullptr);
    }
    void TearDown() override { restore(false); }
    void restore(bool barrier = true) {
        mark.restore();
        interpreter::clear_exit();
        if (barrier) stack::push_barrier_frame(nullptr);
    }
    // Evaluates the text; returns the result.
    Cell run(const std::string& text) {
        const Cell code = load(text);
        stack::reset();
        interpreter::eval_block(code, true);
        return *stack::base();
    }
    std::int32_t run_int(const std::string& text) {
        const Cell r = run(text);
        EXPECT_TRUE(r.is(TypeId::integer)) << text << " gave type " << int(r.type());
        return r.int_value();
    }
    // The mold of the result of text; an error gives "!" and its id.
    std::string run_mold(const std::string& text) {
        Cell r;
        try {
            r = run(text);
        } catch (const LanguageError& e) {
            restore();
            return std::string("!") + e.id;
        }
        return mold(r, {.flat = true});
    }
    // The id of the error that evaluating text raises ("" when none).
    std::string error_of(const std::string& text) {
        std::string id;
        try {
            run(text);
        } catch (const LanguageError& e) {
            id = e.id;
            if (id.empty() && e.error.is(TypeId::error))  // raised again as a value
                id = symbol::name(error::id_symbol(e.error));
        }
        restore();
        return id;
    }
    stack::Mark mark;  // the stacks before the test
};

}  // namespace kiv::test
