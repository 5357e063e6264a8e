// The byte-to-text codecs of bases 2, 16, 58 and 64 over plain buffers. The
// encoders write ASCII into room the caller sized with encoded_size; the
// decoders read text of 1-, 2- or 4-byte units, skip blanks and ";" comments
// (to the line feed), and answer -1, with nothing kept, on invalid text.
#pragma once

#include <cstdint>

namespace kiv::base_n {

// True for the bases these codecs know: 2, 16, 58, 64.
bool known_base(std::int32_t base);

// Characters the encoding of n bytes needs at most (base 58: its scratch area
// too); may exceed the 32-bit range, which callers check.
std::int64_t encoded_size(std::int32_t base, std::int64_t n);
// Encodes n bytes into dst; returns the characters written. Base 16 digits are
// upper case; base 64 pads with "=" and writes no line breaks.
std::int64_t encode(std::int32_t base, const std::uint8_t* src, std::int64_t n, char* dst);

// Bytes the decoding of count characters gives at most.
std::int64_t decoded_room(std::int32_t base, std::int64_t count);
// Decodes count units of text into out (decoded_room bytes); returns the bytes
// written or -1 for invalid text. Base 2 needs whole bytes; base 16 drops an
// odd final digit; base 64 stops at "=" (after two or three digits of a
// group) and drops the digits of an unpadded final group.
std::int64_t decode(std::int32_t base, const std::uint8_t* text, std::int64_t count,
                    std::uint32_t unit, std::uint8_t* out);

}  // namespace kiv::base_n
