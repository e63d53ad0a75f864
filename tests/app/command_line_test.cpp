// The command line as a user meets it: --version, --help against the manual
// page, and wrong arguments answered on standard error with exit status 2.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int status = -1;
    QString out, err;
};

// Runs the program without any display, so that one which went on to open
// its window would fail, in an empty folder that must stay empty.
TRun Pellimar(const QStringList& arguments)
{
    QTemporaryDir folder;
    QProcess pellimar;
    pellimar.setWorkingDirectory(folder.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    pellimar.setProcessEnvironment(env);
    pellimar.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), arguments);
    TRun run;
    if (!pellimar.waitForFinished(60000) || pellimar.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = pellimar.exitCode();
    run.out = QString::fromLocal8Bit(pellimar.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(pellimar.readAllStandardError());
    EXPECT_TRUE(QDir(folder.path()).isEmpty()) << arguments.join(QLatin1Char(' ')).toStdString();
    return run;
}

TEST(CommandLineTest, VersionAndHelpMatchTheManualPage)
{
    const TRun version = Pellimar({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Pellimar \\d+\\.\\d+\\S*\\n$")).match(version.out).hasMatch())
        << version.out.toStdString();

    const TRun help = Pellimar({QStringLiteral("--help")});
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
    };
    for (const QStringList& arguments : wrong) {
        const std::string shown = arguments.join(QLatin1Char(' ')).toStdString();
        const TRun run = Pellimar(arguments);
        EXPECT_EQ(run.status, 2) << shown;
        EXPECT_TRUE(run.out.isEmpty()) << shown << ": " << run.out.toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("pellimar: "))) << shown << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("pellimar --help"))) << shown;
    }
    EXPECT_TRUE(Pellimar({QStringLiteral("--fax")}).err.contains(QStringLiteral("fax")));
}

} // namespace
