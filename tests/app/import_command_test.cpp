// pellimar --import as a user runs it from a terminal without a display, in
// a working folder of its own: what it copies, what --list shows afterwards,
// what a --backup of it holds, and the exit statuses.
#include "tests/app/headless_run.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kFax = QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/multi.apf");

THeadlessRun RunIn(const QString& folder, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM")); // the program must choose to run without a display
    env.insert(QStringLiteral("PELLIMAR_REGISTRY"), folder + QStringLiteral("/registry.reg"));
    env.insert(QStringLiteral("HOME"), folder); // so that no ~/Pellimar of the machine is used
    return RunPellimarIn(folder, arguments, env);
}

TEST(ImportCommandTest, ImportsEachFileKeepsWhatIsThereAndSaysWhichFailed)
{
    QTemporaryDir work, mail;
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("faxes")));
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("temp")));
    const QString fax = mail.filePath(QStringLiteral("fax7.apf"));
    ASSERT_TRUE(QFile::copy(kFax, fax));
    const QString missing = mail.filePath(QStringLiteral("gone.apf"));

    const THeadlessRun first = RunIn(work.path(), {QStringLiteral("--import"), fax, missing});
    EXPECT_EQ(first.status, 1) << first.err.toStdString();
    EXPECT_EQ(first.out, QStringLiteral("Added 1 Fax: ") + fax + QLatin1Char('\n'));
    EXPECT_TRUE(first.err.contains(missing)) << first.err.toStdString();
    EXPECT_TRUE(QFile::exists(work.filePath(QStringLiteral("faxes/fax7.apf"))));

    // Again: the same fax is there and catalogued already.
    const THeadlessRun again = RunIn(work.path(), {QStringLiteral("--import"), fax});
    EXPECT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_EQ(again.out, QStringLiteral("Already catalogued: ") + fax + QLatin1Char('\n'));

    // Another fax of that name gets a name of its own; a folder is refused as one.
    QTemporaryDir other;
    const QString otherFax = other.filePath(QStringLiteral("fax7.apf"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/black-fine.apf"), otherFax));
    const THeadlessRun renamed = RunIn(work.path(), {QStringLiteral("--import"), otherFax, mail.path()});
    EXPECT_EQ(renamed.status, 1) << renamed.err.toStdString();
    EXPECT_EQ(renamed.out, QStringLiteral("Added 1 Fax: ") + otherFax + QLatin1Char('\n'));
    EXPECT_TRUE(QFile::exists(work.filePath(QStringLiteral("faxes/fax7 (2).apf"))));
    EXPECT_TRUE(renamed.err.contains(QStringLiteral("it is a folder"))) << renamed.err.toStdString();

    const THeadlessRun list = RunIn(work.path(), {QStringLiteral("--list")});
    EXPECT_EQ(list.status, 0);
    const QStringList lines = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << list.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("New\tfaxes\\fax7 (2).apf\t"))) << lines[0].toStdString();
    const QStringList fields = lines[1].split(QLatin1Char('\t'));
    ASSERT_EQ(fields.size(), 5);
    EXPECT_EQ(fields.mid(0, 4), (QStringList{QStringLiteral("New"), QStringLiteral("faxes\\fax7.apf"),
                                             QStringLiteral("<none available>"), QStringLiteral("<none available>")}));

    EXPECT_EQ(RunPellimarHeadless({QStringLiteral("--import")}).status, 2);

    // --backup writes a copy that lists the same, but never over the catalogue.
    QTemporaryDir restored;
    const THeadlessRun backup =
        RunIn(work.path(), {QStringLiteral("--backup"), restored.filePath(QStringLiteral("faxes.qdb"))});
    EXPECT_EQ(backup.status, 0) << backup.err.toStdString();
    EXPECT_EQ(RunIn(restored.path(), {QStringLiteral("--list")}).out, list.out);
    EXPECT_EQ(RunIn(work.path(), {QStringLiteral("--backup"), QStringLiteral("faxes.qdb")}).status, 1);
    const THeadlessRun nothing = RunIn(mail.path(), {QStringLiteral("--backup"), QStringLiteral("copy.qdb")});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_TRUE(nothing.err.contains(QStringLiteral("is no working folder"))) << nothing.err.toStdString();
}

} // namespace
