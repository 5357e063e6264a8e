// Tracing: at fixed points the interpreter raises events that an installed
// tracer function receives, when the event's bit is in the tracer's mask. The
// tracer runs with tracing off, on the traced code's stacks above their top.
// Callbacks from native code into language code carry a mask bit that decides
// whether tracing stays on while they run.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

#include <cstdint>

namespace kiv::tracing {

// Trace events: mask bits; the tracer's first argument is the event's word.
enum class Event : std::uint32_t {
    init = 0x1, end = 0x2, prolog = 0x4, epilog = 0x8, enter = 0x10, exit = 0x20,
    open = 0x40, return_ = 0x80, fetch = 0x100, push = 0x200, set = 0x400, call = 0x800,
    error = 0x1000, throw_ = 0x2000, catch_ = 0x4000, expr = 0x8000,
};
// Mask of a tracer whose body does not begin with a block of event words.
inline constexpr std::uint32_t default_mask = 0x1FFFF;

// Callback kinds: bits of the callback trace mask.
inline constexpr std::uint32_t callback_lexer = 0x1;
inline constexpr std::uint32_t callback_parse = 0x2;
inline constexpr std::uint32_t callback_compare = 0x4;
inline constexpr std::uint32_t callback_on_change = 0x8;
inline constexpr std::uint32_t callback_on_deep_change = 0x10;
inline constexpr std::uint32_t callback_port = 0x20;

// Process-wide tracing state.
struct State {
    bool on = false;          // tracing active: every event site tests it first
    bool requested = false;   // a tracer is installed
    std::uint32_t mask = 0;   // events the tracer receives
    std::uint32_t callback_mask = 0;    // callbacks that stay traced
    bool running = false;     // the tracer is running: tracing cannot come back on
    NodeId typed_node = 0;    // the paren whose events are raised
    TypeId typed_as = TypeId::block;  // its type
};
inline State state;

// True when event e is to be raised.
inline bool wanted(Event e) { return state.on && (state.mask & static_cast<std::uint32_t>(e)); }

// Whether tracing may be switched on: a tracer is installed and not running.
inline bool available() { return state.requested && !state.running; }

// Takes the tracer cell in the root block (none).
void init();
// The installed tracer (none when none is installed).
Cell& tracer();

// Raises event e: calls the tracer with the event word, the code (node code
// as a code_type, or as the type a CodeKind in scope gives it; none when 0)
// and the position index pos in it (-1 when none or outside), the value
// (none when null or unset), the reference (for prolog, epilog, return, set
// and call) and a pair! of the argument base and top. Does nothing unless
// wanted(e). A throw out of the tracer passes on.
void trace_event(Event e, NodeId code, std::int32_t pos, const Cell* reference,
                 const Cell* value, TypeId code_type = TypeId::block);
// The inline test in front of trace_event, for the interpreter's hot paths.
inline void trace(Event e, NodeId code, std::int32_t pos, const Cell* reference,
                  const Cell* value, TypeId code_type = TypeId::block) {
    if (wanted(e)) trace_event(e, code, pos, reference, value, code_type);
}

// The event mask of tracer: the events named in the block that begins the
// first block of its body, else default_mask.
std::uint32_t mask_of(const Cell& tracer);
// Installs tracer when none is installed (raises init); false when one is
// already installed (a nested request runs untraced by a second tracer).
bool install(const Cell& tracer);
// Raises end and removes the tracer; the tracer is gone also when its end
// event raises an error. A caller unwinding a throw sets it aside first and
// passes it on afterwards.
void remove();

// While in scope, the tracer receives the code of node (a paren) as a value
// of type rather than as a block.
class CodeKind {
public:
    CodeKind(NodeId node, TypeId type) : node_(state.typed_node), type_(state.typed_as) {
        state.typed_node = node;
        state.typed_as = type;
    }
    ~CodeKind() {
        state.typed_node = node_;
        state.typed_as = type_;
    }
    CodeKind(const CodeKind&) = delete;
    CodeKind& operator=(const CodeKind&) = delete;

private:
    NodeId node_;
    TypeId type_;
};

// Switches tracing for the duration of a scope and restores it after.
class Scope {
public:
    explicit Scope(bool on) : saved_(state.on) { state.on = on; }
    ~Scope() { state.on = saved_; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    bool saved_;
};

}  // namespace kiv::tracing
