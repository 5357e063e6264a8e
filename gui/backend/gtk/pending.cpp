// Widget kinds still to come.
#include "gui/backend/gtk/faces.h"

namespace kiv::gtk_faces {

namespace {

GtkWidget* make_none(std::int32_t, const toolkit::WidgetSpec&, const Cell&) { return nullptr; }
void apply_none(std::int32_t, const Cell&, std::uint32_t) {}
bool text_none(std::int32_t, std::int32_t, std::string&) { return false; }

}  // namespace

const Kind group_box_kind{make_none, apply_none, text_none};
const Kind tab_panel_kind{make_none, apply_none, text_none};
const Kind list_kind{make_none, apply_none, text_none};
const Kind drop_kind{make_none, apply_none, text_none};
const Kind progress_kind{make_none, apply_none, text_none};
const Kind slider_kind{make_none, apply_none, text_none};
const Kind scroller_kind{make_none, apply_none, text_none};
const Kind calendar_kind{make_none, apply_none, text_none};

}  // namespace kiv::gtk_faces
