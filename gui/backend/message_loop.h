// The message loop: our own turn of the toolkit's loop with the counters
// that let loops nest (a modal window runs one inside an event handler), the
// queue of posted messages, the pre-filter that turns input messages into
// events before the toolkit sees them, and the event maker, which hands the
// event record to system/view/awake and turns its answer into "go on" (1)
// or "consumed" (0). All of it runs on the one GUI thread.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/event.h"

#include <cstdint>

namespace kiv::message_loop {

// Runs a blocking loop until a quit reaches it; answers false. With no_wait,
// handles at most one waiting message and answers whether it handled one.
bool do_events(bool no_wait);
// Posts a quit: the innermost blocking loop ends once the messages posted
// before it are handled. Quits posted before one is taken merge into one.
void post_quit();
// Posts a message, to be dispatched through the pre-filter in its turn.
void post(const event::Message& message);
// True when a posted message or a quit waits.
bool has_posted();
// Handles the oldest posted message, or the quit when none is left: the
// toolkit's source of posted messages calls it.
void dispatch_posted();

// Blocking loops started, lowered when a window that runs one is destroyed.
std::int32_t loop_depth();
// Quits still owed to outer loops.
std::int32_t pending_quits();
// The widget is destroyed: the messages posted for it are dropped, and the
// pointer's last position forgets it.
void forget(std::int32_t widget);
// A window for which a blocking loop runs was destroyed: the loop that runs
// for it ends, and the quit it owes is passed on.
void window_destroyed();

// 1 (or more) to let the toolkit handle the message, 0 to drop it.
int prefilter(const event::Message& message);
// Makes the event of type for message with flags and calls awake; answers 1
// (done: go on with the default handling) or 0 (stop: consumed).
int make_event(const event::Message& message, std::uint32_t flags, event::Type type);
// A face timer of widget ticked.
void timer_tick(std::int32_t widget);
// send-event-os: a language event for a face that has a widget, dispatched
// at once or posted; false when it cannot be sent.
bool send_event(const Cell& event, bool post);

// Forgets every counter and queued message (tests).
void reset();

}  // namespace kiv::message_loop
