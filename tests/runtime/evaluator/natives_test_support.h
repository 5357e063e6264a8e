// Shared by the natives tests: boots the runtime, gives the datatype words
// their values and the typesets their values, makes the native! values of library/natives/control.kiv (the
// specs the runtime loads at start-up) and a few helper operators, and runs
// code loaded by the lexer under a barrier frame.
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
#include "runtime/raise.h"
#include "runtime/startup/startup.h"

#include "boot_typesets.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
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

inline void set_word(const char* name, const Cell& value) {
    Cell w;
    word::make_kind_at(TypeId::word, name, w);
    word::set_value(w, value);
}

// Helper natives: integer + and < and =, even? of an integer, next of a series.
inline void plus(bool, const std::int32_t*) {
    stack::arg(0)->set_int(stack::arg(0)->int_value() + stack::arg(1)->int_value());
}
inline void compare_result(bool r) {
    stack::arg(0)->reset(TypeId::logic);
    stack::arg(0)->data1 = r ? 1 : 0;
}
inline void less(bool, const std::int32_t*) {
    compare_result(stack::arg(0)->int_value() < stack::arg(1)->int_value());
}
inline void equal(bool, const std::int32_t*) {
    const Cell a = *stack::arg(0), b = *stack::arg(1);
    compare_result(a.type() == b.type() && a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3);
}
inline void next(bool, const std::int32_t*) {
    stack::arg(0)->set_series_head(stack::arg(0)->series_head() + 1);
}
inline void even(bool, const std::int32_t*) { compare_result(stack::arg(0)->int_value() % 2 == 0); }

inline void define_native(const char* name, const char* spec, natives::Entry entry, bool op) {
    const std::int32_t n = natives::append(entry);
    const Cell spec_block = load(spec);
    Cell fn;
    native::make_at(fn, TypeId::native, spec_block, n);
    if (op) fn.header = static_cast<std::uint32_t>(TypeId::op) | (static_cast<std::uint32_t>(TypeId::native) << 16);
    set_word(name, fn);
}

// Makes the natives of a spec file: lines `name: make native! [[spec] index]`.
inline void load_native_specs(const std::string& path) {
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    std::stringstream text;
    text << in.rdbuf();
    const Cell blk = load(text.str());
    const std::int32_t n = block::count_from_head(blk);
    for (std::int32_t i = 0; i + 3 < n + 1; i += 4) {
        Cell name = *block::get_cell(blk, i);
        const Cell body = *block::get_cell(blk, i + 3);
        ASSERT_TRUE(name.is(TypeId::set_word));
        ASSERT_TRUE(body.is(TypeId::block));
        const Cell spec = *block::get_cell(body, 0);
        const Cell index = *block::get_cell(body, 1);
        Cell fn;
        native::make_at(fn, TypeId::native, spec, index.int_value());
        name.set_type(TypeId::word);
        word::set_value(name, fn);
    }
}

class NativesEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        runtime::init();
        for (int t = 1; t <= registry::highest_type(); ++t) {
            Cell w = registry::type_name(static_cast<TypeId>(t)).word;
            if (!w.is(TypeId::word)) continue;
            Cell dt;
            dt.reset(TypeId::datatype);
            dt.data1 = static_cast<std::uint32_t>(t);
            word::set_value(w, dt);
        }
        set_word("true", logic::true_value);
        set_word("false", logic::false_value);
        set_word("none", none::value);
        const std::string here = __FILE__;
        const std::string root = here.substr(0, here.rfind("/tests/"));
        define_boot_typesets(root);
        load_native_specs(root + "/library/natives/control.kiv");
        define_native("+", "a b", plus, true);
        define_native("<", "a b", less, true);
        define_native("=", "a b", equal, true);
        define_native("even?", "n", even, false);
        define_native("next", "s", next, false);
    }
};

// Runs code under a barrier frame (as the console does); restores the stacks.
class NativesTest : public ::testing::Test {
protected:
    void SetUp() override {
        frames = stack::state.frames_top;
        base = stack::state.base;
        top = stack::state.top;
        stack::push_barrier_frame(nullptr);
    }
    void TearDown() override { restore(false); }
    void restore(bool barrier = true) {
        stack::state.frames_top = frames;
        stack::state.base = base;
        stack::state.top = top;
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
        Cell out;
        string_out(out);
        actions::mold_to(&r, out.series_node(), false, false, true, -1);
        return utf8_of(out);
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
    static void string_out(Cell& out) { string::make_at(out, 64); }
    static std::string utf8_of(const Cell& text) {
        std::string s;
        const SeriesBuffer* buf = memory::buffer(text.series_node());
        const std::uint32_t unit = buf->unit();
        for (std::uint8_t* p = buf->head; p < buf->tail; p += unit)
            s += static_cast<char>(string::get_char(p, unit));  // the tests mold ASCII only
        return s;
    }
    stack::Frame* frames = nullptr;
    Cell* base = nullptr;
    Cell* top = nullptr;
};

}  // namespace kiv::test
