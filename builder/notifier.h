#pragma once

#include <QString>

namespace quelm {

// How the window talks to the user: a report and a warning, each waited for until dismissed.
// The window goes through this seam so that tests can run its handlers without real dialogs.
class Notifier
{
public:
    virtual ~Notifier() = default;

    // A report of something done; returns when the user has read it.
    virtual void information(const QString &title, const QString &text) = 0;
    // A failure, said in plain words; returns when the user has read it.
    virtual void warning(const QString &title, const QString &text) = 0;
    // The program is ending on its own: close the box that is open and show no more.
    virtual void dismiss() = 0;
};

} // namespace quelm
