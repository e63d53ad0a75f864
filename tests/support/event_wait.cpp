#include "tests/support/event_wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

bool RunEventsUntil(const std::function<bool()>& condition, int limitMs)
{
    const QDeadlineTimer deadline(limitMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(20);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void RunEventsFor(int ms)
{
    RunEventsUntil([] { return false; }, ms);
}
