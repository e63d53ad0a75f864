#pragma once
// Reads the words of one fax page with Tesseract. A fax page is prepared
// the way fax images need: a standard-resolution page, whose rows are twice
// as far apart as its columns, is stretched to square pixels, and the page
// is upsampled to about 300 dots per inch with smoothing, the resolution the
// recogniser's models are trained for. Word boxes are given back in pixels
// of the page as the fax holds it.
#include "app/core/text_index.h"
#include "fax/fax_document.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <QSet>

#include <atomic>
#include <functional>
#include <memory>

namespace tesseract {
class TessBaseAPI;
}

// The resolution pages are brought to for recognition.
constexpr double kRecognitionDpi = 300.0;

// `page` (Format_Mono, set bits black) as an 8-bit grey image at about
// kRecognitionDpi either way; null when the page is empty or too large.
QImage PrepareFaxPage(const QImage& page, const FaxPageFormat& format);

// The languages whose recognition data is installed ("eng", "deu", ...), in
// name order; the script and orientation data are no language and are left out.
QStringList InstalledTextLanguages();

// The language recognition uses unless the user chose another.
constexpr const char* kDefaultTextLanguage = "eng";

class TPageReader {
public:
    TPageReader();
    ~TPageReader();
    TPageReader(const TPageReader&) = delete;
    TPageReader& operator=(const TPageReader&) = delete;

    // Loads `language`'s data unless it is loaded already; false (Problem()
    // says why) when it is not installed.
    bool UseLanguage(const QString& language);
    QString Problem() const { return problem_; }

    // Reads page `number` as `page` and `format` came from the document.
    // Returns false when `cancel` was raised during the reading (the page is
    // then left unread) or the page cannot be read.
    bool Read(const QImage& page, const FaxPageFormat& format, int number, const std::atomic<bool>& cancel,
              TPageText& text);

private:
    std::unique_ptr<tesseract::TessBaseAPI> api_;
    QString language_;
    QString problem_;
};

// How reading a whole fax file ended.
enum class TFaxReadOutcome { Read, Cancelled, NoLanguage, Missing, NotAFax };

// Reads every page of the fax file at `path` except those in `skip`, in
// `language`, handing each page to `onPage` as soon as it is read. A page
// that cannot be decoded is handed on without words. `problem` says why the
// outcome is not Read; `pageCount` is the file's page count.
TFaxReadOutcome ReadFaxFile(TPageReader& reader, const QString& path, const QString& language, const QSet<int>& skip,
                            const std::atomic<bool>& cancel, const std::function<void(TPageText&&)>& onPage,
                            int& pageCount, QString& problem);
