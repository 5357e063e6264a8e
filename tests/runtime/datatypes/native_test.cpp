// native!, action! and op!: make with its bounds, reflection, mold, and op!
// made from natives and functions (the binary-spec rule, the shared payload).
#include "runtime/datatypes/native.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace kiv {
namespace {

using test::mold;
using test::form;

const auto* const runtime_env = test::boot_runtime();

// Builds a block from space-separated tokens: [ ] nest, a: :a 'a /a are the
// word kinds, digits an integer!, "x" a string! (no spaces inside).
void read_into(std::istringstream& in, const Cell& blk) {
    std::string t;
    while (in >> t) {
        if (t == "]") return;
        if (t == "[") {
            const Cell inner = *block::make_in(&blk, 4);
            read_into(in, inner);
            continue;
        }
        Cell c{};
        if (t[0] == '"') {
            string::make_at(c, 8);
            string::append_nul_text(c.series_node(), t.substr(1, t.size() - 2).c_str());
        } else if (isdigit(static_cast<unsigned char>(t[0]))) {
            integer::make_at(c, std::stoi(t));
        } else {
            TypeId kind = TypeId::word;
            if (t.back() == ':') { kind = TypeId::set_word; t.pop_back(); }
            else if (t[0] == ':') { kind = TypeId::get_word; t.erase(0, 1); }
            else if (t[0] == '\'') { kind = TypeId::lit_word; t.erase(0, 1); }
            else if (t[0] == '/') { kind = TypeId::refinement; t.erase(0, 1); }
            word::make_at(symbol::make(t.c_str()), c);
            c.set_type(kind);
        }
        block::append_copy(blk, c);
    }
}

Cell blk(const char* source) {
    Cell b{};
    block::make_at(b, 8);
    std::istringstream in(source);
    read_into(in, b);
    return b;
}

template <typename Fn>
std::string error_of(Fn fn) {
    try {
        fn();
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "";
}

Cell make(TypeId type, const char* arg) {
    Cell a = blk(arg);
    Cell out{};
    registry::handler<Action::make>(type)(&out, &a, type);
    return out;
}

Cell field(const char* name) {
    Cell w{};
    word::make_at(symbol::make(name), w);
    return w;
}

Cell reflect(Cell v, const char* name) {
    Cell f = field(name);
    registry::handler<Action::reflect>(v.type())(&v, &f);
    return v;
}

TEST(Native, MakeReflectAndText) {
    const Cell n = make(TypeId::native, "[ a b ] 5");
    ASSERT_TRUE(n.is(TypeId::native));
    EXPECT_EQ(n.code_entry(), 5u);
    EXPECT_EQ(mold(n, {.flat = true}), "make native! [[a b]]");
    EXPECT_EQ(form(n), "?native?");
    EXPECT_EQ(reflect(n, "body").int_value(), 5);
    const Cell spec = reflect(n, "spec");
    EXPECT_TRUE(spec.is(TypeId::block));
    EXPECT_EQ(spec.series_node(), n.code_spec());  // shared, not copied
    EXPECT_EQ(error_of([&] { reflect(n, "words"); }), "not-done");

    const Cell a = make(TypeId::action, "[ series ] 62");
    EXPECT_EQ(mold(a, {.flat = true}), "make action! [[series]]");
    EXPECT_EQ(form(a), "?action?");
    EXPECT_EQ(reflect(a, "body").int_value(), 62);  // reflect is inherited from native!

    Cell n2 = make(TypeId::native, "[ a b ] 6");
    Cell n1 = n;
    EXPECT_LT(native::compare(&n1, &n2, CompareOp::sort), 0);
    EXPECT_EQ(native::compare(&n1, &n1, CompareOp::equal), 0);
    Cell a1 = a;
    EXPECT_EQ(native::compare(&n1, &a1, CompareOp::equal), not_comparable);
    EXPECT_EQ(native::compare(&n1, &n2, CompareOp::lesser), not_comparable);
}

TEST(Native, MakeRefusesBadArguments) {
    struct Case {
        TypeId type;
        const char* arg;
    };
    const Case cases[] = {
        {TypeId::native, "[ a ]"},       {TypeId::native, "[ a ] 1 2"}, {TypeId::native, "[ a ] 0"},
        {TypeId::native, "[ a ] 145"},   {TypeId::native, "a 1"},       {TypeId::action, "[ a ] 63"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&c] { make(c.type, c.arg); }), "bad-make-arg") << c.arg;
    EXPECT_TRUE(make(TypeId::native, "[ a ] 144").is(TypeId::native));
}

TEST(Op, OnlyBinarySpecsWithAPlainLeftArgument) {
    const char* valid[] = {"a b", "a 'b", "a :b", "\"doc\" a [ integer! ] b", "a b /local c",
                           "a b return: [ integer! ]", "a b /extern c"};
    const char* invalid[] = {"'a b", ":a b", "a", "a b c", "a /ref b", "a b /ref"};
    for (const char* s : valid) EXPECT_TRUE(op::valid_spec_q(blk(s))) << s;
    for (const char* s : invalid) EXPECT_FALSE(op::valid_spec_q(blk(s))) << s;
}

TEST(Op, MadeFromAFunctionSharesItsPayload) {
    Cell spec = blk("a b");
    Cell body = blk("a");
    Cell fn{};
    function::make_at(fn, spec, &body, 0, 0, 0, 0);
    Cell o{};
    op::make(&o, &fn, TypeId::op);
    ASSERT_TRUE(o.is(TypeId::op));
    EXPECT_EQ(o.op_source(), TypeId::function);
    EXPECT_EQ(o.code_extra(), fn.code_extra());
    const Cell* behind = function::extra_cell(fn, function::extra_op);
    EXPECT_TRUE(behind->is(TypeId::function));
    EXPECT_EQ(behind->code_entry(), fn.code_entry());
    EXPECT_EQ(mold(o, {.flat = true}), "make op! func [a b][a]");
    EXPECT_EQ(form(o), "?op?");
    const Cell b = reflect(o, "body");
    EXPECT_EQ(b.series_node(), function::extra_cell(fn, function::extra_body)->series_node());

    Cell o2 = o;
    EXPECT_EQ(native::compare(&o, &o2, CompareOp::equal), 0);

    Cell unary{};
    Cell s1 = blk("a");
    function::make_at(unary, s1, &body, 0, 0, 0, 0);
    EXPECT_EQ(error_of([&] { op::make(&o, &unary, TypeId::op); }), "bad-op-spec");
    Cell i{};
    integer::make_at(i, 1);
    EXPECT_EQ(error_of([&] { op::make(&o, &i, TypeId::op); }), "invalid-type");
}

TEST(Op, MadeFromANative) {
    Cell n = make(TypeId::native, "[ a b ] 7");
    Cell o{};
    op::make(&o, &n, TypeId::op);
    EXPECT_EQ(o.op_source(), TypeId::native);
    EXPECT_EQ(mold(o, {.flat = true}), "make op! [[a b]]");
    EXPECT_EQ(reflect(o, "body").int_value(), 7);
}

}  // namespace
}  // namespace kiv
