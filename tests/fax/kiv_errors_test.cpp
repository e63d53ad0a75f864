// Error codes: the string resources, message lookup, the code-to-class
// mapping and the exception-to-code bridge.
#include "fax/kiv_base_component.h"
#include "fax/kiv_errors.h"
#include "fax/kiv_string_resource.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstring>

namespace {

uint32_t U32(const QByteArray& data, int at)
{
    uint32_t v;
    std::memcpy(&v, data.constData() + at, 4);
    return v;
}

TEST(KivStrings, ResourcesHaveTheStr0LayoutSortedByKey)
{
    for (const char* name : {":/kiv/ORVO_ERROR_STRINGS_ENGLISH", ":/kiv/KIVSTRMGR_STRINGS"}) {
        QFile file(QString::fromLatin1(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        const QByteArray data = file.readAll();
        ASSERT_TRUE(data.startsWith("STR0"));
        const uint32_t count = U32(data, 4);
        int32_t previous = -1;
        for (uint32_t i = 0; i < count; ++i) {
            const int32_t key = static_cast<int32_t>(U32(data, 8 + 12 * i));
            EXPECT_GT(key, previous);
            previous = key;
            EXPECT_LE(U32(data, 8 + 12 * i + 4) + 2 * U32(data, 8 + 12 * i + 8), static_cast<uint32_t>(data.size()));
        }
    }
    EXPECT_EQ(KivManagerStrings().GetString(1), "String not found: %d");
    EXPECT_EQ(KivManagerStrings().GetString(5), "Invalid string resource");
    EXPECT_EQ(KivErrorStrings().GetString(0), "OK");
}

TEST(KivStrings, MissingResourcesAndKeys)
{
    try {
        TKivStringResource missing(QStringLiteral(":/kiv"), QStringLiteral("NO_SUCH_STRINGS"));
        FAIL();
    } catch (const EKivStringResourceError& e) {
        EXPECT_STREQ(e.what(), "String resource not found: NO_SUCH_STRINGS");
    }
    TKivStringResource strings(QStringLiteral(":/kiv"), QStringLiteral("KIVSTRMGR_STRINGS"));
    EXPECT_EQ(strings.GetString(77), "");
    strings.SetRaiseOnMissing(true);
    EXPECT_THROW(strings.GetString(77), EKivStringResourceError);
}

TEST(KivErrors, MessagesOfTheImagingCodes)
{
    EXPECT_EQ(KivErrorMessage(-2), "File not found");
    EXPECT_EQ(KivErrorMessage(-3), "Path not found");
    EXPECT_EQ(KivErrorMessage(-4), "Too many open files");
    EXPECT_EQ(KivErrorMessage(-5), "File access denied");
    EXPECT_EQ(KivErrorMessage(-8), "Insufficient memory");
    EXPECT_EQ(KivErrorMessage(-100), "Attempt to read beyond end of file");
    EXPECT_EQ(KivErrorMessage(-1002), "Bad argument passed to function");
    EXPECT_EQ(KivErrorMessage(-1003), "Got quit message");
    EXPECT_EQ(KivErrorMessage(-8001), "File is not an APF file");
    EXPECT_EQ(KivErrorMessage(-8005), "CreateBitmapIndirect API failure");
    EXPECT_EQ(KivErrorMessage(-8050), "No image loaded into viewer");
    EXPECT_EQ(KivErrorMessage(-8051), "No block of image marked");
    // No entry: the system's message for the number, else nothing.
    EXPECT_EQ(KivErrorMessage(-13), strerrordesc_np(13));
    EXPECT_EQ(KivErrorMessage(-14999), "");
}

TEST(KivErrors, CleaningTurnsControlsIntoSingleSpaces)
{
    EXPECT_EQ(CleanMessageText("Disk\r\nfull.\t \t end"), "Disk full. end");
    EXPECT_EQ(CleanMessageText("a     b"), "a b");
}

template <typename E>
void ExpectRaised(int code, const char* message)
{
    try {
        RaiseKivError(code);
    } catch (const E& e) {
        EXPECT_STREQ(e.what(), message) << code;
        return;
    } catch (...) {
    }
    ADD_FAILURE() << "wrong exception for " << code;
}

TEST(KivErrors, CodesRaiseTheirClasses)
{
    ExpectRaised<EBadArgument>(-1002, "Bad argument passed to function");
    ExpectRaised<EGeneral>(-1003, "Got quit message");
    ExpectRaised<EFaxBadFormat>(-8001, "File is not an APF file");
    ExpectRaised<EFax>(-8005, "CreateBitmapIndirect API failure");
    ExpectRaised<EInternal>(-7012, "");
    ExpectRaised<EProtocol>(-6008, "");
    ExpectRaised<ETapi>(-13850, "");
    // No class of their own: the generic exception without a code.
    for (int code : {-1001, -8050, -8051, -9999, -163}) {
        try {
            RaiseKivError(code);
        } catch (const EFax&) {
            ADD_FAILURE() << code;
        } catch (const EKIVException& e) {
            EXPECT_STREQ(e.what(), "Orvo exception");
            EXPECT_EQ(e.ErrorCode(), 0);
        }
    }
    try {
        RaiseKivError(-100);
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 100);
        EXPECT_STREQ(e.what(), "Attempt to read beyond end of file");
    }
    EXPECT_THROW(RaiseKivError(-8), std::bad_alloc);
    try {
        RaiseKivError(-8001);
    } catch (const EKIVException& e) {
        EXPECT_EQ(e.ErrorCode(), -8001);
    }
}

TEST(KivErrors, ErrorCheckIsSilentForSuccessAndWhileLoading)
{
    TKivBaseComponent component;
    EXPECT_NO_THROW(KivErrorCheck(&component, 0));
    EXPECT_NO_THROW(KivErrorCheck(&component, 5));
    component.SetLoading(true);
    EXPECT_NO_THROW(KivErrorCheck(&component, -8001));
    component.SetLoading(false);
    EXPECT_THROW(KivErrorCheck(&component, -8001), EFaxBadFormat);
    EXPECT_THROW(KivErrorCheck(nullptr, -8001), EFaxBadFormat);
}

TEST(KivErrors, ExceptionsBecomeCodes)
{
    auto code = [](auto exception) { return KivExceptionToCode(std::make_exception_ptr(exception)); };
    EXPECT_EQ(code(EFaxBadFormat(-8001)), -8001);
    EXPECT_EQ(code(EKIVException(std::string("text"))), 0);
    EXPECT_EQ(code(EInOutError("x", 5)), -5);
    EXPECT_EQ(code(std::bad_alloc()), -8);
    EXPECT_EQ(code(std::runtime_error("x")), -9999);
    EXPECT_EQ(code(42), -9999);
}

} // namespace
