// Test set-up for the natives: the whole runtime booted, and run() that loads
// text with the lexer, evaluates it and molds it.
#pragma once

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/io/lexer.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv::test {

// The block the lexer makes of text, kept in the root block.
inline Cell load(const std::string& text) {
    Cell out{};
    lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(text.data()),
                static_cast<std::int32_t>(text.size()), {}, nullptr);
    return *block::append_copy(block::root(), out);
}

// The UTF-8 of a string value.
inline std::string utf8_of(const Cell& text) { return string::utf8_of(text); }

class Natives : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (booted) return;
        booted = true;
        embed::boot();
    }
    void SetUp() override {
        mark = stack::Mark();
        stack::push_barrier_frame(nullptr);
    }
    void TearDown() override {  // an error leaves the stacks where it arose
        mark.restore();
        interpreter::clear_exit();
    }
    Cell eval(const std::string& text) {
        const Cell code = load(text);
        stack::reset();
        interpreter::eval_block(code, true);
        return *stack::base();
    }
    // The mold of the result, or "error:<id>" for a language error.
    std::string run(const std::string& text) {
        try {
            return mold(eval(text));
        } catch (const LanguageError& e) {
            return std::string("error:") + e.id;
        }
    }
    static inline bool booted = false;
    stack::Mark mark;  // the stacks before the test
};

// One expression and the mold of its result.
struct Case {
    const char* code;
    const char* expected;
};

}  // namespace kiv::test
