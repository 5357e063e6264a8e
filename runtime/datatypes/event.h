// event!: the GUI's events. The toolkit's messages reach the language as one
// event record, refilled for each; it names the message by its place in the
// stack of messages being dispatched (never by a pointer), so its fields are
// read while the event is handled. The language makes events of its own with
// `make event!`: those carry a block of face, window, offset and picked. What
// a window event says about its widget (its face, its window) comes from the
// GUI layer through the services it installs; without them it reads none.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>

namespace kiv::event {

// Event types, numbered as the language knows them (the type word is the
// word of the same name). ORDER EVENT-TYPES
enum class Type : std::int32_t {
    down = 1, up, mid_down, mid_up, alt_down, alt_up, aux_down, aux_up, click, dbl_click,
    wheel, over, key, key_down, key_up, ime, focus, unfocus, enter, zoom,
    pan, rotate, two_tap, press_tap, select, change, menu, close, move, resize,
    moving, resizing, time, drawing, scroll, minimize, maximize, restore,
};
inline constexpr std::int32_t type_count = 38;

// Flag bits of payload word 3; the low 16 bits carry the key code, a list
// index or a menu item id, as the type says.
namespace flag {
inline constexpr std::uint32_t command = 0x80000000;  // accepted by make, never reported
inline constexpr std::uint32_t alt = 0x40000000;
inline constexpr std::uint32_t shift = 0x20000000;
inline constexpr std::uint32_t control = 0x10000000;
inline constexpr std::uint32_t away = 0x04000000;
inline constexpr std::uint32_t down = 0x02000000;      // left button held
inline constexpr std::uint32_t mid_down = 0x01000000;  // middle button held
inline constexpr std::uint32_t alt_down = 0x00800000;  // right button held
inline constexpr std::uint32_t aux_down = 0x00400000;  // an extra button held
inline constexpr std::uint32_t buttons = down | mid_down | alt_down | aux_down;
inline constexpr std::uint32_t key_mask = 0xFFFF;
}  // namespace flag

// The keys that are not characters, in the order of their words
// (page-up ... pause); other: a key of that kind with no word.
// ORDER SPECIAL-KEYS
enum class Special : std::int8_t {
    none = -1,  // a character key
    page_up, page_down, end, home, left, up, right, down, insert, delete_,
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12,
    left_shift, right_shift, left_control, right_control, caps_lock, num_lock,
    left_alt, right_alt, left_command, right_command, scroll_lock, pause,
    other,
};
// True for the modifier keys, whose key-down is followed by no key event.
constexpr bool is_modifier(Special k) {
    return k == Special::left_shift || k == Special::right_shift || k == Special::left_control ||
           k == Special::right_control || k == Special::left_alt || k == Special::right_alt;
}

// What the toolkit reported, in terms of our own. Positions are pixels in
// the widget's window; for a wheel, delta is in 120ths of a notch (positive
// away from the user).
struct Message {
    enum class Kind : std::uint8_t {
        none, key_down, key_up, text, button_down, button_up, double_click, motion, leave,
        wheel, scroll, timer, close, move, resize, focus, unfocus,
    };
    std::int32_t widget = 0;        // the widget's record in the back end; 0: none
    Kind kind = Kind::none;
    std::int32_t button = 0;        // 1 left, 2 middle, 3 right, 4 an extra one
    std::uint32_t code = 0;         // key: its key code (a letter's capital); text: the code point
    std::uint32_t character = 0;    // key down: the character the key types, 0 for none
    Special special = Special::none;
    std::int32_t delta = 0;         // wheel; scroll: the scroll code
    bool vertical = true;           // scroll: which bar
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t modifiers = 0;    // flag bits: control, shift, alt and the buttons held
    std::uint32_t time = 0;         // milliseconds, the toolkit's clock
};

// What window events read of the back end. Each returns false when it has
// no answer (the widget is gone, or there is no GUI).
struct Services {
    // The face of the widget, or of the first one up its parents that has one.
    bool (*face)(std::int32_t widget, Cell& out);
    // The face of the top-level window holding the widget.
    bool (*window)(std::int32_t widget, Cell& out);
    // The display's scale: pixels per logical unit.
    double (*dpi_factor)();
};
void install(const Services* services);

// The message stack: the messages being dispatched, innermost last. A
// window event names its message by its place here.
class Dispatching {
public:
    explicit Dispatching(const Message& message);
    ~Dispatching();
    Dispatching(const Dispatching&) = delete;
    Dispatching& operator=(const Dispatching&) = delete;
    // The source word for the event record: the message's place, from 1.
    std::uint32_t source() const { return source_; }

private:
    std::uint32_t source_;
};
// The message a window event names, or null when it is no longer dispatched.
const Message* message_of(const Cell& event);

// A value of an event made by the language: 0 face, 1 window, 2 offset,
// 3 picked; null for a window event or one made without them.
const Cell* made_value(const Cell& event, std::int32_t index);

// The event record: the one window event the back end refills and hands on.
Cell& record();
// Fills the record for message with type and flags.
void fill(const Dispatching& message, Type type, std::uint32_t flags);

// The wheel's picked value: the delta in notches, with deltas past ±24000
// (a 16-bit count that wrapped) folded back by 30720.
double wheel_notches(std::int32_t delta);

// Registers event! (type 54, no parent), after every other type.
void init();

}  // namespace kiv::event
