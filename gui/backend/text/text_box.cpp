// The text-box on Pango: one PangoLayout made at the first question, on the
// offscreen context, from the text, the font, the box and the styles.
#include "gui/backend/text/text_box.h"

#include "runtime/datatypes/string.h"
#include "runtime/text/unicode.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace kiv::text {

namespace {

constexpr double scale = PANGO_SCALE;
// A line taller than this is drawn this tall: Pango's positions within one
// layout stay far from the limits of its integers.
constexpr double max_line_height = 10000;

std::int32_t units(double v) { return static_cast<std::int32_t>(std::lround(std::clamp(v, 0.0, 1e6) * scale)); }

void append_code_point(std::string& out, std::uint32_t cp) {
    if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    std::uint8_t bytes[4];
    const int n = unicode::encode_utf8_char(cp, bytes);
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
}

// The factor of an alignment: how much of the free room lies before the text.
double share(Align a) { return a == Align::start ? 0.0 : a == Align::middle ? 0.5 : 1.0; }

}  // namespace

// --- CharMap ---------------------------------------------------------------------------------

void CharMap::build(const std::string& utf8) {
    bytes_.clear();
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        chars_ = static_cast<std::int32_t>(utf8.size());
        return;
    }
    bytes_.reserve(utf8.size() + 1);
    for (std::size_t i = 0; i < utf8.size(); ++i)
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) bytes_.push_back(static_cast<std::int32_t>(i));
    chars_ = static_cast<std::int32_t>(bytes_.size());
    bytes_.push_back(static_cast<std::int32_t>(utf8.size()));
}

std::int32_t CharMap::byte_of(std::int32_t index) const {
    index = std::clamp(index, 0, chars_);
    return bytes_.empty() ? index : bytes_[static_cast<std::size_t>(index)];
}

std::int32_t CharMap::char_of(std::int32_t offset) const {
    if (bytes_.empty()) return std::clamp(offset, 0, chars_);
    const auto after = std::upper_bound(bytes_.begin(), bytes_.end(), offset);
    return std::clamp(static_cast<std::int32_t>(after - bytes_.begin()) - 1, 0, chars_);
}

// --- TextBox ---------------------------------------------------------------------------------

TextBox::TextBox(const Cell& text) {
    if (is_any_string_type(text.type())) {
        Cell t = text;
        const std::int32_t first = std::max(t.series_head(), 0);
        const std::int32_t end = first + string::length_from_head(t);
        utf8_.reserve(static_cast<std::size_t>(end - first));
        for (std::int32_t i = first; i < end; ++i) append_code_point(utf8_, string::get_char_at_index(t, i));
    }
    map_.build(utf8_);
    set_font(font_spec(nullptr));
}

TextBox::TextBox(std::string_view utf8) {
    const char* p = utf8.data();
    const char* end = p + utf8.size();
    utf8_.reserve(utf8.size());
    while (p < end) {
        const gunichar cp = g_utf8_get_char_validated(p, end - p);
        if (cp == static_cast<gunichar>(-1) || cp == static_cast<gunichar>(-2)) {
            append_code_point(utf8_, 0xFFFD);  // one invalid byte
            ++p;
            continue;
        }
        append_code_point(utf8_, cp);
        p = g_utf8_next_char(p);
    }
    map_.build(utf8_);
    set_font(font_spec(nullptr));
}

TextBox::~TextBox() {
    drop_layout();
    for (PangoAttribute* a : attributes_) pango_attribute_destroy(a);
}

void TextBox::drop_layout() {
    for (Block& b : blocks_) g_object_unref(b.layout);
    blocks_.clear();
}

void TextBox::set_font(const FontSpec& font) {
    drop_layout();
    spec_ = font;
    font_ = describe(font);
}

void TextBox::set_size(double width, double height) {
    drop_layout();
    width_ = std::isfinite(width) && width > 0 ? width : 0;
    height_ = std::isfinite(height) && height > 0 ? height : 0;
}

void TextBox::set_para(const Para& para) {
    drop_layout();
    para_ = para;
}

void TextBox::set_tab_width(double width) {
    drop_layout();
    tab_width_ = std::isfinite(width) && width > 0 ? width : 0;
}

void TextBox::set_line_height(double height) {
    drop_layout();
    line_height_ = std::isfinite(height) && height >= 0 ? std::min(height, max_line_height) : -1;
}

bool TextBox::bytes_of(std::int32_t first, std::int32_t count, std::int32_t& start, std::int32_t& end) const {
    if (first < 0 || count <= 0 || first >= map_.chars()) return false;
    start = map_.byte_of(first);
    end = map_.byte_of(count > map_.chars() - first ? map_.chars() : first + count);
    return true;
}

void TextBox::add(PangoAttribute* attribute, std::int32_t first, std::int32_t count) {
    std::int32_t start = 0;
    std::int32_t end = 0;
    if (!bytes_of(first, count, start, end)) {
        pango_attribute_destroy(attribute);
        return;
    }
    drop_layout();
    attribute->start_index = static_cast<guint>(start);
    attribute->end_index = static_cast<guint>(end);
    attributes_.push_back(attribute);
}

void TextBox::colour(std::int32_t first, std::int32_t count, std::uint32_t packed) {
    const auto channel = [packed](int shift) { return static_cast<guint16>((packed >> shift & 0xFF) * 257); };
    add(pango_attr_foreground_new(channel(0), channel(8), channel(16)), first, count);
    add(pango_attr_foreground_alpha_new(static_cast<guint16>((255 - (packed >> 24)) * 257)), first, count);
}

void TextBox::backdrop(std::int32_t first, std::int32_t count, std::uint32_t packed) {
    std::int32_t start = 0;
    std::int32_t end = 0;
    if (bytes_of(first, count, start, end)) {
        drop_layout();
        backdrops_.push_back({start, end, packed});
    }
}

void TextBox::bold(std::int32_t first, std::int32_t count) { add(pango_attr_weight_new(PANGO_WEIGHT_BOLD), first, count); }

void TextBox::italic(std::int32_t first, std::int32_t count) { add(pango_attr_style_new(PANGO_STYLE_ITALIC), first, count); }

void TextBox::underline(std::int32_t first, std::int32_t count) {
    add(pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), first, count);
}

void TextBox::strike(std::int32_t first, std::int32_t count) { add(pango_attr_strikethrough_new(TRUE), first, count); }

void TextBox::family(std::int32_t first, std::int32_t count, std::string_view name) {
    FontSpec spec = spec_;
    spec.name = std::string(name);
    const char* family = pango_font_description_get_family(describe(spec).get());
    add(pango_attr_family_new(family != nullptr ? family : ""), first, count);
}

void TextBox::size(std::int32_t first, std::int32_t count, double points) {
    if (!std::isfinite(points) || points <= 0) return;
    add(pango_attr_size_new_absolute(units(std::min(points, 2000.0) * 96 / 72)), first, count);
}


// --- Laying out ------------------------------------------------------------------------------

namespace {

// Paragraphs are gathered into blocks of about this many bytes; a paragraph
// longer than the second figure is cut. Pango's time grows faster than the
// text within one layout, and very long paragraphs it does not wrap at all.
constexpr std::size_t block_bytes = 4096;
constexpr std::size_t max_paragraph_bytes = 16384;

// The attributes as Pango should see them: of each kind, on each byte, only
// the one given last (as with the range styles of other text engines), in
// runs that do not overlap, ordered by start. Whatever the styles given,
// there are at most two runs per style, and Pango never meets a pile of
// attributes on one character.
std::vector<PangoAttribute*> winners(const std::vector<PangoAttribute*>& given) {
    std::map<int, std::vector<std::int32_t>> kinds;  // attribute type -> indexes in given
    for (std::size_t i = 0; i < given.size(); ++i)
        kinds[given[i]->klass->type].push_back(static_cast<std::int32_t>(i));
    struct Edge {
        guint at;
        bool opens;
        std::int32_t index;
    };
    std::vector<PangoAttribute*> runs;
    for (const auto& [type, members] : kinds) {
        std::vector<Edge> edges;
        edges.reserve(members.size() * 2);
        for (const std::int32_t m : members) {
            edges.push_back({given[static_cast<std::size_t>(m)]->start_index, true, m});
            edges.push_back({given[static_cast<std::size_t>(m)]->end_index, false, m});
        }
        std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.at < b.at; });
        std::set<std::int32_t> open;
        PangoAttribute* run = nullptr;
        std::int32_t owner = -1;
        for (std::size_t e = 0; e < edges.size();) {
            const guint at = edges[e].at;
            for (; e < edges.size() && edges[e].at == at; ++e) {
                if (edges[e].opens) open.insert(edges[e].index);
                else open.erase(edges[e].index);
            }
            const std::int32_t top = open.empty() ? -1 : *open.rbegin();
            if (top == owner) continue;
            if (run != nullptr) {
                run->end_index = at;
                runs.push_back(run);
                run = nullptr;
            }
            owner = top;
            if (top >= 0) {
                run = pango_attribute_copy(given[static_cast<std::size_t>(top)]);
                run->start_index = at;
            }
        }
    }
    std::stable_sort(runs.begin(), runs.end(),
                     [](const PangoAttribute* a, const PangoAttribute* b) { return a->start_index < b->start_index; });
    return runs;
}

}  // namespace

void TextBox::lay_out() {
    if (!blocks_.empty()) return;
    // Blocks: whole paragraphs up to block_bytes, a long paragraph cut after a space.
    const std::size_t n = utf8_.size();
    for (std::size_t pos = 0;;) {
        if (n - pos <= block_bytes) {
            blocks_.push_back({static_cast<std::int32_t>(pos), static_cast<std::int32_t>(n)});
            break;
        }
        std::size_t feed = utf8_.rfind('\n', pos + block_bytes - 1);
        if (feed == std::string::npos || feed < pos) feed = utf8_.find('\n', pos + block_bytes);
        if (feed != std::string::npos && feed - pos <= max_paragraph_bytes) {
            const std::size_t end = feed > pos && utf8_[feed - 1] == '\r' ? feed - 1 : feed;  // CR LF ends it too
            blocks_.push_back({static_cast<std::int32_t>(pos), static_cast<std::int32_t>(end)});
            pos = feed + 1;
            continue;
        }
        if (n - pos <= max_paragraph_bytes) {  // the rest is one paragraph without a line feed
            blocks_.push_back({static_cast<std::int32_t>(pos), static_cast<std::int32_t>(n)});
            break;
        }
        std::size_t cut = pos + max_paragraph_bytes;
        const std::size_t space = utf8_.rfind(' ', cut - 1);
        if (space != std::string::npos && space > pos) {
            cut = space + 1;
        } else {
            while (cut > pos + 1 && (static_cast<unsigned char>(utf8_[cut]) & 0xC0) == 0x80) --cut;
        }
        blocks_.push_back({static_cast<std::int32_t>(pos), static_cast<std::int32_t>(cut)});
        pos = cut;
    }
    // Each block's attributes: those over the whole text, then the runs clipped to it.
    std::vector<PangoAttrList*> lists(blocks_.size());
    std::int32_t uniform = 0;
    if (line_height_ >= 0) {
        // Lines of one height: the one asked for, or a capital I's when that is higher.
        PangoLayout* probe = pango_layout_new(offscreen_context());
        pango_layout_set_font_description(probe, font_.get());
        pango_layout_set_text(probe, "I", 1);
        PangoRectangle logical;
        pango_layout_get_extents(probe, nullptr, &logical);
        g_object_unref(probe);
        uniform = std::max(units(line_height_), logical.height);
    }
    for (PangoAttrList*& list : lists) {
        list = pango_attr_list_new();
        if (uniform > 0) pango_attr_list_insert(list, pango_attr_line_height_new_absolute(uniform));
        if (spec_.underline) pango_attr_list_insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        if (spec_.strike) pango_attr_list_insert(list, pango_attr_strikethrough_new(TRUE));
    }
    const auto first_block_after = [this](std::int32_t offset) {
        // The first block whose text ends after offset.
        return std::partition_point(blocks_.begin(), blocks_.end(), [offset](const Block& b) { return b.end <= offset; });
    };
    for (PangoAttribute* run : winners(attributes_)) {
        const auto start = static_cast<std::int32_t>(run->start_index);
        const auto end = static_cast<std::int32_t>(run->end_index);
        for (auto b = first_block_after(start); b != blocks_.end() && b->start < end; ++b) {
            const std::int32_t from = std::max(start, b->start);
            const std::int32_t to = std::min(end, b->end);
            if (from >= to) continue;
            PangoAttribute* part = pango_attribute_copy(run);
            part->start_index = static_cast<guint>(from - b->start);
            part->end_index = static_cast<guint>(to - b->start);
            pango_attr_list_insert(lists[static_cast<std::size_t>(b - blocks_.begin())], part);
        }
        pango_attribute_destroy(run);
    }
    const PangoAlignment alignment = para_.horizontal == Align::start    ? PANGO_ALIGN_LEFT
                                     : para_.horizontal == Align::middle ? PANGO_ALIGN_CENTER
                                                                         : PANGO_ALIGN_RIGHT;
    const bool fitted = width_ > 0 && (para_.wrap || para_.ellipsis);
    double top = 0;
    width_out_ = 0;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        Block& b = blocks_[i];
        b.layout = pango_layout_new(offscreen_context());
        pango_layout_set_text(b.layout, utf8_.data() + b.start, b.end - b.start);
        pango_layout_set_font_description(b.layout, font_.get());
        pango_layout_set_alignment(b.layout, alignment);
        if (fitted) {
            pango_layout_set_width(b.layout, units(width_));
            pango_layout_set_wrap(b.layout, PANGO_WRAP_WORD_CHAR);
            if (!para_.wrap) pango_layout_set_ellipsize(b.layout, PANGO_ELLIPSIZE_END);
        }
        if (tab_width_ > 0) {
            PangoTabArray* tabs = pango_tab_array_new(1, FALSE);
            pango_tab_array_set_tab(tabs, 0, PANGO_TAB_LEFT, units(tab_width_));
            pango_layout_set_tabs(b.layout, tabs);
            pango_tab_array_free(tabs);
        }
        pango_layout_set_attributes(b.layout, lists[i]);
        pango_attr_list_unref(lists[i]);
        PangoRectangle logical;
        pango_layout_get_extents(b.layout, nullptr, &logical);
        b.top = top;
        b.height = logical.height / scale;
        top += b.height;
        width_out_ = std::max(width_out_, logical.width / scale);
    }
    // Lines of several blocks align on the widest of them all.
    if (blocks_.size() > 1 && !fitted && para_.horizontal != Align::start)
        for (Block& b : blocks_) {
            pango_layout_set_width(b.layout, units(width_out_) + 1);
            pango_layout_set_wrap(b.layout, PANGO_WRAP_WORD_CHAR);
        }
}

PangoLayout* TextBox::layout() {
    lay_out();
    return blocks_.front().layout;
}

const TextBox::Block& TextBox::block_at(std::int32_t offset) const {
    const auto after = std::partition_point(blocks_.begin(), blocks_.end(), [offset](const Block& b) { return b.start <= offset; });
    return after == blocks_.begin() ? blocks_.front() : *(after - 1);
}

Point TextBox::offset() {
    lay_out();
    const Block& last = blocks_.back();
    Point at;
    if (width_ > 0 && !para_.wrap && !para_.ellipsis) at.x = (width_ - width_out_) * share(para_.horizontal);
    if (height_ > 0) at.y = (height_ - (last.top + last.height)) * share(para_.vertical);
    return at;
}

Point TextBox::caret(std::int32_t index, bool lower) {
    const Point at = offset();
    const std::int32_t offset = map_.byte_of(index - 1);
    const Block& b = block_at(offset);
    PangoRectangle r;
    pango_layout_index_to_pos(b.layout, std::min(offset, b.end) - b.start, &r);
    Point p{at.x + r.x / scale, std::max(0.0, at.y + b.top + r.y / scale)};
    if (lower) p.y += r.height / scale;
    return p;
}

std::int32_t TextBox::index_at(Point at, bool trailing) {
    const Point o = offset();
    const auto finite = [](double v) { return std::clamp(std::isfinite(v) ? v : 0.0, -1e6, 1e6); };
    const double x = finite(at.x - o.x);
    const double y = finite(at.y - o.y);
    auto b = std::partition_point(blocks_.begin(), blocks_.end(), [y](const Block& k) { return k.top + k.height <= y; });
    if (b == blocks_.end()) --b;
    int index = 0;
    int after = 0;
    pango_layout_xy_to_index(b->layout, static_cast<int>(std::lround(x * scale)),
                             static_cast<int>(std::lround((y - b->top) * scale)), &index, &after);
    std::int32_t c = map_.char_of(b->start + index);
    if (trailing) c += after;
    return std::min(c, map_.chars()) + 1;
}

double TextBox::line_height(std::int32_t index) {
    lay_out();
    const std::int32_t offset = map_.byte_of(index - 1);
    const Block& b = block_at(offset);
    int line = 0;
    pango_layout_index_to_line_x(b.layout, std::min(offset, b.end) - b.start, FALSE, &line, nullptr);
    PangoLayoutIter* it = pango_layout_get_iter(b.layout);
    for (int i = 0; i < line && pango_layout_iter_next_line(it); ++i) {
    }
    int y0 = 0;
    int y1 = 0;
    pango_layout_iter_get_line_yrange(it, &y0, &y1);
    pango_layout_iter_free(it);
    return (y1 - y0) / scale;
}

Point TextBox::extent() {
    lay_out();
    return {width_out_, blocks_.back().top + blocks_.back().height};
}

std::int32_t TextBox::line_count() {
    lay_out();
    std::int32_t lines = 0;
    for (const Block& b : blocks_) lines += pango_layout_get_line_count(b.layout);
    return lines;
}

void TextBox::paint(cairo_t* cr, Point at, std::uint32_t colour) {
    const Point o = offset();
    cairo_save(cr);
    cairo_translate(cr, at.x + o.x, at.y + o.y);
    double clip_x1, clip_y1, clip_x2, clip_y2;
    cairo_clip_extents(cr, &clip_x1, &clip_y1, &clip_x2, &clip_y2);
    const auto visible = [&](const Block& b) { return b.top < clip_y2 && b.top + b.height > clip_y1; };
    for (const Backdrop& d : backdrops_) {
        set_colour(cr, d.colour);
        for (auto b = blocks_.begin() + (&block_at(d.start) - blocks_.data()); b != blocks_.end() && b->start < d.end; ++b) {
            if (!visible(*b)) continue;
            PangoLayoutIter* it = pango_layout_get_iter(b->layout);
            do {
                PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
                const std::int32_t from = std::max(d.start - b->start, line->start_index);
                const std::int32_t to = std::min(std::min(d.end, b->end) - b->start, line->start_index + line->length);
                if (from >= to) continue;
                int y0 = 0;
                int y1 = 0;
                pango_layout_iter_get_line_yrange(it, &y0, &y1);
                int* ranges = nullptr;
                int count = 0;
                pango_layout_line_get_x_ranges(line, from, to, &ranges, &count);
                for (int i = 0; i < count; ++i) {
                    const double left = std::floor(ranges[2 * i] / scale + 0.5);
                    const double width = std::floor((ranges[2 * i + 1] - ranges[2 * i]) / scale + 0.5);
                    cairo_rectangle(cr, left, std::floor(b->top + y0 / scale + 0.5), width,
                                    std::floor((y1 - y0) / scale + 0.99));
                }
                g_free(ranges);
            } while (pango_layout_iter_next_line(it));
            pango_layout_iter_free(it);
            cairo_fill(cr);
        }
    }
    set_colour(cr, colour);
    for (const Block& b : blocks_) {
        if (!visible(b)) continue;
        cairo_move_to(cr, 0, b.top);
        pango_cairo_show_layout(cr, b.layout);
    }
    cairo_new_path(cr);
    cairo_restore(cr);
}

}  // namespace kiv::text
