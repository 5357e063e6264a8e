// libFuzzer target: any bytes given to the deflate, zlib and gzip decoders
// end with a status, the size a counting pass reports is the size a real pass
// produces, and any bytes survive the compressor and the decoder unchanged.
// A crash, hang, out-of-bounds access or a mismatch is a fault.
#include "runtime/codecs/deflate.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using kiv::deflate::Status;
using Routine = Status (*)(std::uint8_t*, std::size_t&, const std::uint8_t*, std::size_t);

void decode(Routine routine, const std::uint8_t* data, std::size_t size) {
    std::size_t needed = 0;
    const Status counted = routine(nullptr, needed, data, size);
    if (counted != Status::ok && counted != Status::too_small) return;
    if (needed > kiv::deflate::max_expansion(size)) std::abort();  // more than any data can hold
    std::vector<std::uint8_t> out(needed + 1);
    std::size_t produced = out.size();
    const Status real = routine(out.data(), produced, data, size);
    // The containers' checks of the output come only with the real pass.
    if (real == Status::ok ? produced != needed : routine == kiv::deflate::inflate) std::abort();
    if (needed > 0) {  // a buffer one byte short
        produced = needed - 1;
        if (routine(out.data(), produced, data, size) == Status::ok) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    decode(kiv::deflate::inflate, data, size);
    decode(kiv::deflate::zlib_decompress, data, size);
    decode(kiv::deflate::gunzip, data, size);

    // The round trip of the input through the compressor.
    std::vector<std::uint8_t> packed(size + 32);
    std::size_t packed_size = packed.size();
    if (kiv::deflate::compress(packed.data(), packed_size, data, size) == Status::too_small) {
        packed.resize(packed_size);
        if (kiv::deflate::compress(packed.data(), packed_size, data, size) != Status::ok) std::abort();
    }
    std::vector<std::uint8_t> back(size + 1);
    std::size_t back_size = back.size();
    if (kiv::deflate::inflate(back.data(), back_size, packed.data(), packed_size) != Status::ok ||
        back_size != size || (size > 0 && std::memcmp(back.data(), data, size) != 0))
        std::abort();
    return 0;
}
