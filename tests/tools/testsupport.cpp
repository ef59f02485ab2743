#include "testsupport.h"

#include "bartext.h"
#include "datafile.h"
#include "datafilestore.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

ScratchFolder::ScratchFolder()
{
    static std::atomic<int> made{0};
    std::random_device random;
    m_path = std::filesystem::temp_directory_path() /
             ("quelm-tools-" + std::to_string(::getpid()) + "-" + std::to_string(made++) + "-" +
              std::to_string(random()));
    std::filesystem::create_directories(m_path);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

std::filesystem::path makeDataFile(const std::filesystem::path &root, std::int32_t capacity,
                                   const std::vector<quelm::Bar> &bars)
{
    static std::atomic<int> made{0};
    quelm::DataFileStore store(root / std::to_string(made++));
    std::int32_t number = 1;
    store.CreateDataFile(number, capacity);
    const std::filesystem::path path = *store.filePath(1);
    if (!bars.empty()) {
        quelm::DataFile::open(path, quelm::DataFile::Mode::ReadWrite).appendBars(bars);
    }
    store.CloseDataFile(number);
    return path;
}

std::vector<quelm::Bar> sampleBars(std::size_t count, std::int64_t startMs)
{
    std::vector<quelm::Bar> bars(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double base = 100.0 + static_cast<double>(i % 1000) / 7.0;
        bars[i] = {startMs + static_cast<std::int64_t>(i) * 60'000,
                   base,
                   base + 1.25,
                   base - 0.5,
                   base + 0.1,
                   static_cast<double>(i % 97) * 10.5};
    }
    return bars;
}

std::string csvOf(const std::vector<quelm::Bar> &bars)
{
    std::string text = std::string(quelm::bartext::csvHeader) + "\n";
    char line[quelm::bartext::maxLineLength];
    for (const quelm::Bar &bar : bars) {
        text.append(line, quelm::bartext::writeCsvLine(line, bar));
    }
    return text;
}

std::string readAll(const std::filesystem::path &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void writeAll(const std::filesystem::path &path, const std::string &bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

std::vector<quelm::Bar> storedBars(const std::filesystem::path &path)
{
    const quelm::DataFile file = quelm::DataFile::open(path);
    return file.readBars(0, file.header().barsWritten);
}

Child::Child(const std::vector<std::string> &arguments, const Streams &streams,
             const std::filesystem::path &scratch)
{
    static std::atomic<int> made{0};
    const std::string stem = "child-" + std::to_string(made++);
    m_out = streams.output.value_or(scratch / (stem + ".out"));
    m_err = scratch / (stem + ".err");
    // Everything the child needs is ready before the fork: after it, only exec-safe calls.
    std::vector<char *> argv;
    for (const std::string &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const std::string input = streams.input.string();
    const std::string output = m_out.string();
    const std::string error = m_err.string();
    m_pid = ::fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        const int in = streams.inputFd >= 0 ? streams.inputFd : ::open(input.c_str(), O_RDONLY);
        const int out = streams.outputFd >= 0
                            ? streams.outputFd
                            : ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = streams.errorFd >= 0
                            ? streams.errorFd
                            : ::open(error.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0) {
            ::_exit(126);
        }
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
}

Child::~Child()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

bool Child::running()
{
    if (m_pid <= 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        m_pid = -1;
        return false;
    }
    return true;
}

int Child::wait(std::chrono::milliseconds deadline)
{
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (running()) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return m_status;
}

void Child::kill(int signal)
{
    if (m_pid > 0) {
        ::kill(m_pid, signal);
    }
}

std::string Child::out() const
{
    return readAll(m_out);
}

std::string Child::err() const
{
    return readAll(m_err);
}

Result run(const std::vector<std::string> &arguments, const std::string &input)
{
    ScratchFolder scratch;
    Child::Streams streams;
    streams.input = scratch.path() / "input";
    writeAll(streams.input, input);
    Child child(arguments, streams, scratch.path());
    Result result;
    result.status = child.wait();
    result.out = child.out();
    result.err = child.err();
    return result;
}

} // namespace testsupport
