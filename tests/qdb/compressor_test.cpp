// The block compressor: the stored format's examples byte for byte, and
// round trips of random data.
#include "qdb/compressor.h"

#include <gtest/gtest.h>

#include <random>

using namespace qdb;

namespace {
std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(char(v));
    return s;
}
} // namespace

TEST(QdbCompressor, PinnedExamples)
{
    EXPECT_EQ(CompressPiece(std::string(20, 'x')), Bytes({0x40, 0x80, 0x00, 0x00, 0x00, 0x04, 'x'}));
    EXPECT_EQ(CompressPiece("abc"), Bytes({0x80, 'a', 'b', 'c'}));

    std::string expected = Bytes({0x40, 0xFF, 0x40});
    for (int i = 0; i < 8; ++i)
        expected += Bytes({0x00, 0x0F, 0xEF, 'q'});
    expected += Bytes({'q', 0x00, 0x14});
    EXPECT_EQ(CompressPiece(std::string(32768, 'q')), expected);
    EXPECT_EQ(expected.size(), 38u);

    std::mt19937 rng(3);
    std::string noise(32768, '\0');
    for (auto& c : noise)
        c = char(rng());
    const std::string stored = CompressPiece(noise);
    ASSERT_EQ(stored.size(), 32769u);
    EXPECT_EQ(uint8_t(stored[0]), 0x80);
    EXPECT_EQ(stored.substr(1), noise);
}

TEST(QdbCompressor, RoundTrips)
{
    std::mt19937 rng(5);
    EXPECT_EQ(CompressItem(""), "");
    for (int round = 0; round < 60; ++round) {
        const size_t size = round == 0 ? 1 : rng() % 100000;
        std::string item(size, '\0');
        const unsigned alphabet = 1 + rng() % 8;
        for (size_t i = 0; i < size; ++i)
            item[i] = (rng() % 4 == 0) ? item[i / 2] : char('a' + rng() % alphabet);
        const std::string stream = CompressItem(item);
        std::string back;
        ASSERT_TRUE(DecompressItem(stream, back));
        ASSERT_EQ(back, item);
    }
}

TEST(QdbCompressor, MalformedStreamsFail)
{
    std::string out;
    // Copy code reaching before the start of the output.
    EXPECT_FALSE(DecompressBody(Bytes({0x40, 0x80, 0x00, 0x10, 0x00}), out));
    // A run code cut short.
    EXPECT_FALSE(DecompressBody(Bytes({0x40, 0x80, 0x00, 0x00}), out));
    // More than one piece of output from one body.
    std::string big = Bytes({0x40, 0xFF, 0xFF});
    for (int i = 0; i < 16; ++i)
        big += Bytes({0x00, 0x0F, 0xFF, 'z'});
    EXPECT_FALSE(DecompressBody(big, out));
    // A block length past the end of the stream.
    EXPECT_FALSE(DecompressItem(Bytes({0x05, 0x00, 0x80, 'a'}), out));
    // Bodies shorter than two bytes decode to nothing.
    out.clear();
    EXPECT_TRUE(DecompressItem(Bytes({0x01, 0x00, 0x40}), out));
    EXPECT_TRUE(out.empty());
}
