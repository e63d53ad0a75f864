#include "fax/view/fax_printer_texts.h"

#include "fax/view/fax_printer.h"

#include <QFile>
#include <QLocale>

QString ExpandMarginTemplate(const QString& text, const TMarginValues& values)
{
    QString result = text;
    // Each round removes one "$", so the loop ends even when a value brings
    // a "$" of its own: values are inserted after the scan position.
    qsizetype from = 0;
    for (qsizetype at; (at = result.indexOf(QLatin1Char('$'), from)) >= 0;) {
        qsizetype end = result.indexOf(QLatin1Char(' '), at);
        if (end < 0)
            end = result.size();
        const QChar kind = at + 1 < end ? result[at + 1].toUpper() : QChar();
        QString value;
        if (kind == QLatin1Char('D'))
            value = SystemDateText(values.now);
        else if (kind == QLatin1Char('F'))
            value = values.fileName;
        else if (kind == QLatin1Char('N'))
            value = QString::number(values.pageCount);
        else if (kind == QLatin1Char('P'))
            value = QString::number(values.page);
        else if (kind == QLatin1Char('T'))
            value = SystemTimeText(values.now);
        result.replace(at, end - at, value);
        from = at + value.size();
    }
    return result;
}

QString SystemDateText(const QDateTime& when) { return QLocale::system().toString(when.date(), QLocale::ShortFormat); }

QString SystemTimeText(const QDateTime& when)
{
    // The long format brings the seconds, and also a time-zone name that
    // neither the log nor a header wants.
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QLocale::system().toString(when.time(), format.trimmed());
}

QString SystemDateTimeText(const QDateTime& when) { return SystemDateText(when) + QLatin1Char(' ') + SystemTimeText(when); }

QByteArray FaxPrintLogLine(int code, const QString& fileName, const QDateTime& when, int page, const QString& reason)
{
    static const char* const kEvents[] = {" started at ", " finished at ", " aborted at ", " failed at "};
    if (code == kFaxPrintPageNotPrinted)
        return "Page " + QByteArray::number(page) + " of " + QFile::encodeName(fileName) + " not printed at " +
               SystemDateTimeText(when).toLocal8Bit() + ": " + reason.toLocal8Bit() + "\r\n";
    if (code < kFaxPrintStarted || code > kFaxPrintFailed)
        return {};
    QByteArray line = "Printing " + QFile::encodeName(fileName) + kEvents[code] +
                      SystemDateTimeText(when).toLocal8Bit() + "\r\n";
    if (code != kFaxPrintStarted)
        line += "\r\n";
    return line;
}

QString PagesNotPrintedText(const std::vector<TPageNotPrinted>& pages, int printed)
{
    QStringList lines;
    if (printed == 0)
        lines << QStringLiteral("No page could be printed.");
    for (const TPageNotPrinted& page : pages)
        lines << QStringLiteral("Page %1 could not be printed (%2).").arg(page.page).arg(page.reason);
    return lines.join(QLatin1Char('\n'));
}
