#include "app/headless_fetch.h"

#include "app/download.h"
#include "app/main_window.h"
#include "mail/pop3_client.h"

#include <QEventLoop>

int RunHeadlessFetch(QTextStream& out, int timeoutSeconds, bool notify)
{
    TForm1 window;
    window.Pop3Client->SetTimeout(timeoutSeconds);
    window.Notification.Enabled = notify;
    window.OnLogLine = [&out](const QString& line) {
        out << line << Qt::endl;
    };
    QEventLoop loop;
    int status = 0;
    bool finished = false;
    window.Download->OnRunFinished = [&](TRunOutcome outcome) {
        status = static_cast<int>(outcome);
        finished = true;
        loop.quit();
    };
    window.btnDownloadClick();
    if (!finished) // a run that could not even start has already ended
        loop.exec();
    return status;
}
