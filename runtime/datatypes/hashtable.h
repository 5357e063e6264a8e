// Hash tables: one open-addressing design (MurmurHash3 x86-32, probe steps
// 1, 2, 3, ...; each bucket keeps its key's hash) for hash! and map! indexes, the word index of the symbol table
// and of every context, and keyed tables of 32-bit machine keys. A table never
// copies values: it indexes the cells of its value block by position. Nodes
// never move, so keys hashed by node id stay valid across collections.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstddef>
#include <cstdint>

namespace kiv::hashtable {

enum class Kind : std::int32_t {
    hash = 0,       // hash! index: duplicate keys kept in chains
    map = 1,        // map! index: key, value cell pairs
    words = 2,      // word index of the symbol table or of a context
    reference = 3,  // keyed table: the Kivbin encoder's reference table
    owner = 4,      // keyed table: the owner table
};

// The table record, kept in a byte series of its own (the table's node).
// Side arrays are series of their own; their nodes are stored here.
struct HashTable {
    std::int32_t count;       // live entries
    std::int32_t entry_size;  // kinds 3, 4: bytes per entry, (extra cells + 1) x 16
    NodeId chains;            // kind 0: 32-bit nodes of the duplicate chains, each ascending
    NodeId keys;              // the buckets, 16 bytes each (hashtable.cpp)
    NodeId values;            // the value block whose cells are indexed
    std::int32_t occupied;    // buckets in use or deleted
    std::int32_t buckets;     // a power of two, at least 4
    std::int32_t upper;       // occupied bound that triggers growth
    Kind kind;
    std::int32_t reserved;
};

// The record of a table node (valid until the next allocation).
inline HashTable* record(NodeId table) {
    return reinterpret_cast<HashTable*>(memory::buffer(table)->head);
}

// --- Hashing -------------------------------------------------------------------

// MurmurHash3 x86-32 of length bytes.
std::uint32_t murmur3_bytes(const void* bytes, std::size_t length, std::uint32_t seed = 0);
// MurmurHash3's 32-bit finaliser alone (the "mix" of a 32-bit key).
inline std::uint32_t mix(std::uint32_t h) {
    h ^= h >> 16;
    h *= 0x85ebca6b;
    h ^= h >> 13;
    h *= 0xc2b2ae35;
    h ^= h >> 16;
    return h;
}
// MurmurHash3 over the code points of a text value from its head to its tail,
// each a 32-bit little-endian block, lowercased unless case_sensitive.
std::uint32_t hash_string(const Cell& text, bool case_sensitive);
// Hash of a key cell by its type (identity for series and contexts, content
// for scalars, text and binaries, canonical symbol for words).
std::uint32_t hash_key(const Cell& key, bool case_sensitive = false);

// The symbol table's block of symbol! cells: hashing words and the word
// indexes read canonical ids from it. The symbol module sets it at start-up.
void set_symbol_block(NodeId symbols);
// Canonical id of a symbol: its alias when it has one, else the id itself.
std::uint32_t canonical_id(std::uint32_t symbol);

// A bucket keeps what a probe needs on one cache line, four buckets to a
// line: its state, its key's hash (a probe passes over other hashes without
// reading the value block) and, for integer and word keys, the key's type and
// 32-bit payload, which decide equality without the compare action.
//   state: 0 empty, 1 deleted, 2 in use (zeroed memory is an empty index)
struct Bucket {
    std::int32_t entry;   // value-block position (kinds 3, 4: entry number; kind 0: -n is chain n)
    std::uint32_t hash;
    std::uint16_t state;
    std::uint16_t type;   // type of a summarised key; 0: no summary, compare the cells
    std::uint32_t raw;    // its payload: the integer, or the word's canonical symbol
};
static_assert(sizeof(Bucket) == 16);

constexpr std::uint16_t state_empty = 0;
constexpr std::uint16_t state_deleted = 1;
constexpr std::uint16_t state_used = 2;

// --- Tables ----------------------------------------------------------------------

// New table for size entries. kinds 0-2 index values (a block value, or null
// for a fresh empty block of size cells) and index every key of it; kinds 3
// and 4 keep entries of 1 + extra_cells cells in a block of their own. A
// kind-2 request of 4,000 or more is doubled.
NodeId create(std::int32_t size, const Cell* values, Kind kind, std::int32_t extra_cells = 0);
// The value block of a table.
inline NodeId values_of(NodeId table) { return record(table)->values; }
// Rebuilds the index for new_size entries from the value block (keyed
// tables also compact their entry block to the live entries).
void rebuild(NodeId table, std::int32_t new_size);
inline void rehash(NodeId table, std::int32_t new_size) { rebuild(table, new_size); }
// Indexes the key cell of the value block at 0-based position. status is 2
// when a hash! was rebuilt instead (which indexed the key), else 0. In a map!
// a key already present is kept and nothing is inserted.
void put_key(NodeId table, std::int32_t position, int& status);
void put(NodeId table, std::int32_t position);
// Indexes the keys of the value block from 0-based start, every step cells. A
// map! key already present takes the later pair's value, and the later pair
// is removed from the block.
void put_all(NodeId table, std::int32_t start, std::int32_t step);

// Direction flags of find.
inline constexpr int find_reverse = 1;  // the highest matching position wins

// 0-based position of a key equal to key (compare action under op; same type
// required) among positions [first, last) of the value block, or -1. In a
// map! the four word kinds of one spelling are one key.
std::int32_t find(NodeId table, const Cell& key, std::int32_t first, std::int32_t last,
                  CompareOp op, int direction);
// find over all positions of a map!'s index: the key's position or -1 (an
// integer key is settled by its bucket, with no cell compared).
std::int32_t find_in_map(NodeId table, const Cell& key, CompareOp op);
// Where a map! key missing from find_placed would be indexed.
struct KeyPlace {
    std::uint32_t hash = 0;
    std::uint32_t raw = 0;
    std::uint16_t type = 0;
    std::int32_t bucket = -1;   // the first free bucket of the key's probe
    std::int32_t buckets = 0;   // the table's size then: a resize makes the place stale
};
// find over all positions of a map!'s index, which also notes in place
// where the key would go, so that put_placed need not hash and probe again.
std::int32_t find_placed(NodeId table, const Cell& key, CompareOp op, KeyPlace& place);
// put of the key at position, which find_placed found missing, with the
// index unchanged since (a stale place takes the full put).
void put_placed(NodeId table, std::int32_t position, const KeyPlace& place);
// The first position after `after` (hash! duplicates) holding a key equal to
// key, or -1.
std::int32_t find_next(NodeId table, const Cell& key, std::int32_t after, CompareOp op);
// Takes the key at 0-based position out of the index. hash!: out of its
// duplicate chain, the bucket freed when nothing is left; map!: the bucket
// stays and the value cell after the key gets type 0 (an empty slot).
void remove_entry(NodeId table, std::int32_t position);
// Takes count keys of a hash! out of the index from 0-based index; all of
// them going clears the table.
void remove_range(NodeId table, std::int32_t index, std::int32_t count);
// After cells were inserted into or removed from a hash! block at start, the
// index is brought back in line with the block (it is rebuilt). Returns 0.
int shift_positions(NodeId table, std::int32_t delta, std::int32_t start, std::int32_t count,
                    bool move);
// After a range of keys moved within a hash! block: re-indexes the block.
void move_range(NodeId table, std::int32_t target, std::int32_t start, std::int32_t count);
// Empties the table and its value block.
void clear(NodeId table);
// A copy of the table (record, buckets, chains) indexing values_node.
NodeId copy(NodeId table, NodeId values_node);

// Keyed tables (kinds 3, 4): the value cells of key's entry, made (zeroed to
// unset!) when absent. Valid until the next allocation.
Cell* put_pointer_key(NodeId table, std::uint32_t key);
// The value cells of key's entry, or null.
Cell* get_pointer_key(NodeId table, std::uint32_t key);
// Removes key's entry; true when there was one.
bool remove_pointer_key(NodeId table, std::uint32_t key);
// Calls fn for each live entry's key and value cells (diagnostics, the
// owner table's walks). fn must not change the table.
void for_each_pointer_key(NodeId table, void (*fn)(std::uint32_t key, Cell* values, void* data),
                          void* data);

// The symbol table's index (kind 2 over the block of symbol! cells): id of
// the UTF-8 spelling. The first probe compares bytes exactly (folded: ASCII
// case-insensitively); a new spelling is appended with as alias the id of a
// case-insensitive match, or -1. folded returns such a match unchanged.
std::uint32_t find_or_add_symbol(NodeId table, const char* name, std::int32_t length,
                                 bool folded);
// A context's word index: 0-based position of symbol (alias: by canonical id),
// or -1. When absent and context is not 0, a word! (context, symbol, its
// position) is appended and indexed, position receives it, and -1 is returned.
std::int32_t context_word_index(NodeId table, std::uint32_t symbol, bool alias, NodeId context,
                                std::int32_t& position);

// A context's word list (kind 2, size words, an empty value block) whose
// buckets are made at the first lookup that needs them: up to
// linear_words words are searched in order instead, which finds what the
// buckets would (the first word of the symbol). The table reads as without
// buckets (keys 0) until then.
inline constexpr std::int32_t linear_words = 8;
NodeId create_word_list(std::int32_t size);
// True when the word list has its buckets.
inline bool indexed(NodeId table) { return record(table)->keys != 0; }
// Appends a word! (context, symbol, its position) that the caller knows the
// list lacks (the boot image's contexts, checked when it was made), with no
// lookup; returns its position.
std::int32_t append_new_word(NodeId table, std::uint32_t symbol, NodeId context);

// Many lookups by canonical id in one context's word index (as
// context_word_index with alias and no context), for a pass that allocates
// nothing between its lookups: the table's arrays are found once.
class WordFinder {
public:
    // Makes the table's buckets first when it has none and more than
    // linear_words words (an allocation).
    explicit WordFinder(NodeId table);
    std::int32_t find(std::uint32_t symbol) const { return find_canonical(canonical_of(symbol)); }
    // find, given the symbol's canonical id (canonical_of).
    std::int32_t find_canonical(std::uint32_t canonical) const {
        if (buckets_ == nullptr) return find_in_order(canonical);
        const std::uint32_t h = mix(canonical);
        const std::int32_t mask = buckets_count_ - 1;
        std::int32_t b = static_cast<std::int32_t>(h & static_cast<std::uint32_t>(mask));
        for (std::int32_t step = 1; step <= buckets_count_; ++step) {
            const Bucket& bk = buckets_[b];
            if (bk.state == state_empty) return -1;
            if (bk.state == state_used && bk.hash == h && canonical_of(words_[bk.entry].word_symbol()) == canonical)
                return bk.entry;
            b = (b + step) & mask;
        }
        return -1;
    }
    std::uint32_t canonical_of(std::uint32_t s) const {
        if (symbols_ == nullptr || s == 0) return s;
        const std::int32_t alias = symbols_[s - 1].symbol_alias();
        return alias > 0 ? static_cast<std::uint32_t>(alias) : s;
    }

private:
    std::int32_t find_in_order(std::uint32_t canonical) const;
    const Bucket* buckets_;  // null: a short list without buckets, searched in order
    const Cell* words_;
    const Cell* symbols_;   // the symbol block's cells, or null before it exists
    std::int32_t buckets_count_;
    std::int32_t words_count_;
};

// Collector step: marks the record, side arrays, chains and the value block
// with its cells. Installed as collector::mark_hashtable_hook by init.
void mark(NodeId table);
// Collector step for keyed tables: drops every entry whose key series is not
// marked (kind 4: or whose owner object's context is not marked).
void sweep_keyed(NodeId table);
// A placeholder step of a hash! action: does nothing.
inline void no_op(NodeId) {}
// Diagnostic print of the live and the deleted keys.
void dump(NodeId table);

// Installs the collector hooks.
void init();

}  // namespace kiv::hashtable
