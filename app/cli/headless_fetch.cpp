#include "app/cli/headless_fetch.h"

#include "app/cli/console_host.h"
#include "app/core/download.h"
#include "app/core/extraction.h"
#include "app/core/fax_catalogue.h"
#include "mail/pop3_client.h"

#include <QDir>
#include <QEventLoop>

int RunHeadlessFetch(QTextStream& out, int timeoutSeconds, bool notify, const TSettingReader& readSetting)
{
    TConsoleRunHost host(out, readSetting);
    host.Log(QStringLiteral("Working folder: ") + QDir::currentPath());
    TRunState state;
    TFaxCatalogue catalogue;
    host.NotifyAdditions(catalogue, notify);
    QObject::connect(&catalogue, &TFaxCatalogue::Notice, [&host](const QString& text) { host.Log(text); });
    catalogue.Open();
    TPop3Client client;
    client.SetTimeout(timeoutSeconds);
    TMailboxDownload download(host, state, catalogue, client);
    TFaxExtraction extraction(host, state, catalogue, download);

    QEventLoop loop;
    int status = 0;
    bool finished = false;
    download.OnRunFinished = [&](TRunOutcome outcome) {
        status = static_cast<int>(outcome);
        finished = true;
        loop.quit();
    };
    download.btnDownloadClick();
    if (!finished) // a run that could not even start has already ended
        loop.exec();
    return status;
}
