// The fax viewer on a fine letter-size page: a page change from setting
// CurrentPage to the page painted (at 100 % and at 50 %), one scroll step
// with its repaint, and, in the same run, decoding the page alone.
#include "fax/page_bitmap.h"
#include "fax/view/fax_viewer.h"

#include <QApplication>
#include <QKeyEvent>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

const std::string kFax = PELLIMAR_SOURCE_DIR "/tests/data/fax/multi.apf";

// Decoding only, with and without letting pending events through.
void BM_DecodePage(benchmark::State& state)
{
    std::unique_ptr<UnpackState> unpack;
    CreateUnpackState(unpack, nullptr, nullptr);
    if (state.range(0) == 0)
        ClearUnpackOption(*unpack, kUnpackYield);
    for (auto _ : state) {
        int width = 0;
        int height = 0;
        QImage image;
        if (UnpackPageToBitmap(*unpack, kFax, 2, true, width, height, image) != 0)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image);
    }
}
BENCHMARK(BM_DecodePage)->ArgName("yield")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

std::unique_ptr<TKivFaxViewer> ShownViewer(int divisor)
{
    auto viewer = std::make_unique<TKivFaxViewer>();
    viewer->resize(1024, 768);
    viewer->show();
    viewer->SetFileName(QString::fromStdString(kFax));
    viewer->SetHorizDiv(divisor);
    viewer->SetVertDiv(divisor);
    viewer->SetScaling(divisor != 1);
    QCoreApplication::processEvents();
    return viewer;
}

void BM_PageChange(benchmark::State& state)
{
    auto viewer = ShownViewer(static_cast<int>(state.range(0)));
    int page = 1;
    for (auto _ : state) {
        page = page == 2 ? 3 : 2;
        viewer->SetCurrentPage(page);
        viewer->viewport()->repaint();
    }
}
BENCHMARK(BM_PageChange)->ArgName("divisor")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_ScrollStep(benchmark::State& state)
{
    auto viewer = ShownViewer(static_cast<int>(state.range(0)));
    bool down = true;
    for (auto _ : state) {
        QKeyEvent press(QEvent::KeyPress, down ? Qt::Key_Down : Qt::Key_Up, Qt::NoModifier);
        QApplication::sendEvent(viewer.get(), &press);
        QCoreApplication::processEvents(); // paints the uncovered strip
        down = !down;
    }
}
BENCHMARK(BM_ScrollStep)->ArgName("divisor")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

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
