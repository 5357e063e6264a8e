// The camera face's picture in the toolkit module: the stream's last frame
// painted into the face, fitted with its aspect kept.
#pragma once

#include <cairo.h>

#include <cstdint>

namespace kiv::camera_gtk {

// Paints the picture of widget's stream, if it has one, into the area of
// width x height at the origin of cr.
void paint(cairo_t* cr, std::int32_t widget, double width, double height);

}  // namespace kiv::camera_gtk

// The streaming thread's post (any thread): the GUI thread looks at the
// frame and repaints the face.
extern "C" void kiv_gui_camera_post(std::int32_t widget);
