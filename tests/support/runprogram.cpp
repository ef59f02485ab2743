#include "runprogram.h"

#include "tempfolder.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testsupport {

namespace {

std::filesystem::path outputFile(const std::filesystem::path &scratch, const char *kind)
{
    static std::atomic<int> made{0};
    return scratch / ("child-" + std::to_string(made++) + kind);
}

} // namespace

#ifdef _WIN32

namespace {

// UTF-8 text as UTF-16. A surrogate encoded as if it were a character (\xed\xa0\x80 and on)
// becomes that one unit alone, so that a test can give a program a name only Windows allows.
std::wstring wide(const std::string &text)
{
    std::wstring converted;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            c = c << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        i += length;
        if (c >= 0x10000) {
            converted += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            c = 0xDC00 + (c & 0x3FF);
        }
        converted += static_cast<wchar_t>(c);
    }
    return converted;
}

// One argument as the C runtime's parser reads it back: in double quotes, a quote escaped by
// a backslash, and backslashes doubled only where they come before a quote.
std::wstring quoted(const std::wstring &argument)
{
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        text += c;
        backslashes = 0;
    }
    text.append(2 * backslashes, L'\\');
    return text + L"\"";
}

// A handle the child inherits; the null device for an empty path.
HANDLE openForChild(const std::filesystem::path &path, bool writing)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE file =
        CreateFileW(path.empty() ? L"NUL" : path.c_str(), writing ? GENERIC_WRITE : GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                    writing ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot open " + path.string() + " for a child process, error " +
                                 std::to_string(GetLastError()));
    }
    return file;
}

HANDLE processOf(std::intptr_t process)
{
    return reinterpret_cast<HANDLE>(process);
}

} // namespace

// Files rather than pipes carry the child's output: nothing has to read them while it runs,
// and a child that inherits another child's handles by chance holds up no end of file.
Child::Child(const std::vector<std::string> &arguments, const Streams &streams,
             const std::filesystem::path &scratch)
    : m_out(streams.output.value_or(outputFile(scratch, ".out"))),
      m_err(streams.errorToOutput ? m_out : outputFile(scratch, ".err"))
{
    std::wstring command;
    for (const std::string &argument : arguments) {
        command += (command.empty() ? L"" : L" ") + quoted(wide(argument));
    }
    HANDLE input = INVALID_HANDLE_VALUE;
    HANDLE pipeWriter = nullptr;
    if (streams.piped) {
        // Only the reading end goes to the child.
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        if (!CreatePipe(&input, &pipeWriter, &inherit, 0)) {
            throw std::runtime_error("cannot make a pipe, error " + std::to_string(GetLastError()));
        }
        SetHandleInformation(pipeWriter, HANDLE_FLAG_INHERIT, 0);
    } else {
        input = openForChild(streams.input, false);
    }
    const HANDLE output = openForChild(m_out, true);
    const HANDLE error = streams.errorToOutput ? output : openForChild(m_err, true);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION started = {};
    // Every standard stream is a file, so the child needs no console: Wine would start one more
    // process (its console host) for each child, and the child would wait for it to start.
    const BOOL ok = CreateProcessW(wide(arguments.at(0)).c_str(), command.data(), nullptr, nullptr,
                                   TRUE, DETACHED_PROCESS, nullptr, nullptr, &startup, &started);
    const DWORD failure = GetLastError();
    CloseHandle(input);
    CloseHandle(output);
    if (error != output) {
        CloseHandle(error);
    }
    if (!ok) {
        if (pipeWriter) {
            CloseHandle(pipeWriter);
        }
        throw std::runtime_error("cannot start " + arguments[0] + ", error " +
                                 std::to_string(failure));
    }
    CloseHandle(started.hThread);
    m_process = reinterpret_cast<std::intptr_t>(started.hProcess);
    if (pipeWriter) {
        feed(reinterpret_cast<std::intptr_t>(pipeWriter), *streams.piped);
    }
}

void Child::feed(std::intptr_t pipe, std::string text)
{
    m_feeder = std::thread([pipe, text = std::move(text)] {
        const HANDLE writer = reinterpret_cast<HANDLE>(pipe);
        DWORD written = 0;
        for (std::size_t done = 0; done < text.size(); done += written) {
            if (!WriteFile(writer, text.data() + done, static_cast<DWORD>(text.size() - done),
                           &written, nullptr)) {
                break;
            }
        }
        CloseHandle(writer);
    });
}

Child::~Child()
{
    if (m_process != -1) {
        kill();
        wait(std::chrono::seconds(30));
    }
    joinFeeder();
}

bool Child::running()
{
    if (m_process == -1) {
        return false;
    }
    if (WaitForSingleObject(processOf(m_process), 0) != WAIT_OBJECT_0) {
        return true;
    }
    DWORD code = 0;
    m_status = GetExitCodeProcess(processOf(m_process), &code) ? static_cast<int>(code) : -1;
    CloseHandle(processOf(m_process));
    m_process = -1;
    return false;
}

int Child::wait(std::chrono::milliseconds deadline)
{
    if (m_process == -1) {
        joinFeeder();
        return m_status;
    }
    const auto ms = static_cast<DWORD>(std::max<std::int64_t>(deadline.count(), 0));
    if (WaitForSingleObject(processOf(m_process), ms) == WAIT_OBJECT_0) {
        running();
        joinFeeder();
        return m_status;
    }
    kill();
    WaitForSingleObject(processOf(m_process), 30000);
    CloseHandle(processOf(m_process));
    m_process = -1;
    m_status = -1;
    joinFeeder();
    return -1;
}

void Child::kill()
{
    if (m_process != -1) {
        TerminateProcess(processOf(m_process), 137);
    }
}

#else

Child::Child(const std::vector<std::string> &arguments, const Streams &streams,
             const std::filesystem::path &scratch)
    : m_out(streams.output.value_or(outputFile(scratch, ".out"))),
      m_err(streams.errorToOutput ? m_out : outputFile(scratch, ".err"))
{
    // Everything the child needs is ready before the fork: after it, only exec-safe calls.
    std::vector<char *> argv;
    for (const std::string &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const std::string input = streams.input.empty() ? "/dev/null" : streams.input.string();
    const std::string output = m_out.string();
    const std::string error = m_err.string();
    int pipeEnds[2] = {-1, -1};
    if (streams.piped && ::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe");
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int in = streams.piped          ? pipeEnds[0]
                       : streams.inputFd >= 0 ? streams.inputFd
                                              : ::open(input.c_str(), O_RDONLY);
        const int out = streams.outputFd != -1
                            ? streams.outputFd
                            : ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = streams.errorFd >= 0 ? streams.errorFd
                        : streams.errorToOutput
                            ? out
                            : ::open(error.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || (out < 0 && out != closed) || err < 0 || ::dup2(in, 0) < 0 ||
            (out != closed && ::dup2(out, 1) < 0) || ::dup2(err, 2) < 0) {
            ::_exit(126);
        }
        if (out == closed) {
            ::close(1);
        }
        ::signal(SIGPIPE, streams.ignoreSigpipe ? SIG_IGN : SIG_DFL);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    m_process = pid;
    if (streams.piped) {
        ::close(pipeEnds[0]);
        feed(pipeEnds[1], *streams.piped);
    }
}

void Child::feed(std::intptr_t pipe, std::string text)
{
    m_feeder = std::thread([pipe, text = std::move(text)] {
        // A child that goes before reading it all makes the write fail with EPIPE; the signal
        // that comes with it stays blocked in this thread, and goes with it.
        sigset_t sigpipe;
        sigemptyset(&sigpipe);
        sigaddset(&sigpipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &sigpipe, nullptr);
        const int writer = static_cast<int>(pipe);
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t written = ::write(writer, text.data() + done, text.size() - done);
            if (written < 0 && errno != EINTR) {
                break;
            }
            done += written > 0 ? static_cast<std::size_t>(written) : 0;
        }
        ::close(writer);
    });
}

Child::Child(const std::function<int()> &body)
    : m_scratch(std::in_place), m_out(m_scratch->path() / "out"), m_err(m_scratch->path() / "err")
{
    const int out = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = out < 0 || err < 0 ? -1 : ::fork();
    if (pid == 0) {
        ::dup2(out, 1);
        ::dup2(err, 2);
        int code = 99;
        try {
            code = body();
        } catch (const std::exception &error) {
            say(std::string("uncaught: ") + error.what());
        }
        ::_exit(code);
    }
    ::close(out);
    ::close(err);
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    m_process = pid;
}

void Child::say(const std::string &text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(1, text.data() + done, text.size() - done);
        if (written <= 0) {
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

Child::~Child()
{
    if (m_process > 0) {
        ::kill(static_cast<pid_t>(m_process), SIGKILL);
        ::waitpid(static_cast<pid_t>(m_process), nullptr, 0);
    }
    joinFeeder();
}

bool Child::running()
{
    if (m_process <= 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(static_cast<pid_t>(m_process), &status, WNOHANG) == m_process) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        m_process = -1;
        return false;
    }
    return true;
}

int Child::wait(std::chrono::milliseconds deadline)
{
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (running()) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(static_cast<pid_t>(m_process), SIGKILL);
            ::waitpid(static_cast<pid_t>(m_process), nullptr, 0);
            m_process = -1;
            m_status = -1;
            joinFeeder();
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    joinFeeder();
    return m_status;
}

void Child::kill()
{
    kill(SIGKILL);
}

void Child::kill(int signal)
{
    if (m_process > 0) {
        ::kill(static_cast<pid_t>(m_process), signal);
    }
}

#endif

std::string Child::out() const
{
    return contents(m_out);
}

std::string Child::err() const
{
    return contents(m_err);
}

std::string Child::readUntil(char stop, std::chrono::milliseconds deadline)
{
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const bool ended = !running();
        const std::string all = out();
        const std::string text = all.substr(std::min(m_read, all.size()));
        const std::size_t end = stop == '\0' ? std::string::npos : text.find(stop);
        if (end != std::string::npos || ended || std::chrono::steady_clock::now() > until) {
            const std::string said = text.substr(0, end == std::string::npos ? end : end + 1);
            m_read += said.size();
            return said;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void Child::joinFeeder()
{
    if (m_feeder.joinable()) {
        m_feeder.join();
    }
}

namespace {

Result runToTheEnd(const std::vector<std::string> &arguments, const Child::Streams &streams,
                   const TempFolder &scratch, std::chrono::milliseconds deadline)
{
    Child child(arguments, streams, scratch.path());
    Result result;
    result.status = child.wait(deadline);
    result.out = child.out();
    result.err = child.err();
    return result;
}

} // namespace

Result run(const std::vector<std::string> &arguments, const std::string &input,
           std::chrono::milliseconds deadline)
{
    TempFolder scratch;
    Child::Streams streams;
    streams.input = scratch.path() / "input";
    write(streams.input, input);
    return runToTheEnd(arguments, streams, scratch, deadline);
}

Result runThroughPipe(const std::vector<std::string> &arguments, const std::string &input,
                      std::chrono::milliseconds deadline)
{
    TempFolder scratch;
    Child::Streams streams;
    streams.piped = input;
    return runToTheEnd(arguments, streams, scratch, deadline);
}

} // namespace testsupport
