#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

// A forked copy of the test process that runs `body` and exits with what it returns (99 when
// it throws). What the child passes to say() comes back to the parent through a pipe.
class ChildProcess
{
public:
    explicit ChildProcess(const std::function<int()> &body);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // In the child: sends `text` to the parent.
    static void say(const std::string &text);

    // Everything the child said until `stop` arrives (kept in the result) or the child ends.
    std::string readUntil(char stop = '\0');
    void kill(int signal);
    // Waits for the child to end and returns its wait status.
    int wait();

private:
    pid_t m_pid = -1;
    int m_fd = -1;
};
