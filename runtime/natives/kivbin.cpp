// The entry points of the Kivbin codec, entered in the routine table for the
// library's codec object: kivbin-encode* (data, compact?) gives the stream of
// a value; kivbin-decode (binary, file or url) gives the value a stream holds,
// or a block of them when it holds other than one.
#include "runtime/evaluator/natives.h"

#include "runtime/core/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/kivbin.h"
#include "runtime/io/kivbin_encode.h"
#include "runtime/core/raise.h"

namespace kiv::natives {

namespace {

// A stream this short holds no record: refused before it is read.
constexpr std::int32_t shortest_stream = 11;

[[noreturn]] void invalid_data(const Cell& value) {
    runtime::raise_error(ErrorCategory::script, "invalid-data", &value);
}

void kivbin_encode_star(Cell* args) {
    const Cell data = args[0];
    const Cell compact = args[1];
    if (!compact.is(TypeId::logic)) expect_arg("encode*", compact, "compact?");
    kivbin::encode_to_binary(data, compact.logic_value() != 0, args[0]);
}

void kivbin_decode(Cell* args) {
    Cell payload = args[0];
    collector::Root keep_payload(payload);
    if (payload.is(TypeId::file) || payload.is(TypeId::url)) {
        const auto read = registry::handler<Action::read>(payload.type());
        Cell source = payload;
        if (read == nullptr) invalid_data(payload);
        read(&source, ReadRefinements{.binary = true});
        payload = source;
    }
    if (!payload.is(TypeId::binary)) invalid_data(payload);
    if (binary::length_from_head(payload) < shortest_stream) invalid_data(payload);
    Cell target{};
    block::make_at(target, 1);
    collector::Root keep_target(target);
    const std::uint8_t* bytes = binary::head_pointer(payload);  // after the last allocation before the copy
    kivbin::decode(bytes, static_cast<std::size_t>(binary::length_from_head(payload)), target, &payload);
    args[0] = block::length_of(target) == 1 ? block::first_cell(target)[0] : target;
    args[0].set_new_line(false);
}

}  // namespace

void register_kivbin() {
    routine::add("kivbin-encode*", kivbin_encode_star);
    routine::add("kivbin-decode", kivbin_decode);
}

}  // namespace kiv::natives
