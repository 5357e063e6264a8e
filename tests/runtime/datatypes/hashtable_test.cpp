// Hash tables: MurmurHash3 vectors, key hashing, keyed tables, the symbol and
// context word indexes, hash! duplicates and map! keys.
#include "runtime/datatypes/hashtable.h"

#include "runtime/text/case_folding.h"
#include "runtime/core/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace kiv {
namespace {

class Hashtable : public ::testing::Test {
protected:
    void SetUp() override {
        memory::init();
        case_folding::init();
    }
    void TearDown() override {
        hashtable::set_symbol_block(0);
        memory::free_all();
    }

    static NodeId text(const char* s) {
        const auto n = static_cast<std::int32_t>(std::strlen(s));
        const NodeId node = memory::alloc_series(n, 1, 0);
        SeriesBuffer* b = memory::buffer(node);
        std::memcpy(b->head, s, static_cast<std::size_t>(n));
        b->tail = b->head + n;
        return node;
    }
    static Cell string_cell(const char* s) {
        Cell c{};
        c.reset(TypeId::string);
        c.set_series_node(text(s));
        return c;
    }
    static Cell integer(std::uint32_t v) {
        Cell c{};
        c.reset(TypeId::integer);
        c.set_int(static_cast<std::int32_t>(v));
        return c;
    }
    static NodeId block_of(const std::vector<Cell>& cells) {
        const NodeId node = memory::alloc_cells(static_cast<std::int32_t>(cells.size()) + 1);
        SeriesBuffer* b = memory::buffer(node);
        std::memcpy(b->head, cells.data(), cells.size() * sizeof(Cell));
        b->tail = b->head + cells.size() * sizeof(Cell);
        return node;
    }
};

TEST_F(Hashtable, MurmurPublishedVectors) {
    struct Case { const char* text; std::size_t length; std::uint32_t seed; std::uint32_t hash; } cases[] = {
        {"", 0, 0, 0},
        {"", 0, 1, 0x514E28B7},
        {"", 0, 0xFFFFFFFF, 0x81F16F39},
        {"\0\0\0\0", 4, 0, 0x2362F9DE},
        {"a", 1, 0x9747B28C, 0x7FA09EA6},
        {"aa", 2, 0x9747B28C, 0x5D211726},
        {"aaa", 3, 0x9747B28C, 0x283E0130},
        {"aaaa", 4, 0x9747B28C, 0x5A97808A},
        {"abc", 3, 0, 0xB3DD93FA},
        {"Hello, world!", 13, 0x9747B28C, 0x24884CBA},
        {"The quick brown fox jumps over the lazy dog", 43, 0x9747B28C, 0x2FA826CD},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hashtable::murmur3_bytes(c.text, c.length, c.seed), c.hash) << c.text;
    }
    EXPECT_EQ(hashtable::mix(0), 0u);
    EXPECT_NE(hashtable::mix(1), hashtable::mix(2));
}

TEST_F(Hashtable, KeyHashing) {
    // Text hashes ignore case unless asked; position counts.
    const Cell lower = string_cell("hello world");
    const Cell upper = string_cell("HELLO World");
    EXPECT_EQ(hashtable::hash_key(lower), hashtable::hash_key(upper));
    EXPECT_NE(hashtable::hash_key(lower, true), hashtable::hash_key(upper, true));
    Cell later = lower;
    later.set_series_head(6);
    EXPECT_EQ(hashtable::hash_key(later), hashtable::hash_key(string_cell("WORLD")));

    // Scalars by content, series by identity, the four word kinds alike.
    EXPECT_EQ(hashtable::hash_key(integer(7)), hashtable::hash_key(integer(7)));
    EXPECT_NE(hashtable::hash_key(integer(7)), hashtable::hash_key(integer(8)));
    Cell w{};
    w.reset(TypeId::word);
    w.set_word(3, 42, 0);
    Cell sw = w;
    sw.set_type(TypeId::set_word);
    sw.set_word_context(9);
    EXPECT_EQ(hashtable::hash_key(w), hashtable::hash_key(sw));
    Cell none{};
    none.reset(TypeId::none);
    EXPECT_EQ(hashtable::hash_key(none), 0xFFFFFFFFu);
    Cell f{};
    f.reset(TypeId::float_);
    f.set_f64(1.5);
    Cell g = f;
    g.set_f64(2.5);
    EXPECT_NE(hashtable::hash_key(f), hashtable::hash_key(g));
}

// Text hashes as MurmurHash3 over its code points, each a 32-bit block
// (upper-cased unless case-sensitive), whatever the width of its units.
TEST_F(Hashtable, TextHashIsMurmurOfCodePoints) {
    const char* texts[] = {"", "a", "Key 1234", "hello, \xE9t\xE9 \xFF\xB5 world, longer than sixteen bytes"};
    for (const char* s : texts) {
        std::vector<std::uint32_t> exact, folded;
        for (const char* p = s; *p != 0; ++p) {
            const auto cp = static_cast<std::uint32_t>(static_cast<unsigned char>(*p));
            exact.push_back(cp);
            folded.push_back(case_folding::fold_char(cp, true));
        }
        const Cell t = string_cell(s);
        EXPECT_EQ(hashtable::hash_string(t, true), hashtable::murmur3_bytes(exact.data(), 4 * exact.size())) << s;
        EXPECT_EQ(hashtable::hash_string(t, false), hashtable::murmur3_bytes(folded.data(), 4 * folded.size())) << s;
        // The same code points in units of four bytes.
        const auto n = static_cast<std::int32_t>(exact.size());
        const NodeId wide = memory::alloc_series(n + 1, 4, 0);
        SeriesBuffer* b = memory::buffer(wide);
        if (n > 0) std::memcpy(b->head, exact.data(), exact.size() * 4);
        b->tail = b->head + exact.size() * 4;
        Cell w{};
        w.reset(TypeId::string);
        w.set_series_node(wide);
        EXPECT_EQ(hashtable::hash_string(w, false), hashtable::hash_string(t, false)) << s;
        EXPECT_EQ(hashtable::hash_string(w, true), hashtable::hash_string(t, true)) << s;
    }
}

// Keyed tables against std::unordered_map through growth and deletions.
TEST_F(Hashtable, KeyedTableMatchesReference) {
    const NodeId table = hashtable::create(4, nullptr, hashtable::Kind::owner, 2);
    std::unordered_map<std::uint32_t, std::uint32_t> reference;
    std::mt19937 rng(5);
    for (int i = 0; i < 20000; ++i) {
        const std::uint32_t key = 1 + rng() % 3000;
        if (rng() % 3 == 0) {
            EXPECT_EQ(hashtable::remove_pointer_key(table, key), reference.erase(key) == 1);
        } else {
            Cell* v = hashtable::put_pointer_key(table, key);
            v[1].set_int(static_cast<std::int32_t>(key * 3));
            reference[key] = key * 3;
        }
    }
    for (std::uint32_t key = 1; key <= 3000; ++key) {
        const Cell* v = hashtable::get_pointer_key(table, key);
        const auto it = reference.find(key);
        ASSERT_EQ(v != nullptr, it != reference.end()) << key;
        if (v) EXPECT_EQ(v[1].int_value(), static_cast<std::int32_t>(it->second));
    }
    EXPECT_EQ(hashtable::record(table)->count, static_cast<std::int32_t>(reference.size()));
    const hashtable::HashTable* t = hashtable::record(table);
    EXPECT_LT(t->occupied, t->buckets);
}

TEST_F(Hashtable, SymbolTableAliases) {
    const NodeId symbols = memory::alloc_cells(16);
    Cell blk{};
    blk.reset(TypeId::block);
    blk.set_series_node(symbols);
    const NodeId index = hashtable::create(4000, &blk, hashtable::Kind::words);
    EXPECT_EQ(hashtable::record(index)->buckets, 16384);
    EXPECT_EQ(hashtable::record(index)->upper, 12615);
    hashtable::set_symbol_block(symbols);

    auto make = [&](const std::string& s, bool folded = false) {
        return hashtable::find_or_add_symbol(index, s.data(), static_cast<std::int32_t>(s.size()), folded);
    };
    const std::uint32_t foo = make("Foo"), FOO = make("FOO"), fOO = make("fOO");
    EXPECT_EQ(foo, 1u);
    EXPECT_EQ(FOO, 2u);
    EXPECT_EQ(fOO, 3u);
    EXPECT_EQ(make("FOO"), FOO);
    EXPECT_EQ(hashtable::canonical_id(foo), foo);
    EXPECT_EQ(hashtable::canonical_id(FOO), foo);
    EXPECT_EQ(hashtable::canonical_id(fOO), foo);
    EXPECT_EQ(make("fOo", true), foo);  // folded: any case variant is returned
    const std::uint32_t top = make("top");
    EXPECT_EQ(make("TOP", true), top);

    // Thousands of names, long ones included: all come back with their ids.
    std::vector<std::string> names;
    for (int i = 0; i < 20000; ++i) names.push_back("name-" + std::to_string(i) + std::string(i % 300, 'x'));
    std::vector<std::uint32_t> ids;
    for (const auto& n : names) ids.push_back(make(n));
    for (std::size_t i = 0; i < names.size(); ++i) ASSERT_EQ(make(names[i]), ids[i]);
    const Cell* cells = reinterpret_cast<const Cell*>(memory::buffer(symbols)->head);
    const Cell& last = cells[ids.back() - 1];
    EXPECT_STREQ(reinterpret_cast<const char*>(memory::buffer(last.symbol_utf8())->head),
                 names.back().c_str());
    EXPECT_EQ(hashtable::record(index)->count, static_cast<std::int32_t>(ids.back()));
}

TEST_F(Hashtable, ContextWordIndex) {
    const NodeId symbols = memory::alloc_cells(16);
    Cell blk{};
    blk.reset(TypeId::block);
    blk.set_series_node(symbols);
    const NodeId index = hashtable::create(64, &blk, hashtable::Kind::words);
    hashtable::set_symbol_block(symbols);
    const std::uint32_t a = hashtable::find_or_add_symbol(index, "alpha", 5, false);
    const std::uint32_t A = hashtable::find_or_add_symbol(index, "ALPHA", 5, false);

    const NodeId words = hashtable::create(2, nullptr, hashtable::Kind::words);
    std::int32_t position = -7;
    EXPECT_EQ(hashtable::context_word_index(words, a, false, 0, position), -1);
    EXPECT_EQ(position, -7);  // no context: nothing added
    EXPECT_EQ(hashtable::context_word_index(words, a, false, 77, position), -1);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(hashtable::context_word_index(words, A, true, 0, position), 0);   // alias finds it
    EXPECT_EQ(hashtable::context_word_index(words, A, false, 0, position), -1); // exact does not
    // Growth keeps every word findable.
    for (std::uint32_t i = 0; i < 500; ++i) {
        const std::string n = "w" + std::to_string(i);
        const std::uint32_t s = hashtable::find_or_add_symbol(index, n.data(), static_cast<std::int32_t>(n.size()), false);
        hashtable::context_word_index(words, s, false, 77, position);
        EXPECT_EQ(position, static_cast<std::int32_t>(i) + 1);
        const Cell& w = reinterpret_cast<const Cell*>(memory::buffer(hashtable::values_of(words))->head)[position];
        EXPECT_EQ(w.word_symbol(), s);
        EXPECT_EQ(w.word_index(), position);
        EXPECT_EQ(w.word_context(), 77u);
    }
    EXPECT_EQ(hashtable::context_word_index(words, a, false, 0, position), 0);
}

// A context's word list gets its buckets at the first lookup that needs
// them; before, and after, lookups find the same words (a case variant's
// first spelling under alias), whether words came by lookup or appended.
TEST_F(Hashtable, WordListBucketsAtFirstNeed) {
    const NodeId symbols = memory::alloc_cells(16);
    Cell blk{};
    blk.reset(TypeId::block);
    blk.set_series_node(symbols);
    const NodeId index = hashtable::create(64, &blk, hashtable::Kind::words);
    hashtable::set_symbol_block(symbols);
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 0; i < 40; ++i) {
        const std::string n = "v" + std::to_string(i);
        ids.push_back(hashtable::find_or_add_symbol(index, n.data(), static_cast<std::int32_t>(n.size()), false));
    }
    const std::uint32_t a = hashtable::find_or_add_symbol(index, "alpha", 5, false);
    const std::uint32_t A = hashtable::find_or_add_symbol(index, "ALPHA", 5, false);

    auto check = [&](NodeId words, std::int32_t count) {
        std::int32_t position = -7;
        EXPECT_EQ(hashtable::context_word_index(words, A, true, 0, position), 0);  // alias: the first spelling
        EXPECT_EQ(hashtable::context_word_index(words, A, false, 0, position), 1);
        EXPECT_EQ(hashtable::context_word_index(words, a, false, 0, position), 0);
        const hashtable::WordFinder finder(words);
        EXPECT_EQ(finder.find(A), 0);
        for (std::int32_t i = 0; i + 2 < count; ++i) {
            EXPECT_EQ(hashtable::context_word_index(words, ids[static_cast<std::size_t>(i)], true, 0, position), i + 2);
            EXPECT_EQ(finder.find(ids[static_cast<std::size_t>(i)]), i + 2);
        }
        EXPECT_EQ(hashtable::context_word_index(words, ids.back(), true, 0, position), -1);
        EXPECT_EQ(position, -7);
        EXPECT_EQ(hashtable::record(words)->count, count);
    };
    for (const std::int32_t count : {2, hashtable::linear_words, hashtable::linear_words + 1, 30}) {
        SCOPED_TRACE(count);
        // Appended with no lookup: no buckets until a lookup needs them.
        const NodeId appended = hashtable::create_word_list(2);
        EXPECT_EQ(hashtable::append_new_word(appended, a, 77), 0);
        EXPECT_EQ(hashtable::append_new_word(appended, A, 77), 1);
        for (std::int32_t i = 0; i + 2 < count; ++i)
            EXPECT_EQ(hashtable::append_new_word(appended, ids[static_cast<std::size_t>(i)], 77), i + 2);
        EXPECT_FALSE(hashtable::indexed(appended));
        check(appended, count);
        EXPECT_EQ(hashtable::indexed(appended), count > hashtable::linear_words);
        // Entered by lookups: buckets once the list passes linear_words.
        const NodeId looked_up = hashtable::create_word_list(2);
        std::int32_t position = 0;
        EXPECT_EQ(hashtable::context_word_index(looked_up, a, false, 77, position), -1);
        EXPECT_EQ(hashtable::append_new_word(looked_up, A, 77), 1);
        for (std::int32_t i = 0; i + 2 < count; ++i) {
            EXPECT_EQ(hashtable::context_word_index(looked_up, ids[static_cast<std::size_t>(i)], true, 77, position), -1);
            EXPECT_EQ(position, i + 2);
        }
        EXPECT_EQ(hashtable::indexed(looked_up), count > hashtable::linear_words);
        check(looked_up, count);
        const Cell& w = reinterpret_cast<const Cell*>(memory::buffer(hashtable::values_of(looked_up))->head)[1];
        EXPECT_EQ(w.word_symbol(), A);
        EXPECT_EQ(w.word_index(), 1);
        EXPECT_EQ(w.word_context(), 77u);
        // A copy of a list without buckets has none either, and finds the same.
        const NodeId entries = memory::clone_series(memory::buffer(hashtable::values_of(appended)));
        check(hashtable::copy(appended, entries), count);
    }
}

// hash! keeps duplicates in block order; removal and rebuilds keep the rest.
TEST_F(Hashtable, HashKeepsDuplicates) {
    std::vector<Cell> cells;
    for (std::uint32_t i = 0; i < 300; ++i) cells.push_back(integer(i % 7));
    const NodeId blk_node = block_of(cells);
    Cell blk{};
    blk.reset(TypeId::block);
    blk.set_series_node(blk_node);
    const NodeId table = hashtable::create(4, &blk, hashtable::Kind::hash);  // grows while indexing
    EXPECT_EQ(hashtable::record(table)->count, 300);

    auto positions_of = [&](std::uint32_t v) {
        std::vector<std::int32_t> found;
        for (std::int32_t p = hashtable::find(table, integer(v), 0, 300, CompareOp::equal, 0); p >= 0;
             p = hashtable::find_next(table, integer(v), p, CompareOp::equal)) {
            found.push_back(p);
        }
        return found;
    };
    const auto threes = positions_of(3);
    ASSERT_EQ(threes.size(), 43u);
    for (std::size_t i = 0; i < threes.size(); ++i) EXPECT_EQ(threes[i], static_cast<std::int32_t>(3 + 7 * i));
    EXPECT_EQ(hashtable::find(table, integer(3), 0, 300, CompareOp::equal, hashtable::find_reverse), 297);
    EXPECT_EQ(hashtable::find(table, integer(3), 4, 17, CompareOp::equal, 0), 10);
    EXPECT_EQ(hashtable::find(table, integer(99), 0, 300, CompareOp::equal, 0), -1);

    hashtable::remove_entry(table, 10);
    EXPECT_EQ(positions_of(3).size(), 42u);
    EXPECT_EQ(hashtable::find(table, integer(3), 4, 17, CompareOp::equal, 0), -1);

    // A copy indexes the same keys; shifting rebuilds from the block.
    const NodeId dup = hashtable::copy(table, blk_node);
    EXPECT_EQ(hashtable::find(dup, integer(5), 0, 300, CompareOp::equal, 0), 5);
    hashtable::shift_positions(table, 0, 0, 300, false);
    EXPECT_EQ(positions_of(3).size(), 43u);

    hashtable::remove_range(table, 0, 300);
    EXPECT_EQ(hashtable::find(table, integer(3), 0, 300, CompareOp::equal, 0), -1);
}

TEST_F(Hashtable, MapKeepsOneEntryPerKey) {
    Cell set_a{}, lit_a{}, b{};
    set_a.reset(TypeId::set_word);
    set_a.set_word(0, 11, -1);
    lit_a = set_a;
    lit_a.set_type(TypeId::lit_word);
    b = set_a;
    b.set_word_symbol(12);
    const NodeId blk_node = block_of({set_a, integer(1), b, integer(2), lit_a, integer(3)});
    Cell blk{};
    blk.reset(TypeId::block);
    blk.set_series_node(blk_node);
    const NodeId table = hashtable::create(4, &blk, hashtable::Kind::map);
    EXPECT_EQ(hashtable::record(table)->count, 2);
    EXPECT_EQ(memory::buffer(blk_node)->used_bytes(), 4 * 16);  // the later pair is gone
    const std::int32_t at = hashtable::find(table, lit_a, 0, 4, CompareOp::strict_equal, 0);
    ASSERT_EQ(at, 0);
    EXPECT_EQ(reinterpret_cast<Cell*>(memory::buffer(blk_node)->head)[1].int_value(), 3);  // later value wins

    hashtable::remove_entry(table, 0);
    EXPECT_EQ(reinterpret_cast<Cell*>(memory::buffer(blk_node)->head)[1].type(), TypeId::no_type);
    EXPECT_EQ(hashtable::record(table)->count, 1);
    hashtable::clear(table);
    EXPECT_EQ(memory::buffer(blk_node)->used_bytes(), 0);
    EXPECT_EQ(hashtable::find(table, b, 0, 4, CompareOp::strict_equal, 0), -1);
}

// find_placed notes where a missing key goes and put_placed puts it there,
// through the table's growth; a place whose bucket was taken meanwhile takes
// the full put (which keeps the existing entry of an equal key).
TEST_F(Hashtable, MapPutsWhereItsFindLooked) {
    const NodeId blk_node = memory::alloc_cells(2 * 104 + 1);
    Cell blk{};
    blk.reset(TypeId::block);
    blk.set_series_node(blk_node);
    const NodeId table = hashtable::create(4, &blk, hashtable::Kind::map);
    auto append = [&](const Cell& c) {
        SeriesBuffer* b = memory::buffer(blk_node);
        std::memcpy(b->tail, &c, sizeof c);
        b->tail += sizeof c;
    };
    auto put_new = [&](const Cell& key, CompareOp op) {
        hashtable::KeyPlace place;
        const std::int32_t at = hashtable::find_placed(table, key, op, place);
        if (at >= 0) return at;
        const auto position = static_cast<std::int32_t>(memory::buffer(blk_node)->used_bytes() / 16);
        append(key);
        append(integer(0));
        hashtable::put_placed(table, position, place);
        return -1;
    };
    for (std::uint32_t i = 0; i < 100; ++i) ASSERT_EQ(put_new(integer(i * 7), CompareOp::equal), -1);
    for (std::uint32_t i = 0; i < 100; ++i)
        EXPECT_EQ(hashtable::find(table, integer(i * 7), 0, 200, CompareOp::strict_equal, 0), 2 * i);
    EXPECT_EQ(put_new(integer(21), CompareOp::equal), 6);  // found, not put again

    // Text keys: another string of the same bytes is the key; `same` wants the series itself.
    EXPECT_EQ(put_new(string_cell("Key"), CompareOp::equal), -1);
    EXPECT_EQ(put_new(string_cell("Key"), CompareOp::strict_equal), 200);
    hashtable::KeyPlace place;
    EXPECT_EQ(hashtable::find_placed(table, string_cell("Key"), CompareOp::same, place), -1);
    EXPECT_EQ(hashtable::find_placed(table, string_cell("Ke"), CompareOp::equal, place), -1);

    // Two finds of one missing key note the same bucket; the second put finds it taken.
    hashtable::KeyPlace first, second;
    ASSERT_EQ(hashtable::find_placed(table, integer(9999), CompareOp::equal, first), -1);
    ASSERT_EQ(hashtable::find_placed(table, integer(9999), CompareOp::equal, second), -1);
    append(integer(9999));
    append(integer(1));
    hashtable::put_placed(table, 202, first);
    append(integer(9999));
    append(integer(2));
    hashtable::put_placed(table, 204, second);
    EXPECT_EQ(hashtable::record(table)->count, 102);  // 100 integers, "Key", 9999
    EXPECT_EQ(hashtable::find(table, integer(9999), 0, 206, CompareOp::equal, 0), 202);
}

}  // namespace
}  // namespace kiv
