// The image decoders on damaged and hostile data. Every cut and every
// corrupted byte of a valid file gives false or an image (a cut file never a
// wrong one), nothing reaches the standard error, and headers that ask for
// more pixels than their data can hold are refused before the image is made.
#include "runtime/datatypes/image_codecs.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/image.h"

#include "tests/support/runtime_fixture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <sys/resource.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

const auto* const runtime_env = test::boot_runtime();

using Bytes = std::vector<std::uint8_t>;

Cell gradient(std::int32_t w, std::int32_t h) {
    Cell img{};
    image::make_at(img, w, h, 0);
    std::uint32_t* p = image::pixels(img);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x)
            p[y * w + x] = 0xFF000000u | std::uint32_t(x * 9) << 16 | std::uint32_t(y * 13) << 8 | (x * y) % 251;
    return img;
}

struct Format {
    const char* name;
    bool (*encode)(const Cell&, Bytes&);
};

const Format formats[] = {
    {"BMP", [](const Cell& c, Bytes& b) { b = image_codecs::encode_bmp(c); return true; }},
    {"PNG", image_codecs::encode_png},
    {"JPEG", image_codecs::encode_jpeg},
    {"TIFF", image_codecs::encode_tiff},
    {"GIF", image_codecs::encode_gif},
};

bool same_pixels(const Cell& a, const Cell& b) {
    const std::int64_t n = std::int64_t{image::width_of(a)} * image::height_of(a);
    return image::width_of(a) == image::width_of(b) && image::height_of(a) == image::height_of(b) &&
           std::equal(image::pixels(a), image::pixels(a) + n, image::pixels(b));
}

TEST(ImageCodecs, EveryCutOfAFileIsRefusedOrGivesTheWholeImage) {
    Cell img = gradient(20, 12);
    collector::Root keep(img);
    testing::internal::CaptureStderr();
    for (const Format& f : formats) {
        Bytes bytes;
        ASSERT_TRUE(f.encode(img, bytes)) << f.name;
        Cell whole{};
        ASSERT_TRUE(image_codecs::decode(bytes.data(), static_cast<std::int64_t>(bytes.size()), whole)) << f.name;
        collector::Root keep_whole(whole);
        for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
            Cell part{};
            // a cut that loses only a trailer may still hold every pixel
            if (image_codecs::decode(bytes.data(), static_cast<std::int64_t>(cut), part))
                EXPECT_TRUE(same_pixels(whole, part)) << f.name << " cut at " << cut;
            if (cut % 64 == 0) collector::collect();
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(ImageCodecs, CorruptedBytesNeverCrashNorPrint) {
    Cell img = gradient(20, 12);
    collector::Root keep(img);
    testing::internal::CaptureStderr();
    int refused = 0, decoded = 0;
    for (const Format& f : formats) {
        Bytes bytes;
        ASSERT_TRUE(f.encode(img, bytes)) << f.name;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            for (std::uint8_t change : {0xFF, 0x01, 0x80}) {
                Bytes bad = bytes;
                bad[i] ^= change;
                Cell made{};
                if (image_codecs::decode(bad.data(), static_cast<std::int64_t>(bad.size()), made)) ++decoded;
                else ++refused;
            }
            if (i % 64 == 0) collector::collect();
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_GT(refused, 0);
    EXPECT_GT(decoded, 0);
}

Bytes hex(const std::string& text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

long peak_kilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A JPEG of the gradient whose frame header claims another size.
Bytes jpeg_claiming(std::uint16_t w, std::uint16_t h) {
    Bytes bytes;
    EXPECT_TRUE(image_codecs::encode_jpeg(gradient(16, 16), bytes));
    for (std::size_t i = 0; i + 9 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = static_cast<std::uint8_t>(h >> 8), bytes[i + 6] = static_cast<std::uint8_t>(h);
            bytes[i + 7] = static_cast<std::uint8_t>(w >> 8), bytes[i + 8] = static_cast<std::uint8_t>(w);
            break;
        }
    return bytes;
}

TEST(ImageCodecs, HeadersAskingForMoreThanTheDataHoldsAreRefusedBeforeTheImage) {
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"PNG 100000 x 100000",
         hex("89504E470D0A1A0A0000000D49484452000186A0000186A00806000000A8520BC80000000949444154789C630000000100015EFF"
             "7DF90000000049454E44AE426082")},
        {"PNG 16000 x 16000",
         hex("89504E470D0A1A0A0000000D4948445200003E8000003E800806000000417EDFDE0000000949444154789C630000000100015EFF"
             "7DF90000000049454E44AE426082")},
        {"GIF 65535 x 65535",
         hex("474946383961FFFFFFFF8100000000000000000000000000002C00000000FFFFFFFF0002024C01003B")},
        {"GIF 16000 x 16000",
         hex("474946383961803E803E8100000000000000000000000000002C00000000803E803E0002024C01003B")},
        {"TIFF 100000 x 100000",
         hex("49492A00180000000000000000000000000000000000000009000001040001000000A08601000101040001000000A0860100020103"
             "0001000000080000000301030001000000050000000601030001000000020000001101040001000000080000001501030001000000"
             "030000001601040001000000A086010017010400010000001000000000000000")},
        {"TIFF 16000 x 16000",
         hex("49492A00180000000000000000000000000000000000000009000001040001000000803E00000101040001000000803E0000020103"
             "0001000000080000000301030001000000050000000601030001000000020000001101040001000000080000001501030001000000"
             "030000001601040001000000803E000017010400010000001000000000000000")},
        {"BMP 100000 x 100000",
         hex("424D36000000000000003600000028000000A0860100A0860100010018000000000000000000130B0000130B0000000000000000"
             "0000")},
        {"JPEG 65535 x 65535", jpeg_claiming(65535, 65535)},
        {"JPEG 16000 x 16000", jpeg_claiming(16000, 16000)},
    };
    const long before = peak_kilobytes();
    testing::internal::CaptureStderr();
    for (const auto& c : cases) {
        Cell made{};
        EXPECT_FALSE(image_codecs::decode(c.bytes.data(), static_cast<std::int64_t>(c.bytes.size()), made)) << c.name;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // a 16000 x 16000 image would take a gigabyte
    EXPECT_LT(peak_kilobytes() - before, 100 * 1024);
}

TEST(ImageCodecs, BadChecksumsAndBrokenCodesAreRefused) {
    Bytes png;
    ASSERT_TRUE(image_codecs::encode_png(gradient(8, 8), png));
    Cell made{};
    ASSERT_TRUE(image_codecs::decode(png.data(), static_cast<std::int64_t>(png.size()), made));
    // the CRC of the header chunk, then of the first data chunk
    for (std::size_t at : {std::size_t{29}, png.size() - 13}) {
        Bytes bad = png;
        bad[at] ^= 0x5A;
        EXPECT_FALSE(image_codecs::decode(bad.data(), static_cast<std::int64_t>(bad.size()), made)) << at;
    }
    // a GIF whose LZW data names code 7 right after a clear code: past the table
    const Bytes gif = hex("47494638396102000200810000000000FFFFFFFF000000FF002C00000000020002000002023C00003B");
    EXPECT_FALSE(image_codecs::decode(gif.data(), static_cast<std::int64_t>(gif.size()), made));
}

// A one-pixel PNG of 16-bit samples (big-endian words in the file).
Bytes png16(int colour_type, const std::vector<std::uint16_t>& samples) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out,
                     [](png_structp p, png_bytep b, png_size_t n) {
                         auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
                         o->insert(o->end(), b, b + n);
                     },
                     nullptr);
    png_set_IHDR(png, info, 1, 1, 16, colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    Bytes row;
    for (std::uint16_t v : samples) {
        row.push_back(static_cast<std::uint8_t>(v >> 8));
        row.push_back(static_cast<std::uint8_t>(v));
    }
    png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// 16-bit samples keep their value, scaled to 8 bits: no gamma curve.
TEST(ImageCodecs, SixteenBitPngSamplesScaleToEightBits) {
    const struct {
        int colour_type;
        std::vector<std::uint16_t> samples;
        std::uint32_t pixel;
    } cases[] = {
        {PNG_COLOR_TYPE_GRAY, {0x1234}, 0xFF121212u},
        {PNG_COLOR_TYPE_GRAY_ALPHA, {0xFFFF, 0x8000}, 0x80FFFFFFu},
        {PNG_COLOR_TYPE_RGB, {0x1234, 0x8080, 0xFEFF}, 0xFF1280FEu},
        {PNG_COLOR_TYPE_RGB_ALPHA, {0x0000, 0x4000, 0xFFFF, 0x1234}, 0x120040FFu},
    };
    for (const auto& c : cases) {
        const Bytes bytes = png16(c.colour_type, c.samples);
        Cell made{};
        ASSERT_TRUE(image_codecs::decode(bytes.data(), static_cast<std::int64_t>(bytes.size()), made));
        EXPECT_EQ(image::pixels(made)[0], c.pixel) << c.colour_type;
    }
}

}  // namespace
}  // namespace kiv
