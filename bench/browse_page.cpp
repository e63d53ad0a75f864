// The Browse Faxes page over a catalogue of 100 000 faxes made through the
// record view: showing the page (rows served from the catalogue as they come
// into sight), View and Remove. Beside them, the same catalogue copied record
// by record into a string grid (QTableWidget) as a grid of plain cells does,
// and the bare engine work (one record changed, Flush) that View and Remove
// cannot go below.
#include "app/ui/browse_page.h"
#include "app/ui/forms.h"
#include "app/ui/main_window.h"
#include "app/platform/message_box.h"
#include "app/ui/view_form.h"
#include "qdb/record_view.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int kFaxes = 100000;
const char* kFaxFile = PELLIMAR_SOURCE_DIR "/tests/data/fax/black-fine.apf";

QString FaxName(int i) { return QStringLiteral("faxes\\fax%1.apf").arg(100000 + i); }

// One program folder with the catalogue, the window over it and a viewer.
struct Catalogue {
    Catalogue()
    {
        QDir::setCurrent(folder.path());
        QDir().mkpath(QStringLiteral("faxes"));
        qputenv("PELLIMAR_PPP_PEERS", "/nonexistent");
        SetMessageHandler([](TMessageKind, const QString&, const QString&) { return TMessageAnswer::Yes; });
        window = std::make_unique<TForm1>();
        viewer = std::make_unique<TViewForm>();
        ViewForm = viewer.get();
        qdb::TQDBView& view = *window->QDBView;
        for (int i = 0; i < kFaxes; ++i) {
            view.Insert();
            window->edtFilename->setText(FaxName(i));
            window->edtStatus->setText(i % 3 ? QStringLiteral("Viewed") : QStringLiteral("New"));
            window->edtSenderID->setText(QStringLiteral("+49 30 %1").arg(5550000 + i % 977));
            const QString date = QStringLiteral("%1/%2/2026 %3:%4 %5")
                                     .arg(1 + i % 12, 2, 10, QLatin1Char('0'))
                                     .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                                     .arg(1 + i % 12, 2, 10, QLatin1Char('0'))
                                     .arg(i % 60, 2, 10, QLatin1Char('0'))
                                     .arg(i % 2 ? QStringLiteral("PM") : QStringLiteral("AM"));
            window->edtFaxDate->setText(date);
            window->edteMailDate->setText(date);
            view.Post();
        }
        view.Flush();
        window->resize(900, 700);
        window->show();
        QApplication::processEvents();
    }
    ~Catalogue()
    {
        ViewForm = nullptr;
        viewer.reset();
        window.reset();
        SetMessageHandler({});
    }

    void ShowPage()
    {
        window->pgCntrl->setCurrentWidget(window->ConnectSheet);
        window->pgCntrl->setCurrentWidget(window->BrowseFaxesSheet);
        window->faxGrid->viewport()->repaint();
    }
    void Select(int row)
    {
        window->faxGrid->selectRow(row);
        // The fax file of the row, for the viewer to open and Remove to delete.
        const QString path = window->Browser->SelectedName().replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (!QFile::exists(path))
            QFile::copy(QString::fromLatin1(kFaxFile), path);
    }

    QTemporaryDir folder;
    std::unique_ptr<TForm1> window;
    std::unique_ptr<TViewForm> viewer;
};

Catalogue& Shared()
{
    static Catalogue catalogue;
    return catalogue;
}

void BM_ShowBrowsePage(benchmark::State& state)
{
    Catalogue& c = Shared();
    for (auto _ : state)
        c.ShowPage();
    state.counters["rows"] = double(c.window->faxGrid->model()->rowCount());
}
BENCHMARK(BM_ShowBrowsePage)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The peer: every record walked through the record panel into grid cells.
void BM_FillStringGrid(benchmark::State& state)
{
    Catalogue& c = Shared();
    qdb::TQDBView& view = *c.window->QDBView;
    QTableWidget grid(0, 6);
    for (auto _ : state) {
        grid.setRowCount(0);
        grid.setRowCount(view.Count());
        view.First();
        for (int row = 0; row < view.Count(); ++row) {
            if (row > 0)
                view.Next();
            const QLineEdit* fields[] = {c.window->edtStatus, c.window->edtFilename, c.window->edtSenderID,
                                         c.window->edtFaxDate, c.window->edteMailDate};
            for (int column = 0; column < 5; ++column)
                grid.setItem(row, column, new QTableWidgetItem(fields[column]->text()));
        }
        grid.viewport()->repaint();
    }
}
BENCHMARK(BM_FillStringGrid)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ViewFax(benchmark::State& state)
{
    Catalogue& c = Shared();
    c.ShowPage();
    int row = kFaxes / 2;
    for (auto _ : state) {
        state.PauseTiming();
        c.Select(row++);
        state.ResumeTiming();
        c.window->Browser->BitBtn5Click();
    }
}
BENCHMARK(BM_ViewFax)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_RemoveFax(benchmark::State& state)
{
    Catalogue& c = Shared();
    c.ShowPage();
    for (auto _ : state) {
        state.PauseTiming();
        c.Select(kFaxes / 3);
        state.ResumeTiming();
        c.window->Browser->BitBtn4Click();
    }
    state.counters["rows"] = double(c.window->faxGrid->model()->rowCount());
}
BENCHMARK(BM_RemoveFax)->Unit(benchmark::kMillisecond)->Iterations(20);

// The floor of View and Remove: one record rewritten and the catalogue flushed.
void BM_ChangeAndFlush(benchmark::State& state)
{
    Catalogue& c = Shared();
    qdb::TQDBView& view = *c.window->QDBView;
    int i = 0;
    for (auto _ : state) {
        view.FindKey(FaxName(kFaxes / 2 + i++ % 1000).toStdString());
        view.ChangeItem(view.GetItem());
        view.Flush();
    }
}
BENCHMARK(BM_ChangeAndFlush)->Unit(benchmark::kMillisecond)->Iterations(20);

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
