// The natives table: entry functions by 1-based index, filled at start-up.
#include "runtime/evaluator/natives.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/word.h"
#include "runtime/core/raise.h"
#include "runtime/core/runtime_error.h"
#include "runtime/core/tracked_heap.h"

namespace kiv::natives {
namespace {

Entry* table = nullptr;       // table_size slots, on the tracked heap
std::int32_t next_index = 1;  // 1-based index of the next append
Cell scratch{};               // a copy: the root block's cells move as it grows; the root keeps it alive

}  // namespace

void init() {
    table = static_cast<Entry*>(runtime::alloc_tracked_zeroed(  // the tracked heap is fresh at each boot
        static_cast<std::int32_t>(sizeof(Entry)) * table_size));
    next_index = 1;
    scratch = *block::make_in(nullptr, 32);  // an arena block: nothing holds its address, only its node
}

std::int32_t append(Entry e) {
    if (next_index > table_size)  // a fixed table: only a runtime fault can overfill it
        runtime::report_runtime_error(runtime::error_assertion, KIV_CALLER_ADDRESS());
    table[next_index - 1] = e;
    return next_index++;
}

void set(Native index, Entry e) {
    const std::int32_t n = static_cast<std::int32_t>(index);
    table[n - 1] = e;
    if (n >= next_index) next_index = n + 1;
}

std::int32_t count() { return next_index; }

Entry entry(std::int32_t n) {
    if (table == nullptr || n < 1 || n > table_size) return nullptr;
    return table[n - 1];
}

const Cell& print_scratch() { return scratch; }

void expect_arg(const char* function, const Cell& value, const char* argument) {
    Cell function_word{};
    word::make_kind_at(TypeId::word, function, function_word);
    Cell type{};
    datatype::make_at(value.type(), type);
    Cell argument_word{};
    word::make_kind_at(TypeId::word, argument, argument_word);
    runtime::raise_error(ErrorCategory::script, "expect-arg", &function_word, &type, &argument_word);
}

void register_all() {
    register_control();
    register_eval();
    register_compare();
    register_maths();
    register_system();
    register_output();
    register_files();
    register_parse();
    register_library();
    register_compress();
    register_codecs();
    register_image();
    register_kivbin();
    register_process();
    register_text();
    register_json();
    register_csv();
}

}  // namespace kiv::natives
