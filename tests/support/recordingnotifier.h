#pragma once

#include "notifier.h"

#include <QList>
#include <QString>
#include <functional>

// A notifier for tests: records each message and returns at once, as if the user had pressed
// OK straight away. `onMessage` runs while the "box" is up, to look at the window meanwhile.
class RecordingNotifier final : public quelm::Notifier
{
public:
    struct Message
    {
        bool warning;
        QString title;
        QString text;
        bool operator==(const Message &) const = default;
    };

    void information(const QString &title, const QString &text) override
    {
        record({false, title, text});
    }
    void warning(const QString &title, const QString &text) override
    {
        record({true, title, text});
    }
    void dismiss() override { ++dismissals; }

    QList<Message> messages;
    int dismissals = 0;
    std::function<void(const Message &)> onMessage;

private:
    void record(const Message &message)
    {
        messages.append(message);
        if (onMessage)
            onMessage(message);
    }
};
