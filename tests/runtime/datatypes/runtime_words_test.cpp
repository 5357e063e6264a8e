// The runtime words of the library: made in their fixed order, one global-context
// cell each, and once the library has run each names the value it should (the
// native of that index, the action of that slot, the datatype of that id).
#include "runtime/datatypes/words.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/core/raise.h"
#include "runtime/startup/embed.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

class RuntimeWords : public testing::Test {
protected:
    static void SetUpTestSuite() { embed::boot(); }
    static std::string name(const Cell& w) { return std::string(symbol::name(w.word_symbol())); }
    // The word's value; unset! for a name the library does not define yet.
    static Cell value(const Cell& w) {
        Cell out{};
        try {
            word::get_value(w, out);
        } catch (const LanguageError&) {
            out.reset(TypeId::unset);
        }
        return out;
    }
};

TEST_F(RuntimeWords, MadeInTheFixedOrder) {
    const struct { std::int32_t at; const char* name; } cases[] = {
        {0, "datatype!"}, {1, "make"}, {2, "unset!"}, {12, "float!"}, {13, "word!"},
        {40, "time!"}, {51, "event!"}, {52, "none"}, {54, "false"}, {55, "random"},
        {58, "form"}, {60, "absolute"}, {112, "write"}, {113, "if"}, {219, "apply"},
    };
    for (const auto& c : cases) EXPECT_EQ(name(words::runtime_word(c.at)), c.name) << c.at;
    for (std::int32_t i = 0; i < words::runtime_word_count; ++i) {
        const Cell& w = words::runtime_word(i);
        EXPECT_TRUE(w.is(TypeId::word)) << i;
        EXPECT_EQ(w.word_context(), context::global()) << name(w);
    }
    EXPECT_EQ(name(words::type_word(TypeId::point2d)), "point2D!");
    EXPECT_EQ(name(words::action_word(Action::open_q)), "open?");
    EXPECT_EQ(name(words::constant_word(words::Constant::true_)), "true");
    // A name made earlier keeps its symbol: the runtime word and the well-known one agree.
    EXPECT_EQ(words::native_word(natives::Native::repeat).word_symbol(), words::id(words::Sym::repeat));
}

TEST_F(RuntimeWords, NameWhatTheLibraryDefines) {
    std::int32_t defined = 0;
    for (std::int32_t n = 1; n <= natives::native_count; ++n) {
        const auto native = static_cast<natives::Native>(n);
        const Cell v = value(words::native_word(native));
        if (v.is(TypeId::unset)) continue;  // a native still to come
        ++defined;
        EXPECT_TRUE(v.is(TypeId::native)) << words::native_name(native);
        EXPECT_EQ(v.code_entry(), static_cast<std::uint32_t>(n)) << words::native_name(native);
    }
    EXPECT_GE(defined, 90);
    for (int a = 1; a <= action_count; ++a) {
        const auto action = static_cast<Action>(a);
        if (action == Action::eval_path || action == Action::reserved || action == Action::compare) continue;
        const Cell v = value(words::action_word(action));
        EXPECT_TRUE(v.is(TypeId::action)) << a;
        EXPECT_EQ(v.code_entry(), static_cast<std::uint32_t>(a)) << a;
    }
    for (TypeId t : {TypeId::datatype, TypeId::integer, TypeId::get_path, TypeId::map}) {
        const Cell v = value(words::type_word(t));
        EXPECT_TRUE(v.is(TypeId::datatype));
        EXPECT_EQ(v.datatype_id(), t);
    }
    EXPECT_TRUE(value(words::constant_word(words::Constant::none)).is(TypeId::none));
}

}  // namespace
}  // namespace kiv
