#include "runtime/datatypes/port.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/services.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace kiv::port {

namespace {

// The port's fields, in the prototype's order.
enum Field : std::int32_t { spec_field = 0, scheme_field, actor_field };

Cell word_cell(const char* name) {
    Cell w{};
    word::make_at(symbol::make(name), w);
    return w;
}

Cell flag(bool on) {
    Cell c{};
    logic::make_at(c, on);
    return c;
}

Cell int_cell(std::int32_t v) {
    Cell c{};
    integer::make_at(c, v);
    return c;
}

// An optional argument cell, none when absent.
Cell or_none(const Cell* value) { return value != nullptr ? *value : none::value; }

[[noreturn]] void access_error(const char* id, const Cell* arg = nullptr) {
    runtime::raise_error(ErrorCategory::access, id, arg);
}

Cell& field_of(const Cell& obj, std::int32_t index) {
    return *context::value_at(obj.object_context(), index);
}

// The value of obj's field named name, or none.
Cell named_field(const Cell& obj, const char* name) {
    return *object::get_word_field(obj, word_cell(name));
}

// Calls fn (a function!) in a frame named by name with args; the result goes into out.
void call_function(const Cell& fn, const Cell& name, const std::vector<Cell>& args, Cell& out) {
    out = callback::call(fn, args.data(), static_cast<std::int32_t>(args.size()), name);
}

// The actor object of a port; a handle! actor (a native table) or anything
// else is refused.
Cell actor_of(const Cell& port) {
    const Cell actor = field_of(port, actor_field);
    if (!actor.is(TypeId::object)) access_error("invalid-port");
    return actor;
}

// Calls the actor's function for the action named name with the port and
// rest; the result replaces the port in its cell.
Cell* forward(Cell* port, const char* name, std::initializer_list<Cell> rest) {
    const Cell actor = actor_of(*port);
    const Cell word = word_cell(name);
    const Cell fn = *object::get_word_field(actor, word);
    if (!fn.is(TypeId::function)) access_error("no-port-action", &word);
    std::vector<Cell> args;
    args.reserve(rest.size() + 1);
    args.push_back(*port);
    args.insert(args.end(), rest.begin(), rest.end());
    Cell result{};
    call_function(fn, word, args, result);
    *port = result;
    return port;
}

// A /part or /dup pair of an insert: the flag and the number (none when absent).
Cell count_or_none(bool given, std::int32_t n) { return given ? int_cell(n) : none::value; }

// What make's errors name: the url a spec came from, else the spec.
Cell culprit(const Cell& parts) {
    const Cell ref = named_field(parts, "ref");
    return ref.is(TypeId::url) ? ref : parts;
}

// --- Handlers, in action order -----------------------------------------------------

Cell* make(Cell* proto, Cell* spec, TypeId) {
    Cell parts{};
    if (spec->is(TypeId::object)) {
        parts = object::copy(*spec, false);
    } else {
        const Cell* prototype = system_object::field("standard/url-parts");
        if (prototype == nullptr || !prototype->is(TypeId::object))
            runtime::raise_error(ErrorCategory::internal, "not-done");
        const Cell url_parts = *prototype;
        parts = object::make_from_spec(&url_parts, *spec);
    }
    collector::Root parts_hold(parts);
    const Cell scheme = object::count_words(parts) > 0 ? field_of(parts, 0) : none::value;
    if (!scheme.is(TypeId::word)) {
        const Cell named = culprit(parts_hold.cell());
        access_error("no-scheme", &named);
    }

    const Cell* standard = system_object::field("standard/port");
    if (standard == nullptr || !standard->is(TypeId::object))
        runtime::raise_error(ErrorCategory::internal, "not-done");
    Cell port = object::copy(*standard, false);
    port.set_type(TypeId::port);
    *context::owner(port.object_context()) = port;
    collector::Root port_hold(port);
    field_of(port, spec_field) = parts_hold.cell();
    field_of(port, scheme_field) = scheme;

    // system/schemes: name, scheme object, name, scheme object...
    const Cell* schemes = system_object::field("schemes");
    Cell found = none::value;
    if (schemes != nullptr && schemes->is(TypeId::block)) {
        const Cell list = *schemes;
        const std::int32_t count = block::count_from_head(list);
        const auto wanted = symbol::resolve_alias(scheme.word_symbol());
        for (std::int32_t i = 0; i + 1 < count; i += 2) {
            const Cell* name = block::get_cell(list, list.series_head() + i);
            if (word::is_any_word(name->type()) && symbol::resolve_alias(name->word_symbol()) == wanted) {
                found = *block::get_cell(list, list.series_head() + i + 1);
                break;
            }
        }
    }
    const Cell named = culprit(parts_hold.cell());
    if (!found.is(TypeId::object)) access_error("unknown-scheme", &named);
    const Cell actor = named_field(found, "actor");
    if (!actor.is(TypeId::object) && !actor.is(TypeId::handle)) access_error("invalid-actor", &named);
    field_of(port_hold.cell(), actor_field) = actor;
    *proto = port_hold.cell();
    return proto;
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell*, std::int32_t part,
                  std::int32_t indent) {
    const Cell port = *value;
    Cell as_object = port;
    as_object.set_type(TypeId::object);
    string::append_nul_text(out, options.flat ? "make port! [" : "make port! [\n");
    part -= options.flat ? 12 : 13;
    part = object::mold_body(as_object, out, {.all = options.all, .flat = options.flat}, part, indent);
    if (!options.flat) part = block::mold_indent(out, indent, part);
    string::append_char(out, ']');
    return part - 1;
}

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part) {
    return mold(value, out, {}, arg, part, 0);
}

// Two ports are equal when they are the same port; they have no order.
std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::port)) return not_comparable;
    if (value1->object_context() == value2->object_context()) return 0;
    return is_equality(op) ? 1 : not_comparable;
}

Cell* append(Cell* port, Cell* value, std::int32_t part, bool only, std::int32_t count) {
    return forward(port, "append", {*value, flag(part >= 0), count_or_none(part >= 0, part), flag(only),
                                    flag(count != 1), count_or_none(count != 1, count)});
}
Cell* insert(Cell* port, Cell* value, std::int32_t part, bool only, std::int32_t count) {
    return forward(port, "insert", {*value, flag(part >= 0), count_or_none(part >= 0, part), flag(only),
                                    flag(count != 1), count_or_none(count != 1, count)});
}
Cell* change(Cell* port, Cell* value, std::int32_t part, bool only, std::int32_t count) {
    return forward(port, "change", {*value, flag(part >= 0), count_or_none(part >= 0, part), flag(only),
                                    flag(count != 1), count_or_none(count != 1, count)});
}

Cell* at(Cell* port, Cell* index) { return forward(port, "at", {*index}); }
Cell* back(Cell* port) { return forward(port, "back", {}); }
Cell* clear(Cell* port) { return forward(port, "clear", {}); }

Cell* copy(Cell* port, Cell* part, bool deep, Cell* types) {
    return forward(port, "copy", {flag(part != nullptr), or_none(part), flag(deep), flag(types != nullptr),
                                  or_none(types)});
}

Cell* find(Cell* port, Cell* value, const FindRefinements& how) {
    return forward(port, "find", {*value, flag(how.part != nullptr), or_none(how.part), flag(how.only),
                                  flag(how.case_), flag(how.same), flag(how.any), flag(how.with != nullptr),
                                  or_none(how.with), flag(how.skip != nullptr), or_none(how.skip),
                                  flag(how.last), flag(how.reverse), flag(how.tail), flag(how.match)});
}
Cell* select(Cell* port, Cell* value, const FindRefinements& how) {
    return forward(port, "select", {*value, flag(how.part != nullptr), or_none(how.part), flag(how.only),
                                    flag(how.case_), flag(how.same), flag(how.any), flag(how.with != nullptr),
                                    or_none(how.with), flag(how.skip != nullptr), or_none(how.skip),
                                    flag(how.last), flag(how.reverse)});
}

Cell* head(Cell* port) { return forward(port, "head", {}); }
Cell* head_q(Cell* port) { return forward(port, "head?", {}); }
Cell* index_q(Cell* port) { return forward(port, "index?", {}); }

// length? answers a count; whatever the actor gives that is not an integer
// counts as none.
std::int32_t length_q(Cell* port) {
    forward(port, "length?", {});
    return port->is(TypeId::integer) && port->int_value() >= 0 ? port->int_value() : -1;
}

Cell* move(Cell* port, Cell* target, Cell* part) {
    return forward(port, "move", {*target, flag(part != nullptr), or_none(part)});
}
Cell* next(Cell* port) { return forward(port, "next", {}); }
Cell* pick(Cell* port, Cell* index) { return forward(port, "pick", {*index}); }
Cell* poke(Cell* port, Cell* index, Cell* value) { return forward(port, "poke", {*index, *value}); }
Cell* put(Cell* port, Cell* key, Cell* value, bool case_) {
    return forward(port, "put", {*key, *value, flag(case_)});
}
Cell* remove(Cell* port, Cell* part, Cell* key) {
    return forward(port, "remove", {flag(part != nullptr), or_none(part), flag(key != nullptr), or_none(key)});
}
Cell* reverse(Cell* port, Cell* part, Cell* skip) {
    return forward(port, "reverse", {flag(part != nullptr), or_none(part), flag(skip != nullptr), or_none(skip)});
}
Cell* sort(Cell* port, const SortRefinements& how) {
    return forward(port, "sort", {flag(how.case_), flag(how.skip != nullptr), or_none(how.skip),
                                  flag(how.comparator != nullptr), or_none(how.comparator),
                                  flag(how.part != nullptr), or_none(how.part), flag(how.all),
                                  flag(how.reverse), flag(how.stable)});
}
Cell* skip(Cell* port, Cell* offset) { return forward(port, "skip", {*offset}); }
Cell* swap(Cell* port, Cell* other) { return forward(port, "swap", {*other}); }
Cell* tail(Cell* port) { return forward(port, "tail", {}); }
Cell* tail_q(Cell* port) { return forward(port, "tail?", {}); }
Cell* take(Cell* port, Cell* part, bool deep, bool last) {
    return forward(port, "take", {flag(part != nullptr), or_none(part), flag(deep), flag(last)});
}
Cell* trim(Cell* port, const TrimRefinements& how) {
    return forward(port, "trim", {flag(how.head), flag(how.tail), flag(how.auto_), flag(how.lines),
                                  flag(how.all), flag(how.with != nullptr), or_none(how.with)});
}
Cell* create(Cell* port) { return forward(port, "create", {}); }
Cell* close(Cell* port) { return forward(port, "close", {}); }
Cell* delete_(Cell* port) { return forward(port, "delete", {}); }
Cell* modify(Cell* port, Cell* field, Cell* value, bool case_) {
    return forward(port, "modify", {*field, *value, flag(case_)});
}

Cell* open(Cell* port, const OpenRefinements& how) {
    return forward(port, "open", {flag(how.new_), flag(how.read), flag(how.write), flag(how.seek),
                                  or_none(how.allow)});
}

Cell* query(Cell* port) { return forward(port, "query", {}); }
Cell* rename(Cell* port, Cell* to) { return forward(port, "rename", {*to}); }
Cell* update(Cell* port) { return forward(port, "update", {}); }

// --- Registration -------------------------------------------------------------------

constexpr registry::Registration registration{TypeId::port, registry::table({
        {Action::make,      make},
        {Action::form,      form},
        {Action::mold,      mold},
        {Action::compare,   compare},
        {Action::append,    append},
        {Action::at,        at},
        {Action::back,      back},
        {Action::change,    change},
        {Action::clear,     clear},
        {Action::copy,      copy},
        {Action::find,      find},
        {Action::head,      head},
        {Action::head_q,    head_q},
        {Action::index_q,   index_q},
        {Action::insert,    insert},
        {Action::length_q,  length_q},
        {Action::move,      move},
        {Action::next,      next},
        {Action::pick,      pick},
        {Action::poke,      poke},
        {Action::put,       put},
        {Action::remove,    remove},
        {Action::reverse,   reverse},
        {Action::select,    select},
        {Action::sort,      sort},
        {Action::skip,      skip},
        {Action::swap,      swap},
        {Action::tail,      tail},
        {Action::tail_q,    tail_q},
        {Action::take,      take},
        {Action::trim,      trim},
        {Action::create,    create},
        {Action::close,     close},
        {Action::delete_,   delete_},
        {Action::modify,    modify},
        {Action::open,      open},
        {Action::query,     query},
        {Action::read,      read},
        {Action::rename,    rename},
        {Action::update,    update},
        {Action::write,     write},  // ORDER ACTIONS
    })};

}  // namespace

// Opens the port (with /seek when read has it, /allow none), copies it
// (with read's /part) and closes it; the copy is the result.
Cell* read(Cell* port, const ReadRefinements& how) {
    Cell opened = *port;
    forward(&opened, "open", {flag(false), flag(false), flag(false), flag(how.seek != nullptr), none::value,
                              none::value});
    Cell data = *port;
    forward(&data, "copy", {flag(how.part != nullptr), or_none(how.part), flag(false), flag(false),
                            none::value});
    collector::Root hold(data);
    Cell closed = *port;
    forward(&closed, "close", {});
    *port = hold.cell();
    return port;
}

// Opens the port for writing (/allow none), inserts the data (with write's
// /part when it is a count), then copies and closes it; the copy is the result.
Cell* write(Cell* port, Cell* data, const WriteRefinements& how) {
    Cell opened = *port;
    forward(&opened, "open", {flag(false), flag(false), flag(true), flag(false), none::value, none::value});
    const bool part = how.part != nullptr && how.part->is(TypeId::integer);
    Cell inserted = *port;
    forward(&inserted, "insert", {*data, flag(part), part ? *how.part : int_cell(-1), flag(false), flag(false),
                                  none::value});
    Cell result = *port;
    forward(&result, "copy", {flag(false), none::value, flag(false), flag(false), none::value});
    collector::Root hold(result);
    Cell closed = *port;
    forward(&closed, "close", {});
    *port = hold.cell();
    return port;
}

void open_url(const Cell& url, const OpenRefinements* how, Cell& out) {
    const NodeId global = context::global();
    const std::int32_t index = context::find_symbol(global, symbol::make("url-parser"), true);
    const Cell parser = index >= 0 ? *context::value_at(global, index) : none::value;
    const Cell fn = parser.is(TypeId::object) ? named_field(parser, "parse-url") : none::value;
    if (!fn.is(TypeId::function)) runtime::raise_error(ErrorCategory::internal, "not-done");
    Cell parts{};
    call_function(fn, word_cell("parse-url"), {url, flag(false)}, parts);
    if (!parts.is(TypeId::object)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &url);
    collector::Root held(parts);  // the port is made over it
    Cell type{};
    type.reset(TypeId::datatype);
    type.set_datatype_id(TypeId::port);
    collector::Root port(type);
    make(&port.cell(), &held.cell(), TypeId::port);
    if (how != nullptr) {
        collector::Root opened(port.cell());
        open(&opened.cell(), *how);
    }
    out = port.cell();
}

void init() { registry::register_type(registration); }

}  // namespace kiv::port
