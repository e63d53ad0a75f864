// The decoder's structure, events and values on small hand-written mails.
#include "mail/mime_decoder.h"
#include "tests/support/mime_event_log.h"

#include <QBuffer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

const std::string kTwoParts =
    "From: Fax <fax@example.org>\r\n"
    "Subject: {Varnel} test\r\n"
    "Content-Type: multipart/mixed; boundary=\"XyZ\"\r\n"
    "\r\n"
    "preamble\r\n"
    "--XyZ\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "hello\r\n"
    "--xyz\r\n"
    "Content-Type: application/octet-stream; name=\"Fax.apf\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"Fax.apf\"\r\n"
    "\r\n"
    "TWFu\r\n"
    "\r\n"
    "TQ==\r\n"
    "--XYZ--\r\n";

std::vector<std::string> Without(std::vector<std::string> events, const std::string& prefix)
{
    std::erase_if(events, [&](const std::string& e) { return e.starts_with(prefix); });
    return events;
}

TEST(MimeDecoderStructure, TwoPartMessageFiresEventsInLifecycleOrder)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    DecodeText(decoder, kTwoParts);
    const std::vector<std::string> expected = {
        "HeaderBegin", "HeaderLine", "HeaderLine", "HeaderLine", "HeaderEnd",
        "PartBegin", "PartLine 8", "PartEnd",
        "PartHeaderBegin 1", "PartHeaderLine Content-Type: text/plain", "PartHeaderEnd",
        "PartBegin", "PartLine 5", "PartEnd",
        "PartHeaderBegin 2",
        "PartHeaderLine Content-Type: application/octet-stream; name=\"Fax.apf\"",
        "PartHeaderLine Content-Transfer-Encoding: base64",
        "PartHeaderLine Content-Disposition: attachment; filename=\"Fax.apf\"",
        "PartHeaderEnd", "PartBegin", "PartLine 3", "PartLine 0", "PartLine 1", "PartEnd"};
    EXPECT_EQ(log.events, expected);
    ASSERT_EQ(log.parts.size(), 3u);
    EXPECT_EQ(log.parts[0].number, 0);
    EXPECT_EQ(log.parts[0].data, "preamble");
    EXPECT_EQ(log.parts[2].data, "ManM");
    EXPECT_EQ(log.parts[2].fileName, "Fax.apf");
    EXPECT_EQ(log.parts[2].name, "\"fax.apf\"");
    EXPECT_EQ(log.parts[2].encoding, "base64");
    EXPECT_EQ(decoder.Boundary(), "--xyz");
    EXPECT_EQ(decoder.From(), "Fax <fax@example.org>");
    // Part values are cleared at each part end.
    EXPECT_EQ(decoder.PartFileName(), "");
    EXPECT_EQ(decoder.PartNumber(), 2);
}

TEST(MimeDecoderStructure, FoldedSubjectIsOneLineJoinedBySpaces)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    DecodeText(decoder, "Subject: first\r\n\tsecond\nReturn-Path: <a@b>\n\nbody");
    EXPECT_EQ(decoder.Subject(), "first   second");
    EXPECT_EQ(decoder.ReturnPath(), "a@b");
    EXPECT_EQ(log.headerLines, (std::vector<std::string>{"Subject: first   second", "Return-Path: <a@b>"}));
}

TEST(MimeDecoderStructure, SinglePartBodyIsRawAndEndsAtEndOfInput)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    // Without a boundary a multipart type is decoded as one part; the last
    // line has no LF.
    DecodeText(decoder, "Content-Type: multipart/mixed\r\nContent-Transfer-Encoding: base64\r\n\r\nTWFu\r\n\r\nlast");
    EXPECT_EQ(decoder.ContentType(), "multipart/mixed");
    EXPECT_EQ(decoder.Boundary(), "");
    ASSERT_EQ(log.parts.size(), 1u);
    EXPECT_EQ(log.parts[0].lines, (std::vector<std::string>{"TWFu", "", "last"}));
    EXPECT_EQ(log.events.back(), "PartEnd");
}

TEST(MimeDecoderStructure, BoundaryBehindAnotherParameterIsFound)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    DecodeText(decoder, "Content-Type: multipart/mixed; charset=us-ascii; boundary=b1\n\n--b1\n"
                        "Content-Disposition: attachment; size=4; filename=\"late.apf\"\n\ndata\n--b1--\n");
    EXPECT_EQ(decoder.Boundary(), "--b1");
    ASSERT_NE(log.PartNamed("late.apf"), nullptr);
    EXPECT_EQ(log.PartNamed("late.apf")->data, "data");
}

TEST(MimeDecoderStructure, PartWithoutDataEndsWithoutBeginning)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    DecodeText(decoder, "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n--b--\n");
    EXPECT_EQ(Without(log.events, "Header"),
              (std::vector<std::string>{"PartBegin", "PartEnd", "PartHeaderBegin 1",
                                        "PartHeaderLine Content-Type: text/plain", "PartHeaderEnd", "PartEnd"}));
}

TEST(MimeDecoderStructure, BlankLedLineEndsPartHeaderAndIsData)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    DecodeText(decoder, "Content-Type: multipart/mixed; boundary=b\n\n--b\n indented\n--b--");
    ASSERT_EQ(log.parts.size(), 2u);
    EXPECT_EQ(log.parts[1].data, " indented");
}

TEST(MimeDecoderStructure, NestedQuotedBoundaryWithSpecialsEndsParts)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    DecodeText(decoder, "Content-Type: multipart/mixed; boundary=\"==out==\"\n\n--==out==\n"
                        "Content-Type: multipart/alternative; boundary=\"==In:1==\"\n\n"
                        "--==in:1==\nContent-Transfer-Encoding: quoted-printable\n\nx=3Dy\n--==IN:1==--\n"
                        "\n--==out==--\n");
    const auto it = std::find_if(log.parts.begin(), log.parts.end(),
                                 [](const auto& p) { return p.encoding == "quoted-printable"; });
    ASSERT_NE(it, log.parts.end());
    EXPECT_EQ(it->data, "x=y");
}

TEST(MimeDecoderStructure, NestingIsBoundedAndAClosedMultipartFreesItsLevel)
{
    // A hundred nested multiparts one after the other, each closed: every
    // one is split, although together they declare more than the bound.
    std::string siblings = "Content-Type: multipart/mixed; boundary=out\n\n";
    for (int i = 0; i < 100; ++i) {
        const std::string in = "in" + std::to_string(i);
        siblings += "--out\nContent-Type: multipart/alternative; boundary=" + in + "\n\n--" + in + "\n\ntext "
            + std::to_string(i) + "\n--" + in + "--\n";
    }
    siblings += "--out--\n";
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    DecodeText(decoder, siblings);
    int texts = 0;
    for (const auto& part : log.parts)
        texts += part.data == "text " + std::to_string(texts);
    EXPECT_EQ(texts, 100);

    // A hundred levels nested into each other and never closed: from the
    // 65th on, the boundaries are data of the innermost part that was kept.
    std::string deep = "Content-Type: multipart/mixed; boundary=lv0\n\n";
    for (int i = 0; i < 100; ++i)
        deep += "--lv" + std::to_string(i) + "\nContent-Type: multipart/mixed; boundary=lv" + std::to_string(i + 1)
            + "\n\n";
    deep += "last\n";
    TMimeDecoder deepDecoder;
    TMimeEventLog deepLog(deepDecoder);
    DecodeText(deepDecoder, deep);
    EXPECT_EQ(deepDecoder.PartNumber(), 1 + int(TMimeBoundaries::kMaxNesting));
    ASSERT_FALSE(deepLog.parts.empty());
    const std::string& kept = deepLog.parts.back().data;
    EXPECT_TRUE(kept.starts_with("--lv65")) << kept.substr(0, 40);
    EXPECT_TRUE(kept.ends_with("last"));
}

TEST(MimeDecoderInline, BlockInPlainTextGoesToInlineEvents)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    DecodeText(decoder, "\ntext\nbegin 644 fax.apf\n#0V%T\n`\n-- cut here --\nend\nmore\n"
                        "BEGIN -- cut here\nEnd\n");
    EXPECT_EQ(Without(log.events, "Header"),
              (std::vector<std::string>{"PartBegin", "PartLine 4", "InlineBegin fax.apf", "InlineLine",
                                        "InlineLine", "InlineLine", "InlineEnd fax.apf", "PartLine 4",
                                        "InlineEnd ", "PartEnd"}));
    EXPECT_EQ(log.inlineLines, (std::vector<std::string>{"#0V%T", "`", "-- cut here --"}));
}

TEST(MimeDecoderInline, DecodedDataIsNeverTakenForMarkers)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    // "YmVnaW4gNjQ0IHguYXBm" is base64 of "begin 644 x.apf", "ZW5k" of "end".
    DecodeText(decoder, "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Transfer-Encoding: base64\n\n"
                        "YmVnaW4gNjQ0IHguYXBm\nZW5k\n--b\nContent-Transfer-Encoding: quoted-printable\n\nend=\n--b--\n");
    EXPECT_EQ(log.parts[1].data, "begin 644 x.apf" "end");
    EXPECT_EQ(log.parts[2].data, "end");
    EXPECT_TRUE(log.inlineLines.empty());
}

TEST(MimeDecoderInline, XUuencodePartDeliversBinaryBytesToPartLine)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    // "#``$`" holds the three bytes 0, 0, 1 behind its count.
    DecodeText(decoder, "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Transfer-Encoding: x-uuencode\n\n"
                        "ignored before begin\nbegin 600 a.bin\n\n#```!\n`\nend\nignored after\n--b--\n");
    EXPECT_EQ(log.parts[1].data, std::string("\0\0\1", 3));
    EXPECT_TRUE(decoder.InlineFileName().empty());
}

TEST(MimeDecoderLines, LongLineBeyondTheLimitIsDeliveredInPieces)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    const std::string body(TMimeDecoder::kMaxLineLength * 2 + 100, 'x');
    DecodeText(decoder, "Subject: " + std::string(5000, 's') + "\n\n" + body + "\nshort");
    EXPECT_EQ(decoder.Subject().size(), 5000u);
    ASSERT_EQ(log.parts.size(), 1u);
    EXPECT_EQ(log.parts[0].data, body + "short");
    EXPECT_GE(log.parts[0].lines.size(), 3u);
    for (const auto& line : log.parts[0].lines)
        EXPECT_LE(line.size(), size_t(TMimeDecoder::kMaxLineLength) * 2);

    // A base64 attachment written without line breaks still decodes exactly.
    QByteArray original(TMimeDecoder::kMaxLineLength * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < original.size(); ++i)
        original[i] = char((i * 7919) >> 3);
    TMimeDecoder second;
    TMimeEventLog secondLog(second);
    DecodeText(second, "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Transfer-Encoding: base64\n\n"
                       + original.toBase64().toStdString() + "\n--b--\n");
    ASSERT_EQ(secondLog.parts.size(), 2u);
    EXPECT_TRUE(secondLog.parts[1].data == original.toStdString());
}

TEST(MimeDecoderLines, UnfoldingLooksAheadAcrossReadBoundaries)
{
    // The first read of 2046 bytes ends exactly behind a header line's LF,
    // so the next line's first byte comes from a look-ahead read.
    for (const std::string next : {"\tfolded\n\nbody\n", "\n\nbody\n", "To: x\n\nbody\n"}) {
        TMimeDecoder decoder;
        TMimeEventLog log(decoder);
        const std::string first = "Subject: " + std::string(2046 - 10, 's') + "\n";
        DecodeText(decoder, first + next);
        const bool folded = next[0] == '\t';
        EXPECT_EQ(decoder.Subject(), std::string(2036, 's') + (folded ? "  folded" : ""));
        ASSERT_FALSE(log.parts.empty());
        EXPECT_EQ(log.parts.back().lines.back(), "body");
    }
}

TEST(MimeDecoderLines, EmbeddedNulBytesInRawDataArePassedOn)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    DecodeText(decoder, std::string("\nab\0cd\n", 7));
    EXPECT_EQ(log.parts[0].data, std::string("ab\0cd", 5));
}

TEST(MimeDecoderStreams, DestStreamReceivesNonEmptyDataLines)
{
    TMimeDecoder decoder;
    QByteArray written;
    QBuffer dest(&written);
    dest.open(QIODevice::WriteOnly);
    decoder.SetDestStream(&dest);
    DecodeText(decoder, kTwoParts);
    EXPECT_EQ(written, QByteArray("preamblehelloManM"));
}

class TFailingDevice : public QIODevice {
protected:
    qint64 readData(char* data, qint64) override
    {
        if (served_)
            return -1;
        served_ = true;
        data[0] = 'x';
        return 1;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    bool served_ = false;
};

TEST(MimeDecoderStreams, ReadAndWriteErrorsAndMisuseRaise)
{
    TMimeDecoder decoder;
    TFailingDevice failing;
    failing.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    EXPECT_THROW(decoder.DecodeStream(&failing), EMimeStreamError);

    TFailingDevice sink;
    sink.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    decoder.SetDestStream(&sink);
    EXPECT_THROW(DecodeText(decoder, "\ndata\n"), EMimeStreamError);
    decoder.SetDestStream(nullptr);

    QTemporaryDir dir;
    EXPECT_THROW(decoder.DecodeFile(dir.path() + "/missing.txt"), EMimeStreamError);
    QBuffer closed;
    EXPECT_THROW(decoder.DecodeStream(&closed), EMimeStreamError);
}

TEST(MimeDecoderStreams, HandlerExceptionPropagatesAndDecoderStaysUsable)
{
    TMimeDecoder decoder;
    decoder.OnPartLine = [](QObject*, const char*, int) { throw std::runtime_error("disk full"); };
    EXPECT_THROW(DecodeText(decoder, kTwoParts), std::runtime_error);
    EXPECT_EQ(decoder.CurrentLine(), nullptr);

    decoder.OnPartLine = [&decoder](QObject*, const char*, int) { DecodeText(decoder, "\nx\n"); };
    EXPECT_THROW(DecodeText(decoder, "\nnested\n"), EMimeStreamError);

    TMimeEventLog log(decoder);
    DecodeText(decoder, kTwoParts);
    EXPECT_EQ(log.parts.size(), 3u);
}

} // namespace
