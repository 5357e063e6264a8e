// GIF through giflib, reading from and writing to memory. The reader walks
// the records itself up to the first image, so the only large allocation is
// the image, made after its size is checked (giflib's whole-file reader would
// allocate every frame as its descriptor asks). The writer keeps an image of
// at most 256 colours exact; for more it picks 256 by median cut.
#include "runtime/datatypes/image_codecs.h"

#include "runtime/datatypes/image.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <unordered_map>

namespace kiv::image_codecs {

namespace {

struct Input {
    const std::uint8_t* bytes;
    std::int64_t size;
    std::int64_t at;
};

int read_bytes(GifFileType* gif, GifByteType* to, int n) {
    auto* in = static_cast<Input*>(gif->UserData);
    const std::int64_t count = std::clamp<std::int64_t>(in->size - in->at, 0, std::max(n, 0));
    std::memcpy(to, in->bytes + in->at, static_cast<std::size_t>(count));
    in->at += count;
    return static_cast<int>(count);
}

int write_bytes(GifFileType* gif, const GifByteType* from, int n) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(gif->UserData);
    out->insert(out->end(), from, from + n);
    return n;
}

struct Closer {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

}  // namespace

bool decode_gif(const std::uint8_t* bytes, std::int64_t n, Cell& result) {
    Input in{bytes, n, 0};
    int error = 0;
    std::unique_ptr<GifFileType, Closer> gif{DGifOpen(&in, read_bytes, &error)};
    if (!gif) return false;
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return false;
        if (type == TERMINATE_RECORD_TYPE) return false;  // no image at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) return false;
            if (code == GRAPHICS_EXT_FUNC_CODE && block) {
                GraphicsControlBlock control{};
                if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                    transparent = control.TransparentColor;
            }
            while (block)
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) return false;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return false;
        const GifImageDesc& desc = gif->Image;
        const std::int64_t w = desc.Width, h = desc.Height;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        // an LZW code takes at least 2 bits and stands for at most 4096 pixels
        if (w <= 0 || h <= 0 || !size_ok(w, h) || !data_can_hold(w, h, n, 4 * 4096) || !map) return false;
        // the 256 colours an index may name; those past the map are black
        std::array<std::uint32_t, 256> colours;
        colours.fill(0xFF000000u);
        for (int i = 0; i < std::min(map->ColorCount, 256); ++i) {
            const GifColorType& c = map->Colors[i];
            colours[i] = 0xFF000000u | std::uint32_t{c.Red} << 16 | std::uint32_t{c.Green} << 8 | c.Blue;
        }
        if (transparent >= 0 && transparent < 256) colours[transparent] &= 0x00FFFFFFu;
        Cell made{};
        image::make_at(made, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h), 0);
        std::uint32_t* pixels = image::pixels(made);
        std::vector<GifPixelType> line(static_cast<std::size_t>(w));
        // interlaced rows come in four passes: every 8th from 0, every 8th
        // from 4, every 4th from 2, every 2nd from 1
        static constexpr int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
        const int passes = desc.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            const std::int64_t start = desc.Interlace ? starts[pass] : 0, step = desc.Interlace ? steps[pass] : 1;
            for (std::int64_t y = start; y < h; y += step) {
                if (DGifGetLine(gif.get(), line.data(), static_cast<int>(w)) == GIF_ERROR) return false;
                std::uint32_t* to = pixels + y * w;
                for (std::int64_t x = 0; x < w; ++x) to[x] = colours[line[x]];
            }
        }
        result = made;
        return true;
    }
}

// --- Writing ----------------------------------------------------------------------------

namespace {

// The palette and the index of every pixel.
struct Indexed {
    std::vector<GifColorType> palette;
    std::vector<GifPixelType> indexes;
    int transparent = -1;
};

bool is_transparent(std::uint32_t p) { return p >> 24 < 128; }

// The image's own colours when there are few enough; false past the limit.
bool exact_colours(const std::uint32_t* pixels, std::int64_t count, Indexed& out) {
    std::unordered_map<std::uint32_t, int> index_of;
    std::uint32_t last = 0;
    int last_index = -1;
    out.indexes.resize(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint32_t p = pixels[i];
        if (p != last || last_index < 0) {
            const bool clear = is_transparent(p);
            // every transparent pixel shares one entry, keyed 0
            const std::uint32_t key = clear ? 0 : (p & 0x00FFFFFFu) | 0xFF000000u;
            auto found = index_of.find(key);
            if (found == index_of.end()) {
                if (out.palette.size() == 256) return false;
                found = index_of.emplace(key, static_cast<int>(out.palette.size())).first;
                out.palette.push_back({static_cast<GifByteType>(p >> 16), static_cast<GifByteType>(p >> 8),
                                       static_cast<GifByteType>(p)});
                if (clear) out.transparent = found->second;
            }
            last = p;
            last_index = found->second;
        }
        out.indexes[i] = static_cast<GifPixelType>(last_index);
    }
    return true;
}

// Median cut over a histogram of 5 bits a channel: the box holding the widest
// spread of one channel is split at the median pixel along it until there are
// as many boxes as colours; each colour is the mean of its box's pixels, and
// each histogram cell maps to the nearest colour.
void median_cut(const std::uint32_t* pixels, std::int64_t count, Indexed& out) {
    constexpr int cells = 1 << 15;
    struct Cellstat {
        std::uint64_t n = 0, r = 0, g = 0, b = 0;
    };
    std::vector<Cellstat> histogram(cells);
    auto cell_of = [](std::uint32_t p) { return static_cast<int>((p >> 9 & 0x7C00) | (p >> 6 & 0x3E0) | (p >> 3 & 0x1F)); };
    bool any_clear = false;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint32_t p = pixels[i];
        if (is_transparent(p)) {
            any_clear = true;
            continue;
        }
        Cellstat& c = histogram[cell_of(p)];
        ++c.n;
        c.r += p >> 16 & 0xFF;
        c.g += p >> 8 & 0xFF;
        c.b += p & 0xFF;
    }
    std::vector<int> used;
    for (int i = 0; i < cells; ++i)
        if (histogram[i].n) used.push_back(i);
    auto component = [](int cell, int axis) { return cell >> (10 - 5 * axis) & 0x1F; };
    struct Box {
        std::size_t begin, end;  // a range of used
        int axis, spread;
    };
    auto measure = [&](Box& box) {
        int low[3] = {31, 31, 31}, high[3] = {0, 0, 0};
        for (std::size_t i = box.begin; i < box.end; ++i)
            for (int a = 0; a < 3; ++a) {
                low[a] = std::min(low[a], component(used[i], a));
                high[a] = std::max(high[a], component(used[i], a));
            }
        box.axis = 0;
        for (int a = 1; a < 3; ++a)
            if (high[a] - low[a] > high[box.axis] - low[box.axis]) box.axis = a;
        box.spread = box.end - box.begin > 1 ? high[box.axis] - low[box.axis] : -1;
    };
    const std::size_t wanted = any_clear ? 255 : 256;
    std::vector<Box> boxes{{0, used.size(), 0, 0}};
    measure(boxes[0]);
    while (boxes.size() < wanted) {
        auto widest = std::max_element(boxes.begin(), boxes.end(),
                                       [](const Box& a, const Box& b) { return a.spread < b.spread; });
        if (widest->spread <= 0) break;
        Box box = *widest;
        std::sort(used.begin() + box.begin, used.begin() + box.end,
                  [&](int a, int b) { return component(a, box.axis) < component(b, box.axis); });
        std::uint64_t total = 0, seen = 0;
        for (std::size_t i = box.begin; i < box.end; ++i) total += histogram[used[i]].n;
        std::size_t split = box.begin + 1;
        for (std::size_t i = box.begin; i < box.end - 1; ++i) {
            seen += histogram[used[i]].n;
            split = i + 1;
            if (seen * 2 >= total) break;
        }
        Box left{box.begin, split, 0, 0}, right{split, box.end, 0, 0};
        measure(left);
        measure(right);
        *widest = left;
        boxes.push_back(right);
    }
    for (const Box& box : boxes) {
        std::uint64_t n = 0, r = 0, g = 0, b = 0;
        for (std::size_t i = box.begin; i < box.end; ++i) {
            const Cellstat& c = histogram[used[i]];
            n += c.n, r += c.r, g += c.g, b += c.b;
        }
        if (n == 0) continue;
        out.palette.push_back({static_cast<GifByteType>((r + n / 2) / n), static_cast<GifByteType>((g + n / 2) / n),
                               static_cast<GifByteType>((b + n / 2) / n)});
    }
    // each used cell maps to the colour nearest its pixels' mean
    std::vector<GifPixelType> nearest(cells, 0);
    for (int cell : used) {
        const Cellstat& c = histogram[cell];
        const std::int64_t r = static_cast<std::int64_t>(c.r / c.n), g = static_cast<std::int64_t>(c.g / c.n),
                           b = static_cast<std::int64_t>(c.b / c.n);
        std::int64_t best = -1, best_distance = 0;
        for (std::size_t i = 0; i < out.palette.size(); ++i) {
            const GifColorType& p = out.palette[i];
            const std::int64_t dr = r - p.Red, dg = g - p.Green, db = b - p.Blue;
            const std::int64_t d = dr * dr + dg * dg + db * db;
            if (best < 0 || d < best_distance) best = static_cast<std::int64_t>(i), best_distance = d;
        }
        nearest[cell] = static_cast<GifPixelType>(best);
    }
    if (any_clear) {
        out.transparent = static_cast<int>(out.palette.size());
        out.palette.push_back({0, 0, 0});
    }
    out.indexes.resize(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i)
        out.indexes[i] = is_transparent(pixels[i]) ? static_cast<GifPixelType>(out.transparent)
                                                   : nearest[cell_of(pixels[i])];
}

struct EncoderCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};

}  // namespace

bool encode_gif(const Cell& img, std::vector<std::uint8_t>& out) {
    const std::int64_t w = image::width_of(img), h = image::height_of(img);
    const std::uint32_t* pixels = image::pixels(img);
    Indexed indexed;
    if (!exact_colours(pixels, w * h, indexed)) {
        indexed = Indexed{};
        median_cut(pixels, w * h, indexed);
    }
    // a colour table holds a power of two entries, at least two
    const int bits = std::max(1, GifBitSize(static_cast<int>(indexed.palette.size())));
    indexed.palette.resize(std::size_t{1} << bits, GifColorType{0, 0, 0});
    ColorMapObject* map = GifMakeMapObject(1 << bits, indexed.palette.data());
    if (!map) return false;
    out.clear();
    int error = 0;
    std::unique_ptr<GifFileType, EncoderCloser> gif{EGifOpen(&out, write_bytes, &error)};
    bool ok = gif != nullptr;
    if (ok) {
        EGifSetGifVersion(gif.get(), indexed.transparent >= 0);
        ok = EGifPutScreenDesc(gif.get(), static_cast<int>(w), static_cast<int>(h), bits, 0, map) == GIF_OK;
    }
    GifFreeMapObject(map);
    if (ok && indexed.transparent >= 0) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSAL_UNSPECIFIED;
        control.TransparentColor = indexed.transparent;
        GifByteType extension[4];
        const std::size_t length = EGifGCBToExtension(&control, extension);
        ok = EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif.get(), 0, 0, static_cast<int>(w), static_cast<int>(h), false, nullptr) == GIF_OK;
    for (std::int64_t y = 0; ok && y < h; ++y)
        ok = EGifPutLine(gif.get(), indexed.indexes.data() + y * w, static_cast<int>(w)) == GIF_OK;
    if (!ok) return false;
    // closing writes the trailer and frees the encoder, which then must not be closed again
    GifFileType* open = gif.release();
    return EGifCloseFile(open, &error) == GIF_OK;
}

}  // namespace kiv::image_codecs
