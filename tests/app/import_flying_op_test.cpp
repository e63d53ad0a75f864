// The file operation component's other operations on real files: move and
// rename keep the data, rename never overwrites, delete sends the file to the
// desktop trash, where it can be restored from, and a declined delete keeps it.
#include "app/platform/flying_op.h"
#include "app/platform/message_box.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(FlyingOpTest, MoveRenameAndDeleteToTheTrash)
{
    QTemporaryDir from, to, data;
    // The trash of a home on the files' own file system.
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(data.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QStringList boxes;
    TMessageAnswer answer = TMessageAnswer::Yes;
    SetMessageHandler([&](TMessageKind kind, const QString&, const QString& text) {
        boxes << text;
        return kind == TMessageKind::Warning ? answer : TMessageAnswer::Ok;
    });
    Write(from.filePath(QStringLiteral("a.apf")), "first");
    Write(from.filePath(QStringLiteral("b.apf")), "second");

    TFlyingOp op;
    EXPECT_EQ(op.RunShellOperation(foMove), TShellResult::Done); // empty list: nothing happens
    op.SetSourceDirectory(from.path() + QLatin1Char('/'));
    op.SetDestinationDirectory(to.path() + QLatin1Char('/'));
    op.SetFileList({from.filePath(QStringLiteral("a.apf")), from.filePath(QStringLiteral("b.apf"))});
    EXPECT_EQ(op.RunShellOperation(foMove), TShellResult::Done);
    EXPECT_EQ(Read(to.filePath(QStringLiteral("a.apf"))), "first");
    EXPECT_EQ(Read(to.filePath(QStringLiteral("b.apf"))), "second");
    EXPECT_TRUE(QDir(from.path()).isEmpty());
    EXPECT_EQ(op.FileList().size(), 2); // left as it was

    // Rename within one folder; onto an existing name it fails and keeps both.
    op.SetSourceDirectory(to.path() + QStringLiteral("/a"));
    op.SetDestinationDirectory(to.path() + QStringLiteral("/c"));
    op.SetFileList({to.filePath(QStringLiteral("a.apf"))});
    EXPECT_EQ(op.RunShellOperation(foRename), TShellResult::Done);
    EXPECT_EQ(Read(to.filePath(QStringLiteral("c.apf"))), "first");
    op.SetSourceDirectory(to.path() + QStringLiteral("/c"));
    op.SetDestinationDirectory(to.path() + QStringLiteral("/b"));
    op.SetFileList({to.filePath(QStringLiteral("c.apf"))});
    boxes.clear();
    EXPECT_EQ(op.RunShellOperation(foRename), TShellResult::Failed);
    EXPECT_EQ(boxes.value(1), QStringLiteral("L'opération a échouée"));
    EXPECT_EQ(Read(to.filePath(QStringLiteral("b.apf"))), "second");
    EXPECT_EQ(Read(to.filePath(QStringLiteral("c.apf"))), "first");

    // Delete: declined, then to the trash.
    op.SetSourceDirectory(to.path() + QLatin1Char('/'));
    op.SetFileList({to.filePath(QStringLiteral("b.apf"))});
    answer = TMessageAnswer::No;
    boxes.clear();
    EXPECT_EQ(op.RunShellOperation(foDelete), TShellResult::Aborted);
    EXPECT_EQ(boxes.value(1), QStringLiteral("Opération interrompu par l'utilisateur"));
    EXPECT_TRUE(QFile::exists(to.filePath(QStringLiteral("b.apf"))));
    answer = TMessageAnswer::Yes;
    EXPECT_EQ(op.RunShellOperation(foDelete), TShellResult::Done);
    EXPECT_FALSE(QFile::exists(to.filePath(QStringLiteral("b.apf"))));
    const QString trashed = data.filePath(QStringLiteral("Trash/files/b.apf"));
    EXPECT_EQ(Read(trashed), "second");
    EXPECT_TRUE(QFile::exists(data.filePath(QStringLiteral("Trash/info/b.apf.trashinfo"))));

    SetMessageHandler({});
    qunsetenv("XDG_DATA_HOME");
    qputenv("HOME", home);
}

} // namespace
