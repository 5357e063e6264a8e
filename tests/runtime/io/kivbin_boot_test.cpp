// Loading a boot image: its values land in the root block with the
// collector held off; a damaged image ends the process with its reason.
// The boot image's own records: definitions, words bound by root index, and
// the image of the global context read back over the values it was made of.
#include "runtime/io/kivbin_boot.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/kivbin_encode.h"
#include "runtime/core/raise.h"

#include "tests/support/kivbin_stream.h"
#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

using Bytes = std::vector<std::uint8_t>;

Bytes image_of(std::string_view text) {
    const collector::Root keep(test::load(text));
    return kivbin::encode(keep.cell());
}

TEST(KivbinBoot, ImageValuesGoToTheRootBlock) {
    const collector::Root source(test::load("a \"text\"\n    b/c 1.5 #{0102} [x]"));
    const Bytes image = kivbin::encode(source.cell());
    const std::int32_t before = block::length_of(block::root());
    collector::set_enabled(true);
    const std::int32_t base = kivbin::load_boot_data(image);
    EXPECT_TRUE(collector::enabled());  // as it found it
    collector::set_enabled(false);
    EXPECT_EQ(base, before);
    ASSERT_EQ(block::length_of(block::root()), before + 1);
    EXPECT_EQ(test::mold(*block::get_cell(block::root(), base), {.all = true}),
              test::mold(source.cell(), {.all = true}));  // new-line markers included
}

// The names a stream's symbol table holds, read from its counts in either
// encoding, so that start-up can size its tables for a boot image once.
TEST(KivbinBoot, SymbolCountReadFromTheCounts) {
    const collector::Root words(test::load("alpha beta [gamma alpha] 'delta"));
    for (const bool compact : {true, false}) {
        SCOPED_TRACE(compact);
        const Bytes stream = kivbin::encode(words.cell(), {.compact = compact});
        EXPECT_EQ(kivbin::symbol_count(stream.data(), stream.size()), 4);
        EXPECT_EQ(kivbin::symbol_count(stream.data(), 10), 0);  // cut short
    }
    const Bytes none = image_of("[1 2 \"three\"]");
    EXPECT_EQ(kivbin::symbol_count(none.data(), none.size()), 0);  // no symbol table
    Bytes compressed = kivbin::encode(words.cell());
    compressed[7] |= kivbin::flag_compressed;
    EXPECT_EQ(kivbin::symbol_count(compressed.data(), compressed.size()), 0);
    const std::uint8_t junk[] = {'K', 'I', 'V', 'X', 'X', 'X', 2, 0x05, 1, 2, 3};
    EXPECT_EQ(kivbin::symbol_count(junk, sizeof junk), 0);
}

TEST(KivbinBoot, BadRecordRaisesWithItsPosition) {
    Bytes image = image_of("[a]");
    image.back() = 0xFE;  // no record starts with it
    try {
        kivbin::load_boot_data(image);
        FAIL() << "no error";
    } catch (const LanguageError& e) {
        EXPECT_STREQ(e.id, "kb-invalid-record");
    }
    EXPECT_FALSE(collector::enabled());
}

TEST(KivbinBootDeathTest, DamagedImageEndsTheProcess) {
    Bytes not_kivbin = image_of("[a]");
    not_kivbin[0] = 'X';
    EXPECT_EXIT(kivbin::load_boot_data(not_kivbin), testing::ExitedWithCode(254), "Error: Not a Kivbin file!");
    EXPECT_EXIT(kivbin::load_boot_data(Bytes{'K', 'I'}), testing::ExitedWithCode(254), "Error: Not a Kivbin file!");

    Bytes corrupt = image_of("[a]");
    corrupt[7] |= kivbin::flag_compressed;  // the body is no LZ77 stream
    EXPECT_EXIT(kivbin::load_boot_data(corrupt), testing::ExitedWithCode(254),
                "Error: Kivbin compressed data corrupted!");
}

// A compact boot stream (version 1) of the symbols and records given.
Bytes boot_stream(const std::vector<std::string>& names, const Bytes& records) {
    return test::kivbin_stream(records, names, 0, 1);
}

std::string error_id(const Bytes& data, bool boot) {
    Cell target{};
    block::make_at(target, 4);
    collector::Root keep(target);
    try {
        if (boot) kivbin::decode_boot(data.data(), data.size(), target);
        else kivbin::decode(data.data(), data.size(), target, nullptr);
    } catch (const LanguageError& e) {
        return e.id;
    }
    return "no error";
}

TEST(KivbinBoot, DefinitionsAndRootIndexWords) {
    const std::vector<std::string> names{"bt-x", "bt-y", "bt-global", "self"};
    const Bytes records{
        0x0E, 0x10, 2, 0, 1, 0x81, 0x82,  // root 0: context [bt-x: 1 bt-y: 2]
        0x4F, 1, 0, 0x01,                 // root 1: bt-y bound to root 0, index looked up (-1)
        0x4F, 3, 0, 0x03,                 // root 2: self bound to root 0 (-2: the object itself)
        0xC4, 0x0F, 2, 0x85,              // bt-global: 5, leaving nothing
        0xC4, 0x4F, 0, 0, 0x00, 0x87,     // root 0's bt-x: 7
    };
    Cell target{};
    block::make_at(target, 4);
    collector::Root keep(target);
    const Bytes image = boot_stream(names, records);
    EXPECT_EQ(kivbin::decode_boot(image.data(), image.size(), target), 0);
    ASSERT_EQ(block::length_of(target), 3);
    const Cell obj = *block::get_cell(target, 0);
    const Cell y = *block::get_cell(target, 1);
    const Cell self = *block::get_cell(target, 2);
    ASSERT_TRUE(obj.is(TypeId::object));
    EXPECT_EQ(y.word_context(), obj.object_context());
    EXPECT_EQ(y.word_index(), 1);
    EXPECT_EQ(self.word_context(), obj.object_context());
    EXPECT_EQ(self.word_index(), -1);
    EXPECT_EQ(test::mold(*context::value_at(obj.object_context(), 0)), "7");
    EXPECT_EQ(test::mold(test::eval("bt-global")), "5");

    // definitions belong to the boot image, before words; roots must exist
    EXPECT_EQ(error_id(image, false), "kb-invalid-record");
    EXPECT_EQ(error_id(boot_stream(names, {0xC4, 0x85}), true), "kb-invalid-record");
    EXPECT_EQ(error_id(boot_stream(names, {0xC4, 0x06, 0, 0}), true), "kb-invalid-record");
    EXPECT_EQ(error_id(boot_stream(names, {0x4F, 1, 0, 0x01}), true), "kb-invalid-record");
    EXPECT_EQ(error_id(boot_stream(names, {0x0E, 0x10, 1, 0, 0x81, 0x4F, 1, 0, 0x01}), true),
              "kb-invalid-record");  // no bt-y in root 0
}

// The image of the global context, read back over the values it was made
// of: every global word gets a copy that works as the value did.
TEST(KivbinBoot, GlobalContextReadsBack) {
    test::eval(R"(
        bt-count: 0
        bt-point: make object! [
            x: 1
            on-change*: func [word old new] [bt-count: bt-count + 1]
            bump: does [x: x + 1]
        ]
        bt-same: bt-point
        bt-sum: func [a /local bt-t] [bt-t: a + bt-point/x  bt-t]
        bt-data: [1 [2 3]]
        bt-shared: next bt-data
    )");
    const collector::Root old_point(test::eval("bt-point"));
    const Bytes image = kivbin::encode_boot();
    EXPECT_EQ(image[6], 1);  // the boot image's version
    kivbin::decode_boot(image.data(), image.size(), block::root());
    const Cell point = test::eval("bt-point");
    EXPECT_NE(point.object_context(), old_point.cell().object_context());
    EXPECT_EQ(point.object_class(), old_point.cell().object_class());
    EXPECT_GT(object::new_class_id(), static_cast<std::int32_t>(point.object_class()));
    EXPECT_EQ(test::mold(test::eval("reduce [same? bt-same bt-point  same? next bt-data bt-shared  bt-sum 10]")),
              "[true true 11]");
    EXPECT_EQ(test::mold(test::eval("bt-point/bump reduce [bt-point/x bt-count bt-sum 10]")), "[2 1 12]");
    EXPECT_EQ(test::mold(test::eval("value? quote bt-t")), "false");  // the local stayed local
}

}  // namespace
}  // namespace kiv
