// The camera without a device: the frame state machine against a fake
// streaming thread, the frame formats, device discovery in folders with no
// capture device, and a camera face set up on a machine without one.
#include "gui/backend/camera.h"

#include "gui/backend/gui.h"
#include "gui/backend/widgets.h"
#include "runtime/core/output_hooks.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/string.h"
#include "runtime/startup/embed.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <jpeglib.h>

namespace kiv::camera {
namespace {

using Clock = std::chrono::steady_clock;

// The runtime with the engine on the recording toolkit, started once.
void boot_once() {
    static const bool booted = [] {
        ::setenv("KIV_GUI", "record", 1);
        gui::add_routines();
        embed::boot();
        gui::load_engine();
        return true;
    }();
    (void)booted;
}

// A streaming thread that offers frames as fast as it can, every pixel of
// frame n being n, until told to stop.
class FakeStream {
public:
    explicit FakeStream(Frame& frame) : thread_([this, &frame] {
        for (std::uint32_t n = 1; !stop_.load(); ++n) {
            if (deliver(frame, fill, &n)) delivered_.fetch_add(1);
        }
    }) {}
    ~FakeStream() {
        stop_.store(true);
        thread_.join();
    }
    int delivered() const { return delivered_.load(); }

private:
    static void fill(void* context, std::uint32_t* pixels, std::int32_t width, std::int32_t height) {
        const std::uint32_t n = *static_cast<std::uint32_t*>(context);
        for (std::int32_t i = 0; i < width * height; ++i) {
            pixels[i] = n;
            if (i % 7 == 0) std::this_thread::yield();  // a slow copy: let the GUI side run into it
        }
    }
    std::atomic<bool> stop_{false};
    std::atomic<int> delivered_{0};
    std::thread thread_;
};

// True when every pixel is the same: the frame was never read half-written.
bool whole(const std::vector<std::uint32_t>& pixels) {
    for (const std::uint32_t p : pixels)
        if (p != pixels.front()) return false;
    return true;
}

TEST(CameraFrame, FramesAreDroppedUnlessArmed) {
    Frame frame;
    frame.resize(2, 2);
    const std::uint8_t bytes[16] = {1, 2, 3, 4};
    for (const State s : {idle, ready, copying}) {
        frame.state.store(s);
        EXPECT_FALSE(deliver_bytes(frame, bytes, sizeof bytes));
        EXPECT_EQ(frame.state.load(), s);
        EXPECT_EQ(frame.pixels[0], 0xFF000000u);
    }
    frame.state.store(armed);
    EXPECT_TRUE(deliver_bytes(frame, bytes, sizeof bytes));
    EXPECT_EQ(frame.state.load(), ready);
    EXPECT_EQ(frame.pixels[0], 0x04030201u);
}

TEST(CameraFrame, BuffersAreCutToTheFrameOrLeaveTheRest) {
    Frame frame;
    frame.resize(2, 1);
    std::vector<std::uint8_t> longer(64, 0xAB);
    frame.state.store(armed);
    ASSERT_TRUE(deliver_bytes(frame, longer.data(), longer.size()));  // 8 bytes of 64 land
    EXPECT_EQ(frame.pixels, (std::vector<std::uint32_t>{0xABABABABu, 0xABABABABu}));
    const std::uint8_t shorter[4] = {1, 1, 1, 1};
    frame.state.store(armed);
    ASSERT_TRUE(deliver_bytes(frame, shorter, sizeof shorter));
    EXPECT_EQ(frame.pixels, (std::vector<std::uint32_t>{0x01010101u, 0xABABABABu}));
}

TEST(CameraFrame, GrabsFromAStreamGiveWholeFrames) {
    boot_once();
    Frame frame;
    frame.resize(64, 48);
    FakeStream stream(frame);
    for (int i = 0; i < 40; ++i) {
        Cell image{};
        grab(frame, 2.0, image);
        ASSERT_TRUE(image.is(TypeId::image));
        ASSERT_EQ(image::width_of(image), 64);
        ASSERT_EQ(image::height_of(image), 48);
        const std::uint32_t* p = image::pixels(image);
        const std::vector<std::uint32_t> got(p, p + 64 * 48);
        EXPECT_TRUE(whole(got)) << "grab " << i;
        EXPECT_EQ(frame.state.load(), idle);
    }
}

// The GUI side disarms at once, over and over, while frames stream: each
// time the frame is either taken whole or not at all, and the record ends idle.
TEST(CameraFrame, DisarmingRacesTheStream) {
    Frame frame;
    frame.resize(16, 16);
    int taken = 0;
    {
        FakeStream stream(frame);
        for (int i = 0; i < 200; ++i) {  // each wait sleeps 10 ms once
            if (wait_for_frame(frame, 0.0)) {
                ++taken;
                EXPECT_TRUE(whole(frame.pixels));
            }
            EXPECT_NE(frame.state.load(), copying);
            release(frame);
        }
    }
    EXPECT_EQ(frame.state.load(), idle);
    EXPECT_GT(taken, 0);
}

TEST(CameraFrame, NoFrameTimesOutAndAnEndedStreamAnswersAtOnce) {
    boot_once();
    Frame frame;
    frame.resize(4, 4);
    Cell image{};
    const auto start = Clock::now();
    grab(frame, 0.2, image);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_TRUE(image.is(TypeId::none));
    EXPECT_EQ(frame.state.load(), idle);

    frame.ended.store(true);  // the device went away while streaming
    const auto again = Clock::now();
    grab(frame, 60.0, image);
    EXPECT_LT(Clock::now() - again, std::chrono::seconds(5));
    EXPECT_TRUE(image.is(TypeId::none));

    Frame empty;  // never opened: nothing to wait for
    grab(empty, 60.0, image);
    EXPECT_TRUE(image.is(TypeId::none));
}

TEST(CameraFormats, YuyvToPixels) {
    struct Case {
        std::uint8_t y, u, v;
        std::uint32_t pixel;
    };
    const Case cases[] = {
        {16, 128, 128, 0xFF000000u},   // black
        {235, 128, 128, 0xFFFFFFFFu},  // white
        {0, 128, 128, 0xFF000000u},    // below black is cut
        {81, 90, 240, 0xFFFF0000u},    // red
        {145, 54, 34, 0xFF00FF00u},    // green
        {41, 240, 110, 0xFF0000FFu},   // blue
    };
    for (const Case& c : cases) {
        const std::uint8_t pair[4] = {c.y, c.u, c.y, c.v};
        std::uint32_t out[2] = {};
        yuyv_to_pixels(pair, sizeof pair, 4, out, 2, 1);
        // Studio-range rounding leaves a step or two on each channel.
        for (int shift : {0, 8, 16})
            EXPECT_NEAR(static_cast<int>(out[0] >> shift & 0xFF), static_cast<int>(c.pixel >> shift & 0xFF), 2)
                << int(c.y) << " " << int(c.u) << " " << int(c.v);
        EXPECT_EQ(out[0], out[1]);
    }
    // A short frame and rows wider than the picture: what is missing stays.
    std::vector<std::uint8_t> rows(2 * 8, 235);
    for (std::size_t i = 1; i < rows.size(); i += 2) rows[i] = 128;
    std::uint32_t out[2 * 2] = {1, 1, 1, 1};
    yuyv_to_pixels(rows.data(), 8 + 3, 8, out, 2, 2);  // stride 8 for 2 pixels; the second row is cut
    EXPECT_EQ(out[0], 0xFFFFFFFFu);
    EXPECT_EQ(out[2], 1u);
}

// A JPEG of width x height in one colour.
std::vector<std::uint8_t> jpeg_of(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    for (int x = 0; x < width; ++x) row[3 * x] = r, row[3 * x + 1] = g, row[3 * x + 2] = b;
    while (info.next_scanline < info.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

TEST(CameraFormats, JpegToPixels) {
    const std::vector<std::uint8_t> red = jpeg_of(32, 16, 255, 0, 0);
    std::vector<std::uint32_t> pixels(16 * 8, 7);
    ASSERT_TRUE(jpeg_to_pixels(red.data(), red.size(), pixels.data(), 16, 8));  // a larger picture is cut
    for (const std::uint32_t p : pixels) {
        EXPECT_EQ(p >> 24, 0xFFu);
        EXPECT_GT(p >> 16 & 0xFF, 240u);
        EXPECT_LT(p & 0xFFFF, 0x1010u);
    }
    std::vector<std::uint32_t> big(64 * 32, 7);
    ASSERT_TRUE(jpeg_to_pixels(red.data(), red.size(), big.data(), 64, 32));  // a smaller one leaves the rest
    EXPECT_NE(big[0], 7u);
    EXPECT_EQ(big[40], 7u);
    EXPECT_EQ(big[20 * 64], 7u);
    // Not JPEG, or cut short: refused or read as far as it goes, never a crash.
    const std::uint8_t junk[] = {0xFF, 0xD8, 0x00, 0x01, 0x02, 0x03, 0x04};
    EXPECT_FALSE(jpeg_to_pixels(junk, sizeof junk, pixels.data(), 16, 8));
    EXPECT_FALSE(jpeg_to_pixels(junk, 2, pixels.data(), 16, 8));
    jpeg_to_pixels(red.data(), red.size() / 2, pixels.data(), 16, 8);
}

TEST(CameraDevices, FoldersWithoutCaptureDevices) {
    std::vector<Device> found{{"x", "y"}};
    EXPECT_FALSE(enumerate("/nonexistent-folder", found));
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kiv-camera-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    EXPECT_TRUE(enumerate(dir.c_str(), found));
    EXPECT_TRUE(found.empty());
    // Names like a device's that are no device: a plain file, and /dev/null's kind.
    std::ofstream(dir / "video0") << "not a device";
    std::filesystem::create_symlink("/dev/null", dir / "video1");
    std::ofstream(dir / "videoX") << "";
    EXPECT_TRUE(enumerate(dir.c_str(), found));
    EXPECT_TRUE(found.empty());
    std::filesystem::remove_all(dir);
}

std::string printed;
void keep_print(const Cell* text, bool) { printed += string::utf8_of(*text) + "\n"; }

// A camera face on a machine with no capture device: the message, an empty
// `data`, and grabs that give none at once.
TEST(CameraFace, NoCaptureHardware) {
    boot_once();
    const embed::Result made = embed::eval_text(
        "cam: make face! [type: 'camera selected: 1]  h: system/view/platform/make-view cam system/view/platform/make-null-handle");
    ASSERT_TRUE(made.ok) << embed::error_report(made.value);
    std::int32_t widget = 1;  // the only widget made in this process
    Cell face{};
    ASSERT_TRUE(widgets::face_of(widget, face));
    output_hooks::register_(keep_print, nullptr);
    printed.clear();
    init_from(widget, face, std::filesystem::temp_directory_path().c_str());
    output_hooks::unregister(keep_print, nullptr);
    EXPECT_EQ(printed, "No video capture hardware\n");
    EXPECT_EQ(embed::mold(embed::eval_text("cam/data").value), "none");
    EXPECT_EQ(count(), 0u);
    Cell image{};
    const auto start = Clock::now();
    grab_image(widget, image);
    EXPECT_TRUE(image.is(TypeId::none));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    take_frame(widget);  // a late post finds nothing to do
    select(widget, image);
    free(widget);
}

}  // namespace
}  // namespace kiv::camera
