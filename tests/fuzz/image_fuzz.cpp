// libFuzzer target: any bytes loaded as an image (load/as with the png codec,
// whose decoder picks the format by its signature) give an image, none for
// bytes of no image format, or the access error bad-media. A crash, hang,
// out-of-bounds read or an error of any other kind is a fault. The first
// input bytes pick the format whose signature is put in front of the rest,
// so every decoder gets its share of inputs.
#include "runtime/core/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/startup/boot.h"
#include "runtime/startup/embed.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// Inputs between two collections (the values of each input are garbage after it;
// an image may take tens of megabytes, so they are few).
constexpr int inputs_per_collection = 4;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static kiv::Cell decode_word{};
    static bool ready = [] {
        kiv::embed::boot({});
        if (!kiv::embed::eval_text(
                 "fuzz-decode: func [data /local r] [r: try [load/as data 'png] either error? r [r/id] ['ok]]")
                 .ok)
            std::abort();
        kiv::Cell loaded{};
        kiv::boot::load_text(loaded, "fuzz-decode");
        decode_word = *kiv::block::get_cell(loaded, 0);  // a word keeps nothing alive
        return true;
    }();
    (void)ready;
    static int inputs = 0;
    if (++inputs % inputs_per_collection == 0) kiv::collector::collect();
    static const std::vector<std::uint8_t> signatures[] = {
        {137, 80, 78, 71, 13, 10, 26, 10}, {255, 216, 255}, {'B', 'M'}, {'G', 'I', 'F', '8', '9', 'a'},
        {'I', 'I', 42, 0}, {'M', 'M', 0, 42}, {},
    };
    std::vector<std::uint8_t> bytes;
    if (size > 0) {
        bytes = signatures[data[0] % std::size(signatures)];
        bytes.insert(bytes.end(), data + 1, data + size);
    }
    kiv::Cell code{};
    kiv::block::make_at(code, 2);
    kiv::collector::Root keep(code);
    kiv::block::append_copy(code, decode_word);
    kiv::Cell bin{};
    kiv::binary::make_from_bytes(bin, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    kiv::block::append_copy(code, bin);
    kiv::Cell result{};
    const bool ok = kiv::boot::try_eval(code, result);
    const std::string id = ok && result.is(kiv::TypeId::word) ? std::string(kiv::symbol::name(result.word_symbol())) : "";
    if (id != "ok" && id != "bad-media") std::abort();
    return 0;
}
