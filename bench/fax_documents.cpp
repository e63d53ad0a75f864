// The fax viewer on fine letter-size pages from a Group 4 TIFF and from a
// PDF of it: a page change from setting CurrentPage to the page painted at
// 100 %, next to the library's own work in the same run (libtiff decoding
// the page; Poppler opening the file and rendering the page at the image's
// resolution). The files are made at start by fax2tiff, tiffcp and tiff2pdf
// from the APF fixture.
#include "fax/view/fax_viewer.h"

#include <poppler-qt6.h>
#include <tiffio.h>

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

const QString kApf = QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/fax/multi.apf");

struct Files {
    QTemporaryDir dir;
    QString tiff;
    QString pdf;
};

bool Run(const QString& tool, const QStringList& args)
{
    QProcess process;
    process.start(tool, args);
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

// The APF fixture's pages as raw Group 3 data, then a G4 TIFF, then a PDF.
const Files& TheFiles()
{
    static Files files = [] {
        Files f;
        QFile apf(kApf);
        apf.open(QIODevice::ReadOnly);
        const QByteArray data = apf.readAll();
        auto u16 = [&](qsizetype at) { return uint8_t(data[at]) | uint8_t(data[at + 1]) << 8; };
        auto u32 = [&](qsizetype at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
        QStringList raws;
        qsizetype offset = u32(34);
        for (int page = 0; page < u16(32); ++page) {
            const uint32_t length = u32(offset);
            QFile raw(f.dir.filePath(QStringLiteral("page%1.g3").arg(page)));
            raw.open(QIODevice::WriteOnly);
            raw.write(data.mid(offset + 16, length));
            raws << raw.fileName();
            offset += 16 + length;
        }
        const QString g3 = f.dir.filePath("g3.tif");
        f.tiff = f.dir.filePath("fax.tif");
        f.pdf = f.dir.filePath("fax.pdf");
        if (!Run("fax2tiff", QStringList{"-1", "-L", "-R", "196", "-o", g3} + raws) ||
            !Run("tiffcp", {"-c", "g4", g3, f.tiff}) || !Run("tiff2pdf", {"-o", f.pdf, f.tiff}))
            std::abort();
        return f;
    }();
    return files;
}

// libtiff alone: open the file, go to page 2 and decode every row.
void BM_LibtiffDecodePage(benchmark::State& state)
{
    const QByteArray name = QFile::encodeName(TheFiles().tiff);
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(name.constData(), "rm");
        TIFFSetDirectory(tif, 1);
        uint32_t height = 0;
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        std::vector<uint8_t> rows(static_cast<std::size_t>(TIFFScanlineSize(tif)) * height);
        for (uint32_t y = 0; y < height; ++y)
            TIFFReadScanline(tif, rows.data() + y * static_cast<std::size_t>(TIFFScanlineSize(tif)), y, 0);
        TIFFClose(tif);
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK(BM_LibtiffDecodePage)->Unit(benchmark::kMillisecond);

// Poppler alone: open the file and render page 2 at 204 x 196 dpi.
void BM_PopplerRenderPage(benchmark::State& state)
{
    for (auto _ : state) {
        std::unique_ptr<Poppler::Document> pdf = Poppler::Document::load(TheFiles().pdf);
        const QImage image = pdf->page(1)->renderToImage(204, 196);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PopplerRenderPage)->Unit(benchmark::kMillisecond);

void PageChange(benchmark::State& state, const QString& file)
{
    TKivFaxViewer viewer;
    viewer.resize(1024, 768);
    viewer.show();
    viewer.SetFileName(file);
    QCoreApplication::processEvents();
    int page = 1;
    for (auto _ : state) {
        page = page == 2 ? 3 : 2;
        viewer.SetCurrentPage(page);
        viewer.viewport()->repaint();
    }
}

void BM_TiffPageChange(benchmark::State& state) { PageChange(state, TheFiles().tiff); }
BENCHMARK(BM_TiffPageChange)->Unit(benchmark::kMillisecond);

void BM_PdfPageChange(benchmark::State& state) { PageChange(state, TheFiles().pdf); }
BENCHMARK(BM_PdfPageChange)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
