#pragma once
// Tells the desktop when a download run added faxes: one notification through
// the session bus's notification service (org.freedesktop.Notifications).
#include <QString>
#include <QStringList>

// "1 new fax from +1 555 0100", "5 new faxes from A, B, C, …": the distinct
// sender IDs in the order the faxes came, at most three, "…" for the rest;
// "2 new faxes" when none carried a sender ID.
QString NewFaxesText(int count, const QStringList& senderIds);

// Shows the text as a notification of Pellimar. False when there is no
// session bus or no notification service answered within a few seconds.
bool SendDesktopNotification(const QString& text);

// Follows the download runs of the main window: counts the faxes a run
// catalogues and, when it added any, notifies once at its end.
class TFaxNotification {
public:
    // Off, runs are followed but nothing is sent (`--fetch` without `--notify`).
    bool Enabled = true;

    void RunStarted();
    void FaxAdded(const QString& senderId); // ignored outside a run
    void RunEnded();

private:
    bool running_ = false;
    int count_ = 0;
    QStringList senders_;
};
