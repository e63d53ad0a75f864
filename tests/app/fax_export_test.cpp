// pellimar --export: page files and PDF from the fax fixtures, and the
// errors for bad arguments and bad files.
#include "app/cli/fax_export.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString Fixture(const char* name) { return QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/") + QLatin1String(name); }

struct ExportRun {
    int status = 0;
    QString out;
    QString err;
};

ExportRun Export(const QStringList& args)
{
    ExportRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.status = RunFaxExport(args, out, err);
    return run;
}

TEST(FaxExport, PngPagesAreNumberedAndAspectCorrected)
{
    QTemporaryDir dir;
    const ExportRun run = Export({Fixture("text-standard.apf"), dir.filePath("fax.png")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QImage page(dir.filePath("fax-1.png"));
    const QImage reference(Fixture("text-standard-1.png"));
    ASSERT_FALSE(page.isNull());
    EXPECT_FALSE(QFile::exists(dir.filePath("fax-2.png")));
    EXPECT_EQ(page.width(), 1728);
    EXPECT_EQ(page.height(), 2 * (reference.height() - 1)); // standard lines doubled
    EXPECT_EQ(qRound(page.dotsPerMeterY() * 0.0254), 196);
    int differences = 0;
    for (int y = 0; y + 1 < reference.height(); ++y)
        for (int x = 0; x < 1728; ++x)
            differences += (qGray(page.pixel(x, 2 * y + 1)) < 128) != (qGray(reference.pixel(x, y)) < 128);
    EXPECT_EQ(differences, 0);
}

TEST(FaxExport, PatternAndPbmForEveryPage)
{
    QTemporaryDir dir;
    const ExportRun run = Export({Fixture("multi-framed.apf"), dir.filePath("p%d.pbm")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    for (int page = 1; page <= 3; ++page) {
        QFile file(dir.filePath(QStringLiteral("p%1.pbm").arg(page)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.read(2) == "P4");
        const QImage image(file.fileName());
        const QImage reference(Fixture("multi-1.png").replace(QLatin1String("-1."), QStringLiteral("-%1.").arg(page)));
        ASSERT_EQ(image.height(), reference.height() - 1);
        // PBM stores 1 for black: a black area of the reference reads back black.
        for (int y = 0; y + 1 < reference.height(); y += 7)
            for (int x = 0; x < 1728; x += 5)
                ASSERT_EQ(qGray(image.pixel(x, y)) < 128, qGray(reference.pixel(x, y)) < 128) << page;
    }
    EXPECT_TRUE(run.out.contains(QLatin1String("p3.pbm")));
}

TEST(FaxExport, PdfHasOnePagePerFaxPageAtFaxSize)
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath("fax.pdf");
    ASSERT_EQ(Export({Fixture("multi.apf"), pdf}).status, 0);
    ASSERT_EQ(Export({Fixture("text-standard.apf"), dir.filePath("std.PDF")}).status, 0);
    const QString pdfinfo = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    if (pdfinfo.isEmpty())
        GTEST_SKIP() << "pdfinfo (poppler-utils) not installed";
    QProcess info;
    info.start(pdfinfo, {pdf});
    ASSERT_TRUE(info.waitForFinished());
    const QString text = QString::fromLatin1(info.readAllStandardOutput());
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("Pages:\\s+3")))) << text.toStdString();
    // 1728 / 204 inch wide: 609.9 points; letter-length pages.
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("Page size:\\s+(609|610)(\\.\\d+)? x 79\\d")))) << text.toStdString();
    info.start(pdfinfo, {dir.filePath("std.PDF")});
    ASSERT_TRUE(info.waitForFinished());
    // 294 rows at 98 lines per inch: three inches, 216 points.
    EXPECT_TRUE(QString::fromLatin1(info.readAllStandardOutput()).contains(QRegularExpression(QStringLiteral("x 21[45](\\.\\d+)? pts"))));
}

TEST(FaxExport, BadInputGivesAClearError)
{
    QTemporaryDir dir;
    ExportRun run = Export({Fixture("multi.apf")});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(QLatin1String("usage")));
    run = Export({dir.filePath("missing.apf"), dir.filePath("x.png")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QLatin1String("File not found"))) << run.err.toStdString();
    run = Export({Fixture("multi-1.png"), dir.filePath("x.png")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QLatin1String("File is not an APF file")));
    run = Export({Fixture("multi.apf"), dir.filePath("no-such-folder/x.png")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QLatin1String("cannot write")));
}

} // namespace
