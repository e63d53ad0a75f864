#include "mail/sasl_oauth.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cctype>

namespace {

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// Only printable ASCII of a challenge goes into a log line.
std::string Printable(const std::string& text, std::size_t limit)
{
    std::string out;
    for (unsigned char c : text.substr(0, limit))
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    if (text.size() > limit)
        out += "...";
    return out;
}

}  // namespace

TOAuthMechanism ChooseOAuthMechanism(const std::vector<std::string>& mechanisms)
{
    bool xoauth2 = false;
    for (const std::string& name : mechanisms) {
        const std::string upper = Upper(name);
        if (upper == "OAUTHBEARER")
            return TOAuthMechanism::OAuthBearer;
        xoauth2 = xoauth2 || upper == "XOAUTH2";
    }
    return xoauth2 ? TOAuthMechanism::XOAuth2 : TOAuthMechanism::None;
}

const char* OAuthMechanismName(TOAuthMechanism mechanism)
{
    switch (mechanism) {
    case TOAuthMechanism::OAuthBearer: return "OAUTHBEARER";
    case TOAuthMechanism::XOAuth2: return "XOAUTH2";
    case TOAuthMechanism::None: break;
    }
    return "";
}

std::string OAuthInitialResponse(TOAuthMechanism mechanism, const std::string& user, const std::string& host,
                                 const std::string& port, const std::string& token)
{
    if (mechanism == TOAuthMechanism::XOAuth2)
        return "user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01";
    // The GS2 header names the user; "," and "=" in it are escaped (RFC 5801).
    std::string saslName;
    for (char c : user) {
        if (c == ',')
            saslName += "=2C";
        else if (c == '=')
            saslName += "=3D";
        else
            saslName += c;
    }
    std::string response = "n,a=" + saslName + ",\x01";
    if (!host.empty())
        response += "host=" + host + "\x01";
    if (!port.empty() && std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
        response += "port=" + port + "\x01";
    return response + "auth=Bearer " + token + "\x01\x01";
}

std::string OAuthErrorAcknowledgement(TOAuthMechanism mechanism)
{
    return mechanism == TOAuthMechanism::OAuthBearer ? std::string("\x01") : std::string();
}

std::string DescribeOAuthError(const std::string& challenge)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(challenge), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return challenge.empty() ? std::string() : "\"" + Printable(challenge, 200) + "\"";
    const QJsonObject object = document.object();
    std::string text;
    for (const char* field : {"status", "scope", "schemes"}) {
        const QJsonValue value = object.value(QLatin1String(field));
        if (value.isUndefined() || value.isNull())
            continue;
        const QString shown = value.isDouble() ? QString::number(value.toDouble()) : value.toVariant().toString();
        if (!text.empty())
            text += ", ";
        text += std::string(field) + " \"" + Printable(shown.toStdString(), 100) + "\"";
    }
    return text.empty() ? "\"" + Printable(challenge, 200) + "\"" : text;
}
