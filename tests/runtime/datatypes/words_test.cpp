// The datatype registry, the simple types, symbols, contexts and binding, the
// word types, issue! and the well-known words, built from C++.
#include "runtime/datatypes/registry.h"

#include "runtime/text/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/cycles.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace kiv {
namespace {

using test::mold;
using test::form;

const auto* const runtime_env = test::boot_runtime();

std::int32_t compare(Cell a, Cell b, CompareOp op) {
    return registry::handler<Action::compare>(a.type())(&a, &b, op);
}

Cell word_of(const char* name, TypeId t = TypeId::word) {
    Cell w{};
    word::make_kind_at(t, name, w);
    return w;
}

Cell make_block() {
    Cell b{};
    block::make_at(b, 4);
    return b;
}

std::string error_id(auto&& fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

// --- Registry -------------------------------------------------------------------

TEST(Registry, NamesAndLengths) {
    const auto& word_name = registry::type_name(TypeId::set_word);
    EXPECT_STREQ(word_name.name, "set-word!");
    EXPECT_EQ(word_name.length, 8);
    ASSERT_TRUE(word_name.word.is(TypeId::word));
    EXPECT_EQ(symbol::name(word_name.word.word_symbol()), "set-word!");
    EXPECT_GE(registry::highest_type(), static_cast<int>(TypeId::issue));
}

TEST(Registry, InheritanceCopiesTheParentSlot) {
    // Children that inherit hold their parent's handler; the rest keep their own.
    EXPECT_EQ(registry::handler_slot(TypeId::lit_word, Action::compare),
              registry::handler_slot(TypeId::word, Action::compare));
    EXPECT_EQ(registry::handler_slot(TypeId::issue, Action::form),
              registry::handler_slot(TypeId::word, Action::form));
    EXPECT_EQ(registry::handler_slot(TypeId::set_word, Action::index_q),
              registry::handler_slot(TypeId::word, Action::index_q));
    EXPECT_EQ(registry::handler_slot(TypeId::refinement, Action::index_q), nullptr);
    EXPECT_NE(registry::handler_slot(TypeId::issue, Action::compare),
              registry::handler_slot(TypeId::word, Action::compare));
    EXPECT_EQ(registry::handler_slot(TypeId::path, Action::find),
              registry::handler_slot(TypeId::block, Action::find));
    EXPECT_EQ(registry::handler_slot(TypeId::block, Action::remove),
              registry::handler_slot(TypeId::series, Action::remove));
    for (int t = 1; t <= registry::highest_type(); ++t)
        EXPECT_EQ(registry::handler_slot(static_cast<TypeId>(t), Action::reserved), nullptr);
    EXPECT_EQ(registry::handler_slot(TypeId::context, Action::compare), nullptr);
}

std::int32_t parent_form(Cell*, NodeId, Cell*, std::int32_t) { return 1; }
std::int32_t child_form(Cell*, NodeId, Cell*, std::int32_t) { return 2; }

TEST(Registry, InheritanceIsFixedAtRegistration) {
    // A child takes each slot it does not list from its parent, once: a parent
    // changed after its child registered does not reach the child. A refused
    // slot stays empty. word! is lit-word!'s parent; both take their own
    // tables back at the end.
    static constexpr registry::Registration p1{TypeId::word,
                                               registry::table({{Action::form, parent_form}})};
    static constexpr registry::Registration c{TypeId::lit_word,
                                              registry::table({{Action::mold, registry::refuse}})};
    static constexpr registry::Registration p2{TypeId::word,
                                               registry::table({{Action::form, child_form}})};
    registry::register_type(p1);
    registry::register_type(c);
    registry::register_type(p2);
    EXPECT_EQ(registry::handler<Action::form>(TypeId::lit_word), parent_form);
    EXPECT_EQ(registry::handler<Action::mold>(TypeId::lit_word), nullptr);
    EXPECT_EQ(registry::handler<Action::form>(TypeId::word), child_form);
    word::init();
    word::init_lit_word();
}

TEST(RegistryDeathTest, WrongActionCountStopsWithStatusZero) {
    static constexpr registry::Registration r{TypeId::none, registry::table({})};
    EXPECT_EXIT(
        {
            dup2(2, 1);   // the report goes to standard output; let the matcher see it
            registry::register_type(r, 64);
            std::fprintf(stderr, "returned");   // never reached
        },
        ::testing::ExitedWithCode(0),
        "^\\*\\*\\* Datatype Error: invalid actions count for type: 3\n"
        "\\*\\*\\* Found: 61\n\\*\\*\\* Expected: 62\n$");
}

// --- datatype!, unset!, none!, logic! ---------------------------------------------

TEST(Simple, MoldsAndForms) {
    Cell dt{};
    datatype::make_at(TypeId::logic, dt);
    Cell u{}, n = none::value, t = logic::true_value, f = logic::false_value;
    unset::make_at(u);
    std::int32_t left = 0;
    struct Case { Cell c; std::string mold, mold_all, form; };
    const Case cases[] = {
        {dt, "logic!", "#(logic!)", "logic"},
        {u, "unset", "#(unset)", ""},
        {n, "none", "#(none)", "none"},
        {t, "true", "#(true)", "true"},
        {f, "false", "#(false)", "false"},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(mold(k.c, {}, 100, &left), k.mold);
        EXPECT_EQ(left, 100 - static_cast<std::int32_t>(k.mold.size()));
        EXPECT_EQ(mold(k.c, {.all = true}, 100, &left), k.mold_all);
        EXPECT_EQ(left, 100 - static_cast<std::int32_t>(k.mold_all.size()));
        EXPECT_EQ(form(k.c), k.form);
    }
}

TEST(Simple, Comparisons) {
    Cell i1{}, i2{};
    datatype::make_at(TypeId::logic, i1);
    datatype::make_at(TypeId::block, i2);
    EXPECT_EQ(compare(i1, i1, CompareOp::equal), 0);
    EXPECT_EQ(compare(i1, i2, CompareOp::equal), 1);
    EXPECT_EQ(compare(i1, none::value, CompareOp::equal), 1);
    EXPECT_EQ(compare(i1, i2, CompareOp::lesser), not_comparable);
    EXPECT_EQ(compare(none::value, none::value, CompareOp::equal), 0);
    EXPECT_EQ(compare(none::value, logic::true_value, CompareOp::lesser), not_comparable);
    EXPECT_EQ(compare(none::value, none::value, CompareOp::lesser), not_comparable);
    EXPECT_LT(compare(logic::false_value, logic::true_value, CompareOp::sort), 0);
    EXPECT_EQ(compare(logic::true_value, logic::true_value, CompareOp::equal), 0);
    EXPECT_EQ(compare(logic::true_value, none::value, CompareOp::equal), not_comparable);
}

TEST(Simple, TruthAndConversions) {
    Cell u{};
    unset::make_at(u);
    EXPECT_FALSE(logic::true_value_q(none::value, false));
    EXPECT_FALSE(logic::true_value_q(logic::false_value, false));
    EXPECT_TRUE(logic::true_value_q(u, false));
    EXPECT_EQ(error_id([&] { logic::true_value_q(u, true); }), "no-value");
    EXPECT_EQ(error_id([&] { logic::true_result_q(u); }), "no-return");
    EXPECT_TRUE(logic::false_result_q(none::value));

    Cell zero{}, out{};
    zero.reset(TypeId::integer);
    zero.set_int(0);
    logic::to(&out, &zero, TypeId::logic);
    EXPECT_EQ(out.logic_value(), 1u);   // to: only none and false are false
    logic::make(&out, &zero, TypeId::logic);
    EXPECT_EQ(out.logic_value(), 0u);   // make: zero is false
    Cell nan{};
    nan.reset(TypeId::float_);
    nan.set_f64(std::numeric_limits<double>::quiet_NaN());
    logic::make(&out, &nan, TypeId::logic);
    EXPECT_EQ(out.logic_value(), 1u);

    Cell a = logic::true_value, b = logic::false_value;
    EXPECT_EQ(logic::xor_(&a, &b)->logic_value(), 1u);
    EXPECT_EQ(logic::and_(&a, &b)->logic_value(), 0u);
    EXPECT_EQ(logic::complement(&a)->logic_value(), 1u);
    EXPECT_EQ(error_id([&] { logic::or_(&a, &zero); }), "expect-arg");
    EXPECT_EQ(registry::handler<Action::length_q>(TypeId::none)(&a), -1);
}

// --- Symbols --------------------------------------------------------------------

TEST(Symbol, CaseVariantsShareACanonicalId) {
    const auto foo = symbol::make("Foo");
    const auto FOO = symbol::make("FOO");
    const auto fOO = symbol::make("fOO");
    EXPECT_NE(foo, FOO);
    EXPECT_NE(FOO, fOO);
    EXPECT_EQ(symbol::alias_of(foo), -1);
    EXPECT_EQ(symbol::alias_of(FOO), static_cast<std::int32_t>(foo));
    EXPECT_EQ(symbol::alias_of(fOO), static_cast<std::int32_t>(foo));
    EXPECT_EQ(symbol::resolve_alias(fOO), foo);
    const auto count = symbol::count();
    EXPECT_EQ(symbol::make("FOO"), FOO);
    EXPECT_EQ(symbol::count(), count);
    EXPECT_EQ(symbol::make_folded("fOo"), foo);
    EXPECT_EQ(symbol::count(), count);
    EXPECT_EQ(symbol::name(fOO), "fOO");
}

TEST(Symbol, NameStringIsMadeOnce) {
    const auto id = symbol::make("größe");
    const NodeId first = symbol::ensure_name_string(*symbol::get_entry(id));
    EXPECT_NE(first, 0u);
    EXPECT_EQ(symbol::ensure_name_string(*symbol::get_entry(id)), first);
    Cell s{};
    s.reset(TypeId::string);
    s.set_series_node(first);
    EXPECT_EQ(string::length_from_start(s), 5);
    EXPECT_EQ(string::get_char_at_index(s, 2), 0xF6u);
}

// --- Contexts and binding -----------------------------------------------------------

TEST(Context, BindingIsCaseInsensitiveAndKeepsTheSpelling) {
    const NodeId ctx = context::make(0, false, false, context::Kind::plain);   // 0 means 1
    Cell foo = word_of("foo");
    context::put_word_value(ctx, foo, logic::true_value);
    Cell blk = make_block();
    block::append_copy(blk, word_of("Foo"));
    block::append_copy(blk, word_of("bar"));
    context::bind_block(blk, ctx, false);
    const Cell bound = *block::get_cell(blk, 0);
    EXPECT_EQ(bound.word_context(), ctx);
    EXPECT_EQ(bound.word_index(), 0);
    EXPECT_EQ(symbol::name(bound.word_symbol()), "Foo");
    EXPECT_TRUE(context::get_word_cell(bound)->is(TypeId::logic));
    EXPECT_EQ(block::get_cell(blk, 1)->word_context(), context::global());   // left as it was
}

TEST(Context, SelfContainingBlockBindsOnce) {
    const NodeId ctx = context::make(2, false, false, context::Kind::plain);
    context::put_word_value(ctx, word_of("a"), none::value);
    Cell blk = make_block();
    block::append_copy(blk, word_of("a"));
    block::append_copy(blk, blk);   // the block holds itself
    context::bind_block(blk, ctx, false);
    EXPECT_EQ(block::get_cell(blk, 0)->word_context(), ctx);
    EXPECT_EQ(cycles::depth(), 0);
}

TEST(Context, SelfReadsTheOwner) {
    const NodeId ctx = context::make(1, false, true, context::Kind::object);
    *context::owner(ctx) = logic::true_value;
    Cell blk = make_block();
    block::append_copy(blk, word_of("self"));
    context::bind_block(blk, ctx, true);
    const Cell self = *block::get_cell(blk, 0);
    EXPECT_EQ(self.word_index(), -1);
    EXPECT_TRUE(context::get_word_cell(self)->is(TypeId::logic));
    Cell other = word_of("zork");
    other.set_word_index(-1);
    EXPECT_EQ(error_id([&] { context::get_word_cell(other); }), "no-value");
}

TEST(Context, StackContextValuesLiveOnTheStack) {
    Cell spec = make_block();
    for (const char* n : {"x", "y", "x"}) block::append_copy(spec, word_of(n));
    block::append_copy(spec, word_of("z", TypeId::set_word));   // set-words are not taken
    const NodeId ctx = context::make_from_block(spec, true, false, context::Kind::function);
    EXPECT_EQ(context::word_count(ctx), 2);
    Cell y = word_of("y");
    ASSERT_EQ(context::bind_word(ctx, y), 1);
    EXPECT_EQ(error_id([&] { context::get_word_cell(y); }), "not-in-context");
    EXPECT_EQ(error_id([&] { context::set_word(y, none::value); }), "not-defined");

    Cell stack[8]{};
    context::set_argument_stack(stack);
    EXPECT_EQ(context::set_stack_values(ctx, 3), -1);
    context::set_word(y, logic::true_value);
    EXPECT_TRUE(stack[4].is(TypeId::logic));
    EXPECT_EQ(context::set_stack_values(ctx, -1), 3);
    EXPECT_EQ(context::value_at(ctx, 0), nullptr);
}

TEST(Context, GlobalCaseVariantsShareTheSlot) {
    Cell lower = word_of("shared-slot");
    context::set_word(lower, logic::true_value);
    Cell upper = word_of("SHARED-SLOT");
    EXPECT_EQ(upper.word_index(), lower.word_index());
    EXPECT_EQ(symbol::name(upper.word_symbol()), "SHARED-SLOT");
    EXPECT_TRUE(context::get_word_cell(upper)->is(TypeId::logic));
}

TEST(Context, CollectSetWordsAndRenew) {
    Cell blk = make_block();
    block::append_copy(blk, word_of("p", TypeId::set_word));
    block::append_copy(blk, word_of("q"));
    block::append_copy(blk, word_of("P", TypeId::set_word));
    const NodeId ctx = context::make(1, false, false, context::Kind::object);
    EXPECT_TRUE(context::collect_set_words(ctx, blk));
    EXPECT_FALSE(context::collect_set_words(ctx, blk));
    EXPECT_EQ(context::word_count(ctx), 1);
    Cell obj{};
    obj.reset(TypeId::object);
    obj.set_own_context(ctx);
    context::renew(obj, context::Kind::object);
    EXPECT_NE(obj.object_context(), ctx);
    EXPECT_EQ(context::word_count(obj.object_context()), 1);
    EXPECT_EQ(context::word_at(obj.object_context(), 0)->word_context(), obj.object_context());
}

// --- Word types -------------------------------------------------------------------

TEST(Word, Molds) {
    struct Case { TypeId t; const char* mold; };
    const Case cases[] = {
        {TypeId::word, "abc"}, {TypeId::set_word, "abc:"}, {TypeId::lit_word, "'abc"},
        {TypeId::get_word, ":abc"}, {TypeId::refinement, "/abc"}, {TypeId::issue, "#abc"},
    };
    for (const Case& k : cases) {
        std::int32_t left = 0;
        EXPECT_EQ(mold(word_of("abc", k.t), {}, 100, &left), k.mold);
        EXPECT_EQ(left, 100 - static_cast<std::int32_t>(std::strlen(k.mold)));
        EXPECT_EQ(form(word_of("abc", k.t)), "abc");
    }
}

TEST(Word, Comparisons) {
    const Cell w = word_of("abc"), lit = word_of("abc", TypeId::lit_word);
    const Cell upper = word_of("ABC"), issue_ = word_of("abc", TypeId::issue);
    EXPECT_EQ(compare(w, lit, CompareOp::equal), 0);
    EXPECT_EQ(compare(w, lit, CompareOp::parse_strict), 0);
    EXPECT_EQ(compare(w, lit, CompareOp::parse_equal), 0);
    EXPECT_NE(compare(w, lit, CompareOp::strict_equal), 0);
    EXPECT_EQ(compare(w, upper, CompareOp::equal), 0);
    EXPECT_NE(compare(w, upper, CompareOp::strict_equal), 0);
    EXPECT_EQ(compare(w, upper, CompareOp::sort), 0);
    EXPECT_GT(compare(w, upper, CompareOp::case_sort), 0);
    EXPECT_LT(compare(w, word_of("abd"), CompareOp::lesser), 0);
    EXPECT_EQ(compare(w, issue_, CompareOp::equal), not_comparable);
    EXPECT_EQ(compare(issue_, w, CompareOp::equal), not_comparable);
    EXPECT_EQ(compare(issue_, word_of("ABC", TypeId::issue), CompareOp::equal), 0);
    EXPECT_EQ(compare(w, none::value, CompareOp::equal), not_comparable);
}

TEST(Word, ToAndIndex) {
    Cell out{}, spec{};
    string::make_at(spec, 8);
    string::append_nul_text(spec.series_node(), "abc");
    word::to(&out, &spec, TypeId::set_word);
    EXPECT_EQ(mold(out), "abc:");
    Cell digits{};
    string::make_at(digits, 8);
    string::append_nul_text(digits.series_node(), "123");
    EXPECT_EQ(error_id([&] { word::to(&out, &digits, TypeId::word); }), "invalid-chars");
    Cell t = logic::true_value;
    word::to(&out, &t, TypeId::word);
    EXPECT_EQ(out.word_context(), context::global());
    EXPECT_EQ(symbol::name(out.word_symbol()), "true");
    Cell dt{};
    datatype::make_at(TypeId::block, dt);
    word::to(&out, &dt, TypeId::word);
    EXPECT_EQ(mold(out), "block!");
    Cell n = none::value;
    EXPECT_EQ(error_id([&] { word::to(&out, &n, TypeId::word); }), "bad-to-arg");

    const NodeId ctx = context::make(2, false, false, context::Kind::plain);
    Cell a = word_of("first-one");
    context::put_word_value(ctx, a, none::value);
    context::bind_word(ctx, a);
    EXPECT_EQ(word::index_q(&a)->int_value(), 1);
    Cell unbound = word_of("x");
    unbound.set_word_index(-1);
    EXPECT_TRUE(word::index_q(&unbound)->is(TypeId::none));
}

TEST(Issue, MakeAndCompare) {
    Cell out{}, spec{};
    string::make_at(spec, 8);
    string::append_nul_text(spec.series_node(), "abc");
    issue::to(&out, &spec, TypeId::issue);
    EXPECT_EQ(mold(out), "#abc");
    EXPECT_EQ(out.word_index(), -1);
    const NodeId ctx = context::make(1, false, false, context::Kind::plain);
    Cell sw = word_of("abc", TypeId::set_word);
    context::put_word_value(ctx, sw, none::value);
    context::bind_word(ctx, sw);
    issue::to(&out, &sw, TypeId::issue);
    EXPECT_EQ(out.word_context(), ctx);   // binding kept
    EXPECT_EQ(form(out), "abc");
}

// --- Well-known words ------------------------------------------------------------

TEST(Words, MadeInOrderWithGlobalCells) {
    EXPECT_EQ(words::id(words::Sym::spec) + 1, words::id(words::Sym::body));
    // Datatype names come first: "code" made twice keeps one id.
    EXPECT_LT(words::id(words::Sym::logic_type), words::id(words::Sym::spec));
    EXPECT_EQ(symbol::name(words::id(words::Sym::bar)), "|");
    EXPECT_EQ(words::global(words::Global::to).word_context(), context::global());
    EXPECT_EQ(words::global(words::Global::to).word_symbol(), words::id(words::Sym::to));
    const Cell& t1 = words::word(words::Word::throw_);
    const Cell& t2 = words::word(words::Word::throw2);
    EXPECT_EQ(t1.word_symbol(), t2.word_symbol());
    EXPECT_EQ(words::word(words::Word::head).word_symbol(), words::id(words::Sym::head));
    EXPECT_EQ(words::refinement(words::Ref::local).word_context(), 0u);
    EXPECT_EQ(mold(words::refinement(words::Ref::with)), "/with");
    EXPECT_EQ(mold(words::issue_ooo()), "#ooo");
    EXPECT_EQ(mold(words::word(words::Word::anon)), "<anon>");
}

// Runs last: what the roots hold survives a collection that moves buffers.
TEST(Words, SymbolsAndGlobalsSurviveACollection) {
    Cell w = word_of("kept-across");
    context::set_word(w, logic::true_value);
    const auto sym = symbol::make("Kept-Across");
    for (int i = 0; i < 3; ++i) collector::collect();
    EXPECT_EQ(symbol::name(sym), "Kept-Across");
    EXPECT_EQ(symbol::resolve_alias(sym), w.word_symbol());
    EXPECT_TRUE(context::get_word_cell(w)->is(TypeId::logic));
    EXPECT_EQ(mold(words::word(words::Word::on_change_star)), "on-change*");
    EXPECT_EQ(symbol::make("kept-across"), w.word_symbol());
}

}  // namespace
}  // namespace kiv
