// The stored form of records and layout descriptors, byte for byte.
#include "qdb/record_layout.h"

#include <gtest/gtest.h>

using namespace qdb;

namespace {
std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int v : values)
        bytes.push_back(static_cast<char>(v));
    return bytes;
}
}

TEST(RecordLayout, FieldsAreLengthPrefixedWithoutCountOrTerminator)
{
    const std::string status("New\0", 4);
    EXPECT_EQ(EncodeRecord({status}), Bytes({0x04, 0, 0, 0, 'N', 'e', 'w', 0}));
    // An empty edit box is length 1 and one zero byte; a field with no bytes
    // at all is just a zero length.
    EXPECT_EQ(EncodeRecord({std::string(1, '\0'), std::string()}), Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(EncodeRecord({}), std::string());

    const std::string big(300, 'x');
    const std::string record = EncodeRecord({big});
    EXPECT_EQ(record.substr(0, 4), Bytes({0x2C, 0x01, 0, 0}));
    EXPECT_EQ(record.size(), 304u);
}

TEST(RecordLayout, DecodingGivesBackTheFieldsAndIgnoresTrailingBytes)
{
    const std::vector<std::string> fields = {std::string("faxes\\a.apf\0", 12), std::string(), std::string("x\0", 2)};
    EXPECT_EQ(DecodeRecord(EncodeRecord(fields), 3), fields);
    EXPECT_EQ(DecodeRecord(EncodeRecord(fields) + "junk", 3), fields);
    // Fewer fields asked for than stored: the rest is not read.
    EXPECT_EQ(DecodeRecord(EncodeRecord(fields), 1), std::vector<std::string>{fields[0]});
    // A negative length gives an empty value and consumes nothing.
    EXPECT_EQ(DecodeRecord(Bytes({0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 'a'}), 2),
              (std::vector<std::string>{std::string(), "a"}));
}

TEST(RecordLayout, ARecordShorterThanTheLayoutIsAReadError)
{
    const std::string one = EncodeRecord({"abc"});
    EXPECT_THROW(DecodeRecord(one, 2), EReadError);          // a whole field missing
    EXPECT_THROW(DecodeRecord(one.substr(0, 5), 1), EReadError); // value cut short
    EXPECT_THROW(DecodeRecord(one.substr(0, 3), 1), EReadError); // length cut short
    // A huge length is checked against the record before anything is allocated.
    EXPECT_THROW(DecodeRecord(Bytes({0xFF, 0xFF, 0xFF, 0x7F}), 1), EReadError);
    try {
        DecodeRecord({}, 1);
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

TEST(RecordLayout, DescriptorKeysAndTexts)
{
    EXPECT_EQ(LayoutKey(0), "QF.0000");
    EXPECT_EQ(LayoutKey(4), "QF.0004");
    EXPECT_EQ(LayoutKey(123), "QF.0123");
    EXPECT_EQ(LayoutKey(12345), "QF.12345");
    EXPECT_EQ(LayoutDescriptor(6, "edtFilename", "TEdit"), "\x06.edtFilename.TEdit");
    EXPECT_EQ(LayoutDescriptor(8, "memo", "TRichEdit"), "\x08.memo.TRichEdit");
}
