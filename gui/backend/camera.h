// The camera face: video capture devices through V4L2. Each camera widget
// has a record: the devices found (their card names fill the face's `data`),
// and, once one is opened, a capture whose streaming thread reads frames.
//
// That thread is the only one besides the GUI thread. Frames cross to the
// GUI thread through one state word per camera:
//
//   idle (0)    --GUI arms-->           armed (1)
//   armed (1)   --stream, CAS-->        copying (3)   the frame is written
//   copying (3) --stream, store-->      ready (2)     then the GUI is told
//   armed (1)   --GUI, CAS, timeout-->  idle (0)
//   ready (2)   --GUI, image made-->    idle (0)
//
// The frame buffer is written only in copying and read only in ready, so it
// needs no lock. The streaming thread never touches the language: it only
// asks the toolkit to call take_frame on the GUI thread.
#pragma once

#include "runtime/core/cell.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv::camera {

enum State : std::int32_t { idle = 0, armed = 1, ready = 2, copying = 3 };

// How long a grab waits for a frame, in seconds.
inline constexpr double grab_timeout = 3.0;

// The frame shared with the streaming thread: pixels are 0xAARRGGBB words.
struct Frame {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels;   // width x height, sized before streaming starts
    std::atomic<std::int32_t> state{idle};
    std::atomic<bool> ended{false};      // the stream stopped for good (the device went away)

    void resize(std::int32_t w, std::int32_t h);
};

// --- The streaming side ------------------------------------------------------

// Writes the frame's pixels (width x height of them).
using Fill = void (*)(void* context, std::uint32_t* pixels, std::int32_t width, std::int32_t height);
// Offers a frame: taken only when the GUI armed the record (armed -> copying,
// filled, then ready). Answers whether it was taken; the caller then tells
// the GUI thread.
bool deliver(Frame& frame, Fill fill, void* context);
// The same for a frame of ARGB bytes: at most width x height x 4 of them are
// copied, a longer buffer is cut.
bool deliver_bytes(Frame& frame, const std::uint8_t* bytes, std::size_t length);

// --- The GUI side --------------------------------------------------------------

// Arms the record and waits (in steps of 10 ms) until a frame is ready, the
// stream ended or timeout seconds passed; then takes the record back. True
// with a frame ready: the caller reads it and calls release.
bool wait_for_frame(Frame& frame, double timeout);
// Back to idle.
void release(Frame& frame);
// A grab: out becomes an image! of the frame, or none.
void grab(Frame& frame, double timeout, Cell& out);

// --- Frame formats ---------------------------------------------------------------

// YUYV 4:2:2 (BT.601, studio range) to pixels; stride is the bytes of a row.
// Rows or pixels the data does not reach are left as they were.
void yuyv_to_pixels(const std::uint8_t* data, std::size_t length, std::int32_t stride,
                    std::uint32_t* pixels, std::int32_t width, std::int32_t height);
// A JPEG image (a frame of MJPEG) to pixels, cut or left short to width x
// height; false when the data is no JPEG it can read.
bool jpeg_to_pixels(const std::uint8_t* data, std::size_t length, std::uint32_t* pixels,
                    std::int32_t width, std::int32_t height);

// --- Devices ---------------------------------------------------------------------

struct Device {
    std::string path;  // /dev/videoN
    std::string card;  // the name the driver gives the device
};
// The video capture devices among folder's videoN entries, by number;
// false when the folder cannot be read.
bool enumerate(const char* folder, std::vector<Device>& out);

// --- Camera widgets -------------------------------------------------------------

// Tells the GUI thread (from the streaming thread) that widget has news: a
// frame ready or a new picture to show. The toolkit module's
// kiv_gui_camera_post; none with the recording toolkit.
using Post = void (*)(std::int32_t widget);

// The camera set-up of a made widget: the devices' card names are appended
// to the face's `data` ("No video capture hardware" is printed when there is
// none), and an integer `selected` opens that device (1-based) and starts it.
// The recording toolkit finds no device, so that tests read the same
// everywhere.
void init(std::int32_t widget, const Cell& face);
// The same with the devices of folder (none when null).
void init_from(std::int32_t widget, const Cell& face, const char* folder);
// `selected` changed: the device of that number streams instead (none or a
// number out of range stops it).
void select(std::int32_t widget, const Cell& selected);
// The widget is destroyed: its stream stops and its record goes.
void free(std::int32_t widget);
// `to image!` of a camera face: a frame grabbed from its stream, or none
// when it has none, the stream ended or no frame came in time.
void grab_image(std::int32_t widget, Cell& out);
// GUI thread, after a post: a ready frame becomes the face's `image` when
// that is none.
void take_frame(std::int32_t widget);
// Calls paint with the last picture of widget's stream (under its lock);
// false when there is none.
using Paint = void (*)(void* context, const std::uint32_t* pixels, std::int32_t width, std::int32_t height);
bool with_preview(std::int32_t widget, Paint paint, void* context);
// The number of camera records (tests).
std::size_t count();

}  // namespace kiv::camera

// The toolkit module's side of a camera widget: the drawing area that shows
// the picture, fitted to its size with the aspect kept, and the post.
//   void* kiv_gui_camera_widget(std::int32_t widget)   a GtkWidget*
//   void kiv_gui_camera_post(std::int32_t widget)      thread-safe
