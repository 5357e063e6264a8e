// The system clipboard as bytes: text, a list of files and image data. With a
// display the desktop's clipboard is used through GTK 3, which is loaded and
// started only at the first use (no display, or a GTK that cannot start,
// leaves a clipboard that lives in this process and behaves the same). The
// values these contents become are runtime/io/clipboard's concern.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv::system_clipboard {

struct Content {
    enum class Kind { none, text, files, image };
    Kind kind = Kind::none;
    std::string text;                  // UTF-8
    std::vector<std::string> files;    // local paths
    std::vector<std::uint8_t> image;   // encoded image bytes: PNG when written
};

// The clipboard's content, taking the first of text, files and image that is
// there (an image in PNG, then JPEG, GIF, BMP); kind none when empty. Nothing
// when the clipboard could not be reached after three attempts.
std::optional<Content> read();

// Replaces the clipboard's content (kind none only empties it; image bytes
// are offered as PNG). False when the clipboard could not be taken after
// three attempts.
bool write(const Content& content);

// True when the desktop clipboard is in use (GTK started on a display).
bool desktop_q();

}  // namespace kiv::system_clipboard
