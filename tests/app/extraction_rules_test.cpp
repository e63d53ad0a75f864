// The rules that turn a captured mail's part headers and fax data into file
// names and catalogue fields.
#include "app/core/fax_rules.h"
#include "app/core/extraction.h"
#include "tests/support/core_run.h"
#include "app/platform/message_box.h"
#include "tests/support/temp_registry.h"

#include <gtest/gtest.h>

namespace {

TEST(ExtractionRules, FileNameValueQuotedOrNot)
{
    EXPECT_EQ(ExtractFileNameValue("Content-Disposition: attachment; filename=\"fax0001.apf\""), "fax0001.apf");
    EXPECT_EQ(ExtractFileNameValue("Content-Disposition: attachment; FILENAME=\"FAX.APF\""), "FAX.APF");
    EXPECT_EQ(ExtractFileNameValue("attachment; filename=fax2.apf; size=10"), "fax2.apf");
    EXPECT_EQ(ExtractFileNameValue("attachment; filename= fax3.apf "), "fax3.apf");
    EXPECT_EQ(ExtractFileNameValue("attachment; filename=\"unterminated.apf"), "unterminated.apf");
    EXPECT_EQ(ExtractFileNameValue("attachment; filename="), "");
    EXPECT_EQ(ExtractFileNameValue("no name here"), "");
}

TEST(ExtractionRules, PartHeadersNameTheFileInEveryForm)
{
    struct Case {
        const char* line;
        const char* fileName;
        const char* typeName;
    } cases[] = {
        {"Content-Disposition: attachment; filename=\"fax0001.apf\"", "fax0001.apf", ""},
        {"Content-Disposition: attachment; size=3; FILENAME=fax2.apf", "fax2.apf", ""},
        {"Content-Disposition: attachment; filename*=utf-8''Fax%20f%C3%BCr%20Anna.apf", "Fax f\xFCr Anna.apf", ""},
        {"Content-Disposition: attachment; filename*0*=iso-8859-1''f%FC; filename*1*=r.apf", "f\xFCr.apf", ""},
        // Beyond single-byte text, and a charset nobody knows.
        {"Content-Disposition: attachment; filename*=utf-8''%D0%A4%D0%B0%D0%BA%D1%81.apf", "____.apf", ""},
        {"Content-Disposition: attachment; filename*=x-unknown''%FC.apf", "\xFC.apf", ""},
        {"Content-Type: application/octet-stream; name=\"Only Type.apf\"", "", "Only Type.apf"},
        {"Content-Type: application/octet-stream; name*=utf-8''T%C3%BCr.apf", "", "T\xFCr.apf"},
        {"X-Attachment: filename=\"elsewhere.apf\"", "elsewhere.apf", ""},
    };
    for (const Case& c : cases) {
        QString fileName, typeName;
        EXPECT_TRUE(PartHeaderFileName(c.line, fileName, typeName)) << c.line;
        EXPECT_EQ(fileName, QString::fromLatin1(c.fileName)) << c.line;
        EXPECT_EQ(typeName, QString::fromLatin1(c.typeName)) << c.line;
    }
    QString fileName, typeName;
    EXPECT_FALSE(PartHeaderFileName("Content-Type: text/plain; charset=utf-8", fileName, typeName));
    EXPECT_FALSE(PartHeaderFileName(nullptr, fileName, typeName));
}

TEST(ExtractionRules, LongNamesAreShortenedToFitKeyAndFileSystem)
{
    const QString longStem(300, QLatin1Char('a'));
    const QString fitted = FitFaxFileName(longStem, QStringLiteral(" (2)"), QStringLiteral(".apf"));
    EXPECT_EQ(fitted.size(), 249); // "faxes\\" + name is a whole catalogue key
    EXPECT_TRUE(fitted.endsWith(QStringLiteral("a (2).apf")));
    // Latin-1 letters take two bytes on disk.
    const QString wide = FitFaxFileName(QString(300, QChar(0xFC)), QString(), QStringLiteral(".apf"));
    EXPECT_LE(wide.toUtf8().size(), 255);
    EXPECT_GE(wide.toUtf8().size(), 254);
    EXPECT_TRUE(wide.endsWith(QStringLiteral(".apf")));
    // An extension that leaves no room is dropped; short names stay as they are.
    EXPECT_EQ(FitFaxFileName(QStringLiteral("fax"), QString(), QLatin1Char('.') + longStem), QStringLiteral("fax"));
    EXPECT_EQ(FitFaxFileName(QStringLiteral("fax"), QStringLiteral(" (3)"), QStringLiteral(".apf")),
              QStringLiteral("fax (3).apf"));
}

TEST(ExtractionRules, AttachmentNamesStayInsideTheFaxFolder)
{
    EXPECT_EQ(SafeAttachmentName("fax0001.apf"), QStringLiteral("fax0001.apf"));
    EXPECT_EQ(SafeAttachmentName("../../x.apf"), QStringLiteral("x.apf"));
    EXPECT_EQ(SafeAttachmentName("/etc/x.apf"), QStringLiteral("x.apf"));
    EXPECT_EQ(SafeAttachmentName("a\\..\\b.apf"), QStringLiteral("b.apf"));
    EXPECT_EQ(SafeAttachmentName(".."), QStringLiteral("_."));
    EXPECT_EQ(SafeAttachmentName("dir/"), QStringLiteral("fax.apf"));
    EXPECT_EQ(SafeAttachmentName(".hidden"), QStringLiteral("_hidden"));
    EXPECT_EQ(SafeAttachmentName(std::string("a\nb\0c", 5)), QStringLiteral("a_b_c"));
}

TEST(ExtractionRules, EMailDateUsesTheTwelveHourClock)
{
    EXPECT_EQ(FormatEMailDate(QDateTime(QDate(2026, 3, 7), QTime(14, 5))), QStringLiteral("03/07/2026 02:05 PM"));
    EXPECT_EQ(FormatEMailDate(QDateTime(QDate(2026, 12, 31), QTime(0, 0))), QStringLiteral("12/31/2026 12:00 AM"));
    EXPECT_EQ(FormatEMailDate(QDateTime(QDate(2026, 1, 1), QTime(12, 30))), QStringLiteral("01/01/2026 12:30 PM"));
}

TEST(ExtractionRules, FaxDataIsFoundByCapturePathInAnyCase)
{
    TempRegistry registry;
    SetMessageHandler([](TMessageKind, const QString&, const QString&) { return TMessageAnswer::Ok; });
    TCoreRun w;
    w.State.FaxDataList = {QStringLiteral("temp\\Msg A.txt"), QStringLiteral("sender a"), QStringLiteral("date a"),
                     QStringLiteral("temp\\Msg b.txt"), QStringLiteral("sender b"), QStringLiteral("date b"),
                     QStringLiteral("temp\\Msg c.txt"), QStringLiteral("incomplete group")};
    EXPECT_EQ(w.Extraction.LookupSender(QStringLiteral("TEMP\\MSG B.TXT")), QStringLiteral("sender b"));
    EXPECT_EQ(w.Extraction.LookupFaxDate(QStringLiteral("temp\\msg a.txt")), QStringLiteral("date a"));
    EXPECT_EQ(w.Extraction.LookupSender(QStringLiteral("temp\\Msg c.txt")), QString());
    EXPECT_EQ(w.Extraction.LookupFaxDate(QStringLiteral("temp\\Msg z.txt")), QString());
    SetMessageHandler({});
}

} // namespace
