// The entry points of the image codecs, entered in the routine table for the
// library's codec objects: image-encode (image, format index, target) gives
// the bytes of an image in a file format; image-decode (binary or file)
// gives the image the data holds.
#include "runtime/evaluator/natives.h"

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/image_codecs.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/file_io.h"
#include "runtime/os/platform.h"
#include "runtime/core/raise.h"

#include <vector>

namespace kiv::natives {

namespace {

using image_codecs::Format;

[[noreturn]] void bad_media() { runtime::raise_error(ErrorCategory::access, "bad-media"); }

void image_encode(Cell* args) {
    const Cell img = args[0];
    if (!img.is(TypeId::image)) expect_arg("image-encode", img, "image");
    if (!args[1].is(TypeId::integer)) expect_arg("image-encode", args[1], "format");
    const std::int32_t format = args[1].int_value();
    if (format < static_cast<std::int32_t>(Format::bmp) || format > static_cast<std::int32_t>(Format::gif)) {
        platform::print_line({"Cannot find image encoder"});
        none::make_at(args[0]);
        return;
    }
    if (image::width_of(img) == 0 || image::height_of(img) == 0) bad_media();
    std::vector<std::uint8_t> bytes;
    bool ok = true;
    switch (static_cast<Format>(format)) {
        case Format::bmp: bytes = image_codecs::encode_bmp(img); break;
        case Format::png: ok = image_codecs::encode_png(img, bytes); break;
        case Format::jpeg: ok = image_codecs::encode_jpeg(img, bytes); break;
        case Format::tiff: ok = image_codecs::encode_tiff(img, bytes); break;
        case Format::gif: ok = image_codecs::encode_gif(img, bytes); break;
    }
    if (!ok) bad_media();
    if (static_cast<std::int64_t>(bytes.size()) > binary::max_bytes)
        runtime::raise_error(ErrorCategory::internal, "no-memory");
    binary::make_from_bytes(args[0], bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

void image_decode(Cell* args) {
    Cell data = args[0];
    if (data.is(TypeId::binary)) {
        const std::uint8_t* bytes = binary::head_pointer(data);
        const std::int32_t n = binary::length_from_head(data);
        if (!image_codecs::is_known_format(bytes, n)) {
            none::make_at(args[0]);
            return;
        }
        Cell made{};
        if (!image_codecs::decode(bytes, n, made)) bad_media();
        args[0] = made;
        return;
    }
    if (!data.is(TypeId::file)) expect_arg("image-decode", data, "data");
    const std::string path = file::to_local_path(data);
    Cell read{};
    Cell made{};
    if (!file_io::read_file_binary(path.c_str(), -1, -1, read) ||
        !image_codecs::decode(binary::head_pointer(read), binary::length_from_head(read), made))
        runtime::raise_error(ErrorCategory::access, "cannot-open", &data);
    args[0] = made;
}

}  // namespace

void register_image() {
    routine::add("image-encode", image_encode);
    routine::add("image-decode", image_decode);
}

}  // namespace kiv::natives
