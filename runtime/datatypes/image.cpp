// image!: construction, pixel access by index and by column x row, the
// whole-image channels (rgb, alpha, argb), rectangles, pasting, comparison
// and the make image! [...] text. Every writer checks its value before a
// pixel changes, so an error leaves the image as it was.
#include "runtime/datatypes/image.h"

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/words.h"
#include "runtime/core/raise.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kiv::image {

namespace {

constexpr std::uint32_t white = 0xFFFFFFFFu;

[[noreturn]] void invalid_arg(const Cell& value) {
    const Cell v = value;
    runtime::raise_error(ErrorCategory::script, "invalid-arg", &v);
}
[[noreturn]] void not_done() { runtime::raise_error(ErrorCategory::internal, "not-done"); }

// --- Size and pixels ---------------------------------------------------------------

std::int32_t count_of(const Cell& v) { return width_of(v) * height_of(v); }
std::int32_t position_of(const Cell& v) { return std::clamp(v.series_head(), 0, count_of(v)); }

// The 4-byte tuple of a pixel word (the fourth byte is transparency).
Cell tuple_of(std::uint32_t p) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(p >> 16), static_cast<std::uint8_t>(p >> 8),
                                   static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(255 - (p >> 24))};
    Cell c{};
    tuple::make_at(c, bytes, 4);
    return c;
}

// The pixel word of a tuple: a 3-byte tuple is opaque.
std::uint32_t pixel_of(const Cell& t) {
    const std::uint8_t* b = t.tuple_bytes();
    const std::uint32_t alpha = t.tuple_length() >= 4 ? 255u - b[3] : 255u;
    return alpha << 24 | std::uint32_t{b[0]} << 16 | std::uint32_t{b[1]} << 8 | b[2];
}

// The width and height a pair! asks for, checked.
void checked_size(const Cell& size, std::int32_t& w, std::int32_t& h) {
    w = size.pair_x();
    h = size.pair_y();
    if (w < 0 || h < 0 || w > max_side || h > max_side ||
        static_cast<std::int64_t>(w) * h * 4 > binary::max_bytes)
        invalid_arg(size);
}

bool notify(const Cell& v, const Cell& action, const Cell* value, std::int32_t index,
            std::int32_t part) {
    if ((memory::buffer(v.series_node())->flags & memory::flag_owned) == 0) return false;
    return ownership::check_owner(v, action, value, index, part);
}

// --- Positions ------------------------------------------------------------------------

// The 0-based pixel an index of pick or poke addresses, or -1 outside the image.
std::int64_t pixel_index(const Cell& v, const Cell& index) {
    const std::int64_t pos = position_of(v), w = width_of(v), h = height_of(v);
    std::int64_t at;
    if (index.is(TypeId::integer)) {
        const std::int64_t n = index.int_value();
        at = n >= 1 ? pos + n - 1 : pos + n;
    } else if (index.is(TypeId::pair)) {
        const std::int64_t x = index.pair_x(), y = index.pair_y();
        if (x < 1 || x > w || y < 1 || y > h) return -1;
        at = pos + (y - 1) * w + x - 1;
    } else {
        invalid_arg(index);
    }
    return at < 0 || at >= w * h ? -1 : at;
}

std::int32_t clamp_position(const Cell& v, std::int64_t p) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(p, 0, count_of(v)));
}

// --- Channels -------------------------------------------------------------------------

enum Channel : int { alpha = 0, rgb = 1, argb = 2 };

void get_channel(Cell& result, const Cell& v, Channel mode) {
    const std::int32_t n = count_of(v);
    const std::uint32_t* p = pixels(v);
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(n) * (mode == alpha ? 1 : mode == rgb ? 3 : 4));
    for (std::int32_t i = 0; i < n; ++i) {
        const std::uint32_t px = p[i];
        if (mode == alpha) {
            bytes += static_cast<char>(255 - (px >> 24));
        } else if (mode == rgb) {
            bytes += static_cast<char>(px >> 16);
            bytes += static_cast<char>(px >> 8);
            bytes += static_cast<char>(px);
        } else {
            for (int k = 0; k < 4; ++k) bytes += static_cast<char>(px >> (8 * k));
        }
    }
    binary::make_from_bytes(result, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                            static_cast<std::int32_t>(bytes.size()));
}

void set_channel(const Cell& v, const Cell& value, Channel mode) {
    const std::int64_t n = count_of(v);
    std::uint32_t* p = pixels(v);
    if (value.is(TypeId::binary)) {
        Cell bin = value;
        const std::uint8_t* b = binary::head_pointer(bin);
        const std::int64_t len = binary::length_from_head(bin);
        if (mode == argb) {
            std::memcpy(p, b, static_cast<std::size_t>(std::min(len, n * 4)));
        } else if (mode == rgb) {
            for (std::int64_t i = 0; i < std::min(len / 3, n); ++i)
                p[i] = (p[i] & 0xFF000000u) | std::uint32_t{b[3 * i]} << 16 |
                       std::uint32_t{b[3 * i + 1]} << 8 | b[3 * i + 2];
        } else {
            for (std::int64_t i = 0; i < std::min(len, n); ++i)
                p[i] = (p[i] & 0x00FFFFFFu) | (255u - b[i]) << 24;
        }
        return;
    }
    std::uint8_t c[4];
    if (value.is(TypeId::tuple)) {
        std::memcpy(c, value.tuple_bytes(), 4);
        if (value.tuple_length() < 4) c[3] = 0;
    } else if (value.is(TypeId::integer)) {
        const std::uint32_t i = static_cast<std::uint32_t>(value.int_value());
        for (int k = 0; k < 4; ++k) c[k] = static_cast<std::uint8_t>(i >> (8 * k));
    } else {
        invalid_arg(value);
    }
    const std::uint32_t colour = std::uint32_t{c[0]} << 16 | std::uint32_t{c[1]} << 8 | c[2];
    for (std::int64_t i = 0; i < n; ++i) {
        if (mode == argb) p[i] = (255u - c[3]) << 24 | colour;
        else if (mode == rgb) p[i] = (p[i] & 0xFF000000u) | colour;
        else p[i] = (p[i] & 0x00FFFFFFu) | (255u - c[0]) << 24;
    }
}

// --- Rectangles -------------------------------------------------------------------------

// A new image of the w x h pixels whose top left corner is column x, row y.
void copy_rect(const Cell& v, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
               Cell& result) {
    const std::int32_t width = width_of(v);
    const Cell source = v;
    make_at(result, std::max(w, 0), std::max(h, 0), white);
    const std::uint32_t* from = pixels(source);
    std::uint32_t* to = pixels(result);
    for (std::int32_t r = 0; r < h; ++r)
        std::memcpy(to + static_cast<std::ptrdiff_t>(r) * w,
                    from + static_cast<std::ptrdiff_t>(y + r) * width + x,
                    static_cast<std::size_t>(w) * 4);
}

// --- Text -------------------------------------------------------------------------------

void indent_line(std::string& s, std::int32_t level) {
    s += '\n';
    s.append(static_cast<std::size_t>(std::max(level, 0)) * 4, ' ');
}

// #{...} of n pixels, each as the bytes that get(i, out) appends (3 or 1),
// ten pixels a line when lines is on.
template <typename Get>
void pixel_block(std::string& s, std::int32_t n, bool lines, std::int32_t level, Get get) {
    static constexpr char hex[] = "0123456789ABCDEF";
    s += "#{";
    if (lines) indent_line(s, level + 1);
    for (std::int32_t i = 0; i < n; ++i) {
        std::uint8_t bytes[3];
        const int k = get(i, bytes);
        for (int j = 0; j < k; ++j) {
            s += hex[bytes[j] >> 4];
            s += hex[bytes[j] & 15];
        }
        if (lines && (i + 1) % 10 == 0) indent_line(s, i + 1 == n ? level : level + 1);
    }
    if (lines && n % 10 != 0) indent_line(s, level);
    s += '}';
}

std::string mold_text(const Cell& v, MoldOptions options, std::int32_t level) {
    std::string s;
    if (!options.only) s += "make image! [";
    s += integer::to_decimal(width_of(v));
    s += 'x';
    s += integer::to_decimal(height_of(v));
    const std::int32_t pos = position_of(v);
    const std::int32_t n = count_of(v) - pos;
    if (count_of(v) == 0) {
        s += " #{}";
    } else {
        const std::uint32_t* p = pixels(v) + pos;
        const bool lines = !options.flat && static_cast<std::int64_t>(n) * 4 > 30;
        s += ' ';
        pixel_block(s, n, lines, level, [p](std::int32_t i, std::uint8_t* b) {
            b[0] = static_cast<std::uint8_t>(p[i] >> 16);
            b[1] = static_cast<std::uint8_t>(p[i] >> 8);
            b[2] = static_cast<std::uint8_t>(p[i]);
            return 3;
        });
        if (std::any_of(p, p + n, [](std::uint32_t px) { return (px >> 24) != 255; })) {
            s += ' ';
            pixel_block(s, n, lines, level, [p](std::int32_t i, std::uint8_t* b) {
                b[0] = static_cast<std::uint8_t>(255 - (p[i] >> 24));
                return 1;
            });
        }
    }
    if (!options.only) s += ']';
    return s;
}

std::int32_t append_limited(NodeId out, const std::string& s, bool limited, std::int32_t part) {
    std::size_t n = s.size();
    if (limited) n = std::min(n, static_cast<std::size_t>(std::max(part, 0)));
    string::append_bytes(out, reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<std::int32_t>(n));
    return part - static_cast<std::int32_t>(n);
}

// --- Handlers, in action order ------------------------------------------------------------

FaceRenderer face_renderer = nullptr;

Cell* to(Cell* proto, Cell* spec, TypeId) {
    if (spec->is(TypeId::image)) {
        *proto = *spec;
        return proto;
    }
    if (spec->is(TypeId::object) && face_renderer != nullptr) {
        const Cell face = *spec;
        Cell out{};
        face_renderer(face, out);
        *proto = out;
        return proto;
    }
    // a face renders to an image only once the GUI is there
    const Cell type_cell = [] {
        Cell c{};
        datatype::make_at(TypeId::image, c);
        return c;
    }();
    const Cell value = *spec;
    runtime::raise_error(ErrorCategory::script, "bad-to-arg", &type_cell, &value);
}

}  // namespace

void set_face_renderer(FaceRenderer renderer) { face_renderer = renderer; }

namespace {

Cell* make(Cell* proto, Cell* spec, TypeId type) {
    const Cell s = *spec;
    Cell made{};
    std::int32_t w = 0, h = 0;
    if (s.is(TypeId::pair)) {
        checked_size(s, w, h);
        make_at(made, w, h, white);
    } else if (s.is(TypeId::block)) {
        Cell blk = s;
        const std::int32_t head = std::max(blk.series_head(), 0);
        const std::int32_t n = block::count_from_head(blk);
        auto value = [&](std::int32_t i) { return *block::get_cell(blk, head + i); };
        if (n < 1 || !value(0).is(TypeId::pair)) datatype::raise_bad_make_arg(TypeId::image, s);
        checked_size(value(0), w, h);
        const Cell second = n >= 2 ? value(1) : Cell::fresh(TypeId::none);
        if (n >= 2 && second.is(TypeId::tuple)) {
            make_at(made, w, h, pixel_of(second));
        } else if (n >= 2 && second.is(TypeId::binary)) {
            const Cell third = n >= 3 ? value(2) : Cell::fresh(TypeId::none);
            if (n >= 3 && !third.is(TypeId::binary)) invalid_arg(third);
            make_at(made, w, h, white);
            const Cell image = made;
            set_channel(image, second, rgb);
            if (third.is(TypeId::binary)) set_channel(image, third, alpha);
        } else if (n >= 2) {
            invalid_arg(second);
        } else {
            make_at(made, w, h, white);
        }
    } else {
        return to(proto, spec, type);
    }
    *proto = made;
    return proto;
}

std::int32_t form(Cell* value, NodeId out, Cell* arg, std::int32_t part) {
    return append_limited(out, mold_text(*value, MoldOptions{}, 0), arg != nullptr, part);
}

std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg, std::int32_t part,
                  std::int32_t indent) {
    return append_limited(out, mold_text(*value, options, indent), arg != nullptr, part);
}

Cell* pick(Cell* series, Cell* index) {
    const Cell v = *series;
    const std::int64_t at = pixel_index(v, *index);
    *series = at < 0 ? none::value : tuple_of(pixels(v)[at]);
    return series;
}

Cell* poke(Cell* series, Cell* index, Cell* value) {
    const Cell v = *series;
    const Cell x = *value;
    const std::int64_t at = pixel_index(v, *index);
    if (at < 0) runtime::raise_error(ErrorCategory::script, "out-of-range", index);
    if (!x.is(TypeId::tuple)) invalid_arg(x);
    const std::int32_t i = static_cast<std::int32_t>(at);
    const bool told = notify(v, words::word(words::Word::poke), &x, i, 1);
    pixels(v)[at] = pixel_of(x);
    if (told) notify(v, words::word(words::Word::poked), &x, i, 1);
    *series = x;
    return series;
}

Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step) {
    const Cell e = *element;
    if (e.is(TypeId::integer) || e.is(TypeId::pair)) {
        if (new_value == nullptr) return pick(value, element);
        return poke(value, element, new_value);
    }
    auto invalid_path = [&]() {
        const Cell path = step.path != nullptr ? *step.path : e;
        runtime::raise_error(ErrorCategory::script, "invalid-path", &path, &e);
    };
    if (!word::is_any_word(e.type())) invalid_path();
    const symbol::SymbolId s = symbol::resolve_alias(e.word_symbol());
    auto is = [s](words::Sym name) { return s == symbol::resolve_alias(words::id(name)); };
    const Cell v = *value;
    if (is(words::Sym::size)) {
        if (new_value != nullptr) invalid_path();
        pair::make_at(*value, width_of(v), height_of(v));
        return value;
    }
    Channel mode;
    if (is(words::Sym::rgb)) mode = rgb;
    else if (is(words::Sym::alpha)) mode = alpha;
    else if (is(words::Sym::argb)) mode = argb;
    else invalid_path();
    if (new_value == nullptr) {
        get_channel(*value, v, mode);
        return value;
    }
    const Cell x = *new_value;
    if (!x.is(TypeId::binary) && !x.is(TypeId::tuple) && !x.is(TypeId::integer)) invalid_arg(x);
    const bool told = notify(v, words::word(words::Word::change), &x, 0, count_of(v));
    set_channel(v, x, mode);
    if (told) notify(v, words::word(words::Word::changed), &x, 0, count_of(v));
    return new_value;
}

std::int32_t compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(TypeId::image)) return not_comparable;
    const Cell a = *value1, b = *value2;
    if (op == CompareOp::same)
        return a.series_node() == b.series_node() && position_of(a) == position_of(b) ? 0 : 1;
    if (a.series_extra() != b.series_extra()) return a.series_extra() < b.series_extra() ? -1 : 1;
    const int c = std::memcmp(pixels(a), pixels(b), static_cast<std::size_t>(count_of(a)) * 4);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

Cell* at(Cell* series, Cell* index) {
    const Cell v = *series;
    const std::int64_t pos = position_of(v);
    std::int64_t p;
    if (index->is(TypeId::integer)) {
        const std::int64_t n = index->int_value();
        p = n >= 1 ? pos + n - 1 : pos + n;
    } else if (index->is(TypeId::pair)) {
        p = pos + (static_cast<std::int64_t>(index->pair_y()) - 1) * width_of(v) + index->pair_x() - 1;
    } else {
        invalid_arg(*index);
    }
    series->set_series_head(clamp_position(v, p));
    return series;
}

Cell* skip(Cell* series, Cell* offset) {
    const Cell v = *series;
    const std::int64_t pos = position_of(v);
    std::int64_t p;
    if (offset->is(TypeId::integer)) p = pos + offset->int_value();
    else if (offset->is(TypeId::pair))
        p = pos + static_cast<std::int64_t>(offset->pair_y()) * width_of(v) + offset->pair_x();
    else invalid_arg(*offset);
    series->set_series_head(clamp_position(v, p));
    return series;
}

Cell* change(Cell* series, Cell* value, std::int32_t part, bool, std::int32_t count) {
    if (part != -1 || count != 1) not_done();
    const Cell v = *series;
    const Cell x = *value;
    if (x.is(TypeId::tuple)) {
        Cell one{};
        integer::make_at(one, 1);
        Cell target = v;
        poke(&target, &one, value);
        series->set_series_head(clamp_position(v, position_of(v) + 1));
        return series;
    }
    if (!x.is(TypeId::image)) {
        Cell type_cell{};
        datatype::make_at(x.type(), type_cell);
        runtime::raise_error(ErrorCategory::script, "invalid-type", &type_cell);
    }
    const std::int32_t pos = position_of(v);
    const std::int32_t w = width_of(v), h = height_of(v);
    if (pos >= count_of(v)) return series;
    const std::int32_t column = pos % w, row = pos / w;
    const std::int32_t sw = width_of(x), sh = height_of(x);
    const std::int32_t cols = std::min(sw, w - column), rows = std::min(sh, h - row);
    const bool told = notify(v, words::word(words::Word::change), &x, pos, cols * std::max(rows, 0));
    // a copy first: the source may be the target itself
    std::vector<std::uint32_t> source(pixels(x), pixels(x) + count_of(x));
    std::uint32_t* p = pixels(v);
    for (std::int32_t r = 0; r < rows; ++r)
        for (std::int32_t c = 0; c < cols; ++c)
            p[static_cast<std::ptrdiff_t>(row + r) * w + column + c] =
                source[static_cast<std::size_t>(r) * sw + c];
    if (told) notify(v, words::word(words::Word::changed), &x, pos, cols * std::max(rows, 0));
    const std::int32_t last_row = row + std::max(rows, 1) - 1;
    series->set_series_head(clamp_position(v, static_cast<std::int64_t>(last_row) * w +
                                                  std::min(column + sw, w)));
    return series;
}

Cell* copy(Cell* value, Cell* part, bool, Cell*) {
    const Cell v = *value;
    const std::int32_t w = width_of(v), h = height_of(v);
    Cell result{};
    if (part == nullptr) {
        copy_rect(v, 0, 0, w, h, result);
        *value = result;
        return value;
    }
    const Cell limit = *part;
    const std::int32_t pos = position_of(v);
    const std::int32_t column = w == 0 ? 0 : pos % w, row = w == 0 ? 0 : pos / w;
    std::int64_t x0 = column, y0 = row, x1, y1;
    if (limit.is(TypeId::pair)) {
        const std::int64_t dx = limit.pair_x(), dy = limit.pair_y();
        x1 = column + dx;
        y1 = row + dy;
    } else if (limit.is(TypeId::image) && limit.series_node() == v.series_node()) {
        const std::int32_t other = position_of(limit);
        x1 = w == 0 ? 0 : other % w;
        y1 = w == 0 ? 0 : other / w;
    } else if (limit.is(TypeId::integer)) {
        not_done();
    } else {
        const Cell ref = words::refinement(words::Ref::part);
        runtime::raise_error(ErrorCategory::script, "invalid-refine-arg", &ref, &limit);
    }
    if (x1 < x0) std::swap(x0, x1);
    if (y1 < y0) std::swap(y0, y1);
    x0 = std::clamp<std::int64_t>(x0, 0, w);
    x1 = std::clamp<std::int64_t>(x1, 0, w);
    y0 = std::clamp<std::int64_t>(y0, 0, h);
    y1 = std::clamp<std::int64_t>(y1, 0, h);
    copy_rect(v, static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0),
              static_cast<std::int32_t>(x1 - x0), static_cast<std::int32_t>(y1 - y0), result);
    *value = result;
    return value;
}

std::int32_t length_q(Cell* value) { return count_of(*value); }

Cell* next(Cell* series) {
    const Cell v = *series;
    series->set_series_head(clamp_position(v, static_cast<std::int64_t>(position_of(v)) + 1));
    return series;
}

Cell* tail(Cell* series) {
    series->set_series_head(count_of(*series));
    return series;
}

Cell* tail_q(Cell* series) {
    const bool at_tail = series->series_head() >= count_of(*series);
    *series = Cell::logic_of(at_tail);
    return series;
}

constexpr registry::Registration registration{TypeId::image, registry::table({
        {Action::make,      make},
        {Action::random,    registry::refuse},
        {Action::reflect,   registry::refuse},
        {Action::to,        to},
        {Action::form,      form},
        {Action::mold,      mold},
        {Action::eval_path, eval_path},
        {Action::compare,   compare},
        {Action::at,        at},
        {Action::change,    change},
        {Action::clear,     registry::refuse},
        {Action::copy,      copy},
        {Action::length_q,  length_q},
        {Action::move,      registry::refuse},
        {Action::next,      next},
        {Action::pick,      pick},
        {Action::poke,      poke},
        {Action::remove,    registry::refuse},
        {Action::reverse,   registry::refuse},
        {Action::skip,      skip},
        {Action::tail,      tail},
        {Action::tail_q,    tail_q},
        {Action::take,      registry::refuse},
    })};

}  // namespace

// --- Public routines --------------------------------------------------------------------

std::int32_t width_of(const Cell& image) { return static_cast<std::int32_t>(image.series_extra() & 0xFFFF); }
std::int32_t height_of(const Cell& image) { return static_cast<std::int32_t>(image.series_extra() >> 16); }

std::uint32_t* pixels(const Cell& image) {
    return reinterpret_cast<std::uint32_t*>(memory::buffer(image.series_node())->head);
}

void make_at(Cell& cell, std::int32_t width, std::int32_t height, std::uint32_t pixel) {
    if (width < 0 || height < 0 || width > max_side || height > max_side)
        runtime::raise_error(ErrorCategory::internal, "no-memory");
    const std::int64_t n = static_cast<std::int64_t>(width) * height;
    if (n * 4 > binary::max_bytes) runtime::raise_error(ErrorCategory::internal, "no-memory");
    const NodeId node = memory::alloc_series(static_cast<std::int32_t>(std::max<std::int64_t>(n, 1)), 4, 0);
    SeriesBuffer* b = memory::buffer(node);
    std::uint32_t* p = reinterpret_cast<std::uint32_t*>(b->head);
    std::fill(p, p + n, pixel);
    b->tail = b->head + n * 4;
    cell.reset(TypeId::image);
    cell.set_series_head(0);
    cell.set_series_node(node);
    cell.set_series_extra(static_cast<std::uint32_t>(height) << 16 | static_cast<std::uint32_t>(width));
}

void stored_bytes(Cell& result, const Cell& image) { get_channel(result, image, argb); }

void init() { registry::register_type(registration); }

}  // namespace kiv::image
