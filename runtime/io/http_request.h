// The HTTP request behind url!'s read and write: turns the method word, the
// header block and the body into a request for the HTTP client, and the
// response into a value.
#pragma once

#include "runtime/core/cell.h"
#include "runtime/datatypes/symbol.h"

#include <string>

namespace kiv::http_request {

struct Flags {
    bool binary = false;  // the body as binary!
    bool lines = false;   // the body as a block of lines
    bool info = false;    // [status headers body] instead of the body
};

// Sends one request to url (its text as it is). method is a word's symbol:
// get and head send no body; any other method word is sent upper-cased.
// headers is a block of name/value pairs or null (null: the default headers);
// body is a binary!, any other value (formed), or null. The result goes into
// out: the body as string! (UTF-8), binary! or block of lines, or with info a
// block of the status integer!, a map! of the response headers (a name met
// twice maps to a block of its values) and the body. False when no response
// came.
bool request(const Cell& url, symbol::SymbolId method, const Cell* headers, const Cell* body,
             Flags flags, Cell& out);

// The map! of header text: each "Name: value" line gives the word Name and
// the string value; repeated names collect their values in a block.
void parse_headers(const std::string& text, Cell& out);

}  // namespace kiv::http_request
