// The lexer: values of every token class, paths and nesting, syntax errors
// with their line and delimiter, runs that do not raise, trace events,
// arbitrary bytes that must load or fail cleanly, and float texts read
// correctly rounded at every length.
#include "runtime/io/lexer.h"
#include "runtime/io/lexer_state.h"

#include "runtime/text/case_folding.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/hashtable.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/memory.h"
#include "runtime/core/raise.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime({.library = true});  // trace callbacks are functions

Cell load(const std::string& text, lexer::ScanRequest r = {}) {
    Cell out{};
    lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(text.data()),
                static_cast<std::int32_t>(text.size()), r, nullptr);
    return out;
}

std::string text_of(Cell s) {
    std::string out;
    for (std::int32_t i = s.series_head(), n = string::length_from_start(s); i < n; ++i) {
        const std::uint32_t cp = string::get_char_at_index(s, i);
        out += cp < 128 ? static_cast<char>(cp) : '?';
    }
    return out;
}

std::string name_of(const Cell& w) { return std::string(symbol::name(w.word_symbol())); }

std::vector<Cell> cells(Cell blk) {
    EXPECT_TRUE(blk.is(TypeId::block) || blk.is(TypeId::paren) || blk.type() >= TypeId::path);
    return {block::head_cell(blk), block::tail_cell(blk)};
}

// The single value a text loads to.
Cell one(const std::string& text) {
    std::vector<Cell> v = cells(load(text));
    EXPECT_EQ(v.size(), 1u) << text;
    return v.empty() ? Cell{} : v[0];
}

TEST(Lexer, ScalarsOfEveryBuiltClass) {
    struct Case { const char* text; TypeId type; double number; };
    const Case cases[] = {
        {"2147483647", TypeId::integer, 2147483647.0},
        {"-2147483648", TypeId::integer, -2147483648.0},
        {"2147483648", TypeId::float_, 2147483648.0},
        {"1'000'000", TypeId::integer, 1000000},
        {"0FFh", TypeId::integer, 255},
        {"7", TypeId::integer, 7},
        {"1.5", TypeId::float_, 1.5},
        {"-.5", TypeId::float_, -0.5},
        {"1e3", TypeId::float_, 1000},
        {"1.#INF", TypeId::float_, HUGE_VAL},
        {"-1.#inf", TypeId::float_, -HUGE_VAL},
        {"50%", TypeId::percent, 0.5},
        {"1:30", TypeId::time, 5400},
        {"1:2:3", TypeId::time, 3723},
        {"1:2.5", TypeId::time, 62.5},
        {"-1:00", TypeId::time, -3600},
        {"#\"a\"", TypeId::char_, 'a'},
        {"#\"^(line)\"", TypeId::char_, 10},
        {"#\"^(10FFFF)\"", TypeId::char_, 0x10FFFF},
        {"#\"^/\"", TypeId::char_, 10},
    };
    for (const Case& c : cases) {
        const Cell v = one(c.text);
        ASSERT_EQ(v.type(), c.type) << c.text;
        const double got = v.is(TypeId::integer) || v.is(TypeId::char_) ? v.int_value() : v.f64();
        EXPECT_EQ(got, c.number) << c.text;
    }
    EXPECT_TRUE(std::isnan(one("1.#NaN").f64()));
}

TEST(Lexer, TextsWordsAndConstructions) {
    struct Case { const char* text; TypeId type; const char* content; };
    const Case cases[] = {
        {"\"a^/b\"", TypeId::string, "a\nb"},
        {"{a {b} c}", TypeId::string, "a {b} c"},
        {"{x^}y}", TypeId::string, "x}y"},
        {"%{a}b}%", TypeId::string, "a}b"},
        {"%%{a}% b}%%", TypeId::string, "a}% b"},
        {"%a^b", TypeId::file, "a^b"},
        {"%\"a^/b\"", TypeId::file, "a\nb"},
        {"%a%20b", TypeId::file, "a b"},
        {"<a href=\"x\">", TypeId::tag, "a href=\"x\""},
        {"http://a.b/c", TypeId::url, "http://a.b/c"},
        {"me@here.org", TypeId::email, "me@here.org"},
        {"@ref", TypeId::ref, "ref"},
        {"word", TypeId::word, "word"},
        {"set:", TypeId::set_word, "set"},
        {":get", TypeId::get_word, "get"},
        {"'lit", TypeId::lit_word, "lit"},
        {"/ref", TypeId::refinement, "ref"},
        {"#iss", TypeId::issue, "iss"},
        {"%", TypeId::word, "%"},
        {"/", TypeId::word, "/"},
        {"<", TypeId::word, "<"},
        {"+", TypeId::word, "+"},
    };
    for (const Case& c : cases) {
        const Cell v = one(c.text);
        ASSERT_EQ(v.type(), c.type) << c.text;
        const std::string got = v.type() >= TypeId::word && v.type() <= TypeId::issue ? name_of(v) : text_of(v);
        EXPECT_EQ(got, c.content) << c.text;
    }
    EXPECT_EQ(one("#(true)").type(), TypeId::logic);
    EXPECT_EQ(one("#(true)").logic_value(), 1u);
    EXPECT_EQ(one("#(none)").type(), TypeId::none);
    const Cell dt = one("#(int)");
    ASSERT_EQ(dt.type(), TypeId::datatype);
    EXPECT_EQ(dt.datatype_id(), TypeId::integer);
}

TEST(Lexer, TuplesPairsBinaries) {
    const Cell t = one("1.2.3.4.5.6.7.8.9.10.11.12");
    ASSERT_EQ(t.type(), TypeId::tuple);
    EXPECT_EQ(t.tuple_length(), 12u);
    EXPECT_EQ(t.tuple_bytes()[11], 12);
    const Cell p = one("-3x4");
    ASSERT_EQ(p.type(), TypeId::pair);
    EXPECT_EQ(p.pair_x(), -3);
    EXPECT_EQ(p.pair_y(), 4);
    struct Bin { const char* text; std::vector<std::uint8_t> bytes; };
    const Bin bins[] = {
        {"#{00FF}", {0x00, 0xFF}}, {"16#{0a 0b ; comment\n 0c}", {10, 11, 12}},
        {"2#{00000001}", {1}}, {"64#{AQ==}", {1}}, {"64#{AQID}", {1, 2, 3}}, {"#{}", {}},
    };
    for (const Bin& b : bins) {
        const Cell v = one(b.text);
        ASSERT_EQ(v.type(), TypeId::binary) << b.text;
        const SeriesBuffer* buf = memory::buffer(v.series_node());
        EXPECT_EQ(std::vector<std::uint8_t>(buf->head, buf->tail), b.bytes) << b.text;
    }
}

TEST(Lexer, SeriesAndPaths) {
    std::vector<Cell> v = cells(load("[1 [2] (3)] a/b/c: 'a/b :a/b a/(b)/c"));
    ASSERT_EQ(v.size(), 5u);
    EXPECT_EQ(v[0].type(), TypeId::block);
    std::vector<Cell> inner = cells(v[0]);
    ASSERT_EQ(inner.size(), 3u);
    EXPECT_EQ(inner[1].type(), TypeId::block);
    EXPECT_EQ(inner[2].type(), TypeId::paren);
    EXPECT_EQ(v[1].type(), TypeId::set_path);
    EXPECT_EQ(cells(v[1]).size(), 3u);
    EXPECT_EQ(name_of(cells(v[1])[2]), "c");
    EXPECT_EQ(v[2].type(), TypeId::lit_path);
    EXPECT_EQ(v[3].type(), TypeId::get_path);
    EXPECT_EQ(v[4].type(), TypeId::path);
    EXPECT_EQ(cells(v[4])[1].type(), TypeId::paren);
    EXPECT_TRUE(load("").is(TypeId::block));
    EXPECT_TRUE(cells(load("  ; only a comment\n")).empty());
}

TEST(Lexer, NewLineMarkersFollowTheSource) {
    std::vector<Cell> v = cells(load("a\nb c\n\n[d]"));
    ASSERT_EQ(v.size(), 4u);
    EXPECT_FALSE(v[0].new_line());
    EXPECT_TRUE(v[1].new_line());
    EXPECT_FALSE(v[2].new_line());
    EXPECT_TRUE(v[3].new_line());
}

struct ErrorCase {
    const char* text;
    const char* id;
    const char* location;
    const char* near;
    char delimiter;  // for missing
};

TEST(Lexer, SyntaxErrorsCarryLineDelimiterAndExcerpt) {
    const ErrorCase cases[] = {
        {"[1 2", "missing", "(line 1)", "[1 2", ']'},
        {"1 2]", "missing", "(line 1)", "]", '['},
        {"(1 2]", "missing", "(line 1)", "]", ')'},
        {"[a 1)", "missing", "(line 1)", ")", ']'},
        {"\"abc", "invalid", "(line 1)", "\"abc", 0},
        {"{a", "invalid", "(line 1)", "{a", 0},
        {"{a\n}\n\"x", "invalid", "(line 3)", "\"x", 0},
        {";c\n\"s\nx\"", "invalid", "(line 2)", "\"s", 0},
        {"1''0", "invalid", "(line 1)", "1''0", 0},
        {"#(foo)", "malconstruct", "(line 1)", "#(foo)", 0},
        {"1.2.256", "invalid", "(line 1)", "1.2.256", 0},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "invalid", "(line 1)", "1.2.3.4.5.6.7.8.9.10.11.12.13", 0},
        {"2#{0000001}", "invalid", "(line 1)", "2#{0000001}", 0},
        {"8#{00}", "invalid", "(line 1)", "8#{00}", 0},
        {"#\"^(110000)\"", "invalid", "(line 1)", "#\"^(110000)\"", 0},
        {"1.5x2", "invalid", "(line 1)", "1.5x2", 0},
        {"1.#XYZ", "invalid", "(line 1)", "1.#XYZ", 0},
        {"a/b:/c", "invalid", "(line 1)", ":/c", 0},
        {"\x80", "bad-char", "(line 1)", "\xEF\xBF\xBD", 0},
    };
    for (const ErrorCase& c : cases) {
        try {
            load(c.text);
            ADD_FAILURE() << "no error for " << c.text;
        } catch (const LanguageError& e) {
            EXPECT_EQ(e.category, ErrorCategory::syntax) << c.text;
            EXPECT_STREQ(e.id, c.id) << c.text;
            EXPECT_EQ(text_of(e.args[0]), c.location) << c.text;
            const Cell& near = e.args[e.arg_count - 1];
            std::string expected_near = c.near;
            if (expected_near == "\xEF\xBF\xBD") expected_near = "?";
            EXPECT_EQ(text_of(near), expected_near) << c.text;
            if (std::string(c.id) == "missing") {
                ASSERT_EQ(e.args[1].type(), TypeId::char_);
                EXPECT_EQ(e.args[1].char_value(), static_cast<std::uint32_t>(c.delimiter)) << c.text;
            }
        }
    }
}

TEST(Lexer, TranscodeRefinements) {
    Cell src{};
    const char* text = "abc [1 2] 3";
    string::make_at(src, 16);
    string::append_nul_text(src.series_node(), text);
    Cell out{};
    lexer::TranscodeOptions o;
    o.next = true;
    lexer::transcode(out, src, o);
    std::vector<Cell> v = cells(out);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(name_of(v[0]), "abc");
    EXPECT_EQ(v[1].series_head(), 3);
    lexer::TranscodeOptions prescan;
    prescan.prescan = true;
    lexer::transcode(out, src, prescan);
    EXPECT_EQ(out.datatype_id(), TypeId::word);
    lexer::TranscodeOptions scan;
    scan.scan = true;
    Cell bad{};
    string::make_at(bad, 8);
    string::append_nul_text(bad.series_node(), "[1 2");
    lexer::transcode(out, bad, scan);  // scanning never raises
    EXPECT_EQ(out.datatype_id(), TypeId::error);
    Cell part{};
    part.reset(TypeId::integer);
    part.set_int(3);
    lexer::TranscodeOptions parted;
    parted.part = &part;
    lexer::transcode(out, src, parted);
    ASSERT_EQ(cells(out).size(), 1u);
    EXPECT_EQ(name_of(cells(out)[0]), "abc");
}

// Latin-1 text between ASCII runs longer than eight bytes, words that differ
// only in case (each keeps its spelling), and /next counting characters.
TEST(Lexer, Latin1SourceAndRepeatedWords) {
    Cell src{};
    string::make_at(src, 64);
    const std::uint32_t text[] = {'c', 'a', 'f', 0xE9, '-', 'l', 'o', 'n', 'g', '-', 'n', 'a', 'm', 'e',
                                  '-', 'h', 'e', 'r', 'e', ' ', 'A', 'b', 'c', ' ', 'a', 'b', 'c', ' ',
                                  'A', 'B', 'C', ' ', 'a', 'b', 'c', ' ', '"', 0xE0, 0xE0, '"'};
    for (std::uint32_t cp : text) string::append_char(src.series_node(), cp);
    Cell out{};
    lexer::transcode(out, src, {});
    std::vector<Cell> v = cells(out);
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(name_of(v[0]), "caf\xC3\xA9-long-name-here");
    EXPECT_EQ(name_of(v[1]), "Abc");
    EXPECT_EQ(name_of(v[2]), "abc");
    EXPECT_EQ(name_of(v[3]), "ABC");
    EXPECT_EQ(v[2].word_symbol(), v[4].word_symbol());
    EXPECT_EQ(string::get_char_at_index(v[5], 1), 0xE0u);
    lexer::TranscodeOptions o;
    o.next = true;
    lexer::transcode(out, src, o);
    ASSERT_EQ(cells(out).size(), 2u);
    EXPECT_EQ(cells(out)[1].series_head(), 19);  // characters, not bytes
}

// Spellings that meet in one pair of word-cache slots take turns there: each
// still loads as its own word, first time and again.
TEST(Lexer, SpellingsOfOneCacheSlotKeepTheirWords) {
    auto pair_of = [](const std::string& name) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(name.data());
        const std::uint64_t key = lexer::spelling_key(p, static_cast<std::int32_t>(name.size()));
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 51) / 2;
    };
    std::vector<std::string> names = {"w0"};
    for (int i = 1; names.size() < 4; ++i)
        if (const std::string n = "w" + std::to_string(i); pair_of(n) == pair_of(names[0])) names.push_back(n);
    std::string text;
    for (int round = 0; round < 3; ++round)
        for (std::size_t i = 0; i < names.size(); ++i) text += names[(i + round) % names.size()] + " ";
    const std::vector<Cell> v = cells(load(text));
    ASSERT_EQ(v.size(), 3 * names.size());
    for (int round = 0; round < 3; ++round)
        for (std::size_t i = 0; i < names.size(); ++i)
            EXPECT_EQ(name_of(v[round * names.size() + i]), names[(i + round) % names.size()]) << round;
}

TEST(Lexer, BinarySourceSkipsByteOrderMark) {
    const std::uint8_t bytes[] = {0xEF, 0xBB, 0xBF, 'a', ' ', '1'};
    Cell bin{};
    const NodeId node = memory::alloc_series(sizeof bytes, 1, 0);
    std::memcpy(memory::buffer(node)->head, bytes, sizeof bytes);
    memory::buffer(node)->tail = memory::buffer(node)->head + sizeof bytes;
    bin.reset(TypeId::binary);
    bin.set_series_node(node);
    Cell out{};
    lexer::transcode(out, bin, {});
    ASSERT_EQ(cells(out).size(), 2u);
    EXPECT_EQ(name_of(cells(out)[0]), "a");
}

TEST(Lexer, UnicodeBlanksEndWords) {
    std::vector<Cell> v = cells(load("ab\xC2\xA0" "cd"));
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(name_of(v[0]), "ab");
    EXPECT_TRUE(cells(load("\xE3\x80\x80\xE3\x80\x80")).empty());
}

TEST(Lexer, WideStringsLargerThanTheTextBuffer) {
    Cell s{};
    string::make_at_unit(s, 8, 4);
    string::append_char(s.series_node(), '"');
    for (int i = 0; i < 30000; ++i) string::append_char(s.series_node(), 0x1F600);
    string::append_char(s.series_node(), '"');
    Cell out{};
    lexer::scan_string(&out, s, -1, {}, nullptr);
    std::vector<Cell> v = cells(out);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(string::length_from_start(v[0]), 30000);
    EXPECT_EQ(string::get_char_at_index(v[0], 0), 0x1F600u);
}

// A value written out far enough to tell loads apart: its type, new-line
// mark, and the text, spelling, number or contents.
std::string signature(const Cell& c) {
    std::string out = std::to_string(static_cast<int>(c.type()));
    if (c.new_line()) out += "^";
    if (is_any_string_type(c.type())) out += "\"" + text_of(c) + "\"";
    else if (c.type() >= TypeId::word && c.type() <= TypeId::refinement) out += "'" + name_of(c);
    else if (c.is(TypeId::integer)) out += "=" + std::to_string(c.int_value());
    else if (c.is(TypeId::float_)) {
        char number[32];
        std::snprintf(number, sizeof number, "=%.17g", c.f64());
        out += number;
    }
    else if (is_any_block_type(c.type())) {
        out += "[";
        for (const Cell& inner : cells(c)) out += signature(inner) + " ";
        out += "]";
    }
    return out;
}

// What a run gives: the type it returns and the signature of its result, or
// the error it raises with the error's arguments (line, delimiter, excerpt).
template <typename Run>
std::string outcome(Run&& run) {
    try {
        Cell out{};
        const std::int32_t type = run(out);
        return std::to_string(type) + ":" + signature(out);
    } catch (const LanguageError& e) {
        std::string shape = std::string("error ") + e.id;
        for (int i = 0; i < e.arg_count; ++i) shape += " " + signature(e.args[i]);
        return shape;
    }
}

// A string! source is scanned with its NUL terminator as the end and a byte
// buffer with bound checks: both roads must give the same values and the
// same errors, whatever the text, in every kind of run.
TEST(Lexer, TerminatedAndBoundedScansAgree) {
    std::mt19937 rng(777);
    const std::string alphabet = "[](){}\"#'%:;/\\<>^$@,.+-=x1209aeEhT \n\t\x01";
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 20);
        for (int i = 0; i < n; ++i) text += alphabet[rng() % alphabet.size()];
        Cell src{};
        string::make_at(src, n + 1);
        string::append_nul_text(src.series_node(), text.c_str());
        for (int kind = 0; kind < 3; ++kind) {
            lexer::ScanRequest r;
            r.one = kind > 0;
            r.scan = kind != 2;
            const std::string bounded = outcome([&](Cell& out) {
                return lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(text.data()),
                                   static_cast<std::int32_t>(text.size()), r, nullptr);
            });
            const std::string terminated = outcome([&](Cell& out) {
                return lexer::scan_string(&out, src, -1, r, nullptr);
            });
            EXPECT_EQ(bounded, terminated) << "kind " << kind << " text " << text;
        }
    }
}

// A trace callback written in the language: `recorder`, which appends to
// `trace-log` what its body picks of each event, and a request that hands it
// to the lexer.
struct Tracer {
    explicit Tracer(const std::string& body) {
        fn = test::eval("trace-log: copy [] recorder: func [event input type line token] [" + body + " true]");
        request.callback = &fn;
    }
    // What the callback recorded.
    static std::vector<Cell> log() {
        const Cell blk = test::eval("trace-log");
        std::vector<Cell> out;
        for (std::int32_t i = 0; i < block::length_of(blk); ++i) out.push_back(*block::get_cell(blk, i));
        return out;
    }
    Cell fn{};  // kept alive by the word recorder
    lexer::ScanRequest request;
};

// A run that loads with nobody watching reads its commonest tokens the
// short way; a callback that listens to no event sends every token down the
// general road. Both must load the same values and new-line marks and raise
// the same errors, wherever a token ends: before any byte, at the input end
// or at its NUL terminator.
TEST(Lexer, PlainAndGeneralRoadsAgree) {
    Tracer deaf("[none]");  // a first block without event words: no event
    std::mt19937 rng(4242);
    const std::vector<std::string> pieces = {
        "ab", "a-b?", "x:", "x:y", "a/b", "a@b", "a$", "a%", "a,", "a#", "a<", "a\\", "\u00e9",
        "b\u00e9", "\xC0", "F", "Fh", "1", "0", "12", "123456789", "1234567890", "1'0", "12x",
        "1.5", "1%", "1:", "\"ab\"", "\"a^/b\"", "\"\u00e9\"", "\"", "\"a\nb\"", ";c", ";", ";\xC0",
        "[", "]", "(", ")", "(1, 2)", ",", "{a}", "/a", ":a", "'a", "#a", "<a>", "-1", " ", "  ",
        "    ", "\n", "\t", "\x01", std::string(1, '\0'), "1.", "1.5.6", "1.5e3", "12.34x", "0.125",
        "0.1", "123456.789012345", "1234567.890123456", "0.000000000000001",
        "/a/b", "/a:", "/", "//", "/\u00e9", "/#", "a/b/c", "a/b:", "a/b:/", "a/1", "a/", "a/b\\",
        "a/b}", "a/b/c/d/e/f/g/h/i/j", "a/:b", "a/\u00e9", "a/b@c", "a/b$",
        "a/[b]", "a/(b)/c", "#[", "#(", "[a]", "(a)", "(,)", "[\n]", "\n(",
        "\"a string longer than sixteen bytes\"", "; a comment longer than sixteen bytes",
        "0123456789abcdef",
    };
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 12);
        for (int i = 0; i < n; ++i) text += pieces[rng() % pieces.size()];
        auto bounded = [&](const lexer::ScanRequest& r) {
            return outcome([&](Cell& out) {
                return lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(text.data()),
                                   static_cast<std::int32_t>(text.size()), r, nullptr);
            });
        };
        EXPECT_EQ(bounded({}), bounded(deaf.request)) << "text " << text;
        if (text.find('\xC0') != std::string::npos) continue;  // a string! holds characters
        // An ASCII string! is read in place when its buffer has a byte to
        // spare after it, else copied: buffers with and without that byte,
        // from the head, from a later position and up to a part.
        const auto size = static_cast<std::int32_t>(text.size());
        Cell src{};
        string::make_at(src, size + (round % 2));
        string::append_utf8(src.series_node(), text.data(), size);
        collector::Root keep(src);
        const std::int32_t characters = string::length_from_head(src);
        const std::int32_t skip = characters > 0 ? static_cast<std::int32_t>(rng() % characters) : 0;
        for (const auto& [head, part] : {std::pair{0, -1}, std::pair{skip, -1}, std::pair{0, skip}}) {
            src.set_series_head(head);
            auto terminated = [&](const lexer::ScanRequest& r) {
                return outcome([&](Cell& out) { return lexer::scan_string(&out, src, part, r, nullptr); });
            };
            EXPECT_EQ(terminated({}), terminated(deaf.request))
                << "text " << text << " from " << head << " part " << part;
        }
    }
}

TEST(Lexer, TraceEventsReachTheCallback) {
    Tracer trace("append trace-log event");
    load("[a]", trace.request);
    std::vector<std::string> events;
    for (const Cell& e : Tracer::log()) events.push_back(name_of(e));
    const std::vector<std::string> expected = {"prescan", "open", "prescan", "scan", "load",
                                               "prescan", "close"};
    EXPECT_EQ(events, expected);
}

// Deep text with characters of several bytes: each close event names the
// character offsets of its open and of itself, however far back the open lies.
TEST(Lexer, CloseEventsNameTheirOpenInCharacters) {
    Tracer trace("if event = 'close [append trace-log token]");
    const std::int32_t depth = 700;
    const std::string text = "\u00e9 " + std::string(depth, '[') + "\u00fc" + std::string(depth, ']');
    Cell source{};
    string::make_at(source, static_cast<std::int32_t>(text.size()));
    string::append_utf8(source.series_node(), text.data(), static_cast<std::int32_t>(text.size()));
    collector::Root keep(source);
    trace.request.source = &source;
    Cell out{};
    lexer::scan_string(&out, source, -1, trace.request, nullptr);
    const std::vector<Cell> closes = Tracer::log();
    ASSERT_EQ(closes.size(), static_cast<std::size_t>(depth));
    for (std::int32_t k = 1; k <= depth; ++k) {  // 1-based: the blank is 2, the opens 3 on
        const Cell& c = closes[static_cast<std::size_t>(k - 1)];
        ASSERT_EQ(std::make_pair(c.pair_x(), c.pair_y()), std::make_pair(depth + 3 - k, depth + 3 + k)) << k;
    }
}

TEST(Lexer, AnyBytesLoadOrFailCleanly) {
    std::mt19937 rng(12345);
    const std::string alphabet = "[](){}\"#'%:;/\\<>^$@,.+-=x1209aeEhT \n\t\x80\xC3\xA9\xF0\x9F\x98\x80\xFF";
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 24);
        for (int i = 0; i < n; ++i) text += alphabet[rng() % alphabet.size()];
        try {
            load(text);
        } catch (const LanguageError& e) {
            EXPECT_TRUE(e.category == ErrorCategory::syntax || std::string(e.id) == "not-done") << text;
        }
        lexer::ScanRequest scan_only;
        scan_only.store = false;
        scan_only.one = true;
        load(text, scan_only);  // never raises
    }
}

TEST(Lexer, DeepNestingAndHugeNumbers) {
    const std::string open(100000, '[');
    EXPECT_THROW(load(open), LanguageError);
    const Cell deep = one(open + std::string(100000, ']'));
    EXPECT_EQ(deep.type(), TypeId::block);
    EXPECT_EQ(one(std::string(300, '9')).type(), TypeId::float_);
    EXPECT_EQ(one(std::string(400, '9')).f64(), HUGE_VAL);
}

std::uint64_t bits_of(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// The float64 of a text the lexer loads as a number (an integer too big for
// integer! loads as a float), or nothing when it loads as something else.
std::optional<double> loaded_number(const std::string& text) {
    try {
        const std::vector<Cell> v = cells(load(text));
        if (v.size() != 1) return std::nullopt;
        if (v[0].is(TypeId::float_)) return v[0].f64();
        if (v[0].is(TypeId::integer)) return v[0].int_value();
    } catch (const LanguageError&) {
    }
    return std::nullopt;
}

// Every text of the shared corpus that our syntax takes reads to its
// float64 column, as it is and stretched past any digit buffer: 400 zeros
// after its digits, which change nothing.
TEST(Lexer, FloatTextsOfTheCorpusAreCorrectlyRounded) {
    int read = 0, skipped = 0;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(KIV_TESTDATA) / "float-parse", error)) {
        if (e.path().extension() != ".txt") continue;
        std::ifstream in(e.path());
        std::string f16, f32, f64, f128, text;
        while (in >> f16 >> f32 >> f64 >> f128 >> text) {
            const std::uint64_t want = std::stoull(f64, nullptr, 16);
            const std::optional<double> got = loaded_number(text);
            if (!got) {
                ++skipped;
                continue;
            }
            ++read;
            ASSERT_EQ(bits_of(*got), want) << text;
            const std::size_t mantissa_end = std::min(text.find_first_of("eE"), text.size());
            std::string stretched = text.substr(0, mantissa_end);
            if (stretched.find('.') == std::string::npos) stretched += '.';
            stretched += std::string(400, '0') + text.substr(mantissa_end);
            const std::optional<double> again = loaded_number(stretched);
            ASSERT_TRUE(again) << stretched;
            ASSERT_EQ(bits_of(*again), want) << text << " stretched";
        }
    }
    EXPECT_GT(read, 20000);
    EXPECT_LT(skipped, 100);  // hexadecimal floats, "inf", no digit before the point
}

// Long digit strings, where the deciding digit can lie hundreds of digits out,
// read as the C library reads them.
TEST(Lexer, LongFloatTextsAreCorrectlyRounded) {
    EXPECT_EQ(bits_of(*loaded_number(std::string(250, '9'))), bits_of(1e250));
    const std::string tie = "9007199254740993";  // 2^53 + 1: halfway, to even unless a digit follows
    EXPECT_EQ(*loaded_number(tie + "." + std::string(2000, '0')), 9007199254740992.0);
    EXPECT_EQ(*loaded_number(tie + "." + std::string(2000, '0') + "1"), 9007199254740994.0);
    std::mt19937_64 rng(2024);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t length = 300 + rng() % 1200;
        std::string digits(1, static_cast<char>('1' + rng() % 9));
        while (digits.size() < length) digits += static_cast<char>('0' + rng() % 10);
        digits.insert(1 + rng() % (length - 1), ".");
        const std::string text = digits + "e" + std::to_string(static_cast<int>(rng() % 700) - 350 - static_cast<int>(length) / 2);
        ASSERT_EQ(bits_of(*loaded_number(text)), bits_of(std::strtod(text.c_str(), nullptr))) << text;
    }
}

TEST(Lexer, TextToNumber) {
    auto to_int = [](const char* t, std::int32_t& err) {
        return lexer::string_to_integer(reinterpret_cast<const std::uint8_t*>(t), 1,
                                        static_cast<std::int32_t>(std::strlen(t)), err);
    };
    std::int32_t err = 0;
    EXPECT_EQ(to_int("-2147483648", err), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(err, 0);
    EXPECT_EQ(to_int("1'000", err), 1000);
    to_int("2147483648", err);
    EXPECT_EQ(err, -2);
    to_int("12a", err);
    EXPECT_EQ(err, -1);
    const char* f = "1,5";
    EXPECT_EQ(lexer::string_to_float(reinterpret_cast<const std::uint8_t*>(f), 3, 1, err), 1.5);
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(std::isnan(lexer::string_to_float(reinterpret_cast<const std::uint8_t*>("1.2.3"), 5, 1, err)));
    EXPECT_EQ(err, -1);
}

}  // namespace
}  // namespace kiv
