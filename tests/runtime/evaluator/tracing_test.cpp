// Tracing: a tracer's event mask, the events it receives and the arguments it
// gets, and that the traced code's stacks are left as they were.
#include "runtime/evaluator/tracing.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv {
namespace {

const auto* const env = test::boot_runtime();

std::vector<symbol::SymbolId> events;   // the event words the tracer saw
std::vector<Cell> spans;                // its pair! arguments

Cell make_word(TypeId t, const char* name) {
    Cell w;
    word::make_kind_at(t, name, w);
    return w;
}

Cell make_block(std::initializer_list<Cell> cells) {
    const Cell blk = *block::make_in(nullptr, 8);
    for (const Cell& c : cells) block::append_copy(blk, c);
    return blk;
}

Cell integer(std::int32_t v) {
    Cell c;
    c.reset(TypeId::integer);
    c.set_int(v);
    return c;
}

// record event frame: remembers the event word and the stack span.
void record(bool, const std::int32_t*) {
    events.push_back(symbol::resolve_alias(stack::arg(0)->word_symbol()));
    spans.push_back(*stack::arg(1));
}
void add2(bool, const std::int32_t*) {
    stack::arg(0)->set_int(stack::arg(0)->int_value() + stack::arg(1)->int_value());
}

void define(const char* name, const Cell& value) {
    Cell w = make_word(TypeId::word, name);
    word::set_value(w, value);
}

Cell native_of(const Cell& spec, natives::Entry entry) {
    Cell fn;
    native::make_at(fn, TypeId::native, spec, natives::append(entry));
    return fn;
}

// A tracer: func [event code pos value ref frame] [<events> record event frame].
Cell tracer(const Cell* mask) {
    const Cell spec = make_block({make_word(TypeId::word, "event"), make_word(TypeId::word, "code"),
                                  make_word(TypeId::word, "pos"), make_word(TypeId::word, "value"),
                                  make_word(TypeId::word, "ref"), make_word(TypeId::word, "frame")});
    Cell body = *block::make_in(nullptr, 8);
    if (mask != nullptr) block::append_copy(body, make_block({*mask}));
    block::append_copy(body, make_word(TypeId::word, "record"));
    block::append_copy(body, make_word(TypeId::word, "event"));
    block::append_copy(body, make_word(TypeId::word, "frame"));
    Cell fn;
    function::make_at(fn, spec, &body, 0, 0, 0, 0);
    return fn;
}

class Tracing : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        define("record", native_of(make_block({make_word(TypeId::word, "e"),
                                               make_word(TypeId::word, "f")}), record));
        define("add2", native_of(make_block({make_word(TypeId::word, "a"),
                                             make_word(TypeId::word, "b")}), add2));
    }
    void SetUp() override { events.clear(); spans.clear(); }

    // Runs add2 1 2 under the tracer; returns the result.
    std::int32_t traced(const Cell& fn) {
        const Cell code = make_block({make_word(TypeId::word, "add2"), integer(1), integer(2)});
        Cell* const top = stack::top();
        stack::Frame* const frames = stack::top_frame();
        EXPECT_TRUE(tracing::install(fn));
        interpreter::eval_block(code, false);
        const std::int32_t r = (stack::top() - 1)->int_value();
        tracing::remove();
        EXPECT_EQ(stack::top(), top + 1);  // only the result was added
        EXPECT_EQ(stack::top_frame(), frames);
        stack::pop(1);
        return r;
    }
};

TEST_F(Tracing, MaskFromTheBodysFirstBlock) {
    const Cell calls = make_block({make_word(TypeId::word, "call"), make_word(TypeId::word, "end")});
    EXPECT_EQ(tracing::mask_of(tracer(&calls)),
              static_cast<std::uint32_t>(tracing::Event::call) |
                  static_cast<std::uint32_t>(tracing::Event::end));
    EXPECT_EQ(tracing::mask_of(tracer(nullptr)), tracing::default_mask);
}

TEST_F(Tracing, TracerSeesOnlyItsEvents) {
    const Cell calls = make_block({make_word(TypeId::word, "call")});
    EXPECT_EQ(traced(tracer(&calls)), 3);
    ASSERT_EQ(events.size(), 1u);  // add2 only: the tracer's own calls are not traced
    EXPECT_EQ(events[0], symbol::resolve_alias(words::word(words::Word::call).word_symbol()));
    EXPECT_TRUE(spans[0].is(TypeId::pair));
    EXPECT_LE(spans[0].pair_x(), spans[0].pair_y());
    EXPECT_FALSE(tracing::state.on);
    EXPECT_TRUE(tracing::tracer().is(TypeId::none));
}

TEST_F(Tracing, AllEventsWithoutAMaskBlock) {
    EXPECT_EQ(traced(tracer(nullptr)), 3);
    auto has = [](words::Word w) {
        const symbol::SymbolId s = symbol::resolve_alias(words::word(w).word_symbol());
        for (symbol::SymbolId e : events) if (e == s) return true;
        return false;
    };
    for (words::Word w : {words::Word::init, words::Word::enter, words::Word::fetch,
                          words::Word::open, words::Word::call, words::Word::return_,
                          words::Word::exit, words::Word::expr, words::Word::end})
        EXPECT_TRUE(has(w)) << static_cast<int>(w);
}

TEST_F(Tracing, NestedInstallIsRefused) {
    const Cell fn = tracer(nullptr);
    ASSERT_TRUE(tracing::install(fn));
    EXPECT_FALSE(tracing::install(fn));
    tracing::remove();
    EXPECT_FALSE(tracing::state.requested);
}

}  // namespace
}  // namespace kiv
