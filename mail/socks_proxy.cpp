#include "mail/socks_proxy.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool PercentDecode(const std::string& text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

const char* Variable(const char* lower, const char* upper, std::string& name)
{
    // The lower-case name first, as curl does.
    for (const char* candidate : {lower, upper}) {
        const char* value = std::getenv(candidate);
        if (value && *value) {
            name = candidate;
            return value;
        }
    }
    return nullptr;
}

}  // namespace

bool ParseSocksProxyUrl(const std::string& url, TSocksProxy& proxy, std::string& problem)
{
    proxy = TSocksProxy{};
    const std::size_t schemeEnd = url.find("://");
    const std::string scheme = schemeEnd == std::string::npos ? std::string() : Lower(url.substr(0, schemeEnd));
    if (scheme != "socks5" && scheme != "socks5h") {
        problem = "not a SOCKS 5 proxy (socks5:// or socks5h://)";
        return false;
    }
    std::string rest = url.substr(schemeEnd + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = rest.substr(0, at);
        const std::size_t colon = userInfo.find(':');
        if (!PercentDecode(userInfo.substr(0, colon), proxy.Usercode) ||
            (colon != std::string::npos && !PercentDecode(userInfo.substr(colon + 1), proxy.Password))) {
            problem = "a bad percent escape in the user name or password";
            return false;
        }
        rest = rest.substr(at + 1);
    }
    std::string host = rest, port;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            problem = "an unclosed [ in the host";
            return false;
        }
        host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') {
                problem = "text after the host";
                return false;
            }
            port = rest.substr(close + 2);
        }
    } else if (const std::size_t colon = rest.find(':'); colon != std::string::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    if (host.empty()) {
        problem = "no host";
        return false;
    }
    if (!port.empty()) {
        const bool digits = std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); });
        if (!digits || port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535) {
            // Not quoted: in "user:password" without "@host" the password takes the port's place.
            problem = "a port that is not a number from 1 to 65535";
            return false;
        }
        proxy.Port = port;
    }
    proxy.Server = host;
    return true;
}

bool NoProxyCovers(const std::string& list, const std::string& host)
{
    const std::string name = Lower(host);
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find_first_of(", \t", start), list.size());
        std::string entry = Lower(list.substr(start, end - start));
        start = end + 1;
        if (entry.empty())
            continue;
        if (entry == "*")
            return true;
        if (entry[0] == '.')
            entry.erase(0, 1);
        if (name == entry ||
            (name.size() > entry.size() && name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
             name[name.size() - entry.size() - 1] == '.'))
            return true;
    }
    return false;
}

TProxySetting ProxyFromEnvironment(const std::string& targetHost)
{
    TProxySetting setting;
    const char* url = Variable("all_proxy", "ALL_PROXY", setting.variable);
    if (!url)
        return setting;
    std::string noProxyName;
    if (const char* noProxy = Variable("no_proxy", "NO_PROXY", noProxyName); noProxy && NoProxyCovers(noProxy, targetHost))
        return TProxySetting{};
    const std::string text = url;
    if (ParseSocksProxyUrl(text, setting.proxy, setting.problem)) {
        setting.kind = TProxySetting::Socks;
        return setting;
    }
    const std::size_t schemeEnd = text.find("://");
    const std::string scheme = Lower(text.substr(0, schemeEnd == std::string::npos ? 0 : schemeEnd));
    setting.kind = scheme.rfind("socks5", 0) == 0 ? TProxySetting::Invalid : TProxySetting::NotSocks;
    return setting;
}
