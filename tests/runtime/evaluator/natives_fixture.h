// Test set-up for the natives: a booted runtime whose datatype words hold
// their datatypes, the typesets of library/boot.kiv, the natives of library/natives/maths.kiv made from their
// specs, and run() that loads text with the lexer, evaluates it and molds it.
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
#include "runtime/raise.h"
#include "runtime/startup/startup.h"

#include "boot_typesets.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace kiv::test {

// The block the lexer makes of text, kept in the root block.
inline Cell load(const std::string& text) {
    Cell out{};
    lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(text.data()),
                static_cast<std::int32_t>(text.size()), {}, nullptr);
    return *block::append_copy(block::root(), out);
}

inline std::string utf8_of(const Cell& text) {
    std::string out;
    for (std::int32_t i = text.series_head(), n = string::length_from_start(text); i < n; ++i) {
        const std::uint32_t cp = string::get_char_at_index(text, i);
        out += cp < 128 ? static_cast<char>(cp) : '?';
    }
    return out;
}

inline std::string mold(const Cell& value) {
    Cell text;
    string::make_at(text, 16);
    Cell v = value;
    actions::mold_to(&v, text.series_node(), false, false, false, -1);
    return utf8_of(text);
}

// Makes each `name: make native! [[spec] index]` of the file a native! value.
inline void define_natives(const std::string& path) {
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::stringstream all;
    all << in.rdbuf();
    Cell code{};
    try {
        code = load(all.str());
    } catch (const LanguageError& e) {
        FAIL() << "loading " << path << ": " << e.id << " " << mold(e.args[0]) << " "
               << mold(e.args[1]) << " " << mold(e.args[2]);
    }
    const std::int32_t n = block::count_from_head(code);
    for (std::int32_t i = 0; i + 3 < n; i += 4) {
        const Cell name = *block::get_cell(code, i);
        const Cell body = *block::get_cell(code, i + 3);
        ASSERT_TRUE(name.is(TypeId::set_word));
        const Cell spec = *block::get_cell(body, 0);
        const Cell index = *block::get_cell(body, 1);
        Cell fn;
        native::make_at(fn, TypeId::native, spec, index.int_value());
        Cell w;
        word::make_kind_at(TypeId::word, std::string(symbol::name(name.word_symbol())).c_str(), w);
        word::set_value(w, fn);
    }
}

// Binds the action's word to an action! value made from its spec.
inline void define_action(Action a) {
    const Cell spec = load(actions::spec(a).arguments);
    Cell fn;
    native::make_at(fn, TypeId::action, spec, static_cast<std::int32_t>(a));
    Cell w;
    word::make_kind_at(TypeId::word, actions::spec(a).name, w);
    word::set_value(w, fn);
}

class Natives : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (booted) return;
        booted = true;
        runtime::init();
        for (int t = 1; t <= registry::highest_type(); ++t) {
            if (registry::type_name(static_cast<TypeId>(t)).name == nullptr) continue;
            Cell w = registry::type_name(static_cast<TypeId>(t)).word;
            Cell dt;
            datatype::make_at(static_cast<TypeId>(t), dt);
            word::set_value(w, dt);
        }
        const Cell plain[] = {none::value, logic::true_value, logic::false_value};
        const char* names[] = {"none", "true", "false"};  // boot data sets these
        for (int i = 0; i < 3; ++i) {
            Cell w;
            word::make_kind_at(TypeId::word, names[i], w);
            word::set_value(w, plain[i]);
        }
        define_action(Action::next);
        define_action(Action::length_q);
        const std::string here = __FILE__;
        define_boot_typesets(here.substr(0, here.rfind("/tests/")));
        define_natives(here.substr(0, here.rfind("tests/")) + "library/natives/maths.kiv");
    }
    void SetUp() override {
        frames = stack::state.frames_top;
        base = stack::state.base;
        top = stack::state.top;
        stack::push_barrier_frame(nullptr);
    }
    void TearDown() override {  // an error leaves the stacks where it arose
        stack::state.frames_top = frames;
        stack::state.base = base;
        stack::state.top = top;
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
    stack::Frame* frames = nullptr;
    Cell* base = nullptr;
    Cell* top = nullptr;
};

// One expression and the mold of its result.
struct Case {
    const char* code;
    const char* expected;
};

}  // namespace kiv::test
