// The text-mode console on a terminal follows its size: a resize between two
// lines shows in system/console/size at the next one.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

// Reads from fd until the text holds want, or two seconds pass without output.
std::string read_until(int fd, const std::string& want) {
    std::string text;
    char buffer[512];
    while (text.find(want) == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0) break;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

void type(int fd, const std::string& line) { ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size())); }

TEST(ConsoleResize, TheSizeFollowsTheTerminal) {
    winsize size{};
    size.ws_col = 100;
    size.ws_row = 30;
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, &size);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::unsetenv("COLUMNS");
        ::unsetenv("LINES");
        ::execl(KIV_PROGRAM, KIV_PROGRAM, "--cli", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    EXPECT_NE(read_until(terminal, ">> ").find(">> "), std::string::npos);
    // the terminal echoes the line: the answer is what the line does not hold
    type(terminal, "print [system/console/size 1 + 1]\n");
    EXPECT_NE(read_until(terminal, "100x30 2").find("100x30 2"), std::string::npos);
    size.ws_col = 120;
    size.ws_row = 40;
    ASSERT_EQ(::ioctl(terminal, TIOCSWINSZ, &size), 0);  // the console gets SIGWINCH
    type(terminal, "print [system/console/size 1 + 2]\n");
    const std::string second = read_until(terminal, "120x40 3");
    EXPECT_NE(second.find("120x40 3"), std::string::npos) << second;
    type(terminal, "quit\n");
    read_until(terminal, "\x04");  // no such text: reads to the end of the output
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(terminal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
