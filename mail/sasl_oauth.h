#pragma once
// SASL sign-in with an OAuth 2 bearer token: the initial client responses of
// OAUTHBEARER (RFC 7628) and XOAUTH2, the choice between them from what the
// server lists, and the server's JSON error challenge in words.
#include <string>
#include <vector>

enum class TOAuthMechanism { None, OAuthBearer, XOAuth2 };

// The mechanism to use from the server's SASL mechanism names (any case):
// OAUTHBEARER when listed, else XOAUTH2, else None.
TOAuthMechanism ChooseOAuthMechanism(const std::vector<std::string>& mechanisms);
const char* OAuthMechanismName(TOAuthMechanism mechanism);

// The initial client response, not yet base64-encoded.
std::string OAuthInitialResponse(TOAuthMechanism mechanism, const std::string& user, const std::string& host,
                                 const std::string& port, const std::string& token);

// What the client answers to the server's error challenge, not yet encoded:
// a single 0x01 for OAUTHBEARER, nothing for XOAUTH2.
std::string OAuthErrorAcknowledgement(TOAuthMechanism mechanism);

// The decoded error challenge (a JSON object with status, scope and maybe
// schemes) as a short text such as `status "invalid_token", scope "mail"`;
// what is not JSON is quoted as it came, cut to a sensible length.
std::string DescribeOAuthError(const std::string& challenge);
