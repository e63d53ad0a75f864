// Pages per second decoding the fax fixtures: Pellimar's page decoder
// (lines only, and whole page bitmaps) against libtiff decoding the same
// Group 3 data wrapped as TIFF files.
#include "fax/apf_file.h"
#include "fax/page_bitmap.h"
#include "fax/page_decoder.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct FixturePage {
    std::string apf;
    int page;
    int width;
    int rows; // as many as libtiff decodes (the reference's height)
    std::string tiff;
};

const std::string kData = PELLIMAR_SOURCE_DIR "/tests/data/fax/";

std::vector<uint8_t> PageData(const std::string& apf, int page, ApfPageHeader& header)
{
    ApfReader reader;
    ApfFileHeader fileHeader;
    if (reader.Open(apf) || reader.ReadFileHeader(fileHeader) || reader.SeekPage(fileHeader, page, header))
        throw std::runtime_error("cannot read " + apf);
    std::vector<uint8_t> data(header.ImageLength());
    if (reader.ReadExact(data.data(), data.size()))
        throw std::runtime_error("short page in " + apf);
    return data;
}

// One strip of one-dimensional Group 3 data, least significant bit first,
// exactly as the APF file holds it.
void WriteTiff(const std::string& path, const std::vector<uint8_t>& data, int width, int rows, bool fine)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        throw std::runtime_error("cannot write " + path);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, rows);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, fine ? 196.0 : 98.0);
    TIFFWriteRawStrip(tif, 0, const_cast<uint8_t*>(data.data()), static_cast<tmsize_t>(data.size()));
    TIFFClose(tif);
}

class Fixtures {
public:
    Fixtures()
    {
        TIFFSetWarningHandler(nullptr);
        const struct { const char* name; int pages; } files[] = {
            {"text-standard", 1}, {"text-fine", 1}, {"lines-standard", 1}, {"black-fine", 1}, {"multi", 3}, {"wide", 1}};
        for (const auto& file : files) {
            for (int page = 1; page <= file.pages; ++page) {
                FixturePage p;
                p.apf = kData + file.name + ".apf";
                p.page = page;
                const QImage reference(QString::fromStdString(kData + file.name + "-" + std::to_string(page) + ".png"));
                p.width = reference.width();
                p.rows = reference.height();
                ApfPageHeader header;
                const std::vector<uint8_t> data = PageData(p.apf, page, header);
                p.tiff = QDir(dir_.path()).filePath(QString::fromStdString(std::string(file.name) + std::to_string(page) + ".tif")).toStdString();
                WriteTiff(p.tiff, data, p.width, p.rows, header.Flags() & kApfFine);
                pages.push_back(p);
            }
        }
    }
    std::vector<FixturePage> pages;

private:
    QTemporaryDir dir_;
};

Fixtures& AllPages()
{
    static Fixtures fixtures;
    return fixtures;
}

std::unique_ptr<UnpackState> QuietState()
{
    std::unique_ptr<UnpackState> state;
    CreateUnpackState(state, nullptr, nullptr);
    state->options = 0; // no yielding, no aspect correction: lines as coded
    return state;
}

void BM_PellimarDecodeLines(benchmark::State& run)
{
    auto state = QuietState();
    int64_t lines = 0;
    state->lineCallback = [&lines](UnpackState&, int, const uint8_t*, int, int) { return ++lines, 0; };
    for (auto _ : run)
        for (const FixturePage& p : AllPages().pages)
            if (DecodeApfPage(*state, p.apf, p.page) != 0)
                run.SkipWithError("decode failed");
    benchmark::DoNotOptimize(lines);
    run.SetItemsProcessed(run.iterations() * static_cast<int64_t>(AllPages().pages.size()));
}

void BM_PellimarUnpackBitmap(benchmark::State& run)
{
    auto state = QuietState();
    for (auto _ : run) {
        for (const FixturePage& p : AllPages().pages) {
            int width = 0;
            int height = 0;
            QImage bitmap;
            if (UnpackPageToBitmap(*state, p.apf, p.page, true, width, height, bitmap) != 0)
                run.SkipWithError("unpack failed");
            benchmark::DoNotOptimize(bitmap.constBits());
        }
    }
    run.SetItemsProcessed(run.iterations() * static_cast<int64_t>(AllPages().pages.size()));
}

void BM_LibtiffDecode(benchmark::State& run)
{
    std::vector<uint8_t> line(2048 / 8);
    for (auto _ : run) {
        for (const FixturePage& p : AllPages().pages) {
            TIFF* tif = TIFFOpen(p.tiff.c_str(), "r");
            for (int row = 0; row < p.rows; ++row)
                TIFFReadScanline(tif, line.data(), static_cast<uint32_t>(row), 0);
            TIFFClose(tif);
            benchmark::DoNotOptimize(line.data());
        }
    }
    run.SetItemsProcessed(run.iterations() * static_cast<int64_t>(AllPages().pages.size()));
}

BENCHMARK(BM_PellimarDecodeLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PellimarUnpackBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibtiffDecode)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
