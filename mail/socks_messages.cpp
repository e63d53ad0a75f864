#include "mail/socks_messages.h"

#include <arpa/inet.h>

namespace socks {

std::string MethodSelection(std::uint8_t method)
{
    return std::string{static_cast<char>(kVersion), 1, static_cast<char>(method)};
}

std::string AuthenticationRequest(const std::string& usercode, const std::string& password)
{
    if (usercode.size() + password.size() > kMaxCredentials)
        return {};
    std::string request(1, static_cast<char>(kAuthVersion));
    request += static_cast<char>(usercode.size());
    request += usercode;
    request += static_cast<char>(password.size());
    request += password;
    return request;
}

std::string ConnectRequest(const std::string& host, std::uint16_t port)
{
    if (host.empty() || host.size() > kMaxHostName)
        return {};
    std::string request{static_cast<char>(kVersion), 1, 0, 3, static_cast<char>(host.size())};
    request += host;
    request += static_cast<char>(port >> 8);
    request += static_cast<char>(port & 0xFF);
    return request;
}

int ReplyError(std::uint8_t code, std::string& text)
{
    static const char* const kTexts[] = {
        "general SOCKS server failure", "connection not allowed by ruleset", "network unreachable",
        "host unreachable",             "connection refused",                "time to live expired",
        "command not supported",        "address type not supported",
    };
    if (code >= 1 && code <= 8) {
        text = kTexts[code - 1];
        return kFirstReplyError + code - 1;
    }
    text = "unassigned error #" + std::to_string(code);
    return kUnassignedReply;
}

ConnectReply ParseConnectReply(const unsigned char* bytes, std::size_t count)
{
    ConnectReply reply;
    auto fail = [&reply](int error, std::string text) {
        reply.status = ConnectReply::Failed;
        reply.error = error;
        reply.errorText = std::move(text);
        return reply;
    };
    if (count >= 1 && bytes[0] != kVersion)
        return fail(kVersionError, "socks version error");
    if (count < 2)
        return reply;
    if (bytes[1] != 0) {
        std::string text;
        const int error = ReplyError(bytes[1], text);
        return fail(error, text);
    }
    if (count <= 4)
        return reply;
    const std::uint8_t type = bytes[3];
    std::size_t need = 5;
    if (type == 1)
        need = 10;
    else if (type == 3)
        need = 7 + bytes[4];
    else if (type == 4)
        need = 22;
    if (count < need)
        return reply;
    std::size_t portAt = 0;
    if (type == 1) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, bytes + 4, text, sizeof text);
        reply.boundAddr = text;
        portAt = 8;
    } else if (type == 3) {
        reply.boundAddr.assign(reinterpret_cast<const char*>(bytes + 5), bytes[4]);
        portAt = 5 + bytes[4];
    } else if (type == 4) {
        char text[INET6_ADDRSTRLEN] = {};
        inet_ntop(AF_INET6, bytes + 4, text, sizeof text);
        reply.boundAddr = text;
        portAt = 20;
    } else {
        return fail(kAddressTypeNotSupported, "address type not supported");
    }
    reply.boundPort = std::to_string((bytes[portAt] << 8) | bytes[portAt + 1]);
    reply.length = need;
    reply.status = ConnectReply::Complete;
    return reply;
}

}  // namespace socks
