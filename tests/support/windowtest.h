#pragma once

#include "frmquelm.h"
#include "recordingcomponent.h"
#include "recordingnotifier.h"

#include <QObject>
#include <memory>

// The base of the window's QTest classes: before each test a new window on a recording
// component and notifier, gone after it.
class WindowTest : public QObject
{
    Q_OBJECT

protected:
    std::shared_ptr<ComponentLog> log;
    RecordingNotifier notifier;
    std::unique_ptr<quelm::frmQuelm> window;

protected slots:
    void init()
    {
        log = std::make_shared<ComponentLog>();
        notifier = RecordingNotifier();
        window =
            std::make_unique<quelm::frmQuelm>(std::make_unique<RecordingComponent>(log), notifier);
    }
    void cleanup() { window.reset(); }
};
