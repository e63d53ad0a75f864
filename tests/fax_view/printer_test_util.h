#pragma once
// Helpers for the printing tests: fax files made for them, and what
// poppler-utils find in a printed PDF (page count, text, ink).
#include "fax/apf_file.h"
#include "tests/fax/fax_test_util.h"

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QTemporaryDir>

#include <string>
#include <vector>

// The output of a poppler tool, empty when it fails.
inline QString PopplerOutput(const QString& tool, const QStringList& args)
{
    QProcess process;
    process.start(tool, args);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// A page of `lines` lines (fine resolution unless `flags` say otherwise),
// each black from pixel `from` to pixel `to` of a `width`-pixel line, ending
// in the end-of-page mark.
inline TestPage BarPage(int lines, int from = 0, int to = 1728, int width = 1728, uint16_t flags = kApfFine)
{
    CodeWriter code;
    code.Eol();
    for (int i = 0; i < lines; ++i)
        code.Line({from, to - from, width - to});
    code.Eol();
    code.Eol();
    return {code.Bytes(), flags};
}

struct PdfImage {
    int width = 0;
    int height = 0;
    int xPpi = 0;
    int yPpi = 0;
};

// The images of a PDF file as pdfimages -list gives them: size in pixels
// and the resolution they are printed at.
inline std::vector<PdfImage> PdfImages(const std::string& pdf)
{
    std::vector<PdfImage> images;
    const QStringList lines = PopplerOutput("pdfimages", {"-list", QString::fromStdString(pdf)}).split('\n');
    for (int i = 2; i < lines.size(); ++i) { // after the heading and its rule
        const QStringList f = lines[i].simplified().split(' ');
        if (f.size() >= 14)
            images.push_back({f[3].toInt(), f[4].toInt(), f[12].toInt(), f[13].toInt()});
    }
    return images;
}

// A page whose header promises far more data than the file holds: its
// decoding fails before the end-of-page mark.
inline TestPage CutPage()
{
    CodeWriter code;
    code.Eol();
    for (int i = 0; i < 20; ++i)
        code.Line({300, 1000, 428});
    return {code.Bytes(), kApfFine, 100000};
}

inline int PdfPageCount(const std::string& pdf)
{
    const QString info = PopplerOutput("pdfinfo", {QString::fromStdString(pdf)});
    for (const QString& line : info.split('\n'))
        if (line.startsWith("Pages:"))
            return line.mid(6).trimmed().toInt();
    return -1;
}

// The text of one sheet, or of a part of it given as fractions of the
// sheet (left, top, width, height), with runs of blanks made single.
inline QString PdfText(const std::string& pdf, int sheet, const QRectF& part = QRectF(0, 0, 1, 1))
{
    QStringList args = {"-f", QString::number(sheet), "-l", QString::number(sheet), "-layout"};
    // Crop boxes are in pixels at the -r resolution: at 72 they are points,
    // the unit pdfinfo gives the sheet size in.
    const QString size = PopplerOutput("pdfinfo", {"-f", QString::number(sheet), "-l", QString::number(sheet),
                                                   QString::fromStdString(pdf)});
    double width = 0, height = 0;
    for (const QString& line : size.split('\n'))
        if (line.startsWith("Page") && line.contains("size:")) {
            const QStringList words = line.mid(line.indexOf("size:") + 5).simplified().split(' ');
            if (words.size() >= 3) {
                width = words[0].toDouble();
                height = words[2].toDouble();
            }
        }
    args << "-r" << "72" << "-x" << QString::number(int(part.left() * width)) << "-y"
         << QString::number(int(part.top() * height)) << "-W" << QString::number(int(part.width() * width)) << "-H"
         << QString::number(int(part.height() * height)) << QString::fromStdString(pdf) << "-";
    return PopplerOutput("pdftotext", args).simplified();
}

// One sheet rasterised in grey at `dpi`.
inline QImage PdfRaster(const std::string& pdf, int sheet, int dpi = 30)
{
    QTemporaryDir dir;
    const QString base = dir.filePath("sheet");
    QProcess::execute("pdftoppm", {"-f", QString::number(sheet), "-l", QString::number(sheet), "-r",
                                   QString::number(dpi), "-gray", "-singlefile", QString::fromStdString(pdf), base});
    return QImage(base + ".pgm").convertToFormat(QImage::Format_Grayscale8);
}

// Share of dark pixels in a part of the image given as fractions.
inline double Ink(const QImage& image, const QRectF& part)
{
    const QRect area(int(part.left() * image.width()), int(part.top() * image.height()),
                     int(part.width() * image.width()), int(part.height() * image.height()));
    long dark = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            dark += qGray(image.pixel(x, y)) < 128;
    return area.isEmpty() ? 0.0 : double(dark) / (double(area.width()) * area.height());
}

// The smallest rectangle holding every dark pixel.
inline QRect InkBounds(const QImage& image)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

inline const QRectF kTopLeft(0, 0, 0.5, 0.5);
inline const QRectF kTopRight(0.5, 0, 0.5, 0.5);
inline const QRectF kBottomLeft(0, 0.5, 0.5, 0.5);
inline const QRectF kBottomRight(0.5, 0.5, 0.5, 0.5);
