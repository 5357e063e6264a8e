// Hash tables: open addressing over 2-bit bucket flags and 32-bit keys that
// name positions of the value block. Every probe is bounded by the bucket
// count and tables grow before they fill, so a probe always ends. Series may
// move when they grow: only nodes are held across allocations.
#include "runtime/datatypes/hashtable.h"

#include "runtime/core/assert.h"
#include "runtime/core/buffer.h"
#include "runtime/text/case_folding.h"
#include "runtime/core/collector.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kiv::hashtable {
namespace {

// What a probe knows of a key before it starts: its hash and its summary.
struct KeyInfo {
    std::uint32_t hash = 0;
    std::uint16_t type = 0;
    std::uint32_t raw = 0;
};

NodeId symbol_block = 0;

inline std::uint32_t rotl(std::uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

constexpr std::uint32_t c1 = 0xcc9e2d51;
constexpr std::uint32_t c2 = 0x1b873593;

inline std::uint32_t mix_block(std::uint32_t h, std::uint32_t k) {
    k *= c1;
    k = rotl(k, 15);
    k *= c2;
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xe6546b64;
}

// Text of byte units hashes a byte at a time through these tables: per byte
// value, its block as mix_block scrambles it before the rounds (k * c1,
// rotated, * c2), as it is (exact) or upper-cased (folded). The hash is the
// one of the code-point loop; only the work per byte is less.
struct ByteBlocks {
    std::uint32_t exact[256];
    std::uint32_t folded[256];
};

inline std::uint32_t scramble(std::uint32_t k) { return rotl(k * c1, 15) * c2; }

// The tables, made once the case tables are filled (null before: the
// code-point loop then folds itself).
const ByteBlocks* byte_blocks() {
    static ByteBlocks blocks;
    static bool ready = false;
    if (ready) return &blocks;
    if (case_folding::fold_char('a', true) == 'a') return nullptr;  // case tables not filled yet
    for (std::uint32_t c = 0; c < 256; ++c) {
        blocks.exact[c] = scramble(c);
        blocks.folded[c] = scramble(case_folding::fold_char(c, true));
    }
    ready = true;
    return &blocks;
}

// MurmurHash3 of n (> 0) byte units as 32-bit blocks, each through table.
inline std::uint32_t hash_byte_text(const std::uint8_t* p, std::int32_t n, const std::uint32_t* table) {
    std::uint32_t h = 0;
    for (const std::uint8_t* const e = p + n; p < e; ++p) h = rotl(h ^ table[*p], 13) * 5 + 0xe6546b64;
    return mix(h ^ (static_cast<std::uint32_t>(n) * 4));
}

// --- Record and side arrays --------------------------------------------------

Bucket* buckets_of(const HashTable* t) {
    return reinterpret_cast<Bucket*>(memory::buffer(t->keys)->head);
}
Cell* value_cells(const HashTable* t) {
    return reinterpret_cast<Cell*>(memory::buffer(t->values)->head);
}
std::int32_t value_count(const HashTable* t) {
    return memory::buffer(t->values)->used_bytes() / static_cast<std::int32_t>(sizeof(Cell));
}
std::int32_t cells_per_entry(const HashTable* t) { return t->entry_size / 16; }

std::int32_t next_power_of_two(std::int64_t n) {
    std::int64_t p = 4;
    while (p < n) p <<= 1;
    KIV_ASSERT(p <= 0x40000000, "hash table size");
    return static_cast<std::int32_t>(p);
}

// A fresh index of t->buckets empty buckets.
void make_index(NodeId table) {
    const std::int32_t bytes = record(table)->buckets * static_cast<std::int32_t>(sizeof(Bucket));
    const NodeId keys = memory::alloc_bytes_filled(bytes, 0);
    SeriesBuffer* kb = memory::buffer(keys);
    kb->tail = kb->head + bytes;
    HashTable* t = record(table);
    t->keys = keys;
    t->occupied = 0;
    t->count = 0;
    if (t->kind == Kind::hash) t->chains = buffer::new_(4, 4);
}

// --- Comparing keys --------------------------------------------------------------

// The equality tests a table is searched under; for each an integer equals
// exactly the integers of its value.
bool is_key_equality(CompareOp op) {
    return op == CompareOp::equal || op == CompareOp::strict_equal || op == CompareOp::same ||
           op == CompareOp::find || op == CompareOp::parse_equal || op == CompareOp::parse_strict;
}

// The units of text a from its head, when they are bytes; else null.
inline const std::uint8_t* byte_text(const Cell& a, std::int32_t& length) {
    const SeriesBuffer* b = memory::buffer(a.series_node());
    if (b->unit() != 1) return nullptr;
    const std::int32_t head = a.series_head() < 0 ? 0 : a.series_head();
    length = b->used_bytes() - head;
    if (length < 0) length = 0;
    return b->head + head;
}

bool keys_equal(const Cell& a, const Cell& b, CompareOp op) {
    if (a.type() != b.type()) return false;
    if (a.is(TypeId::integer) && is_key_equality(op)) return a.int_value() == b.int_value();
    if (a.is(TypeId::string) && op != CompareOp::same) {
        // The usual hit: the same bytes, equal under every equality but identity.
        std::int32_t na = 0, nb = 0;
        const std::uint8_t* pa = byte_text(a, na);
        const std::uint8_t* pb = pa ? byte_text(b, nb) : nullptr;
        if (pb != nullptr && na == nb && std::memcmp(pa, pb, static_cast<std::size_t>(na)) == 0)
            return true;
    }
    if (registry::highest_type() > 0) {
        if (auto compare = registry::handler<Action::compare>(a.type())) {
            Cell x = a, y = b;  // handlers take writable cells
            return compare(&x, &y, op) == 0;
        }
    }
    return a.same_payload(b);
}

bool is_word_kind(TypeId t) {
    return t == TypeId::word || t == TypeId::set_word || t == TypeId::lit_word ||
           t == TypeId::get_word;
}

bool is_summarised_word(TypeId t) { return is_word_kind(t) || t == TypeId::refinement; }

// The hash and summary of a key; integers and words without hash_key's
// dispatch, since they are most of the keys looked up.
KeyInfo describe(const Cell& key) {
    KeyInfo k;
    const TypeId type = key.type();
    if (type == TypeId::integer) {
        k.raw = static_cast<std::uint32_t>(key.int_value());
        k.hash = mix(k.raw);
    } else if (is_summarised_word(type)) {
        k.raw = canonical_id(key.word_symbol());
        k.hash = mix(k.raw);
    } else {
        k.hash = hash_key(key);
        return k;
    }
    k.type = static_cast<std::uint16_t>(type);
    return k;
}

enum class Verdict { differ, equal, compare };

// What the bucket alone says of a key compared under op: the hash and the
// summary can prove keys different, and for integers (any op) and words
// (equal: the canonical symbol) also equal; else the cells must be compared.
inline Verdict verdict(const Bucket& b, const KeyInfo& k, CompareOp op) {
    if (b.hash != k.hash || b.type != k.type) return Verdict::differ;
    if (k.type == 0) return Verdict::compare;
    if (b.raw != k.raw) return Verdict::differ;
    if (k.type == static_cast<std::uint16_t>(TypeId::integer) ? is_key_equality(op) : op == CompareOp::equal)
        return Verdict::equal;
    return Verdict::compare;
}

// First position of bucket entry e (the position whose cell stands for its key).
std::int32_t first_position(const HashTable* t, std::int32_t e) {
    if (e >= 0) return e;
    const NodeId chain = buffer::word_at(t->chains, -e);
    return static_cast<std::int32_t>(buffer::word_at(chain, 1));
}

KeyInfo entry_info(const HashTable* t, std::int32_t e) {
    if (t->kind == Kind::reference || t->kind == Kind::owner) {
        KeyInfo k;
        k.hash = mix(value_cells(t)[e * cells_per_entry(t)].pointer_key());
        return k;
    }
    if (t->kind == Kind::words) {  // the word index's own hashes (symbol spellings, canonical ids)
        KeyInfo k;
        k.hash = hash_key(value_cells(t)[e]);
        return k;
    }
    return describe(value_cells(t)[first_position(t, e)]);
}

// Probes from hash h; match(bucket) says whether a used bucket of hash h is
// the one sought (buckets of other hashes are passed over). Returns its bucket
// or -1; free_bucket receives the first deleted bucket met, else the empty
// bucket that ended the probe (-1: none).
template <class Match>
std::int32_t probe(const HashTable* t, std::uint32_t h, Match&& match, std::int32_t& free_bucket) {
    const std::int32_t mask = t->buckets - 1;
    std::int32_t b = static_cast<std::int32_t>(h & static_cast<std::uint32_t>(mask));
    free_bucket = -1;
    const Bucket* buckets = buckets_of(t);
    for (std::int32_t step = 1; step <= t->buckets; ++step) {
        const Bucket& bk = buckets[b];
        if (bk.state == state_empty) {
            if (free_bucket < 0) free_bucket = b;
            return -1;
        }
        if (bk.state == state_deleted) {
            if (free_bucket < 0) free_bucket = b;
        } else if (bk.hash == h && match(bk)) {
            return b;
        }
        b = (b + step) & mask;
    }
    return -1;  // back at the start: everything searched
}

// A map's lookup from hash h: the entry of the first used bucket of hash h
// that match(bucket) accepts, or -1 at the first empty bucket. Buckets whose
// entry lies past the values (left by a cut of the map's block) never match.
template <class Match>
std::int32_t find_entry(const HashTable* t, std::uint32_t h, Match&& match) {
    const Bucket* const buckets = buckets_of(t);
    const std::int32_t count = value_count(t);
    const std::uint32_t mask = static_cast<std::uint32_t>(t->buckets - 1);
    std::uint32_t b = h & mask;
    for (std::int32_t step = 1; step <= t->buckets; ++step) {
        const Bucket& bk = buckets[b];
        if (bk.state == state_empty) return -1;
        if (bk.hash == h && bk.state == state_used && bk.entry < count && match(bk)) return bk.entry;
        b = (b + static_cast<std::uint32_t>(step)) & mask;
    }
    return -1;
}

void occupy(HashTable* t, std::int32_t bucket, std::int32_t entry, const KeyInfo& key) {
    Bucket& b = buckets_of(t)[bucket];
    if (b.state == state_empty) ++t->occupied;
    b = Bucket{entry, key.hash, state_used, key.type, key.raw};
    ++t->count;
}

// Re-inserts a bucket whose key is known to be absent (rebuilds, resizes).
void place(HashTable* t, const Bucket& from) {
    std::int32_t free_bucket;
    probe(t, from.hash, [](const Bucket&) { return false; }, free_bucket);
    KIV_ASSERT(free_bucket >= 0, "hash table full");
    occupy(t, free_bucket, from.entry, KeyInfo{from.hash, from.type, from.raw});
}
void place(NodeId table, std::int32_t entry) {
    HashTable* t = record(table);
    const KeyInfo k = entry_info(t, entry);
    place(t, Bucket{entry, k.hash, state_used, k.type, k.raw});
}

// Resizes kinds 1-4 in place to buckets (the entries keep their numbers and
// their buckets' hashes).
void resize(NodeId table, std::int32_t buckets) {
    HashTable* t = record(table);
    const NodeId old_keys = t->keys;
    const std::int32_t old_buckets = t->buckets;
    const std::int32_t live = t->count;  // a map!'s removed entries keep buckets but no count
    t->buckets = buckets;
    t->upper = static_cast<std::int32_t>(buckets * 0.77 + 0.5);
    make_index(table);
    t = record(table);
    const auto* old = reinterpret_cast<const Bucket*>(memory::buffer(old_keys)->head);
    for (std::int32_t b = 0; b < old_buckets; ++b)
        if (old[b].state == state_used) place(t, old[b]);
    t->count = live;
}

// Makes room for one more bucket; true when a hash! was rebuilt instead.
bool make_room(NodeId table) {
    HashTable* t = record(table);
    if (t->occupied < t->upper) return false;
    if (t->kind == Kind::hash) {
        rebuild(table, value_count(t) + 1);
        return true;
    }
    // A map!'s removed entries hold their buckets: only a rebuild of its
    // block could free them, so it grows by what is occupied.
    const bool sparse = 2 * (t->kind == Kind::map ? t->occupied : t->count) < t->buckets;
    if (t->kind == Kind::words && t->values == symbol_block) {
        resize(table, next_power_of_two(16LL * (t->buckets + (sparse ? -1 : 1))));
    } else {
        resize(table, next_power_of_two(sparse ? t->buckets : 2LL * t->buckets));
    }
    return false;
}

// hash!: true when position is already in the index (under its key's
// bucket). Chains are ascending (keys are only ever appended; anything else
// rebuilds), so a position after the last one is not held: appending to a
// long chain of equal keys costs no walk along it.
bool hash_holds(const HashTable* t, std::int32_t bucket, std::int32_t position) {
    const std::int32_t e = buckets_of(t)[bucket].entry;
    if (e >= 0) return e == position;
    const NodeId chain = buffer::word_at(t->chains, -e);
    const std::int32_t n = buffer::length(chain);
    const auto* w = reinterpret_cast<const std::int32_t*>(buffer::head(chain));
    if (n == 0 || position > w[n - 1]) return false;
    const std::int32_t* at = std::lower_bound(w, w + n, position);
    return at != w + n && *at == position;
}

// Four bytes with the ASCII capitals lowered, all at once: a byte gets 0x20
// added when it lies in 'A'..'Z' (bytes of 0x80 and up are left alone).
inline std::uint32_t lower_ascii4(std::uint32_t k) {
    const std::uint32_t low = k & 0x7F7F7F7Fu;
    const std::uint32_t above_a = low + 0x3F3F3F3Fu;  // bit 7 set from 'A' (0x41) up
    const std::uint32_t above_z = low + 0x25252525u;  // bit 7 set from '[' (0x5B) up
    const std::uint32_t capital = above_a & ~above_z & ~k & 0x80808080u;
    return k | (capital >> 2);
}

// MurmurHash3 of the name's bytes, ASCII lowercased, read four at a time.
std::uint32_t hash_name(const char* name, std::int32_t length) {
    std::uint32_t h = 0;
    std::int32_t i = 0;
    for (; i + 4 <= length; i += 4) {
        std::uint32_t k;
        std::memcpy(&k, name + i, 4);  // little-endian blocks
        h = mix_block(h, lower_ascii4(k));
    }
    if (i < length) {
        std::uint32_t k = 0;
        for (int n = 0; i + n < length; ++n) k |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[i + n])) << (8 * n);
        k = lower_ascii4(k);
        k *= c1;
        k = rotl(k, 15);
        k *= c2;
        h ^= k;
    }
    return mix(h ^ static_cast<std::uint32_t>(length));
}

bool ascii_equal_folded(const std::uint8_t* a, const std::uint8_t* b, std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i) {
        std::uint8_t x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<std::uint8_t>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<std::uint8_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

const Cell& symbol_cell(std::uint32_t id) {
    return reinterpret_cast<const Cell*>(memory::buffer(symbol_block)->head)[id - 1];
}

}  // namespace

// --- Hashing -------------------------------------------------------------------

std::uint32_t murmur3_bytes(const void* bytes, std::size_t length, std::uint32_t seed) {
    const auto* data = static_cast<const std::uint8_t*>(bytes);
    const std::size_t blocks = length / 4;
    std::uint32_t h = seed;
    for (std::size_t i = 0; i < blocks; ++i) {
        std::uint32_t k;
        std::memcpy(&k, data + i * 4, 4);  // little-endian blocks
        h = mix_block(h, k);
    }
    const std::uint8_t* tail = data + blocks * 4;
    std::uint32_t k = 0;
    switch (length & 3) {
        case 3: k ^= static_cast<std::uint32_t>(tail[2]) << 16; [[fallthrough]];
        case 2: k ^= static_cast<std::uint32_t>(tail[1]) << 8; [[fallthrough]];
        case 1:
            k ^= tail[0];
            k *= c1;
            k = rotl(k, 15);
            k *= c2;
            h ^= k;
    }
    return mix(h ^ static_cast<std::uint32_t>(length));
}

std::uint32_t hash_string(const Cell& text, bool case_sensitive) {
    const SeriesBuffer* b = memory::buffer(text.series_node());
    const std::uint32_t unit = b->unit();
    const std::int32_t units = b->used_bytes() / static_cast<std::int32_t>(unit);
    const std::int32_t head = text.series_head() < 0 ? 0 : text.series_head();
    std::uint32_t h = 0;
    std::uint32_t n = 0;
    if (unit == 1) {  // most text: one loop without the unit tests
        if (head >= units) return mix(0);
        if (const ByteBlocks* blocks = byte_blocks())
            return hash_byte_text(b->head + head, units - head, case_sensitive ? blocks->exact : blocks->folded);
        for (const std::uint8_t* p = b->head + head, *e = b->head + units; p < e; ++p, ++n)
            h = mix_block(h, case_sensitive ? *p : case_folding::fold_char(*p, true));
        return mix(h ^ (n * 4));
    }
    for (std::int32_t i = head; i < units; ++i, ++n) {
        std::uint32_t cp;
        const std::uint8_t* p = b->head + static_cast<std::ptrdiff_t>(i) * unit;
        if (unit == 1) cp = *p;
        else if (unit == 2) { std::uint16_t u; std::memcpy(&u, p, 2); cp = u; }
        else std::memcpy(&cp, p, 4);
        if (!case_sensitive) cp = case_folding::fold_char(cp, true);  // as text compares: by upper case
        h = mix_block(h, cp);
    }
    return mix(h ^ (n * 4));
}

void set_symbol_block(NodeId symbols) { symbol_block = symbols; }

std::uint32_t canonical_id(std::uint32_t symbol) {
    if (symbol_block == 0 || symbol == 0) return symbol;
    const std::int32_t alias = symbol_cell(symbol).symbol_alias();
    return alias > 0 ? static_cast<std::uint32_t>(alias) : symbol;
}

std::uint32_t hash_key(const Cell& key, bool case_sensitive) {
    switch (key.type()) {
        case TypeId::unset: return static_cast<std::uint32_t>(-2);
        case TypeId::none: return static_cast<std::uint32_t>(-1);
        case TypeId::datatype: case TypeId::logic: case TypeId::object: case TypeId::error:
        case TypeId::port:
            return mix(key.payload_word(1));
        case TypeId::block: case TypeId::paren: case TypeId::path: case TypeId::lit_path:
        case TypeId::set_path: case TypeId::get_path: case TypeId::hash: case TypeId::point2d:
        case TypeId::image:
            return murmur3_bytes(key.payload_bytes(1), 8);
        case TypeId::string: case TypeId::file: case TypeId::url: case TypeId::tag:
        case TypeId::email: case TypeId::ref:
            return hash_string(key, case_sensitive);
        case TypeId::char_: case TypeId::integer: case TypeId::map: case TypeId::handle:
        case TypeId::event:
            return mix(key.payload_word(2));
        case TypeId::float_: case TypeId::pair: case TypeId::percent: case TypeId::time:
            return murmur3_bytes(key.payload_bytes(2), 8);
        case TypeId::symbol: {
            const SeriesBuffer* name = memory::buffer(key.symbol_utf8());
            return hash_name(reinterpret_cast<const char*>(name->head), name->used_bytes());
        }
        case TypeId::word: case TypeId::set_word: case TypeId::lit_word: case TypeId::get_word:
        case TypeId::refinement: case TypeId::issue:
            return mix(canonical_id(key.word_symbol()));
        case TypeId::native: case TypeId::action:
            return mix(key.payload_word(3));
        case TypeId::op: case TypeId::function: case TypeId::triple: case TypeId::typeset:
        case TypeId::date: case TypeId::point3d:
            return murmur3_bytes(key.payload_bytes(1), 12);
        case TypeId::tuple: {
            const std::uint32_t n = key.tuple_length();
            return murmur3_bytes(key.tuple_bytes(), n <= 12 ? n : 12);
        }
        case TypeId::binary: {
            const SeriesBuffer* b = memory::buffer(key.series_node());
            const std::int32_t head = key.series_head() < 0 ? 0 : key.series_head();
            const std::int32_t used = b->used_bytes();
            if (head >= used) return murmur3_bytes(b->head, 0);
            return murmur3_bytes(b->head + head, static_cast<std::size_t>(used - head));
        }
        case TypeId::money: {
            Cell copy = key;
            copy.keep_only_flags(Cell::money_sign_flag);  // type and sign flag only
            return murmur3_bytes(&copy, sizeof copy);
        }
        default:
            return 0;
    }
}

// --- Tables ----------------------------------------------------------------------

NodeId create(std::int32_t size, const Cell* values, Kind kind, std::int32_t extra_cells) {
    if (size < 1) size = 1;
    if (kind == Kind::words && size >= 4000) size *= 2;
    const NodeId table = memory::alloc_bytes(static_cast<std::int32_t>(sizeof(HashTable)));
    {
        SeriesBuffer* b = memory::buffer(table);
        b->tail = b->head + sizeof(HashTable);
        std::memset(b->head, 0, sizeof(HashTable));
    }
    HashTable* t = record(table);
    t->kind = kind;
    if (kind == Kind::hash) {
        t->buckets = next_power_of_two(static_cast<std::int64_t>(size) * 3 / 2);
        t->upper = static_cast<std::int32_t>(t->buckets * 0.77);
    } else {
        t->buckets = next_power_of_two(static_cast<std::int64_t>(size / 0.77) + 1);
        t->upper = static_cast<std::int32_t>(t->buckets * 0.77);
    }
    if (kind == Kind::reference || kind == Kind::owner) {
        t->entry_size = (extra_cells + 1) * 16;
    }
    make_index(table);
    NodeId block;
    if (values && (kind == Kind::hash || kind == Kind::map || kind == Kind::words)) {
        block = values->series_node();
    } else {
        const std::int32_t cells = kind == Kind::reference || kind == Kind::owner
                                       ? size * (extra_cells + 1)
                                       : size;
        block = memory::alloc_cells(cells);
    }
    record(table)->values = block;
    if (values && (kind == Kind::hash || kind == Kind::map || kind == Kind::words)) {
        put_all(table, 0, kind == Kind::map ? 2 : 1);
    }
    return table;
}

void rebuild(NodeId table, std::int32_t new_size) {
    HashTable* t = record(table);
    if (new_size < 1) new_size = 1;
    if (t->kind == Kind::hash) {
        t->buckets = next_power_of_two(static_cast<std::int64_t>(new_size) * 3 / 2);
        t->upper = static_cast<std::int32_t>(t->buckets * 0.77);
        make_index(table);
        const std::int32_t n = value_count(record(table));
        for (std::int32_t p = 0; p < n; ++p) {
            int status;
            put_key(table, p, status);
        }
        return;
    }
    std::int32_t buckets = next_power_of_two(new_size);
    if (t->kind == Kind::reference || t->kind == Kind::owner) {
        // Compact the entry block to the live entries, keeping their order.
        const std::int32_t per = cells_per_entry(t);
        const std::int32_t entries = value_count(t) / per;
        Cell* cells = value_cells(t);
        std::int32_t live = 0;
        for (std::int32_t e = 0; e < entries; ++e) {
            if (!cells[e * per].is(TypeId::unset)) continue;  // cleared entry
            if (live != e) std::memmove(&cells[live * per], &cells[e * per], sizeof(Cell) * static_cast<std::size_t>(per));
            ++live;
        }
        SeriesBuffer* vb = memory::buffer(t->values);
        vb->tail = vb->head + static_cast<std::ptrdiff_t>(live) * per * 16;
        while (buckets * 0.77 + 0.5 <= live) buckets *= 2;
        t->buckets = buckets;
        t->upper = static_cast<std::int32_t>(buckets * 0.77 + 0.5);
        make_index(table);
        for (std::int32_t e = 0; e < live; ++e) place(table, e);
        return;
    }
    const std::int32_t n = value_count(t);
    while (buckets * 0.77 + 0.5 <= n) buckets *= 2;
    t->buckets = buckets;
    t->upper = static_cast<std::int32_t>(buckets * 0.77 + 0.5);
    make_index(table);
    put_all(table, 0, t->kind == Kind::map ? 2 : 1);
}

void put_key(NodeId table, std::int32_t position, int& status) {
    status = 0;
    if (make_room(table)) {
        status = 2;  // the rebuild indexed every key of the block
        return;
    }
    HashTable* t = record(table);
    KIV_ASSERT(position >= 0 && position < value_count(t), "key position outside the block");
    const Cell key = value_cells(t)[position];
    const KeyInfo info = describe(key);
    std::int32_t free_bucket;

    if (t->kind == Kind::hash) {
        const std::int32_t found = probe(t, info.hash, [&](const Bucket& b) {
            const Verdict v = verdict(b, info, CompareOp::equal);
            if (v != Verdict::compare) return v == Verdict::equal;
            return keys_equal(value_cells(t)[first_position(t, b.entry)], key, CompareOp::equal);
        }, free_bucket);
        if (found >= 0) {
            if (hash_holds(t, found, position)) return;  // indexed already (a rebuild ran)
            std::int32_t e = buckets_of(t)[found].entry;
            if (e >= 0) {  // first duplicate: the bucket becomes a chain
                const NodeId chain = buffer::new_(4, 4);
                buffer::append_word(chain, static_cast<std::uint32_t>(e));
                buffer::append_word(record(table)->chains, chain);
                t = record(table);
                e = -buffer::length(t->chains);
                buckets_of(t)[found].entry = e;
            }
            const NodeId chain = buffer::word_at(t->chains, -e);
            buffer::append_word(chain, static_cast<std::uint32_t>(position));
            ++record(table)->count;
            return;
        }
    } else {
        const CompareOp op = t->kind == Kind::map ? CompareOp::strict_equal : CompareOp::same;
        const std::int32_t found = probe(t, info.hash, [&](const Bucket& b) {
            if (t->kind == Kind::words) return b.entry == position;  // spellings are unique: only a re-put matches
            const Verdict v = verdict(b, info, op);
            if (v != Verdict::compare) return v == Verdict::equal;
            return keys_equal(value_cells(t)[b.entry], key, op);
        }, free_bucket);
        if (found >= 0) return;  // present: the existing entry is kept
    }
    KIV_ASSERT(free_bucket >= 0, "hash table full");
    occupy(t, free_bucket, position, info);
}

void put(NodeId table, std::int32_t position) {
    int status;
    put_key(table, position, status);
}

void put_all(NodeId table, std::int32_t start, std::int32_t step) {
    for (std::int32_t p = start; p < value_count(record(table)); p += step) {
        HashTable* t = record(table);
        if (t->kind == Kind::map) {
            KeyPlace place;
            const std::int32_t found = find_placed(table, value_cells(t)[p], CompareOp::strict_equal, place);
            if (found < 0 && t->occupied < t->upper) {  // a new key goes where its probe ended: one probe, not two
                put_placed(table, p, place);
                continue;
            }
            if (found >= 0 && found != p) {
                // A later pair of a known key: its value wins, the pair goes.
                Cell* cells = value_cells(t);
                if (p + 1 < value_count(t)) cells[found + 1] = cells[p + 1];
                SeriesBuffer* vb = memory::buffer(t->values);
                const std::int32_t pair = p + 2 <= value_count(t) ? 2 : 1;
                std::memmove(&cells[p], &cells[p + pair],
                             sizeof(Cell) * static_cast<std::size_t>(value_count(t) - p - pair));
                vb->tail -= pair * static_cast<std::int32_t>(sizeof(Cell));
                p -= step;
                continue;
            }
        }
        int status;
        put_key(table, p, status);
        if (status == 2) return;  // the rebuild indexed the rest
    }
}

std::int32_t find(NodeId table, const Cell& key_in, std::int32_t first, std::int32_t last,
                  CompareOp op, int direction) {
    const HashTable* t = record(table);
    if (t->occupied == 0) return -1;  // a map!'s removed keys still count as found
    if (t->kind == Kind::words) return -1;  // word indexes answer context_word_index only
    Cell key = key_in;
    if (t->kind == Kind::map && is_word_kind(key.type())) key.set_type(TypeId::set_word);
    const KeyInfo info = describe(key);
    const std::int32_t count = value_count(t);
    const std::int32_t end = std::min(last, count);
    std::int32_t best = -1;
    std::int32_t free_bucket;
    probe(t, info.hash, [&](const Bucket& bk) {
        const Verdict v = verdict(bk, info, op);
        if (v == Verdict::differ) return false;
        if (bk.entry >= 0) {  // one position: a map! entry, a hash! key met once
            const std::int32_t p = bk.entry;
            if (p < first || p >= end) return false;
            if (v == Verdict::compare && !keys_equal(value_cells(t)[p], key, op)) return false;
            if (best < 0 || ((direction & find_reverse) ? p > best : p < best)) best = p;
            return t->kind != Kind::hash;  // hash!: equal keys may sit in other buckets under op
        }
        // A hash! chain, ascending: forwards the first matching position from
        // `first` wins, backwards the last one before the end, so a long chain
        // of equal keys is not walked whole.
        const NodeId chain = buffer::word_at(t->chains, -bk.entry);
        const std::int32_t n = buffer::length(chain);
        const auto* w = reinterpret_cast<const std::int32_t*>(buffer::head(chain));
        auto matches = [&](std::int32_t p) {
            return v == Verdict::equal || keys_equal(value_cells(t)[p], key, op);
        };
        if (direction & find_reverse) {
            for (const std::int32_t* at = std::lower_bound(w, w + n, end); at != w;) {
                const std::int32_t p = *--at;
                if (p < first || (best >= 0 && p <= best)) break;
                if (matches(p)) {
                    best = p;
                    break;
                }
            }
        } else {
            for (const std::int32_t* at = std::lower_bound(w, w + n, first); at != w + n; ++at) {
                const std::int32_t p = *at;
                if (p >= end || (best >= 0 && p >= best)) break;
                if (matches(p)) {
                    best = p;
                    break;
                }
            }
        }
        return false;
    }, free_bucket);
    return best;
}

// Equal byte runs, for the short keys of a map (no call for a few bytes).
inline bool same_bytes(const std::uint8_t* a, const std::uint8_t* b, std::int32_t n) {
    if (n > 16) return std::memcmp(a, b, static_cast<std::size_t>(n)) == 0;
    for (std::int32_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

namespace {

// find_in_map for any key, each bucket's verdict first.
__attribute__((noinline)) std::int32_t find_in_map_general(const HashTable* t, const Cell& key_in,
                                                           CompareOp op) {
    Cell key = key_in;
    if (is_word_kind(key.type())) key.set_type(TypeId::set_word);  // as the stored key
    const KeyInfo info = describe(key);
    const Cell* const cells = value_cells(t);
    return find_entry(t, info.hash, [&](const Bucket& bk) {
        const Verdict v = verdict(bk, info, op);
        return v == Verdict::equal || (v == Verdict::compare && keys_equal(cells[bk.entry], key, op));
    });
}

// find_in_map for a string! key of count bytes from bytes, hashed h: the
// stored key's bytes compared in place (the same bytes are equal under every
// equality but identity); any other stored key of hash h is compared fully.
__attribute__((noinline)) std::int32_t find_text_in_map(const HashTable* t, const Cell& key,
                                                        const std::uint8_t* bytes, std::int32_t length,
                                                        std::uint32_t h, CompareOp op) {
    const Cell* const cells = value_cells(t);
    return find_entry(t, h, [&](const Bucket& bk) {
        if (bk.type != 0) return false;
        const Cell& stored = cells[bk.entry];
        std::int32_t n = 0;
        const std::uint8_t* held = stored.is(TypeId::string) ? byte_text(stored, n) : nullptr;
        if (held != nullptr && n == length && same_bytes(held, bytes, n)) return true;
        return keys_equal(stored, key, op);  // "a" and "A", other kinds
    });
}

}  // namespace

std::int32_t find_in_map(NodeId table, const Cell& key, CompareOp op) {
    const HashTable* t = record(table);
    KIV_ASSERT(t->kind == Kind::map, "a map!'s index");
    const TypeId key_type = key.type();
    // The two commonest lookups are each hashed once and settled in place:
    // an integer key by its bucket alone, a string! of bytes by the bytes.
    if (key_type == TypeId::integer && is_key_equality(op)) {
        const std::uint32_t raw = static_cast<std::uint32_t>(key.int_value());
        return find_entry(t, mix(raw), [raw](const Bucket& bk) {
            return bk.raw == raw && bk.type == static_cast<std::uint16_t>(TypeId::integer);
        });
    }
    if (key_type == TypeId::string && op != CompareOp::same) {
        std::int32_t length = 0;
        const std::uint8_t* bytes = byte_text(key, length);
        const ByteBlocks* blocks = bytes != nullptr && length > 0 ? byte_blocks() : nullptr;
        if (blocks != nullptr)
            return find_text_in_map(t, key, bytes, length, hash_byte_text(bytes, length, blocks->folded), op);
    }
    return find_in_map_general(t, key, op);
}

std::int32_t find_placed(NodeId table, const Cell& key_in, CompareOp op, KeyPlace& place) {
    const HashTable* t = record(table);
    place.bucket = -1;
    if (t->kind != Kind::map) return find(table, key_in, 0, value_count(t), op, 0);
    if (key_in.is(TypeId::integer) && is_key_equality(op)) {  // settled by the bucket, as find_in_map
        const std::uint32_t raw = static_cast<std::uint32_t>(key_in.int_value());
        const std::uint32_t h = mix(raw);
        const Bucket* const buckets = buckets_of(t);
        const std::int32_t count = value_count(t);
        const std::uint32_t mask = static_cast<std::uint32_t>(t->buckets - 1);
        std::uint32_t b = h & mask;
        std::int32_t free_bucket = -1;
        for (std::int32_t step = 1; step <= t->buckets; ++step) {
            const Bucket& bk = buckets[b];
            if (bk.state == state_empty) {
                if (free_bucket < 0) free_bucket = static_cast<std::int32_t>(b);
                break;
            }
            if (bk.state == state_deleted) {
                if (free_bucket < 0) free_bucket = static_cast<std::int32_t>(b);
            } else if (bk.hash == h && bk.raw == raw && bk.type == static_cast<std::uint16_t>(TypeId::integer) &&
                       bk.entry < count) {
                return bk.entry;
            }
            b = (b + static_cast<std::uint32_t>(step)) & mask;
        }
        place = KeyPlace{h, raw, static_cast<std::uint16_t>(TypeId::integer), free_bucket, t->buckets};
        return -1;
    }
    Cell key = key_in;
    if (is_word_kind(key.type())) key.set_type(TypeId::set_word);  // as find and the stored key
    KeyInfo info;
    std::int32_t length = 0;
    const std::uint8_t* bytes = key.is(TypeId::string) ? byte_text(key, length) : nullptr;
    const ByteBlocks* blocks = bytes != nullptr && length > 0 ? byte_blocks() : nullptr;
    if (blocks != nullptr) info.hash = hash_byte_text(bytes, length, blocks->folded);  // as describe
    else info = describe(key);
    const std::int32_t count = value_count(t);
    std::int32_t free_bucket;
    const std::int32_t found = probe(t, info.hash, [&](const Bucket& bk) {
        const Verdict v = verdict(bk, info, op);
        if (v == Verdict::differ || bk.entry >= count) return false;
        return v == Verdict::equal || keys_equal(value_cells(t)[bk.entry], key, op);
    }, free_bucket);
    if (found >= 0) return buckets_of(t)[found].entry;
    place = KeyPlace{info.hash, info.raw, info.type, free_bucket, t->buckets};
    return -1;
}

void put_placed(NodeId table, std::int32_t position, const KeyPlace& place) {
    HashTable* t = record(table);
    if (place.bucket < 0 || t->kind != Kind::map || t->buckets != place.buckets ||
        t->occupied >= t->upper || buckets_of(t)[place.bucket].state == state_used) {
        put(table, position);
        return;
    }
    KeyInfo info;
    info.hash = place.hash;
    info.raw = place.raw;
    info.type = place.type;
    occupy(t, place.bucket, position, info);
}

std::int32_t find_next(NodeId table, const Cell& key, std::int32_t after, CompareOp op) {
    return find(table, key, after + 1, value_count(record(table)), op, 0);
}

void remove_entry(NodeId table, std::int32_t position) {
    HashTable* t = record(table);
    if (position < 0 || position >= value_count(t)) return;
    const std::uint32_t h = describe(value_cells(t)[position]).hash;
    std::int32_t free_bucket;
    const std::int32_t bucket = probe(t, h, [&](const Bucket& b) {
        if (t->kind != Kind::hash) return b.entry == position;
        return hash_holds(t, static_cast<std::int32_t>(&b - buckets_of(t)), position);
    }, free_bucket);
    if (bucket < 0) return;
    const std::int32_t e = buckets_of(t)[bucket].entry;
    if (t->kind == Kind::map) {
        if (position + 1 < value_count(t)) value_cells(t)[position + 1].set_type(TypeId::no_type);
        --t->count;
        return;
    }
    if (t->kind == Kind::hash && e < 0) {
        const NodeId chain = buffer::word_at(t->chains, -e);
        const std::int32_t n = buffer::length(chain);
        const auto* w = reinterpret_cast<const std::int32_t*>(buffer::head(chain));
        const auto at = static_cast<std::int32_t>(std::lower_bound(w, w + n, position) - w);
        buffer::remove_bytes(chain, at * 4, 4);  // found by bisection, not by a walk
        --t->count;
        if (buffer::length(chain) > 0) return;
    } else {
        --t->count;
    }
    buckets_of(t)[bucket].state = state_deleted;
}

void remove_range(NodeId table, std::int32_t index, std::int32_t count) {
    HashTable* t = record(table);
    if (count >= t->count && index == 0) {
        const SeriesBuffer* kb = memory::buffer(t->keys);
        std::memset(kb->head, 0, static_cast<std::size_t>(kb->used_bytes()));  // every bucket empty
        t->count = 0;
        t->occupied = 0;
        if (t->kind == Kind::hash) buffer::clear(t->chains);
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) remove_entry(table, index + i);
}

int shift_positions(NodeId table, std::int32_t, std::int32_t, std::int32_t, bool) {
    rebuild(table, value_count(record(table)));  // the block has changed already
    return 0;
}

void move_range(NodeId table, std::int32_t, std::int32_t, std::int32_t) {
    rebuild(table, value_count(record(table)));
}

void clear(NodeId table) {
    HashTable* t = record(table);
    remove_range(table, 0, t->count);
    t = record(table);
    memory::buffer(t->values)->tail = memory::buffer(t->values)->head;
}

NodeId copy(NodeId table, NodeId values_node) {
    const NodeId dup = memory::clone_series(memory::buffer(table));
    const NodeId old_keys = record(table)->keys;  // a word list may have no buckets yet
    const NodeId keys = old_keys != 0 ? memory::clone_series(memory::buffer(old_keys)) : 0;
    NodeId chains = 0;
    if (record(table)->kind == Kind::hash) {
        chains = buffer::clone(record(table)->chains);
        const std::int32_t n = buffer::length(chains);
        for (std::int32_t i = 1; i <= n; ++i) {
            buffer::set_word_at(chains, i, buffer::clone(buffer::word_at(chains, i)));
        }
    }
    HashTable* t = record(dup);
    t->keys = keys;
    t->chains = chains;
    t->values = values_node;
    return dup;
}

// --- Keyed tables ------------------------------------------------------------

namespace {

// The bucket of pointer key key, or -1.
std::int32_t find_pointer_bucket(const HashTable* t, std::uint32_t key) {
    const std::int32_t per = cells_per_entry(t);
    std::int32_t free_bucket;
    return probe(t, mix(key), [&](const Bucket& bk) {
        return value_cells(t)[bk.entry * per].pointer_key() == key;
    }, free_bucket);
}

}  // namespace

Cell* get_pointer_key(NodeId table, std::uint32_t key) {
    const HashTable* t = record(table);
    const std::int32_t per = cells_per_entry(t);
    const std::int32_t b = find_pointer_bucket(t, key);
    if (b < 0) return nullptr;
    return value_cells(t) + buckets_of(t)[b].entry * per + 1;
}

Cell* put_pointer_key(NodeId table, std::uint32_t key) {
    if (Cell* found = get_pointer_key(table, key)) return found;
    if (record(table)->occupied >= record(table)->upper) {
        // Full of deleted buckets: compact; else grow.
        const HashTable* t = record(table);
        rebuild(table, 2 * t->count < t->buckets ? t->buckets : 2 * t->buckets);
    }
    const std::int32_t per = cells_per_entry(record(table));
    const std::int32_t entry = value_count(record(table)) / per;
    auto* cells = reinterpret_cast<Cell*>(buffer::grow_tail(record(table)->values, per * 16));
    for (std::int32_t i = 0; i < per; ++i) cells[i].reset(TypeId::unset);
    cells[0].set_pointer_key(key);
    place(table, entry);
    return cells + 1;
}

bool remove_pointer_key(NodeId table, std::uint32_t key) {
    HashTable* t = record(table);
    const std::int32_t per = cells_per_entry(t);
    const std::int32_t b = find_pointer_bucket(t, key);
    if (b < 0) return false;
    Cell* entry = value_cells(t) + buckets_of(t)[b].entry * per;
    for (std::int32_t i = 0; i < per; ++i) entry[i].reset(TypeId::no_type);  // cleared key cell
    buckets_of(t)[b].state = state_deleted;
    --t->count;
    return true;
}

void for_each_pointer_key(NodeId table, void (*fn)(std::uint32_t, Cell*, void*), void* data) {
    const HashTable* t = record(table);
    const std::int32_t per = cells_per_entry(t);
    const std::int32_t entries = value_count(t) / per;
    for (std::int32_t e = 0; e < entries; ++e) {
        Cell* entry = value_cells(t) + e * per;
        if (entry->is(TypeId::unset)) fn(entry->pointer_key(), entry + 1, data);
    }
}

// --- Word indexes ----------------------------------------------------------------

std::uint32_t find_or_add_symbol(NodeId table, const char* name, std::int32_t length,
                                 bool folded) {
    HashTable* t = record(table);
    if (t->occupied >= t->upper) {
        make_room(table);
        t = record(table);
    }
    const std::uint32_t h = hash_name(name, length);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(name);
    auto same_name = [&](std::int32_t e, bool exact) {
        const SeriesBuffer* nb = memory::buffer(value_cells(t)[e].symbol_utf8());
        if (nb->used_bytes() != length) return false;
        return exact ? std::memcmp(nb->head, bytes, static_cast<std::size_t>(length)) == 0
                     : ascii_equal_folded(nb->head, bytes, length);
    };
    std::int32_t free_bucket = -1;
    std::int32_t alias = -1;
    if (folded) {
        const std::int32_t b = probe(t, h, [&](const Bucket& bk) { return same_name(bk.entry, false); }, free_bucket);
        if (b >= 0) return static_cast<std::uint32_t>(buckets_of(t)[b].entry + 1);
    } else {
        // One walk along the probe finds the exact spelling, else notes the
        // first case variant met (the alias of a new spelling) and where a
        // new one goes.
        const Bucket* buckets = buckets_of(t);
        const Cell* symbols = value_cells(t);
        const std::int32_t mask = t->buckets - 1;
        std::int32_t b = static_cast<std::int32_t>(h & static_cast<std::uint32_t>(mask));
        for (std::int32_t step = 1; step <= t->buckets; ++step) {
            const Bucket& bk = buckets[b];
            if (bk.state == state_empty) {
                if (free_bucket < 0) free_bucket = b;
                break;
            }
            if (bk.state == state_deleted) {
                if (free_bucket < 0) free_bucket = b;
            } else if (bk.hash == h) {
                const SeriesBuffer* nb = memory::buffer(symbols[bk.entry].symbol_utf8());
                if (nb->used_bytes() == length) {
                    if (std::memcmp(nb->head, bytes, static_cast<std::size_t>(length)) == 0)
                        return static_cast<std::uint32_t>(bk.entry + 1);
                    if (alias < 0 && ascii_equal_folded(nb->head, bytes, length)) alias = bk.entry + 1;
                }
            }
            b = (b + step) & mask;
        }
    }

    // The spelling's bytes, with a NUL after the tail.
    const NodeId utf8 = memory::alloc_bytes(length + 1);
    SeriesBuffer* ub = memory::buffer(utf8);
    if (length > 0) std::memcpy(ub->head, name, static_cast<std::size_t>(length));
    ub->head[length] = 0;
    ub->tail = ub->head + length;

    Cell* cell = buffer::append_cell(record(table)->values);
    cell->reset(TypeId::symbol);
    cell->set_symbol(alias, 0, utf8);
    t = record(table);
    const std::int32_t position = value_count(t) - 1;
    KIV_ASSERT(free_bucket >= 0, "hash table full");
    occupy(t, free_bucket, position, KeyInfo{h});
    return static_cast<std::uint32_t>(position + 1);
}

namespace {

// Gives a word list without buckets its buckets: room for its words at the
// size it was made for (or more), each word placed in order, so that a
// symbol's first word comes first along its probe.
void index_words(NodeId table) {
    HashTable* t = record(table);
    const std::int32_t n = t->count;
    std::int32_t buckets = t->buckets < 4 ? 4 : t->buckets;
    while (static_cast<std::int32_t>(buckets * 0.77) <= n) buckets *= 2;
    t->buckets = buckets;
    t->upper = static_cast<std::int32_t>(buckets * 0.77);
    make_index(table);
    t = record(table);
    const Cell* words = value_cells(t);
    for (std::int32_t i = 0; i < n; ++i)
        place(t, Bucket{i, mix(canonical_id(words[i].word_symbol())), state_used, 0, 0});
}

// The first word of a list without buckets that names symbol, or -1.
std::int32_t word_in_order(const HashTable* t, std::uint32_t symbol, std::uint32_t canonical, bool alias) {
    const Cell* words = value_cells(t);
    for (std::int32_t i = 0; i < t->count; ++i) {
        const std::uint32_t s = words[i].word_symbol();
        if (alias ? canonical_id(s) == canonical : s == symbol) return i;
    }
    return -1;
}

// Appends the word! to a list without buckets.
std::int32_t append_unindexed(NodeId table, std::uint32_t symbol, NodeId context) {
    Cell* word = buffer::append_cell(record(table)->values);
    HashTable* t = record(table);
    const std::int32_t index = t->count++;
    word->reset(TypeId::word);
    word->set_word(context, symbol, index);
    return index;
}

}  // namespace

NodeId create_word_list(std::int32_t size) {
    if (size < 1) size = 1;
    const NodeId table = memory::alloc_bytes(static_cast<std::int32_t>(sizeof(HashTable)));
    SeriesBuffer* b = memory::buffer(table);
    b->tail = b->head + sizeof(HashTable);
    std::memset(b->head, 0, sizeof(HashTable));
    HashTable* t = record(table);
    t->kind = Kind::words;
    t->buckets = next_power_of_two(static_cast<std::int64_t>(size / 0.77) + 1);
    t->upper = static_cast<std::int32_t>(t->buckets * 0.77);
    const NodeId values = memory::alloc_cells(size);
    record(table)->values = values;
    return table;
}

std::int32_t append_new_word(NodeId table, std::uint32_t symbol, NodeId context) {
    if (!indexed(table)) return append_unindexed(table, symbol, context);
    if (record(table)->occupied >= record(table)->upper) make_room(table);
    Cell* word = buffer::append_cell(record(table)->values);
    HashTable* t = record(table);
    const std::int32_t index = value_count(t) - 1;
    word->reset(TypeId::word);
    word->set_word(context, symbol, index);
    place(t, Bucket{index, mix(canonical_id(symbol)), state_used, 0, 0});
    return index;
}

std::int32_t context_word_index(NodeId table, std::uint32_t symbol, bool alias, NodeId context,
                                std::int32_t& position) {
    HashTable* t = record(table);
    const std::uint32_t canonical = canonical_id(symbol);
    if (t->keys == 0) {
        if (t->count <= linear_words) {
            const std::int32_t found = word_in_order(t, symbol, canonical, alias);
            if (found >= 0 || context == 0) return found;
            if (t->count < linear_words) {
                position = append_unindexed(table, symbol, context);
                return -1;
            }
        }
        index_words(table);
        t = record(table);
    }
    std::int32_t free_bucket;
    const std::int32_t b = probe(t, mix(canonical), [&](const Bucket& bk) {
        const std::uint32_t s = value_cells(t)[bk.entry].word_symbol();
        return alias ? canonical_id(s) == canonical : s == symbol;
    }, free_bucket);
    if (b >= 0) return buckets_of(t)[b].entry;
    if (context == 0) return -1;
    if (t->occupied >= t->upper) make_room(table);

    Cell* word = buffer::append_cell(record(table)->values);
    t = record(table);
    const std::int32_t index = value_count(t) - 1;
    word->reset(TypeId::word);
    word->set_word(context, symbol, index);
    probe(t, mix(canonical), [](const Bucket&) { return false; }, free_bucket);
    occupy(t, free_bucket, index, KeyInfo{mix(canonical)});
    position = index;
    return -1;
}

WordFinder::WordFinder(NodeId table) {
    if (!indexed(table) && record(table)->count > linear_words) index_words(table);
    const HashTable* t = record(table);
    buckets_ = t->keys != 0 ? buckets_of(t) : nullptr;
    words_ = value_cells(t);
    symbols_ = symbol_block != 0 ? reinterpret_cast<const Cell*>(memory::buffer(symbol_block)->head) : nullptr;
    buckets_count_ = t->buckets;
    words_count_ = t->count;
}

std::int32_t WordFinder::find_in_order(std::uint32_t canonical) const {
    for (std::int32_t i = 0; i < words_count_; ++i)
        if (canonical_of(words_[i].word_symbol()) == canonical) return i;
    return -1;
}

// --- Collector steps -----------------------------------------------------------

void mark(NodeId table) {
    if (!collector::mark_node(table)) return;
    const HashTable* t = record(table);
    if (t->keys != 0) collector::mark_node(t->keys);
    if (t->kind == Kind::hash && t->chains != 0 && collector::mark_node(t->chains)) {
        const std::int32_t n = buffer::length(t->chains);
        for (std::int32_t i = 1; i <= n; ++i) collector::mark_node(buffer::word_at(t->chains, i));
    }
    if (t->kind == Kind::owner) {
        collector::mark_node(t->values);  // weak: sweep_keyed drops dead entries, marks the rest
        return;
    }
    if (t->kind == Kind::reference) {
        const std::int32_t per = cells_per_entry(t);
        const std::int32_t entries = value_count(t) / per;
        for (std::int32_t e = 0; e < entries; ++e) {
            const Cell& k = value_cells(t)[e * per];
            if (k.is(TypeId::unset) && k.pointer_key() != 0 && memory::node_in_use(k.pointer_key())) {
                collector::mark_node(k.pointer_key());
            }
        }
    }
    collector::mark_series_cells(t->values);
}

void sweep_keyed(NodeId table) {
    HashTable* t = record(table);
    const std::int32_t per = cells_per_entry(t);
    const std::int32_t entries = value_count(t) / per;
    auto marked = [](NodeId n) {
        return n != 0 && (memory::buffer(n)->flags & memory::flag_marked) != 0;
    };
    for (std::int32_t e = 0; e < entries; ++e) {
        Cell* entry = value_cells(t) + e * per;
        if (!entry->is(TypeId::unset)) continue;
        bool dead = !marked(entry->pointer_key());
        for (std::int32_t i = 1; i < per && !dead && t->kind == Kind::owner; ++i) {
            if (entry[i].is(TypeId::object) && !marked(entry[i].object_context())) dead = true;
        }
        if (dead) {
            remove_pointer_key(table, entry->pointer_key());
            t = record(table);
        } else {
            collector::mark_cells(entry + 1, entry + per);
        }
    }
}

void dump(NodeId table) {
    const HashTable* t = record(table);
    if (t->keys == 0) {
        std::printf("== No buckets: %d words ==\n", t->count);
        return;
    }
    std::printf("== Alive keys ==\n");
    for (std::int32_t b = 0; b < t->buckets; ++b) {
        if (buckets_of(t)[b].state == state_used) std::printf("%d: %d\n", b, buckets_of(t)[b].entry);
    }
    std::printf("\n== Deleted keys ==\n");
    for (std::int32_t b = 0; b < t->buckets; ++b) {
        if (buckets_of(t)[b].state == state_deleted) std::printf("%d: %d\n", b, buckets_of(t)[b].entry);
    }
}

void init() { collector::mark_hashtable_hook = mark; }

}  // namespace kiv::hashtable
