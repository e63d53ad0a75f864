// Cutting received bytes into POP3 reply lines: the lines that come out, and
// the work done for them, which must stay linear in the bytes received even
// when one line is far longer than the receive block.
#include "mail/buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Feeds the stream in receives of at most `chunk` bytes, as a socket would
// deliver it, and collects the lines.
std::vector<std::string> Feed(TLineBuffer& buffer, const std::string& stream, std::size_t chunk)
{
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t done = 0; done < stream.size();) {
        const std::span<char> space = buffer.Space();
        if (space.empty())
            break;
        const std::size_t n = std::min({space.size(), chunk, stream.size() - done});
        std::memcpy(space.data(), stream.data() + done, n);
        buffer.Commit(n);
        done += n;
        while (buffer.TakeLine(line))
            lines.push_back(line);
    }
    return lines;
}

TEST(Pop3ReplyLines, LinesComeOutWholeWhereverTheReceivesAreCut)
{
    const std::string nul("a\0b", 3);
    const std::string stream = "+OK\r\n\r\nbare\nLF and CR\r inside\r\n" + nul + "\r\n" + std::string(10000, 'x') +
                               "\r\n.\r\nrest without end";
    const std::vector<std::string> expected = {"+OK", "", "bare\nLF and CR\r inside", nul, std::string(10000, 'x'),
                                               "."};
    for (std::size_t chunk : {1u, 2u, 3u, 7u, 4096u, 100000u}) {
        TLineBuffer buffer(16, 1 << 20);
        EXPECT_EQ(Feed(buffer, stream, chunk), expected) << "receives of " << chunk;
        EXPECT_EQ(buffer.Held(), std::string("rest without end").size());
    }
}

TEST(Pop3ReplyLines, WorkStaysLinearWithAVeryLongLine)
{
    // A 2.6 MB message whose body holds one 600 KB line among short ones.
    std::string stream = "+OK message follows\r\n";
    std::string shortLine(74, 's');
    while (stream.size() < 1000 * 1000)
        stream += shortLine + "\r\n";
    stream += std::string(600 * 1024, 'L') + "\r\n";
    while (stream.size() < 2600 * 1000)
        stream += shortLine + "\r\n";
    stream += ".\r\n";
    TLineBuffer buffer(4096, 1 << 20);
    const std::vector<std::string> lines = Feed(buffer, stream, 64 * 1024);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), ".");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.size() == 600 * 1024; }),
              1);
    // Every byte is searched once and moved at most once.
    EXPECT_LE(buffer.Work(), 2 * stream.size());
}

TEST(Pop3ReplyLines, ALineLongerThanTheLimitIsReportedInsteadOfGrowingForEver)
{
    TLineBuffer buffer(16, 100);
    const std::vector<std::string> lines = Feed(buffer, "ok\r\n" + std::string(1000, 'x'), 7);
    EXPECT_EQ(lines, std::vector<std::string>{"ok"});
    EXPECT_TRUE(buffer.Overlong());
    EXPECT_TRUE(buffer.Space().empty());
    EXPECT_LE(buffer.Held(), 102u);
    buffer.Clear();
    EXPECT_FALSE(buffer.Overlong());
    EXPECT_EQ(Feed(buffer, "again\r\n", 7), std::vector<std::string>{"again"});
}

}  // namespace
