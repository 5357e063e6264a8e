// email!: string! with a bare mold and user/host path access. The split is
// at the first "@" from the head; without one the whole text is the user and
// the host is empty.
#include "runtime/datatypes/email.h"

#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/string_actions.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/raise.h"

#include <algorithm>

namespace kiv::email {

namespace {

// A new string! of count units of text from unit index from.
Cell text_slice(const Cell& text, std::int32_t from, std::int32_t count) {
    Cell c = text;
    c.set_series_node(series::copy_units(text, from, count));
    c.set_series_head(0);
    c.set_type(TypeId::string);
    return c;
}

bool names_q(const Cell& element, words::Sym s) {
    return symbol::resolve_alias(element.word_symbol()) == symbol::resolve_alias(words::id(s));
}

}  // namespace

std::int32_t mold(Cell* value, NodeId out, MoldOptions, Cell* arg, std::int32_t part,
                  std::int32_t) {
    return string::form(value, out, arg, part);
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    if (element->is(TypeId::integer)) return string::eval_path(value, element, new_value, step);
    const bool user = element->is(TypeId::word) && names_q(*element, words::Sym::user);
    const bool host = element->is(TypeId::word) && names_q(*element, words::Sym::host);
    if (!user && !host) {
        const Cell path = step.path != nullptr ? *step.path : *value;
        runtime::raise_error(ErrorCategory::script, "invalid-path", &path, element);
    }
    Cell text = *value;
    const std::int32_t length = string::length_from_head(text);  // clamps the head
    const std::int32_t head = text.series_head();
    const std::int32_t at = string::find_char(text, '@');
    const std::int32_t split = at < 0 ? length : at;
    const std::int32_t from = user ? 0 : std::min(split + 1, length);
    const std::int32_t count = user ? split : length - from;
    if (new_value == nullptr) {
        *value = text_slice(text, head + from, count);
        return value;
    }
    const Cell v = *new_value;
    Cell target = text;
    target.set_series_head(head + from);
    Cell with = v;
    string::change(&target, &with, count, false, 1);
    *value = v;
    return value;
}

namespace {

constexpr registry::Registration registration{TypeId::email, registry::table({
        {Action::random,    registry::refuse},
        {Action::mold,      mold},
        {Action::eval_path, eval_path},
        {Action::sort,      registry::refuse},
        {Action::trim,      registry::refuse},
    })};

}  // namespace

void init() { registry::register_type(registration); }

}  // namespace kiv::email
