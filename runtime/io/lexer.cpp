// The lexer driver and scanner: the byte-class table and the 65-state
// automaton, the token loop, the value stack with its open-series markers,
// events to a /trace callback and the syntax-error routine. Loaders of the
// token classes live in lexer_loaders.cpp. Every run either loads, or raises a
// syntax error carrying its line; each pass of the loop consumes input.
#include "runtime/io/lexer.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/evaluator/callback.h"
#include "runtime/evaluator/stack.h"
#include "runtime/evaluator/tracing.h"
#include "runtime/io/lexer_state.h"
#include "runtime/core/raise.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <array>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

namespace kiv::lexer {

namespace {

// --- Byte classes ---------------------------------------------------------------

enum Class : std::uint8_t {
    c_blank, c_lf, c_digit, c_zero, c_lbracket, c_rbracket, c_lparen, c_rparen, c_lbrace,
    c_rbrace, c_quote, c_hash, c_apos, c_colon, c_x, c_t, c_h, c_e, c_upper_e, c_hex_lower,
    c_hex_upper, c_slash, c_backslash, c_lt, c_gt, c_eq, c_percent, c_comma, c_semicolon, c_at,
    c_dot, c_dollar, c_plus, c_minus, c_caret, c_control, c_continuation, c_word, c_bad, c_end,
};
constexpr int class_count = 40;
constexpr int state_count = 65;
constexpr std::uint8_t final_base = 66;
constexpr int token_class_count = 36;

constexpr std::uint8_t tk(TokenClass c) {
    return static_cast<std::uint8_t>(final_base + static_cast<int>(c));
}

struct Tables {
    std::array<std::uint32_t, 256> char_class{};
    std::array<std::array<std::uint8_t, class_count>, state_count> next{};
    std::array<bool, 256> point_body{};
    std::array<bool, class_count> path_end{};
    // The automaton by byte rather than by class, so that the scan loop reads
    // one table per byte: step[state][byte]. A NUL byte, like the input end
    // (end[state]), always gives a final state: the end column, or the error
    // class where that column is not final.
    std::array<std::array<std::uint8_t, 256>, state_count> step{};
    std::array<std::uint8_t, state_count> end{};
    // The flag bits of each byte, with the internal ones.
    std::array<std::uint32_t, 256> flags{};
    // Bytes skipped between tokens: 1 blank or control, 2 line feed, 0 other.
    std::array<std::uint8_t, 256> gap{};
    // The plain run's view (see plain_run): the kind of token an ASCII byte
    // starts in the start state, and the body bits of the bytes that keep a
    // word, an integer, a string or a comment in its state.
    std::array<std::uint8_t, 256> lead{};
    std::array<std::uint8_t, 256> body{};
};

enum Lead : std::uint8_t {
    lead_none, lead_word, lead_number, lead_string, lead_comment, lead_refinement,
    lead_block_open, lead_block_close, lead_paren_open, lead_paren_close,
};
constexpr std::uint8_t body_word = 1;
constexpr std::uint8_t body_digit = 2;
constexpr std::uint8_t body_string = 4;
constexpr std::uint8_t body_comment = 8;
constexpr std::uint8_t body_refinement = 16;
constexpr std::uint8_t body_path_word = 32;

using Set = std::initializer_list<Class>;
constexpr Set digits = {c_digit, c_zero};
// The delimiters that end most tokens (blank, LF, brackets, braces, quote...).
constexpr Set delims = {c_blank, c_lf, c_lbracket, c_rbracket, c_lparen, c_rparen, c_lbrace,
                        c_rbrace, c_quote, c_semicolon, c_control, c_end};

struct RowBuilder {
    std::array<std::uint8_t, class_count>& row;
    RowBuilder& on(Set classes, std::uint8_t to) {
        for (Class c : classes) row[c] = to;
        return *this;
    }
    RowBuilder& on(Class c, std::uint8_t to) { row[c] = to; return *this; }
};

Tables build_tables() {
    Tables t;
    auto& cc = t.char_class;
    for (int b = 0; b < 256; ++b) cc[static_cast<std::size_t>(b)] = c_word;
    auto set = [&](int b, Class c, std::uint32_t flags = 0) {
        cc[static_cast<std::size_t>(b)] = static_cast<std::uint32_t>(c) | flags;
    };
    set('\t', c_blank); set('\r', c_blank); set(' ', c_blank); set('\n', c_lf);
    for (int b = '1'; b <= '9'; ++b) set(b, c_digit);
    set('0', c_zero); set('[', c_lbracket); set(']', c_rbracket); set('(', c_lparen);
    set(')', c_rparen); set('{', c_lbrace); set('}', c_rbrace); set('"', c_quote);
    set('#', c_hash, flag_hash); set('\'', c_apos, flag_quote); set(':', c_colon, flag_colon);
    set('x', c_x); set('X', c_x); set('T', c_t); set('h', c_h);
    set('e', c_e, flag_exponent); set('E', c_upper_e, flag_exponent);
    for (int b : {'a', 'b', 'c', 'd', 'f'}) set(b, c_hex_lower);
    for (int b : {'A', 'B', 'C', 'D', 'F'}) set(b, c_hex_upper);
    set('/', c_slash); set('\\', c_backslash); set('<', c_lt, flag_lt); set('>', c_gt, flag_gt);
    set('=', c_eq); set('%', c_percent, flag_percent); set(',', c_comma, flag_comma);
    set(';', c_semicolon); set('@', c_at); set('.', c_dot, flag_dot); set('$', c_dollar);
    set('+', c_plus, flag_sign); set('-', c_minus, flag_sign); set('^', c_caret, flag_escape);
    for (int b = 1; b <= 0x1F; ++b)
        if (b != '\t' && b != '\n' && b != '\r') set(b, c_control);
    for (int b = 0x7F; b <= 0xBF; ++b) set(b, c_continuation);
    for (int b = 0xC2; b <= 0xEF; ++b) set(b, c_word, 0x40000000);
    for (int b = 0xF0; b <= 0xF7; ++b) set(b, c_word, 0x80000000);
    for (int b : {0xC0, 0xC1}) set(b, c_bad);
    for (int b = 0xF8; b <= 0xFF; ++b) set(b, c_bad);
    set(0, c_end, flag_end);

    auto row = [&](int state, std::uint8_t other) {
        auto& r = t.next[static_cast<std::size_t>(state)];
        r.fill(other);
        return RowBuilder{r};
    };
    using enum TokenClass;
    const std::uint8_t T1 = tk(error);
    const Set hexish = {c_x, c_t, c_h, c_e, c_upper_e, c_hex_lower, c_hex_upper};
    row(s_start, s_word).on({c_blank, c_lf, c_control}, s_start).on(c_semicolon, s_comment)
        .on(c_quote, s_string).on(c_percent, s_percent).on(c_slash, s_slash).on(c_hash, s_hash)
        .on(digits, s_integer).on(c_dollar, s_money_sign).on({c_upper_e, c_hex_upper}, s_hex_word)
        .on(c_lt, s_lt).on({c_plus, c_minus}, s_sign).on(c_dot, s_dot)
        .on({c_apos, c_colon}, s_quote_colon).on(c_at, s_ref).on(c_eq, s_equals).on(c_end, tk(end))
        .on({c_rbrace, c_backslash, c_continuation, c_bad}, T1).on(c_lbracket, tk(block_open))
        .on(c_rbracket, tk(block_close)).on(c_lparen, tk(paren_open)).on(c_rparen, tk(paren_close))
        .on(c_lbrace, tk(brace_open)).on(c_comma, tk(comma));
    row(s_comment, s_comment).on(c_bad, T1).on({c_lf, c_end}, tk(comment));
    row(s_string, s_string).on(c_caret, s_string_escape).on({c_lf, c_bad, c_end}, T1)
        .on(c_quote, tk(string));
    row(s_string_escape, s_string).on({c_bad, c_end}, T1);
    row(s_braced, s_braced).on(c_caret, s_braced_escape).on({c_bad, c_end}, T1)
        .on(c_lbrace, tk(brace_open)).on(c_rbrace, tk(brace_close));
    row(s_braced_escape, s_braced).on({c_bad, c_end}, T1);
    row(s_percent, s_file).on(c_quote, s_quoted_file).on(c_percent, s_percent_percent)
        .on(c_lbrace, s_raw_string).on(c_colon, s_percent_word).on(c_bad, T1)
        .on({c_blank, c_lf, c_lbracket, c_rbracket, c_lparen, c_rparen, c_rbrace, c_semicolon, c_at,
             c_control, c_end}, tk(word));
    row(s_file, s_file).on({c_quote, c_bad}, T1)
        .on({c_blank, c_lf, c_lbracket, c_rbracket, c_lparen, c_rparen, c_lbrace, c_rbrace, c_colon,
             c_semicolon, c_at, c_end}, tk(file));
    row(s_quoted_file, s_quoted_file).on({c_lf, c_bad, c_end}, T1).on(c_quote, tk(file));
    row(s_percent_percent, s_file).on(c_percent, s_percent_percent).on(c_lbrace, s_raw_string)
        .on(c_bad, T1)
        .on({c_blank, c_lf, c_lbracket, c_rbracket, c_lparen, c_rparen, c_rbrace, c_quote,
             c_backslash, c_semicolon, c_control, c_end}, tk(word));
    row(s_raw_string, s_raw_string).on(c_rbrace, s_raw_brace).on({c_bad, c_end}, T1);
    row(s_raw_brace, s_raw_string).on(c_rbrace, s_raw_brace).on(c_percent, s_raw_end)
        .on({c_bad, c_end}, T1);
    row(s_raw_end, T1).on(c_percent, s_raw_end)
        .on({c_blank, c_lf, c_lbracket, c_rbracket, c_lparen, c_rparen, c_lbrace, c_quote, c_lt,
             c_semicolon, c_control, c_end}, tk(raw_string));
    row(s_slash, s_refinement).on(c_slash, s_slash_slash).on(c_colon, s_word_colon)
        .on({c_comma, c_bad}, T1).on(delims, tk(word)).on({c_hash, c_at}, tk(word));
    row(s_refinement, s_refinement).on({c_colon, c_comma, c_bad}, T1).on(delims, tk(refinement))
        .on({c_slash, c_at}, tk(refinement));
    row(s_slash_slash, s_word).on(c_slash, s_slash_slash)
        .on({c_percent, c_comma, c_dollar, c_bad}, T1).on(delims, tk(word))
        .on({c_hash, c_at}, tk(word));
    row(s_hash, s_issue).on(c_lbrace, s_binary).on(c_quote, s_char).on(c_lparen, s_construction)
        .on({c_blank, c_lf, c_rbracket, c_rparen, c_rbrace, c_colon, c_lt, c_gt, c_comma, c_bad},
             T1).on(c_lbracket, tk(map_open)).on({c_semicolon, c_at, c_control, c_end}, tk(issue));
    row(s_binary, T1)
        .on({c_blank, c_lf, c_digit, c_zero, c_x, c_t, c_h, c_e, c_upper_e, c_hex_lower,
             c_hex_upper, c_slash, c_eq, c_plus, c_word}, s_binary)
        .on(c_semicolon, s_binary_comment).on(c_rbrace, tk(binary));
    row(s_binary_comment, s_binary_comment).on(c_lf, s_binary).on({c_bad, c_end}, T1);
    row(s_char, s_char).on(c_caret, s_char_escape).on({c_bad, c_end}, T1).on(c_quote, tk(char_));
    row(s_char_escape, s_char).on({c_bad, c_end}, T1);
    row(s_construction, s_construction).on({c_bad, c_end}, T1).on(c_rparen, tk(construction));
    row(s_issue, s_issue).on({c_colon, c_slash, c_bad}, T1).on(delims, tk(issue))
        .on(c_at, tk(issue));
    row(s_integer, tk(integer)).on(c_hash, s_hash).on({c_digit, c_zero, c_apos}, s_integer)
        .on(c_dot, s_integer_dot).on(c_e, s_exponent).on(c_upper_e, s_digits_upper_e)
        .on({c_t, c_slash, c_minus}, s_date).on(c_colon, s_time_colon).on(c_x, s_pair_x)
        .on(c_hex_upper, s_hex_digits).on(c_h, s_digits_h).on(c_at, s_email)
        .on({c_hex_lower, c_backslash, c_gt, c_eq, c_dollar, c_plus, c_caret, c_continuation,
             c_word, c_bad}, T1).on(c_percent, tk(percent));
    row(s_integer_dot, T1).on({c_digit, c_zero, c_apos}, s_decimal).on({c_e, c_upper_e}, s_exponent)
        .on(c_hash, s_special_float).on(c_x, s_pair_x).on(c_percent, tk(percent))
        .on(delims, tk(float_)).on({c_slash, c_lt, c_comma}, tk(float_));
    row(s_decimal, tk(float_)).on({c_digit, c_zero, c_apos}, s_decimal)
        .on({c_e, c_upper_e}, s_exponent).on(c_dot, s_tuple).on(c_x, s_pair_x).on(c_at, s_email)
        .on({c_hash, c_t, c_h, c_hex_lower, c_hex_upper, c_backslash, c_gt, c_eq, c_dollar, c_plus,
             c_minus, c_caret, c_continuation, c_word, c_bad}, T1).on(c_percent, tk(percent));
    row(s_exponent, T1).on({c_digit, c_zero, c_plus, c_minus}, s_exponent).on(c_at, s_email)
        .on(delims, tk(float_)).on({c_colon, c_slash, c_lt, c_comma}, tk(float_));
    row(s_digits_upper_e, tk(float_)).on({c_plus, c_minus}, s_exponent).on(digits, s_digits_upper_e)
        .on(c_dot, s_tuple).on({c_upper_e, c_hex_upper}, s_hex_word).on(c_h, s_digits_h)
        .on(c_at, s_email)
        .on({c_hash, c_apos, c_x, c_t, c_e, c_hex_lower, c_backslash, c_gt, c_eq, c_semicolon,
             c_dollar, c_caret, c_continuation, c_word, c_bad}, T1).on(c_percent, tk(percent));
    row(s_special_float, tk(special_float)).on(hexish, s_special_float)
        .on({c_gt, c_eq, c_dot, c_plus, c_minus, c_continuation, c_word}, s_special_float)
        .on({c_hash, c_apos, c_colon, c_percent, c_at, c_dollar, c_caret, c_bad}, T1)
        .on(c_digit, tk(float_));
    row(s_tuple, T1).on({c_digit, c_zero, c_dot}, s_tuple).on(delims, tk(tuple))
        .on({c_colon, c_slash, c_lt}, tk(tuple));
    row(s_date, s_date).on({c_percent, c_comma, c_at, c_caret, c_continuation, c_bad}, T1)
        .on(delims, tk(date)).on({c_lt, c_dollar}, tk(date));
    row(s_time_colon, T1).on(digits, s_time);
    row(s_time, T1).on({c_digit, c_zero, c_colon, c_dot}, s_time).on(delims, tk(time))
        .on({c_slash, c_lt}, tk(time));
    row(s_pair_x, T1).on({c_digit, c_zero, c_plus, c_minus}, s_pair_y).on(c_at, s_email);
    row(s_pair_y, T1).on({c_digit, c_zero, c_e, c_upper_e, c_dot}, s_pair_y).on(c_at, s_email)
        .on(delims, tk(pair)).on({c_colon, c_slash, c_lt}, tk(pair));
    row(s_point, T1)
        .on({c_blank, c_digit, c_zero, c_rbracket, c_hash, c_e, c_upper_e, c_hex_lower, c_hex_upper,
             c_comma, c_dot, c_plus, c_minus, c_word}, s_point).on(c_rparen, tk(point));
    row(s_money_sign, T1).on(digits, s_money);
    row(s_money, T1).on({c_digit, c_zero, c_apos}, s_money).on(c_dot, s_money_decimals)
        .on(delims, tk(money)).on({c_hash, c_colon, c_slash, c_lt}, tk(money));
    row(s_money_decimals, T1).on({c_digit, c_zero, c_apos}, s_money_decimals).on(delims, tk(money))
        .on({c_hash, c_colon, c_slash, c_lt}, tk(money));
    row(s_hex_digits, T1).on({c_digit, c_zero, c_upper_e, c_hex_upper}, s_hex_digits)
        .on(c_h, s_hex_word_h).on(c_at, s_email);
    row(s_hex_word, tk(word)).on(c_dollar, s_money)
        .on({c_digit, c_zero, c_upper_e, c_hex_upper}, s_hex_word).on(c_h, s_hex_word_h)
        .on({c_apos, c_x, c_t, c_e, c_hex_lower, c_lt, c_gt, c_eq, c_dot, c_plus, c_minus, c_caret,
             c_continuation, c_word}, s_word).on(c_colon, s_word_colon).on(c_at, s_email)
        .on({c_percent, c_comma, c_bad}, T1).on(c_slash, tk(path_head));
    row(s_hex_word_h, s_word).on(c_dollar, s_money).on(c_colon, s_word_colon).on(c_at, s_email)
        .on({c_hash, c_percent, c_comma, c_bad}, T1).on(c_slash, tk(path_head))
        .on(delims, tk(hex_integer)).on(c_backslash, tk(hex_integer));
    row(s_digits_h, T1).on(c_dollar, s_money).on(c_at, s_email).on(c_slash, tk(path_head))
        .on(delims, tk(hex_integer)).on({c_backslash, c_lt}, tk(hex_integer));
    row(s_lt, s_tag).on(c_lt, s_lt).on(c_apos, s_tag_single_quote).on({c_gt, c_eq, c_minus}, s_word)
        .on(c_colon, s_word_colon).on(c_bad, T1).on(delims, tk(word));
    row(s_tag, s_tag).on(c_quote, s_tag_double_quote).on(c_apos, s_tag_single_quote)
        .on({c_bad, c_end}, T1).on(c_gt, tk(tag));
    row(s_tag_double_quote, s_tag_double_quote).on(c_quote, s_tag).on({c_bad, c_end}, T1);
    row(s_tag_single_quote, s_tag_single_quote).on(c_apos, s_tag).on({c_bad, c_end}, T1);
    row(s_sign, s_word).on(digits, s_integer).on(c_dollar, s_money).on(c_dot, s_dot)
        .on({c_apos, c_percent, c_caret, c_bad}, T1).on(c_slash, tk(path_head)).on(delims, tk(word))
        .on({c_hash, c_backslash}, tk(word));
    row(s_quoted_sign, s_word).on({c_apos, c_percent, c_dollar, c_caret, c_bad}, T1)
        .on(c_slash, tk(path_head)).on(delims, tk(word)).on({c_hash, c_backslash}, tk(word));
    row(s_dot, s_word).on({c_digit, c_zero, c_plus, c_minus}, s_dot_digits)
        .on(c_colon, s_word_colon).on(c_at, s_email).on({c_percent, c_comma, c_dollar, c_bad}, T1)
        .on(c_slash, tk(path_head)).on(delims, tk(word)).on({c_hash, c_backslash}, tk(word));
    row(s_dot_digits, T1).on(c_x, s_pair_x)
        .on({c_digit, c_zero, c_e, c_upper_e, c_plus, c_minus}, s_dot_digits).on(c_at, s_email)
        .on(c_percent, tk(percent))
        .on({c_blank, c_lf, c_lbracket, c_rbracket, c_lparen, c_rparen, c_lbrace, c_rbrace, c_quote,
             c_colon, c_slash, c_lt, c_control, c_end}, tk(float_));
    row(s_quote_colon, T1).on(c_slash, s_slash).on(c_lt, s_lt).on({c_plus, c_minus}, s_quoted_sign)
        .on(hexish, s_word).on({c_gt, c_dot, c_caret, c_continuation, c_word}, s_word)
        .on(c_percent, s_percent_word).on(c_eq, s_equals);
    row(s_word, s_word).on(c_dollar, s_money_sign).on(c_colon, s_word_colon).on(c_at, s_email)
        .on({c_percent, c_comma, c_bad}, T1).on(c_slash, tk(path_head)).on(delims, tk(word))
        .on({c_hash, c_backslash, c_lt}, tk(word));
    row(s_word_colon, s_url).on({c_lt, c_bad}, T1).on(delims, tk(word)).on(c_backslash, tk(word));
    row(s_percent_word, T1).on(c_percent, s_percent_word)
        .on({c_blank, c_lf, c_lbracket, c_rbracket, c_lparen, c_rparen, c_lbrace, c_rbrace,
             c_backslash, c_semicolon, c_control, c_end}, tk(word));
    row(s_url, s_url).on({c_gt, c_caret, c_bad}, T1).on(delims, tk(url))
        .on({c_backslash, c_lt}, tk(url));
    row(s_email, tk(email)).on(digits, s_email).on(hexish, s_email)
        .on({c_percent, c_dot, c_plus, c_minus, c_continuation, c_word}, s_email)
        .on({c_hash, c_apos, c_colon, c_gt, c_eq, c_comma, c_at, c_dollar, c_caret, c_bad}, T1);
    row(s_ref, s_ref)
        .on({c_hash, c_apos, c_backslash, c_gt, c_eq, c_comma, c_at, c_dollar, c_caret, c_bad}, T1)
        .on(delims, tk(ref)).on(c_lt, tk(ref));
    row(s_equals, s_word).on({c_hash, c_percent, c_comma, c_at, c_dollar, c_bad}, T1)
        .on(c_slash, tk(path_head)).on(delims, tk(word)).on({c_colon, c_backslash}, tk(word));
    row(s_path, T1).on(c_quote, s_string).on(c_dollar, s_money_sign).on(c_lt, s_lt).on(c_at, s_ref)
        .on(digits, s_path_integer).on({c_apos, c_colon}, s_path_quote_colon)
        .on(hexish, s_path_word).on({c_gt, c_eq, c_dot, c_continuation, c_word}, s_path_word)
        .on(c_hash, s_path_hash).on({c_plus, c_minus}, s_path_sign).on(c_lparen, tk(paren_open))
        .on(c_rparen, tk(paren_close));
    row(s_path_integer, T1).on(c_dot, s_integer_dot).on({c_e, c_upper_e}, s_exponent)
        .on(c_x, s_pair_x).on(c_at, s_email).on({c_digit, c_zero, c_apos}, s_path_integer)
        .on(delims, tk(integer)).on({c_colon, c_slash, c_lt}, tk(integer))
        .on(c_percent, tk(percent));
    row(s_path_quote_colon, T1).on(hexish, s_path_word)
        .on({c_lt, c_gt, c_eq, c_dot, c_plus, c_minus, c_continuation, c_word}, s_path_word);
    row(s_path_word, s_path_word).on(c_dollar, s_money_sign).on(c_at, s_email)
        .on({c_hash, c_percent, c_comma, c_bad}, T1).on(delims, tk(word))
        .on({c_colon, c_slash, c_backslash}, tk(word));
    row(s_path_hash, s_issue).on(c_quote, s_char).on(c_lbracket, s_construction)
        .on({c_blank, c_lf, c_rbracket, c_lparen, c_rparen, c_lbrace, c_rbrace, c_colon, c_slash,
             c_lt, c_gt, c_eq, c_comma, c_semicolon, c_at, c_control, c_bad, c_end}, T1);
    row(s_path_sign, tk(word)).on(c_dollar, s_money_sign).on(c_at, s_email)
        .on(digits, s_path_integer).on(hexish, s_path_word)
        .on({c_gt, c_eq, c_dot, c_continuation, c_word}, s_path_word)
        .on({c_plus, c_minus}, s_path_sign)
        .on({c_hash, c_apos, c_lt, c_percent, c_comma, c_caret, c_bad}, T1);

    for (int state = 0; state < state_count; ++state) {
        auto& classes = t.next[static_cast<std::size_t>(state)];
        std::uint8_t at_end = classes[c_end];
        if (at_end < final_base) at_end = tk(error);
        t.end[static_cast<std::size_t>(state)] = at_end;
        for (int b = 0; b < 256; ++b)
            t.step[static_cast<std::size_t>(state)][static_cast<std::size_t>(b)] =
                b == 0 ? at_end : classes[cc[static_cast<std::size_t>(b)] & 0xFFu];
    }
    for (int b = 0; b < 256; ++b) {
        const std::uint32_t cls = cc[static_cast<std::size_t>(b)] & 0xFFu;
        t.flags[static_cast<std::size_t>(b)] = (cc[static_cast<std::size_t>(b)] & ~0xFFu) |
                                               (b >= 0x80 ? flag_non_ascii : 0) |
                                               (b == '\n' ? flag_line_feed : 0);
        t.gap[static_cast<std::size_t>(b)] =
            cls == c_lf ? 2 : (cls == c_blank || cls == c_control) ? 1 : 0;
    }

    // Only ASCII bytes are plain: a word or string with others takes the
    // general road, which decodes them and knows the Unicode blanks.
    const auto& from_start = t.step[s_start];
    for (int b = 1; b < 0x80; ++b) {
        const auto i = static_cast<std::size_t>(b);
        const std::uint8_t to = from_start[i];
        t.lead[i] = to == s_word                   ? lead_word
                    : to == s_integer              ? lead_number
                    : to == s_string               ? lead_string
                    : to == s_comment              ? lead_comment
                    : to == s_slash                ? lead_refinement
                    : to == tk(block_open)         ? lead_block_open
                    : to == tk(block_close)        ? lead_block_close
                    : to == tk(paren_open)         ? lead_paren_open
                    : to == tk(paren_close)        ? lead_paren_close
                                                   : lead_none;
        t.body[i] = static_cast<std::uint8_t>(
            (t.step[s_word][i] == s_word ? body_word : 0) |
            (b >= '0' && b <= '9' ? body_digit : 0) |
            (t.step[s_string][i] == s_string ? body_string : 0) |
            (t.step[s_refinement][i] == s_refinement ? body_refinement : 0) |
            (t.step[s_path_word][i] == s_path_word ? body_path_word : 0));
    }
    for (int b = 1; b < 256; ++b)
        if (t.step[s_comment][static_cast<std::size_t>(b)] == s_comment)
            t.body[static_cast<std::size_t>(b)] |= body_comment;

    for (const char* p = "\t #+-.0123456789AEFINaefin"; *p != 0; ++p)
        t.point_body[static_cast<std::uint8_t>(*p)] = true;
    for (Class c : {c_blank, c_lf, c_lbracket, c_rbracket, c_lparen, c_rparen, c_lbrace, c_quote,
                    c_colon, c_lt, c_semicolon, c_word, c_bad, c_end})
        t.path_end[c] = true;
    return t;
}

const Tables tables = build_tables();

// Datatype reported per token class (0: none).  ORDER TOKEN-CLASSES
constexpr std::array<TypeId, token_class_count> class_type = {
    TypeId::no_type, TypeId::error, TypeId::no_type, TypeId::no_type, TypeId::no_type,
    TypeId::no_type, TypeId::no_type, TypeId::string, TypeId::no_type, TypeId::no_type,
    TypeId::no_type, TypeId::no_type, TypeId::no_type, TypeId::string, TypeId::word,
    TypeId::issue, TypeId::integer, TypeId::refinement, TypeId::char_, TypeId::file,
    TypeId::binary, TypeId::percent, TypeId::float_, TypeId::float_, TypeId::tuple, TypeId::date,
    TypeId::pair, TypeId::point2d, TypeId::time, TypeId::money, TypeId::tag, TypeId::url,
    TypeId::email, TypeId::integer, TypeId::string, TypeId::ref,
};

// Datatype of the token a non-final state is reading (for an error report).
TypeId state_type(int state) {
    static constexpr TypeId w = TypeId::word;
    static constexpr std::array<TypeId, state_count> types = {
        TypeId::no_type, TypeId::no_type, TypeId::string, TypeId::string, TypeId::string,  // 0-4
        TypeId::string, w, TypeId::file, TypeId::file, w,                                 // 5-9
        TypeId::string, TypeId::string, TypeId::string, w, TypeId::refinement,           // 10-14
        w, TypeId::issue, TypeId::binary, TypeId::binary, TypeId::char_,                  // 15-19
        TypeId::char_, TypeId::no_type, TypeId::issue, TypeId::integer, TypeId::float_,   // 20-24
        TypeId::float_, TypeId::float_, TypeId::float_, TypeId::float_, TypeId::tuple,    // 25-29
        TypeId::date, TypeId::time, TypeId::time, TypeId::pair, TypeId::pair,             // 30-34
        TypeId::point2d, TypeId::money, TypeId::money, TypeId::money, TypeId::integer,    // 35-39
        w, TypeId::integer, TypeId::integer, w, TypeId::tag,                              // 40-44
        TypeId::tag, TypeId::tag, w, w, w,                                                // 45-49
        TypeId::float_, w, w, w, w,                                                       // 50-54
        TypeId::url, TypeId::email, TypeId::ref, w, TypeId::path,                         // 55-59
        TypeId::integer, w, w, TypeId::issue, w,                                          // 60-64
    };
    return types[static_cast<std::size_t>(state)];
}

// The 21 Unicode blanks that end a word.
bool unicode_blank_q(std::int32_t cp) {
    switch (cp) {
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F:
    case 0x3000: case 0x180E: case 0x200B:
        return true;
    default:
        return cp >= 0x2000 && cp <= 0x200A;
    }
}

// A class without datatype as callbacks see it: minus the class number minus one.
std::int32_t class_event_type(TokenClass c) { return -(static_cast<std::int32_t>(c) + 1); }

std::int32_t i32(std::ptrdiff_t n) { return static_cast<std::int32_t>(n); }
std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
int tint(TypeId t) { return static_cast<int>(t); }
TypeId to_type(std::int32_t t) { return static_cast<TypeId>(static_cast<std::uint8_t>(t)); }

// --- The value stack and the run chain ------------------------------------------

std::vector<Cell> value_stack;  // stack_cells and stack_size describe it
State* first_state = nullptr;

constexpr std::int32_t lexer_buffer_size = 100000;
std::unique_ptr<std::uint8_t[]> text_buffer;
std::int32_t text_cursor = 0;

void ensure_stack() {
    if (value_stack.empty()) {
        value_stack.resize(1000);
        stack_cells = value_stack.data();
        stack_size = static_cast<std::int32_t>(value_stack.size());
    }
}

// --- Markers ------------------------------------------------------------------

TypeId marker_series(const Cell& m) { return m.marker_series(); }
std::uint32_t marker_commas(const Cell& m) { return m.marker_commas(); }

// The innermost open marker, or null.
Cell* open_marker(State& s) { return s.head > s.base ? &stack_at(s.head - 1) : nullptr; }

// --- Character offsets for callbacks -----------------------------------------------

bool source_is_string(const State& s) {
    return s.source.type() != TypeId::binary && s.source.type() != TypeId::unset;
}

constexpr std::size_t character_mark_span = 64;

// The characters in [from, to) of well-formed UTF-8: its bytes that are not
// continuation bytes.
std::int32_t characters(const std::uint8_t* from, const std::uint8_t* to) {
    std::int32_t n = 0;
    for (; from < to; ++from) n += (*from & 0xC0) != 0x80;
    return n;
}

// The character offset of p in a string source (the byte offset in a binary
// one). Events ask about offsets anywhere behind the newest (a block's close
// names its open), so the characters before each stretch of
// character_mark_span bytes are kept as the scan first passes it, and an
// answer counts at most one stretch.
std::int32_t unit_offset(State& s, const std::uint8_t* p) {
    p = std::clamp(p, s.input_start, s.input_end);
    if (!source_is_string(s)) return i32(p - s.input_start);
    const auto stretch = static_cast<std::size_t>(p - s.input_start) / character_mark_span;
    std::vector<std::int32_t>& marks = s.character_marks;
    if (marks.empty()) marks.push_back(0);
    while (marks.size() <= stretch) {
        const std::uint8_t* from = s.input_start + (marks.size() - 1) * character_mark_span;
        marks.push_back(marks.back() + characters(from, from + character_mark_span));
    }
    return marks[stretch] + characters(s.input_start + stretch * character_mark_span, p);
}

// --- Events ---------------------------------------------------------------------

const char* event_name(Event e) {
    switch (e) {
    case Event::prescan: return "prescan";
    case Event::scan: return "scan";
    case Event::load: return "load";
    case Event::open: return "open";
    case Event::close: return "close";
    case Event::error: return "error";
    }
    return "error";
}

bool listens(const State& s, Event e) {
    return !s.callback.is(TypeId::unset) && (s.event_mask & static_cast<std::uint32_t>(e)) != 0;
}

// Asks the callback about an event it listens to (see fire).
[[gnu::noinline]] bool call_callback(State& s, Event e, std::int32_t type, const std::uint8_t* start,
                                     const std::uint8_t* end, const Cell* value) {
    if (e == Event::scan && type == -2) {
        e = Event::error;
        type = tint(TypeId::error);
    }
    if (type == tint(TypeId::point2d) || type == tint(TypeId::point3d)) {
        // A point literal's token starts inside its parentheses.
        if (start > s.input_start && start[-1] == '(') --start;
        if (e == Event::prescan && end < s.input_end && *end == ')') ++end;
    }
    const std::int32_t count = std::max<std::int32_t>(5, s.callback_args);
    std::vector<Cell> args(static_cast<std::size_t>(count));
    word::make_at(symbol::make(event_name(e)), args[0]);
    const std::uint8_t* at = (e == Event::open || (e == Event::prescan && type <= 0)) ? start : end;
    const std::int32_t source_head = s.source.series_head();
    if (s.source.is(TypeId::unset)) {
        none::make_at(args[1]);
    } else {
        args[1] = s.source;
        args[1].set_series_head(source_head + unit_offset(s, at));
    }
    if (type > 0) {
        datatype::make_at(to_type(type), args[2]);
    } else if (type < 0) {  // a token class without a datatype: named in system/lexer
        Cell* states = system_object::field("lexer/exit-states");
        const std::int32_t index = -type - 1;
        if (states != nullptr && states->is(TypeId::block) && index < block::count_from_head(*states))
            args[2] = block::head_cell(*states)[index];
        else none::make_at(args[2]);
    } else {
        none::make_at(args[2]);
    }
    args[3].reset(TypeId::integer);
    args[3].set_int(s.line);
    if (value != nullptr) {
        args[4] = *value;
    } else {
        args[4].reset(TypeId::pair);
        args[4].set_pair(unit_offset(s, start) + 1, unit_offset(s, end) + 1);
    }
    for (std::size_t i = 5; i < args.size(); ++i) {
        if (i == 5) logic::make_at(args[i], false);
        else none::make_at(args[i]);
    }
    collector::Root keep_source(s.source);
    const std::int32_t passed_head = args[1].series_head();
    // The input argument comes back: a callback may move it to steer the lexer.
    const bool answer =
        !s.callback.is(TypeId::function) ||
        !logic::false_result_q(callback::call(s.callback, args.data(), count,
                                              words::word(words::Word::lexer_callback),
                                              tracing::callback_lexer, args.data()));
    if (!s.source.is(TypeId::unset) && args[1].series_head() != passed_head) {
        const std::int32_t units = std::max(0, args[1].series_head() - source_head);
        if (source_is_string(s)) s.pos = unicode::skip_utf8_chars(s.input_start, s.input_end, units);
        else s.pos = s.input_start + std::min<std::int32_t>(units, i32(s.input_end - s.input_start));
        s.repositioned = true;
    }
    return answer;
}

// Asks the callback about an event; true when it has none or does not listen.
// type: a datatype id, 0 none, or minus (token class + 1). Each token passes
// here several times and almost no run has a callback: that answer stays inline.
inline bool fire(State& s, Event e, std::int32_t type, const std::uint8_t* start,
                 const std::uint8_t* end, const Cell* value) {
    if (!listens(s, e)) return true;
    return call_callback(s, e, type, start, end, value);
}

// --- Errors ---------------------------------------------------------------------

// A string! of UTF-8 text; malformed sequences become U+FFFD, so any input
// can be quoted in an error.
void lenient_string(const std::uint8_t* p, const std::uint8_t* end, Cell& out) {
    string::make_at(out, i32(end - p));
    const NodeId node = out.series_node();
    while (p < end) {
        std::int32_t cp = 0;
        p = unicode::decode_utf8_char(p, end, &cp);
        string::append_char(node, cp < 0 ? 0xFFFDu : static_cast<std::uint32_t>(cp));
    }
}

// Drops every open marker before an error leaves the run: its values go
// with the run.
void cleanup_markers(State& s) {
    s.top = s.head = s.base;
}

std::uint32_t missing_delimiter(TypeId open, std::uint8_t at) {
    switch (open) {
    case TypeId::block: case TypeId::map: return at == ']' ? '[' : ']';
    case TypeId::paren: case TypeId::point2d: return at == ')' ? '(' : ')';
    default: return 0;
    }
}

// --- Opening and closing series --------------------------------------------------

void open_series(State& s, TypeId t, const std::uint8_t* at) {
    if (Cell* m = open_marker(s); m != nullptr && marker_series(*m) == TypeId::point2d)
        syntax_error(s, at, at + 1, tint(TypeId::point2d));
    if (!fire(s, Event::open, tint(t), at, at + 1, nullptr)) return;
    Cell marker{};
    marker.reset(marker_type);
    marker.set_marker(static_cast<std::uint32_t>(s.top - s.head), t,
                      static_cast<std::uint32_t>(at - s.input_start));
    push(s, marker);
    s.head = s.top;
    s.start_state = s_start;
}

// Builds the series of cells [from, to) of type t into out.
void make_series(State& s, std::int32_t from, std::int32_t to, TypeId t, Cell& out) {
    const std::int32_t n = to - from;
    if (path::is_path_type(t)) path::make_at(out, n);
    else block::make_at(out, n);
    out.set_type(t);
    SeriesBuffer* buf = memory::buffer(out.series_node());
    if (n > 0) std::memcpy(buf->head, &stack_at(from), static_cast<std::size_t>(n) * sizeof(Cell));
    buf->tail = buf->head + static_cast<std::size_t>(n) * sizeof(Cell);
    (void)s;
}

bool build_mode(const State& s) { return s.load; }

// Closes the innermost series as type t (-1: whatever is open); returns the
// series type.
std::int32_t close_series(State& s, std::int32_t t, const std::uint8_t* at, bool events) {
    Cell* m = open_marker(s);
    if (events) {
        const std::int32_t reported = m != nullptr ? tint(marker_series(*m)) : t;
        const std::uint8_t* opened = m != nullptr ? s.input_start + m->marker_offset() : at;
        if (!fire(s, Event::close, reported, opened, at, nullptr)) {
            s.start_state = s_start;
            return t;
        }
        m = open_marker(s);
    }
    if (m == nullptr) {
        s.open_type = t;
        syntax_error(s, at, at + 1, kind_missing_close);
    }
    const TypeId mt = marker_series(*m);
    TypeId result = mt;
    if (t != -1 && t != tint(mt)) {
        const bool map_by_bracket = t == tint(TypeId::block) && mt == TypeId::map;
        const bool set_path = t == tint(TypeId::set_path) && path::is_path_type(mt);
        if (!map_by_bracket && !set_path) {
            s.open_type = tint(mt);
            syntax_error(s, at, at + 1, kind_missing_close);
        }
        if (set_path) result = TypeId::set_path;
    }
    const std::int32_t marker_index = s.head - 1;
    const std::int32_t enclosing = marker_index - static_cast<std::int32_t>(m->marker_distance());
    const bool new_line = m->new_line();
    Cell value{};
    if (build_mode(s)) {
        if (result == TypeId::map) {
            // Key/value pairs whose keys may be map keys, indexed as a map!.
            bool pairs = (s.top - s.head) % 2 == 0;
            for (std::int32_t i = s.head; pairs && i < s.top; i += 2)
                pairs = map::is_key_type(stack_at(i).type());
            if (!pairs) syntax_error(s, s.input_start + m->marker_offset(), at + 1, tint(TypeId::map));
            make_series(s, s.head, s.top, TypeId::block, value);
            map::make_at(value, &value, 0);
        } else {
            make_series(s, s.head, s.top, result, value);
        }
    } else {
        none::make_at(value);
    }
    value.set_new_line(new_line);
    stack_at(marker_index) = value;
    s.head = enclosing;
    s.top = marker_index + 1;
    s.type = tint(result);
    Cell* outer = open_marker(s);
    s.start_state = outer != nullptr && path::is_path_type(marker_series(*outer)) ? s_path : s_start;
    return tint(result);
}

// Closes the open blocks and parens as they stand and drops the other open
// series (paths, maps, points), when the input ended inside them.
void close_open_series(State& s) {
    while (Cell* m = open_marker(s)) {
        const TypeId t = marker_series(*m);
        if (t == TypeId::block || t == TypeId::paren) {
            close_series(s, -1, s.pos, false);
        } else {
            const std::int32_t marker_index = s.head - 1;
            s.head = marker_index - static_cast<std::int32_t>(m->marker_distance());
            s.top = marker_index;
        }
    }
    s.start_state = s_start;
}

// --- Scanners of the structural classes -------------------------------------------

// After a token read at a path element: closes the path or consumes the "/".
void path_element_end(State& s) {
    const std::uint8_t* p = s.pos;
    const bool at_end = p >= s.input_end;
    const std::uint32_t cls = at_end ? std::uint32_t{c_end} : (tables.char_class[*p] & 0xFFu);
    if (at_end || tables.path_end[cls]) {
        if (!at_end && *p == ':') {
            if (p + 1 < s.input_end && p[1] == '/') syntax_error(s, p, p + 2, tint(TypeId::path));
            s.pos = p + 1;
            close_series(s, tint(TypeId::set_path), p, true);
            return;
        }
        close_series(s, -1, p, true);
        return;
    }
    if (*p != '/' || p + 1 >= s.input_end) {
        syntax_error(s, nullptr, p, tint(TypeId::path));
    }
    s.pos = p + 1;
}

// `(` starts a point literal when a "," follows over point-body characters only.
bool point_literal_q(const State& s, const std::uint8_t* paren) {
    if (s.input_end - (paren + 1) <= 3) return false;
    for (const std::uint8_t* q = paren + 1; q < s.input_end; ++q) {
        if (*q == ',') return true;
        if (!tables.point_body[*q]) return false;
    }
    return false;
}

void scan_construction(State& s, const std::uint8_t* start, const std::uint8_t* end) {
    // start at "#(", end at ")"
    const std::uint8_t* text = start + 2;
    const std::size_t n = static_cast<std::size_t>(end - text);
    auto prefix_of = [&](const char* name, std::size_t len) {
        if (n == 0 || n > len) return false;
        for (std::size_t i = 0; i < n; ++i) {
            const auto a = static_cast<unsigned char>(text[i]);
            const auto b = static_cast<unsigned char>(name[i]);
            if (std::tolower(a) != std::tolower(b)) return false;
        }
        return true;
    };
    Cell value{};
    bool found = false;
    static constexpr const char* literals[] = {"true", "false", "none", "unset"};
    for (int i = 0; i < 4 && !found; ++i) {
        const std::size_t len = std::strlen(literals[i]);
        if (n == len && prefix_of(literals[i], len)) {  // a literal name is written in full
            found = true;
            if (i < 2) logic::make_at(value, i == 0);
            else value.reset(i == 2 ? TypeId::none : TypeId::unset);
        }
    }
    for (int t = 1; t <= registry::highest_type() && !found; ++t) {
        const registry::TypeName& tn = registry::type_name(to_type(t));
        if (tn.name == nullptr) continue;
        if (prefix_of(tn.name, std::strlen(tn.name))) {
            found = true;
            datatype::make_at(to_type(t), value);
        }
    }
    if (!found) syntax_error(s, start, end + 1, kind_malconstruct);
    s.pos = end + 1;
    s.type = tint(value.type());
    if (build_mode(s)) push(s, value);
}

void scan_comma(State& s, const std::uint8_t* at) {
    Cell* m = open_marker(s);
    if (m != nullptr && marker_series(*m) == TypeId::point2d) {
        m->set_marker_series(TypeId::point2d, marker_commas(*m) + 1);
    } else if (m != nullptr && marker_series(*m) == TypeId::paren) {
        m->set_marker_series(TypeId::point2d, 1);
    } else {
        syntax_error(s, at, at + 1, tint(TypeId::point2d));
    }
    s.pos = at + 1;
}

// Word token: Unicode blanks end it; colons and a quote give its kind.
void scan_word(State& s, const std::uint8_t* start, const std::uint8_t* end, std::uint32_t flags,
               bool build) {
    const bool ascii = (flags & flag_non_ascii) == 0;
    const std::uint8_t* stop = ascii ? end : start;
    while (stop < end) {
        // Most words are plain ASCII: a byte below 0x80 is a whole character,
        // never malformed and never one of the blanks, so it needs no decoding.
        if (*stop < 0x80) {
            ++stop;
            continue;
        }
        std::int32_t cp = 0;
        const std::uint8_t* next = unicode::decode_utf8_char(stop, end, &cp);
        if (cp < 0) syntax_error(s, start, end, tint(TypeId::word));
        if (unicode_blank_q(cp)) break;
        stop = next;
    }
    end = stop;
    s.pos = end;
    const std::int32_t len = i32(end - start);
    TypeId t = TypeId::word;
    const bool lead_colon = start[0] == ':';
    const bool trail_colon = len > 1 && end[-1] == ':';
    if (start[0] == '\'') {
        if (trail_colon) syntax_error(s, start, end, tint(TypeId::lit_word));
        t = TypeId::lit_word;
    } else if (lead_colon && trail_colon) {
        syntax_error(s, start, end, tint(TypeId::word));
    } else if (lead_colon && len > 1) {
        t = TypeId::get_word;
    } else if (trail_colon) {
        t = TypeId::set_word;
    }
    s.type = tint(t);
    load_word(s, start, end, t, build, ascii);
}

// --- The token loop ------------------------------------------------------------------

struct Token {
    const std::uint8_t* start;
    const std::uint8_t* end;
    std::uint32_t flags;
    TokenClass token_class;
};

// Runs the automaton from s.pos; updates the line count. Blanks before a
// token are passed over first (the automaton only loops on them in its start
// state); then each byte costs one transition lookup, and a run of bytes
// that keep the state (the body of a word, a string, a comment) stays in the
// inner loop. Line feeds inside a token are counted once it has ended.
Token next_token(State& s) {
    const std::uint8_t* p = s.pos;
    const std::uint8_t* const input_end = s.input_end;
    int state = s.start_state;
    std::int32_t lines = 0;
    if (state == s_start) {
        // A NUL (or the NUL after a terminated input) is no blank: no bound
        // check is needed there.
        if (s.terminated) {
            for (;;) {
                while (*p == ' ') ++p;  // indentation and the space between tokens
                const std::uint8_t gap = tables.gap[*p];
                if (gap == 0) break;
                lines += gap >> 1;
                ++p;
            }
        } else {
            while (p < input_end) {
                const std::uint8_t gap = tables.gap[*p];
                if (gap == 0) break;
                lines += gap >> 1;
                ++p;
            }
        }
    }
    const std::uint8_t* const start = p;
    std::uint32_t flags = 0;
    std::uint8_t next = 0;
    const std::uint8_t* row = tables.step[static_cast<std::size_t>(state)].data();
    if (s.terminated) {
        // The NUL after the input gives a final state like the end column.
        for (;;) {
            const std::uint8_t b = *p;
            next = row[b];
            if (next != state) {
                if (next >= final_base) break;
                state = next;
                row = tables.step[next].data();
            }
            flags |= tables.flags[b];
            ++p;
        }
    } else {
        for (;;) {
            if (p >= input_end) {
                next = tables.end[static_cast<std::size_t>(state)];
                break;
            }
            const std::uint8_t b = *p;
            next = row[b];
            if (next != state) {
                if (next >= final_base) break;
                state = next;
                row = tables.step[next].data();
            }
            flags |= tables.flags[b];
            ++p;
        }
    }
    if ((flags & flag_line_feed) != 0) lines += i32(std::count(start, p, '\n'));
    flags &= ~flag_line_feed;
    if (next == tk(TokenClass::end) && p < input_end && start == p && s.start_state == s_start) {
        s.pos = p;  // a NUL byte between values is no end of the input
        syntax_error(s, p, p + 1, kind_bad_char);
    }
    s.line += lines;
    s.token_lines = lines;
    s.prev_state = state;
    s.pos = p;
    s.expected_type = -1;
    const auto token_class = static_cast<TokenClass>(next - final_base);
    s.type = tint(class_type[static_cast<std::size_t>(token_class)]);
    return Token{start, p, flags, token_class};
}

// Skips Unicode blanks at the head of a word token; false when nothing else
// was read (the caller restarts after them).
bool skip_leading_blanks(State& s, Token& tok) {
    const std::uint8_t* p = tok.start;
    while (p < tok.end) {
        if (*p < 0x80) break;  // an ASCII character is well formed and no blank
        std::int32_t cp = 0;
        const std::uint8_t* next = unicode::decode_utf8_char(p, tok.end, &cp);
        if (cp < 0) syntax_error(s, tok.start, tok.end, tint(TypeId::word));
        if (!unicode_blank_q(cp)) break;
        p = next;
    }
    tok.start = p;
    return p < tok.end;
}

[[noreturn]] void error_token(State& s, const Token& tok) {
    const TypeId t = state_type(s.prev_state);
    std::int32_t kind = t == TypeId::no_type ? kind_bad_char : tint(t);
    const std::uint8_t* start = tok.start;
    if (s.start_state == s_braced) {
        start = s.brace_start;
        kind = tint(TypeId::string);
    } else if (path::is_path_type(t) || t == TypeId::block || t == TypeId::paren) {
        start = nullptr;
    }
    s.expected_type = kind;
    syntax_error(s, start, tok.end, kind);
}

void braced_open(State& s, const Token& tok) {
    if (s.brace_depth == 0) {
        if (!fire(s, Event::open, tint(TypeId::string), tok.end, tok.end + 1, nullptr)) {
            s.pos = tok.end + 1;
            return;
        }
        s.brace_start = tok.end;
        s.brace_flags = 0;
    }
    ++s.brace_depth;
    s.brace_flags |= tok.flags | (s.token_lines > 0 && s.brace_depth > 1 ? flag_multiline : 0);
    s.start_state = s_braced;
    s.pos = tok.end + 1;
}

void braced_close(State& s, const Token& tok) {
    --s.brace_depth;
    s.brace_flags |= tok.flags | (s.token_lines > 0 ? flag_multiline : 0);
    s.pos = tok.end + 1;
    if (s.brace_depth > 0) {
        if (tok.end + 1 >= s.input_end) syntax_error(s, s.brace_start, tok.end + 1, tint(TypeId::string));
        return;
    }
    const std::uint8_t* open = s.brace_start;
    const std::uint32_t flags = s.brace_flags;
    s.brace_start = nullptr;
    s.brace_flags = 0;
    s.start_state = s_start;
    fire(s, Event::close, tint(TypeId::string), open, tok.end + 1, nullptr);
    if ((flags & flag_multiline) != 0) s.token_lines = 1;
    const bool build = build_mode(s);
    if (build && !fire(s, Event::scan, tint(TypeId::string), open, tok.end + 1, nullptr)) return;
    Cell value{};
    if (!decode_text(open + 1, tok.end, (flags & flag_escape) != 0, TypeId::string,
                     build ? &value : nullptr, (flags & flag_non_ascii) == 0))
        syntax_error(s, open, tok.end + 1, tint(TypeId::string));
    s.type = tint(TypeId::string);
    if (build) {
        Cell& pushed = push(s, value);
        (void)pushed;
        if (!fire(s, Event::load, tint(TypeId::string), open, tok.end + 1, &stack_at(s.top - 1)))
            --s.top;
    } else {
        fire(s, Event::scan, tint(TypeId::string), open, tok.end + 1, nullptr);
    }
}

void path_head(State& s, const Token& tok) {
    TypeId t = TypeId::path;
    const std::uint8_t* word = tok.start;
    if (*word == '\'') { t = TypeId::lit_path; ++word; }
    else if (*word == ':') { t = TypeId::get_path; ++word; }
    open_series(s, t, tok.start);
    s.expected_type = tint(TypeId::word);
    if (build_mode(s) && fire(s, Event::scan, tint(TypeId::word), word, tok.end, nullptr)) {
        load_word(s, word, tok.end, TypeId::word, true);
        if (!fire(s, Event::load, tint(TypeId::word), word, tok.end, &stack_at(s.top - 1))) --s.top;
    } else if (!build_mode(s)) {
        load_word(s, word, tok.end, TypeId::word, false);
    }
    s.start_state = s_path;
    s.pos = tok.end + 1;
    s.type = 0;
}

// Runs a class with a loader (13-35): check, events, build.
void load_token(State& s, const Token& tok) {
    const bool build = build_mode(s);
    bool decided = false;
    bool keep = true;
    if (listens(s, Event::scan) || !build) {
        const std::int32_t top = s.top;
        const std::uint8_t* pos = s.pos;
        if (tok.token_class == TokenClass::word) scan_word(s, tok.start, tok.end, tok.flags, false);
        else loader_of(tok.token_class)(s, tok.start, tok.end, tok.flags, false);
        s.top = top;
        if (listens(s, Event::scan)) {
            decided = true;
            keep = fire(s, Event::scan, s.type, tok.start, s.pos, nullptr);
            // a token the callback declines is passed over: the scan's end stays
            if (build && keep) s.pos = pos;
        }
    }
    if (!build || (decided && !keep)) return;
    const std::int32_t head = s.head;
    if (tok.token_class == TokenClass::word) scan_word(s, tok.start, tok.end, tok.flags, true);
    else loader_of(tok.token_class)(s, tok.start, tok.end, tok.flags, true);
    if (s.top > head && listens(s, Event::load) &&
        !fire(s, Event::load, s.type, tok.start, s.pos, &stack_at(s.top - 1)))
        --s.top;
}

void dispatch(State& s, Token& tok) {
    switch (tok.token_class) {
    case TokenClass::end: s.pos = s.input_end; return;
    case TokenClass::error: error_token(s, tok);
    case TokenClass::block_open: open_series(s, TypeId::block, tok.end); s.pos = tok.end + 1; return;
    case TokenClass::paren_open:
        if (point_literal_q(s, tok.end)) {
            s.point_lines = s.token_lines;
            s.type = 0;
            s.pos = tok.end + 1;
            s.start_state = s_point;
            return;
        }
        open_series(s, TypeId::paren, tok.end);
        s.pos = tok.end + 1;
        return;
    case TokenClass::block_close:
        s.pos = tok.end + 1;
        close_series(s, tint(TypeId::block), tok.end, true);
        return;
    case TokenClass::paren_close:
        s.pos = tok.end + 1;
        close_series(s, tint(TypeId::paren), tok.end, true);
        return;
    case TokenClass::brace_open: braced_open(s, tok); return;
    case TokenClass::brace_close: braced_close(s, tok); return;
    case TokenClass::map_open:
        if (tok.start[0] != '#') syntax_error(s, tok.start, tok.end + 1, tint(TypeId::map));
        open_series(s, TypeId::map, tok.start);
        s.pos = tok.end + 1;
        return;
    case TokenClass::path_head: path_head(s, tok); return;
    case TokenClass::construction: scan_construction(s, tok.start, tok.end); return;
    case TokenClass::comment:
        fire(s, Event::scan, class_event_type(TokenClass::comment), tok.start, tok.end, nullptr);
        s.pos = tok.end;
        return;
    case TokenClass::comma: scan_comma(s, tok.end); return;
    case TokenClass::issue:
        if (tok.start[0] != '#' || tok.end - tok.start < 2)
            syntax_error(s, tok.start, tok.end, tint(TypeId::issue));
        s.expected_type = tint(TypeId::issue);
        load_token(s, tok);
        return;
    default: load_token(s, tok); return;
    }
}

// The commonest tokens of a run that loads with nobody watching, read in the
// start state: ASCII words, brackets and comments, each taken the shortest
// way to its value. False leaves the token to the general road.
bool plain_token(State& s, const Token& tok) {
    switch (tok.token_class) {
    case TokenClass::word: {
        if ((tok.flags & flag_non_ascii) != 0) return false;
        const std::uint8_t* name = tok.start;
        const std::uint8_t* name_end = tok.end;
        const bool trail_colon = name_end - name > 1 && name_end[-1] == ':';
        TypeId t = TypeId::word;
        if (*name == '\'' || *name == ':') {
            if (trail_colon || name_end - name == 1) return false;  // errors, and the word ":"
            t = *name == '\'' ? TypeId::lit_word : TypeId::get_word;
            ++name;
        } else if (trail_colon) {
            t = TypeId::set_word;
            --name_end;
        }
        s.pos = tok.end;
        s.type = tint(t);
        Cell value;
        word_of(name, i32(name_end - name), t, value);
        push(s, value);
        return true;
    }
    case TokenClass::block_open:
        open_series(s, TypeId::block, tok.end);
        s.pos = tok.end + 1;
        return true;
    case TokenClass::block_close:
        s.pos = tok.end + 1;
        close_series(s, tint(TypeId::block), tok.end, true);
        if (s.start_state == s_path) path_element_end(s);  // a block closed inside a path
        return true;
    case TokenClass::comment:
        s.pos = tok.end;
        return true;
    case TokenClass::issue:
        return false;
    default:
        if (tok.token_class < TokenClass::string) return false;
        loader_of(tok.token_class)(s, tok.start, tok.end, tok.flags, true);  // strings, numbers...
        return true;
    }
}

// --- The plain run ------------------------------------------------------------------

// The state the automaton steps to from state on the byte at p, or on the
// input end.
std::uint8_t step_at(int state, const std::uint8_t* p, const std::uint8_t* end) {
    return p < end ? tables.step[static_cast<std::size_t>(state)][*p]
                   : tables.end[static_cast<std::size_t>(state)];
}

// The bookkeeping of a token the plain run takes: its lines, type and end.
void take_token(State& s, std::int32_t lines, TypeId t, const std::uint8_t* end) {
    s.line += lines;
    s.token_lines = lines;
    s.type = tint(t);
    s.pos = end;
}

// The first byte from p on without the body bit. The NUL after a
// terminated input has no body bit: such input needs no bound check.
template <bool terminated>
const std::uint8_t* skip_body(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t bit) {
    if constexpr (terminated) {
        while ((tables.body[*p] & bit) != 0) ++p;
    } else {
        while (p < end && (tables.body[*p] & bit) != 0) ++p;
    }
    return p;
}

// skip_body for the long bodies of strings and comments: sixteen bytes at a
// time while none of them is a NUL, a line feed, stop1, stop2 or a byte
// above 0x7F, the bytes that may end such a body; then byte by byte. stop1
// and stop2 with those take in every byte without the body bit.
template <bool terminated>
const std::uint8_t* skip_text_body(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t bit,
                                   char stop1, char stop2) {
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(stop1);
    const __m128i second = _mm_set1_epi8(stop2);
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, first), _mm_cmpeq_epi8(v, second)),
                                           _mm_or_si128(_mm_cmpeq_epi8(v, line_feed), _mm_cmpeq_epi8(v, nul)));
        const int mask = _mm_movemask_epi8(_mm_or_si128(stops, v));  // v: the bytes above 0x7F
        if (mask != 0) {
            p += __builtin_ctz(static_cast<unsigned>(mask));
            break;
        }
        p += 16;
    }
#else
    (void)stop1;
    (void)stop2;
#endif
    return skip_body<terminated>(p, end, bit);
}

// The plain tokens below are each read with one tight loop over their body
// bytes; the automaton would reach the same end in the same final state.
// Each returns false, having changed nothing, for a token of another kind.

// A path of a few ASCII words (a/b/c, a/b:), its head read up to the slash.
// Its elements are found before anything is loaded, so that any other path
// is left whole to the general road.
constexpr int plain_path_elements = 8;

template <bool terminated>
bool plain_path(State& s, const std::uint8_t* start, const std::uint8_t* slash, std::int32_t lines) {
    const std::uint8_t* const end = s.input_end;
    std::array<const std::uint8_t*, plain_path_elements> ends{};
    int n = 0;
    for (const std::uint8_t* slash_before = slash;;) {
        const std::uint8_t* const first = slash_before + 1;
        if (n == plain_path_elements || first >= end || *first >= 0x80 ||
            tables.step[s_path][*first] != s_path_word)
            return false;
        const std::uint8_t* const e = skip_body<terminated>(first + 1, end, body_path_word);
        if (step_at(s_path_word, e, end) != tk(TokenClass::word)) return false;
        ends[static_cast<std::size_t>(n++)] = e;
        if (e >= end || *e != '/') break;
        slash_before = e;
    }
    const std::uint8_t* const last = ends[static_cast<std::size_t>(n - 1)];
    const bool set = last < end && *last == ':';
    if (set ? last + 1 < end && last[1] == '/'
            : last < end && !tables.path_end[tables.char_class[*last] & 0xFFu])
        return false;  // an error for the general road to report
    take_token(s, lines, TypeId::no_type, slash);
    open_series(s, TypeId::path, start);
    Cell value;
    word_of(start, i32(slash - start), TypeId::word, value);
    push(s, value);  // the head word carries the path's new-line mark
    s.token_lines = 0;
    const std::uint8_t* from = slash + 1;
    for (int i = 0; i < n; ++i) {
        const std::uint8_t* const e = ends[static_cast<std::size_t>(i)];
        word_of(from, i32(e - from), TypeId::word, value);
        push(s, value);
        from = e + 1;
    }
    s.pos = set ? last + 1 : last;
    close_series(s, set ? tint(TypeId::set_path) : -1, last, true);
    return true;
}

// An ASCII word or set-word.
template <bool terminated>
bool plain_word(State& s, const std::uint8_t* start, std::int32_t lines) {
    const std::uint8_t* const end = s.input_end;
    const std::uint8_t* p = skip_body<terminated>(start + 1, end, body_word);
    const std::uint8_t* const name_end = p;
    TypeId t = TypeId::word;
    const std::uint8_t to = step_at(s_word, p, end);
    if (to == s_word_colon && step_at(s_word_colon, p + 1, end) == tk(TokenClass::word)) {
        t = TypeId::set_word;
        ++p;
    } else if (to == tk(TokenClass::path_head)) {
        return plain_path<terminated>(s, start, p, lines);
    } else if (to != tk(TokenClass::word)) {
        return false;  // a path, URL, e-mail, money, non-ASCII text or an error
    }
    take_token(s, lines, t, p);
    Cell value;
    word_of(start, i32(name_end - start), t, value);
    push(s, value);
    return true;
}

// Decimal digits short enough that no overflow can come of them, or
// digits, a point and digits (a float!).
template <bool terminated>
bool plain_number(State& s, const std::uint8_t* start, std::int32_t lines) {
    const std::uint8_t* const end = s.input_end;
    const std::uint8_t* const p = skip_body<terminated>(start + 1, end, body_digit);
    const std::uint8_t to = step_at(s_integer, p, end);
    if (to == tk(TokenClass::integer) && p - start <= 9) {
        std::int32_t v = 0;
        for (const std::uint8_t* q = start; q < p; ++q) v = v * 10 + (*q - '0');
        take_token(s, lines, TypeId::integer, p);
        Cell value;
        value.reset(TypeId::integer);
        value.set_int(v);
        push(s, value);
        return true;
    }
    if (to != s_integer_dot || step_at(s_integer_dot, p + 1, end) != s_decimal ||
        (tables.body[p[1]] & body_digit) == 0)
        return false;
    const std::uint8_t* const q = skip_body<terminated>(p + 2, end, body_digit);
    if (step_at(s_decimal, q, end) != tk(TokenClass::float_)) return false;
    take_token(s, lines, TypeId::float_, q);
    const std::int32_t decimals = i32(q - p - 1);
    if ((p - start) + decimals > 15) {
        loader_of(TokenClass::float_)(s, start, q, 0, true);  // the text reader rounds long ones
        return true;
    }
    // Fifteen digits make an exact integer of a double, and ten to the
    // fifteenth is exact too: one division rounds correctly.
    static constexpr double powers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    std::int64_t whole = 0;
    for (const std::uint8_t* d = start; d < p; ++d) whole = whole * 10 + (*d - '0');
    for (const std::uint8_t* d = p + 1; d < q; ++d) whole = whole * 10 + (*d - '0');
    Cell value;
    value.reset(TypeId::float_);
    value.set_f64(static_cast<double>(whole) / powers[decimals]);
    push(s, value);
    return true;
}

// A quoted string of ASCII text without escapes.
template <bool terminated>
bool plain_string(State& s, const std::uint8_t* start, std::int32_t lines) {
    const std::uint8_t* const end = s.input_end;
    const std::uint8_t* const p = skip_text_body<terminated>(start + 1, end, body_string, '"', '^');
    if (p >= end || *p != '"') return false;
    take_token(s, lines, TypeId::string, p + 1);
    // Its ASCII bytes are its characters, one byte each.
    const std::int32_t n = i32(p - start - 1);
    const NodeId node = memory::alloc_series(std::max(n, 1), 1, 0);
    SeriesBuffer* buf = memory::buffer(node);
    std::memcpy(buf->head, start + 1, static_cast<std::size_t>(n));
    buf->tail = buf->head + n;
    Cell value;
    value.reset(TypeId::string);
    value.set_series_node(node);
    push(s, value);
    return true;
}

template <bool terminated>
bool plain_comment(State& s, const std::uint8_t* start, std::int32_t lines) {
    const std::uint8_t* const end = s.input_end;
    const std::uint8_t* const p = skip_text_body<terminated>(start + 1, end, body_comment, '\n', '\n');
    if (step_at(s_comment, p, end) != tk(TokenClass::comment)) return false;
    take_token(s, lines, TypeId::no_type, p);
    return true;
}

// A refinement of ASCII characters.
template <bool terminated>
bool plain_refinement(State& s, const std::uint8_t* start, std::int32_t lines) {
    const std::uint8_t* const end = s.input_end;
    if (step_at(s_slash, start + 1, end) != s_refinement || start[1] >= 0x80) return false;
    const std::uint8_t* const p = skip_body<terminated>(start + 2, end, body_refinement);
    if (step_at(s_refinement, p, end) != tk(TokenClass::refinement)) return false;
    take_token(s, lines, TypeId::refinement, p);
    Cell value;
    word_of(start + 1, i32(p - start - 1), TypeId::refinement, value);
    push(s, value);
    return true;
}

// An opening bracket or parenthesis (t block! or paren!): its marker alone,
// as open_series pushes it with nobody to ask. Inside a point literal's
// parentheses it is an error, which the general road reports.
[[gnu::always_inline]] inline bool plain_open(State& s, const std::uint8_t* at, std::int32_t lines, TypeId t) {
    if (s.head > s.base && stack_at(s.head - 1).marker_series() == TypeId::point2d) return false;
    take_token(s, lines, TypeId::no_type, at + 1);
    if (s.top >= stack_size) grow_stack();
    Cell& marker = stack_cells[s.top];
    marker.reset(marker_type);
    marker.set_marker(static_cast<std::uint32_t>(s.top - s.head), t,
                      static_cast<std::uint32_t>(at - s.input_start));
    marker.set_new_line(lines > 0);
    s.head = ++s.top;
    return true;
}

// A closing bracket or parenthesis (t block! or paren!) of the series of the
// same type opened last: the cells above its marker go straight into a
// buffer of their number, and the series takes the marker's place. Any other
// close (a map by "]", a path, a point literal, a mismatch, nothing open) is
// the general road's. Inside a path it ends the element.
[[gnu::always_inline]] inline bool plain_close(State& s, const std::uint8_t* at, std::int32_t lines, TypeId t) {
    const std::int32_t marker_index = s.head - 1;
    if (marker_index < s.base || stack_at(marker_index).marker_series() != t) return false;
    take_token(s, lines, TypeId::no_type, at + 1);
    const std::int32_t n = s.top - s.head;
    const NodeId node = memory::alloc_series(std::max(n, 1), sizeof(Cell), 0);
    SeriesBuffer* buf = memory::buffer(node);
    const Cell* from = stack_cells + s.head;
    Cell* to = reinterpret_cast<Cell*>(buf->head);
    for (std::int32_t i = 0; i < n; ++i) to[i] = from[i];
    buf->tail = buf->head + static_cast<std::size_t>(n) * sizeof(Cell);
    Cell& value = stack_cells[marker_index];
    const std::int32_t enclosing = marker_index - static_cast<std::int32_t>(value.marker_distance());
    const bool new_line = value.new_line();
    value.reset(t);
    value.set_series_node(node);
    value.set_new_line(new_line);
    s.head = enclosing;
    s.top = marker_index + 1;
    s.type = tint(t);
    if (enclosing > s.base && path::is_path_type(stack_at(enclosing - 1).marker_series())) {
        s.start_state = s_path;  // a block or paren element of a path
        path_element_end(s);
    }
    return true;
}

// Loads the commonest tokens of a run that loads with nobody watching, in
// the start state, the shortest way: ASCII words and set-words, short
// integers, strings without escapes, comments, blocks and parens. Returns at
// the first token of another kind (or another start state, or the input
// end), with s.pos before the blanks ahead of it: the general road then
// reads it as if the plain run had never looked.
template <bool terminated>
void plain_run(State& s) {
    constexpr std::uint32_t four_spaces = 0x20202020;
    const std::uint8_t* const end = s.input_end;
    while (s.start_state == s_start) {
        const std::uint8_t* p = s.pos;
        std::int32_t lines = 0;
        if constexpr (terminated) {
            // The NUL after the input is no gap, and no token either.
            for (;;) {
                while (*p == ' ') ++p;  // the space between tokens
                const std::uint8_t gap = tables.gap[*p];
                if (gap == 0) break;
                ++p;
                if (gap == 2) {  // a line feed, and the next line's indentation four spaces at a time
                    ++lines;
                    while (end - p >= 4 && load32(p) == four_spaces) p += 4;
                }
            }
        } else {
            while (p < end) {
                const std::uint8_t gap = tables.gap[*p];
                if (gap == 0) break;
                ++p;
                if (gap == 2) {
                    ++lines;
                    while (end - p >= 4 && load32(p) == four_spaces) p += 4;
                }
            }
            if (p >= end) return;
        }
        bool taken = false;
        switch (tables.lead[*p]) {
        case lead_word: taken = plain_word<terminated>(s, p, lines); break;
        case lead_number: taken = plain_number<terminated>(s, p, lines); break;
        case lead_string: taken = plain_string<terminated>(s, p, lines); break;
        case lead_comment: taken = plain_comment<terminated>(s, p, lines); break;
        case lead_refinement: taken = plain_refinement<terminated>(s, p, lines); break;
        case lead_block_open: taken = plain_open(s, p, lines, TypeId::block); break;
        case lead_block_close: taken = plain_close(s, p, lines, TypeId::block); break;
        case lead_paren_open:
            if (point_literal_q(s, p)) break;
            taken = plain_open(s, p, lines, TypeId::paren);
            break;
        case lead_paren_close: taken = plain_close(s, p, lines, TypeId::paren); break;
        default: break;
        }
        if (!taken) return;
    }
}

// The token loop of one run.
void run_tokens(State& s, bool one) {
    // A run that loads everything with nobody watching takes ASCII words,
    // most of any source, straight to their loader.
    const bool plain = s.callback.is(TypeId::unset) && s.load && !one;
    while (s.pos < s.input_end) {
        if (plain && s.start_state == s_start) {
            if (s.terminated) plain_run<true>(s);
            else plain_run<false>(s);
            if (s.pos >= s.input_end) break;
        }
        const std::uint8_t* before = s.pos;
        const int start_state = s.start_state;
        s.repositioned = false;
        Token tok{};
        try {
            tok = next_token(s);
        } catch (const SyntaxUnwind&) {
            // A stray NUL between values, seen by a run that does not load.
            s.type = tint(TypeId::error);
            s.pos = std::min(std::max(s.pos, before) + 1, s.input_end);
            if (one) break;
            continue;
        }
        if (plain && start_state == s_start && plain_token(s, tok)) continue;
        bool only_blanks = false;
        try {
            only_blanks = tok.token_class == TokenClass::word && !skip_leading_blanks(s, tok);
        } catch (const SyntaxUnwind&) {
            s.type = tint(TypeId::error);
            if (one) break;
            continue;
        }
        if (only_blanks) {
            s.type = 0;
            if (tok.end >= s.input_end) break;
            continue;
        }
        bool skipped = false;
        if (s.no_raise && s.callback.is(TypeId::unset)) {
            skipped = true;  // prescan: the automaton's class is the answer
        } else if (!s.callback.is(TypeId::unset) && start_state != s_braced &&
                   !(tok.token_class == TokenClass::paren_open && point_literal_q(s, tok.end))) {
            const std::int32_t t = s.type != 0 ? s.type : class_event_type(tok.token_class);
            if (!fire(s, Event::prescan, t, tok.start, tok.end, nullptr)) skipped = true;
        }
        if (!skipped) {
            try {
                dispatch(s, tok);
                if (s.start_state == s_path && tok.token_class != TokenClass::path_head &&
                    tok.token_class != TokenClass::error &&
                    tok.token_class != TokenClass::paren_open)
                    path_element_end(s);
            } catch (const SyntaxUnwind&) {
                s.type = tint(TypeId::error);
                if (one) break;
            }
        }
        // Every token consumes input, unless a callback chose where to go on.
        if (!s.repositioned && tok.token_class != TokenClass::end) {
            if (s.pos <= tok.start) s.pos = std::min(tok.start + 1, s.input_end);
            if (s.pos <= before) s.pos = std::min(before + 1, s.input_end);
        }
        if (one && s.type > 0 && s.start_state != s_path && s.start_state != s_braced &&
            s.start_state != s_point) {
            const std::int32_t n = s.top - s.base;
            if (n == 0 || (n == 1 && !stack_at(s.base).is(marker_type))) break;
        }
        if (tok.token_class == TokenClass::end) break;
    }
    if (s.start_state == s_braced && s.type == 0) {
        try {
            syntax_error(s, s.brace_start, s.input_end, tint(TypeId::string));
        } catch (const SyntaxUnwind&) {
            s.type = tint(TypeId::error);
        }
    }
}

// Linking a run into the chain, and unlinking it on every exit.
struct ChainLink {
    State& s;
    explicit ChainLink(State& state) : s(state) {
        ensure_stack();
        if (first_state == nullptr) {
            first_state = &s;
            s.base = 0;
        } else {
            State* last = first_state;
            while (last->link != nullptr) last = last->link;
            last->link = &s;
            s.parent = last;
            s.base = last->top;
        }
        s.head = s.top = s.base;
    }
    ~ChainLink() {
        if (s.parent != nullptr) s.parent->link = nullptr;
        else first_state = nullptr;
    }
};

void store_result(State& s, Cell* result, const ScanRequest& request) {
    if (result == nullptr && request.into == nullptr) return;
    const std::int32_t n = s.top - s.base;
    if (request.one && !request.as_block && n > 0) {
        Cell value = stack_at(s.base);
        if (result != nullptr) *result = value;
        if (request.into != nullptr) block::append_copy(*request.into, value);
        return;
    }
    if (request.into != nullptr) {
        for (std::int32_t i = s.base; i < s.top; ++i) {
            const Cell value = stack_at(i);
            block::append_copy(*request.into, value);
        }
        if (result != nullptr) *result = *request.into;
        return;
    }
    Cell blk{};
    make_series(s, s.base, s.top, TypeId::block, blk);
    *result = blk;
}

std::int32_t callback_argument_count(const Cell& fn, std::uint32_t& mask) {
    mask = 0x3F;
    std::int32_t count = 5;
    Cell body{};
    if (!fn.is(TypeId::function)) return 5;
    count = context::word_count(fn.code_entry());
    body = *function::extra_cell(fn, function::extra_body);
    if (body.is(TypeId::block) && block::count_from_head(body) > 0) {
        Cell first = *block::head_cell(body);
        if (first.is(TypeId::block) && block::count_from_head(first) > 0) {
            mask = 0;
            const Cell* c = block::head_cell(first);
            const Cell* end = block::tail_cell(first);
            for (; c < end; ++c) {
                if (!c->is(TypeId::word)) continue;
                const std::string_view name = symbol::name(c->word_symbol());
                for (std::uint32_t bit = 1; bit <= 32; bit <<= 1)
                    if (name == event_name(static_cast<Event>(bit))) mask |= bit;
            }
        }
    }
    return count;
}

}  // namespace

// --- Shared internals -------------------------------------------------------------

void grow_stack() {
    if (value_stack.size() > (std::size_t{1} << 26))
        runtime::raise_error(ErrorCategory::internal, "no-memory");
    value_stack.resize(value_stack.size() * 2);
    stack_cells = value_stack.data();
    stack_size = static_cast<std::int32_t>(value_stack.size());
}

void syntax_error(State& s, const std::uint8_t* start, const std::uint8_t* end, std::int32_t kind) {
    if (!s.load) {
        s.type = tint(TypeId::error);
        throw SyntaxUnwind{};
    }
    if (start == nullptr) {
        Cell* m = open_marker(s);
        start = m != nullptr ? s.input_start + m->marker_offset() : s.input_start;
    }
    start = std::clamp(start, s.input_start, s.input_end);
    if (listens(s, Event::error)) {
        const std::int32_t reported = kind >= 1 ? kind
                                      : s.open_type != 0 ? s.open_type
                                      : s.type > 0 ? s.type
                                      : s.expected_type > 0 ? s.expected_type
                                      : tint(TypeId::error);
        // A path being read closes first, so that a swallowed error leaves
        // it whole among the values loaded so far.
        if (Cell* m = open_marker(s);
            s.start_state == s_path && m != nullptr && path::is_path_type(marker_series(*m)))
            close_series(s, -1, std::clamp(end != nullptr ? end : start, s.input_start, s.input_end),
                         false);
        if (!fire(s, Event::error, reported, start, end != nullptr ? end : start, nullptr)) {
            // Swallowed: the token yields nothing, what was loaded stays.
            s.type = tint(TypeId::error);
            throw SyntaxUnwind{};
        }
    }
    // The excerpt: to the first line feed, the input end, or ~30 bytes.
    const std::uint8_t* stop = start;
    while (stop < s.input_end && *stop != '\n' && stop - start < 30) ++stop;
    while (stop < s.input_end && stop - start >= 30 && (*stop & 0xC0) == 0x80 && *stop != '\n') ++stop;
    Cell near{}, location{}, second{};
    lenient_string(start, stop, near);
    char text[32];
    std::snprintf(text, sizeof text, "(line %d)", s.line);
    lenient_string(reinterpret_cast<const std::uint8_t*>(text),
                   reinterpret_cast<const std::uint8_t*>(text) + std::strlen(text), location);
    if (path::is_path_type(to_type(s.open_type))) kind = kind_bad_char;
    const TypeId open = to_type(s.open_type);
    s.open_type = 0;
    // What was loaded before the error stays in the caller's block: open
    // blocks and parens close where the input stopped, other series drop.
    if (s.into != nullptr) {
        close_open_series(s);
        for (std::int32_t i = s.base; i < s.top; ++i) block::append_copy(*s.into, stack_at(i));
    }
    cleanup_markers(s);
    switch (kind) {
    case kind_bad_char:
        runtime::raise_error(ErrorCategory::syntax, "bad-char", &location, &near);
    case kind_malconstruct:
        runtime::raise_error(ErrorCategory::syntax, "malconstruct", &location, &near);
    case kind_missing_close:
    case kind_missing_end: {
        const std::uint8_t at = kind == kind_missing_end ? '_'
                                : start < s.input_end ? *start
                                : s.input_end > s.input_start ? s.input_end[-1] : '_';
        second.reset(TypeId::char_);
        second.set_int(static_cast<std::int32_t>(missing_delimiter(open, at)));
        runtime::raise_error(ErrorCategory::syntax, "missing", &location, &second, &near);
    }
    default:
        datatype::make_at(to_type(kind), second);
        runtime::raise_error(ErrorCategory::syntax, "invalid", &location, &second, &near);
    }
}

// --- Entry points ---------------------------------------------------------------------

void init() {
    ensure_stack();
    if (!text_buffer) text_buffer = std::make_unique_for_overwrite<std::uint8_t[]>(lexer_buffer_size);  // pages are touched as text arrives
    text_cursor = 0;
    collector::set_root(collector::RootStep::lexer_states, mark_states);
}

std::int32_t scan(Cell* result, const std::uint8_t* utf8, std::int32_t length,
                  const ScanRequest& request, std::int32_t* consumed) {
    reset_word_cache();
    State s;
    s.input_start = s.pos = utf8;
    s.input_end = utf8 + std::max(0, length);
    s.load = request.scan && request.store;
    s.terminated = request.terminated;
    s.no_raise = !request.scan;
    if (request.source != nullptr) s.source = *request.source;
    s.into = request.into;
    if (request.callback != nullptr &&
        (request.callback->is(TypeId::function) || request.callback->is(TypeId::routine)))
        s.callback = *request.callback;
    if (!s.callback.is(TypeId::unset)) s.callback_args = callback_argument_count(s.callback, s.event_mask);
    ChainLink link(s);
    const bool one = request.one || !request.scan;
    run_tokens(s, one);
    if (s.head > s.base && s.type != tint(TypeId::error)) {
        {
            Cell* m = open_marker(s);
            if (!s.load && path::is_path_type(marker_series(*m)) && s.type != tint(TypeId::error)) {
                s.type = tint(marker_series(*m));
            } else {
                s.open_type = tint(marker_series(*m));
                const std::uint8_t* opened = s.input_start + m->marker_offset();
                // Reported where the series opened, as the excerpt is.
                if (opened < s.pos) s.line -= i32(std::count(opened, s.pos, '\n'));
                try {
                    syntax_error(s, opened, opened + 1, kind_missing_end);
                } catch (const SyntaxUnwind&) {
                    if (!s.load) {
                        if (result != nullptr) none::make_at(*result);
                        if (consumed != nullptr) *consumed = unit_offset(s, s.pos);
                        return s.type;
                    }
                    close_open_series(s);  // a callback swallowed it: keep what was read
                }
            }
        }
    }
    if (request.store && s.load) store_result(s, result, request);
    else if (request.store && result != nullptr) none::make_at(*result);
    if (consumed != nullptr) *consumed = unit_offset(s, s.pos);
    return s.type;
}

namespace {

// True when no byte of [p, p + n) is above 0x7F.
bool ascii_bytes(const std::uint8_t* p, std::int32_t n) {
    constexpr std::uint64_t high_bits = 0x8080808080808080ull;
    const std::uint8_t* const end = p + n;
    for (; end - p >= 64; p += 64) {
        const std::uint64_t any = load64(p) | load64(p + 8) | load64(p + 16) | load64(p + 24) |
                                  load64(p + 32) | load64(p + 40) | load64(p + 48) | load64(p + 56);
        if ((any & high_bits) != 0) return false;
    }
    std::uint64_t any = 0;
    for (; end - p >= 8; p += 8) any |= load64(p);
    for (; p < end; ++p) any |= *p;
    return (any & high_bits) == 0;
}

}  // namespace

std::int32_t scan_string(Cell* result, Cell& text, std::int32_t length,
                         const ScanRequest& request, std::int32_t* consumed) {
    if (!text_buffer) init();
    const std::int32_t available = string::length_from_head(text);
    const std::int32_t count = length < 0 ? available : std::min(length, available);
    SeriesBuffer* buf = memory::buffer(text.series_node());
    const std::uint32_t unit = buf->unit();
    const bool watched = request.callback != nullptr && (request.callback->is(TypeId::function) ||
                                                         request.callback->is(TypeId::routine));
    if (unit == 1 && !watched) {
        // Characters of one byte, all below 0x80, are their own UTF-8: a run
        // with no callback reads them where they lie, up to the tail, when
        // the buffer has a spare byte after it for the NUL that spares the
        // scan its bound checks. Nothing such a run does can change the text
        // or collect (allocation never does), and its pointers into the
        // buffer would pin it if anything did.
        const std::uint8_t* chars = buf->head + text.series_head();
        if (chars + count == buf->tail && buf->tail < buf->data_end() && ascii_bytes(chars, count)) {
            *buf->tail = 0;
            ScanRequest r = request;
            r.source = &text;
            r.terminated = true;
            return scan(result, chars, count, r, consumed);
        }
    }
    const std::int32_t worst = count * (unit == 1 ? 2 : unit == 2 ? 3 : 4) + 1;
    // Nested runs take the space after the cursor; a text too large for it
    // gets a heap area of its own.
    struct Cursor {
        std::int32_t saved = text_cursor;
        ~Cursor() { text_cursor = saved; }
    } cursor;
    std::unique_ptr<std::uint8_t[]> heap;
    std::uint8_t* out = nullptr;
    if (lexer_buffer_size - text_cursor >= worst) {
        out = text_buffer.get() + text_cursor;
    } else {
        heap = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(worst));
        out = heap.get();
    }
    const std::uint8_t* units = buf->head + static_cast<std::size_t>(text.series_head()) * unit;
    const std::int32_t bytes = unicode::encode_units_utf8(units, count, unit, out, false);
    out[bytes] = 0;
    if (!heap) text_cursor += bytes + 1;
    ScanRequest r = request;
    r.source = &text;
    r.terminated = true;
    return scan(result, out, bytes, r, consumed);
}

void transcode(Cell& result, const Cell& source, const TranscodeOptions& options) {
    Cell src = source;
    const bool is_binary = src.is(TypeId::binary);
    if (!is_binary && !src.is(TypeId::string))
        runtime::raise_error(ErrorCategory::script, "invalid-arg", &src);
    std::int32_t length = is_binary ? series::get_length(src, false) : string::length_from_head(src);
    if (is_binary && length >= 3) {
        const std::uint8_t* p = memory::buffer(src.series_node())->head + src.series_head();
        if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
            src.set_series_head(src.series_head() + 3);
            length -= 3;
        }
    }
    if (options.part != nullptr) {
        if (options.part->is(TypeId::integer)) {
            length = std::clamp(options.part->int_value(), 0, length);
        } else if (options.part->type() == src.type() &&
                   options.part->series_node() == src.series_node()) {
            length = std::clamp(options.part->series_head() - src.series_head(), 0, length);
        } else {
            runtime::raise_error(ErrorCategory::script, "invalid-part", options.part);
        }
    }
    ScanRequest r;
    r.one = options.next || options.one || options.scan;
    r.scan = !options.prescan;
    r.store = !options.scan && !options.prescan;
    r.callback = options.trace;
    r.into = options.into;
    std::int32_t consumed = 0;
    Cell value{};
    collector::Root keep(src);
    std::int32_t type = 0;
    if (is_binary) {
        r.source = &src;
        const std::uint8_t* p = memory::buffer(src.series_node())->head + src.series_head();
        type = scan(&value, p, length, r, options.next ? &consumed : nullptr);
    } else {
        type = scan_string(&value, src, length, r, options.next ? &consumed : nullptr);
    }
    if (options.prescan || options.scan) {
        // The type answers; with /next it comes with the input after the token.
        if (type == 0) none::make_at(value);
        else datatype::make_at(to_type(type), value);
        if (!options.next) {
            result = value;
            return;
        }
    }
    if (options.next) {
        Cell rest = src;
        rest.set_series_head(src.series_head() + consumed);
        if (options.one) {
            result = value;
            return;
        }
        Cell blk{};
        block::make_at(blk, 2);
        block::append_copy(blk, value);
        block::append_copy(blk, rest);
        result = blk;
        return;
    }
    result = value;
}

bool scan_first_value(const char* utf8, std::int32_t length, Cell& out) {
    ScanRequest r;
    r.one = true;
    stack::ErrorCatchScope scope;  // a failed scan is answered here, not by an outer try
    try {
        Cell value{};
        const std::int32_t type = scan(&value, reinterpret_cast<const std::uint8_t*>(utf8), length, r, nullptr);
        if (type <= 0 || type == tint(TypeId::error)) return false;
        out = value;
        return true;
    } catch (const LanguageError&) {
        return false;
    }
}

void mark_states() {
    for (State* s = first_state; s != nullptr; s = s->link) {
        collector::mark_cells(value_stack.data() + s->base, value_stack.data() + s->top);
        collector::mark_cell(s->source);
        collector::mark_cell(s->callback);
    }
}

}  // namespace kiv::lexer
