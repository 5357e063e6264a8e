// libFuzzer target: any text loaded as a block and drawn on a 64x64 image
// through the draw dialect. Any language error is a fine answer (bad
// commands give draw-invalid, a syntax error stops before the drawing); a
// crash, hang, out-of-bounds access or unbounded memory is a fault. Run with
// -dict=tests/fuzz/draw.dict so the mutations meet the dialect's words.
#include "gui/backend/draw/draw.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/block.h"
#include "runtime/evaluator/callback.h"
#include "runtime/startup/boot.h"
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
        kiv::Cell spec{};
        kiv::boot::load_text(spec, "img [image!] cmd [block!]");
        kiv::collector::Root keep_spec(spec);
        kiv::Cell maker{};
        kiv::routine::make_at(maker, spec, nullptr, id, 0, false);
        kiv::collector::Root keep_maker(maker);
        kiv::Cell holder{};
        kiv::block::make_at(holder, 1);
        kiv::collector::Root keep_holder(holder);
        kiv::block::append_copy(holder, maker);
        kiv::Cell code{};
        kiv::boot::load_text(code, "set 'draw-fuzz first");
        kiv::collector::Root keep_code(code);
        kiv::block::append_copy(code, holder);
        kiv::Cell result{};
        if (!kiv::boot::try_eval(code, result)) std::abort();
        const auto defined = kiv::embed::eval_text(
            "red: 255.0.0 img2: make image! 3x3 f: make object! [name: \"DejaVu Sans\" size: 10 color: red]\n"
            "fuzz-draw: func [cmd] [try [draw-fuzz make image! 64x64 cmd] 'ok]");
        if (!defined.ok) std::abort();
        kiv::Cell word{};
        kiv::boot::load_text(word, "fuzz-draw");
        run_word = *kiv::block::get_cell(word, 0);  // a word keeps nothing alive
        return true;
    }();
    (void)ready;
    static int inputs = 0;
    if (++inputs % 16 == 0) kiv::collector::collect();
    kiv::Cell loaded{};
    kiv::Cell error{};
    if (!kiv::callback::guarded([&] { kiv::boot::load_text(loaded, {reinterpret_cast<const char*>(data), size}); }, error))
        return 0;
    kiv::collector::Root keep_loaded(loaded);
    kiv::Cell code{};
    kiv::block::make_at(code, 2);
    kiv::collector::Root keep(code);
    kiv::block::append_copy(code, run_word);
    kiv::block::append_copy(code, loaded);
    kiv::Cell result{};
    if (!kiv::boot::try_eval(code, result)) std::abort();
    return 0;
}
