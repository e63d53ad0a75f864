#include "app/cli/headless_fetch.h"

#include "app/cli/console_host.h"
#include "app/core/download.h"
#include "app/core/extraction.h"
#include "app/core/fax_catalogue.h"
#include "app/core/imap_watch.h"
#include "mail/pop3_client.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <csignal>

namespace {

// What a run without a window is made of, wired as the window wires it.
struct THeadlessRun {
    TConsoleRunHost host;
    TRunState state;
    TFaxCatalogue catalogue;
    TPop3Client client;
    TMailboxDownload download{host, state, catalogue, client};
    TFaxExtraction extraction{host, state, catalogue, download};

    THeadlessRun(QTextStream& out, int timeoutSeconds, bool notify, const TSettingReader& readSetting)
        : host(out, readSetting)
    {
        host.Log(QStringLiteral("Working folder: ") + QDir::currentPath());
        host.NotifyAdditions(catalogue, notify);
        QObject::connect(&catalogue, &TFaxCatalogue::Notice, [this](const QString& text) { host.Log(text); });
        catalogue.Open();
        client.SetTimeout(timeoutSeconds);
    }
};

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

int MillisecondsFromEnvironment(const char* name, int fallback)
{
    bool ok = false;
    const double seconds = qEnvironmentVariable(name).toDouble(&ok);
    return ok && seconds > 0 ? static_cast<int>(seconds * 1000) : fallback;
}

}  // namespace

int RunHeadlessFetch(QTextStream& out, int timeoutSeconds, bool notify, const TSettingReader& readSetting)
{
    THeadlessRun run(out, timeoutSeconds, notify, readSetting);
    QEventLoop loop;
    int status = 0;
    bool finished = false;
    run.download.OnRunFinished = [&](TRunOutcome outcome) {
        status = static_cast<int>(outcome);
        finished = true;
        loop.quit();
    };
    run.download.btnDownloadClick();
    if (!finished) // a run that could not even start has already ended
        loop.exec();
    return status;
}

int RunHeadlessWatch(QTextStream& out, int timeoutSeconds, bool notify, const TSettingReader& readSetting)
{
    THeadlessRun run(out, timeoutSeconds, notify, readSetting);
    if (!run.host.MailboxSettings().IsImap()) {
        run.host.Log(QStringLiteral("--watch needs an IMAP mailbox: choose Mailbox type IMAP on the Configure page."));
        return static_cast<int>(TRunOutcome::NotConnected);
    }
    if (!run.catalogue.Problem().isEmpty()) {
        run.host.Log(QStringLiteral("Cannot watch: ") + run.catalogue.Problem());
        return static_cast<int>(TRunOutcome::NoCatalogue);
    }
    TImapWatch watch(run.host);
    // The intervals can be shortened for tests; by default IDLE is renewed
    // every 25 minutes and reconnects wait from one second up to five minutes.
    watch.SetRenewInterval(MillisecondsFromEnvironment("PELLIMAR_IDLE_RENEW_SECONDS", TImapWatch::DefaultRenewMs));
    watch.SetRetryDelays(MillisecondsFromEnvironment("PELLIMAR_RECONNECT_SECONDS", TImapWatch::FirstRetryMs),
                         TImapWatch::LastRetryMs);
    watch.DownloadRunning = [&run] { return run.download.Running(); };
    watch.StartDownload = [&run] { run.download.btnDownloadClick(); };
    run.download.OnRunFinished = [&watch](TRunOutcome) { watch.DownloadFinished(); };

    stopRequested = 0;
    std::signal(SIGTERM, RequestStop);
    std::signal(SIGINT, RequestStop);
    QEventLoop loop;
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &loop, [&] {
        if (stopRequested)
            loop.quit();
    });
    stopCheck.start(200);
    watch.Start();
    loop.exec();
    watch.Stop();
    // A run still going is left to the next start: its mails stay on the server.
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    return 0;
}
