#pragma once

#include "notifier.h"

#include <QMessageBox>
#include <QPointer>

namespace quelm {

// The program's notifier: modal message boxes with one OK button, in front of the active window.
class MessageBoxNotifier final : public Notifier
{
public:
    void information(const QString &title, const QString &text) override;
    void warning(const QString &title, const QString &text) override;
    // Closes the open box; no box is shown after this.
    void dismiss() override;

private:
    void show(QMessageBox::Icon icon, const QString &title, const QString &text);

    QPointer<QMessageBox> m_open;
    bool m_dismissed = false;
};

} // namespace quelm
