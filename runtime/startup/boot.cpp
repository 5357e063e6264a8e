// Boot data: the boot image of evaluated values goes into the root block and
// its definitions set the global words; in the tool that makes it, the
// library sources are lexed into the root block and each is evaluated, in
// order, as the top level. Nothing here names a library word:
// the sources define them; the routine table (routine::add) gives routines
// their C++ code. The catalogue's text keeps its own reader (error.cpp); the
// image holds the catalogue it built.
#include "runtime/startup/boot.h"

#include "generated/type_rows.h"
#include "runtime/core/assert.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/callback.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/kivbin_boot.h"
#include "runtime/io/lexer.h"
#include "runtime/os/platform.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"
#include "runtime/text/unicode.h"

#include <algorithm>
#include <array>
#include <deque>
#include <cstdio>
#include <string>
#include <utility>
#include <cstdlib>

namespace kiv::boot {

namespace {

// The version byte of an image of evaluated values: the global context as the
// top level leaves it, so that start-up evaluates nothing. An image of
// sources (version 2, the codec's) holds lexed code to evaluate.
constexpr std::uint8_t evaluated_version = 1;
constexpr std::size_t version_at = 6;
bool evaluated = false;          // the program booted from evaluated values
bool unknown_routines = false;   // make-routine enters names the table lacks (the image maker)
Cell loaded_block{};  // file! name and block of each library source (in the root block)
Cell host_block{};    // file! name and block of each host source (in the root block)
std::span<const std::uint8_t> host_image;  // the host's, loaded and run after the library's


Cell global_word(const char* name) {
    Cell w;
    word::make_kind_at(TypeId::word, name, w);
    return w;
}

void set_global(const char* name, const Cell& value) {
    Cell w = global_word(name);
    word::set_value(w, value);
}

// Writes an error's report to standard error and ends the process: boot data
// is part of the program.
[[noreturn]] void boot_failure(const Cell& error, std::string_view source) {
    const std::string report = error.is(TypeId::error) ? formed(error) : "";
    platform::flush();
    std::fprintf(stderr, "*** Boot Error in %.*s\n%s\n", static_cast<int>(source.size()), source.data(),
                 report.c_str());
    runtime::exit_cleanup();
    std::exit(254);
}

// The code of a routine that the image maker does not hold (a host's): the
// program that boots the image enters the real code under the same name. A
// top level that calls one cannot be evaluated ahead: the image fails to build.
void unavailable(Cell*) { runtime::raise_error(ErrorCategory::internal, "not-done"); }

std::int32_t stand_in_routine(std::string_view name) {
    static std::deque<std::string> names;  // the table keeps the name pointers
    return routine::add(names.emplace_back(name).c_str(), unavailable);
}

// make-routine 'name spec: the routine! of the routine entered under name.
void make_routine(Cell* args) {
    const Cell name = args[0];
    const Cell spec = args[1];
    if (!word::is_any_word(name.type()))
        runtime::raise_error(ErrorCategory::script, "invalid-arg", &name);
    if (!spec.is(TypeId::block)) runtime::raise_error(ErrorCategory::script, "invalid-arg", &spec);
    std::int32_t id = routine::find(symbol::name(name.word_symbol()));
    if (id == 0 && unknown_routines) id = stand_in_routine(symbol::name(name.word_symbol()));
    if (id == 0) runtime::raise_error(ErrorCategory::script, "invalid-arg", &name);
    Cell out;
    routine::make_at(out, spec, nullptr, id, 0, false);
    args[0] = out;
}

// quit-return status: ends the process with status (modulo 256) once what
// was printed has reached its destination.
void quit_return(Cell* args) {
    const std::int32_t status = args[0].is(TypeId::integer) ? args[0].int_value() : 0;
    platform::flush();
    std::fflush(nullptr);
    runtime::exit_cleanup();
    std::exit(status & 0xFF);
}

// quit /return status: quit-return with status, or 0.
void quit(Cell* args) {
    Cell status = args[1];
    if (!args[0].is(TypeId::logic) || args[0].logic_value() != 1 || !status.is(TypeId::integer)) {
        status.reset(TypeId::integer);
        status.set_int(0);
    }
    quit_return(&status);
}

// The type predicates (integer? block? ...): one routine per type id. Each
// compares the type id alone, so a derived type does not answer to its
// parent's predicate (word? is false for a set-word!).
template <int Id>
void type_predicate(Cell* args) {
    const bool match = args[0].type() == static_cast<TypeId>(Id);
    logic::make_at(args[0], match);
}

template <std::size_t... Ids>
constexpr std::array<routine::Code, sizeof...(Ids)> predicate_table(std::index_sequence<Ids...>) {
    return {type_predicate<static_cast<int>(Ids)>...};
}
constexpr auto type_predicates = predicate_table(std::make_index_sequence<type_count>{});

// The datatypes that have a predicate (the predicate column of
// runtime/types.table), in id order.
constexpr auto predicate_types = [] {
    constexpr std::size_t count = [] {
        std::size_t n = 0;
        for (const types::Row& row : types::rows) n += row.predicate ? 1 : 0;
        return n;
    }();
    std::array<TypeId, count> list{};
    std::size_t n = 0;
    for (int id = 1; id < type_count; ++id)
        if (types::rows[static_cast<std::size_t>(id)].predicate) list[n++] = static_cast<TypeId>(id);
    return list;
}();

// The typeset predicates: "name?" tests the argument's type in the value the
// word "name!" holds at the time of the call, so rebinding the word changes
// the predicate.
constexpr std::array<const char*, 14> typeset_words{
    "any-list!", "any-block!", "any-function!", "any-object!", "any-path!", "any-string!",
    "any-word!", "series!", "number!", "immediate!", "scalar!", "all-word!", "any-point!",
    "planar!",
};

std::string predicate_name(std::string_view type_word) {
    std::string name(type_word);
    name.back() = '?';
    return name;
}

std::string predicate_name(TypeId t) {
    const registry::TypeName& entry = registry::type_name(t);
    return std::string(entry.name, static_cast<std::size_t>(entry.length)) + "?";  // length leaves out the "!"
}

template <std::size_t Index>
void typeset_predicate(Cell* args) {
    Cell w = global_word(typeset_words[Index]);
    Cell set;
    word::get_value(w, set);
    if (set.is(TypeId::unset)) runtime::raise_error(ErrorCategory::script, "no-value", &w);
    const bool match = set.is(TypeId::typeset) && set.typeset_has(static_cast<int>(args[0].type()));
    logic::make_at(args[0], match);
}

template <std::size_t... I>
constexpr std::array<routine::Code, sizeof...(I)> typeset_predicate_table(std::index_sequence<I...>) {
    return {typeset_predicate<I>...};
}
constexpr auto typeset_predicates =
    typeset_predicate_table(std::make_index_sequence<typeset_words.size()>{});

// Enters the predicates in the routine table.
void add_type_predicates() {
    static std::string names[predicate_types.size()];  // the table keeps the name pointers
    static std::string set_names[typeset_words.size()];
    for (std::size_t i = 0; i < predicate_types.size(); ++i) {
        names[i] = predicate_name(predicate_types[i]);
        routine::add(names[i].c_str(), type_predicates[static_cast<std::size_t>(predicate_types[i])]);
    }
    for (std::size_t i = 0; i < typeset_words.size(); ++i) {
        set_names[i] = predicate_name(typeset_words[i]);
        routine::add(set_names[i].c_str(), typeset_predicates[i]);
    }
}

// Each predicate's spec is a deep copy of one spec lexed once, with its own
// doc string in front: cheaper at every start than lexing one per predicate.
void define_predicate(const std::string& name, const std::string& doc, const Cell& spec_template) {
    Cell spec;
    block::clone(spec, spec_template, true, false);
    Cell doc_string;
    doc_string.reset(TypeId::string);
    doc_string.set_series_node(unicode::utf8_to_string(reinterpret_cast<const std::uint8_t*>(doc.data()),
                                                        static_cast<std::int32_t>(doc.size())));
    *block::get_cell(spec, 0) = doc_string;
    Cell value;
    routine::make_at(value, spec, nullptr, routine::find(name), 0, false);
    set_global(name.c_str(), value);
}

// Binds each predicate to its word.
void define_type_predicates() {
    Cell spec_template;
    load_text(spec_template, "\"\" value [any-type!] return: [logic!]");
    for (TypeId t : predicate_types)
        define_predicate(predicate_name(t), "Returns true if the value is this type", spec_template);
    for (const char* type_word : typeset_words) {
        std::string set_name(type_word);
        set_name.pop_back();
        define_predicate(predicate_name(type_word), "Returns true if the value is any type of " + set_name,
                         spec_template);
    }
}

// The datatype words: each registered type's name holds its datatype! value.
void define_datatype_words() {
    for (int id = 1; id <= registry::highest_type(); ++id) {
        const auto t = static_cast<TypeId>(id);
        const registry::TypeName& entry = registry::type_name(t);
        if (entry.name == nullptr) continue;
        Cell value;
        datatype::make_at(t, value);
        set_global(entry.name, value);
    }
}

// The stand-in `make` that actions.kiv calls to make the action values (its
// own first line among them); its spec comes from the dispatch table.
void define_bootstrap_make() {
    Cell block;
    load_text(block, actions::spec(Action::make).arguments);
    Cell value;
    native::make_at(value, TypeId::action, block, static_cast<std::int32_t>(Action::make));
    set_global(actions::spec(Action::make).name, value);
}

// True for a block of file! name and block pairs, from its head.
bool is_loaded_block(const Cell& value) {
    if (!value.is(TypeId::block) || value.series_head() != 0) return false;
    const std::int32_t count = block::length_of(value);
    if (count % 2 != 0) return false;
    for (std::int32_t i = 0; i < count; i += 2) {
        if (!block::get_cell(value, i)->is(TypeId::file) || !block::get_cell(value, i + 1)->is(TypeId::block))
            return false;
    }
    return true;
}

// Evaluates code under a barrier; on an error the boot ends.
void evaluate_source(const Cell& code, std::string_view name) {
    Cell result;
    if (!try_eval(code, result)) boot_failure(result, name);
}

}  // namespace

void set_host_image(std::span<const std::uint8_t> image) { host_image = image; }

void load_text(Cell& out, std::string_view utf8) {
    lexer::scan(&out, reinterpret_cast<const std::uint8_t*>(utf8.data()),
                static_cast<std::int32_t>(utf8.size()), lexer::ScanRequest{}, nullptr);
    if (!out.is(TypeId::block)) block::make_at(out, 1);  // no values
}

namespace {

// The code of one source, lexed; a syntax error ends the boot.
Cell lexed(const Source& source) {
    Cell code;
    Cell error;
    if (!callback::guarded([&] { load_text(code, source.text); }, error)) boot_failure(error, source.name);
    return code;
}

// The values an image holds, decoded into the root block: count values, the
// last a block of file! name and block pairs, which is returned; a fault ends
// the boot.
Cell decoded_image(std::span<const std::uint8_t> image, std::int32_t count, std::string_view what) {
    Cell error;
    std::int32_t base = 0;
    if (!callback::guarded([&] { base = kivbin::load_boot_data(image); }, error)) boot_failure(error, what);
    const Cell& root = block::root();
    if (block::length_of(root) != base + count || !is_loaded_block(*block::get_cell(root, base + count - 1)))
        boot_failure(none::value, what);  // not an image of ours
    return *block::get_cell(root, base + count - 1);
}

// The catalogue, then the library into the loaded block: both decoded from
// the image (the catalogue object first), or the catalogue read from its
// text and the sources lexed.
void load_library() {
    if (!linked_data.image.empty()) {
        loaded_block = decoded_image(linked_data.image, 2, "the boot image");
        const Cell& catalogue = *block::get_cell(block::root(), block::length_of(block::root()) - 2);
        if (!catalogue.is(TypeId::object)) boot_failure(none::value, "the boot image");
        error::install_catalog(catalogue);
        return;
    }
    error::load_catalog();
    const auto sources = linked_data.sources;
    loaded_block = *block::make_in(&block::root(), static_cast<std::int32_t>(2 * sources.size()));
    for (const Source& source : sources) {
        Cell name;
        name.reset(TypeId::file);
        name.set_series_node(unicode::utf8_to_string(reinterpret_cast<const std::uint8_t*>(source.name.data()),
                                                     static_cast<std::int32_t>(source.name.size())));
        block::append_copy(loaded_block, name);
        block::append_copy(loaded_block, lexed(source));
    }
}

// make-routine, the word that sources evaluated at start-up make their
// routines with.
void define_maker() {
    const std::int32_t maker_id = routine::add("make-routine", make_routine);
    Cell maker_spec;
    load_text(maker_spec, "name spec");
    Cell maker;
    routine::make_at(maker, maker_spec, nullptr, maker_id, 0, false);
    set_global("make-routine", maker);
}

void remove_maker() {
    Cell maker_word = global_word("make-routine");
    unset::make_at(*context::get_word_cell(maker_word));
}

}  // namespace

namespace {

void run_host_sources() {
    const std::int32_t host_count = block::length_of(host_block);
    for (std::int32_t i = 0; i + 1 < host_count; i += 2)
        evaluate_source(*block::get_cell(host_block, i + 1), string::utf8_of(*block::get_cell(host_block, i)));
}

bool holds_values(std::span<const std::uint8_t> image) {
    return image.size() > version_at && image[version_at] == evaluated_version;
}

}  // namespace

std::int32_t image_symbols() {
    const std::span<const std::uint8_t> image = holds_values(host_image) ? host_image : linked_data.image;
    if (!holds_values(image)) return 0;
    return kivbin::symbol_count(image.data(), image.size());
}

namespace {

// The routines the C++ start-up enters, which images name.
void add_boot_routines() {
    routine::add("quit-return", quit_return);
    routine::add("quit", quit);
    add_type_predicates();
    routine::add("make-routine", make_routine);
}

// The system object and the error catalogue it holds, for the runtime's
// own use.
void install_system() {
    Cell system_word = global_word("system");
    Cell value;
    word::get_value(system_word, value);
    if (!value.is(TypeId::object)) return;
    system_object::set(value);
    if (const Cell* errors = system_object::field("catalog/errors"); errors != nullptr && errors->is(TypeId::object))
        error::install_catalog(*errors);
}

// An image of evaluated values: decoded, its definitions set the global
// words; nothing is left to evaluate.
void load_values(std::span<const std::uint8_t> image) {
    add_boot_routines();
    Cell error;
    if (!callback::guarded([&] { kivbin::load_boot_data(image); }, error)) boot_failure(error, "the boot image");
    install_system();
    if (!error::catalog_loaded()) boot_failure(none::value, "the boot image");  // not an image of ours
    evaluated = true;
    loaded_block = *block::make_in(&block::root(), 1);
    // a host's sources (an image made by --host) are evaluated over the library's values
    host_block = host_image.empty() || holds_values(host_image)
                     ? *block::make_in(&block::root(), 1)
                     : decoded_image(host_image, 1, "the host's boot image");
}

// What the top level takes from the environment, taken again at every
// start: an image of evaluated values was made on another machine.
constexpr std::string_view per_start = R"(
    system/options/cache: any [get-env "XDG_DATA_HOME"  all [get-env "HOME"  rejoin [get-env "HOME" "/.local/share"]]]
    if system/options/cache [system/options/cache: rejoin [dirize to-kiv-file system/options/cache %Kiv/]]
)";

void run_per_start() {
    Cell code;
    load_text(code, per_start);
    evaluate_source(code, "the start-up");
}

}  // namespace

void load() {
    const std::span<const std::uint8_t> image = holds_values(host_image) ? host_image : linked_data.image;
    if (holds_values(image)) return load_values(image);
    load_library();
    host_block = host_image.empty() ? *block::make_in(&block::root(), 1)
                                    : decoded_image(host_image, 1, "the host's boot image");
}

bool booted_from_values() { return evaluated; }

void allow_unknown_routines() { unknown_routines = true; }

const Cell& loaded() { return loaded_block; }

void run_top_level() {
    KIV_ASSERT(loaded_block.is(TypeId::block), "boot data loaded before the top level");
    const bool was_enabled = collector::enabled();
    collector::set_enabled(false);
    if (evaluated) {
        run_per_start();
        if (block::length_of(host_block) > 0) {
            define_maker();
            run_host_sources();
            remove_maker();
        }
        collector::set_enabled(was_enabled);
        return;
    }
    define_datatype_words();
    define_bootstrap_make();
    add_boot_routines();
    define_maker();
    define_type_predicates();

    const std::int32_t count = block::length_of(loaded_block);
    for (std::int32_t i = 0; i + 1 < count; i += 2) {
        const std::string name = string::utf8_of(*block::get_cell(loaded_block, i));
        const Cell code = *block::get_cell(loaded_block, i + 1);
        if (name == "system.kiv" && registry::handler<Action::make>(TypeId::object) == nullptr)
            continue;  // no object! yet: no system object
        evaluate_source(code, name);
    }
    run_host_sources();
    Cell system_word = global_word("system");
    Cell value;
    word::get_value(system_word, value);
    if (value.is(TypeId::object)) {
        system_object::set(value);
        if (const Cell* errors = error::catalog()) system_object::set_field("catalog/errors", *errors);
    }
    remove_maker();  // boot only: gone before user code
    if (system_object::get() != nullptr) run_per_start();
    collector::set_enabled(was_enabled);
}

bool run_image(std::span<const std::uint8_t> image, std::string_view what, Cell& error) {
    const Cell sources = decoded_image(image, 1, what);  // kept in the root block
    define_maker();
    bool done = true;
    const std::int32_t count = block::length_of(sources);
    for (std::int32_t i = 0; done && i + 1 < count; i += 2)
        done = try_eval(*block::get_cell(sources, i + 1), error);
    remove_maker();
    return done;
}

std::string formed(const Cell& value) {
    Cell out;
    string::make_at(out, 64);
    collector::Root keep(out);
    Cell v = value;
    actions::form_to(&v, out.series_node(), -1);
    return string::utf8_of(out);
}

std::string report(const Cell& error) {
    collector::Root keep(error);
    error::fill_stack_trace(keep.cell());
    return formed(keep.cell());
}

bool try_eval(const Cell& code, Cell& result) {
    Cell error;
    const bool done = callback::guarded([&] {
        interpreter::eval_block(code, false);
        result = *(stack::top() - 1);
    }, error);
    if (!done) result = error;
    return done;
}

}  // namespace kiv::boot
