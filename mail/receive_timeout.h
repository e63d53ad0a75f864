#pragma once
// The time limit of a mail client's request: it runs from the start of the
// request, and every byte received pushes its end further out. When it
// passes, the handler runs (once per Start).
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <functional>

class TReceiveTimeout {
public:
    explicit TReceiveTimeout(std::function<void()> onExpired) : onExpired_(std::move(onExpired))
    {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Fired(); });
    }

    // Milliseconds for a limit in seconds, within the range of int; 0 for none.
    static int Milliseconds(int seconds)
    {
        return seconds > 0 ? static_cast<int>(std::min<qint64>(static_cast<qint64>(seconds) * 1000, INT_MAX)) : 0;
    }

    // Starts the limit afresh (0 seconds: no limit).
    void Start(int seconds)
    {
        seconds_ = seconds;
        since_.start();
        if (seconds > 0)
            timer_.start(Milliseconds(seconds));
        else
            timer_.stop();
    }
    void BytesArrived() { since_.start(); }
    void Stop() { timer_.stop(); }

private:
    void Fired()
    {
        const qint64 limit = static_cast<qint64>(seconds_) * 1000;
        const qint64 quiet = since_.elapsed();
        if (seconds_ > 0 && quiet < limit) {
            timer_.start(static_cast<int>(std::min<qint64>(limit - quiet, INT_MAX)));
            return;
        }
        if (onExpired_)
            onExpired_();
    }

    std::function<void()> onExpired_;
    QTimer timer_;
    QElapsedTimer since_;
    int seconds_ = 0;
};
