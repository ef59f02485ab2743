#pragma once

#include "notifier.h"

namespace quelm::bench {

// Stands in for a user who dismisses every box the instant it appears.
class QuietNotifier final : public Notifier
{
public:
    void information(const QString &, const QString &) override {}
    void warning(const QString &, const QString &text) override { lastWarning = text; }
    void dismiss() override {}

    // A failure the window reported, so that a benchmark can stop instead of timing it.
    QString lastWarning;
};

} // namespace quelm::bench
