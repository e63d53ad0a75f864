// What the IMAP download asks the server for: the fax-mail rules as UID
// SEARCH criteria (OR takes exactly two keys, so three rules nest), and UID
// sets in the compact form servers take.
#include "app/core/imap_download.h"

#include <gtest/gtest.h>

namespace {

TEST(ImapSearch, RulesBecomeCriteriaAndUidsBecomeSets)
{
    const TFaxMailRule marker = MarkerRule();
    struct Case {
        TFaxMailRules rules;
        std::string criteria;
    };
    const Case cases[] = {
        {{marker}, "SUBJECT \"{Varnel}\""},
        {{marker, MakeFaxMailRule(QStringLiteral("@gateway.example"), QString())},
         "OR SUBJECT \"{Varnel}\" FROM \"gateway.example\""},
        {{marker, MakeFaxMailRule(QStringLiteral("fax@a.example"), QStringLiteral("New \"fax\"")),
          MakeFaxMailRule(QString(), QStringLiteral("Facsimile"))},
         "OR SUBJECT \"{Varnel}\" OR (FROM \"fax@a.example\" SUBJECT \"New \\\"fax\\\"\") SUBJECT \"Facsimile\""},
        // Non-ASCII text cannot go into a plain search string: every mail is looked at.
        {{marker, MakeFaxMailRule(QString(), QStringLiteral("Télécopie"))}, "ALL"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ImapSearchCriteria(c.rules), c.criteria);

    EXPECT_EQ(ImapUidSet({7}), "7");
    EXPECT_EQ(ImapUidSet({9, 3, 4, 5, 7, 4}), "3:5,7,9");
    EXPECT_EQ(ImapUidSet({4294967295u, 4294967294u, 1}), "1,4294967294:4294967295");
}

}  // namespace
