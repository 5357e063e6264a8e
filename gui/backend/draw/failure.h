// What the draw dialect gives back when an error ends a pass, and its entry in
// the toolkit module, without the Cairo headers: the program's half of the
// back end includes this.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/core/raise.h"

namespace kiv::draw {

// The error that ended a pass (id null: none). The pass never raises: its
// code runs in the toolkit module, whose C++ library is not the program's,
// so no exception may cross between them; the program raises it.
struct Failure {
    ErrorCategory category = ErrorCategory::script;
    const char* id = nullptr;
    Cell arg{};  // the draw block at the bad value
};

// The name the program finds the image pass by in the toolkit module:
//   void kiv_gui_draw_image(const Cell* image, const Cell* commands, Failure* failure)
// (the block drawn on the image; failure the error that ended the pass).
inline constexpr const char* image_entry = "kiv_gui_draw_image";

}  // namespace kiv::draw
