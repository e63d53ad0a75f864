// Text recognition and the text index. Recognition time per fine A4 page
// with one and two worker threads; the viewer's page change and the Browse
// Faxes filter with recognition off and running beside them (goals 16 ms
// and 100 ms); and searches over an index of 100 000 pages (goal 50 ms).
// Run with OMP_THREAD_LIMIT=1, as the program sets it for itself.
#include "app/core/fax_catalogue.h"
#include "app/core/fax_text.h"
#include "app/core/text_index.h"
#include "app/core/text_recognition.h"
#include "app/platform/message_box.h"
#include "app/ui/main_window.h"
#include "app/ui/view_form.h"
#include "fax/view/fax_viewer.h"
#include "qdb/record_view.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

namespace {

// The two-page A4 fax of tools/make_text_fixtures.py --a4, made once.
QString A4Fax()
{
    static QTemporaryDir folder;
    static const QString path = [] {
        QProcess::execute(QStringLiteral("python3"), {QStringLiteral(PELLIMAR_SOURCE_DIR "/tools/make_text_fixtures.py"),
                                                      folder.path(), QStringLiteral("--a4")});
        return folder.filePath(QStringLiteral("text-a4.apf"));
    }();
    return path;
}

// Keeps `workers` threads reading A4 pages until it is destroyed.
class TBackgroundReading {
public:
    explicit TBackgroundReading(int workers)
    {
        if (workers == 0)
            return;
        recognition_ = std::make_unique<TTextRecognition>(workers);
        for (int i = 0; i < 200; ++i)
            recognition_->Enqueue({QStringLiteral("faxes\\busy%1.apf").arg(i), A4Fax(), QStringLiteral("eng"), {}});
        // Under way: the language loaded, the first pages being read.
        QElapsedTimer started;
        started.start();
        while (started.elapsed() < 1500)
            QApplication::processEvents();
    }

private:
    std::unique_ptr<TTextRecognition> recognition_;
};

void BM_RecognitionPerA4Page(benchmark::State& state)
{
    const int workers = int(state.range(0));
    const int faxes = 2 * workers;
    int pages = 0;
    for (auto _ : state) {
        TTextRecognition recognition(workers);
        recognition.OnPageRead = [&](const QString&, const TPageText&) { ++pages; };
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < faxes; ++i)
            recognition.Enqueue({QStringLiteral("faxes\\a4-%1.apf").arg(i), A4Fax(), QStringLiteral("eng"), {}});
        while (recognition.FaxesLeft() > 0)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    state.counters["pages"] = pages;
    state.counters["s_per_page"] =
        benchmark::Counter(double(pages), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RecognitionPerA4Page)->Arg(1)->Arg(2)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Turning between the A4 fax's two pages in the viewer window.
void BM_ViewerPageChange(benchmark::State& state)
{
    TViewForm viewer;
    viewer.resize(900, 700);
    viewer.show();
    viewer.OpenFax(A4Fax());
    QApplication::processEvents();
    const TBackgroundReading reading(int(state.range(0)));
    int page = 1;
    for (auto _ : state) {
        page = 3 - page;
        viewer.PageBoxChange(page);
        viewer.FaxViewer->viewport()->repaint();
    }
}
BENCHMARK(BM_ViewerPageChange)->ArgName("workers")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The Browse Faxes filter over 20 000 faxes whose texts are in the index.
void BM_BrowserFilter(benchmark::State& state)
{
    QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    QDir().mkpath(QStringLiteral("faxes"));
    qputenv("PELLIMAR_PPP_PEERS", "/nonexistent");
    qputenv("PELLIMAR_TEXT_WORKERS", "0");
    SetMessageHandler([](TMessageKind, const QString&, const QString&) { return TMessageAnswer::Yes; });
    {
        TTextIndex index;
        index.Open(QLatin1String(kTextIndexFileName));
        const QStringList words = {QStringLiteral("invoice"), QStringLiteral("order"), QStringLiteral("harbour"),
                                   QStringLiteral("tractor"), QStringLiteral("spring")};
        for (int i = 0; i < 20000; ++i)
            index.StorePage(QStringLiteral("faxes\\fax%1.apf").arg(100000 + i),
                            {1, words[i % 5] + QStringLiteral(" of the day ") + QString::number(i), {}, {}});
    }
    auto window = std::make_unique<TForm1>();
    qdb::TQDBView& view = *window->QDBView;
    for (int i = 0; i < 20000; ++i) {
        view.Insert();
        window->edtFilename->setText(QStringLiteral("faxes\\fax%1.apf").arg(100000 + i));
        window->edtStatus->setText(QStringLiteral("New"));
        window->edtSenderID->setText(QStringLiteral("+49 30 %1").arg(5550000 + i % 977));
        view.Post();
    }
    view.Flush();
    window->resize(900, 700);
    window->show();
    window->pgCntrl->setCurrentWidget(window->BrowseFaxesSheet);
    QApplication::processEvents();
    const TBackgroundReading reading(int(state.range(0)));
    // A common word of the texts (4 000 faxes), then a sender.
    int round = 0;
    for (auto _ : state) {
        window->edtGridFilter->setText(++round % 2 ? QStringLiteral("invoice") : QStringLiteral("555"));
        QApplication::processEvents();
    }
    window.reset();
    SetMessageHandler({});
    QDir::setCurrent(QDir::tempPath());
}
BENCHMARK(BM_BrowserFilter)->ArgName("workers")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// An index of 100 000 pages of 150 words each from a vocabulary of 20 000,
// kept between runs in the temporary folder (it takes a while to make).
const TTextIndex& LargeIndex()
{
    static TTextIndex index;
    static bool opened = false;
    if (opened)
        return index;
    opened = true;
    const QString path = QDir::temp().filePath(QStringLiteral("pellimar-bench-text-100k.db"));
    const bool made = QFile::exists(path);
    index.Open(path);
    if (made && index.Search({QStringLiteral("w19999")}, 1).size() == 1)
        return index;
    QRandomGenerator random(7);
    for (int page = 0; page < 100000; ++page) {
        QString text;
        for (int word = 0; word < 150; ++word) {
            // Zipf-like: a few words are on most pages, most are rare.
            const int rank = int(20000.0 * std::pow(random.generateDouble(), 3.0));
            text += QStringLiteral("w%1 ").arg(rank);
        }
        if (page == 99999)
            text += QStringLiteral("w19999");
        index.StorePage(QStringLiteral("faxes\\fax%1.apf").arg(page / 4), {page % 4 + 1, text, {}, {}});
    }
    return index;
}

void BM_SearchCommonWord(benchmark::State& state)
{
    const TTextIndex& index = LargeIndex();
    size_t keys = 0;
    for (auto _ : state)
        keys = index.MatchingKeys({QStringLiteral("w1")}).size();
    state.counters["faxes_found"] = double(keys);
}
BENCHMARK(BM_SearchCommonWord)->Unit(benchmark::kMillisecond);

void BM_SearchTwoWords(benchmark::State& state)
{
    const TTextIndex& index = LargeIndex();
    size_t hits = 0;
    for (auto _ : state)
        hits = index.Search({QStringLiteral("w120"), QStringLiteral("w4000")}).size();
    state.counters["pages_found"] = double(hits);
}
BENCHMARK(BM_SearchTwoWords)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
