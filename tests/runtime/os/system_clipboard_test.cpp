#include "runtime/os/system_clipboard.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kiv::system_clipboard {
namespace {

using Kind = Content::Kind;

bool display_set() {
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0';
}

// Run without a display this checks the in-process clipboard; the ctest
// clipboard/desktop runs the same cases under a private X server.
TEST(SystemClipboard, UsesTheDesktopOnlyWithADisplay) {
#ifdef KIV_GTK
    EXPECT_EQ(desktop_q(), display_set());
#else
    EXPECT_FALSE(desktop_q());
#endif
}

TEST(SystemClipboard, EachKindReadsBackAsWritten) {
    // The image bytes are not decoded here: any bytes a PNG offer carries.
    const std::uint8_t png_like[] = {0x89, 'P', 'N', 'G', 0, 1, 2, 0xFF};
    Content cases[5];
    cases[0].kind = Kind::text;
    cases[0].text = "caf\xC3\xA9\nline two";
    cases[1].kind = Kind::text;  // an empty text is still text
    cases[2].kind = Kind::files;
    cases[2].files = {"/tmp/a b.txt", "/tmp/\xC3\xBC/%41", "/"};
    cases[3].kind = Kind::files;  // an empty list
    cases[4].kind = Kind::image;
    cases[4].image.assign(std::begin(png_like), std::end(png_like));
    for (const Content& c : cases) {
        ASSERT_TRUE(write(c));
        const std::optional<Content> back = read();
        ASSERT_TRUE(back);
        EXPECT_EQ(back->kind, c.kind);
        EXPECT_EQ(back->text, c.text);
        EXPECT_EQ(back->files, c.files);
        EXPECT_EQ(back->image, c.image);
    }
}

TEST(SystemClipboard, WritingNothingEmptiesIt) {
    Content text;
    text.kind = Kind::text;
    text.text = "x";
    ASSERT_TRUE(write(text));
    ASSERT_TRUE(write(Content{}));
    const std::optional<Content> back = read();
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, Kind::none);
}

}  // namespace
}  // namespace kiv::system_clipboard
