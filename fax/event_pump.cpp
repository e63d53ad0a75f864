#include "fax/event_pump.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

class QuitCatcher : public QObject {
public:
    bool quitSeen = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
            quitSeen = true;
            return true;
        }
        return false;
    }
};

} // namespace

bool PumpPendingEvents()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    QuitCatcher catcher;
    app->installEventFilter(&catcher);
    QCoreApplication::processEvents();
    app->removeEventFilter(&catcher);
    if (catcher.quitSeen)
        QCoreApplication::postEvent(app, new QEvent(QEvent::Quit));
    return catcher.quitSeen;
}
