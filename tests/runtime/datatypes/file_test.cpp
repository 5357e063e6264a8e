// file! and url! internals: the percent-coding tables at their edges, the
// decoder on truncated and malformed input, the directory test on path text,
// and file reads that must never be cut or padded by part and seek.
#include "runtime/datatypes/file.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/words.h"
#include "runtime/io/file_io.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

std::u32string decoded(const std::string& text) {
    const auto points = url::decode_bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                          static_cast<std::int32_t>(text.size()));
    return {points.begin(), points.end()};
}

std::u32string text_of(const Cell& value) {
    Cell v = value;
    std::u32string out;
    for (std::int32_t i = v.series_head(); i < string::length_from_start(v); ++i)
        out += static_cast<char32_t>(string::get_char_at_index(v, i));
    return out;
}

TEST(Url, KeptSetsAtTheirEdges) {
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        const bool alnum = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
        const bool unreserved = alnum || b == '-' || b == '.' || b == '_' || b == '~';
        const bool url = unreserved || std::string("!#$&'()*+,/:=?@").find(static_cast<char>(b)) != std::string::npos;
        EXPECT_EQ(url::kept_q(byte, url::Encoding::unreserved), unreserved && b != 0) << b;
        EXPECT_EQ(url::kept_q(byte, url::Encoding::url), url && b != 0) << b;
    }
    char out[3];
    EXPECT_EQ(url::encode_byte(0xE9, url::Encoding::url, out), 3);
    EXPECT_EQ(std::string(out, 3), "%E9");
    EXPECT_EQ(url::encode_byte('/', url::Encoding::unreserved, out), 3);
    EXPECT_EQ(std::string(out, 3), "%2F");
}

TEST(Url, HexPairNeverReadsPastTheEnd) {
    const std::uint8_t text[] = {'%', '4', '1'};
    std::uint8_t b = 0;
    EXPECT_TRUE(url::hex_pair(text, text + 3, &b));
    EXPECT_EQ(b, 0x41);
    EXPECT_FALSE(url::hex_pair(text, text + 2, &b));  // the second digit lies past the end
    const std::uint8_t bad[] = {'%', 'g', '1'};
    EXPECT_FALSE(url::hex_pair(bad, bad + 3, &b));
}

TEST(Url, Decoding) {
    const struct {
        std::string in;
        std::u32string out;
    } cases[] = {
        {"%C3%A9", U"\u00E9"},
        {"%F0%9F%98%80", U"\U0001F600"},
        {"%E9", U"%E9"},               // a lead byte without its continuation
        {"%E9%41", U"%E9A"},
        {"%C3%A9%C3", U"\u00E9%C3"},
        {"%C0%80", U"\uFFFE"},          // overlong: malformed
        {"%41%7e", U"A~"},
        {"%", U"%"},
        {"%4", U"%4"},
        {"a\xC3\xA9", U"a\u00E9"},
        {"\xFF", U"\u00FF"},            // not UTF-8: the byte itself
    };
    for (const auto& c : cases) EXPECT_EQ(decoded(c.in), c.out) << c.in;
}

TEST(FileIo, DirectoryByItsText) {
    for (const char* dir : {"/", "a/", ".", "..", "a/.", "a/.."}) EXPECT_TRUE(file_io::dir_q(dir)) << dir;
    for (const char* plain : {"", "a", "a.b", "a/.b", "a/b..", "..a"}) EXPECT_FALSE(file_io::dir_q(plain)) << plain;
}

class Files : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kiv-file-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir + "/f.txt";
    }
    void TearDown() override {
        std::remove(path.c_str());
        ::rmdir(dir.c_str());
    }
    void put(const std::string& bytes) {
        ASSERT_EQ(file_io::write_file(path.c_str(), reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                      static_cast<std::int64_t>(bytes.size()), -1, false),
                  static_cast<std::int64_t>(bytes.size()));
    }
    std::u32string get(std::int32_t part, std::int32_t seek) {
        Cell out{};
        EXPECT_TRUE(file_io::read_file(path.c_str(), part, seek, false, out));
        return text_of(out);
    }
    std::string dir, path;
};

TEST_F(Files, PartAndSeekStayInsideTheFile) {
    put("abcdef");
    const struct {
        std::int32_t part, seek;
        std::u32string out;
    } cases[] = {
        {-1, -1, U"abcdef"}, {0, -1, U""}, {3, -1, U"abc"}, {100, -1, U"abcdef"},
        {-1, 4, U"ef"}, {-1, 6, U""}, {-1, 100, U""}, {2, 5, U"f"}, {0, 100, U""},
    };
    for (const auto& c : cases) EXPECT_EQ(get(c.part, c.seek), c.out) << c.part << " " << c.seek;
}

TEST_F(Files, InvalidUtf8IsAnAccessError) {
    for (const std::string& bad : {std::string("ab\xC3"), std::string("\xFF"), std::string("a\x80")}) {
        put(bad);
        Cell out{};
        try {
            file_io::read_file(path.c_str(), -1, -1, false, out);
            ADD_FAILURE() << "no error for " << bad;
        } catch (const LanguageError& e) {
            EXPECT_EQ(e.category, ErrorCategory::access);
            EXPECT_STREQ(e.id, "invalid-utf8");
        }
    }
    put("ab\xC3\xA9");
    EXPECT_EQ(get(3, -1), U"ab");  // a character cut by part is dropped, not an error
}

TEST_F(Files, MissingFilesFailQuietly) {
    Cell out{};
    out.reset(TypeId::none);
    EXPECT_FALSE(file_io::read_file((dir + "/missing").c_str(), -1, -1, false, out));
    EXPECT_TRUE(out.is(TypeId::none));
    EXPECT_FALSE(file_io::read_file(dir.c_str(), -1, -1, false, out));  // a directory is no file
    EXPECT_FALSE(file_io::read_dir((dir + "/missing/").c_str(), out));
    EXPECT_EQ(file_io::write_file((dir + "/no/such").c_str(), nullptr, 0, -1, false), -1);
    EXPECT_FALSE(file_io::modified_time((dir + "/missing").c_str()).has_value());
}

}  // namespace
}  // namespace kiv
