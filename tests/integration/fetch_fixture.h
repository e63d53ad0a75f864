#pragma once
// What tests of `pellimar --fetch` share: a fresh working folder (with temp/
// and faxes/) that is the current folder, a private settings store naming
// the mailbox, and the sample fax files.
#include "tests/support/temp_registry.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

inline QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray SampleFax(const char* name)
{
    return ReadFile(QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/") + QLatin1String(name));
}

inline QString PellimarProgram() { return QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"); }

class FetchFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = QDir::currentPath();
        QDir(work_.path()).mkpath(QStringLiteral("temp"));
        QDir(work_.path()).mkpath(QStringLiteral("faxes"));
        ASSERT_TRUE(QDir::setCurrent(work_.path()));
        qputenv("PELLIMAR_PPP_PEERS", "/nonexistent");
    }
    void TearDown() override { QDir::setCurrent(previous_); }

    // Stores the mailbox settings a headless fetch uses.
    void StoreMailbox(const QString& hostText, const QString& password, const QString& user = QStringLiteral("fax"))
    {
        const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
        registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"%2\"\n\"rgUserName\"=\"%3\"\n\"rgPassword\"=\"%4\"\n")
                                  .arg(key, hostText, user, password)
                                  .toLatin1());
    }

    QString WorkPath(const QString& relative) const { return work_.filePath(relative); }
    // The names in a folder of the working folder.
    QStringList Entries(const QString& folder) const
    {
        return QDir(work_.filePath(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    }

    TempRegistry registry_;
    QTemporaryDir work_;
    QString previous_;
};
