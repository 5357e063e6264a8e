// Shared by the natives tests: the typesets that native specs name, made the
// way library/boot.kiv makes them (`name!: registered [members]`), read from
// that file so the tests follow its definitions. A member type the runtime
// does not have yet is left out, as boot.kiv does. Call after the datatype
// words hold their datatypes.
#pragma once

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/lexer.h"
#include "runtime/raise.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace kiv::test {

inline void define_boot_typesets(const std::string& root) {
    std::ifstream in(root + "/library/boot.kiv");
    ASSERT_TRUE(in) << root;
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    Cell out{};
    lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(text.data()),
                static_cast<std::int32_t>(text.size()), {}, nullptr);
    const Cell code = *block::append_copy(block::root(), out);  // kept from the collector
    const std::int32_t n = block::count_from_head(code);
    int made = 0;
    for (std::int32_t i = 0; i + 2 < n; ++i) {
        const Cell name = *block::get_cell(code, i);
        const Cell maker = *block::get_cell(code, i + 1);
        const Cell members = *block::get_cell(code, i + 2);
        if (!name.is(TypeId::set_word) || !maker.is(TypeId::word) || !members.is(TypeId::block) ||
            symbol::name(maker.word_symbol()) != "registered")
            continue;
        Cell ts{};
        typeset::make_at(ts, 0, 0, 0);
        for (std::int32_t m = 0, count = block::count_from_head(members); m < count; ++m) {
            Cell value{};
            try {
                word::get_value(*block::get_cell(members, members.series_head() + m), value);
            } catch (const LanguageError&) {
                continue;  // a type this runtime does not have
            }
            if (value.is(TypeId::datatype) || value.is(TypeId::typeset)) typeset::add(ts, value);
        }
        Cell w;
        word::make_kind_at(TypeId::word, std::string(symbol::name(name.word_symbol())).c_str(), w);
        word::set_value(w, ts);
        ++made;
    }
    ASSERT_GT(made, 10) << "no typesets found in library/boot.kiv";
}

}  // namespace kiv::test
