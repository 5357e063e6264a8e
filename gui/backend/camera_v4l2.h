// One V4L2 device streaming: its memory-mapped buffers and the thread that
// reads them, turns each frame into pixels, keeps the last one for the
// preview and hands it to the frame record when the GUI armed it.
#pragma once

#include "gui/backend/camera.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kiv::camera {

class Capture {
public:
    Capture(std::int32_t widget, Post poster) : widget_(widget), post_(poster) {}
    ~Capture();  // stops the thread and closes the device
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Opens the device, chooses YUYV (else MJPEG), maps its buffers and
    // starts streaming; false with what went wrong in fault.
    bool start(const std::string& path, std::string& fault);
    Frame& frame() { return frame_; }
    // The GUI thread took the last post: the next news posts again.
    void posted_taken() { posted_.store(false); }
    bool with_preview(Paint paint, void* context);

private:
    void run();
    void stop();
    void post();

    std::int32_t widget_;
    Post post_;
    int fd_ = -1;
    std::uint32_t format_ = 0;         // the V4L2 pixel format streamed
    std::int32_t stride_ = 0;          // bytes of a YUYV row
    std::vector<std::pair<void*, std::size_t>> buffers_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> posted_{false};
    Frame frame_;
    std::mutex preview_lock_;
    std::vector<std::uint32_t> preview_;  // the last frame, for the widget to paint
    bool has_preview_ = false;
};

}  // namespace kiv::camera
