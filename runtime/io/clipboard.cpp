#include "runtime/io/clipboard.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/image_codecs.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/core/raise.h"
#include "runtime/os/system_clipboard.h"

#include <optional>
#include <string>

namespace kiv::clipboard {

namespace {

using Content = system_clipboard::Content;

void make_text(Cell& out, const std::string& utf8, TypeId type) {
    string::make_at(out, static_cast<std::int32_t>(utf8.size()) + 1);
    string::append_utf8(out.series_node(), utf8.data(), static_cast<std::int32_t>(utf8.size()));
    out.set_type(type);
}

[[noreturn]] void invalid(const Cell& value) {
    Cell arg = value;
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &arg);
}

// The absolute local path of a file! (the desktop lists files by URI).
std::string absolute_path(const Cell& value) {
    Cell file = value;
    std::string path = file::to_local_path(file);
    return path.front() == '/' ? path : file::current_directory() + path;
}

}  // namespace

void read(Cell& result) {
    const std::optional<Content> content = system_clipboard::read();
    if (!content) {
        logic::make_at(result, false);
        return;
    }
    switch (content->kind) {
        case Content::Kind::text: make_text(result, content->text, TypeId::string); return;
        case Content::Kind::files: {
            Cell list{};
            block::make_at(list, static_cast<std::int32_t>(content->files.size()));
            for (const std::string& path : content->files) {
                Cell file{};
                make_text(file, path, TypeId::file);  // local paths already use "/" alone
                block::append_copy(list, file);
            }
            result = list;
            return;
        }
        case Content::Kind::image: {
            const auto n = static_cast<std::int64_t>(content->image.size());
            if (image_codecs::decode(content->image.data(), n, result)) return;
            break;  // data no codec here reads counts as nothing to paste
        }
        case Content::Kind::none: break;
    }
    none::make_at(result);
}

bool write(const Cell& value) {
    Content content;
    switch (value.type()) {
        case TypeId::none: break;
        case TypeId::string:
            content.kind = Content::Kind::text;
            content.text = string::utf8_of(value);
            break;
        case TypeId::block: {
            content.kind = Content::Kind::files;
            const std::int32_t head = block::clamped_head(value), tail = block::length_of(value);
            for (std::int32_t i = head; i < tail; ++i)
                if (!block::get_cell(value, i)->is(TypeId::file)) invalid(value);
            for (std::int32_t i = head; i < tail; ++i) content.files.push_back(absolute_path(*block::get_cell(value, i)));
            break;
        }
        case TypeId::image: {
            const std::int32_t width = image::width_of(value), height = image::height_of(value);
            if (width < 0 || height < 0) invalid(value);
            if (width == 0 || height == 0 || image::pixels(value) == nullptr) break;
            content.kind = Content::Kind::image;
            if (!image_codecs::encode_png(value, content.image)) return false;
            break;
        }
        default: invalid(value);
    }
    return system_clipboard::write(content);
}

}  // namespace kiv::clipboard
