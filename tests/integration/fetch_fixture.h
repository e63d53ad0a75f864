#pragma once
// What tests of `pellimar --fetch` share: a fresh working folder (with temp/
// and faxes/) that is the current folder, a private settings store naming
// the mailbox, and the sample fax files.
#include "tests/support/temp_registry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>

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

    // Stores a plain IMAP mailbox on 127.0.0.1 (user and password "fax"),
    // with more settings lines behind it.
    void StoreImapMailbox(std::uint16_t port, const QString& moreLines = {})
    {
        const QString key = QStringLiteral("HKEY_CURRENT_USER\\Software\\Quenlo\\Dravimex\\QlVariableStore");
        registry_.SetContents(QStringLiteral("REGEDIT4\n\n[%1]\n\"rgHost\"=\"127.0.0.1:%2\"\n\"rgUserName\"=\"fax\"\n"
                                             "\"rgPassword\"=\"fax\"\n\"rgSecurity\"=\"None\"\n\"rgMailboxType\"=\"IMAP\"\n%3")
                                  .arg(key)
                                  .arg(port)
                                  .arg(moreLines)
                                  .toLatin1());
    }

    // How often `pellimar --list` names each catalogued file.
    std::map<QString, int> CatalogueRecords() const
    {
        QProcess list;
        list.setWorkingDirectory(work_.path());
        list.start(PellimarProgram(), {QStringLiteral("--list")});
        EXPECT_TRUE(list.waitForFinished(60000));
        std::map<QString, int> records;
        for (const QString& line :
             QString::fromUtf8(list.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            ++records[line.section(QLatin1Char('\t'), 1, 1)];
        return records;
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
