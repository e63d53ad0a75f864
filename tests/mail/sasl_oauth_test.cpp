// The OAuth 2 SASL pieces: which mechanism a server's list leads to, the
// exact initial responses of OAUTHBEARER (RFC 7628) and XOAUTH2, and the
// server's error challenge turned into a log-safe text.
#include "mail/sasl_oauth.h"

#include <gtest/gtest.h>

namespace {

TEST(SaslOAuthTest, MechanismsResponsesAndErrors)
{
    EXPECT_EQ(ChooseOAuthMechanism({"PLAIN", "xoauth2", "OAuthBearer"}), TOAuthMechanism::OAuthBearer);
    EXPECT_EQ(ChooseOAuthMechanism({"PLAIN", "XOAUTH2"}), TOAuthMechanism::XOAuth2);
    EXPECT_EQ(ChooseOAuthMechanism({"PLAIN", "LOGIN"}), TOAuthMechanism::None);
    EXPECT_EQ(ChooseOAuthMechanism({}), TOAuthMechanism::None);

    EXPECT_EQ(OAuthInitialResponse(TOAuthMechanism::OAuthBearer, "fax,desk=1", "mail.example", "995", "tok"),
              "n,a=fax=2Cdesk=3D1,\x01host=mail.example\x01port=995\x01"
              "auth=Bearer tok\x01\x01");
    // A service name instead of a port number is left out.
    EXPECT_EQ(OAuthInitialResponse(TOAuthMechanism::OAuthBearer, "fax", "h", "pop3", "tok"),
              "n,a=fax,\x01host=h\x01"
              "auth=Bearer tok\x01\x01");
    EXPECT_EQ(OAuthInitialResponse(TOAuthMechanism::XOAuth2, "fax@example.com", "h", "995", "tok"),
              "user=fax@example.com\x01"
              "auth=Bearer tok\x01\x01");
    EXPECT_EQ(OAuthErrorAcknowledgement(TOAuthMechanism::OAuthBearer), "\x01");
    EXPECT_EQ(OAuthErrorAcknowledgement(TOAuthMechanism::XOAuth2), "");

    const std::pair<std::string, std::string> errors[] = {
        {R"({"status":"invalid_token","scope":"https://mail.example/ imap","schemes":"bearer"})",
         R"(status "invalid_token", scope "https://mail.example/ imap", schemes "bearer")"},
        {R"({"status":401,"scope":"mail"})", R"(status "401", scope "mail")"},
        {"not json\x01\x7f", "\"not json??\""},
        {"", ""},
        {"[1,2]", "\"[1,2]\""},
        {std::string(300, 'x'), "\"" + std::string(200, 'x') + "...\""},
    };
    for (const auto& [challenge, text] : errors)
        EXPECT_EQ(DescribeOAuthError(challenge), text) << challenge;
}

}  // namespace
