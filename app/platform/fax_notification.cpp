#include "app/platform/fax_notification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace {

constexpr int kShownSenders = 3;
// A notification service answers at once; a hung one must not hold up the
// end of the run for long.
constexpr int kReplyTimeoutMs = 3000;

} // namespace

QString NewFaxesText(int count, const QStringList& senderIds)
{
    QString text = count == 1 ? QStringLiteral("1 new fax") : QStringLiteral("%1 new faxes").arg(count);
    QStringList senders;
    for (const QString& id : senderIds)
        if (!id.trimmed().isEmpty() && !senders.contains(id.trimmed()))
            senders << id.trimmed();
    if (senders.isEmpty())
        return text;
    const bool more = senders.size() > kShownSenders;
    senders = senders.mid(0, kShownSenders);
    if (more)
        senders << QStringLiteral("…");
    return text + QStringLiteral(" from ") + senders.join(QStringLiteral(", "));
}

bool SendDesktopNotification(const QString& text)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("pellimar")}};
    notify << QStringLiteral("Pellimar") << 0u << QStringLiteral("pellimar") << QStringLiteral("Pellimar") << text
           << QStringList() << hints << -1;
    // Waiting keeps a headless run from ending before the call left; the
    // window keeps painting meanwhile, but takes no input.
    return bus.call(notify, QDBus::BlockWithGui, kReplyTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

void TFaxNotification::RunStarted()
{
    running_ = true;
    count_ = 0;
    senders_.clear();
}

void TFaxNotification::FaxAdded(const QString& senderId)
{
    if (!running_)
        return;
    ++count_;
    senders_ << senderId;
}

void TFaxNotification::RunEnded()
{
    if (!running_)
        return;
    running_ = false;
    if (Enabled && count_ > 0)
        SendDesktopNotification(NewFaxesText(count_, senders_));
}
