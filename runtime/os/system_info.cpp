#include "runtime/os/system_info.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <sys/utsname.h>

namespace kiv::system_info {

std::string os_release_field(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + "=") != 0) continue;
        std::string value = line.substr(key.size() + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        std::string out;  // shell-style escapes: \" \\ \$ \`
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            out += value[i];
        }
        return out;
    }
    return {};
}

std::string arch_name(const std::string& machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    if (machine == "ia64") return "IA-64";
    if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return "x86-32";
    if (machine.compare(0, 3, "arm") == 0) return "ARM";
    return "Unknown";
}

void parse_release(const std::string& release, OsInfo& info) {
    std::size_t i = 0;
    for (int k = 0; k < 3; ++k) {
        std::uint32_t n = 0;
        bool digits = false;
        while (i < release.size() && std::isdigit(static_cast<unsigned char>(release[i])) != 0) {
            n = std::min<std::uint32_t>(n * 10 + static_cast<std::uint32_t>(release[i++] - '0'), 1000);
            digits = true;
        }
        if (!digits) break;
        info.version[k] = static_cast<std::uint8_t>(std::min<std::uint32_t>(n, 255));
        if (i >= release.size() || release[i] != '.') break;
        ++i;
    }
    const std::size_t dash = release.find('-');
    if (dash == std::string::npos) return;
    std::int64_t build = 0;
    for (std::size_t j = dash + 1; j < release.size() && std::isdigit(static_cast<unsigned char>(release[j])) != 0; ++j)
        build = std::min<std::int64_t>(build * 10 + (release[j] - '0'), 2147483647);
    info.build = static_cast<std::int32_t>(build);
}

OsInfo os_info() {
    OsInfo info;
    struct utsname u{};
    const bool have_uname = ::uname(&u) == 0;
    std::string text;
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path);
        if (!in) continue;
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
        break;
    }
    info.name = os_release_field(text, "PRETTY_NAME");
    if (info.name.empty()) info.name = os_release_field(text, "NAME");
    if (info.name.empty()) info.name = have_uname ? u.sysname : "Linux";
    info.arch = have_uname ? arch_name(u.machine) : "Unknown";
    if (have_uname) parse_release(u.release, info);
    return info;
}

}  // namespace kiv::system_info
