// The command line as a user meets it: --version, --help against the manual
// page, and wrong arguments answered on standard error with exit status 2.
#include "tests/app/headless_run.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(CommandLineTest, VersionAndHelpMatchTheManualPage)
{
    const THeadlessRun version = RunPellimarHeadless({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Pellimar \\d+\\.\\d+\\S*\\n$")).match(version.out).hasMatch())
        << version.out.toStdString();

    const THeadlessRun help = RunPellimarHeadless({QStringLiteral("--help")});
    ASSERT_EQ(help.status, 0);
    QFile manual(QStringLiteral(PELLIMAR_SOURCE_DIR "/desktop/pellimar.1"));
    ASSERT_TRUE(manual.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(manual.readAll());
    // Every option the manual page describes (its ".TP" items) is in --help,
    // and every exit status is explained in both.
    const QString options = page.section(QStringLiteral(".SH OPTIONS"), 1).section(QStringLiteral(".SH "), 0, 0);
    QStringList described;
    for (const auto& match : QRegularExpression(QStringLiteral("\\\\-\\\\-([a-z]+)")).globalMatch(options))
        described << QStringLiteral("--") + match.captured(1);
    described.removeDuplicates();
    EXPECT_GE(described.size(), 7) << described.join(QLatin1Char(' ')).toStdString();
    for (const QString& option : described)
        EXPECT_TRUE(help.out.contains(option)) << option.toStdString() << " is not in --help";
    const QString statuses = page.section(QStringLiteral(".SH EXIT STATUS"), 1).section(QStringLiteral(".SH "), 0, 0);
    for (int status = 0; status <= 6; ++status) {
        EXPECT_TRUE(statuses.contains(QStringLiteral(".B %1\n").arg(status))) << status;
        EXPECT_TRUE(help.out.contains(QStringLiteral(" %1 ").arg(status)) || help.out.contains(QStringLiteral("\n%1 ").arg(status)))
            << status;
    }
}

TEST(CommandLineTest, WrongArgumentsExitWithStatusTwoAndAHint)
{
    const QList<QStringList> wrong{
        {QStringLiteral("--fax")},                                   // unknown
        {QStringLiteral("-x")},                                      // unknown short option
        {QStringLiteral("--fetch"), QStringLiteral("--timeout")},    // value missing
        {QStringLiteral("--fetch"), QStringLiteral("--timeout"), QStringLiteral("0")},
        {QStringLiteral("--notify")},                                // only with --fetch
        {QStringLiteral("--list"), QStringLiteral("--fetch")},       // two modes
        {QStringLiteral("--list"), QStringLiteral("faxes.qdb")},     // stray argument
        {QStringLiteral("--backup")},                                // the copy's name missing
    };
    for (const QStringList& arguments : wrong) {
        const std::string shown = arguments.join(QLatin1Char(' ')).toStdString();
        const THeadlessRun run = RunPellimarHeadless(arguments);
        EXPECT_EQ(run.status, 2) << shown;
        EXPECT_TRUE(run.out.isEmpty()) << shown << ": " << run.out.toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("pellimar: "))) << shown << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("pellimar --help"))) << shown;
    }
    EXPECT_TRUE(RunPellimarHeadless({QStringLiteral("--fax")}).err.contains(QStringLiteral("fax")));
}

} // namespace
