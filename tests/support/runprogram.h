#pragma once

#include "tempfolder.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Programs run as child processes by the tests, on POSIX and on Windows alike: standard input
// from a file, standard output and error to files, and every wait ends by a deadline. On POSIX
// a child may also be a forked copy of the test process that runs a function.
namespace testsupport {

class Child
{
public:
    struct Streams
    {
        std::filesystem::path input; // the null device when empty
        // Written to the child through a pipe, whose writing end then closes, instead of `input`.
        std::optional<std::string> piped;
        std::optional<std::filesystem::path> output; // a file of the scratch folder otherwise
        bool errorToOutput = false;                  // both into the output, in their order
#ifndef _WIN32
        int inputFd = -1;  // used instead of `input` when set
        int outputFd = -1; // used instead of `output` when set; `closed` closes it
        int errorFd = -1;  // used instead of a file when set
        bool ignoreSigpipe = false;
#endif
    };
#ifndef _WIN32
    static constexpr int closed = -2;
#endif

    // Starts arguments[0] (UTF-8 text) with the rest as its arguments.
    Child(const std::vector<std::string> &arguments, const Streams &streams,
          const std::filesystem::path &scratch);
#ifndef _WIN32
    // Runs `body` in a forked copy of this process, which exits with what it returns (99 when
    // it throws); what the copy says (say()) is its output.
    explicit Child(const std::function<int()> &body);
    // In a forked copy: sends `text` to the parent.
    static void say(const std::string &text);
#endif
    // Kills it when it still runs.
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool running();
    // Waits at most `deadline` for it to end, and kills it then. Returns its exit status, on
    // POSIX 128 + the signal that ended it, or -1 when it had to be killed at the deadline.
    int wait(std::chrono::milliseconds deadline = std::chrono::seconds(60));
    // Ends it at once, as a power cut would, without letting it finish anything.
    void kill();
#ifndef _WIN32
    void kill(int signal);
#endif
    // What it wrote so far.
    std::string out() const;
    std::string err() const;
    // What it wrote to standard output since the last readUntil: up to and with `stop`, or all
    // it wrote until it ended or the deadline passed.
    std::string readUntil(char stop = '\0',
                          std::chrono::milliseconds deadline = std::chrono::seconds(30));

private:
    // Writes `text` into the writing end of the child's input pipe, in a thread of its own so
    // that every wait keeps its deadline, and closes it.
    void feed(std::intptr_t pipe, std::string text);
    // Once the child has ended, the thread that fed it.
    void joinFeeder();

    std::optional<TempFolder> m_scratch; // a forked copy's own, for its output
    std::thread m_feeder;
    std::intptr_t m_process = -1; // a pid, or a Windows process HANDLE
    int m_status = -1;
    std::size_t m_read = 0;
    std::filesystem::path m_out;
    std::filesystem::path m_err;
};

struct Result
{
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end (or the deadline) with `input` on standard input.
Result run(const std::vector<std::string> &arguments, const std::string &input = {},
           std::chrono::milliseconds deadline = std::chrono::seconds(60));
// The same with `input` through a pipe, which ends when its writer has written it all.
Result runThroughPipe(const std::vector<std::string> &arguments, const std::string &input,
                      std::chrono::milliseconds deadline = std::chrono::seconds(60));

} // namespace testsupport
