// Line decoders: the standard examples, and lines that end early or hold
// bytes outside the alphabets (nothing may be read past the line).
#include "mail/mime_codecs.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

namespace {

// The line sits at the very end of a heap block of exactly its length, so
// that ASan catches any read past it.
std::string Decode(int (*decoder)(char*, int), const std::string& text)
{
    std::unique_ptr<char[]> line(new char[text.size()]);
    text.copy(line.get(), text.size());
    return std::string(line.get(), size_t(decoder(line.get(), int(text.size()))));
}

std::string Uudecode(const std::string& text)
{
    std::unique_ptr<char[]> line(new char[text.size()]);
    text.copy(line.get(), text.size());
    char out[64];
    return std::string(out, size_t(DecodeUuencodeLine(line.get(), int(text.size()), out)));
}

TEST(MimeBase64Line, StandardExamplesAndPadding)
{
    EXPECT_EQ(Decode(DecodeBase64Line, "TWFu"), "Man");
    EXPECT_EQ(Decode(DecodeBase64Line, "TWE="), "Ma");
    EXPECT_EQ(Decode(DecodeBase64Line, "TQ=="), "M");
    EXPECT_EQ(Decode(DecodeBase64Line, "  TWFuTWFu"), "ManMan");
    EXPECT_EQ(Decode(DecodeBase64Line, "TQ==TWE="), "MMa");
    EXPECT_EQ(Decode(DecodeBase64Line, "TWFu TWFu"), "Man"); // a space ends the data
    EXPECT_EQ(Decode(DecodeBase64Line, ""), "");
}

TEST(MimeBase64Line, ShortLastGroupCountsAsPadded)
{
    EXPECT_EQ(Decode(DecodeBase64Line, "TWFuTWE"), "ManMa");
    EXPECT_EQ(Decode(DecodeBase64Line, "TWFuTQ"), "ManM");
    EXPECT_EQ(Decode(DecodeBase64Line, "TWFuT"), "Man");
    EXPECT_EQ(Decode(DecodeBase64Line, "T"), "");
}

TEST(MimeBase64Line, HighBytesAndOtherCharactersAreWorth255)
{
    // 255 enters the arithmetic: w0 = 255 gives (1020 + 1) mod 256.
    EXPECT_EQ(Decode(DecodeBase64Line, "\xe9QQQ"), std::string("\xfd\x04\x10", 3));
    EXPECT_EQ(Decode(DecodeBase64Line, "!QQQ"), Decode(DecodeBase64Line, "\xffQQQ"));
}

// Group-by-group arithmetic, written plainly, to check the decoder's faster
// paths against on lines of every length and mix of characters.
std::string Base64Reference(const std::string& line)
{
    auto value = [](unsigned char ch) -> unsigned {
        if (ch >= 'A' && ch <= 'Z') return ch - 'A';
        if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
        if (ch >= '0' && ch <= '9') return ch - '0' + 52;
        if (ch == '+') return 62;
        if (ch == '/') return 63;
        return ch == '=' ? 64 : 255;
    };
    size_t in = line.find_first_not_of(' ');
    std::string out;
    while (in < line.size()) {
        unsigned w[4] = {64, 64, 64, 64};
        int got = 0;
        for (; got < 4 && in < line.size() && line[in] != '\0' && line[in] != ' '; ++got)
            w[got] = value(static_cast<unsigned char>(line[in++]));
        if (got < 2)
            break;
        out += char((w[0] * 4 + (w[1] / 16) % 4) % 256);
        if (w[2] != 64)
            out += char((w[1] * 16 + (w[2] / 4) % 16) % 256);
        if (w[2] != 64 && w[3] != 64)
            out += char((w[2] * 64 + w[3] % 64) % 256);
        if (got < 4)
            break;
    }
    return out;
}

TEST(MimeBase64Line, LongAndMixedLinesMatchGroupByGroupDecoding)
{
    std::mt19937 random(26);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string odd = std::string("= !-@[`{\xe9\xff\x80\x7f\x1f:,.*_") + '\0';
    for (int round = 0; round < 3000; ++round) {
        // Mostly alphabet, with a stray character in some lines.
        std::string line(random() % 200, 'A');
        for (char& ch : line)
            ch = random() % 300 == 0 ? odd[random() % odd.size()] : alphabet[random() % 64];
        ASSERT_EQ(Decode(DecodeBase64Line, line), Base64Reference(line)) << "line " << round;
    }
    // Real encoded data, in the lengths mailers use and longer.
    for (const int bytes : {57, 54, 1, 2, 3000}) {
        QByteArray data(bytes, '\0');
        for (char& ch : data)
            ch = char(random());
        EXPECT_EQ(Decode(DecodeBase64Line, data.toBase64().toStdString()), data.toStdString()) << bytes;
    }
}

TEST(MimeQuotedPrintableLine, EscapesSoftBreaksAndLooseDigits)
{
    EXPECT_EQ(Decode(DecodeQuotedPrintableLine, "a=3Db="), "a=b");
    EXPECT_EQ(Decode(DecodeQuotedPrintableLine, "caf=C3=A9 =e2=82=ac"), "caf\xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(Decode(DecodeQuotedPrintableLine, "trailing  "), "trailing  ");
    EXPECT_EQ(Decode(DecodeQuotedPrintableLine, "x=4"), "x\x04");
    EXPECT_EQ(Decode(DecodeQuotedPrintableLine, "="), "");
}

TEST(MimeUuencodeLine, CountCharacterAndShortLines)
{
    EXPECT_EQ(Uudecode("#0V%T"), "Cat");
    EXPECT_EQ(Uudecode("`"), "");
    // Trailing blanks stripped by a mailer: the missing characters count as zero.
    EXPECT_EQ(Uudecode("&0V%T"), std::string("Cat\0\0\0", 6));
    EXPECT_EQ(Uudecode("M").size(), 45u);
}

} // namespace
