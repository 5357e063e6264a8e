// libFuzzer target: any text loaded as a block and drawn on a 64x64 image
// through the draw dialect. Any language error is a fine answer (bad
// commands give draw-invalid, a syntax error stops before the drawing); a
// crash, hang, out-of-bounds access or unbounded memory is a fault. Run with
// -dict=tests/fuzz/draw.dict so the mutations meet the dialect's words.
#include "gui/backend/draw/draw.h"

#include "runtime/collector.h"
#include "runtime/datatypes/function.h"
#include "runtime/startup/embed.h"

#include <cstdlib>
#include <string_view>

namespace {

void draw_routine(kiv::Cell* args) {
    if (!args[0].is(kiv::TypeId::image) || !args[1].is(kiv::TypeId::block)) return;
    const kiv::draw::Failure f = kiv::draw::draw_on_image(args[0], args[1], kiv::draw::OnError::give);
    if (f.id != nullptr) kiv::runtime::raise_error(f.category, f.id, &f.arg);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kiv::Cell run_word{};
    static bool ready = [] {
        const std::int32_t id = kiv::routine::add("draw-fuzz", draw_routine);
        kiv::embed::boot({});
        const auto spec = kiv::embed::load("img [image!] cmd [block!]");
        kiv::embed::Root keep_spec(spec.value);
        kiv::Cell maker{};
        kiv::routine::make_at(maker, spec.value, nullptr, id, 0, false);
        kiv::embed::Root keep_maker(maker);
        kiv::Cell holder = kiv::embed::make_block(1);
        kiv::embed::Root keep_holder(holder);
        kiv::embed::append(holder, maker);
        const auto code = kiv::embed::load("set 'draw-fuzz first");
        kiv::embed::Root keep_code(code.value);
        kiv::embed::append(code.value, holder);
        if (!kiv::embed::eval(code.value).ok) std::abort();
        const auto defined = kiv::embed::eval_text(
            "red: 255.0.0 img2: make image! 3x3 f: make object! [name: \"DejaVu Sans\" size: 10 color: red]\n"
            "fuzz-draw: func [cmd] [try [draw-fuzz make image! 64x64 cmd] 'ok]");
        if (!defined.ok) std::abort();
        run_word = kiv::embed::pick(kiv::embed::load("fuzz-draw").value, 0);
        return true;
    }();
    (void)ready;
    static int inputs = 0;
    if (++inputs % 16 == 0) kiv::collector::collect();
    const auto loaded = kiv::embed::load(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!loaded.ok) return 0;
    kiv::embed::Root keep_loaded(loaded.value);
    kiv::Cell code = kiv::embed::make_block(2);
    kiv::embed::Root keep(code);
    kiv::embed::append(code, run_word);
    kiv::embed::append(code, loaded.value);
    if (!kiv::embed::eval(code).ok) std::abort();
    return 0;
}
