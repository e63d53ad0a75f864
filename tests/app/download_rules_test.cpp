// The small rules of a download run that decide file names and servers.
#include "app/core/fax_rules.h"
#include "app/core/download.h"
#include "app/platform/native_path.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(DownloadRules, HostFieldMayCarryAPort)
{
    struct Case {
        const char* text;
        const char* host;
        const char* port;
    } cases[] = {
        {"pop.example.com", "pop.example.com", "pop3"},
        {" pop.example.com:1110 ", "pop.example.com", "1110"},
        {"[::1]:2110", "::1", "2110"},
        {"[fe80::1]", "fe80::1", "pop3"},
        {"::1", "::1", "pop3"},
        {"host:", "host:", "pop3"},
        {"127.0.0.1:pop3s", "127.0.0.1", "pop3s"},
    };
    for (const Case& c : cases) {
        QString host, port;
        SplitHostPort(QString::fromLatin1(c.text), host, port);
        EXPECT_EQ(host, QString::fromLatin1(c.host)) << c.text;
        EXPECT_EQ(port, QString::fromLatin1(c.port)) << c.text;
    }
}

TEST(DownloadRules, ContainsTextFoldsOnlyAsciiLetters)
{
    EXPECT_TRUE(ContainsText("SUBJECT: FAX {VARNEL}", "{Varnel}"));
    EXPECT_TRUE(ContainsText("x subject: y", "SUBJECT:"));
    EXPECT_FALSE(ContainsText("Subject: fax", "{Varnel}"));
    EXPECT_FALSE(ContainsText("\xE9", "\xC9"));
    EXPECT_TRUE(ContainsText("anything", ""));
}

TEST(DownloadRules, UnsafeUniqueIdsBecomeDistinctNamesInsideTheFolder)
{
    EXPECT_EQ(SafeFileName("00000001abc"), QStringLiteral("00000001abc"));
    EXPECT_EQ(SafeFileName("../../etc/passwd"), QStringLiteral("%2E.%2F..%2Fetc%2Fpasswd"));
    EXPECT_EQ(SafeFileName(std::string("a\0b", 3)), QStringLiteral("a%00b"));
    EXPECT_EQ(SafeFileName("a\\b"), QStringLiteral("a%5Cb"));
    EXPECT_EQ(SafeFileName("100%"), QStringLiteral("100%25"));
    // One-to-one: escaped forms never collide with ids that look like them.
    std::set<QString> names;
    for (const char* id : {"a/b", "a%2Fb", "a%252Fb", ".x", "%2Ex"})
        EXPECT_TRUE(names.insert(SafeFileName(id)).second) << id;
    for (const QString& name : names)
        EXPECT_FALSE(name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')));
    EXPECT_EQ(NativePath(QStringLiteral("temp\\Msg 1.txt")), QStringLiteral("temp/Msg 1.txt"));
}

} // namespace
