#include "tests/mail/pop3_session.h"

#include "tests/support/event_wait.h"

Pop3Session::Pop3Session(const std::string& port, const std::string& host)
{
    client.SetHost(host);
    client.SetPort(port);
    client.OnRequestDone = [this](QObject*, TPop3Request rq, std::uint16_t error) { done.push_back({rq, error}); };
    client.OnDisplay = [this](QObject*, const std::string& text) { display.push_back(text); };
    auto keepLine = [this](QObject*) { lines.push_back(client.LastResponse()); };
    client.OnMessageLine = keepLine;
    client.OnListLine = keepLine;
    client.OnUidlLine = keepLine;
    client.OnSessionClosed = [this](QObject*, std::uint16_t) { ++sessionClosed; };
}

int Pop3Session::Run(const std::function<void()>& start, int limitMs)
{
    const std::size_t before = done.size();
    lines.clear();
    start();
    if (!RunEventsUntil([&] { return done.size() > before; }, limitMs))
        return -1;
    return done.back().error;
}
