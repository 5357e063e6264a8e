// The OS description's pieces: os-release fields, architecture names and
// kernel release numbers.
#include "runtime/os/system_info.h"

#include <gtest/gtest.h>

namespace kiv::system_info {
namespace {

TEST(SystemInfo, OsReleaseFields) {
    const std::string text =
        "NAME=\"Debian GNU/Linux\"\nVERSION_ID='12'\nPRETTY_NAME=\"Say \\\"hi\\\"\"\nID=debian\nNAMEX=no\n";
    EXPECT_EQ(os_release_field(text, "NAME"), "Debian GNU/Linux");
    EXPECT_EQ(os_release_field(text, "VERSION_ID"), "12");
    EXPECT_EQ(os_release_field(text, "PRETTY_NAME"), "Say \"hi\"");
    EXPECT_EQ(os_release_field(text, "ID"), "debian");
    EXPECT_EQ(os_release_field(text, "MISSING"), "");
}

TEST(SystemInfo, Architectures) {
    const std::pair<const char*, const char*> cases[] = {
        {"x86_64", "x86-64"}, {"i686", "x86-32"}, {"i386", "x86-32"}, {"aarch64", "ARM64"},
        {"armv7l", "ARM"}, {"ia64", "IA-64"}, {"riscv64", "Unknown"}, {"", "Unknown"},
    };
    for (const auto& [machine, name] : cases) EXPECT_EQ(arch_name(machine), name) << machine;
}

TEST(SystemInfo, KernelRelease) {
    struct Case {
        const char* release;
        int a, b, c, build;
    };
    const Case cases[] = {
        {"6.1.0-18-amd64", 6, 1, 0, 18},
        {"5.15.153.1-microsoft-standard-WSL2", 5, 15, 153, 0},
        {"6.8", 6, 8, 0, 0},
        {"4.19.300-99999999999", 4, 19, 255, 2147483647},
        {"", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        OsInfo info;
        parse_release(c.release, info);
        EXPECT_EQ(info.version[0], c.a) << c.release;
        EXPECT_EQ(info.version[1], c.b) << c.release;
        EXPECT_EQ(info.version[2], c.c) << c.release;
        EXPECT_EQ(info.build, c.build) << c.release;
    }
}

TEST(SystemInfo, ThisMachine) {
    const OsInfo info = os_info();
    EXPECT_FALSE(info.name.empty());
    EXPECT_FALSE(info.arch.empty());
}

}  // namespace
}  // namespace kiv::system_info
