// issue!: the word payload under type 20, made from text in the global
// context with index -1; form comes from word!.
#include "runtime/datatypes/issue.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/text/unicode.h"

namespace kiv::issue {

namespace {

void make_symbol_at(symbol::SymbolId sym, Cell& cell) {
    cell.reset(TypeId::issue);
    cell.set_word(context::global(), sym, -1);
}

}  // namespace

void make_at(const char* name, Cell& cell) { make_symbol_at(symbol::make(name), cell); }

Cell* make_in(const char* name, const Cell& blk) {
    Cell c{};
    make_at(name, c);
    return block::append_copy(blk, c);
}

Cell* make_from_name(const char* name) { return make_in(name, block::root()); }

Cell* to(Cell* proto, Cell* spec, TypeId type) {
    switch (spec->type()) {
    case TypeId::string: {
        make_symbol_at(symbol::make_from_string(*spec), *proto);
        return proto;
    }
    case TypeId::char_: {
        std::uint8_t buf[4];
        const int len = unicode::encode_utf8_char(spec->char_value(), buf);
        make_symbol_at(symbol::make_from_utf8(reinterpret_cast<const char*>(buf), len), *proto);
        return proto;
    }
    case TypeId::word: case TypeId::set_word: case TypeId::lit_word: case TypeId::get_word:
    case TypeId::refinement: case TypeId::issue:
        *proto = *spec;
        proto->set_type(TypeId::issue);
        return proto;
    default:
        return word::to(proto, spec, type);
    }
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part,
                  std::int32_t) {
    string::append_char(out, '#');
    return word::form(value, out, arg, part - 1);
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::issue)) return not_comparable;
    return word::compare(value1, value2, op);
}

void init() {
    static constexpr registry::Registration r{TypeId::issue, registry::table({
                                                  {Action::make, to},
                                                  {Action::to, to},
                                                  {Action::mold, mold},
                                                  {Action::compare, compare},
                                                  {Action::index_q, registry::refuse},
                                              })};
    registry::register_type(r);
}

}  // namespace kiv::issue
