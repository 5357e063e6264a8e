// A compact Kivbin stream built by hand for the reader's tests: header
// (version and flags), counts, the symbol table of the names given, then
// the records as given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::test {

inline std::vector<std::uint8_t> kivbin_stream(const std::vector<std::uint8_t>& records,
                                               const std::vector<std::string>& names = {},
                                               std::uint8_t extra_flags = 0, std::uint8_t version = 2) {
    std::vector<std::uint8_t> body;
    auto varint = [&body](std::uint32_t v) {
        do {
            body.push_back(static_cast<std::uint8_t>((v & 0x7F) | (v > 0x7F ? 0x80 : 0)));
            v >>= 7;
        } while (v != 0);
    };
    varint(1);
    varint(static_cast<std::uint32_t>(records.size()));
    std::uint8_t flags = 0x01 | extra_flags;
    if (!names.empty()) {
        flags |= 0x04;
        std::vector<std::uint8_t> area;
        std::vector<std::uint8_t> offsets;
        for (const std::string& n : names) {
            const auto at = static_cast<std::uint32_t>(area.size());
            for (int i = 0; i < 4; ++i) offsets.push_back(static_cast<std::uint8_t>(at >> (8 * i)));
            area.insert(area.end(), n.begin(), n.end());
            area.push_back(0);
        }
        varint(static_cast<std::uint32_t>(names.size()));
        varint(static_cast<std::uint32_t>(area.size()));
        body.insert(body.end(), offsets.begin(), offsets.end());
        body.insert(body.end(), area.begin(), area.end());
    }
    body.insert(body.end(), records.begin(), records.end());
    std::vector<std::uint8_t> out = {'K', 'I', 'V', 'B', 'I', 'N', version, flags};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace kiv::test
