// object!: making from specs and prototypes (class ids, deep copies), paths,
// put/select, reflection, mold and form, comparison, `set` on objects and the
// change handlers, including deep changes reported through ownership.
#include "runtime/datatypes/object.h"

#include "runtime/text/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/io/lexer.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

using test::mold;
using test::form;

const auto* const env = test::boot_runtime();

// A block of the text's values, kept in the root block.
Cell load(const std::string& text) {
    Cell out{};
    lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(text.data()),
                static_cast<std::int32_t>(text.size()), lexer::ScanRequest{}, nullptr);
    if (!out.is(TypeId::block)) block::make_at(out, 1);
    return *block::append_copy(block::root(), out);
}

// Keeps a made object alive for the rest of the run.
Cell keep(const Cell& obj) { return *block::append_copy(block::root(), obj); }

Cell make(const std::string& spec, const Cell* proto = nullptr) {
    const Cell s = load(spec);
    return keep(object::make_from_spec(proto, s));
}

Cell word_of(const char* name, TypeId t = TypeId::word) {
    Cell c{};
    word::make_kind_at(t, name, c);
    return c;
}

const Cell& field(const Cell& obj, const char* name) {
    return *object::get_word_field(obj, word_of(name));
}

// The id of the language error fn raises, or "" when it raises none.
template <class F>
std::string error_id(F fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

Cell* path_step(const Cell& obj, const char* name, Cell* new_value, bool get, bool last) {
    static Cell value, element;
    value = obj;
    element = word_of(name);
    PathStep step;
    step.get = get;
    step.last = last;
    return registry::handler<Action::eval_path>(TypeId::object)(&value, &element, new_value, step);
}

// A function! with spec and body whose words are bound to obj first, so the
// body can record into obj's fields.
Cell handler_function(const Cell& obj, const std::string& spec, const std::string& body) {
    const Cell s = load(spec);
    const Cell b = load(body);
    context::bind_block(b, obj.object_context(), true);
    Cell fn{};
    function::make_at(fn, s, &b, 0, 0, 0, 0);
    return keep(fn);
}

TEST(Object, SpecRunsInTheNewObject) {
    const Cell o = make("a: 1 b: a c: self");
    EXPECT_EQ(object::count_words(o), 3);
    EXPECT_EQ(field(o, "b").int_value(), 1);
    ASSERT_TRUE(field(o, "c").is(TypeId::object));
    EXPECT_EQ(field(o, "c").object_context(), o.object_context());
    EXPECT_GT(static_cast<std::int32_t>(o.object_class()), 0);
    EXPECT_EQ(object::find_word_index(o, word_of("zz")), -1);
    EXPECT_TRUE(field(o, "zz").is(TypeId::none));
}

TEST(Object, DerivingKeepsOrRenewsTheClassAndCopiesSeries) {
    const Cell p = make("a: 1 s: \"text\" k: [x]");
    const Cell same_shape = make("a: 2", &p);
    const Cell wider = make("d: 3", &p);
    EXPECT_EQ(same_shape.object_class(), p.object_class());
    EXPECT_NE(wider.object_class(), p.object_class());
    EXPECT_EQ(field(same_shape, "a").int_value(), 2);
    EXPECT_EQ(field(p, "a").int_value(), 1);  // the prototype is untouched
    EXPECT_NE(field(same_shape, "s").series_node(), field(p, "s").series_node());
    EXPECT_NE(field(same_shape, "k").series_node(), field(p, "k").series_node());
    EXPECT_EQ(object::count_words(wider), 4);
    // a copy keeps the class id; only /deep separates the series
    const Cell shallow = keep(object::copy(p, false));
    const Cell deep = keep(object::copy(p, true));
    EXPECT_EQ(shallow.object_class(), p.object_class());
    EXPECT_EQ(field(shallow, "s").series_node(), field(p, "s").series_node());
    EXPECT_NE(field(deep, "s").series_node(), field(p, "s").series_node());
}

TEST(Object, BadSpecsAreErrors) {
    const Cell n = word_of("x");
    EXPECT_EQ(error_id([&] { object::make_from_spec(nullptr, n); }), "malconstruct");
    // a handler field that holds no function
    EXPECT_EQ(error_id([&] { make("on-change*: 1"); }), "bad-field-set");
}

TEST(Object, PathsReadAndSetFields) {
    const Cell o = make("a: 1 u: 0");
    Cell v{};
    v.reset(TypeId::integer);
    v.set_int(7);
    path_step(o, "a", &v, false, true);
    EXPECT_EQ(field(o, "a").int_value(), 7);
    EXPECT_EQ(path_step(o, "a", nullptr, false, true)->int_value(), 7);
    // a missing field: unset for a get-path at the end, else the path errors
    EXPECT_TRUE(path_step(o, "nope", nullptr, true, true)->is(TypeId::unset));
    EXPECT_EQ(error_id([&] { path_step(o, "nope", nullptr, false, true); }), "invalid-path");
    EXPECT_EQ(error_id([&] { path_step(o, "nope", nullptr, false, false); }), "unset-path");
    EXPECT_EQ(error_id([&] { path_step(o, "nope", &v, false, true); }), "invalid-path");
    EXPECT_EQ(error_id([&] { path_step(o, "self", &v, false, true); }), "invalid-path");
}

TEST(Object, PutSelectAndReflect) {
    const Cell o = make("a: 1 w: 'x");
    auto select = registry::handler<Action::select>(TypeId::object);
    auto put = registry::handler<Action::put>(TypeId::object);
    auto reflect = registry::handler<Action::reflect>(TypeId::object);
    Cell c = o, k = word_of("missing");
    EXPECT_TRUE(select(&c, &k, {})->is(TypeId::none));
    c = o;
    Cell bad{};
    bad.reset(TypeId::integer);
    EXPECT_EQ(error_id([&] { select(&c, &bad, {}); }), "invalid-type");
    EXPECT_EQ(error_id([&] { put(&c, &bad, &bad, false); }), "invalid-key-type");
    c = o;
    k = word_of("a");
    Cell v{};
    v.reset(TypeId::integer);
    v.set_int(5);
    put(&c, &k, &v, false);
    EXPECT_EQ(field(o, "a").int_value(), 5);

    c = o;
    Cell what = word_of("words");
    EXPECT_EQ(mold(*reflect(&c, &what)), "[a w]");
    c = o;
    what = word_of("body");
    EXPECT_EQ(mold(*reflect(&c, &what)), "[\n    a: 5\n    w: 'x\n]");
    c = o;
    what = word_of("class");
    EXPECT_EQ(reflect(&c, &what)->int_value(), static_cast<std::int32_t>(o.object_class()));
    c = o;
    what = word_of("changed");  // put marked a as changed
    EXPECT_EQ(mold(*reflect(&c, &what)), "[a]");
    c = o;
    what = word_of("nonsense");
    EXPECT_EQ(error_id([&] { reflect(&c, &what); }), "not-done");
}

TEST(Object, MoldAndForm) {
    const Cell o = make("a: 1 w: 'x s: \"t\"");
    EXPECT_EQ(mold(o), "make object! [\n    a: 1\n    w: 'x\n    s: \"t\"\n]");
    EXPECT_EQ(mold(o, {.flat = true}), "make object! [a: 1 w: 'x s: \"t\"]");
    EXPECT_EQ(form(o), "a: 1\nw: 'x\ns: \"t\"");
    // nested objects indent one level deeper; a cycle prints its marker
    const Cell outer = make("inner: 0 me: self");
    Cell* slot = context::value_at(outer.object_context(), 0);
    *slot = o;
    EXPECT_EQ(mold(outer), "make object! [\n    inner: make object! [\n        a: 1\n        w: 'x\n"
                           "        s: \"t\"\n    ]\n    me: make object! [...]\n]");
}

TEST(Object, Compare) {
    auto compare = registry::handler<Action::compare>(TypeId::object);
    Cell a = make("x: 1 y: 2"), b = make("x: 1 y: 2"), c = make("x: 1 y: 3"), d = make("x: 1");
    EXPECT_EQ(compare(&a, &b, CompareOp::equal), 0);
    EXPECT_NE(compare(&a, &b, CompareOp::same), 0);
    EXPECT_EQ(compare(&a, &a, CompareOp::same), 0);
    EXPECT_LT(compare(&a, &c, CompareOp::lesser), 0);
    EXPECT_GT(compare(&a, &d, CompareOp::lesser), 0);
    Cell n{};
    n.reset(TypeId::integer);
    EXPECT_EQ(compare(&a, &n, CompareOp::equal), not_comparable);
}

TEST(Object, SetFieldsAndConstruct) {
    Cell o = make("a: 1 b: 2 c: 3");
    const Cell src = load("10 20");
    object::set_fields(o, src, {});
    EXPECT_EQ(field(o, "a").int_value(), 10);
    EXPECT_EQ(field(o, "b").int_value(), 20);
    EXPECT_TRUE(field(o, "c").is(TypeId::none));  // beyond the block's end
    const Cell with_unset = make("p: 1 q: 2");
    Cell target = make("p: 0 q: 0");
    context::value_at(with_unset.object_context(), 1)->reset(TypeId::unset);
    EXPECT_EQ(error_id([&] { object::set_fields(target, with_unset, {}); }),
              "need-value");
    EXPECT_EQ(field(target, "p").int_value(), 0);  // refused before any field changed

    const Cell spec = load("a: b: on c: none d: 'x e:");
    const Cell k = keep(object::push_from_spec(nullptr, spec, false));
    EXPECT_EQ(field(k, "a").logic_value(), 1u);
    EXPECT_EQ(field(k, "b").logic_value(), 1u);
    EXPECT_TRUE(field(k, "c").is(TypeId::none));
    EXPECT_TRUE(field(k, "e").is(TypeId::none));
    const Cell raw = keep(object::push_from_spec(nullptr, spec, true));
    EXPECT_TRUE(field(raw, "a").is(TypeId::word));
}

TEST(Object, OnChangeSeesEveryFieldAssignment) {
    Cell o = make("a: 1");
    // the handler records into another object: its own assignments would fire it again
    const Cell seen = keep(make("w: 0 old: 0 new: 0"));
    const Cell fn = handler_function(seen, "word o n", "w: word old: o new: n");
    context::put_word_value(o.object_context(), word_of("on-change*"), fn);
    object::install_change_handlers(o);
    keep(o);
    Cell v{};
    v.reset(TypeId::integer);
    v.set_int(2);
    path_step(o, "a", &v, false, true);
    EXPECT_EQ(field(o, "a").int_value(), 2);
    ASSERT_TRUE(field(seen, "w").is(TypeId::word));
    EXPECT_EQ(field(seen, "w").word_symbol(), word_of("a").word_symbol());
    EXPECT_EQ(field(seen, "old").int_value(), 1);
    EXPECT_EQ(field(seen, "new").int_value(), 2);
    // assigning the handler field itself does not fire it
    *context::value_at(seen.object_context(), 0) = none::value;
    path_step(o, "on-change*", const_cast<Cell*>(&fn), false, true);
    EXPECT_TRUE(field(seen, "w").is(TypeId::none));
    Cell c = o, what = word_of("events?");
    EXPECT_EQ(registry::handler<Action::reflect>(TypeId::object)(&c, &what)->logic_value(), 1u);
}

TEST(Object, DeepChangeReachesTheOwner) {
    Cell o = make("s: \"abc\" b: [1 [2]] seen: 0 act: 0");
    const Cell fn = handler_function(o, "owner word target action new index part",
                                     "seen: word act: action");
    context::put_word_value(o.object_context(), word_of("on-deep-change*"), fn);
    object::install_change_handlers(o);
    keep(o);
    // the object owns its series, nested blocks included
    const Cell nested = *block::get_cell(field(o, "b"), 1);
    ASSERT_NE(ownership::find_owner(nested.series_node()), nullptr);
    EXPECT_TRUE(ownership::check_owner(field(o, "s"), word_of("append"), nullptr, 0, 1));
    EXPECT_EQ(field(o, "seen").word_symbol(), word_of("s").word_symbol());
    EXPECT_EQ(field(o, "act").word_symbol(), word_of("append").word_symbol());
    EXPECT_TRUE(ownership::check_owner(nested, word_of("poke"), nullptr, 0, 1));
    EXPECT_EQ(field(o, "seen").word_symbol(), word_of("b").word_symbol());
    // a series stored later through a path joins the owner
    const Cell fresh = load("9");
    path_step(o, "b", const_cast<Cell*>(&fresh), false, true);
    EXPECT_NE(ownership::find_owner(fresh.series_node()), nullptr);
}

TEST(Object, ModifyAndCopyRefinements) {
    const Cell o = make("a: 1");
    Cell c = o, f = word_of("changed"), v{};
    v.reset(TypeId::integer);
    EXPECT_EQ(error_id([&] { registry::handler<Action::modify>(TypeId::object)(&c, &f, &v, false); }),
              "invalid-arg");
    c = o;
    Cell part{};
    part.reset(TypeId::integer);
    EXPECT_EQ(error_id([&] { registry::handler<Action::copy>(TypeId::object)(&c, &part, false, nullptr); }),
              "invalid-refine-arg");
}

}  // namespace
}  // namespace kiv
