// libFuzzer target: any bytes given to the LZ77 decoder decode or are refused,
// within the output the header claims; and bytes the encoder accepts (one
// input in eight is tried) decode back unchanged. A crash, hang, out-of-bounds access or a mismatch is
// a fault.
#include "runtime/codecs/lz77.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    if (kiv::lz77::decompress(data, size, out)) {
        std::size_t claimed = 0;
        for (int i = 7; i >= 4; --i) claimed = claimed << 8 | data[i];
        if (out.size() > claimed) std::abort();
    } else if (!out.empty()) {
        std::abort();
    }
    if (size % 8 != 0) return 0;  // the encoder's 6 MB of hash heads: round trips for one input in eight
    std::vector<std::uint8_t> packed(size);
    const std::int64_t packed_size = kiv::lz77::compress(data, size, packed.data());
    if (packed_size > static_cast<std::int64_t>(size)) std::abort();
    if (packed_size > 0) {
        if (!kiv::lz77::decompress(packed.data(), static_cast<std::size_t>(packed_size), out) || out.size() != size ||
            !std::equal(out.begin(), out.end(), data))
            std::abort();
    }
    return 0;
}
