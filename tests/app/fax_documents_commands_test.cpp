// TIFF and PDF faxes through the command-line modes as a user runs them:
// --export, --print and --import, checked with poppler-utils and the
// tools' own decodings.
#include "app/cli/fax_export.h"
#include "app/core/fax_import.h"
#include "fax/fax_document.h"
#include "tests/app/headless_run.h"
#include "tests/fax/document_fixtures.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString Tool(const QString& tool, const QStringList& args)
{
    QProcess process;
    process.start(tool, args);
    process.waitForFinished(120000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

int PdfPageCount(const QString& pdf)
{
    const QRegularExpressionMatch m = QRegularExpression("Pages:\\s+(\\d+)").match(Tool("pdfinfo", {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Differing pixels of two pages, `rowCopies` rows of `shown` per row of `reference`.
int Differences(const QImage& shown, const QImage& reference, int rowCopies)
{
    if (shown.width() < reference.width() || shown.height() != reference.height() * rowCopies)
        return -1;
    int differences = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < reference.width(); ++x)
            differences += (qGray(shown.pixel(x, y)) < 128) != (qGray(reference.pixel(x, y / rowCopies)) < 128);
    return differences;
}

struct CommandRun {
    int status = 0;
    QString out;
    QString err;
};

CommandRun Export(const QStringList& args)
{
    CommandRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.status = RunFaxExport(args, out, err);
    return run;
}

CommandRun Pellimar(const QStringList& args)
{
    QProcess pellimar;
    pellimar.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), args);
    if (!pellimar.waitForFinished(120000))
        return {-1, {}, {}};
    return {pellimar.exitCode(), QString::fromLocal8Bit(pellimar.readAllStandardOutput()),
            QString::fromLocal8Bit(pellimar.readAllStandardError())};
}

TEST(FaxDocumentCommands, ExportGivesEveryPageOfTiffAndPdfAsTheToolsDecodeIt)
{
    FaxDocumentFixtures make;
    const QString tiff = make.TiffCp(make.Fax2Tiff("multi.apf", "multi.tif"), {"-c", "g4"}, "multi-g4.tif");
    const QString standard = make.Fax2Tiff("text-standard.apf", "standard.tif");
    const QString pdf = make.Tiff2Pdf(tiff, "multi.pdf");
    const std::vector<QImage> pages = make.TiffPages(tiff, 3);
    const QImage standardPage = make.TiffPages(standard, 1).at(0);
    ASSERT_EQ(pages.size(), 3u);
    // A PDF page is what Poppler renders at the resolution of its image.
    std::unique_ptr<FaxDocument> document;
    ASSERT_EQ(OpenFaxDocument(QFile::encodeName(pdf).toStdString(), document), 0);
    FaxPageFormat format;
    ASSERT_EQ(document->PageFormat(1, format), 0);
    const std::vector<QImage> pdfPages = make.PdfPages(pdf, format.xDpi, format.yDpi);

    struct Case {
        QString fax;
        std::vector<QImage> reference;
        int rowCopies;
    };
    for (const Case& c : {Case{tiff, pages, 1}, Case{pdf, pdfPages, 1}, Case{standard, {standardPage}, 2}}) {
        SCOPED_TRACE(c.fax.toStdString());
        QTemporaryDir out;
        const CommandRun png = Export({c.fax, out.filePath("page.png")});
        ASSERT_EQ(png.status, 0) << png.err.toStdString();
        for (std::size_t i = 0; i < c.reference.size(); ++i) {
            const QImage page(out.filePath(QStringLiteral("page-%1.png").arg(i + 1)));
            EXPECT_EQ(Differences(page, c.reference[i], c.rowCopies), 0) << "page " << i + 1;
            EXPECT_EQ(qRound(page.dotsPerMeterX() * 0.0254), 204);
            EXPECT_EQ(qRound(page.dotsPerMeterY() * 0.0254), 196);
        }
        EXPECT_FALSE(QFile::exists(out.filePath(QStringLiteral("page-%1.png").arg(c.reference.size() + 1))));

        const CommandRun asPdf = Export({c.fax, out.filePath("fax.pdf")});
        ASSERT_EQ(asPdf.status, 0) << asPdf.err.toStdString();
        EXPECT_EQ(PdfPageCount(out.filePath("fax.pdf")), static_cast<int>(c.reference.size()));
        // Each page is one image of the fax page at the fax's resolution.
        const QStringList images = Tool("pdfimages", {"-list", out.filePath("fax.pdf")}).split('\n');
        ASSERT_GE(images.size(), 3);
        const QStringList f = images[2].simplified().split(' ');
        ASSERT_GE(f.size(), 14);
        EXPECT_EQ(QSize(f[3].toInt(), f[4].toInt()), c.reference[0].size());
        EXPECT_EQ(f[12].toInt(), 204);
        EXPECT_EQ(f[13].toInt(), c.rowCopies == 2 ? 98 : 196);
    }
}

TEST(FaxDocumentCommands, PrintGivesPagesHeadersAndTheSameShapeForStandardAndFineTwins)
{
    FaxDocumentFixtures make;
    QTemporaryDir out;
    const QString tiff = make.TiffCp(make.Fax2Tiff("multi.apf", "multi.tif"), {"-c", "g4"}, "multi-g4.tif");
    const QString pdf = make.Tiff2Pdf(tiff, "multi.pdf");
    for (const QString& fax : {tiff, pdf}) {
        SCOPED_TRACE(fax.toStdString());
        const QString printed = out.filePath("printed.pdf");
        const CommandRun run = Pellimar({"--print", fax, "--output", printed});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(PdfPageCount(printed), 3);
        const QString text = Tool("pdftotext", {printed, "-"});
        EXPECT_TRUE(text.contains("PAGE: 3 of 3")) << text.toStdString();
        EXPECT_TRUE(text.contains("FILE: ")) << text.toStdString();
        const CommandRun multi = Pellimar({"--print", fax, "--multipage", "--output", printed});
        ASSERT_EQ(multi.status, 0) << multi.err.toStdString();
        EXPECT_EQ(PdfPageCount(printed), 1);
    }

    // A standard-resolution page covers as much paper as its fine twin.
    QSizeF inches[2];
    const char* twins[] = {"text-standard.apf", "text-fine.apf"};
    for (int i = 0; i < 2; ++i) {
        const QString printed = out.filePath(QStringLiteral("twin-%1.pdf").arg(i));
        const CommandRun run = Pellimar({"--print", make.Fax2Tiff(twins[i], QStringLiteral("twin-%1.tif").arg(i)),
                                  "--output", printed});
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const QStringList lines = Tool("pdfimages", {"-list", printed}).split('\n');
        ASSERT_GE(lines.size(), 3);
        const QStringList f = lines[2].simplified().split(' ');
        ASSERT_GE(f.size(), 14);
        inches[i] = QSizeF(f[3].toDouble() / f[12].toDouble(), f[4].toDouble() / f[13].toDouble());
    }
    EXPECT_NEAR(inches[0].width(), inches[1].width(), 0.02);
    EXPECT_NEAR(inches[0].height(), inches[1].height(), inches[1].height() / 100);
}

TEST(FaxDocumentCommands, TiffAndPdfFaxesAreImportedByContentNotByName)
{
    FaxDocumentFixtures make;
    const QString tiff = make.Fax2Tiff("text-fine.apf", "fax.tif");
    const QString pdf = make.Tiff2Pdf(tiff, "fax.pdf");
    QFile::copy(pdf, make.Path("renamed.apf"));
    QFile fake(make.Path("fake.pdf"));
    fake.open(QIODevice::WriteOnly);
    fake.write("%PDF-1.4\nnot really\n");
    fake.close();
    EXPECT_TRUE(IsFaxFile(tiff));
    EXPECT_TRUE(IsFaxFile(pdf));
    EXPECT_TRUE(IsFaxFile(make.Path("renamed.apf")));
    EXPECT_FALSE(IsFaxFile(make.Path("fake.pdf")));
    EXPECT_FALSE(IsFaxFile(make.Path("")));

    QTemporaryDir work;
    QDir(work.path()).mkdir("faxes");
    QDir(work.path()).mkdir("temp");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("PELLIMAR_REGISTRY"), work.filePath("registry.reg"));
    env.insert(QStringLiteral("HOME"), work.path());
    const THeadlessRun run = RunPellimarIn(work.path(), {"--import", tiff, pdf, make.Path("fake.pdf")}, env);
    EXPECT_EQ(run.status, 1) << run.err.toStdString();
    EXPECT_EQ(run.out, "Added 1 Fax: " + tiff + "\nAdded 1 Fax: " + pdf + "\n");
    EXPECT_TRUE(run.err.contains("fake.pdf")) << run.err.toStdString();
    EXPECT_TRUE(QFile::exists(work.filePath("faxes/fax.tif")));
    EXPECT_TRUE(QFile::exists(work.filePath("faxes/fax.pdf")));
}

} // namespace
