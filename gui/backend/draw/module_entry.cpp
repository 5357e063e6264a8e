// The draw dialect's entry in the toolkit module, which the program's half of
// the back end finds by name once the module is open.
#include "gui/backend/draw/draw.h"

// Draws commands on image; the error that ended the pass goes to failure.
extern "C" void kiv_gui_draw_image(const kiv::Cell* image, const kiv::Cell* commands, kiv::draw::Failure* failure) {
    *failure = kiv::draw::draw_on_image(*image, *commands, kiv::draw::OnError::give);
}
