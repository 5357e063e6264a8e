// The runtime's well-known words, made in the fixed start-up order. The cells
// live here rather than at addresses in the root block, because buffers move
// when the collector compacts; they refer only to the global context (a root).
#include "runtime/datatypes/words.h"

#include "runtime/core/assert.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/services.h"

#include <array>

namespace kiv::words {

namespace {

#define KIV_NAME(id, name) name,
#define KIV_COUNT(...) +1
constexpr const char* symbol_names[] = {KIV_SYMBOLS(KIV_NAME)};
constexpr const char* word_names[] = {KIV_WORDS(KIV_NAME)};
constexpr const char* refinement_names[] = {KIV_REFINEMENTS(KIV_NAME)};
constexpr std::size_t symbol_count = 0 KIV_SYMBOLS(KIV_COUNT);
constexpr std::size_t word_count = 0 KIV_WORDS(KIV_COUNT);
constexpr std::size_t global_count = 0 KIV_GLOBALS(KIV_COUNT);
constexpr std::size_t refinement_count = 0 KIV_REFINEMENTS(KIV_COUNT);
#undef KIV_NAME
#undef KIV_COUNT
static_assert(symbol_count == 112 && global_count == 24 && refinement_count == 6);
static_assert(word_count == 106, "105 word cells and the global word end");

#define KIV_SYM_OF(id) Sym::id,
constexpr Sym global_symbols[] = {KIV_GLOBALS(KIV_SYM_OF)};
#undef KIV_SYM_OF

std::array<symbol::SymbolId, symbol_count> symbol_ids{};
std::array<Cell, global_count> global_cells{};
std::array<Cell, word_count> word_cells{};
std::array<Cell, refinement_count> refinement_cells{};
Cell ooo{};

// The runtime words of the library, and where each group starts.
std::array<Cell, runtime_word_count> runtime_cells{};
std::array<std::int16_t, type_count> type_slot{};        // -1: no word
std::array<std::int16_t, action_count + 1> action_slot{}; // -1: no word
constexpr std::int32_t constants_at = types::word_count + 1;  // after the type names and make
constexpr std::int32_t natives_at = runtime_word_count - natives::native_count;

}  // namespace

void init() {
    init_words();
    init_refinements();
    init_issue();
}

void init_words() {
    for (std::size_t i = 0; i < symbol_count; ++i) symbol_ids[i] = symbol::make(symbol_names[i]);
    collector::self_symbol = id(Sym::self);
    for (std::size_t i = 0; i < global_count; ++i) {
        global_cells[i] = *context::add_global_symbol(id(global_symbols[i]));
        if (global_symbols[i] == Sym::collect)   // collect is asked twice; the first cell stays
            context::add_global_symbol(id(Sym::collect));
    }
    for (std::size_t i = 0; i < word_count; ++i) {
        if (static_cast<Word>(i) == Word::end)
            word_cells[i] = *context::add_global_symbol(symbol::make(word_names[i]));
        else
            word_cells[i] = *word::make_from_name(word_names[i]);
    }
}

void init_refinements() {
    for (std::size_t i = 0; i < refinement_count; ++i) {
        Cell r{};
        r.reset(TypeId::refinement);
        r.set_word(0, symbol::make(refinement_names[i]), -1);   // no context
        if (recording) block::append_copy(block::root(), r);
        refinement_cells[i] = r;
    }
}

void init_issue() { ooo = *issue::make_from_name("ooo"); }

void make_runtime_words() {
    std::int32_t n = 0;
    const auto make = [&n](const char* name) {
        runtime_cells[static_cast<std::size_t>(n)] = *word::make_from_name(name);
        return static_cast<std::int16_t>(n++);
    };
    type_slot.fill(-1);
    action_slot.fill(-1);
    for (int t = 1; t < type_count; ++t) {
        const types::Row& row = types::rows[static_cast<std::size_t>(t)];
        if (row.word) type_slot[static_cast<std::size_t>(t)] = make(row.name);
        if (t == 1) action_slot[static_cast<std::size_t>(Action::make)] = make("make");
    }
    KIV_ASSERT(n == constants_at, "the type names and make come first");
    for (const char* name : {"none", "true", "false"}) make(name);
    for (int a = static_cast<int>(Action::make) + 1; a <= action_count; ++a) {
        const char* name = actions::spec(static_cast<Action>(a)).name;
        if (name != nullptr && *name != '\0') action_slot[static_cast<std::size_t>(a)] = make(name);
    }
    KIV_ASSERT(n == natives_at, "58 action names follow the constants");
    for (const char* name : natives::native_names) make(name);
    KIV_ASSERT(n == runtime_word_count, "every runtime word made");
}

Cell& type_word(TypeId t) {
    const std::int16_t slot = type_slot[static_cast<std::size_t>(t)];
    KIV_ASSERT(slot >= 0, "an exposed datatype");
    return runtime_cells[static_cast<std::size_t>(slot)];
}

Cell& action_word(Action a) {
    const std::int16_t slot = action_slot[static_cast<std::size_t>(a)];
    KIV_ASSERT(slot >= 0, "an action with a word");
    return runtime_cells[static_cast<std::size_t>(slot)];
}

Cell& native_word(natives::Native n) {
    return runtime_cells[static_cast<std::size_t>(natives_at + static_cast<std::int32_t>(n) - 1)];
}

Cell& constant_word(Constant c) {
    return runtime_cells[static_cast<std::size_t>(constants_at + static_cast<std::int32_t>(c))];
}

Cell& runtime_word(std::int32_t i) {
    KIV_ASSERT(i >= 0 && i < runtime_word_count, "a runtime word index");
    return runtime_cells[static_cast<std::size_t>(i)];
}

const char* native_name(natives::Native n) {
    return natives::native_names[static_cast<std::size_t>(n) - 1];
}

symbol::SymbolId id(Sym s) { return symbol_ids[static_cast<std::size_t>(s)]; }
Cell& global(Global g) { return global_cells[static_cast<std::size_t>(g)]; }
Cell& word(Word w) { return word_cells[static_cast<std::size_t>(w)]; }
Cell& refinement(Ref r) { return refinement_cells[static_cast<std::size_t>(r)]; }
Cell& issue_ooo() { return ooo; }

}  // namespace kiv::words
