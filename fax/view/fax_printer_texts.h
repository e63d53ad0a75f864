#pragma once
// The texts the fax printer writes: header and footer templates with their
// "$" tokens, and the lines of the print log.
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

// What the tokens of a template stand for.
struct TMarginValues {
    QString fileName; // $F, the name as set
    int pageCount = 0; // $N
    int page = 0;      // $P
    QDateTime now;     // $D (short date) and $T (time)
};

// Replaces every token, a "$" up to the next space or the end of the text,
// by its value: $D, $F, $N, $P, $T in either letter case; any other token
// (also a lone "$" at the end) is removed.
QString ExpandMarginTemplate(const QString& text, const TMarginValues& values);

// The system's short date, its time (with seconds), and both together.
QString SystemDateText(const QDateTime& when);
QString SystemTimeText(const QDateTime& when);
QString SystemDateTimeText(const QDateTime& when);

// Log codes.
constexpr int kFaxPrintStarted = 0;
constexpr int kFaxPrintFinished = 1;
constexpr int kFaxPrintAborted = 2;
constexpr int kFaxPrintFailed = 3;
constexpr int kFaxPrintPageNotPrinted = 4; // a page could not be decoded; the job goes on

// The bytes of one log line, CR LF included; codes 1 to 3 add one more CR LF
// so that an empty line follows each finished, aborted or failed job. Code 4
// names the page and the reason.
QByteArray FaxPrintLogLine(int code, const QString& fileName, const QDateTime& when, int page = 0,
                           const QString& reason = QString());

struct TPageNotPrinted;
// "Page 2 could not be printed (reason)." for each page left out of a job,
// after "No page could be printed." when `printed` is 0.
QString PagesNotPrintedText(const std::vector<TPageNotPrinted>& pages, int printed);
