// Line mode against an independent loopback peer that controls how the
// bytes are split across reads.
#include "mail/sync_net_socket.h"
#include "tests/support/event_wait.h"
#include "tests/support/scripted_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Sends the chunks one by one; after each waits for the client's "+" so
// that each chunk arrives in a read of its own.
ScriptedServer::Script SendInReads(std::vector<std::string> chunks, bool closeAtEnd = true)
{
    return [chunks, closeAtEnd](ScriptedPeer& p) {
        for (const std::string& chunk : chunks) {
            p.Send(chunk);
            p.ReadBytes(1);
        }
        if (closeAtEnd)
            p.Close();
        else
            p.WaitForClose();
    };
}

struct LineClient {
    TNetSocket s;
    std::vector<std::string> deliveries;
    std::vector<std::string> events;
    bool closed = false;

    explicit LineClient(const ScriptedServer& server)
    {
        s.SetAddr("127.0.0.1");
        s.SetPort(server.PortText());
        s.SetLineMode(true);
        s.OnSessionClosed = [this](QObject*, std::uint16_t) {
            events.push_back("closed");
            closed = true;
        };
    }
};

TEST(SocketLine, ThreeReadsMakeTwoLines)
{
    ScriptedServer server(SendInReads({"AB", "C\r", "\nD\r\n"}));
    LineClient c(server);
    int readsSeen = 0;
    c.s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        char buffer[100];
        const int n = c.s.Receive(buffer, sizeof buffer);
        c.deliveries.emplace_back(buffer, static_cast<size_t>(std::max(n, 0)));
    };
    c.s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return c.s.State() == wsConnected; }));
    // Each read of the peer's chunks is acknowledged so that the next chunk
    // comes in a read of its own.
    for (int i = 0; i < 3; ++i) {
        const int before = c.s.HeldCount() + static_cast<int>(c.deliveries.size()) * 1000;
        ASSERT_TRUE(RunEventsUntil([&] {
            return c.s.HeldCount() + static_cast<int>(c.deliveries.size()) * 1000 != before;
        }));
        ++readsSeen;
        c.s.SendStr("+");
    }
    ASSERT_TRUE(RunEventsUntil([&] { return c.closed; }));
    EXPECT_EQ(readsSeen, 3);
    EXPECT_EQ(c.deliveries, (std::vector<std::string>{"ABC\r\n", "D\r\n"}));
}

TEST(SocketLine, TwoByteReceivesReadTheLineInOrder)
{
    ScriptedServer server(SendInReads({"abcde\r\nxy\r\n"}));
    LineClient c(server);
    std::string got;
    c.s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        char two[2];
        const int n = c.s.Receive(two, 2);
        if (n > 0)
            got += "[" + std::string(two, static_cast<size_t>(n)) + "]";
    };
    c.s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return got.find("[xy][\r\n]") != std::string::npos; }));
    c.s.SendStr("+");
    ASSERT_TRUE(RunEventsUntil([&] { return c.closed; }));
    EXPECT_EQ(got, "[ab][cd][e\r][\n][xy][\r\n]");
}

TEST(SocketLine, HeldBytesWithoutTerminatorAreTheLastLineBeforeTheClose)
{
    ScriptedServer server(SendInReads({"one\r\nxyz"}));
    LineClient c(server);
    c.s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        const std::string line = c.s.ReceiveStr();
        if (!line.empty())
            c.events.push_back(line);
    };
    c.s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return c.events.size() == 1; }));
    c.s.SendStr("+");
    ASSERT_TRUE(RunEventsUntil([&] { return c.closed; }));
    EXPECT_EQ(c.events, (std::vector<std::string>{"one\r\n", "xyz", "closed"}));
}

TEST(SocketLine, SwitchingLineModeOffReoffersHeldBytesInOrder)
{
    ScriptedServer server(SendInReads({"HEAD\r\nbody-1\r\nbody-2 no end"}, false));
    LineClient c(server);
    std::string raw;
    bool inSetter = false;
    bool offeredInsideSetter = false;
    c.s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        offeredInsideSetter |= inSetter;
        if (c.s.LineMode()) {
            c.deliveries.push_back(c.s.ReceiveStr());
            inSetter = true;
            c.s.SetLineMode(false);
            inSetter = false;
        } else {
            char buffer[5];
            const int n = c.s.Receive(buffer, sizeof buffer);
            if (n > 0)
                raw.append(buffer, static_cast<size_t>(n));
        }
    };
    c.s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return raw.find("no end") != std::string::npos; }));
    EXPECT_FALSE(offeredInsideSetter);
    EXPECT_EQ(c.deliveries, (std::vector<std::string>{"HEAD\r\n"}));
    EXPECT_EQ(raw, "body-1\r\nbody-2 no end");
    EXPECT_EQ(c.s.HeldCount(), 0);
    c.s.Close();
}

// A handler that reads nothing ends the delivery; the line waits, nothing
// spins, and it is offered again once more data arrives.
TEST(SocketLine, HandlerThatReadsNothingDoesNotSpin)
{
    ScriptedServer server(SendInReads({"first\r\n", "second\r\n"}));
    LineClient c(server);
    int calls = 0;
    bool read = false;
    c.s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        ++calls;
        if (read)
            c.deliveries.push_back(c.s.ReceiveStr());
    };
    c.s.Connect();
    ASSERT_TRUE(RunEventsUntil([&] { return calls > 0; }));
    RunEventsFor(200);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(c.s.HeldCount(), 7);
    read = true;
    c.s.SendStr("+");
    ASSERT_TRUE(RunEventsUntil([&] { return c.deliveries.size() == 2; }));
    EXPECT_EQ(c.deliveries, (std::vector<std::string>{"first\r\n", "second\r\n"}));
    c.s.SendStr("+");
    ASSERT_TRUE(RunEventsUntil([&] { return c.closed; }));
}

TEST(SocketLine, WaitForFlagPumpsEventsUntilAHandlerSetsIt)
{
    ScriptedServer server(SendInReads({"ready\r\n"}));
    LineClient c(server);
    volatile char flag = 0;
    std::string line;
    c.s.OnDataAvailable = [&](QObject*, std::uint16_t) {
        line = c.s.ReceiveStr();
        flag = 1;
    };
    const int rc = c.s.RunAndWait(flag, [&](void*) { c.s.Connect(); }, nullptr);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(line, "ready\r\n");
    c.s.SetSyncTimeout(50);
    volatile char never = 0;
    EXPECT_EQ(c.s.WaitForFlag(never), TCustomSyncNetSocket::WaitTimedOut);
    c.s.SendStr("+");
    ASSERT_TRUE(RunEventsUntil([&] { return c.closed; }));
}

}  // namespace
