#pragma once
// A SOCKS 5 proxy as Linux network tools name one: ALL_PROXY / all_proxy
// holding socks5://[user:password@]host[:port] or socks5h://..., with
// NO_PROXY / no_proxy listing the hosts reached directly.
#include <string>

struct TSocksProxy {
    std::string Server, Port = "1080", Usercode, Password;
    bool Used() const { return !Server.empty(); }
};

// Parses a proxy URL; user and password are percent-decoded. False, with
// the reason in problem, when the text is not a usable SOCKS 5 URL.
bool ParseSocksProxyUrl(const std::string& url, TSocksProxy& proxy, std::string& problem);

// What the environment says about reaching targetHost.
struct TProxySetting {
    enum Kind { Direct, Socks, NotSocks, Invalid } kind = Direct;
    std::string variable;  // the variable that named the proxy
    TSocksProxy proxy;     // Socks
    std::string problem;   // NotSocks, Invalid
};
TProxySetting ProxyFromEnvironment(const std::string& targetHost);

// Whether a NO_PROXY list (comma or blank separated names, "*" for all,
// ".example.org" or "example.org" for the domain and its hosts) covers host.
bool NoProxyCovers(const std::string& list, const std::string& host);
