// Video capture devices on V4L2: finding them by their capabilities and
// streaming one through memory-mapped buffers on a thread of its own.
#include "gui/backend/camera_v4l2.h"

#include "runtime/datatypes/image.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kiv::camera {

namespace {

// ioctl, tried again when a signal interrupted it.
int control(int fd, unsigned long request, void* argument) {
    int r;
    do r = ::ioctl(fd, request, argument);
    while (r == -1 && errno == EINTR);
    return r;
}

// The number of a "videoN" name, or -1.
long video_number(const char* name) {
    if (std::strncmp(name, "video", 5) != 0 || name[5] == '\0') return -1;
    char* end = nullptr;
    const long n = std::strtol(name + 5, &end, 10);
    return *end == '\0' && n >= 0 ? n : -1;
}

// Streaming frames of the sizes a grab can make into an image!.
constexpr std::int32_t max_pixels = 8192 * 8192;

}  // namespace

bool enumerate(const char* folder, std::vector<Device>& out) {
    out.clear();
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) return false;
    std::vector<std::pair<long, std::string>> names;
    while (const dirent* e = ::readdir(dir))
        if (const long n = video_number(e->d_name); n >= 0) names.emplace_back(n, e->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const auto& [number, name] : names) {
        const std::string path = std::string(folder) + "/" + name;
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability caps{};
        const bool queried = control(fd, VIDIOC_QUERYCAP, &caps) == 0;
        ::close(fd);
        if (!queried) continue;
        // A device node of a driver with several nodes tells its own capabilities apart.
        const std::uint32_t own = (caps.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? caps.device_caps : caps.capabilities;
        if ((own & V4L2_CAP_VIDEO_CAPTURE) == 0 || (own & V4L2_CAP_STREAMING) == 0) continue;
        const char* card = reinterpret_cast<const char*>(caps.card);
        out.push_back(Device{path, std::string(card, ::strnlen(card, sizeof caps.card))});
    }
    return true;
}

Capture::~Capture() { stop(); }

bool Capture::start(const std::string& path, std::string& fault) {
    const auto failed = [&](const char* what) {
        fault = path + ": " + what + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
        stop();
        return false;
    };
    errno = 0;
    fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return failed("cannot open the device");
    // YUYV when the device gives it, else MJPEG.
    bool yuyv = false, mjpeg = false;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (desc.index = 0; control(fd_, VIDIOC_ENUM_FMT, &desc) == 0; ++desc.index) {
        yuyv = yuyv || desc.pixelformat == V4L2_PIX_FMT_YUYV;
        mjpeg = mjpeg || desc.pixelformat == V4L2_PIX_FMT_MJPEG;
    }
    errno = 0;
    if (!yuyv && !mjpeg) return failed("This device cannot preview!");
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = 640;
    format.fmt.pix.height = 480;
    format.fmt.pix.pixelformat = yuyv ? V4L2_PIX_FMT_YUYV : V4L2_PIX_FMT_MJPEG;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    if (control(fd_, VIDIOC_S_FMT, &format) != 0) return failed("cannot set the frame format");
    const std::uint32_t w = format.fmt.pix.width, h = format.fmt.pix.height;
    format_ = format.fmt.pix.pixelformat;
    if ((format_ != V4L2_PIX_FMT_YUYV && format_ != V4L2_PIX_FMT_MJPEG) || w == 0 || h == 0 ||
        w > static_cast<std::uint32_t>(image::max_side) || h > static_cast<std::uint32_t>(image::max_side) ||
        static_cast<std::uint64_t>(w) * h > max_pixels)
        return failed("This device cannot preview!");
    stride_ = static_cast<std::int32_t>(std::max(format.fmt.pix.bytesperline, w * 2));
    frame_.resize(static_cast<std::int32_t>(w), static_cast<std::int32_t>(h));
    preview_.assign(frame_.pixels.size(), 0xFF000000u);

    v4l2_requestbuffers request{};
    request.count = 4;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (control(fd_, VIDIOC_REQBUFS, &request) != 0 || request.count == 0) return failed("cannot get frame buffers");
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        if (control(fd_, VIDIOC_QUERYBUF, &b) != 0) return failed("cannot get frame buffers");
        void* at = ::mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, b.m.offset);
        if (at == MAP_FAILED) return failed("cannot map frame buffers");
        buffers_.emplace_back(at, b.length);
        if (control(fd_, VIDIOC_QBUF, &b) != 0) return failed("cannot queue frame buffers");
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (control(fd_, VIDIOC_STREAMON, &type) != 0) return failed("cannot start streaming");
    thread_ = std::thread([this] { run(); });
    return true;
}

void Capture::stop() {
    stopping_.store(true);
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        control(fd_, VIDIOC_STREAMOFF, &type);
    }
    for (const auto& [at, length] : buffers_) ::munmap(at, length);
    buffers_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void Capture::post() {
    if (post_ != nullptr && !posted_.exchange(true)) post_(widget_);
}

// The streaming thread: frames until stopped or until the device fails (it
// was unplugged), which ends the stream for good.
void Capture::run() {
    std::vector<std::uint32_t> pixels(frame_.pixels.size(), 0xFF000000u);
    while (!stopping_.load()) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;
        if (ready == 0) continue;
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (control(fd_, VIDIOC_DQBUF, &b) != 0) {
            if (errno == EAGAIN) continue;
            break;
        }
        if (b.index < buffers_.size() && (b.flags & V4L2_BUF_FLAG_ERROR) == 0) {
            const auto* data = static_cast<const std::uint8_t*>(buffers_[b.index].first);
            const std::size_t length = std::min<std::size_t>(b.bytesused, buffers_[b.index].second);
            bool good = true;
            if (format_ == V4L2_PIX_FMT_YUYV) yuyv_to_pixels(data, length, stride_, pixels.data(), frame_.width, frame_.height);
            else good = jpeg_to_pixels(data, length, pixels.data(), frame_.width, frame_.height);
            if (good) {
                {
                    const std::lock_guard<std::mutex> hold(preview_lock_);
                    preview_ = pixels;
                    has_preview_ = true;
                }
                deliver_bytes(frame_, reinterpret_cast<const std::uint8_t*>(pixels.data()), pixels.size() * 4);
                post();
            }
        }
        if (control(fd_, VIDIOC_QBUF, &b) != 0) break;
    }
    frame_.ended.store(!stopping_.load());
}

bool Capture::with_preview(Paint paint, void* context) {
    const std::lock_guard<std::mutex> hold(preview_lock_);
    if (!has_preview_) return false;
    paint(context, preview_.data(), frame_.width, frame_.height);
    return true;
}

}  // namespace kiv::camera
