#pragma once

#include "datafileformat.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What the tests of the import and export commands share: scratch folders, data files made by
// the store, bars, and the commands run as child processes with a deadline.
namespace testsupport {

// A new folder under the system's temporary folder, removed with all it holds when it goes.
class ScratchFolder
{
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;
    const std::filesystem::path &path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Makes data file 1 with room for `capacity` bars through the store, in a run folder of its own
// under `root`, fills in `bars` and closes it as the window does. Returns its path.
std::filesystem::path makeDataFile(const std::filesystem::path &root, std::int32_t capacity,
                                   const std::vector<quelm::Bar> &bars = {});

// `count` valid bars, one a minute from `startMs`, with prices that vary.
std::vector<quelm::Bar> sampleBars(std::size_t count,
                                   std::int64_t startMs = 1'796'623'262'345); // 2026-12-07
// The bars as the CSV that quelm-export writes.
std::string csvOf(const std::vector<quelm::Bar> &bars);

std::string readAll(const std::filesystem::path &path);
void writeAll(const std::filesystem::path &path, const std::string &bytes);
// The bars stored in a data file, read with the component.
std::vector<quelm::Bar> storedBars(const std::filesystem::path &path);

// A program run as a child process. Its standard input comes from a file (or /dev/null), its
// output goes to files, unless the test takes a pipe or terminal for one of them.
class Child
{
public:
    struct Streams
    {
        std::filesystem::path input = "/dev/null";
        std::optional<std::filesystem::path> output; // a file of the scratch folder otherwise
        int inputFd = -1;                            // used instead of `input` when set
        int outputFd = -1;                           // used instead of `output` when set
        int errorFd = -1;                            // used instead of a file when set
    };

    Child(const std::vector<std::string> &arguments, const Streams &streams,
          const std::filesystem::path &scratch);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool running();
    // Waits at most `deadline` for it to end (and kills it then). Returns its exit status, or
    // 128 + the signal that ended it, or -1 when it had to be killed.
    int wait(std::chrono::milliseconds deadline = std::chrono::seconds(60));
    void kill(int signal);
    std::string out() const;
    std::string err() const;

private:
    pid_t m_pid = -1;
    int m_status = -1;
    std::filesystem::path m_out;
    std::filesystem::path m_err;
};

struct Result
{
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end with `input` on standard input.
Result run(const std::vector<std::string> &arguments, const std::string &input = {});

} // namespace testsupport
