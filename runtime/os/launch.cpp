// Program launching over posix_spawn. Every descriptor the runtime opens is
// close-on-exec, so the child gets only the three streams set up here. The
// parent serves the input pipe and both capture pipes in one poll loop.
#include "runtime/os/launch.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kiv::launch {

namespace {

// Children started without waiting, not yet collected.
std::vector<pid_t> unwaited;

// A descriptor closed when its holder goes out of scope.
struct Fd {
    int fd = -1;
    Fd() = default;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { close(); }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

bool open_fd(Fd& out, const char* path, int flags) {
    do out.fd = ::open(path, flags | O_CLOEXEC, 0666); while (out.fd < 0 && errno == EINTR);
    return out.fd >= 0;
}

bool make_pipe(Fd& read_end, Fd& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end.fd = fds[0];
    write_end.fd = fds[1];
    return true;
}

// The child's end of one standard stream: target is the descriptor it gets.
struct Stream {
    Fd child;   // given to the child as target
    Fd parent;  // our end of a pipe, when there is one
};

// Sets up an output or error sink; false when its file cannot be opened or
// its pipe made. A discard sink reads /dev/null's writing end.
bool prepare_sink(const Sink& sink, Stream& s) {
    switch (sink.kind) {
    case Sink::Kind::inherit: return true;
    case Sink::Kind::discard: return open_fd(s.child, "/dev/null", O_WRONLY);
    case Sink::Kind::file: return open_fd(s.child, sink.path.c_str(), O_WRONLY | O_CREAT | O_APPEND);
    case Sink::Kind::capture: return make_pipe(s.parent, s.child);
    }
    return false;
}

bool prepare_source(const Source& source, Stream& s) {
    switch (source.kind) {
    case Source::Kind::inherit: return true;
    case Source::Kind::file: return open_fd(s.child, source.path.c_str(), O_RDONLY);
    case Source::Kind::bytes: return make_pipe(s.child, s.parent);
    }
    return false;
}

// Starts argv with the three streams; 0 or the error number of the start.
int spawn(const std::vector<std::string>& words, Stream (&streams)[3], pid_t& pid) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return ENOMEM;
    }
    for (int i = 0; i < 3; ++i)
        if (streams[i].child.fd >= 0) posix_spawn_file_actions_adddup2(&actions, streams[i].child.fd, i);
    // The child starts with default signal handling and nothing blocked,
    // whatever the runtime ignores or blocks (SIGPIPE while it feeds input).
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int rc = words.empty() ? ENOENT : posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc;
}

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Feeds the input bytes and drains the capture pipes until all are done.
void serve(Request& r, Stream (&streams)[3]) {
    std::size_t fed = 0;
    if (streams[0].parent.fd >= 0) {
        set_nonblocking(streams[0].parent.fd);
        if (r.input.size == 0) streams[0].parent.close();
    }
    Sink* sinks[3] = {nullptr, &r.output, &r.error};
    char chunk[65536];
    for (;;) {
        pollfd fds[3];
        int ids[3];
        nfds_t n = 0;
        for (int i = 0; i < 3; ++i) {
            if (streams[i].parent.fd < 0) continue;
            fds[n] = {streams[i].parent.fd, static_cast<short>(i == 0 ? POLLOUT : POLLIN), 0};
            ids[n++] = i;
        }
        if (n == 0) return;
        if (::poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            return;  // cannot happen with valid descriptors; the pipes close below
        }
        for (nfds_t k = 0; k < n; ++k) {
            if (fds[k].revents == 0) continue;
            Stream& s = streams[ids[k]];
            if (ids[k] == 0) {
                const ssize_t w = ::write(s.parent.fd, r.input.data + fed, std::min<std::size_t>(r.input.size - fed, 65536));
                if (w > 0) fed += static_cast<std::size_t>(w);
                if ((w < 0 && errno != EINTR && errno != EAGAIN) || fed == r.input.size) s.parent.close();
                continue;
            }
            const ssize_t got = ::read(s.parent.fd, chunk, sizeof chunk);
            if (got > 0) sinks[ids[k]]->captured.append(chunk, static_cast<std::size_t>(got));
            else if (got == 0 || (errno != EINTR && errno != EAGAIN)) s.parent.close();
        }
    }
}

// A text the shell reads as one word, unchanged.
std::string shell_quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

std::int64_t wait_for(pid_t pid) {
    int status = 0;
    pid_t got;
    do got = ::waitpid(pid, &status, 0); while (got < 0 && errno == EINTR);
    if (got < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

std::vector<std::string> split_words(const std::string& command) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    const std::size_t n = command.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            while (++i < n && command[i] != '\'') word += command[i];
        } else if (c == '"') {
            while (++i < n && command[i] != '"') {
                if (command[i] == '\\' && i + 1 < n && std::strchr("\"\\$`", command[i + 1]) != nullptr) ++i;
                word += command[i];
            }
        } else if (c == '\\' && i + 1 < n) {
            word += command[++i];
        } else {
            word += c;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

void reap() {
    std::erase_if(unwaited, [](pid_t pid) {
        int status;
        const pid_t got = ::waitpid(pid, &status, WNOHANG);
        return got == pid || (got < 0 && errno != EINTR);
    });
}

std::int64_t run(Request& r) {
    reap();
    if (r.input.kind != Source::Kind::inherit || r.output.kind == Sink::Kind::capture ||
        r.output.kind == Sink::Kind::file || r.error.kind == Sink::Kind::capture ||
        r.error.kind == Sink::Kind::file)
        r.wait = true;
    Stream streams[3];
    if (!prepare_source(r.input, streams[0]) || !prepare_sink(r.output, streams[1]) ||
        !prepare_sink(r.error, streams[2]))
        return -1;
    const std::vector<std::string> shell_form{"/bin/sh", "-c", r.program ? shell_quoted(r.command) : r.command};
    pid_t pid = -1;
    const std::vector<std::string> words = r.program ? std::vector<std::string>{r.command} : split_words(r.command);
    int rc = spawn(r.shell ? shell_form : words, streams, pid);
    if (rc == ENOENT && !r.shell) {  // no such program: perhaps a shell command
        r.shell = true;
        rc = spawn(shell_form, streams, pid);
    }
    if (rc != 0) return -1;
    for (Stream& s : streams) s.child.close();  // the pipes end when the child's ends close
    if (!r.wait) {
        unwaited.push_back(pid);
        return pid;
    }
    // A child that stops reading its input must not end us by SIGPIPE.
    struct sigaction ignore{}, saved{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &saved);
    serve(r, streams);
    ::sigaction(SIGPIPE, &saved, nullptr);
    return wait_for(pid);
}

}  // namespace kiv::launch
