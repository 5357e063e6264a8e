#include "gui/backend/message_loop.h"

#include "gui/backend/menus.h"
#include "gui/backend/toolkit.h"
#include "gui/backend/units.h"
#include "gui/backend/widgets.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/system_object.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/callback.h"

#include <cmath>
#include <deque>

namespace kiv::message_loop {

namespace {

using event::Message;
using event::Type;
namespace flag = event::flag;

std::int32_t depth = 0;                // blocking loops started
std::int32_t owed = 0;                 // quits owed to outer loops
std::int64_t cached_modifiers = -1;    // flags that replace the message's own, -1 for none
bool quit_posted = false;              // quits merge until one is taken
bool loop_ends = false;                // the innermost blocking loop took a quit
bool innermost_no_wait = false;        // the innermost loop handles one message and returns
std::deque<Message> posted;

// The last pointer position passed on, and the widget the last `over` went to.
bool have_position = false;
std::int32_t last_widget = 0, last_x = 0, last_y = 0;
std::int32_t hover = 0;

// The answer of system/view/awake for the event record: 0 for stop, else 1.
// Awake runs under the call-back entry's barrier: it catches what its
// handlers raise, and nothing may unwind through the toolkit's frames.
int call_awake() {
    const Cell* awake = system_object::field("view/awake");
    if (awake == nullptr || !(awake->is(TypeId::function))) return 1;
    static Cell name{};
    if (name.is(TypeId::no_type)) word::make_at(symbol::make("awake"), name);
    const callback::Outcome out = callback::call_guarded(*awake, &event::record(), 1, name);
    if (!out.ok) return 1;
    static const symbol::SymbolId stop = symbol::resolve_alias(symbol::make("stop"));
    return out.value.is(TypeId::word) && symbol::resolve_alias(out.value.word_symbol()) == stop ? 0 : 1;
}

std::uint32_t current_modifiers(const Message& m) {
    return cached_modifiers >= 0 ? static_cast<std::uint32_t>(cached_modifiers) : m.modifiers;
}

constexpr std::uint32_t keyboard = flag::control | flag::shift | flag::alt;

// The character of a key event: Ctrl with a letter gives its control code
// (1-26), Ctrl with Backspace 127; a character outside the basic plane fills
// the word alone.
std::uint32_t key_word(std::uint32_t c, std::uint32_t mods) {
    if (c >= 0x10000) return c;
    if ((mods & flag::control) != 0) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c &= 0x1F;
        else if (c == 8) c = 127;
    }
    return (c & flag::key_mask) | mods;
}

std::uint32_t event_word(const Message& m, std::uint32_t flags, Type type) {
    switch (type) {
    case Type::over: return flags;
    case Type::key_down:
    case Type::key_up: return current_modifiers(m) | (m.code & flag::key_mask);
    case Type::key: return key_word(m.kind == Message::Kind::text ? m.code : m.character, current_modifiers(m));
    case Type::ime: return m.code >= 0x10000 ? m.code : m.code & flag::key_mask;
    case Type::down: case Type::up: case Type::mid_down: case Type::mid_up: case Type::alt_down:
    case Type::alt_up: case Type::aux_down: case Type::aux_up: case Type::dbl_click: case Type::wheel:
        return flags | m.modifiers;
    case Type::click: return m.modifiers & keyboard;
    case Type::select:
    case Type::change:
    case Type::scroll:
    case Type::menu: return flags & flag::key_mask;
    default: return 0;
    }
}

constexpr Type down_types[] = {Type::down, Type::mid_down, Type::alt_down, Type::aux_down};
constexpr Type up_types[] = {Type::up, Type::mid_up, Type::alt_up, Type::aux_up};

Type button_type(const Type (&types)[4], std::int32_t button) {
    return types[button >= 1 && button <= 4 ? button - 1 : 0];
}

// Saves a value for the scope and puts it back on every exit.
template <typename T>
class Saved {
public:
    Saved(T& place, T value) : place_(place), old_(place) { place = value; }
    ~Saved() { place_ = old_; }
    Saved(const Saved&) = delete;
    Saved& operator=(const Saved&) = delete;

private:
    T& place_;
    T old_;
};

}  // namespace

bool do_events(bool no_wait) {
    const toolkit::Toolkit* tk = toolkit::get();
    const Saved<std::int64_t> modifiers(cached_modifiers, -1);
    const Saved<bool> mode(innermost_no_wait, no_wait);
    if (no_wait) {
        if (has_posted()) {
            dispatch_posted();
            return true;
        }
        return tk != nullptr && tk->iterate(false);
    }
    ++depth;
    while (!loop_ends) {
        if (has_posted()) dispatch_posted();
        else if (tk == nullptr || !tk->iterate(true)) break;  // nothing can come any more
    }
    loop_ends = false;
    if (--owed > 0) post_quit();
    return false;
}

void post_quit() {
    quit_posted = true;
    if (const toolkit::Toolkit* tk = toolkit::get()) tk->wake();
}

void post(const Message& message) {
    posted.push_back(message);
    if (const toolkit::Toolkit* tk = toolkit::get()) tk->wake();
}

bool has_posted() { return !posted.empty() || quit_posted; }

void dispatch_posted() {
    if (!posted.empty()) {
        const Message m = posted.front();
        posted.pop_front();
        prefilter(m);
        return;
    }
    if (!quit_posted) return;
    quit_posted = false;
    if (!innermost_no_wait) loop_ends = true;  // taken in no-wait mode, it ends nothing
}

std::int32_t loop_depth() { return depth; }
std::int32_t pending_quits() { return owed; }

void forget(std::int32_t widget) {
    std::erase_if(posted, [widget](const Message& m) { return m.widget == widget; });
    if (last_widget == widget) have_position = false;
    if (hover == widget) hover = 0;
}

void window_destroyed() {
    ++owed;
    --depth;
}

int prefilter(const Message& m) {
    using Kind = Message::Kind;
    const std::uint32_t mouse = m.modifiers;
    switch (m.kind) {
    case Kind::key_down: {
        int r = make_event(m, 0, Type::key_down);
        if (r == 0) return 0;  // a stopped key-down types nothing
        // a character typed with Alt held is a shortcut: its key-down only (Alt itself never
        // types; AltGr, which does, is a shift level of its own)
        const bool typed = m.character != 0 && (current_modifiers(m) & flag::alt) == 0;
        if (m.special == event::Special::none ? typed : !event::is_modifier(m.special))
            r = make_event(m, 0, Type::key);
        return r;
    }
    case Kind::key_up: return make_event(m, 0, Type::key_up);
    case Kind::text: return make_event(m, 0, Type::key);
    case Kind::motion: {
        if (have_position && m.widget == last_widget && m.x == last_x && m.y == last_y) return 0;
        have_position = true;
        last_widget = m.widget, last_x = m.x, last_y = m.y;
        const widgets::Widget* w = widgets::get(m.widget);
        if (m.widget != hover || (w != nullptr && (w->face_flags & widgets::face_flag::all_over) != 0)) {
            make_event(m, mouse, Type::over);
            hover = m.widget;
        }
        return 1;
    }
    case Kind::leave:
        have_position = false;
        make_event(m, mouse | flag::away, Type::over);
        if (hover == m.widget) hover = 0;
        return 1;
    case Kind::button_down: {
        if (m.button == 1) menus::clear_pending();
        const int r = make_event(m, mouse, button_type(down_types, m.button));
        if (m.button == 3 && menus::show_context_menu(m)) return 0;  // the face's context menu takes the press
        return r;
    }
    case Kind::button_up: return make_event(m, mouse, button_type(up_types, m.button));
    case Kind::double_click:
        menus::clear_pending();
        make_event(m, 0, Type::down);
        make_event(m, mouse, Type::dbl_click);
        return 1;
    case Kind::wheel: return make_event(m, mouse, Type::wheel);
    default: return 1;
    }
}

// What a widget's select and change bring back into its face: a drop-down
// shows the chosen entry's text, a changed widget its own text (unless the
// face says no-sync). A tab panel's change carries the new index.
std::uint32_t sync_face(const Message& message, std::uint32_t flags, Type type) {
    const widgets::Widget* w = widgets::get(message.widget);
    if (w == nullptr || (type != Type::select && type != Type::change)) return flags;
    Cell face{};
    if (!widgets::face_of(message.widget, face)) return flags;
    const collector::Root keep(face);
    using widgets::FaceType;
    if (type == Type::select) {
        if (w->type == FaceType::drop_down) widgets::read_back_text(face, static_cast<std::int16_t>(flags & flag::key_mask));
        return flags;
    }
    if (w->type == FaceType::tab_panel) return flags & flag::key_mask;
    const Cell* face_flags = widgets::facet(face, widgets::Facet::flags);
    if (flags != 0 && (face_flags == nullptr || (widgets::flags_of(*face_flags) & widgets::face_flag::no_sync) == 0))
        widgets::read_back_text(face, -1);
    return 0;
}

int make_event(const Message& message, std::uint32_t flags, Type type) {
    const event::Dispatching dispatching(message);
    flags = sync_face(message, flags, type);
    event::fill(dispatching, type, event_word(message, flags, type));
    const std::int32_t before = depth;
    const int answer = call_awake();
    if (depth < before) post_quit();  // a window that ran a loop was destroyed: that loop ends
    return answer;
}

void timer_tick(std::int32_t widget) {
    Message m{};
    m.widget = widget;
    m.kind = Message::Kind::timer;
    make_event(m, 0, Type::time);
}

bool send_event(const Cell& ev, bool post_it) {
    if (!ev.is(TypeId::event) || !ev.event_made()) return false;
    const Cell* face = event::made_value(ev, 0);
    const std::int32_t widget = face != nullptr ? widgets::of_face(*face) : 0;
    if (widget == 0) return false;
    const auto type = static_cast<Type>(ev.event_type());
    const std::uint32_t flags = ev.event_flags();
    Message m{};
    m.widget = widget;
    m.modifiers = flags & (keyboard | flag::buttons);
    units::pixels_of(event::made_value(ev, 2), m.x, m.y);
    using Kind = Message::Kind;
    const auto button = [&](Kind kind, std::int32_t b, std::uint32_t held) {
        m.kind = kind;
        m.button = b;
        m.modifiers |= held;
    };
    bool key = false;
    switch (type) {
    case Type::down: button(Kind::button_down, 1, flag::down); break;
    case Type::up: button(Kind::button_up, 1, 0); break;
    case Type::mid_down: button(Kind::button_down, 2, flag::mid_down); break;
    case Type::mid_up: button(Kind::button_up, 2, 0); break;
    case Type::alt_down: button(Kind::button_down, 3, flag::alt_down); break;
    case Type::alt_up: button(Kind::button_up, 3, 0); break;
    case Type::aux_down: button(Kind::button_down, 4, flag::aux_down); break;
    case Type::aux_up: button(Kind::button_up, 4, 0); break;
    case Type::dbl_click: button(Kind::double_click, 1, flag::down); break;
    case Type::wheel: {
        const Cell* picked = event::made_value(ev, 3);
        const double notches = picked != nullptr && picked->is(TypeId::integer) ? picked->int_value() : 0;
        m.kind = Kind::wheel;
        m.delta = static_cast<std::int32_t>(std::fmax(-273.0, std::fmin(273.0, notches)) * 120.0);
        break;
    }
    case Type::over:
        m.kind = (flags & flag::away) != 0 ? Kind::leave : Kind::motion;
        have_position = false;  // not dropped as a repeat
        break;
    case Type::key:
        m.kind = Kind::text;
        m.code = flags & flag::key_mask;
        key = true;
        break;
    case Type::key_down:
    case Type::key_up:
        m.kind = type == Type::key_down ? Kind::key_down : Kind::key_up;
        m.code = flags & flag::key_mask;
        key = true;
        break;
    default:
        return false;
    }
    if (post_it) {
        post(m);
        return true;
    }
    const Saved<std::int64_t> modifiers(cached_modifiers,
                                        key ? static_cast<std::int64_t>(flags & 0x73C00000) : cached_modifiers);
    prefilter(m);
    return true;
}

void reset() {
    depth = owed = 0;
    cached_modifiers = -1;
    quit_posted = loop_ends = innermost_no_wait = false;
    posted.clear();
    have_position = false;
    hover = 0;
}

}  // namespace kiv::message_loop
