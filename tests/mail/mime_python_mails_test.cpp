// Decoding mails that Python's email package and sharutils' uuencode built:
// every named part must come out byte for byte as the generator's original.
#include "mail/mime_codecs.h"
#include "mail/mime_decoder.h"
#include "tests/support/mime_event_log.h"
#include "tests/support/mime_fixtures.h"

#include <QJsonArray>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

std::string Text(const QJsonObject& object, const char* key)
{
    return object.value(key).toString().toStdString();
}

std::string Bytes(const QString& fixture)
{
    return ReadMimeFixture(fixture).toStdString();
}

class MimePythonMails : public ::testing::TestWithParam<const char*> {};

TEST_P(MimePythonMails, NamedPartsDecodeToTheOriginalBytes)
{
    const QString mail = GetParam();
    const QJsonObject expect = MimeFixtureManifest().value(mail).toObject();
    ASSERT_FALSE(expect.isEmpty()) << "no manifest entry for " << mail.toStdString();

    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    decoder.DecodeFile(MimeFixtureDir() + "/" + mail);

    EXPECT_EQ(decoder.Subject(), Text(expect, "subject"));
    EXPECT_EQ(decoder.ContentType(), "multipart/mixed");
    EXPECT_TRUE(decoder.Boundary().starts_with("--"));
    EXPECT_EQ(decoder.CurrentLine(), nullptr);
    // Every part that began also ended, and part numbers only grow.
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "PartBegin"),
              std::count_if(log.parts.begin(), log.parts.end(), [](const auto& p) { return p.begun; }));
    EXPECT_TRUE(std::is_sorted(log.parts.begin(), log.parts.end(),
                               [](const auto& a, const auto& b) { return a.number < b.number; }));

    for (const QJsonValue& value : expect.value("parts").toArray()) {
        const QJsonObject part = value.toObject();
        const std::string original = Bytes(part.value("data").toString());
        const TMimePartRecord* found = nullptr;
        if (Text(part, "filename").empty()) {
            for (const auto& p : log.parts) {
                if (p.encoding == Text(part, "encoding"))
                    found = &p;
            }
        } else {
            found = log.PartNamed(Text(part, "filename"));
        }
        ASSERT_NE(found, nullptr) << "part " << Text(part, "filename") << " not found";
        EXPECT_EQ(found->encoding, Text(part, "encoding"));
        EXPECT_EQ(found->data.size(), original.size());
        EXPECT_TRUE(found->data == original) << "decoded bytes differ for " << Text(part, "filename");
        if (part.contains("min_lines")) {
            EXPECT_GE(int(found->lines.size()), part.value("min_lines").toInt());
        }
        if (part.contains("name")) {
            EXPECT_EQ(found->name, Text(part, "name"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Generated, MimePythonMails,
                         ::testing::Values("mixed_base64.eml", "qp_soft.eml", "nested_alternative.eml",
                                           "folded_headers.eml", "boundary_case.eml", "uuencode_part.eml"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.resize(name.find('.'));
                             return name;
                         });

TEST(MimePythonMailHeaders, ValuesAndFoldedLinesArriveOnce)
{
    const QJsonObject expect = MimeFixtureManifest().value("mixed_base64.eml").toObject();
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    decoder.DecodeFile(MimeFixtureDir() + "/mixed_base64.eml");
    EXPECT_EQ(decoder.From(), Text(expect, "from_"));
    EXPECT_EQ(decoder.To(), Text(expect, "to"));
    EXPECT_EQ(decoder.Date(), Text(expect, "date"));
    EXPECT_EQ(decoder.ReturnPath(), Text(expect, "return_path"));
    EXPECT_EQ(decoder.MimeVersion(), "1.0");

    TMimeDecoder folded;
    TMimeEventLog foldedLog(folded);
    folded.DecodeFile(MimeFixtureDir() + "/folded_headers.eml");
    const auto subjects = std::count_if(foldedLog.headerLines.begin(), foldedLog.headerLines.end(),
                                        [](const std::string& l) { return l.starts_with("Subject:"); });
    EXPECT_EQ(subjects, 1);
    EXPECT_EQ(foldedLog.headerLines.size(), 3u); // Content-Type, MIME-Version, Subject
}

TEST(MimePythonMailInline, UuencodedBlockInTextGoesToTheInlineEvents)
{
    const QJsonObject expect = MimeFixtureManifest().value("inline_uuencode.eml").toObject();
    const QJsonObject inlineBlock = expect.value("inline").toObject();
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    decoder.DecodeFile(MimeFixtureDir() + "/inline_uuencode.eml");

    const std::string name = Text(inlineBlock, "name");
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "InlineBegin " + name), 1);
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "InlineEnd " + name), 1);
    EXPECT_TRUE(decoder.InlineFileName().empty());

    // The block's lines arrive still encoded, exactly as uuencode wrote them...
    const QStringList written = QString::fromLatin1(ReadMimeFixture(Text(inlineBlock, "lines").c_str()))
                                    .split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(log.inlineLines.size(), size_t(written.size()));
    std::string decoded;
    for (size_t i = 0; i < log.inlineLines.size(); ++i) {
        EXPECT_EQ(log.inlineLines[i], written[qsizetype(i)].toStdString());
        char out[64];
        decoded.append(out, size_t(DecodeUuencodeLine(log.inlineLines[i].data(), int(log.inlineLines[i].size()), out)));
    }
    // ...and decode to the original bytes.
    EXPECT_TRUE(decoded == Bytes(inlineBlock.value("data").toString()));

    // The text around the block still reaches OnPartLine, the block does not.
    const TMimePartRecord* text = nullptr;
    for (const auto& part : log.parts) {
        if (part.contentType == "text/plain")
            text = &part;
    }
    ASSERT_NE(text, nullptr);
    std::vector<std::string> expected;
    for (const QJsonValue& v : expect.value("text_lines").toArray())
        expected.push_back(v.toString().toStdString());
    std::vector<std::string> got = text->lines;
    while (!got.empty() && got.back().empty() && expected.size() < got.size())
        got.pop_back();
    EXPECT_EQ(got, expected);
}

// Hands out the mail in small reads of changing size, as a pipe might.
class TTrickleDevice : public QIODevice {
public:
    explicit TTrickleDevice(QByteArray data)
        : data_(std::move(data))
    {
    }

protected:
    qint64 readData(char* into, qint64 max) override
    {
        const qint64 count = std::min({max, qint64(1 + (pos_ * 7) % 13), qint64(data_.size()) - pos_});
        std::memcpy(into, data_.constData() + pos_, size_t(count));
        pos_ += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
    bool isSequential() const override { return true; }

private:
    QByteArray data_;
    qint64 pos_ = 0;
};

TEST(MimePythonMailStreams, SmallReadsGiveTheSameEvents)
{
    for (const char* mail : {"folded_headers.eml", "mixed_base64.eml", "inline_uuencode.eml"}) {
        TMimeDecoder whole;
        TMimeEventLog wholeLog(whole);
        whole.DecodeFile(MimeFixtureDir() + "/" + mail);

        TMimeDecoder trickled;
        TMimeEventLog trickleLog(trickled);
        TTrickleDevice device(ReadMimeFixture(mail));
        device.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        trickled.DecodeStream(&device);
        EXPECT_EQ(trickleLog.events, wholeLog.events) << mail;
        ASSERT_EQ(trickleLog.parts.size(), wholeLog.parts.size());
        for (size_t i = 0; i < wholeLog.parts.size(); ++i)
            EXPECT_TRUE(trickleLog.parts[i].data == wholeLog.parts[i].data) << mail << " part " << i;
    }
}

} // namespace
