// Line decoders: the standard examples, and lines that end early or hold
// bytes outside the alphabets (nothing may be read past the line).
#include "mail/mime_codecs.h"

#include <gtest/gtest.h>

#include <memory>
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
