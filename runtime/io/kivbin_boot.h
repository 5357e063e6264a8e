// Loading the boot image: the Kivbin stream the program holds, decoded once
// at start-up into the root block with the collector held off.
#pragma once

#include <cstdint>
#include <span>

namespace kiv::kivbin {

// Appends the values of the boot image at data to the root block and returns
// the root base: the index in the root block of the first of them. Data that
// is not a Kivbin stream, or whose compressed body is corrupt, ends the
// process with a message and status 254 (the program is damaged); a bad
// record raises script kb-invalid-record as decode does.
std::int32_t load_boot_data(std::span<const std::uint8_t> data);

}  // namespace kiv::kivbin
