// The rules that turn a captured mail's part headers and fax data into file
// names and catalogue fields.
#include "app/extraction.h"
#include "app/main_window.h"
#include "app/message_box.h"
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
    TForm1 w;
    w.FaxDataList = {QStringLiteral("temp\\Msg A.txt"), QStringLiteral("sender a"), QStringLiteral("date a"),
                     QStringLiteral("temp\\Msg b.txt"), QStringLiteral("sender b"), QStringLiteral("date b"),
                     QStringLiteral("temp\\Msg c.txt"), QStringLiteral("incomplete group")};
    EXPECT_EQ(w.Extraction->LookupSender(QStringLiteral("TEMP\\MSG B.TXT")), QStringLiteral("sender b"));
    EXPECT_EQ(w.Extraction->LookupFaxDate(QStringLiteral("temp\\msg a.txt")), QStringLiteral("date a"));
    EXPECT_EQ(w.Extraction->LookupSender(QStringLiteral("temp\\Msg c.txt")), QString());
    EXPECT_EQ(w.Extraction->LookupFaxDate(QStringLiteral("temp\\Msg z.txt")), QString());
    SetMessageHandler({});
}

} // namespace
