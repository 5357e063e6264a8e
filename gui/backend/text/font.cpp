// Fonts, paragraph settings and colours: the readers of font! and para!
// objects and what Pango makes of them.
#include "gui/backend/text/font.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/system_object.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

namespace kiv::text {

namespace {

// Point sizes above this are drawn at this size: glyphs stay of a size
// that the renderer can cache.
constexpr double max_points = 2000;
// Names the answer of family_exists is kept for; the table starts again
// when it is full.
constexpr std::size_t max_known_names = 1024;

std::string folded(std::string_view name) {
    gchar* f = g_utf8_casefold(name.data(), static_cast<gssize>(name.size()));
    std::string out(f);
    g_free(f);
    return out;
}

// The first count characters of UTF-8 text.
std::string first_characters(const std::string& utf8, std::int32_t count) {
    const char* p = utf8.c_str();
    const char* end = p + utf8.size();
    for (std::int32_t n = 0; n < count && p < end; ++n) p = g_utf8_next_char(p);
    return std::string(utf8.c_str(), static_cast<std::size_t>(std::min(p, end) - utf8.c_str()));
}

// The family of the font that the font map gives for name ("" when none).
std::string loaded_family(std::string_view name) {
    PangoFontDescription* d = pango_font_description_new();
    const std::string n(name);
    pango_font_description_set_family(d, n.c_str());
    pango_font_description_set_absolute_size(d, 12 * PANGO_SCALE);
    PangoFont* font = pango_font_map_load_font(pango_cairo_font_map_get_default(), offscreen_context(), d);
    pango_font_description_free(d);
    if (font == nullptr) return "";
    PangoFontDescription* got = pango_font_describe(font);
    const char* family = pango_font_description_get_family(got);
    std::string out = family != nullptr ? folded(family) : "";
    pango_font_description_free(got);
    g_object_unref(font);
    return out;
}

double positive_number(const Cell* v) {
    if (v == nullptr) return 0;
    const double d = v->is(TypeId::integer) ? v->int_value() : v->is(TypeId::float_) ? v->f64() : 0;
    return std::isfinite(d) && d > 0 ? d : 0;
}

std::string default_font_name() {
    const Cell* name = system_object::field("view/fonts/system");
    return name != nullptr && name->is(TypeId::string) ? string::utf8_of(*name) : "DejaVu Sans";
}

double default_font_size() {
    const double size = positive_number(system_object::field("view/fonts/size"));
    return size >= 1 ? size : 9;
}

}  // namespace

// --- Colours -----------------------------------------------------------------------------

std::uint32_t pack_colour(const Cell& tuple) {
    const std::uint8_t* b = tuple.tuple_bytes();
    const std::uint32_t t = tuple.tuple_length() > 3 ? b[3] : 0;
    return b[0] | b[1] << 8 | b[2] << 16 | t << 24;
}

void set_colour(cairo_t* cr, std::uint32_t packed) {
    cairo_set_source_rgba(cr, (packed & 0xFF) / 255.0, (packed >> 8 & 0xFF) / 255.0, (packed >> 16 & 0xFF) / 255.0,
                          (255 - (packed >> 24)) / 255.0);
}

// --- Object fields -------------------------------------------------------------------------

const Cell* field_of(const Cell& object, const char* name) {
    if (!object.is(TypeId::object)) return nullptr;
    const NodeId ctx = object.object_context();
    const std::int32_t index = context::find_symbol(ctx, symbol::make(name), true);
    return index < 0 ? nullptr : context::value_at(ctx, index);
}

bool is_word(const Cell& value, const char* name) {
    return word::is_any_word(value.type()) &&
           symbol::resolve_alias(value.word_symbol()) == symbol::resolve_alias(symbol::make(name));
}

// --- Fonts ---------------------------------------------------------------------------------

FontSpec font_spec(const Cell* font) {
    FontSpec spec;
    if (font != nullptr && font->is(TypeId::object)) {
        if (const Cell* name = field_of(*font, "name"); name != nullptr && name->is(TypeId::string))
            spec.name = first_characters(string::utf8_of(*name), 31);
        spec.points = positive_number(field_of(*font, "size"));
        if (const Cell* style = field_of(*font, "style")) {
            const auto mark = [&spec](const Cell& w) {
                spec.bold = spec.bold || is_word(w, "bold");
                spec.italic = spec.italic || is_word(w, "italic");
                spec.underline = spec.underline || is_word(w, "underline");
                spec.strike = spec.strike || is_word(w, "strike");
            };
            if (style->is(TypeId::block)) {
                const Cell* first = block::first_cell(*style);
                for (std::int32_t i = block::clamped_head(*style); i < block::length_of(*style); ++i) mark(first[i]);
            } else {
                mark(*style);
            }
        }
        if (const Cell* angle = field_of(*font, "angle"); angle != nullptr && angle->is(TypeId::integer))
            spec.angle = angle->int_value();
        if (const Cell* aa = field_of(*font, "anti-alias?")) {
            if (aa->is(TypeId::logic) && aa->logic_value() != 0) spec.smoothing = Smoothing::grey;
            if (is_word(*aa, "ClearType")) spec.smoothing = Smoothing::subpixel;
        }
        if (const Cell* colour = field_of(*font, "color"); colour != nullptr && colour->is(TypeId::tuple)) {
            spec.has_colour = true;
            spec.colour = pack_colour(*colour);
        }
    }
    if (spec.name.empty()) spec.name = first_characters(default_font_name(), 31);
    if (spec.points <= 0) spec.points = default_font_size();
    spec.points = std::min(spec.points, max_points);
    return spec;
}

bool family_exists(std::string_view name) {
    static std::unordered_set<std::string> listed = [] {
        std::unordered_set<std::string> names;
        PangoFontFamily** families = nullptr;
        int n = 0;
        pango_font_map_list_families(pango_cairo_font_map_get_default(), &families, &n);
        for (int i = 0; i < n; ++i) names.insert(folded(pango_font_family_get_name(families[i])));
        g_free(families);
        return names;
    }();
    static std::unordered_map<std::string, bool> known;
    const std::string key = folded(name);
    if (key.empty()) return false;
    if (listed.count(key) != 0) return true;
    if (const auto found = known.find(key); found != known.end()) return found->second;
    // Not a family: an alias of the font configuration ("Monospace", "Times
    // New Roman" on a system that has a look-alike) gives another font than
    // a name that stands for nothing, which gets the configuration's fallback.
    static const std::string fallback = loaded_family("kiv no such font");
    const bool exists = loaded_family(name) != fallback;
    if (known.size() >= max_known_names) known.clear();
    known.emplace(key, exists);
    return exists;
}

std::shared_ptr<PangoFontDescription> describe(const FontSpec& spec, double dpi) {
    static std::unordered_map<std::string, std::shared_ptr<PangoFontDescription>> cache;
    const std::string key = spec.name + '\n' + std::to_string(spec.points) + '\n' + std::to_string(dpi) +
                            (spec.bold ? "b" : "") + (spec.italic ? "i" : "");
    if (const auto found = cache.find(key); found != cache.end()) return found->second;
    if (cache.size() >= 256) cache.clear();
    const std::string family = family_exists(spec.name) ? spec.name : default_font_name();
    PangoFontDescription* d = pango_font_description_new();
    pango_font_description_set_family(d, family.c_str());
    pango_font_description_set_absolute_size(d, spec.points * dpi / 72 * PANGO_SCALE);
    pango_font_description_set_weight(d, spec.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(d, spec.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    std::shared_ptr<PangoFontDescription> made(d, pango_font_description_free);
    cache.emplace(key, made);
    return made;
}

std::shared_ptr<PangoFontDescription> font_description(const Cell* font) { return describe(font_spec(font)); }

const cairo_font_options_t* font_options() {
    static cairo_font_options_t* options = [] {
        cairo_font_options_t* o = cairo_font_options_create();
        cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_NONE);
        cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
        return o;
    }();
    return options;
}

cairo_antialias_t antialias_of(Smoothing smoothing) {
    switch (smoothing) {
    case Smoothing::grey: return CAIRO_ANTIALIAS_GRAY;
    case Smoothing::subpixel: return CAIRO_ANTIALIAS_SUBPIXEL;
    case Smoothing::standard: break;
    }
    return CAIRO_ANTIALIAS_DEFAULT;
}

PangoContext* offscreen_context() {
    static PangoContext* context = [] {
        PangoContext* c = pango_font_map_create_context(pango_cairo_font_map_get_default());
        pango_cairo_context_set_resolution(c, 96);
        pango_cairo_context_set_font_options(c, font_options());
        return c;
    }();
    return context;
}

// --- Paragraphs ------------------------------------------------------------------------------

Para para_of(const Cell* para, const Cell& face_type) {
    const auto type_is = [&face_type](const char* name) { return is_word(face_type, name); };
    Para p;
    const bool drawn = type_is("base") || type_is("rich-text");
    if (type_is("base") || type_is("button") || type_is("toggle")) {
        p.horizontal = Align::middle;
        p.vertical = Align::middle;
    } else if (type_is("check") || type_is("radio")) {
        p.vertical = Align::middle;
    }
    const bool given = para != nullptr && para->is(TypeId::object);
    // A rich-text face with no para wraps at its width, as text areas do.
    p.wrap = type_is("rich-text") && !given;
    if (!given) return p;
    if (const Cell* align = field_of(*para, "align")) {
        if (is_word(*align, "left")) p.horizontal = Align::start;
        if (is_word(*align, "center")) p.horizontal = Align::middle;
        if (is_word(*align, "right")) p.horizontal = Align::end;
    }
    if (const Cell* v = field_of(*para, "v-align")) {
        if (is_word(*v, "top")) p.vertical = Align::start;
        if (is_word(*v, "middle")) p.vertical = Align::middle;
        if (is_word(*v, "bottom")) p.vertical = Align::end;
    }
    const Cell* wrap = field_of(*para, "wrap?");
    const bool wrap_on = wrap != nullptr && wrap->is(TypeId::logic) && wrap->logic_value() != 0;
    if (drawn || type_is("field") || type_is("area")) p.wrap = wrap_on;
    if (type_is("text")) {
        p.wrap = wrap_on;
        p.ellipsis = !wrap_on;
    }
    return p;
}

}  // namespace kiv::text
