// The draw dialect beside Cairo called directly: on a 1000 x 1000 image,
// 10,000 filled and outlined boxes, 10,000 lines and 1,000 texts, each with
// its own colour. The dialect's time includes reading the block and turning
// the image's pixels into Cairo's form and back. Prints milliseconds (best of
// five) and the dialect's cost over Cairo's.
// Usage: draw_bench [boxes lines texts]
#include "gui/backend/draw/draw.h"
#include "gui/backend/text/font.h"

#include "bench/best_of.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/startup/boot.h"
#include "runtime/startup/embed.h"

#include <pango/pangocairo.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Box {
    int x1, y1, x2, y2;
    int r, g, b;
};

// The same pseudo-random figures for both sides.
std::vector<Box> figures(int count, std::uint32_t& seed) {
    auto next = [&seed](int n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(n));
    };
    std::vector<Box> out;
    for (int i = 0; i < count; ++i) {
        const int x = next(1000), y = next(1000);
        out.push_back({x, y, x + next(60), y + next(60), next(256), next(256), next(256)});
    }
    return out;
}

using kiv::bench::best_ms;

std::string colour(const Box& b) {
    return std::to_string(b.r) + "." + std::to_string(b.g) + "." + std::to_string(b.b);
}

}  // namespace

int main(int argc, char** argv) {
    const int boxes = argc > 3 ? std::atoi(argv[1]) : 10000;
    const int lines = argc > 3 ? std::atoi(argv[2]) : 10000;
    const int texts = argc > 3 ? std::atoi(argv[3]) : 1000;
    std::uint32_t seed = 7;
    const std::vector<Box> b = figures(boxes, seed);
    const std::vector<Box> l = figures(lines, seed);
    const std::vector<Box> t = figures(texts, seed);

    kiv::embed::boot();
    std::string text = "[pen 0.0.0 ";
    for (const Box& f : b)
        text += "fill-pen " + colour(f) + " box " + std::to_string(f.x1) + "x" + std::to_string(f.y1) + " " +
                std::to_string(f.x2) + "x" + std::to_string(f.y2) + "\n";
    for (const Box& f : l)
        text += "pen " + colour(f) + " line " + std::to_string(f.x1) + "x" + std::to_string(f.y1) + " " +
                std::to_string(f.x2) + "x" + std::to_string(f.y2) + "\n";
    for (const Box& f : t)
        text += "pen " + colour(f) + " text " + std::to_string(f.x1) + "x" + std::to_string(f.y1) + " \"Kiv draws\"\n";
    text += "]";
    kiv::Cell loaded{};
    kiv::boot::load_text(loaded, text);
    kiv::collector::Root keep(loaded);
    const kiv::Cell commands = *kiv::block::get_cell(loaded, 0);
    kiv::Cell img{};
    kiv::image::make_at(img, 1000, 1000, 0xFFFFFFFFu);
    kiv::collector::Root keep_img(img);

    const double dialect = best_ms([&] { kiv::draw::draw_on_image(img, commands, kiv::draw::OnError::give); });

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1000, 1000);
    const double direct = best_ms([&] {
        cairo_t* cr = cairo_create(surface);
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
        for (const Box& f : b) {
            cairo_rectangle(cr, f.x1, f.y1, f.x2 - f.x1, f.y2 - f.y1);
            cairo_set_source_rgb(cr, f.r / 255.0, f.g / 255.0, f.b / 255.0);
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
            cairo_fill_preserve(cr);
            cairo_set_source_rgb(cr, 0, 0, 0);
            cairo_set_line_width(cr, 1);
            cairo_stroke(cr);
        }
        for (const Box& f : l) {
            cairo_move_to(cr, f.x1, f.y1);
            cairo_line_to(cr, f.x2, f.y2);
            cairo_set_source_rgb(cr, f.r / 255.0, f.g / 255.0, f.b / 255.0);
            cairo_stroke(cr);
        }
        PangoLayout* layout = pango_cairo_create_layout(cr);
        pango_cairo_context_set_font_options(pango_layout_get_context(layout), kiv::text::font_options());
        PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans 9");
        pango_layout_set_font_description(layout, font);
        for (const Box& f : t) {
            pango_layout_set_text(layout, "Kiv draws", -1);
            cairo_set_source_rgb(cr, f.r / 255.0, f.g / 255.0, f.b / 255.0);
            cairo_move_to(cr, f.x1, f.y1);
            pango_cairo_show_layout(cr, layout);
        }
        pango_font_description_free(font);
        g_object_unref(layout);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
    });
    cairo_surface_destroy(surface);
    std::printf("%d boxes, %d lines, %d texts on 1000x1000\n", boxes, lines, texts);
    std::printf("draw dialect  %8.1f ms\ncairo direct  %8.1f ms\nratio         %8.2f\n", dialect, direct,
                dialect / direct);
    return 0;
}
