// The external handle table. Records live in one growable array, so an index
// stays valid for the life of its handle; live records form a doubly linked
// chain (unlinking is O(1)), free records a singly linked free list.
#include "runtime/core/externals.h"

#include "runtime/core/assert.h"

#include <string>
#include <vector>

namespace kiv::externals {
namespace {

struct Class {
    std::string name;
    Finaliser finaliser;
};
struct Record {
    std::uint32_t class_word;
    void* pointer;
    std::int32_t next;  // live chain or free list; -1 ends both
    std::int32_t prev;  // live chain only
};

constexpr std::size_t initial_records = 1000;
constexpr std::size_t max_classes = 255;  // a class id is 8 bits

std::vector<Class> classes;
std::vector<Record> records;
std::int32_t live_head = -1;
std::int32_t free_head = -1;
std::size_t live = 0;

// Links records [from, to) into the free list in index order, ending with -1.
void link_free(std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        records[i] = {handle_free, nullptr, i + 1 < to ? static_cast<std::int32_t>(i + 1) : -1, -1};
}

Record* live_record(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= records.size()) return nullptr;
    Record& r = records[static_cast<std::size_t>(index)];
    return r.class_word == handle_free ? nullptr : &r;
}

void unlink_live(std::int32_t index) {
    Record& r = records[static_cast<std::size_t>(index)];
    if (r.prev >= 0) records[static_cast<std::size_t>(r.prev)].next = r.next;
    else live_head = r.next;
    if (r.next >= 0) records[static_cast<std::size_t>(r.next)].prev = r.prev;
    r = {handle_free, nullptr, free_head, -1};
    free_head = index;
    --live;
}

}  // namespace

void init() {
    classes.clear();
    classes.reserve(20);
    records.assign(initial_records, {});
    link_free(0, initial_records);
    free_head = 0;
    live_head = -1;
    live = 0;
}

void free_all() {
    classes.clear();
    records.clear();
    records.shrink_to_fit();
    free_head = live_head = -1;
    live = 0;
}

int register_class(const char* name, Finaliser finaliser) {
    KIV_ASSERT(classes.size() < max_classes, "at most 255 handle classes");
    classes.push_back({name, finaliser});
    return static_cast<int>(classes.size());
}

const char* class_name(int class_id) {
    if (class_id < 1 || static_cast<std::size_t>(class_id) > classes.size()) return "";
    return classes[static_cast<std::size_t>(class_id) - 1].name.c_str();
}

std::int32_t alloc_handle(void* pointer, std::uint32_t class_word) {
    KIV_ASSERT(!records.empty(), "externals::init ran");
    KIV_ASSERT(class_word != handle_free && (class_word & handle_marked) == 0, "a class word is not a marker");
    if (records[static_cast<std::size_t>(free_head)].next == -1) {  // taking the last free record: double first
        std::size_t old = records.size();
        records.resize(old * 2);
        link_free(old, old * 2);
        records[static_cast<std::size_t>(free_head)].next = static_cast<std::int32_t>(old);
    }
    std::int32_t index = free_head;
    Record& r = records[static_cast<std::size_t>(index)];
    free_head = r.next;
    r = {class_word, pointer, live_head, -1};
    if (live_head >= 0) records[static_cast<std::size_t>(live_head)].prev = index;
    live_head = index;
    ++live;
    return index;
}

void set_handle_pointer(std::int32_t index, void* pointer) {
    Record* r = live_record(index);
    if (r == nullptr || r->pointer == pointer) return;
    void* old = r->pointer;
    std::uint32_t class_word = r->class_word;
    r->pointer = pointer;
    finalise(class_word, old);
}

std::int32_t free_handle(std::int32_t index, bool finalise_it) {
    Record* r = live_record(index);
    if (r == nullptr) return -1;
    std::uint32_t class_word = r->class_word;
    void* pointer = r->pointer;
    unlink_live(index);  // unlinked first: a finaliser that frees handles sees a sound table
    if (finalise_it) finalise(class_word, pointer);
    return -1;
}

void* handle_pointer(std::int32_t index) {
    Record* r = live_record(index);
    return r ? r->pointer : nullptr;
}

std::uint32_t handle_class_word(std::int32_t index) {
    Record* r = live_record(index);
    return r ? r->class_word & ~handle_marked : 0;
}

bool mark_handle(std::int32_t index, void* pointer) {
    Record* r = live_record(index);
    if (r == nullptr) return false;
    if (pointer != nullptr) r->pointer = pointer;
    if ((r->class_word & handle_marked) != 0) return false;
    r->class_word |= handle_marked;
    return true;
}

void for_each_handle(int class_id, void (*callback)(void* pointer)) {
    for (std::int32_t i = live_head; i >= 0;) {
        const Record& r = records[static_cast<std::size_t>(i)];
        std::int32_t next = r.next;  // the callback may free this handle
        if (static_cast<int>(r.class_word & class_mask) == class_id) callback(r.pointer);
        i = next;
    }
}

void finalise(std::uint32_t class_word, void* pointer) {
    auto id = class_word & class_mask;
    if (id == 0 || id > classes.size()) return;
    Finaliser f = classes[id - 1].finaliser;
    if (f != nullptr) f(pointer);
}

void sweep() {
    std::vector<std::int32_t> dead;  // finalisers run after the walk: one may free other handles
    for (std::int32_t i = live_head; i >= 0; i = records[static_cast<std::size_t>(i)].next) {
        Record& r = records[static_cast<std::size_t>(i)];
        if ((r.class_word & handle_marked) != 0) r.class_word &= ~handle_marked;
        else dead.push_back(i);
    }
    for (std::int32_t i : dead) {
        Record* r = live_record(i);
        if (r == nullptr || (r->class_word & handle_marked) != 0) continue;
        std::uint32_t class_word = r->class_word;
        void* pointer = r->pointer;
        unlink_live(i);
        finalise(class_word, pointer);
    }
}

std::size_t capacity() { return records.size(); }
std::size_t live_count() { return live; }

}  // namespace kiv::externals
