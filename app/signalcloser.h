#pragma once

#include <QObject>

class QSocketNotifier;

namespace quelm {

class frmQuelm;

// Ends the run in order on SIGTERM, SIGINT and SIGHUP: the signal handler only writes a byte to
// a socket pair, and the window is then closed on the user-interface thread like any other close.
// One at a time; the previous handlers come back when it goes.
class SignalCloser final : public QObject
{
    Q_OBJECT

public:
    // Without a socket pair (no descriptors left) it says so and leaves the signals alone.
    explicit SignalCloser(frmQuelm &window);
    ~SignalCloser() override;

private:
    void wake();

    frmQuelm &m_window;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace quelm
