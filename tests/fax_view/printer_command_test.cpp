// pellimar --print, run as a user runs it: exit statuses and messages, and
// printing to a PDF file.
#include "tests/fax_view/printer_test_util.h"
#include "tests/support/qt_print.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace {

struct Outcome {
    int status = -1;
    QString err;
};

Outcome Pellimar(const QStringList& args, const QString& cupsServer = QString())
{
    QProcess pellimar;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!cupsServer.isEmpty())
        env.insert("CUPS_SERVER", cupsServer);
    pellimar.setProcessEnvironment(env);
    pellimar.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), QStringList{"--print"} + args);
    if (!pellimar.waitForFinished(120000))
        return {};
    return {pellimar.exitCode(), QString::fromLocal8Bit(pellimar.readAllStandardError())};
}

TEST(PrintCommand, ExitStatusesAndMessages)
{
    FaxTempFiles files;
    const QString fax = QString::fromStdString(FaxFixture("multi.apf"));
    const QString notFax = QString::fromStdString(files.Write("note.apf", std::vector<uint8_t>(100, 'x')));
    const QString cutFax = QString::fromStdString(files.Write("cut.apf", ApfBytes({BarPage(20), CutPage()})));
    const QString out = QString::fromStdString(files.Path("out.pdf"));
    const QString nowhere = "/nonexistent/cups.sock"; // a system without any printer

    struct Case {
        QStringList args;
        int status;
        const char* message;
        QString cupsServer = QString();
    };
    for (const Case& c : {
             Case{{}, 2, "usage: pellimar --print FAX.apf"},
             Case{{fax, "--pages", "2-1"}, 2, "usage"},
             Case{{fax, "--pages", "x"}, 2, "usage"},
             Case{{fax, "--pages", "4-5", "--output", out}, 2, "has 3 page(s)"},
             Case{{fax, "--colour"}, 2, "Unknown option 'colour'"},
             Case{{fax, fax}, 2, "usage"},
             Case{{fax, "--printer", "P", "--output", out}, 2, "usage"},
             Case{{notFax, "--output", out}, 1, "File is not an APF file"},
             Case{{fax + ".missing", "--output", out}, 1, "File not found"},
             Case{{cutFax, "--output", cutFax}, 2, "is the fax itself"},
             Case{{fax}, 3, "no printer is installed; print to a PDF file with --output FILE.pdf", nowhere},
             Case{{fax, "--printer", "NoSuchQueue"}, 3, "NoSuchQueue"},
             Case{{fax, "--output", "/nonexistent/folder/out.pdf"}, 3, "Cannot print to /nonexistent/folder/out.pdf"},
         }) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Outcome run = Pellimar(c.args, c.cupsServer);
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains("QPainter")) << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(out)) << "nothing half printed";
    }
    EXPECT_EQ(PdfPageCount(cutFax.toStdString()), -1) << "the fax became a PDF";

    // A fax with a page that cannot be decoded: the other pages are printed,
    // the message names the one left out, and the status is a partial job's.
    const Outcome partial = Pellimar({cutFax, "--output", out});
    EXPECT_EQ(partial.status, 4) << partial.err.toStdString();
    EXPECT_TRUE(partial.err.contains("Page 2 could not be printed")) << partial.err.toStdString();
    EXPECT_EQ(PdfPageCount(out.toStdString()), 1);
    // The PDF was written under another name and renamed: nothing else is left.
    EXPECT_EQ(QFileInfo(out).dir().entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST(PrintCommand, PrintsToAPdfFileWithHeaderAndFooter)
{
    FaxTempFiles files;
    const QString fax = QString::fromStdString(FaxFixture("multi.apf"));
    const std::string out = files.Path("out.pdf");
    const Outcome run = Pellimar({fax, "--pages", "2-3", "--multipage", "--output", QString::fromStdString(out)});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    ASSERT_EQ(PdfPageCount(out), 1);
    EXPECT_TRUE(PdfText(out, 1, kTopLeft).contains("PAGE: 2 of 3"));
    EXPECT_TRUE(PdfText(out, 1, kTopRight).contains("PAGE: 3 of 3"));
    EXPECT_TRUE(PdfText(out, 1).contains("FILE: " + fax));
}

} // namespace
