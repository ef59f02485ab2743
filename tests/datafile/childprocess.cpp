#include "childprocess.h"

#include <csignal>
#include <exception>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {
int childFd = -1;
}

ChildProcess::ChildProcess(const std::function<int()> &body)
{
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    m_pid = ::fork();
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

std::string ChildProcess::readUntil(char stop)
{
    std::string text;
    char c = 0;
    while (::read(m_fd, &c, 1) == 1) {
        text += c;
        if (stop != '\0' && c == stop) {
            break;
        }
    }
    return text;
}

void ChildProcess::kill(int signal)
{
    ::kill(m_pid, signal);
}

int ChildProcess::wait()
{
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return status;
}
