// url! (type 9, a text child of string!): percent coding, the url mold,
// building a url from a block, and path steps that join with "/". file!
// inherits from here. read and write of http and https urls make one HTTP
// request; other schemes wait for port! and raise internal not-done.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/memory.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::url {

// Which bytes percent encoding keeps as they are: the unreserved set
// (A-Z a-z 0-9 - . _ ~), or that set plus the url punctuation ! # $ & ' ( ) * + , / : = ? @.
enum class Encoding : std::uint8_t { unreserved = 254, url = 255 };

// The UTF-8 bytes of a text value from its head. Raises script invalid-char
// on a code point above U+10FFFF.
std::string utf8_of(Cell& text);

// True when the byte is kept by the encoding (a byte of 128 or more never is).
bool kept_q(std::uint8_t byte, Encoding mode);
// True, with the byte in out, when p..end starts with "%" and two hex digits
// of either case. Reads nothing at or past end.
bool hex_pair(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t* out);
// Writes the byte (1 character) or "%XX" in upper case (3 characters) into
// out; returns the count.
int encode_byte(std::uint8_t byte, Encoding mode, char out[3]);

// The code points of the percent-decoded UTF-8 bytes: "%XX" runs that form
// one UTF-8 sequence give its code point (U+FFFE when malformed), a lone "%XX"
// that is no lead byte gives its byte, and any other text is decoded as UTF-8
// (a byte that is not UTF-8 stands for itself). Used by the lexer too.
std::vector<std::uint32_t> decode_bytes(const std::uint8_t* p, std::int32_t n);
// Appends decode_bytes of the bytes to the text of out.
void decode_bytes_into(const std::uint8_t* p, std::int32_t n, NodeId out);
// decode_bytes_into of a text value's UTF-8 form, from its head.
void decode_into(Cell& text, NodeId out);
// Appends the percent-encoded UTF-8 form of a text value, from its head.
void encode_into(Cell& text, NodeId out, Encoding mode);

// Registers url! (after string!).
void init();

// Handlers of url! (make, to and eval-path are also file!'s).
Cell* make(Cell* proto, Cell* spec, TypeId type);
Cell* to(Cell* proto, Cell* spec, TypeId type);
std::int32_t mold(Cell* value, NodeId out, MoldOptions options, Cell* arg,
                  std::int32_t part, std::int32_t indent);
Cell* eval_path(Cell* value, Cell* element, Cell* new_value, const PathStep& step);
Cell* open(Cell* port, const OpenRefinements& how);
Cell* read(Cell* source, const ReadRefinements& how);
Cell* write(Cell* destination, Cell* data, const WriteRefinements& how);

}  // namespace kiv::url
