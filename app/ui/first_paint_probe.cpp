#include "app/ui/first_paint_probe.h"

#include <QEvent>
#include <QFile>
#include <QObject>
#include <QWidget>

#include <ctime>

namespace {

// Writes the time of the first paint event the window receives, then stops watching.
class TFirstPaintProbe : public QObject {
public:
    TFirstPaintProbe(QWidget& window, QString file) : QObject(&window), file_(std::move(file)) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            QFile out(file_);
            if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                out.write(QByteArray::number(qint64(now.tv_sec) * 1000000000 + now.tv_nsec) + '\n');
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    QString file_;
};

} // namespace

void ReportFirstPaint(QWidget& window)
{
    const QString file = qEnvironmentVariable("PELLIMAR_FIRST_PAINT_FILE");
    if (!file.isEmpty())
        window.installEventFilter(new TFirstPaintProbe(window, file));
}
