#pragma once
// TIFF and PDF faxes made by independent tools from the APF fixtures, and
// the tools' own decodings of them as references: fax2tiff takes an APF
// page's Group 3 data as it is, tiffcp recodes it, tiff2pdf wraps a TIFF's
// images, ghostscript typesets a cover page; tifftopnm and pdftoppm decode.
#include "fax/apf_file.h"
#include "tests/fax/fax_test_util.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Runs a tool; false (with its messages on the test's output) when it fails.
inline bool RunTool(const QString& tool, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << tool.toStdString() << " " << args.join(' ').toStdString() << ": "
                      << process.readAll().toStdString();
        return false;
    }
    return true;
}

class FaxDocumentFixtures {
public:
    QString Path(const QString& name) const { return dir_.filePath(name); }

    // A Group 3 TIFF from the pages of an unframed APF fixture, at its
    // resolution (98 or 196 rows per inch).
    QString Fax2Tiff(const std::string& apf, const QString& name)
    {
        ApfFileHeader header;
        if (ApfReadFileHeader(FaxFixture(apf), header) != 0) {
            ADD_FAILURE() << apf << " unreadable";
            return {};
        }
        QStringList raws;
        bool fine = false;
        for (int page = 1; page <= header.PageCount(); ++page) {
            ApfReader reader;
            ApfPageHeader pageHeader;
            std::vector<uint8_t> data;
            if (reader.Open(FaxFixture(apf)) != 0 || reader.SeekPage(header, page, pageHeader) != 0)
                return {};
            data.resize(pageHeader.ImageLength());
            if (reader.ReadExact(data.data(), data.size()) != 0)
                return {};
            fine = pageHeader.Flags() & kApfFine;
            const QString raw = Path(QStringLiteral("%1-%2.g3").arg(name).arg(page));
            QFile file(raw);
            file.open(QIODevice::WriteOnly);
            file.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size()));
            raws << raw;
        }
        const QString tiff = Path(name);
        if (!RunTool("fax2tiff", QStringList{"-1", "-L", "-R", fine ? "196" : "98", "-o", tiff} + raws))
            return {};
        return tiff;
    }

    // `source` recoded by tiffcp with `options` (such as "-c", "g4").
    QString TiffCp(const QString& source, const QStringList& options, const QString& name)
    {
        const QString tiff = Path(name);
        return RunTool("tiffcp", options + QStringList{source, tiff}) ? tiff : QString();
    }

    QString Tiff2Pdf(const QString& tiff, const QString& name)
    {
        const QString pdf = Path(name);
        return RunTool("tiff2pdf", {"-o", pdf, tiff}) ? pdf : QString();
    }

    // A one-page PDF of typed text and a frame, ghostscript's pdfwrite.
    QString CoverPagePdf(const QString& name)
    {
        const QString ps = Path(name + ".ps");
        QFile file(ps);
        file.open(QIODevice::WriteOnly);
        file.write("%!PS\n<< /PageSize [595 842] >> setpagedevice\n"
                   "/Helvetica findfont 28 scalefont setfont 72 720 moveto (FAX COVER SHEET) show\n"
                   "/Helvetica findfont 14 scalefont setfont 72 680 moveto (To: Accounts  Pages: 2) show\n"
                   "4 setlinewidth 60 60 475 600 rectstroke\n"
                   "0.5 setgray 100 100 200 100 rectfill\nshowpage\n");
        file.close();
        const QString pdf = Path(name);
        return RunTool("gs", {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite", "-sOutputFile=" + pdf, ps})
                   ? pdf
                   : QString();
    }

    // tifftopnm's decoding of each of the first `pages` pages.
    std::vector<QImage> TiffPages(const QString& tiff, int pages)
    {
        std::vector<QImage> decoded;
        for (int page = 0; page < pages; ++page) {
            const QString one = Path(QStringLiteral("page-%1.tif").arg(page));
            const QString pbm = Path(QStringLiteral("page-%1.pbm").arg(page));
            QFile::remove(one);
            if (!RunTool("tiffcp", {tiff + "," + QString::number(page), one}))
                return {};
            QProcess process;
            process.setStandardOutputFile(pbm);
            process.start("tifftopnm", {one});
            process.waitForFinished(120000);
            decoded.push_back(QImage(pbm, "PBM"));
        }
        return decoded;
    }

    // pdftoppm's rendering of every page at the given resolution, in grey
    // levels (black below half).
    std::vector<QImage> PdfPages(const QString& pdf, double xDpi, double yDpi)
    {
        const QString root = Path(QStringLiteral("rendered-%1").arg(++renderings_));
        if (!RunTool("pdftoppm", {"-gray", "-rx", QString::number(xDpi, 'g', 17), "-ry",
                                  QString::number(yDpi, 'g', 17), pdf, root}))
            return {};
        std::vector<QImage> pages;
        for (int page = 1;; ++page) {
            QImage image;
            for (const QString& digits : {QString::number(page), QStringLiteral("%1").arg(page, 2, 10, QChar('0'))})
                if (image.isNull())
                    image.load(root + "-" + digits + ".pgm");
            if (image.isNull())
                return pages;
            pages.push_back(image);
        }
    }

private:
    QTemporaryDir dir_;
    int renderings_ = 0;
};

