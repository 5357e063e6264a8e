// The runtime's well-known words, made in the fixed start-up order. The cells
// live here rather than at addresses in the root block, because buffers move
// when the collector compacts; they refer only to the global context (a root).
#include "runtime/words.h"

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/word.h"

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

symbol::SymbolId id(Sym s) { return symbol_ids[static_cast<std::size_t>(s)]; }
Cell& global(Global g) { return global_cells[static_cast<std::size_t>(g)]; }
Cell& word(Word w) { return word_cells[static_cast<std::size_t>(w)]; }
Cell& refinement(Ref r) { return refinement_cells[static_cast<std::size_t>(r)]; }
Cell& issue_ooo() { return ooo; }

}  // namespace kiv::words
