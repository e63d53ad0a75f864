// The page decoder on synthetic code streams: trees, line widths, the
// end-of-line and invalid-code rules, whitespace compression, aspect
// correction, framing and damaged data.
#include "fax/decode_tree.h"
#include "fax/event_pump.h"
#include "fax/kiv_errors.h"
#include "fax/page_decoder.h"
#include "tests/fax/fax_test_util.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Line = std::vector<uint8_t>;

struct Decoded {
    int rc = 0;
    std::vector<Line> lines;
    int invalidCodes = 0;
};

// Every case runs with the code table and with the bit-by-bit tree walk.
class PageDecoderTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateUnpackState(state, nullptr, [this](UnpackState&, int kind, const uint8_t* data, int len, int) {
            if (kind == kLineData)
                out.lines.emplace_back(data, data + len);
            return 0;
        }), 0);
        ClearUnpackOption(*state, kUnpackYield);
        state->bitByBit = GetParam();
    }

    Decoded Decode(const std::vector<uint8_t>& data, uint16_t flags = kApfFine)
    {
        const std::string path = files.Write("page.apf", ApfBytes({TestPage{data, flags}}));
        return DecodeFile(path, 1);
    }
    Decoded DecodeFile(const std::string& path, int page)
    {
        out = Decoded{};
        out.rc = DecodeApfPage(*state, path, page);
        out.invalidCodes = state->invalidCodes;
        return out;
    }

    std::unique_ptr<UnpackState> state;
    FaxTempFiles files;
    Decoded out;
};

bool AllZero(const Line& line) { return std::all_of(line.begin(), line.end(), [](uint8_t b) { return b == 0; }); }

TEST(DecodeTree, BuiltTreesHave269NodesAndAcceptFill)
{
    for (bool black : {false, true}) {
        DecodeTree tree;
        ASSERT_EQ(BuildDecodeTree(tree, black), 0);
        EXPECT_EQ(tree.used, 269);
        EXPECT_EQ(tree.nodes[kFillNode].first, kFillNode);
        // Every code of the table leads to its leaf.
        for (int i = 0; i < kT4CodeCount; ++i) {
            const T4Code& code = kT4Codes[i];
            if (code.colour == (black ? T4Colour::White : T4Colour::Black))
                continue;
            int node = 0;
            for (const char* bit = code.bits; *bit; ++bit)
                node = *bit == '1' ? tree.nodes[node].second : tree.nodes[node].first;
            if (code.colour == T4Colour::EndOfLine) {
                EXPECT_EQ(tree.nodes[node].first, kEndOfLineLeaf);
            } else {
                EXPECT_EQ(tree.nodes[node].first, kRunLeaf) << code.bits;
                EXPECT_EQ(tree.nodes[node].second, code.run);
            }
        }
    }
}

TEST_P(PageDecoderTest, LineWidthsDecideWhatIsOutput)
{
    CodeWriter w;
    w.Eol();
    w.Line({1727});             // one pixel short: discarded
    for (int width = 1728; width <= 1736; ++width)
        w.Line({width - 1, 1}); // last pixel black
    w.Line({2048});
    w.Line({2000});
    const Decoded d = Decode(w.Bytes());
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.invalidCodes, 0);
    // 1728..1735 pixels give 216 bytes, 1736 pixels fill 217 bytes and are
    // dropped, 2048 pixels are a wide line, 2000 pixels are dropped.
    ASSERT_EQ(d.lines.size(), 9u);
    EXPECT_EQ(d.lines[0].size(), 216u);
    EXPECT_EQ(d.lines[0][215], 0x01);
    EXPECT_EQ(d.lines[7].size(), 216u);
    EXPECT_TRUE(AllZero(d.lines[7])); // its black pixel lay in the partial byte
    EXPECT_EQ(d.lines[8].size(), 256u);
}

TEST_P(PageDecoderTest, RunsSetTheRightPixels)
{
    CodeWriter w;
    w.Eol();
    w.Line({3, 2, 60, 70, 1593});
    const Decoded d = Decode(w.Bytes());
    ASSERT_EQ(d.lines.size(), 1u);
    const Line& l = d.lines[0];
    EXPECT_EQ(l[0], 0x18); // pixels 3 and 4
    // Pixels 65..134 black.
    EXPECT_EQ(l[8], 0x7F);
    for (int i = 9; i < 16; ++i)
        EXPECT_EQ(l[i], 0xFF);
    EXPECT_EQ(l[16], 0xFE);
    EXPECT_EQ(l[17], 0x00);
}

TEST_P(PageDecoderTest, DataBeforeTheFirstEolIsIgnored)
{
    CodeWriter w;
    w.Line({0, 1728}); // a black line before any EOL
    w.Line({0, 1728});
    const Decoded d = Decode(w.Bytes());
    ASSERT_EQ(d.lines.size(), 1u);
    EXPECT_EQ(d.lines[0][0], 0xFF);
}

TEST_P(PageDecoderTest, FillZerosAndThreeEolsEndThePage)
{
    CodeWriter w;
    w.Bits(std::string(40, '0')); // fill before the first EOL
    w.Eol();
    w.Bits("0000000000000000000");
    w.Eol();
    w.Line({0, 1728});        // EOL count 1
    w.Bits("0000000011");     // invalid codes do not reset the count
    w.Eol();                  // 2
    w.Bits("00000000111");
    w.Eol();                  // 3: end of page
    w.Line({0, 1728});
    const Decoded d = Decode(w.Bytes());
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.lines.size(), 1u);
    EXPECT_GE(d.invalidCodes, 2);
}

// The page end and an abort take effect after the byte in which they
// happen: codes completed in the rest of that byte still count, later bytes
// do not, however many bytes the decoder takes at once.
TEST_P(PageDecoderTest, DecodingStopsOnlyBetweenBytes)
{
    for (const bool runInSameByte : {true, false}) {
        CodeWriter w;
        w.Eol();
        w.Line({0, 1728}); // EOL count 1
        w.Eol();           // 2
        // Fill so that the third EOL leaves four bits of its byte, or none.
        const int wanted = runInSameByte ? 4 : 0;
        w.Bits(std::string(static_cast<std::size_t>((wanted - w.BitCount() - 12) & 7), '0'));
        w.Eol();       // 3
        w.Bits("0111"); // white 2: a run resets the EOL count
        w.Eol();
        w.Line({0, 1728});
        const Decoded d = Decode(w.Bytes());
        ASSERT_EQ(d.rc, 0);
        EXPECT_EQ(d.lines.size(), runInSameByte ? 2u : 1u) << runInSameByte;
    }

    CodeWriter w;
    w.Eol();
    for (int i = 0; i < 200; ++i)
        w.Line({0, 1728});
    int seen = 0;
    state->lineCallback = [&](UnpackState& s, int kind, const uint8_t*, int, int) {
        if (kind == kLineData && ++seen == 3)
            SetUnpackOption(s, kUnpackAbort);
        return 0;
    };
    EXPECT_EQ(Decode(w.Bytes()).rc, 0);
    EXPECT_EQ(seen, 3);
}

TEST_P(PageDecoderTest, InvalidCodesSkipToTheNextZeroBit)
{
    CodeWriter w;
    w.Eol();
    w.Run(false, 100);
    w.Bits("0000000011111"); // no such white code: counted, ones skipped
    w.Eol();
    w.Line({1728});
    const Decoded d = Decode(w.Bytes());
    EXPECT_EQ(d.invalidCodes, 1);
    ASSERT_EQ(d.lines.size(), 1u); // the line with the bad code was too short
}

TEST_P(PageDecoderTest, OverlongLinesStayInTheBuffer)
{
    CodeWriter w;
    w.Eol();
    for (int i = 0; i < 40; ++i)
        w.Run(i % 2, 2560 + 7); // far beyond 512 bytes
    w.Eol();
    w.Line({1728});
    const Decoded d = Decode(w.Bytes());
    ASSERT_EQ(d.rc, 0);
    EXPECT_EQ(d.lines.size(), 1u);
}

TEST_P(PageDecoderTest, WhitespaceCompression)
{
    auto page = [](int blanks) {
        CodeWriter w;
        w.Eol();
        w.Line({0, 1728});
        for (int i = 0; i < blanks; ++i)
            w.WhiteLine();
        w.Line({0, 1728});
        for (int i = 0; i < blanks; ++i)
            w.WhiteLine();
        return w.Bytes();
    };
    ASSERT_EQ(SetUnpackWhitespace(*state, 5, 2), 0);
    Decoded d = Decode(page(7));
    ASSERT_EQ(d.lines.size(), 1u + 2 + 1 + 2); // trailing run shortened too
    EXPECT_TRUE(d.lines[1].empty());
    EXPECT_FALSE(d.lines[3].empty());
    d = Decode(page(4));
    EXPECT_EQ(d.lines.size(), 1u + 4 + 1 + 4);
    ASSERT_EQ(SetUnpackWhitespace(*state, 3, 3), 0);
    d = Decode(page(4));
    EXPECT_EQ(d.lines.size(), 1u + 3 + 1); // blank lines at the end dropped
}

TEST_P(PageDecoderTest, WhitespaceArguments)
{
    EXPECT_EQ(SetUnpackWhitespace(*state, 0, 1), kErrBadArgument);
    EXPECT_EQ(SetUnpackWhitespace(*state, 2, 3), kErrBadArgument);
    ASSERT_EQ(SetUnpackWhitespace(*state, 5, 0), 0);
    CodeWriter w;
    w.Eol();
    for (int i = 0; i < 8; ++i)
        w.WhiteLine();
    EXPECT_EQ(Decode(w.Bytes()).lines.size(), 8u); // compression stays off
}

TEST_P(PageDecoderTest, AspectCorrectionOnStandardPagesOnly)
{
    CodeWriter w;
    w.Eol();
    w.Line({1, 1, 1726});
    w.Line({0, 1728});
    EXPECT_EQ(Decode(w.Bytes(), kApfFine).lines.size(), 2u);
    Decoded d = Decode(w.Bytes(), 0);
    ASSERT_EQ(d.lines.size(), 4u);
    EXPECT_EQ(d.lines[0], d.lines[1]);

    SetUnpackOption(*state, kUnpackHalfWidth);
    EXPECT_FALSE(TestUnpackOption(*state, kUnpackDoubleHeight));
    d = Decode(w.Bytes(), 0);
    ASSERT_EQ(d.lines.size(), 2u);
    EXPECT_EQ(d.lines[0].size(), 108u);
    EXPECT_EQ(d.lines[0][0], 0x80); // pixel 1 ORed into output pixel 0
    EXPECT_EQ(d.lines[1][107], 0xFF);
    SetUnpackOption(*state, kUnpackDoubleHeight | kUnpackHalfWidth); // ignored together
    EXPECT_TRUE(TestUnpackOption(*state, kUnpackHalfWidth));
    EXPECT_FALSE(TestUnpackOption(*state, kUnpackDoubleHeight));
}

TEST_P(PageDecoderTest, InversionFlipsLineBytes)
{
    CodeWriter w;
    w.Eol();
    w.Line({8, 8, 1712});
    state->invert = true;
    const Decoded d = Decode(w.Bytes());
    ASSERT_EQ(d.lines.size(), 1u);
    EXPECT_EQ(d.lines[0][0], 0xFF);
    EXPECT_EQ(d.lines[0][1], 0x00);
}

TEST_P(PageDecoderTest, LengthWordFramingInAnyBlockSize)
{
    CodeWriter w;
    w.Eol();
    for (int i = 0; i < 60; ++i)
        w.Line({i, 10, 1718 - i});
    const std::vector<uint8_t> plain = w.Bytes();
    const std::vector<Line> expected = Decode(plain).lines;
    ASSERT_EQ(expected.size(), 60u);
    for (std::size_t block : {1, 3, 100, 5000}) {
        const Decoded d = Decode(Framed(plain, block), kApfFine | kApfLengthWords);
        EXPECT_EQ(d.rc, 0) << block;
        EXPECT_EQ(d.lines, expected) << block; // blocks over 4096 bytes stay in step
    }
}

TEST_P(PageDecoderTest, DataEndingEarlyAndTruncatedFraming)
{
    CodeWriter w;
    w.Eol();
    for (int i = 0; i < 10; ++i)
        w.Line({0, 1728});
    std::vector<TestPage> pages = {TestPage{w.Bytes(), kApfFine, 100000}};
    Decoded d = DecodeFile(files.Write("long.apf", ApfBytes(pages)), 1);
    EXPECT_EQ(d.rc, kErrFaxBadFormat);
    EXPECT_EQ(d.lines.size(), 10u);

    std::vector<uint8_t> framed = Framed(w.Bytes(), 10);
    framed.resize(framed.size() - 3);
    d = Decode(framed, kApfFine | kApfLengthWords);
    EXPECT_EQ(d.rc, kErrReadBeyondEnd);
    framed.resize(framed.size() - 8); // cut inside a length word
    d = Decode(framed, kApfFine | kApfLengthWords);
    EXPECT_EQ(d.rc, kErrReadBeyondEnd);
}

TEST_P(PageDecoderTest, PageLengthStopsBeforeTheNextPage)
{
    CodeWriter one;
    one.Eol();
    one.Line({0, 1728}); // no end-of-page mark
    CodeWriter two;
    two.Eol();
    two.WhiteLine();
    two.WhiteLine();
    const std::string path = files.Write("two.apf", ApfBytes({TestPage{one.Bytes(), kApfFine},
                                                             TestPage{two.Bytes(), kApfFine}}));
    EXPECT_EQ(DecodeFile(path, 1).lines.size(), 1u);
    EXPECT_EQ(DecodeFile(path, 2).lines.size(), 2u);
    EXPECT_EQ(DecodeFile(path, 3).rc, kErrFaxBadFormat);
}

TEST_P(PageDecoderTest, EndlessFillEndsWithTheData)
{
    std::vector<uint8_t> zeros(20000, 0);
    Decoded d = Decode(zeros);
    EXPECT_EQ(d.rc, 0);
    EXPECT_TRUE(d.lines.empty());
    d = Decode(Framed(zeros, 4096), kApfFine | kApfLengthWords);
    EXPECT_EQ(d.rc, 0);
}

TEST_P(PageDecoderTest, StatusReportsEveryByteAndAbortStops)
{
    CodeWriter w;
    w.Eol();
    for (int i = 0; i < 20; ++i)
        w.Line({0, 1728});
    std::vector<int> unpacked;
    SetUnpackStatusCallback(*state, [&](UnpackState& s, const std::string&, int page, int done, int total) {
        EXPECT_EQ(page, 1);
        EXPECT_EQ(total, static_cast<int>(w.Bytes().size()));
        unpacked.push_back(done);
        if (s.linesProcessed == 5)
            SetUnpackOption(s, kUnpackAbort);
        return 0;
    });
    const Decoded d = Decode(w.Bytes());
    EXPECT_EQ(d.rc, 0);
    EXPECT_EQ(d.lines.size(), 5u);
    ASSERT_FALSE(unpacked.empty());
    EXPECT_EQ(unpacked.back(), static_cast<int>(w.Bytes().size()));
}

TEST_P(PageDecoderTest, ErrorsFromCallbacksStopDecoding)
{
    CodeWriter w;
    w.Eol();
    for (int i = 0; i < 5; ++i)
        w.Line({0, 1728});
    int calls = 0;
    state->lineCallback = [&](UnpackState&, int, const uint8_t*, int, int) { return ++calls == 2 ? -4242 : 0; };
    EXPECT_EQ(Decode(w.Bytes()).rc, -4242);
    EXPECT_EQ(calls, 2);
}

TEST_P(PageDecoderTest, QuitWhileYieldingStopsAndIsPassedOn)
{
    CodeWriter w;
    w.Eol();
    w.Line({0, 1728});
    SetUnpackOption(*state, kUnpackYield);
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::Quit));
    EXPECT_EQ(Decode(w.Bytes()).rc, kErrGotQuitMsg);
    // The request was posted again; take it off the queue for the next tests.
    bool seen = false;
    struct Catcher : QObject {
        bool* seen;
        explicit Catcher(bool* s) : seen(s) {}
        bool eventFilter(QObject*, QEvent* e) override { return e->type() == QEvent::Quit && (*seen = true); }
    } catcher(&seen);
    QCoreApplication::instance()->installEventFilter(&catcher);
    QCoreApplication::processEvents();
    QCoreApplication::instance()->removeEventFilter(&catcher);
    EXPECT_TRUE(seen);
}

TEST_P(PageDecoderTest, YieldingLetsEventsRunNowAndThenNotAfterEveryByte)
{
    // A timer of 0 ms fires on every pass over the pending events. A page
    // of fill holds no line, so a yield tied to the line count would let
    // events run after each of its bytes.
    SetUnpackOption(*state, kUnpackYield);
    int passes = 0;
    QTimer everyPass;
    QObject::connect(&everyPass, &QTimer::timeout, [&] { ++passes; });
    everyPass.start(0);
    const std::vector<uint8_t> fill(64 * 1024, 0);
    EXPECT_EQ(Decode(fill).rc, 0);
    everyPass.stop();
    EXPECT_GE(passes, 1); // at the start of the page
    EXPECT_LE(passes, int(fill.size() / TEventPumpSchedule::kStepsPerCheck) + 1);
}

INSTANTIATE_TEST_SUITE_P(Decoders, PageDecoderTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "BitByBit" : "CodeTable"; });

// The code table against the tree walk on damaged data: random bytes, runs
// that overflow the line, invalid codes and fill in every bit position; with
// and without inversion, which the code table paints directly, and with a
// status callback, which makes the code table decode one byte at a time.
TEST(CodeTableDecoder, MatchesTheTreeWalkOnArbitraryData)
{
    FaxTempFiles files;
    uint32_t seed = 12345;
    auto random = [&seed] { return seed = seed * 1664525u + 1013904223u, seed >> 24; };
    for (int round = 0; round < 60; ++round) {
        CodeWriter w;
        w.Eol();
        for (int part = 0; part < 200; ++part) {
            switch (random() % 6) {
            case 0: w.Line({static_cast<int>(random() * 7), static_cast<int>(random()), 1000}); break;
            case 1: w.Run(random() % 2, static_cast<int>(random() * 11)); break;
            case 2: w.Bits(std::string(random() % 16, '0') + "1"); break;
            case 3: w.Line({1728}); break;
            default: for (int i = 0; i < 3; ++i) w.Bits((random() & 1) ? "1" : "0"); break;
            }
        }
        std::vector<uint8_t> data = w.Bytes();
        for (int i = 0; i < 30; ++i)
            data.push_back(static_cast<uint8_t>(random()));
        const std::string path = files.Write("random.apf", ApfBytes({TestPage{data, static_cast<uint16_t>(round % 2)}}));
        for (const bool invert : {false, true}) {
            // Mode 0 is the tree walk, the reference for the others.
            enum { kTreeWalk, kTable, kTableByteByByte, kModes };
            std::vector<Line> lines[kModes];
            int rc[kModes];
            int invalid[kModes];
            for (int mode = 0; mode < kModes; ++mode) {
                std::unique_ptr<UnpackState> state;
                ASSERT_EQ(CreateUnpackState(state, nullptr, [&lines, mode](UnpackState&, int, const uint8_t* d, int n, int) {
                    lines[mode].emplace_back(d, d + n);
                    return 0;
                }), 0);
                state->options = 0;
                state->bitByBit = mode == kTreeWalk;
                state->invert = invert;
                if (mode == kTableByteByByte)
                    SetUnpackStatusCallback(*state, [](UnpackState&, const std::string&, int, int, int) { return 0; });
                ASSERT_EQ(SetUnpackWhitespace(*state, 3, 1), 0);
                rc[mode] = DecodeApfPage(*state, path, 1);
                invalid[mode] = state->invalidCodes;
            }
            for (int mode = kTable; mode < kModes; ++mode) {
                SCOPED_TRACE(testing::Message() << "round " << round << ", invert " << invert << ", mode " << mode);
                EXPECT_EQ(rc[mode], rc[kTreeWalk]);
                EXPECT_EQ(invalid[mode], invalid[kTreeWalk]);
                EXPECT_EQ(lines[mode], lines[kTreeWalk]);
            }
        }
    }
}

} // namespace
