#include "mail/sync_net_socket.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <algorithm>

TCustomSyncNetSocket::TCustomSyncNetSocket(QObject* owner) : TCustomLineNetSocket(owner) {}

int TCustomSyncNetSocket::WaitForFlag(volatile char& flag)
{
    const QDeadlineTimer deadline(syncTimeout_ > 0 ? syncTimeout_ : -1);
    while (flag == 0) {
        if (!QCoreApplication::instance() || QCoreApplication::closingDown())
            return WaitTimedOut;
        if (syncTimeout_ > 0 && deadline.hasExpired())
            return WaitTimedOut;
        WaitForEvents(syncTimeout_ > 0 ? static_cast<int>(std::min<qint64>(deadline.remainingTime(), 100)) : 100);
    }
    return 0;
}

int TCustomSyncNetSocket::RunAndWait(volatile char& flag, const std::function<void(void*)>& procedure, void* data)
{
    flag = 0;
    if (procedure)
        procedure(data);
    return WaitForFlag(flag);
}
