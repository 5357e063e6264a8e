// Loading a boot image: its values land in the root block with the
// collector held off; a damaged image ends the process with its reason.
#include "runtime/io/kivbin_boot.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/kivbin_encode.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
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

}  // namespace
}  // namespace kiv
