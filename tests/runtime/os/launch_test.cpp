// Program launching: command-line words, exit statuses, and pipes served
// together so that no stream can block the child.
#include "runtime/os/launch.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kiv::launch {
namespace {

TEST(Launch, SplitWords) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"", {}},
        {"  \t ", {}},
        {"ls -l  /tmp", {"ls", "-l", "/tmp"}},
        {R"(a "b c" 'd e' f\ g)", {"a", "b c", "d e", "f g"}},
        {R"("q\"x" 'no\escape' "\n")", {"q\"x", "no\\escape", "\\n"}},
        {R"(x"y"'z' "" '')", {"xyz", "", ""}},
        {R"("unclosed)", {"unclosed"}},
        {"trailing\\", {"trailing\\"}},
    };
    for (const auto& [line, words] : cases) EXPECT_EQ(split_words(line), words) << line;
}

Request shell(const std::string& command) {
    Request r;
    r.command = command;
    r.shell = true;
    r.wait = true;
    return r;
}

TEST(Launch, ExitStatuses) {
    Request ok = shell("exit 0"), three = shell("exit 3"), killed = shell("kill -TERM $$");
    EXPECT_EQ(run(ok), 0);
    EXPECT_EQ(run(three), 3);
    EXPECT_EQ(run(killed), 128 + SIGTERM);
    Request missing;  // retried through the shell, which reports 127
    missing.command = "no-such-program-kiv-launch-test";
    missing.wait = true;
    missing.error.kind = Sink::Kind::capture;
    EXPECT_EQ(run(missing), 127);
    EXPECT_TRUE(missing.shell);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no child left behind
}

TEST(Launch, BadRedirectionsStartNothing) {
    Request in = shell("exit 0");
    in.input.kind = Source::Kind::file;
    in.input.path = "/nonexistent-kiv-dir/in.txt";
    EXPECT_EQ(run(in), -1);
    Request out = shell("exit 0");
    out.output.kind = Sink::Kind::file;
    out.output.path = "/nonexistent-kiv-dir/out.txt";
    EXPECT_EQ(run(out), -1);
}

// The child writes 8 MB to each stream while we still feed it 8 MB of input
// it reads only at the end: any stream served alone would block one side.
TEST(Launch, BothPipesAndInputAtOnce) {
    const std::string input(8 << 20, 'i');
    Request r = shell("head -c 8388608 /dev/zero; head -c 8388608 /dev/zero >&2; wc -c");
    r.input.kind = Source::Kind::bytes;
    r.input.data = reinterpret_cast<const std::uint8_t*>(input.data());
    r.input.size = input.size();
    r.output.kind = Sink::Kind::capture;
    r.error.kind = Sink::Kind::capture;
    EXPECT_EQ(run(r), 0);
    EXPECT_EQ(r.output.captured.size(), (8u << 20) + 8);  // the zeros, then "8388608\n"
    EXPECT_EQ(r.output.captured.substr(8u << 20), "8388608\n");
    EXPECT_EQ(r.error.captured.size(), 8u << 20);
}

TEST(Launch, ChildThatStopsReadingEarly) {
    const std::string input(4 << 20, 'i');
    Request r = shell("head -c 10 > /dev/null; echo done");
    r.input.kind = Source::Kind::bytes;
    r.input.data = reinterpret_cast<const std::uint8_t*>(input.data());
    r.input.size = input.size();
    r.output.kind = Sink::Kind::capture;
    EXPECT_EQ(run(r), 0);  // no SIGPIPE for us
    EXPECT_EQ(r.output.captured, "done\n");
}

TEST(Launch, UnwaitedChildrenAreCollected) {
    Request r;
    r.command = "true";
    const std::int64_t pid = run(r);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 400; ++i) {  // until it has ended, leaving it to be collected
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0) break;
        ::usleep(5000);
    }
    reap();
    EXPECT_EQ(::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG), -1);
}

}  // namespace
}  // namespace kiv::launch
