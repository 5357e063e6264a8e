// A description of the operating system: its name from /etc/os-release, the
// machine architecture and kernel release from uname(2).
#pragma once

#include <cstdint>
#include <string>

namespace kiv::system_info {

struct OsInfo {
    std::string name;   // PRETTY_NAME of os-release, else NAME, else the kernel's name
    std::string arch;   // x86-64, x86-32, ARM64, ARM, IA-64, or Unknown
    std::uint8_t version[3] = {0, 0, 0};  // the kernel release's first three numbers
    std::int32_t build = 0;               // the number after its "-", or 0
};

OsInfo os_info();

// The value of key in an os-release text (quotes removed), or "".
std::string os_release_field(const std::string& text, const std::string& key);
// The architecture's name for a uname machine string.
std::string arch_name(const std::string& machine);
// Fills version and build from a kernel release such as "6.1.0-18-amd64".
void parse_release(const std::string& release, OsInfo& info);

}  // namespace kiv::system_info
