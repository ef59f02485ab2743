#include "childprocess.h"

#include <cerrno>
#include <csignal>
#include <exception>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

int childFd = -1;

int millisecondsUntil(ChildProcess::Deadline deadline)
{
    using namespace std::chrono;
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

ChildProcess::ChildProcess(const std::function<int()> &body)
{
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    m_pid = ::fork();
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        ::close(fds[0]);
        childFd = fds[1];
        int code = 99;
        try {
            code = body();
        } catch (const std::exception &error) {
            say(std::string("uncaught: ") + error.what());
        }
        ::_exit(code);
    }
    ::close(fds[1]);
    m_fd = fds[0];
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        kill(SIGKILL);
        wait();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void ChildProcess::say(const std::string &text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(childFd, text.data() + done, text.size() - done);
        if (written <= 0) {
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

void ChildProcess::execute(const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::dup2(childFd, STDOUT_FILENO);
    ::dup2(childFd, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

std::string ChildProcess::readUntil(char stop, Deadline deadline)
{
    std::string text;
    for (;;) {
        pollfd readable = {m_fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        char c = 0;
        if (ready <= 0 || ::read(m_fd, &c, 1) != 1) {
            return text;
        }
        text += c;
        if (stop != '\0' && c == stop) {
            return text;
        }
    }
}

void ChildProcess::kill(int signal)
{
    ::kill(m_pid, signal);
}

std::optional<int> ChildProcess::wait(Deadline deadline)
{
    int status = 0;
    for (pid_t ended = 0; ended <= 0; ended = ::waitpid(m_pid, &status, WNOHANG)) {
        if (ended < 0 && errno != EINTR) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(SIGKILL);
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
    return status;
}
