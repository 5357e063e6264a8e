// The call-back entry: arguments into slots, the stacks as they were after a
// call, errors passing on from call and coming back as values from the
// guarded form, whatever leaves the function.
#include "runtime/evaluator/callback.h"

#include "runtime/datatypes/error.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/words.h"

#include "tests/runtime/evaluator/natives_fixture.h"

#include <string>
#include <vector>

namespace kiv {
namespace {

class Callback : public test::Natives {
protected:
    // The values text loads to.
    std::vector<Cell> values(const std::string& text) {
        Cell blk = test::load(text);
        return {block::head_cell(blk), block::tail_cell(blk)};
    }
    static const Cell& name() { return words::word(words::Word::anon); }
    // The id word of an error! as text.
    static std::string id_of(const Cell& error) {
        return std::string(symbol::name(error::field(error, error::Field::id)->word_symbol()));
    }
};

TEST_F(Callback, ArgumentsFillTheSlotsAndTheStacksStay) {
    const Cell fn = eval("func [a [integer!] b /r x /local y] [reduce [a b r x y]]");
    const struct {
        const char* args;
        const char* expected;
    } cases[] = {
        {"1 2", "[1 2 false none none]"},        // slots past the arguments as in a call
        {"1 2 yes 9 8 7 6", "[1 2 yes 9 7]"},  // past the last slot: left out
        {"1", "[1 none false none none]"},
        {"", "[none none false none none]"},
    };
    for (const auto& c : cases) {
        const std::vector<Cell> args = values(c.args);
        stack::Frame* const frames = stack::top_frame();
        Cell* const top = stack::top();
        const Cell result = callback::call(fn, args.data(), static_cast<std::int32_t>(args.size()), name());
        EXPECT_EQ(test::mold(result), c.expected) << c.args;
        EXPECT_EQ(stack::top_frame(), frames);
        EXPECT_EQ(stack::top(), top);
    }
}

TEST_F(Callback, HandsBackTheSlotsAsTheFunctionLeftThem) {
    const Cell fn = eval("func [a b c] [b: 'moved a + 1]");
    const std::vector<Cell> args = values("41 x y");
    Cell back[3];
    const Cell result = callback::call(fn, args.data(), 3, name(), 0, back);
    EXPECT_EQ(test::mold(result), "42");
    EXPECT_EQ(test::mold(back[0]), "42");  // the result slot
    EXPECT_EQ(test::mold(back[1]), "moved");
    EXPECT_EQ(test::mold(back[2]), "y");
}

TEST_F(Callback, ErrorsPassOnFromCall) {
    const Cell fn = eval("func [a [integer!]] [a]");
    const std::vector<Cell> args = values("\"text\"");
    try {
        callback::call(fn, args.data(), 1, name());
        FAIL() << "a string for an integer! argument";
    } catch (const LanguageError& e) {
        EXPECT_EQ(std::string(e.id), "expect-arg");
    }
}

TEST_F(Callback, GuardedCallsReturnTheirOutcome) {
    const struct {
        const char* fn;
        bool ok;
        const char* value;  // the result's mold, or the error's id
    } cases[] = {
        {"func [a] [a * 2]", true, "42"},
        {"func [a] [return a]", true, "21"},
        {"func [a] [a / 0]", false, "zero-divide"},
        {"func [a] [cause-error 'user 'message [\"no\"]]", false, "message"},
        {"func [a] [break]", false, "break"},             // exits stop at the barrier
        {"func [a] [throw a]", false, "throw"},
        {"func [a] [do make error! \"made\"]", false, "message"},
        {"func [a] [f: func [] [f] f]", false, "stack-overflow"},
    };
    const std::vector<Cell> args = values("21");
    for (const auto& c : cases) {
        const Cell fn = eval(c.fn);
        stack::Frame* const frames = stack::top_frame();
        Cell* const base = stack::base();
        Cell* const top = stack::top();
        const callback::Outcome out = callback::call_guarded(fn, args.data(), 1, name());
        EXPECT_EQ(out.ok, c.ok) << c.fn;
        if (out.ok) EXPECT_EQ(test::mold(out.value), c.value) << c.fn;
        else EXPECT_EQ(id_of(out.value), c.value) << c.fn;
        EXPECT_EQ(stack::top_frame(), frames) << c.fn;
        EXPECT_EQ(stack::base(), base) << c.fn;
        EXPECT_EQ(stack::top(), top) << c.fn;
    }
}

}  // namespace
}  // namespace kiv
