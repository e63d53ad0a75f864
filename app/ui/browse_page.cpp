#include "app/ui/browse_page.h"

#include "app/ui/browse_model.h"
#include "app/ui/forms.h"
#include "app/core/fax_catalogue.h"
#include "app/core/fax_rules.h"
#include "app/core/fax_text.h"
#include "app/platform/message_box.h"
#include "app/ui/view_form.h"
#include "qdb/record_view.h"

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>

namespace {

// Where each grid column's field sits in a stored record (the panel's order).
std::array<int, TFaxGridModel::kCellCount> FieldsOfColumns(const qdb::TQDBView& view, int& fieldCount)
{
    const char* names[TFaxGridModel::kCellCount] = {"edtStatus", "edtFilename", "edtSenderID", "edtFaxDate",
                                                     "edteMailDate"};
    const auto& fields = view.Fields();
    fieldCount = int(fields.size());
    std::array<int, TFaxGridModel::kCellCount> columns{};
    for (int column = 0; column < TFaxGridModel::kCellCount; ++column) {
        const auto at = std::find_if(fields.begin(), fields.end(),
                                     [&](const auto& field) { return field.first == names[column]; });
        columns[size_t(column)] = at == fields.end() ? -1 : int(at - fields.begin());
    }
    return columns;
}

std::string Key(const QString& name) { return name.toLatin1().toStdString(); }

} // namespace

TFaxBrowser::TFaxBrowser(TFaxCatalogue& catalogue, const bool& databaseEmpty, QTabWidget& pages, QWidget& sheet,
                         QTableView& grid, QLineEdit& filter)
    : QObject(&grid), catalogue_(&catalogue), databaseEmpty_(databaseEmpty), pages_(pages), sheet_(sheet), grid_(grid),
      filter_(filter)
{
    int fieldCount = 0;
    const auto columns = FieldsOfColumns(catalogue_->View(), fieldCount);
    model_ = new TFaxGridModel(catalogue_->View(), columns, fieldCount, this);
    grid_.setModel(model_);
    // No column chosen: the catalogue's key order until a header is clicked.
    grid_.horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    grid_.setSortingEnabled(true);
    grid_.installEventFilter(this);
    connect(&grid_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            BitBtn5Click();
    });
    connect(&filter, &QLineEdit::textChanged, this, &TFaxBrowser::ApplyFilter);
    connect(&pages_, &QTabWidget::currentChanged, this, [this](int index) {
        if (catalogue_ && pages_.widget(index) == &sheet_)
            BrowseFaxesSheetShow();
    });
    // Faxes downloaded or imported while the page is showing appear at once.
    connect(&catalogue, &TFaxCatalogue::Changed, this, [this] {
        if (catalogue_ && pages_.currentWidget() == &sheet_)
            BrowseFaxesSheetShow();
    });
}

TFaxBrowser::~TFaxBrowser() = default;

void TFaxBrowser::SetFaxText(TFaxText* text)
{
    text_ = text;
    if (!text)
        return;
    // A fax read while a filter is typed may be one it looks for.
    connect(text, &TFaxText::TextAdded, this, [this] {
        if (!filter_.text().isEmpty())
            ApplyFilter();
    });
    ApplyFilter();
}

void TFaxBrowser::ApplyFilter()
{
    const QString text = filter_.text();
    model_->SetFilter(text, text_ && !text.isEmpty() ? text_->MatchingKeys(text) : QSet<QString>());
}

void TFaxBrowser::WriteGridRow(int row)
{
    grid_.setColumnWidth(TFaxGridModel::kStatusColumn, 40);
    const TFaxGridModel::TCells cells = {catalogue_->edtStatus->text(), catalogue_->edtFilename->text(),
                                         catalogue_->edtSenderID->text(), catalogue_->edtFaxDate->text(),
                                         catalogue_->edteMailDate->text()};
    if (row == 0)
        model_->SetHeaderTexts(cells);
    else
        model_->SetRecordCells(row - 1, cells);
}

void TFaxBrowser::SetPanelToHeaderTexts()
{
    catalogue_->edtFilename->setText(QStringLiteral("Filename"));
    catalogue_->edtSenderID->setText(QStringLiteral("Sender ID"));
    catalogue_->edtFaxDate->setText(QStringLiteral("Fax Date"));
    catalogue_->edteMailDate->setText(QStringLiteral("eMail Date"));
    catalogue_->edtStatus->setText(QStringLiteral("Status"));
}

void TFaxBrowser::BrowseFaxesSheetShow() { ShowSheet(false); }

void TFaxBrowser::ShowSheet(bool keepReadRows)
{
    const int selected = grid_.currentIndex().isValid() ? grid_.currentIndex().row() : -1;
    SetPanelToHeaderTexts();
    WriteGridRow(0);
    FillRows(keepReadRows);
    // A row stays selected (the first when none was), so that View and
    // Remove have a fax to act on.
    SelectRow(std::min(std::max(selected, 0), model_->rowCount() - 1));
}

void TFaxBrowser::FillGrid() { FillRows(false); }

// The rows are served from the catalogue as they come into sight; the
// records the panel passes through (the first and the last) are taken from
// the panel so that they are not read twice.
void TFaxBrowser::FillRows(bool keepReadRows)
{
    qdb::TQDBView& view = catalogue_->View();
    if (!view.Ready()) {
        model_->Clear();
        return;
    }
    bool firstRead = true;
    try {
        view.First();
    } catch (const std::exception&) {
        firstRead = false; // a damaged first record; its row is named by its key
    }
    if (databaseEmpty_ || view.Count() == 0) {
        model_->Clear();
        return;
    }
    model_->Reload(keepReadRows);
    if (firstRead)
        WriteGridRow(1);
    // The panel ends on the last record, as after a walk through them all.
    if (view.Count() > 1) {
        try {
            view.Last();
            WriteGridRow(view.Count());
        } catch (const std::exception&) {
        }
    }
}

QString TFaxBrowser::SelectedName() const
{
    const QModelIndexList rows = grid_.selectionModel() ? grid_.selectionModel()->selectedRows() : QModelIndexList();
    const int row = !rows.isEmpty() ? rows.first().row() : -1;
    return model_->Cell(row, TFaxGridModel::kFilenameColumn);
}

void TFaxBrowser::SelectRow(int row)
{
    if (row < 0)
        return;
    grid_.selectRow(row);
    grid_.setCurrentIndex(model_->index(row, TFaxGridModel::kFilenameColumn));
}

// View and Remove post and flush, and their boxes and flushes let events
// run: another View, Remove, import or download must not change the index
// meanwhile, nor may they start while one of those is writing.
bool TFaxBrowser::CannotActOn(const QString& name)
{
    if (name.isEmpty())
        return true;
    if (!catalogue_->Busy())
        return false;
    ShowMessageBox(TMessageKind::Information,
                   QStringLiteral("The fax ") + name
                       + QStringLiteral(" cannot be viewed or removed now: the catalogue is busy with an import, a "
                                        "download or another View or Remove. Try again when it has finished."));
    return true;
}

void TFaxBrowser::BitBtn5Click()
{
    const QString name = SelectedName();
    if (CannotActOn(name))
        return;
    const TFaxCatalogue::TBusyScope busy(*catalogue_);
    const QString path = FaxFileOfKey(name);
    if (path.isEmpty()) {
        ShowMessageBox(TMessageKind::Error, QStringLiteral("The fax ") + name
                                                + QStringLiteral(" cannot be opened: its name in the catalogue "
                                                                 "names no file in faxes/."));
        return;
    }
    qdb::TQDBView& view = catalogue_->View();
    try {
        const TFaxCatalogue::TChangeScope change(*catalogue_);
        if (view.Ready() && view.FindKey(Key(name))) {
            view.Refresh();
            view.Edit();
            catalogue_->edtStatus->setText(QStringLiteral("Viewed"));
            view.Post();
            view.Flush();
            // Only this record changed: its row is rewritten, the others stay.
            WriteGridRow(view.ItemIndex() + 1);
            view.Last();
            WriteGridRow(view.Count());
        }
    } catch (const std::exception& e) {
        if (view.Editing())
            view.DoCancel();
        ShowMessageBox(TMessageKind::Error, QStringLiteral("The fax ") + name
                                                + QStringLiteral(" could not be marked as viewed: ")
                                                + QString::fromLocal8Bit(e.what()));
    }
    OpenInViewer(path);
}

void TFaxBrowser::OpenInViewer(const QString& path)
{
    if (!ViewForm)
        return;
    auto* viewer = static_cast<TViewForm*>(ViewForm);
    viewer->OpenFax(path);
    // A fax found by its text shows where the words are.
    const QModelIndexList rows = grid_.selectionModel() ? grid_.selectionModel()->selectedRows() : QModelIndexList();
    if (text_ && !rows.isEmpty() && model_->FoundInText(rows.first().row()))
        viewer->SetTextMatches(text_, SelectedName(), SearchWords(filter_.text()));
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

void TFaxBrowser::BitBtn4Click()
{
    const QString name = SelectedName();
    if (CannotActOn(name))
        return;
    const TFaxCatalogue::TBusyScope busy(*catalogue_);
    qdb::TQDBView& view = catalogue_->View();
    if (!view.Ready() || !view.FindKey(Key(name))) {
        ShowMessageBox(TMessageKind::Information,
                       QStringLiteral("Could not delete ") + name + QStringLiteral(": Item not available."));
        return;
    }
    const TMessageAnswer answer = ShowMessageBox(
        TMessageKind::Warning, QStringLiteral("You are about to delete the selected fax ") + name
                                   + QStringLiteral(".\nDo you wish to continue deletion?"));
    if (answer != TMessageAnswer::Yes)
        return;
    // A key that names no plain file in faxes/ loses its record only: no
    // path outside faxes/ is ever deleted on a catalogue's word.
    const QString path = FaxFileOfKey(name);
    try {
        const TFaxCatalogue::TChangeScope change(*catalogue_);
        if (!path.isEmpty() && !RemoveFaxFile(name, path))
            return;
        // The box let other events run: the record is looked up again.
        if (view.FindKey(Key(name))) {
            const int32_t record = view.ItemIndex();
            view.Delete();
            model_->RecordRemoved(record);
            if (text_)
                text_->FaxRemoved(name);
        }
        ShowSheet(true);
        // A crash later must not bring back a record whose file is gone.
        view.Flush();
    } catch (const std::exception& e) {
        ShowMessageBox(TMessageKind::Error, QStringLiteral("Could not delete ") + name + QStringLiteral(": ")
                                                + QString::fromLocal8Bit(e.what()));
        BrowseFaxesSheetShow();
        return;
    }
    if (path.isEmpty())
        ShowMessageBox(TMessageKind::Information,
                       QStringLiteral("The record ") + name
                           + QStringLiteral(" was removed. Its name names no file in faxes/, so no file was "
                                            "deleted."));
}

// A file already gone counts as removed, so that its record can go too; a
// file that stays is reported and its record kept.
bool TFaxBrowser::RemoveFaxFile(const QString& name, const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir()) {
        ShowMessageBox(TMessageKind::Error,
                       QStringLiteral("Could not delete ") + name + QStringLiteral(": it is a folder"));
        return false;
    }
    QFile file(path);
    if (file.remove())
        return true;
    ShowMessageBox(TMessageKind::Error,
                   QStringLiteral("Could not delete ") + name + QStringLiteral(": ") + file.errorString());
    return false;
}

bool TFaxBrowser::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &grid_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            BitBtn5Click();
            return true;
        }
        if (key == Qt::Key_Delete) {
            BitBtn4Click();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
