// Starting other programs: a command line run directly (split into words) or
// through "/bin/sh -c", with its standard input fed from bytes or a file and
// its output and error streams captured or appended to files. Bytes and
// UTF-8 paths only: the natives turn values into requests and captures back
// into values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv::launch {

// Where the child's standard input comes from.
struct Source {
    enum class Kind : std::uint8_t { inherit, bytes, file };
    Kind kind = Kind::inherit;
    const std::uint8_t* data = nullptr;  // bytes: fed through a pipe
    std::size_t size = 0;
    std::string path;                    // file: opened for reading
};

// Where the child's standard output or error goes.
struct Sink {
    enum class Kind : std::uint8_t { discard, inherit, capture, file };
    Kind kind = Kind::discard;
    std::string path;      // file: appended to, created when missing
    std::string captured;  // capture: every byte the child wrote
};

struct Request {
    std::string command;  // UTF-8, no NUL
    bool wait = false;
    bool shell = false;   // run through /bin/sh -c
    bool program = false; // the command is one program's path, taken whole
    Source input;
    Sink output;
    Sink error;
};

// Starts the request's command. A command whose program is not found is
// retried once through the shell. Any redirection (bytes or file input, a
// captured or file output) makes the call wait. Returns the exit status when
// waited for (128 + the signal number when a signal ended the child), else
// the child's process id; -1 when it could not be started or a redirection
// could not be set up. Both capture pipes and the input pipe are served
// together, so a child that writes much before reading cannot block.
std::int64_t run(Request& request);

// Collects the children started without waiting that have ended since, so
// that none stays a zombie; run calls it first.
void reap();

// The words of a command line, as the program and its arguments: split at
// blanks, with '...' taken literally, "..." keeping blanks (a backslash
// escaping " \ $ ` inside) and a backslash escaping any one character
// outside quotes.
std::vector<std::string> split_words(const std::string& command);

}  // namespace kiv::launch
