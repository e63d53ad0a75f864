// Fax-mail rules: which mails they take, how they are stored, and the
// sender ID and fax date a taken mail's header gives.
#include "app/core/fax_mail_rules.h"

#include <gtest/gtest.h>

namespace {

TMailHeader HeaderOf(const std::string& lines)
{
    TMailHeaderReader reader;
    size_t start = 0;
    while (start < lines.size()) {
        const size_t end = lines.find('\n', start);
        reader.AddLine(lines.substr(start, end - start));
        start = end == std::string::npos ? lines.size() : end + 1;
    }
    return reader.Fields();
}

TEST(FaxMailRules, SenderAndDateComeFromTheBestSourceInTheHeader)
{
    const QTimeZone berlin("Europe/Berlin");
    const QTimeZone newYork("America/New_York");
    ASSERT_TRUE(berlin.isValid() && newYork.isValid());
    const struct {
        std::string header;
        QTimeZone zone;
        QString sender, faxDate;
    } cases[] = {
        // A number in the subject wins over the From field.
        {"From: Fax Server <fax@office.example>\nSubject: Facsimile received from +1 555 0100\n"
         "Date: Tue, 08 Dec 2026 09:15:00 +0000",
         berlin, QStringLiteral("+1 555 0100"), QStringLiteral("12/08/2026 10:15 AM")},
        // Folded subject with an area code in brackets; the Date in another
        // zone is shown in the local one, across midnight.
        {"From: pbx@office.example\nSubject: New fax\n from (030) 123-4567 (2 pages)\n"
         "Date: Wed, 09 Dec 2026 23:30:00 -0800",
         newYork, QStringLiteral("(030) 123-4567"), QStringLiteral("12/10/2026 02:30 AM")},
        // No number (only a page count and a year): the display name,
        // quoted or encoded; a named zone and a comment in the Date.
        {"From: \"Hosted Fax, Inc.\" <noreply@hosted.example>\nSubject: 3 pages received 2026\n"
         "Date: Thu, 10 Dec 2026 12:00:00 GMT (UTC)",
         newYork, QStringLiteral("Hosted Fax, Inc."), QStringLiteral("12/10/2026 07:00 AM")},
        {"From: =?UTF-8?B?QsO8cm8=?= =?UTF-8?Q?_M=C3=BCller?= <fax@buero.example>\nSubject: Ihr Fax\n"
         "Date: 10 Dec 2026 12:00:00 EST",
         berlin, QStringLiteral("B\u00fcro M\u00fcller"), QStringLiteral("12/10/2026 06:00 PM")},
        // No display name: the address; a comment after it is one.
        {"From: <Delivery@Hosted.example>\nSubject: Document\nDate: garbage", berlin,
         QStringLiteral("delivery@hosted.example"), QString()},
        {"From: fax@office.example (Front Desk)\nSubject: Fax ID12345678\n", berlin, QStringLiteral("Front Desk"),
         QString()},
    };
    for (const auto& c : cases) {
        const TMailHeader header = HeaderOf(c.header);
        EXPECT_EQ(SenderIdFromHeader(header), c.sender) << c.header;
        EXPECT_EQ(FaxDateFromHeader(header.Date, c.zone), c.faxDate) << c.header;
    }
}

TEST(FaxMailRules, RulesMatchSenderAndSubjectAndSurviveTheirStoredForm)
{
    const TFaxMailRules rules = FaxMailRulesFromText(
        QStringLiteral("hosted.example;|fax@office.example;Facsimile|;New%20fax%7Cnow%3B|;|bad@;x|broken"));
    ASSERT_EQ(rules.size(), 4); // the marker rule first; an empty rule and an address without domain are dropped
    EXPECT_EQ(rules[0], MarkerRule());
    EXPECT_EQ(rules[3].Subject, QStringLiteral("New fax|now;"));
    EXPECT_EQ(FaxMailRulesFromText(FaxMailRulesToText(rules)), rules);

    const struct {
        std::string header;
        int rule;
    } cases[] = {
        {"From: Hosted <noreply@mail.HOSTED.example>\nSubject: anything", 1}, // a subdomain of the domain
        {"From: noreply@nothosted.example\nSubject: anything", -1},           // not a subdomain
        {"From: FAX@office.example\nSubject: FACSIMILE received", 2},         // any case
        {"From: other@office.example\nSubject: Facsimile received", -1},      // both parts must match
        {"From: a@b.example\nSubject: new FAX|NOW; from 123", 3},
        {"From: a@b.example\nSubject: Fax received {Varnel}", -1}, // the marker is matched on the lines
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchingFaxMailRule(rules, HeaderOf(c.header)), c.rule) << c.header;
}

} // namespace
