// Start-up: the command line, argv in the process record, the runtime
// thread's stack, and the `kiv` program's exit statuses.
#include "runtime/startup/startup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace kiv::runtime {
namespace {

TEST(CommandLine, OptionsBeforeTheScript) {
    struct Case {
        std::vector<const char*> args;
        bool has_display;
        bool cli, catch_, text_mode;
        int script;
    };
    const Case cases[] = {
        {{"kiv"}, true, false, false, false, 0},
        {{"kiv"}, false, false, false, true, 0},                       // no display: text mode
        {{"kiv", "--cli"}, true, true, false, true, 0},
        {{"kiv", "--cli", "--catch", "a.kiv", "--x"}, true, true, true, true, 3},
        {{"kiv", "--unknown", "a.kiv"}, true, false, false, false, 2},  // skipped
        {{"kiv", "--", "--cli"}, true, false, false, false, 2},         // "--" ends the options
        {{"kiv", "--cli", "--"}, true, true, false, true, 0},
        {{"kiv", "a.kiv", "--cli"}, true, false, false, false, 1},      // the script's own argument
    };
    for (const Case& c : cases) {
        const CommandLine line = parse_command_line(static_cast<int>(c.args.size()), c.args.data(), c.has_display);
        EXPECT_EQ(line.cli, c.cli);
        EXPECT_EQ(line.catch_, c.catch_);
        EXPECT_EQ(line.text_mode, c.text_mode);
        EXPECT_EQ(line.script, c.script) << c.args.size();
    }
}

TEST(ProcessRecord, ArgvIsCopiedToTheTrackedHeapAsUtf8) {
    const char* args[] = {"kiv", "caf\xC3\xA9", ""};
    init_argv(3, args);
    ASSERT_EQ(process().argc, 3);
    EXPECT_STREQ(process().argv[1], "caf\xC3\xA9");
    EXPECT_NE(process().argv[1], args[1]);
    EXPECT_STREQ(process().argv[2], "");
    EXPECT_EQ(process().argv[3], nullptr);
    std::int32_t blocks = 0;
    for (const TrackedBlock* b = tracked_heap().first; b; b = b->next) ++blocks;
    EXPECT_EQ(blocks, 4);  // the array and three strings
    free_tracked_heap();
}

// 200,000 nested calls of 1 KiB each: far beyond a default 8 MiB stack.
[[gnu::noinline]] int nest(int depth) {
    volatile char frame[1024];
    frame[depth % 1024] = 1;
    return depth == 0 ? frame[0] : nest(depth - 1) + frame[depth % 1024];
}

TEST(RuntimeThread, StackHoldsDeepRecursion) {
    const int result = run_on_thread([](void*) { return nest(200000) > 0 ? 7 : 0; }, nullptr,
                                     runtime_stack_size, runtime_stack_size / 16);
    EXPECT_EQ(result, 7);
}

// Runs the `kiv` program; returns its exit status and its standard error.
int run_kiv(const std::string& args, std::string* errors = nullptr) {
    const std::string err_file = testing::TempDir() + "kiv_stderr.txt";
    const std::string command = std::string(KIV_BINARY) + " " + args + " </dev/null >/dev/null 2>" + err_file;
    const int status = std::system(command.c_str());
    if (errors) {
        std::ifstream in(err_file);
        errors->assign(std::istreambuf_iterator<char>(in), {});
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Program, ExitStatuses) {
    std::string errors;
    EXPECT_EQ(run_kiv("--cli", &errors), 0);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(run_kiv("--cli --unknown-option --catch"), 0);

    const std::string script = testing::TempDir() + "startup_test_script.kiv";
    std::ofstream(script) << "Kiv []\n";
    EXPECT_EQ(run_kiv("--cli " + script + " arg1 arg2", &errors), 0);
    EXPECT_EQ(errors, "");
    std::remove(script.c_str());

    EXPECT_EQ(run_kiv("--cli /no/such/script.kiv", &errors), 1);
    EXPECT_NE(errors.find("cannot read script /no/such/script.kiv"), std::string::npos) << errors;
    EXPECT_EQ(run_kiv("--cli " + testing::TempDir(), &errors), 1);  // a directory
    EXPECT_NE(errors.find("cannot read script"), std::string::npos) << errors;
}

}  // namespace
}  // namespace kiv::runtime
