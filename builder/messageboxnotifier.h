#pragma once

#include "notifier.h"

#include <QMessageBox>
#include <QPointer>

namespace quelm {

// The program's notifier: modal message boxes with one OK button, each a child of the window it
// blocks, so that it opens centred in front of it.
class MessageBoxNotifier final : public Notifier
{
public:
    // The window the boxes belong to; until it is set, the active window.
    void setParentWindow(QWidget *window) { m_parent = window; }
    void information(const QString &title, const QString &text) override;
    void warning(const QString &title, const QString &text) override;
    // Closes the open box; no box is shown after this.
    void dismiss() override;

private:
    void show(QMessageBox::Icon icon, const QString &title, const QString &text);

    QPointer<QWidget> m_parent;
    QPointer<QMessageBox> m_open;
    bool m_dismissed = false;
};

} // namespace quelm
