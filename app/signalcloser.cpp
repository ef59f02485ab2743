#include "signalcloser.h"

#include "frmquelm.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace quelm {
namespace {

constexpr std::array<int, 3> handledSignals = {SIGTERM, SIGINT, SIGHUP};
std::array<struct sigaction, 3> previousActions;
// [0] is written by the handler, [1] is watched by the event loop.
int wakeFds[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<char>(signalNumber);
    // A full socket means a wake-up is already pending, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalCloser::SignalCloser(frmQuelm &window) : m_window(window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, wakeFds) != 0) {
        std::fprintf(stderr, "quelm: signals keep their default action: %s\n",
                     std::strerror(errno));
        return;
    }
    m_notifier = new QSocketNotifier(wakeFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalCloser::wake);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < handledSignals.size(); ++i)
        ::sigaction(handledSignals[i], &action, &previousActions[i]);
}

SignalCloser::~SignalCloser()
{
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < handledSignals.size(); ++i)
        ::sigaction(handledSignals[i], &previousActions[i], nullptr);
    delete m_notifier;
    for (int &fd : wakeFds) {
        ::close(fd);
        fd = -1;
    }
}

void SignalCloser::wake()
{
    char bytes[16];
    while (::read(wakeFds[1], bytes, sizeof bytes) > 0) {
    }
    m_window.endRun();
}

} // namespace quelm
