#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A forked copy of the test process that runs `body` and exits with what it returns (99 when
// it throws). What the child passes to say() comes back to the parent through a pipe. Every
// wait for the child ends by its deadline.
class ChildProcess
{
public:
    using Deadline = std::chrono::steady_clock::time_point;
    static Deadline in(std::chrono::seconds seconds)
    {
        return std::chrono::steady_clock::now() + seconds;
    }

    explicit ChildProcess(const std::function<int()> &body);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // In the child: sends `text` to the parent.
    static void say(const std::string &text);
    // In the child: runs `arguments[0]` with its standard output and error going to the parent.
    [[noreturn]] static void execute(const std::vector<std::string> &arguments);

    // Everything the child said until `stop` arrives (kept in the result), the child ends or
    // the deadline passes.
    std::string readUntil(char stop = '\0', Deadline deadline = in(std::chrono::seconds(30)));
    void kill(int signal);
    // The child's wait status once it ended; nothing when it was still running at the
    // deadline, and then it is killed.
    std::optional<int> wait(Deadline deadline = in(std::chrono::seconds(30)));

private:
    pid_t m_pid = -1;
    int m_fd = -1;
};
