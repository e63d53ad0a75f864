#pragma once
// Fetching new faxes as they arrive: one IMAP connection of its own waits
// in IDLE on the mailbox folder and asks for a download run whenever the
// server announces new mail (EXISTS), and once after every (re)connect for
// what came in meanwhile. It renews IDLE well before the server's 30
// minutes, reconnects with growing delays after the connection dropped
// (saying so in the log), and never asks for a second run while one runs:
// news that comes during a run starts one more run after it.
#include "app/core/run_host.h"
#include "mail/imap_client.h"

#include <QObject>
#include <QTimer>

#include <functional>

class TImapWatch : public QObject {
public:
    static constexpr int DefaultRenewMs = 25 * 60 * 1000;
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LastRetryMs = 5 * 60 * 1000;

    explicit TImapWatch(TRunHost& host, QObject* parent = nullptr);

    void Start();
    void Stop();
    bool Watching() const { return watching_; }

    // How often IDLE is renewed and how the reconnect delays grow (for tests).
    void SetRenewInterval(int ms) { renewMs_ = ms; }
    void SetRetryDelays(int firstMs, int lastMs)
    {
        firstRetryMs_ = firstMs;
        lastRetryMs_ = lastMs;
    }

    // Whether a download runs now, and how to start one (assigned by the owner).
    std::function<bool()> DownloadRunning;
    std::function<void()> StartDownload;
    // The owner tells when a run has ended, so that news during it is fetched.
    void DownloadFinished();

private:
    void Connect();
    void RequestDone(TImapRequest request, std::uint16_t error);
    void Dropped(const QString& why);
    void Renew();
    void NewMail();

    TRunHost& host_;
    TImapClient client_;
    QTimer renew_, retry_;
    int renewMs_ = DefaultRenewMs;
    int firstRetryMs_ = FirstRetryMs, lastRetryMs_ = LastRetryMs;
    int nextRetryMs_ = FirstRetryMs;
    bool watching_ = false;
    bool pending_ = false;   // news arrived while a run was running
    bool renewing_ = false;  // IDLE is being ended to start it again
    bool selected_ = false;  // the folder is selected: EXISTS counts its mails
    std::uint32_t known_ = 0;
};
