// error! values, the error catalogue and the error report, built from C++.
#include "runtime/datatypes/error.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace kiv {
namespace {

using test::form;
using test::mold;

const auto* const runtime_env = test::boot_runtime();

Cell word_of(const char* name, TypeId kind = TypeId::word) {
    Cell w{};
    word::make_kind_at(kind, name, w);
    return w;
}

Cell int_of(std::int32_t n) {
    Cell c{};
    c.reset(TypeId::integer);
    c.set_int(n);
    return c;
}

Cell text_cell(const std::string& s) {
    Cell c{};
    string::make_at(c, static_cast<std::int32_t>(s.size()));
    string::append_utf8(c.series_node(), s.data(), static_cast<std::int32_t>(s.size()));
    return c;
}

Cell make_error(Cell spec) {
    Cell result{};
    registry::handler<Action::make>(TypeId::error)(&result, &spec, TypeId::error);
    return result;
}

std::string name_of(const Cell& w) { return std::string(symbol::name(w.word_symbol())); }

// The language error a call raises, with its error! value.
template <typename F>
LanguageError raised(F f) {
    try {
        f();
    } catch (const LanguageError& e) {
        return e;
    }
    ADD_FAILURE() << "nothing raised";
    return LanguageError{};
}

const std::string tail = "\n*** Where: ???\n*** Near : none";

// Positions fixed by the raisers: code = category x 100 + position - 2, both
// through the catalogue's look-up and through make error! of the code.
TEST(ErrorCatalog, FixedPositionsGiveTheirCodes) {
    struct Case { ErrorCategory category; const char* id; std::int32_t position; };
    const Case cases[] = {
        {ErrorCategory::script, "no-value", 2},        {ErrorCategory::script, "need-value", 3},
        {ErrorCategory::script, "not-defined", 4},     {ErrorCategory::script, "expect-arg", 7},
        {ErrorCategory::script, "invalid-arg", 11},    {ErrorCategory::script, "out-of-range", 43},
        {ErrorCategory::script, "bad-make-arg", 55},   {ErrorCategory::script, "invalid-spec-field", 58},
        {ErrorCategory::script, "draw-invalid", 77},   {ErrorCategory::script, "draw-infinite", 78},
        {ErrorCategory::math, "zero-divide", 2},       {ErrorCategory::access, "no-create", 13},
        {ErrorCategory::internal, "no-memory", 4},     {ErrorCategory::internal, "wrong-mem", 5},
        {ErrorCategory::internal, "too-deep", 8},      {ErrorCategory::internal, "invalid-error", 12},
        {ErrorCategory::user, "message", 2},
    };
    for (const Case& c : cases) {
        const auto category = static_cast<std::int32_t>(c.category);
        EXPECT_EQ(error::find_id(category, c.id), c.position) << c.id;
        const std::int32_t code = category * 100 + c.position - 2;
        Cell e{};
        error::build(e, c.category, c.id);
        EXPECT_EQ(error::field(e, error::Field::code)->int_value(), code) << c.id;
        const Cell made = make_error(int_of(code));
        EXPECT_EQ(name_of(*error::field(made, error::Field::id)), c.id);
        EXPECT_EQ(name_of(*error::field(made, error::Field::type)),
                  name_of(error::category_word(category)));
    }
    EXPECT_EQ(error::category_count(), 10);
    EXPECT_EQ(error::find_id(3, "code"), -1);  // code and type are no ids
    EXPECT_EQ(error::find_id(3, "no-such-id"), -1);
}

TEST(ErrorReport, SubstitutesArguments) {
    Cell e{};
    const Cell foo = word_of("foo");
    error::build(e, ErrorCategory::script, "no-value", &foo);
    EXPECT_EQ(form(e), "*** Script Error: foo has no value" + tail);

    Cell type{};
    type.reset(TypeId::datatype);
    type.set_datatype_id(TypeId::integer);
    const Cell fn = word_of("append");
    const Cell arg = word_of("series");
    error::build(e, ErrorCategory::script, "expect-arg", &fn, &type, &arg);
    EXPECT_EQ(form(e), "*** Script Error: append does not allow integer! for its series argument" + tail);

    // syntax arguments are formed, others molded: strings keep their quotes
    const Cell where = text_cell("(line 3)");
    const Cell excerpt = text_cell("1.2.x");
    error::build(e, ErrorCategory::syntax, "invalid", &where, &type, &excerpt);
    EXPECT_EQ(form(e), "*** Syntax Error: (line 3) invalid integer at 1.2.x" + tail);
    error::build(e, ErrorCategory::access, "cannot-open", &excerpt);
    EXPECT_EQ(form(e), "*** Access Error: cannot open: \"1.2.x\"" + tail);

    error::build(e, ErrorCategory::math, "zero-divide");
    EXPECT_EQ(form(e), "*** Math Error: attempt to divide by zero" + tail);
    EXPECT_EQ(form(make_error(text_cell("boom"))), "*** User Error: boom" + tail);
}

TEST(ErrorReport, WhereStackAndFiles) {
    Cell e{};
    error::build(e, ErrorCategory::math, "overflow");
    EXPECT_EQ(error::set_where_if_none(e, word_of("add")), TypeId::none);
    EXPECT_EQ(error::set_where_if_none(e, word_of("sub")), TypeId::word);  // kept the first
    Cell files{};
    block::make_at(files, 2);
    block::append_copy(files, word_of("main"));  // file! values once file! molds
    *error::field(e, error::Field::files) = files;
    EXPECT_EQ(form(e), "*** Math Error: math or number overflow\n*** Where: add\n*** Near : none"
                            "\n*** Files: main");
}

TEST(ErrorReport, LongArgumentsAreCut) {
    Cell e{};
    const Cell long_text = text_cell(std::string(200, 'x'));
    error::build(e, ErrorCategory::script, "invalid-arg", &long_text);
    *error::field(e, error::Field::near) = long_text;
    const std::string r = form(e);
    // a text of 50 units or more molds in braces
    EXPECT_EQ(r, "*** Script Error: invalid argument: {" + std::string(79, 'x') +
                     "\n*** Where: ???\n*** Near : {" + std::string(39, 'x'));
}

TEST(ErrorReport, MalformedErrorBecomesInvalidError) {
    Cell e{};
    error::build(e, ErrorCategory::math, "zero-divide");
    *error::field(e, error::Field::type) = word_of("bogus");
    EXPECT_EQ(form(e), "*** Internal Error: invalid error object field value: bogus" + tail);
    EXPECT_EQ(name_of(*error::field(e, error::Field::id)), "invalid-error");

    error::build(e, ErrorCategory::math, "zero-divide");
    *error::field(e, error::Field::id) = word_of("nonsense");
    EXPECT_EQ(form(e), "*** Internal Error: invalid error object field value: nonsense" + tail);
}

TEST(ErrorMake, FromCodesAndBlocks) {
    EXPECT_EQ(name_of(*error::field(make_error(int_of(301)), error::Field::id)), "need-value");
    for (std::int32_t code : {1000, -1, 399, 102}) {  // 399: past script's last id; note has none
        const LanguageError e = raised([&] { make_error(int_of(code)); });
        EXPECT_STREQ(e.id, "out-of-range") << code;
        ASSERT_TRUE(e.error.is(TypeId::error));
        EXPECT_EQ(error::field(e.error, error::Field::arg1)->int_value(), code);
        EXPECT_EQ(error::field(e.error, error::Field::code)->int_value(), 341);
    }

    auto block_of = [](std::initializer_list<Cell> cells) {
        Cell b{};
        block::make_at(b, 4);
        for (const Cell& c : cells) block::append_copy(b, c);
        return b;
    };
    const Cell made = make_error(block_of({word_of("math"), word_of("zero-divide")}));
    EXPECT_EQ(error::field(made, error::Field::code)->int_value(), 400);

    struct Bad { Cell spec; const char* id; const char* arg1; };
    const Bad bad[] = {
        {block_of({word_of("script")}), "invalid-spec-field", "id"},
        {block_of({word_of("foo"), word_of("bar")}), "invalid-spec-field", "type"},
        {block_of({word_of("script"), word_of("bar")}), "invalid-spec-field", "id"},
        {block_of({int_of(1)}), "invalid-error", nullptr},
    };
    for (const Bad& b : bad) {
        const LanguageError e = raised([&] { make_error(b.spec); });
        EXPECT_STREQ(e.id, b.id);
        if (b.arg1) {
            EXPECT_EQ(name_of(e.args[0]), b.arg1);
        }
    }
    const LanguageError five = raised([&] { make_error(block_of({word_of("script"), int_of(5)})); });
    EXPECT_STREQ(five.id, "invalid-arg");
    EXPECT_EQ(five.args[0].int_value(), 5);

    const LanguageError none = raised([&] { Cell n{}; n.reset(TypeId::none); make_error(n); });
    EXPECT_STREQ(none.id, "bad-make-arg");
    EXPECT_EQ(form(none.error), "*** Script Error: cannot MAKE error! from: none" + tail);
}

TEST(ErrorRaise, BuildsTheErrorValue) {
    const Cell n = int_of(7);
    const LanguageError e = raised([&] { runtime::raise_error(ErrorCategory::script, "out-of-range", &n); });
    EXPECT_EQ(e.category, ErrorCategory::script);
    ASSERT_TRUE(e.error.is(TypeId::error));
    EXPECT_EQ(form(e.error), "*** Script Error: value out of range: 7" + tail);
    EXPECT_EQ(runtime::last_error().object_context(), e.error.object_context());

    // a raiser naming an id the catalogue lacks still reports, as invalid-error
    const LanguageError odd = raised([] { runtime::raise_error(ErrorCategory::math, "no-such-id"); });
    EXPECT_EQ(form(odd.error), "*** Internal Error: invalid error object field value: no-such-id" + tail);
}

TEST(ErrorMold, FieldsAsSetWords) {
    Cell e{};
    const Cell foo = word_of("foo");
    error::build(e, ErrorCategory::script, "no-value", &foo);
    EXPECT_EQ(mold(e, {.flat = true}),
              "make error! [code: 300 type: 'script id: 'no-value arg1: 'foo arg2: none arg3: none "
              "near: none where: none stack: none files: none]");
    const std::string multi = mold(e);
    EXPECT_EQ(multi.substr(0, 40), "make error! [\n    code: 300\n    type: 's");
    EXPECT_EQ(multi.substr(multi.size() - 17), "    files: none\n]");
}

}  // namespace
}  // namespace kiv
