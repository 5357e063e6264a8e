// The camera's state machine and its widgets' records. The V4L2 side (the
// devices and the streaming thread) is in camera_v4l2.cpp, the frame formats
// in camera_frames.cpp.
#include "gui/backend/camera.h"

#include "gui/backend/camera_v4l2.h"
#include "gui/backend/toolkit.h"
#include "gui/backend/widgets.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/startup/embed.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

namespace kiv::camera {

void Frame::resize(std::int32_t w, std::int32_t h) {
    width = w;
    height = h;
    pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0xFF000000u);
}

// --- The state machine ---------------------------------------------------------

bool deliver(Frame& frame, Fill fill, void* context) {
    std::int32_t expected = armed;
    if (!frame.state.compare_exchange_strong(expected, copying, std::memory_order_acq_rel)) return false;
    fill(context, frame.pixels.data(), frame.width, frame.height);
    frame.state.store(ready, std::memory_order_seq_cst);
    return true;
}

bool deliver_bytes(Frame& frame, const std::uint8_t* bytes, std::size_t length) {
    struct Bytes {
        const std::uint8_t* data;
        std::size_t length;
    } source{bytes, length};
    return deliver(
        frame,
        [](void* context, std::uint32_t* pixels, std::int32_t width, std::int32_t height) {
            const auto* from = static_cast<const Bytes*>(context);
            const std::size_t room = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
            std::memcpy(pixels, from->data, std::min(from->length, room));
        },
        &source);
}

bool wait_for_frame(Frame& frame, double timeout) {
    using namespace std::chrono_literals;
    frame.state.store(armed, std::memory_order_seq_cst);
    for (double waited = 0.0; frame.state.load() != ready && !frame.ended.load() && waited <= timeout; waited += 0.01)
        std::this_thread::sleep_for(10ms);
    // Disarm; when the stream claimed the frame first, it is being copied: wait for it.
    std::int32_t expected = armed;
    if (!frame.state.compare_exchange_strong(expected, idle, std::memory_order_acq_rel))
        while (frame.state.load() == copying) std::this_thread::sleep_for(1ms);
    return frame.state.load() == ready;
}

void release(Frame& frame) { frame.state.store(idle, std::memory_order_seq_cst); }

namespace {

// An image! of the frame's pixels, opaque.
void image_of(const Frame& frame, Cell& out) {
    image::make_at(out, frame.width, frame.height, 0xFF000000u);
    std::uint32_t* to = image::pixels(out);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) to[i] = frame.pixels[i] | 0xFF000000u;
}

}  // namespace

void grab(Frame& frame, double timeout, Cell& out) {
    none::make_at(out);
    if (frame.width <= 0 || frame.height <= 0) return;
    if (wait_for_frame(frame, timeout)) image_of(frame, out);
    release(frame);
}

// --- Camera widgets ---------------------------------------------------------------

namespace {

struct Camera {
    std::vector<Device> devices;
    std::unique_ptr<Capture> capture;  // the device streaming, if any
};

std::map<std::int32_t, std::unique_ptr<Camera>>& cameras() {
    static std::map<std::int32_t, std::unique_ptr<Camera>> all;
    return all;
}

Camera* camera_of(std::int32_t widget) {
    const auto it = cameras().find(widget);
    return it != cameras().end() ? it->second.get() : nullptr;
}

// The face's facet, writable.
Cell* facet_of(std::int32_t widget, widgets::Facet f) {
    Cell face{};
    if (!widgets::face_of(widget, face)) return nullptr;
    return const_cast<Cell*>(widgets::facet(face, f));
}

Post post_function() {
    if (toolkit::recording()) return nullptr;
    return reinterpret_cast<Post>(toolkit::module_symbol("kiv_gui_camera_post"));
}

// Streams device number index (from 0) of the camera, or nothing when the
// index is out of range; a failure to start is printed.
void open_device(std::int32_t widget, Camera& camera, std::int64_t index) {
    camera.capture.reset();  // the running stream stops first
    if (index < 0 || index >= static_cast<std::int64_t>(camera.devices.size())) return;
    auto capture = std::make_unique<Capture>(widget, post_function());
    std::string fault;
    if (!capture->start(camera.devices[static_cast<std::size_t>(index)].path, fault)) {
        embed::print(fault, true);
        return;
    }
    camera.capture = std::move(capture);
}

}  // namespace

void init(std::int32_t widget, const Cell& face) { init_from(widget, face, toolkit::recording() ? nullptr : "/dev"); }

void init_from(std::int32_t widget, const Cell& face, const char* folder) {
    cameras().erase(widget);
    std::vector<Device> devices;
    if (folder != nullptr && !enumerate(folder, devices)) {
        embed::print("Error Creating Device Enumerator", true);
        return;
    }
    if (devices.empty()) {
        embed::print("No video capture hardware", true);
        return;
    }
    auto camera = std::make_unique<Camera>();
    camera->devices = std::move(devices);
    Cell* data = const_cast<Cell*>(widgets::facet(face, widgets::Facet::data));
    if (data != nullptr) {
        if (!data->is(TypeId::block)) {
            Cell list{};
            block::make_at(list, static_cast<std::int32_t>(camera->devices.size()));
            *const_cast<Cell*>(widgets::facet(face, widgets::Facet::data)) = list;
        }
        const Cell list = *widgets::facet(face, widgets::Facet::data);
        const collector::Root keep(list);
        for (const Device& d : camera->devices) {
            Cell name{};
            string::make_at(name, static_cast<std::int32_t>(d.card.size()) + 1);
            string::append_utf8(name.series_node(), d.card.data(), static_cast<std::int32_t>(d.card.size()));
            block::append_copy(list, name);
        }
    }
    Camera& made = *camera;
    cameras()[widget] = std::move(camera);
    if (const Cell* selected = widgets::facet(face, widgets::Facet::selected); selected != nullptr && selected->is(TypeId::integer))
        open_device(widget, made, static_cast<std::int64_t>(selected->int_value()) - 1);
}

void select(std::int32_t widget, const Cell& selected) {
    Camera* camera = camera_of(widget);
    if (camera == nullptr) return;
    open_device(widget, *camera, selected.is(TypeId::integer) ? static_cast<std::int64_t>(selected.int_value()) - 1 : -1);
}

void free(std::int32_t widget) { cameras().erase(widget); }

void grab_image(std::int32_t widget, Cell& out) {
    none::make_at(out);
    Camera* camera = camera_of(widget);
    if (camera == nullptr || camera->capture == nullptr) return;
    grab(camera->capture->frame(), grab_timeout, out);
}

void take_frame(std::int32_t widget) {
    Camera* camera = camera_of(widget);
    if (camera == nullptr || camera->capture == nullptr) return;
    camera->capture->posted_taken();
    Frame& frame = camera->capture->frame();
    if (frame.state.load() != ready) return;
    if (const Cell* image = facet_of(widget, widgets::Facet::image); image != nullptr && image->is(TypeId::none)) {
        Cell made{};
        image_of(frame, made);
        if (Cell* place = facet_of(widget, widgets::Facet::image)) *place = made;
    }
    release(frame);
}

bool with_preview(std::int32_t widget, Paint paint, void* context) {
    Camera* camera = camera_of(widget);
    return camera != nullptr && camera->capture != nullptr && camera->capture->with_preview(paint, context);
}

std::size_t count() { return cameras().size(); }

}  // namespace kiv::camera
