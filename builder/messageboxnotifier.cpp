#include "messageboxnotifier.h"

#include <QApplication>

namespace quelm {

void MessageBoxNotifier::information(const QString &title, const QString &text)
{
    show(QMessageBox::Information, title, text);
}

void MessageBoxNotifier::warning(const QString &title, const QString &text)
{
    show(QMessageBox::Warning, title, text);
}

void MessageBoxNotifier::dismiss()
{
    m_dismissed = true;
    if (m_open)
        m_open->done(QMessageBox::Ok);
}

void MessageBoxNotifier::show(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    if (m_dismissed)
        return;
    QMessageBox box(icon, title, text, QMessageBox::Ok,
                    m_parent ? m_parent.data() : QApplication::activeWindow());
    box.setObjectName(QStringLiteral("messageBox"));
    m_open = &box;
    box.exec();
}

} // namespace quelm
