// The back end's record of each widget it made: the face it shows (kept
// alive through a slot of the slot pool), its parent, its flags and the
// toolkit's own handle. Messages and event records name a widget by its
// index here, never by a pointer; a destroyed widget's index reads as gone
// until it is used again.
#pragma once

#include "runtime/core/cell.h"

#include <cstdint>
#include <vector>

namespace kiv::widgets {

// Face flag bits (from the face's `flags` facet).
namespace face_flag {
inline constexpr std::uint32_t all_over = 0x1;
inline constexpr std::uint32_t focusable = 0x2;
inline constexpr std::uint32_t tri_state = 0x20000;
inline constexpr std::uint32_t scrollable = 0x40000;
inline constexpr std::uint32_t password = 0x80000;
inline constexpr std::uint32_t no_sync = 0x100000;
inline constexpr std::uint32_t fullscreen = 0x200000;
inline constexpr std::uint32_t popup = 0x1000000;
inline constexpr std::uint32_t modal = 0x2000000;
inline constexpr std::uint32_t resize = 0x4000000;
inline constexpr std::uint32_t no_buttons = 0x8000000;
inline constexpr std::uint32_t no_max = 0x10000000;
inline constexpr std::uint32_t no_min = 0x20000000;
inline constexpr std::uint32_t no_title = 0x40000000;
inline constexpr std::uint32_t no_border = 0x80000000;
}  // namespace face_flag

// Back-end flags of a widget.
namespace backend_flag {
inline constexpr std::uint32_t clip = 0x1;        // a clip region is set
inline constexpr std::uint32_t caret = 0x2;       // the face's options hold `caret`
inline constexpr std::uint32_t owns_caret = 0x8;
inline constexpr std::uint32_t pair_size = 0x10;  // the face's size was a pair!: sizes read back as pairs
}  // namespace backend_flag

// A face's facets, by their place in the face! template.
enum class Facet : std::int32_t {
    type, offset, size, text, image, color, menu, data, enabled_q, visible_q, selected, flags,
    options, parent, pane, state, rate, edge, para, font, actors, extra, draw,
};
inline constexpr std::int32_t facet_count = 23;
// A facet's change bit in a face's state: 1 << its place in face!.
constexpr std::uint32_t change_bit(Facet f) { return 1u << static_cast<std::int32_t>(f); }

// The face types the back end makes widgets for, from a face's `type` word.
// ORDER FACE-TYPES
enum class FaceType : std::uint8_t {
    unknown, window, panel, group_box, tab_panel, base, rich_text, button, toggle, check, radio,
    field, area, text, text_list, drop_list, drop_down, progress, slider, scroller, calendar,
    camera, screen,
};
// The type of a face (unknown for any other value or word).
FaceType type_of(const Cell& face);
// Drawn faces: painted by the program (their colour and draw block), not by a native widget.
constexpr bool drawn(FaceType t) {
    return t == FaceType::window || t == FaceType::panel || t == FaceType::base || t == FaceType::rich_text;
}

struct Widget {
    bool live = false;
    FaceType type = FaceType::unknown;
    std::int32_t face_slot = 0;      // the face's slot in the slot pool; 0: none
    std::int32_t parent = 0;         // the parent widget; 0: none (a top-level window)
    std::uint32_t face_flags = 0;    // face_flag bits
    std::uint32_t backend_flags = 0;
    void* native = nullptr;          // the toolkit's handle
};

// Makes a record for face under parent (0 for none); returns its index (1 up).
std::int32_t add(const Cell& face, std::int32_t parent);
// Live records.
std::int32_t live_count();
// The live record of index, or null.
Widget* get(std::int32_t index);
// Frees the record and its face's slot.
void remove(std::int32_t index);
// The face of the widget into out; false when it has none.
bool face_of(std::int32_t index, Cell& out);
// The top-level widget holding index (itself for a window), or 0.
std::int32_t root_of(std::int32_t index);
// The live widgets below index and index itself, the deepest first: the order
// in which a widget tree is destroyed.
std::vector<std::int32_t> subtree(std::int32_t index);

// The face's facet cell, or null when face is not an object with the
// face's fields.
const Cell* facet(const Cell& face, Facet f);
// The widget at the head of the face's `state` block (a handle!) when it was
// made for this face, or 0.
std::int32_t of_face(const Cell& face);
// The face flag bits of a `flags` facet: one word or a block of words.
std::uint32_t flags_of(const Cell& facet);

// True for the text values a list shows as entries: string!, file!, url!,
// tag!, email! and ref!.
bool string_like(const Cell& value);

// Replaces the face's `text` with a new string! of utf8 (ownership passes
// from the old text to the new one).
void set_text(const Cell& face, const char* utf8, std::int32_t length);

// Reads the widget's text back into the face's `text` (index -1), or the
// text of its list entry index; nothing when the face has no widget.
void read_back_text(const Cell& face, std::int32_t index);

// Registers the readers event! uses for window events.
void install_event_services();

}  // namespace kiv::widgets
