// Header parameters as mail programs write them: plain, quoted, and the
// RFC 2231 forms with a charset and with numbered sections.
#include "mail/mime_decoder.h"
#include "mail/mime_fields.h"
#include "tests/support/mime_event_log.h"

#include <gtest/gtest.h>

namespace {

struct ParameterCase {
    const char* fieldValue;
    const char* name;
    bool found;
    std::string value;
    const char* charset;
};

TEST(MimeParameters, PlainExtendedAndSectionedValues)
{
    const ParameterCase cases[] = {
        {"attachment; filename=fax.apf", "filename", true, "fax.apf", ""},
        {"attachment; FILENAME = \"My Fax.apf\" ; size=4", "filename", true, "My Fax.apf", ""},
        {"attachment; size=4; filename=\"a;b\\\"c.apf\"", "filename", true, "a;b\"c.apf", ""},
        {"attachment; filename=\"open.apf", "filename", true, "open.apf", ""},
        {"attachment; filename*=utf-8''Fax%20f%C3%BCr%20Anna.apf", "filename", true, "Fax f\xC3\xBCr Anna.apf", "utf-8"},
        {"attachment; filename*=ISO-8859-1'de'f%FCr.apf", "filename", true, "f\xFCr.apf", "iso-8859-1"},
        {"attachment; filename*=bad%zz%4", "filename", true, "bad%zz%4", ""},
        // Sections, encoded and not, joined in number order; the charset is section 0's.
        {"attachment; filename*1*=%C3%A9%20Dupont; filename*0*=utf-8''T%C3%A9l; filename*2=\" end.apf\"", "filename",
         true, "T\xC3\xA9l\xC3\xA9 Dupont end.apf", "utf-8"},
        {"application/octet-stream; name*0=\"long \"; name*1=name.apf", "name", true, "long name.apf", ""},
        // A missing section ends the value; sections need a section 0.
        {"attachment; filename*0=a; filename*2=c", "filename", true, "a", ""},
        {"attachment; filename*1=b; filename=plain.apf", "filename", true, "plain.apf", ""},
        // The RFC 2231 form wins over the plain fallback for old readers.
        {"attachment; filename=\"fallback.apf\"; filename*=utf-8''real.apf", "filename", true, "real.apf", "utf-8"},
        // Near misses.
        {"attachment; filenames=x.apf; xfilename=y.apf", "filename", false, "", ""},
        {"filename=first-token.apf", "filename", false, "", ""},
        {"attachment; filename", "filename", false, "", ""},
        {"inline; name=\"quoted;semi\"; filename=ok.apf", "filename", true, "ok.apf", ""},
    };
    for (const ParameterCase& c : cases) {
        const TParameterValue p = FindParameter(c.fieldValue, c.name);
        EXPECT_EQ(p.found, c.found) << c.fieldValue;
        EXPECT_EQ(p.value, c.value) << c.fieldValue;
        EXPECT_EQ(p.charset, c.charset) << c.fieldValue;
    }
}

TEST(MimeParameters, DecoderGivesRfc2231FileNames)
{
    TMimeDecoder decoder;
    TMimeEventLog log(decoder);
    DecodeText(decoder, "Content-Type: multipart/mixed; boundary=b\n\n--b\n"
                        "Content-Disposition: attachment;\n filename*0*=utf-8''f%C3%BCr; filename*1*=%20Anna.apf\n\n"
                        "data\n--b--\n");
    ASSERT_NE(log.PartNamed("f\xC3\xBCr Anna.apf"), nullptr);
    EXPECT_EQ(log.PartNamed("f\xC3\xBCr Anna.apf")->data, "data");
}

} // namespace
