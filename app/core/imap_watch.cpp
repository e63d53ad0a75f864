#include "app/core/imap_watch.h"

#include "app/core/fax_rules.h"
#include "app/core/imap_download.h"
#include "mail/socks_proxy.h"

#include <algorithm>

TImapWatch::TImapWatch(TRunHost& host, QObject* parent) : QObject(parent), host_(host)
{
    renew_.setSingleShot(true);
    retry_.setSingleShot(true);
    connect(&renew_, &QTimer::timeout, this, [this] { Renew(); });
    connect(&retry_, &QTimer::timeout, this, [this] { Connect(); });
    client_.OnRequestDone = [this](QObject*, TImapRequest request, std::uint16_t error) { RequestDone(request, error); };
    client_.OnExists = [this](std::uint32_t count) {
        // More mails than known: news (our own runs only ever take mails away).
        const bool more = selected_ && count > known_;
        known_ = count;
        if (more)
            NewMail();
    };
    client_.OnSessionClosed = [this](std::uint16_t error) {
        Dropped(QStringLiteral("error #%1").arg(error));
    };
}

void TImapWatch::Start()
{
    if (watching_)
        return;
    watching_ = true;
    nextRetryMs_ = firstRetryMs_;
    host_.Log(QStringLiteral("Watching the mailbox for new faxes."));
    Connect();
}

void TImapWatch::Stop()
{
    if (!watching_)
        return;
    watching_ = false;
    renew_.stop();
    retry_.stop();
    client_.Abort();
    host_.Log(QStringLiteral("Stopped watching the mailbox for new faxes."));
}

void TImapWatch::Connect()
{
    if (!watching_)
        return;
    const TMailboxSettings settings = host_.MailboxSettings();
    QString host, port;
    SplitHostPort(settings.Host, host, port);
    const TProxySetting proxy = ProxyFromEnvironment(host.toStdString());
    ConfigureImapClient(client_, settings, proxy.kind == TProxySetting::Socks ? proxy.proxy : TSocksProxy{},
                        TImapClient::DefaultTimeout);
    try {
        client_.Open();
    } catch (const std::exception& e) {
        Dropped(QString::fromLocal8Bit(e.what()));
    }
}

void TImapWatch::RequestDone(TImapRequest request, std::uint16_t error)
{
    if (!watching_)
        return;
    if (error != 0) {
        client_.Abort();
        return Dropped(Latin1(client_.ErrorMessage()));
    }
    try {
        switch (request) {
        case imapOpen:
            selected_ = false;
            client_.Select(host_.MailboxSettings().Folder.toUtf8().toStdString());
            return;
        case imapSelect:
            // What arrived while nobody watched is fetched now.
            selected_ = true;
            known_ = client_.Exists();
            NewMail();
            client_.Idle();
            return;
        case imapIdle:
            nextRetryMs_ = firstRetryMs_;
            renew_.start(renewMs_);
            return;
        case imapIdleDone:
            renewing_ = false;
            client_.Idle();
            return;
        default:
            return;
        }
    } catch (const std::exception& e) {
        // A server without IDLE cannot push; the timer or the button still fetch.
        host_.Log(QStringLiteral("New faxes cannot be fetched as they arrive: %1.").arg(QString::fromLocal8Bit(e.what())));
        watching_ = false;
        client_.Abort();
    }
}

void TImapWatch::Renew()
{
    if (!watching_ || !client_.Idling())
        return;
    renewing_ = true;
    try {
        client_.IdleDone();
    } catch (const std::exception& e) {
        Dropped(QString::fromLocal8Bit(e.what()));
    }
}

void TImapWatch::Dropped(const QString& why)
{
    if (!watching_ || retry_.isActive())
        return;
    renew_.stop();
    const int delay = nextRetryMs_;
    nextRetryMs_ = std::min(lastRetryMs_, nextRetryMs_ * 2);
    host_.Log(QStringLiteral("The connection that waits for new faxes was lost (%1); reconnecting in %2 s.")
                  .arg(why)
                  .arg(delay / 1000.0, 0, 'g', 3));
    retry_.start(delay);
}

void TImapWatch::NewMail()
{
    if (DownloadRunning && DownloadRunning()) {
        pending_ = true;
        return;
    }
    pending_ = false;
    if (StartDownload)
        StartDownload();
}

void TImapWatch::DownloadFinished()
{
    if (pending_ && watching_)
        NewMail();
}
