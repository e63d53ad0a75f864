#include "app/core/page_reader.h"

#include "fax/kiv_errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>

#include <cmath>

namespace {

// Where Debian's tesseract-ocr-* packages put the recognition data, newest
// first; TESSDATA_PREFIX, as Tesseract itself reads it, comes before them.
QStringList DataFolders()
{
    QStringList folders;
    const QString prefix = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!prefix.isEmpty())
        folders << prefix << prefix + QStringLiteral("/tessdata");
    folders << QStringLiteral("/usr/share/tesseract-ocr/5/tessdata") << QStringLiteral("/usr/share/tesseract-ocr/4.00/tessdata")
            << QStringLiteral("/usr/share/tessdata");
    return folders;
}

// Tesseract asks the cancel function between words: `data` is the flag.
bool CancelRequested(void* data, int)
{
    return static_cast<const std::atomic<bool>*>(data)->load(std::memory_order_relaxed);
}

// A resolution the page claims, else the fax standard one for its flags.
double Dpi(double claimed, double fallback) { return claimed >= 50 && claimed <= 1200 ? claimed : fallback; }

} // namespace

QImage PrepareFaxPage(const QImage& page, const FaxPageFormat& format)
{
    if (page.isNull() || page.width() <= 0 || page.height() <= 0)
        return {};
    const double xDpi = Dpi(format.xDpi, 204.0);
    const double yDpi = Dpi(format.yDpi, (format.flags & kApfFine) ? 196.0 : 98.0);
    const int width = int(std::lround(page.width() * kRecognitionDpi / xDpi));
    const int height = int(std::lround(page.height() * kRecognitionDpi / yDpi));
    if (!FaxPageWithinBounds(width, height, kMaxColourPagePixels))
        return {};
    // Grey first, so that the upsampling smooths the steps of the fax pixels.
    const QImage grey = page.convertToFormat(QImage::Format_Grayscale8);
    return grey.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QStringList InstalledTextLanguages()
{
    QStringList languages;
    for (const QString& folder : DataFolders()) {
        for (const QString& file : QDir(folder).entryList({QStringLiteral("*.traineddata")}, QDir::Files, QDir::Name)) {
            const QString language = file.chopped(int(qstrlen(".traineddata")));
            if (language != QLatin1String("osd") && language != QLatin1String("equ") && !languages.contains(language))
                languages << language;
        }
        if (!languages.isEmpty())
            break; // Tesseract reads one folder: the first that has data
    }
    languages.sort();
    return languages;
}

TPageReader::TPageReader() = default;

TPageReader::~TPageReader()
{
    if (api_)
        api_->End();
}

bool TPageReader::UseLanguage(const QString& language)
{
    if (api_ && language == language_)
        return true;
    if (!api_)
        api_ = std::make_unique<tesseract::TessBaseAPI>();
    else
        api_->End();
    language_.clear();
    // Only a plain language name reaches Tesseract: no path, no list.
    const bool plain = !language.isEmpty() && language.size() < 64
                       && std::all_of(language.begin(), language.end(), [](QChar c) {
                              return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-');
                          });
    if (!plain || !InstalledTextLanguages().contains(language)
        || api_->Init(nullptr, language.toUtf8().constData(), tesseract::OEM_LSTM_ONLY) != 0) {
        problem_ = QStringLiteral("The recognition data for the language \"%1\" is not installed (Debian package "
                                  "tesseract-ocr-%1).")
                       .arg(language);
        return false;
    }
    // Fax pages hold blocks of text in columns: the automatic layout analysis.
    api_->SetPageSegMode(tesseract::PSM_AUTO);
    language_ = language;
    problem_.clear();
    return true;
}

bool TPageReader::Read(const QImage& page, const FaxPageFormat& format, int number, const std::atomic<bool>& cancel,
                       TPageText& text)
{
    if (!api_ || language_.isEmpty())
        return false;
    const QImage prepared = PrepareFaxPage(page, format);
    if (prepared.isNull()) {
        problem_ = QStringLiteral("Page %1 is too large to be read.").arg(number);
        return false;
    }
    const double xScale = double(prepared.width()) / page.width();
    const double yScale = double(prepared.height()) / page.height();
    api_->SetImage(prepared.constBits(), prepared.width(), prepared.height(), 1, int(prepared.bytesPerLine()));
    api_->SetSourceResolution(int(kRecognitionDpi));

    tesseract::ETEXT_DESC monitor;
    monitor.cancel = &CancelRequested;
    monitor.cancel_this = const_cast<std::atomic<bool>*>(&cancel);
    const int status = api_->Recognize(&monitor);
    if (cancel.load() || status != 0) {
        api_->Clear();
        return false;
    }

    text.Page = number;
    text.Size = page.size();
    text.Words.clear();
    const std::unique_ptr<char[]> all(api_->GetUTF8Text());
    text.Text = all ? QString::fromUtf8(all.get()) : QString();
    const std::unique_ptr<tesseract::ResultIterator> words(api_->GetIterator());
    if (words) {
        do {
            const std::unique_ptr<char[]> word(words->GetUTF8Text(tesseract::RIL_WORD));
            int left = 0, top = 0, right = 0, bottom = 0;
            if (!word || !words->BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom))
                continue;
            // Back to the page's own pixels.
            const QRect box(QPoint(int(left / xScale), int(top / yScale)),
                            QPoint(int(std::ceil(right / xScale)) - 1, int(std::ceil(bottom / yScale)) - 1));
            text.Words.push_back({box, QString::fromUtf8(word.get())});
        } while (words->Next(tesseract::RIL_WORD));
    }
    api_->Clear();
    return true;
}

TFaxReadOutcome ReadFaxFile(TPageReader& reader, const QString& path, const QString& language, const QSet<int>& skip,
                            const std::atomic<bool>& cancel, const std::function<void(TPageText&&)>& onPage,
                            int& pageCount, QString& problem)
{
    pageCount = 0;
    if (!reader.UseLanguage(language)) {
        problem = reader.Problem();
        return TFaxReadOutcome::NoLanguage;
    }
    if (!QFileInfo(path).isFile()) {
        problem = QStringLiteral("its file %1 is missing").arg(path);
        return TFaxReadOutcome::Missing;
    }
    std::unique_ptr<FaxDocument> document;
    const int opened = OpenFaxDocument(QFile::encodeName(path).toStdString(), document);
    if (opened != 0) {
        problem = QString::fromLocal8Bit(KivErrorMessage(opened));
        return TFaxReadOutcome::NotAFax;
    }
    pageCount = document->PageCount();
    for (int page = 1; page <= pageCount; ++page) {
        if (cancel)
            return TFaxReadOutcome::Cancelled;
        if (skip.contains(page))
            continue;
        QImage bitmap;
        FaxPageFormat format;
        TPageText text;
        if (document->RenderPage(page, bitmap, format) != 0 || !reader.Read(bitmap, format, page, cancel, text)) {
            if (cancel)
                return TFaxReadOutcome::Cancelled;
            text = TPageText{page, {}, {}, {}};
        }
        onPage(std::move(text));
    }
    return TFaxReadOutcome::Read;
}
