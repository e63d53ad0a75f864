// System information compared with what the system's own tools report.
#include "app/platform/system_info.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

QString Output(const QString& program, const QStringList& arguments = {})
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

} // namespace

TEST(SystemInfo, NamesAndFoldersMatchTheSystemTools)
{
    TtvAPIThing info;
    EXPECT_EQ(info.UserName(), Output(QStringLiteral("id"), {QStringLiteral("-un")}));
    EXPECT_EQ(info.ComputerName(), Output(QStringLiteral("uname"), {QStringLiteral("-n")}));
    EXPECT_TRUE(info.WindowsDirectory().isEmpty());
    EXPECT_TRUE(info.SystemDirectory().isEmpty());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    EXPECT_EQ(QDir(info.CurrentDirectory()).canonicalPath(), QDir(dir.path()).canonicalPath());
    QDir::setCurrent(previous);

    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", dir.path().toLocal8Bit());
    EXPECT_EQ(info.TempPath(), dir.path() + QLatin1Char('/'));
    if (oldTmp.isEmpty())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTmp);
}

TEST(SystemInfo, VersionComesFromTheKernel)
{
    TtvAPIThing info;
    const QString release = Output(QStringLiteral("uname"), {QStringLiteral("-r")});
    const QRegularExpressionMatch numbers = QRegularExpression(QStringLiteral("^(\\d+)\\.(\\d+)")).match(release);
    ASSERT_TRUE(numbers.hasMatch()) << release.toStdString();
    const QString expectedStart = Output(QStringLiteral("uname"), {QStringLiteral("-s")}) + QStringLiteral(" Version ") +
                                  numbers.captured(1) + QLatin1Char('.') + numbers.captured(2) +
                                  QStringLiteral("\r\n (Build ");
    const QString version = info.OSVersion();
    EXPECT_TRUE(version.startsWith(expectedStart)) << version.toStdString();
    EXPECT_TRUE(version.endsWith(Output(QStringLiteral("uname"), {QStringLiteral("-v")}) + QLatin1Char(')')))
        << version.toStdString();
}

TEST(SystemInfo, DrivesAreConsecutiveLetters)
{
    TtvAPIThing info;
    const QString drives = info.LogicalDrives();
    ASSERT_FALSE(drives.isEmpty()) << "the root file system at least is mounted";
    ASSERT_LE(drives.size(), 26);
    for (int i = 0; i < drives.size(); ++i)
        EXPECT_EQ(drives[i], QLatin1Char(char('A' + i)));
}

TEST(SystemInfo, TimesAreTextsInTheSystemFormat)
{
    TtvAPIThing info;
    const QLocale locale = QLocale::system();
    const QDateTime utc = locale.toDateTime(info.SystemTime(), locale.dateTimeFormat(QLocale::ShortFormat));
    const QDateTime local = locale.toDateTime(info.LocalTime(), locale.dateTimeFormat(QLocale::ShortFormat));
    ASSERT_TRUE(utc.isValid()) << info.SystemTime().toStdString();
    ASSERT_TRUE(local.isValid()) << info.LocalTime().toStdString();
    // Both name the present moment, one in UTC and one in local time.
    const qint64 offset = QDateTime::currentDateTime().offsetFromUtc();
    const qint64 skew = utc.secsTo(local) - offset;
    EXPECT_LE(std::llabs(skew), 120);
}

TEST(SystemInfo, MemoryAndProcessorFactsAreConsistent)
{
    TtvAPIThing info;
    EXPECT_LE(info.dwMemoryLoad(), 100u);
    EXPECT_GT(info.dwTotalPhys(), 0u);
    EXPECT_LE(info.dwAvailPhys(), info.dwTotalPhys());
    EXPECT_GE(info.dwTotalPageFile(), info.dwTotalPhys());
    EXPECT_LE(info.dwAvailVirtual(), info.dwTotalVirtual());

    EXPECT_EQ(QString::number(info.PageSize()), Output(QStringLiteral("getconf"), {QStringLiteral("PAGESIZE")}));
    EXPECT_EQ(info.AllocationGranularity(), info.PageSize());
    EXPECT_EQ(QString::number(info.NumberOfProcessors()), Output(QStringLiteral("getconf"), {QStringLiteral("_NPROCESSORS_ONLN")}));
    EXPECT_NE(info.ActiveProcessorMask(), 0u);

    const QString machine = Output(QStringLiteral("uname"), {QStringLiteral("-m")});
    if (machine == QLatin1String("x86_64")) {
        EXPECT_EQ(info.ProcessorArchitecture(), 9);
        EXPECT_EQ(info.ProcessorType(), 8664u);
        EXPECT_GE(info.ProcessorLevel(), 3);
    } else if (machine == QLatin1String("aarch64")) {
        EXPECT_EQ(info.ProcessorArchitecture(), 12);
    }
}
