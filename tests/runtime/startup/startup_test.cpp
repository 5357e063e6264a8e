// Start-up: the command line, argv in the process record, the runtime
// thread's stack, and the `kiv` program's exit statuses.
#include "runtime/startup/startup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
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

// Runs `kiv --cli ARGS` in folder with input on standard input; returns its
// standard output.
std::string output_of(const std::string& folder, const std::string& args, const std::string& input = "") {
    const std::string command =
        "cd '" + folder + "' && printf '%s' '" + input + "' | " + KIV_BINARY + " --cli " + args + " 2>&1";
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[512];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
        ::pclose(pipe);
    }
    return out;
}

// What a script sees of the command line: its own arguments, their raw
// text, its name, --catch, and the folder it runs in (its own).
TEST(Program, CommandLineReachesTheScript) {
    // A folder of this process's own: other builds' runs may share the temporary folder.
    const std::string parent = testing::TempDir() + "kiv-" + std::to_string(::getpid());
    const std::string home = parent + "/kiv_command_line";
    std::filesystem::create_directories(home + "/sub");
    const char* shows = "Kiv [] print mold reduce [system/options/args system/script/args system/options/script "
                        "system/console/catch? last split-path what-dir]\n";
    for (const char* name : {"/args.kiv", "/--dash.kiv", "/sub/--dash.kiv", "/w\\x.kiv"}) std::ofstream(home + name) << shows;
    const std::pair<const char*, const char*> cases[] = {
        {"--catch -- --dash.kiv a 'b c'", "[[\"a\" \"b c\"] {a \"b c\"} %--dash.kiv true %kiv_command_line/]\n>> \n"},
        {"-- --dash.kiv --x", "[[\"--x\"] \"--x\" %--dash.kiv false %kiv_command_line/]\n"},
        {"'--opt with space' args.kiv z", "[[\"z\"] \"z\" %args.kiv false %kiv_command_line/]\n"},
        {"sub/--dash.kiv", "[[] \"\" %sub/--dash.kiv false %sub/]\n"},
        {"'w\\x.kiv'", "[[] \"\" %\"w\\x.kiv\" false %kiv_command_line/]\n"},  // the name as given
        {"args.kiv --catch", "[[\"--catch\"] \"--catch\" %args.kiv false %kiv_command_line/]\n"},
    };
    for (const auto& [args, shown] : cases) EXPECT_EQ(output_of(home, args), shown) << args;
    // Without a script every argument but --catch stays, and the raw text keeps them all.
    const std::string loop = output_of(home, "--catch --x", "print mold reduce [system/options/args system/script/args]\n");
    EXPECT_NE(loop.find("\n>> [[\"--cli\" \"--x\"] \"--cli --catch --x\"]\n"), std::string::npos) << loop;
    std::filesystem::remove_all(parent);
}

}  // namespace
}  // namespace kiv::runtime
